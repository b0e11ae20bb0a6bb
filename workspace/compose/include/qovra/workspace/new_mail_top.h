// TframeNewMailTop: the header frame of every compose window: the tool
// bar, the recipients field with completion from the address book, the
// recipient picker link, the subject, the sending mode, the priority, the
// two report buttons and the administrative-use box.
//
// The choices live only here while a window is open: PriorityTag() (0 low,
// 1 normal, 2 high), SendingModeTag() (0 secure, 1 fast), the checked state
// of btnReceiveReport and btnReadReport and of chkFAU.
//
// The host window moves lbContacts onto itself (PlaceContactsList) so that
// the list can hang below the frame.
//
// GUI thread only.
#pragma once

#include <QFrame>
#include <QString>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QToolBar;
class QToolButton;

class TframeNewMailTop : public QFrame {
  Q_OBJECT

 public:
  explicit TframeNewMailTop(QWidget* parent = nullptr);

  int PriorityTag() const { return priority_tag_; }
  int SendingModeTag() const { return sending_mode_tag_; }

  // Puts lbContacts on host, under eTo: eTo's width, three rows high.
  void PlaceContactsList(QWidget* host);

  // Completion.
  void eToChange();
  void lbContactsClick();
  // Enter, Escape, Up and Down; true when the key was consumed.
  bool eToKeyDown(int key);
  void eToExit();
  void eToMouseWheel(bool down);
  void lbContactsMouseMove(const QPoint& pos);
  // Looks suggestions up for fragment; true when at least one was added.
  bool FillContactSuggestions(const QString& fragment);

  // The recipient picker on the To text.
  void wlToClick();

  // Priority and sending mode: the pop-ups under their buttons and the
  // choice of an item (one of the menus' actions).
  void btnPriorityClick();
  void mnuLowPriorityClick(QAction* item);
  void btnSendingModeClick();
  void mnuFastModeClick(QAction* item);

  // Loads the glyphs of the menus and report buttons.
  void LoadGlyphs();

  QToolBar* tbNewMail;
  QToolButton* btnSend = nullptr;
  QToolButton* btnSaveToDrafts = nullptr;
  QWidget* pnlTop;
  QPushButton* wlTo;
  QLineEdit* eTo;
  QListWidget* lbContacts;
  QLabel* lblSubject;
  QLineEdit* eSubject;
  QToolButton* btnSendingMode;
  QToolButton* btnReceiveReport;
  QToolButton* btnReadReport;
  QToolButton* btnPriority;
  QCheckBox* chkFAU;
  QMenu* pmPriority;
  QMenu* pmSendingMode;
  QAction* mnuHighPriority;
  QAction* mnuNormalPriority;
  QAction* mnuLowPriority;
  QAction* mnuSecureMode;
  QAction* mnuFastMode;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowContacts(bool show);
  void PopUnder(QToolButton* button, QMenu* menu);

  int priority_tag_ = 1;
  int sending_mode_tag_ = 0;
};
