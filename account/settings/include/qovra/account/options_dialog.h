// TfrmOptions, the settings dialog: a list of up to five pages (connection,
// keys, interface, folders, mail; options_pages.h) beside the page shown.
//
// It edits OptionsCopy, a copy of Options taken when the dialog is built;
// OK copies the pages into it, applies what must change at once (the
// receive timer, a moved mail folder with its databases,
// mail_folder_move.h), makes it the new Options and clears HandshakeDone.
// Saving the settings file is the caller's task. Results: kOptionsApplied,
// kOptionsExistingData (the mail folder switched to data that was there),
// kOptionsCancelled (Cancel, Escape; nothing changes). A Cancel at the
// mail-folder question keeps the dialog open on the folders page.
//
// GUI thread only. Built per use by the caller, shown modally, freed by it.
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

#include "base/records.h"

class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

class TOptionsPage;

namespace qovra::account {

// Bit n shows page n; read when a dialog is built. Callers set it before
// and put kAllOptionPages back afterwards.
constexpr uint16_t kAllOptionPages = 0xFFFF;
extern uint16_t OptionsPageMask;
// The working copy of the dialog being shown.
extern TOptions OptionsCopy;

// The page numbers.
enum TOptionPage { kPageConnection = 0, kPageKeys, kPageInterface, kPageFolders, kPageMail };

}  // namespace qovra::account

class TfrmOptions : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kItemHeight = 65;

  // FormCreate: copies Options, builds the pages of OptionsPageMask and
  // selects the first.
  explicit TfrmOptions(QWidget* owner = nullptr);
  ~TfrmOptions() override;

  // Fills every page from OptionsCopy / copies every page into it.
  void LoadPages();
  void SavePages();

  // The page of number page (TOptionPage), or null when it is not shown.
  TOptionsPage* FindPage(int page) const;
  // The pages in list order.
  const std::vector<TOptionsPage*>& Pages() const { return pages_; }
  // The list index of the visible page; -1 before the first.
  int CurrentPage() const { return current_page_; }

  void lbMenuClick();
  void btnOKClick();

  QListWidget* lbMenu = nullptr;
  QWidget* pMain = nullptr;
  QLabel* lblTitle = nullptr;
  QLabel* tabConnection = nullptr;
  QLabel* tabKeys = nullptr;
  QLabel* tabInterface = nullptr;
  QLabel* tabFolders = nullptr;
  QLabel* tabMail = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

 public slots:
  // Cancel, Escape and the close button end the dialog with kOptionsCancelled.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildLayout();
  void CreatePage(int page);
  // Shows the list item of page and focuses widget in it, text selected.
  void FocusOnPage(int page, QWidget* widget);

  std::vector<TOptionsPage*> pages_;
  int current_page_ = -1;
  bool loaded_ = false;
};
