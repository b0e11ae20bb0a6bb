// TfrmAddrBook: the contacts book. One tree of every group and contact
// (four columns), edited through the contact and group dialogs laid over
// the edited row; drag and drop moves contacts and groups; search, delete,
// copy, export and import of contacts files, the server directory, and a
// new mail to the selection (through OnNewMail, which the main window
// installs: kind 0 text, 1 voice; recipients "Name <address>, ...").
//
// Every change goes to the database at once; the window keeps nothing
// after it closes. GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

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
  std::function<int(QDialog& dialog)> RunDialog;
  // Answers the file dialogs (tests); by default the system's dialogs.
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

  QTreeView* vstAddrBook;
  QToolBar* pnlToolBar;
  QWidget* pnlSearch;
  qovra::ui::TframeSearchEdit* frameSearchEdit1;
  QMenuBar* MainMenu1;
  QMenu* pmContacts;
  QAction* acContactNew;
  QAction* acContactsNewGroup;
  QAction* acContactDelete;
  QAction* acContactEdit;
  QAction* acContactFind;
  QAction* acContactsExport;
  QAction* acContactsImport;
  QAction* acContactsImportFromWeb;
  QAction* acContactComposeMail;
  QAction* acContactComposeMailVoice;
  QAction* acClose;
  QAction* mnuCopyToClipboard;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildActions();
  void BuildMenus();
  qovra::TContactNode* FirstSelected() const;
  qovra::TContactNode* CurrentGroup() const;
  qovra::TContactNode* FindChildById(int32_t id, qovra::TContactNode* group) const;
  void RemoveRow(qovra::TContactNode* node, int column);
  void EditNode(qovra::TContactNode* node, int column);
  void EditContact(qovra::TContactNode* node, int column);
  void EditGroup(qovra::TContactNode* node);
  // Removes every row of contact id (a contact linked to several groups).
  void RemoveContactRows(int32_t id);
  bool KeyDown(QKeyEvent* key);
  void ContextPopup(const QPoint& pos);

  qovra::SqliteDb& db_;
  qovra::addressbook::TAddrBookModel* model_;
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
  qovra::TContactNode* last_hit_ = nullptr;
};
