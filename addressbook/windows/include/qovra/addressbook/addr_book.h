// TfrmAddrBook: the contacts book. One tree of every group and contact
// (four columns), edited through the contact and group dialogs laid over
// the edited row; drag and drop moves contacts and groups; search, delete,
// copy, export and import of contacts files, the server directory, and a
// new mail to the selection (through OnNewMail, which the main window
// installs: kind 0 text, 1 voice; recipients "Name <address>, ...").
//
// Every change goes to the database at once; the window keeps nothing
// after it closes. A change the database refuses is rolled back whole and
// reported (msgAddrBookDatabaseError) with the reason on stderr; the tree
// then shows what the database holds.
//
// The sources: addr_book.cpp (the window, its commands and keys),
// addr_book_rows.cpp (new rows, delete and the model updates),
// addr_book_edit.cpp (the edit dialogs over a row), addr_book_drag.cpp,
// addr_book_search.cpp and addr_book_files.cpp (contacts files and the
// server directory).
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QPersistentModelIndex>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/records.h"

class QAction;
class QMenu;
class QMenuBar;
class QToolBar;
class QTreeView;
class QWidget;

namespace qovra {
class SqliteDb;
struct TContactNode;
namespace ui {
class TframeSearchEdit;
class TImageList;
}  // namespace ui
namespace addressbook {
class TAddrBookModel;
}  // namespace addressbook
}  // namespace qovra

class TfrmAddrBook : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAddrBook(qovra::SqliteDb& db, QWidget* parent = nullptr);
  ~TfrmAddrBook() override;

  // TntFormShow without showing: repairs the book and loads the tree.
  void Prepare();

  std::function<void(int kind, const QString& recipients)> OnNewMail;
  // Runs an edit dialog (tests answer it); by default shows it modally.
  // The dialog is already laid over its row when it runs.
  std::function<int(QDialog& dialog)> RunDialog;
  // Answers the file dialogs (tests); by default the system's dialogs,
  // which start in the folder last chosen in one of them (the documents
  // folder the first time).
  std::function<QString(bool save)> AskFileName;

  void acContactNewExecute();
  void acContactsNewGroupExecute();
  void acContactEditExecute();
  void acContactDeleteExecute();
  void acContactFindExecute();
  void mnuCopyToClipboardClick();
  void acContactComposeMailExecute(int kind);
  void acContactsExportExecute();
  void acContactsImportExecute();
  void acContactsImportFromWebExecute();
  void ImportFromFile(const std::string& file_name);
  bool ExportTo(const std::string& file_name);
  // Drops the focused row onto target (a group); false when refused.
  bool CanDrop(const qovra::TContactNode* target) const;
  void DragDrop(qovra::TContactNode* target);
  // The search of eSearch's text (find_next: from after the last hit).
  void Search(bool find_next);
  // The recipients of the selection, deduplicated ("Name <address>, ...").
  QString SelectedRecipients() const;

  void FocusRow(qovra::TContactNode* node, int column);
  qovra::TContactNode* FocusedNode() const;

  qovra::addressbook::TAddrBookModel* Model() const { return model_; }

  QTreeView* vstAddrBook = nullptr;
  QToolBar* pnlToolBar = nullptr;
  QWidget* pnlSearch = nullptr;
  qovra::ui::TframeSearchEdit* frameSearchEdit1 = nullptr;
  QMenuBar* MainMenu1 = nullptr;
  QMenu* pmContacts = nullptr;
  QAction* acContactNew = nullptr;
  QAction* acContactsNewGroup = nullptr;
  QAction* acContactDelete = nullptr;
  QAction* acContactEdit = nullptr;
  QAction* acContactFind = nullptr;
  QAction* acContactsExport = nullptr;
  QAction* acContactsImport = nullptr;
  QAction* acContactsImportFromWeb = nullptr;
  QAction* acContactComposeMail = nullptr;
  QAction* acContactComposeMailVoice = nullptr;
  QAction* acClose = nullptr;
  QAction* mnuCopyToClipboard = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildActions();
  void BuildMenus();
  void BuildTree();
  void ConnectSearchKeys();
  QString ChooseFile(bool save);
  qovra::TContactNode* FirstSelected() const;
  qovra::TContactNode* CurrentGroup() const;
  qovra::TContactNode* FindChildById(int32_t id, qovra::TContactNode* group) const;
  void AddRowAndEdit(bool is_group);
  void RemoveRow(qovra::TContactNode* node, int column);
  void EditNode(qovra::TContactNode* node, int column);
  void EditContact(qovra::TContactNode* node, int column);
  void EditGroup(qovra::TContactNode* node);
  // Lays dialog over node's row: its fields over the cells of the given
  // columns, in the tree's unfocused-selection colour.
  void LayDialogOverRow(QDialog& dialog, const qovra::TContactNode* node, int columns);
  // Every row of contact id (a contact linked to several groups).
  std::vector<qovra::TContactNode*> ContactRows(int32_t id) const;
  void RemoveContactRows(int32_t id);
  // Reloads the whole tree from the database, expanded, focusing the root.
  // False when a query failed (the tree is then incomplete).
  [[nodiscard]] bool ReloadAll();
  // Expands node and the groups below it, at most kExpandDepth levels.
  void ExpandBelow(const qovra::TContactNode* node);
  // A statement failed: the reason to stderr, msgAddrBookDatabaseError to
  // the user.
  void ShowDatabaseError();
  bool KeyDown(QKeyEvent* key);
  bool SearchKeyDown(QKeyEvent* key);
  void ContextPopup(const QPoint& pos);

  qovra::SqliteDb& db_;
  qovra::addressbook::TAddrBookModel* model_ = nullptr;
  std::unique_ptr<qovra::ui::TImageList> images16_;
  std::unique_ptr<qovra::ui::TImageList> images32_;
  std::unique_ptr<qovra::ui::TImageList> disabled32_;
  // Every row's lower-cased name and address, kept up to date with the
  // model's changes, so that a search step makes no text.
  struct TSearchKey {
    QString name;
    QString email;
  };
  void KeySubtree(const qovra::TContactNode* node, bool add);
  std::unordered_map<const qovra::TContactNode*, TSearchKey> search_keys_;
  bool find_next_ = false;
  // The last search hit (column 0); forgotten whenever rows go or the tree
  // is reloaded, so it never outlives its row. Invalid: the first row.
  QPersistentModelIndex last_hit_;
};
