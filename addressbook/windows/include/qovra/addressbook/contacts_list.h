// TfrmContactsList: the recipient picker, a tree of all groups and contacts
// of the address book with a check box on every row.
//
// Two uses:
//  - Execute (the compose window's To link): the book's tree with the
//    contacts named in the To text checked; OK hands back the checked
//    contacts as ResultText ("Name <address>" joined by ", ") and
//    ResultAddresses (addresses joined by ","), each address once.
//  - The unknown recipients of a sent mail: the caller puts one checked row
//    per recipient with AddUnknownRecipient, shows the window with
//    ExecuteUnknownRecipients and reads CheckedContacts back.
// Results: 1 OK (also Enter), 2 Cancel (also Escape); the results stay
// empty on Cancel.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "base/records.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeView;

namespace qovra {
class SqliteDb;
namespace ui {
class TframeSearchEdit;
class TImageList;
}  // namespace ui
namespace addressbook {
class TContactTreeModel;
}
}  // namespace qovra

class TfrmContactsList : public QDialog {
  Q_OBJECT

 public:
  // FormCreate: the logo, the language, the two small images. db is the
  // book that Execute shows (it must outlive the window).
  explicit TfrmContactsList(qovra::SqliteDb& db, QWidget* parent = nullptr);
  ~TfrmContactsList() override;

  // Repairs the book, loads the tree (root, every group, every contact;
  // all expanded), checks the contacts named in to_text and shows the
  // window modally. show_groups is not used by the window.
  int Execute(const QString& to_text, bool show_groups);
  // Every step of Execute except showing the window.
  void Prepare(const QString& to_text);

  // Unknown-recipients use: a checked top-level row carrying contact.
  void AddUnknownRecipient(const qovra::TContact& contact);
  // Shows lblMessage above the tree and the window modally.
  int ExecuteUnknownRecipients();
  // The checked contacts in tree order.
  std::vector<qovra::TContact> CheckedContacts() const;

  // OK: collects the checked contacts into the results.
  void CollectChecked();
  // Search: selects the first row whose text contains the search text.
  void frameSearchEditFieldeSearchChange();

  qovra::addressbook::TContactTreeModel* Model() const { return model_; }
  bool UnknownRecipientsMode() const { return unknown_mode_; }

  QString ResultText;
  std::string ResultAddresses;

  QTreeView* lvContacts;
  qovra::ui::TframeSearchEdit* frameSearchEditField;
  QLabel* lblMessage;
  QLabel* imgLogo;
  QPushButton* btnOK;
  QPushButton* btnCancel;
  QCheckBox* chkShowGroups;

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayoutControls();
  void CentreOnDesktop();
  void SelectNode(const QModelIndex& index);

  qovra::SqliteDb& db_;
  qovra::addressbook::TContactTreeModel* model_ = nullptr;
  std::unique_ptr<qovra::ui::TImageList> images_;
  bool unknown_mode_ = false;
  // The tree's top edge: below the search line or below the message.
  int tree_top_ = 0;
};
