// TCustomEditEx and TEditEx: a one-line or multi-line edit with a set of
// acceptable characters, balloon-tip refusals, a placeholder, alignment,
// border styles and a numbers-only mode.
//
// Every way text can enter the field from outside goes through one filter:
// typing, Ctrl+V and Shift+Insert, the context menu's Paste, the middle-click
// paste of the primary selection, drag and drop, and input-method commits.
// Refused typing (and input-method text) shows the typing-error balloon,
// refused pastes and drops the paste-error balloon; the refused text is
// dropped whole and the field keeps its text. Text set by the program
// (setText, insert) is not filtered.
//
// In multi-line mode an inner plain-text editor with a vertical scroll bar
// covers the field and takes its focus; text(), setText() and textChanged()
// stay the field's own and hold the editor's text, lines joined by "\n". The
// same filter and balloons apply to every route into the editor.
#pragma once

#include <QLineEdit>
#include <cstdint>

#include "qovra/controls/char_set.h"

class QMenu;
class QPlainTextEdit;

namespace qovra::ui {

enum class TEditTextAlignment { etaLeft, etaRight, etaCenter };
enum class TEditBorderStyle { ebsNone, ebsBorder, ebsClientEdge, ebsStaticEdge };

class TCustomEditEx : public QLineEdit {
  Q_OBJECT

 public:
  explicit TCustomEditEx(QWidget* parent = nullptr);
  ~TCustomEditEx() override;

  TEditTextAlignment TextAlignment() const { return text_alignment_; }
  void SetTextAlignment(TEditTextAlignment alignment);

  // ebsClientEdge (the default) is the style's sunken frame; ebsBorder a thin
  // line in the text colour; ebsStaticEdge a one-pixel sunken edge.
  TEditBorderStyle EditBorderStyle() const { return border_style_; }
  void SetEditBorderStyle(TEditBorderStyle style);

  // Digits only. Setting it true also sets the text to "0".
  bool NumbersOnly() const { return numbers_only_; }
  void SetNumbersOnly(bool numbers_only);

  // Multi-line with a vertical scroll bar; switchable at any time, the text
  // is kept.
  bool Multiline() const { return multi_ != nullptr; }
  void SetMultiline(bool multiline);
  // The multi-line editor, or nullptr in one-line mode.
  QPlainTextEdit* MultilineEditor() const { return multi_; }

  // Grey hint shown while the field is empty, also while it has the focus.
  QString PlaceHolder() const { return placeholderText(); }
  void SetPlaceHolder(const QString& text);

  const TCharSet& AcceptableChars() const { return acceptable_; }

  // Shows the program's balloon tip on this field; icon 0 none, 1 information,
  // 2 warning, 3 error (other values show no icon).
  void ShowBalloonTip(const QString& title, const QString& text, uint8_t icon);

  // The four refusal texts. A new text replaces the old one only when the two
  // differ other than in letter case.
  void SetPasteErrorTitle(const QString& text);
  void SetPasteErrorText(const QString& text);
  void SetCharErrorTitle(const QString& text);
  void SetCharErrorText(const QString& text);
  const QString& PasteErrorTitle() const { return paste_error_title_; }
  const QString& PasteErrorText() const { return paste_error_text_; }
  const QString& CharErrorTitle() const { return char_error_title_; }
  const QString& CharErrorText() const { return char_error_text_; }

  // The standard edit menu whose Paste (object name "edit-paste") runs the
  // filtered paste. The caller owns the menu.
  QMenu* CreateContextMenu();

 public slots:
  // The filtered paste of the clipboard; hides QLineEdit::paste, which a call
  // through a QLineEdit pointer would still reach unfiltered.
  void paste();

 protected:
  // When `set` differs from the current set, the new set is `set` together
  // with every control code except Tab.
  void SetAcceptableChars(const TCharSet& set);

  // Text that a paste or a drop brings in, before the filter sees it.
  virtual QString AdjustPastedText(const QString& text) const { return text; }
  // Room kept free at the right edge, inside the frame (for a button).
  virtual int ExtraRightMargin() const { return 0; }
  // Recomputes the text margins from the border style and ExtraRightMargin(),
  // then calls MarginsChanged().
  void UpdateTextMargins();
  virtual void MarginsChanged() {}
  // The width of the frame that the border style draws, in pixels per side.
  int BorderWidth() const;

  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Filters the multi-line editor and its viewport.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool AcceptsText(const QString& text) const;
  // Runs a paste-like insertion: adjusts, filters, inserts or refuses.
  bool InsertPasted(const QString& raw);
  // Inserts at the cursor of whichever editor is in use.
  void InsertText(const QString& text);
  void LayoutMultiline();
  void AlignMultiline();
  bool FilterKey(QKeyEvent* event);
  bool FilterMultilineInput(QInputMethodEvent* event);
  bool FilterMultilineDrop(QDropEvent* event);
  bool MiddleClickPaste(QPoint pos);
  void ShowCharError();
  void ShowPasteError();

  TCharSet acceptable_;
  TEditTextAlignment text_alignment_ = TEditTextAlignment::etaLeft;
  TEditBorderStyle border_style_ = TEditBorderStyle::ebsClientEdge;
  bool numbers_only_ = false;
  QPlainTextEdit* multi_ = nullptr;
  QString paste_error_title_;
  QString paste_error_text_;
  QString char_error_title_;
  QString char_error_text_;
};

class TEditEx : public TCustomEditEx {
  Q_OBJECT

 public:
  using TCustomEditEx::SetAcceptableChars;
  using TCustomEditEx::TCustomEditEx;
};

}  // namespace qovra::ui
