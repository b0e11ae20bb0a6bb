#include "qovra/addressbook/addr_book.h"

#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <unordered_set>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/utf.h"
#include "net/id_http_client.h"
#include "net/ie_http_client.h"
#include "platform/temp_files.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contact_dialogs.h"
#include "qovra/addressbook/contacts_file.h"
#include "qovra/addressbook/recipients.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"
#include "seam/ui_seam.h"

using qovra::TContact;
using qovra::TContactNode;
using qovra::addressbook::TAddrBookModel;

namespace qovra::addressbook {

// The tree: drops always move, and only onto a group that takes the row.
class TAddrBookTree : public QTreeView {
 public:
  TAddrBookTree(TfrmAddrBook* form, QWidget* parent) : QTreeView(parent), form_(form) {}

 protected:
  TContactNode* Target(const QPoint& pos) const {
    auto* model = static_cast<TAddrBookModel*>(this->model());
    return model->NodeOf(indexAt(pos));
  }
  bool Accepts(QDropEvent* event) {
    if (!event->mimeData()->hasFormat(QString::fromLatin1(kAddrBookMime))) return false;
    if (dropIndicatorPosition() != QAbstractItemView::OnItem) return false;
    return form_->CanDrop(Target(event->position().toPoint()));
  }
  void dragMoveEvent(QDragMoveEvent* event) override {
    QTreeView::dragMoveEvent(event);
    if (Accepts(event)) {
      event->setDropAction(Qt::MoveAction);
      event->accept();
    } else {
      event->ignore();
    }
  }
  void dropEvent(QDropEvent* event) override {
    // The indicator position of the last move event is the one to judge.
    if (!Accepts(event)) {
      event->ignore();
      stopAutoScroll();
      setState(NoState);
      viewport()->update();
      return;
    }
    TContactNode* target = Target(event->position().toPoint());
    // The model is changed here, not by the view after the drag.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    setState(NoState);
    form_->DragDrop(target);
    viewport()->update();
  }

 private:
  TfrmAddrBook* form_;
};

}  // namespace qovra::addressbook

namespace {

constexpr int kColumns = 4;
constexpr int kWidths[kColumns] = {250, 150, 120, 120};

QString Msg(const char* key) {
  return QString::fromUtf8(qovra::GetMsg(key));
}

bool IsRoot(const TContactNode* node) {
  return node && node->Parent && !node->Parent->Parent;
}

// The trimmed text split at blanks: last name, first name, the rest.
void ParseFullName(const QString& text, TContact& c) {
  const QString t = text.trimmed();
  const int a = t.indexOf(QLatin1Char(' '));
  if (a < 0) {
    c.LastName = t.toStdU16String();
    return;
  }
  c.LastName = t.left(a).toStdU16String();
  const QString rest = t.mid(a + 1).trimmed();
  const int b = rest.indexOf(QLatin1Char(' '));
  if (b < 0) {
    c.FirstName = rest.toStdU16String();
    return;
  }
  c.FirstName = rest.left(b).toStdU16String();
  c.MiddleName = rest.mid(b + 1).trimmed().toStdU16String();
}

}  // namespace

TfrmAddrBook::TfrmAddrBook(qovra::SqliteDb& db, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      db_(db),
      model_(new TAddrBookModel(this)),
      images16_(std::make_unique<qovra::ui::TImageList>()),
      images32_(std::make_unique<qovra::ui::TImageList>()),
      disabled32_(std::make_unique<qovra::ui::TImageList>()) {
  setObjectName(QStringLiteral("frmAddrBook"));
  using qovra::ui::AddPngResourceToImageList;
  for (const char* name : {"ico_vcard_add32", "ico_vcard_addgroup32", "ico_vcard_delete32",
                           "ico_vcard_edit32", "ico_vcard_find32"}) {
    (void)AddPngResourceToImageList(*images32_, QString::fromLatin1(name), qovra::ui::kPngPlain);
    (void)AddPngResourceToImageList(*disabled32_, QString::fromLatin1(name),
                                    qovra::ui::kPngGreyFaded);
  }
  (void)AddPngResourceToImageList(*images16_, QStringLiteral("ico_user16"), qovra::ui::kPngPlain);
  (void)AddPngResourceToImageList(*images16_, QStringLiteral("ico_user_group16"),
                                  qovra::ui::kPngPlain);
  model_->SetImages(images16_.get());

  RunDialog = [](QDialog& dialog) { return dialog.exec(); };
  AskFileName = [this](bool save) {
    const QString filter = Msg("msgContactsFileFilter");
    QFileDialog dialog(this);
    dialog.setObjectName(save ? QStringLiteral("saveDlg") : QStringLiteral("openDlg"));
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(QStringLiteral("ecx"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The overwrite question is the window's own.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().front();
  };

  BuildActions();
  vstAddrBook = new qovra::addressbook::TAddrBookTree(this, this);
  vstAddrBook->setObjectName(QStringLiteral("vstAddrBook"));
  vstAddrBook->setModel(model_);
  vstAddrBook->setUniformRowHeights(true);
  vstAddrBook->setSelectionMode(QAbstractItemView::ExtendedSelection);
  vstAddrBook->setSelectionBehavior(QAbstractItemView::SelectRows);
  vstAddrBook->setEditTriggers(QAbstractItemView::NoEditTriggers);
  vstAddrBook->setDragEnabled(true);
  vstAddrBook->setAcceptDrops(true);
  vstAddrBook->setDropIndicatorShown(true);
  vstAddrBook->setDragDropMode(QAbstractItemView::DragDrop);
  vstAddrBook->setDefaultDropAction(Qt::MoveAction);
  vstAddrBook->setAutoExpandDelay(700);
  vstAddrBook->setContextMenuPolicy(Qt::CustomContextMenu);
  vstAddrBook->setIconSize(QSize(16, 16));
  vstAddrBook->setStyleSheet(QStringLiteral("QTreeView::item { height: 20px; }"));
  vstAddrBook->header()->setSectionsClickable(true);
  vstAddrBook->header()->setSortIndicatorShown(true);
  vstAddrBook->header()->setSortIndicator(0, Qt::AscendingOrder);
  vstAddrBook->header()->setStretchLastSection(false);
  for (int i = 0; i < kColumns; ++i) vstAddrBook->header()->resizeSection(i, kWidths[i]);
  // The focused row stays highlighted while the tree has no focus.
  QPalette pal = vstAddrBook->palette();
  pal.setColor(QPalette::Inactive, QPalette::Highlight,
               pal.color(QPalette::Active, QPalette::Highlight).lighter(150));
  pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
               pal.color(QPalette::Active, QPalette::HighlightedText));
  vstAddrBook->setPalette(pal);
  vstAddrBook->installEventFilter(this);
  vstAddrBook->addActions({acContactDelete, mnuCopyToClipboard});

  pnlToolBar = new QToolBar(this);
  pnlToolBar->setObjectName(QStringLiteral("pnlToolBar"));
  pnlToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  pnlToolBar->setIconSize(QSize(32, 32));
  auto add = [this](QAction* action, const char* name) {
    pnlToolBar->addAction(action);
    if (QWidget* w = pnlToolBar->widgetForAction(action)) {
      w->setObjectName(QString::fromLatin1(name));
      w->setMinimumSize(62, 50);
    }
  };
  add(acContactNew, "btnNewContact");
  add(acContactsNewGroup, "btnNewGroup");
  pnlToolBar->addSeparator();
  add(acContactEdit, "btnProperties");
  add(acContactDelete, "btnDelete");
  pnlToolBar->addSeparator();
  add(acContactFind, "btnFind");

  pnlSearch = new QWidget(this);
  pnlSearch->setObjectName(QStringLiteral("pnlSearch"));
  frameSearchEdit1 = new qovra::ui::TframeSearchEdit(pnlSearch);
  frameSearchEdit1->setObjectName(QStringLiteral("frameSearchEdit1"));
  auto* search_row = new QHBoxLayout(pnlSearch);
  search_row->setContentsMargins(6, 4, 6, 4);
  search_row->addWidget(frameSearchEdit1);
  search_row->addStretch(1);
  pnlSearch->hide();
  frameSearchEdit1->eSearch()->installEventFilter(this);

  BuildMenus();
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->setMenuBar(MainMenu1);
  column->addWidget(pnlToolBar);
  column->addWidget(pnlSearch);
  column->addWidget(vstAddrBook, 1);

  connect(vstAddrBook->header(), &QHeaderView::sectionClicked, this, [this](int section) {
    const Qt::SortOrder order =
        section == model_->SortColumn() && model_->SortOrder() == Qt::AscendingOrder
            ? Qt::DescendingOrder
            : Qt::AscendingOrder;
    vstAddrBook->header()->setSortIndicator(section, order);
    model_->SortAll(section, order);
  });
  connect(vstAddrBook->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            // A group keeps its focus in the name column.
            const TContactNode* node = model_->NodeOf(current);
            if (node && node->IsGroup && current.column() != 0)
              vstAddrBook->selectionModel()->setCurrentIndex(model_->IndexOf(node, 0),
                                                             QItemSelectionModel::NoUpdate);
          });
  // The search keys follow the model.
  const auto rows = [this](const QModelIndex& under, int first, int last, bool adding) {
    for (int r = first; r <= last; ++r)
      KeySubtree(model_->NodeOf(model_->index(r, 0, under)), adding);
  };
  connect(model_, &QAbstractItemModel::rowsInserted, this,
          [rows](const QModelIndex& p, int first, int last) { rows(p, first, last, true); });
  connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [rows](const QModelIndex& p, int first, int last) { rows(p, first, last, false); });
  connect(model_, &QAbstractItemModel::dataChanged, this,
          [rows](const QModelIndex& from, const QModelIndex& to) {
            rows(from.parent(), from.row(), to.row(), true);
          });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    search_keys_.clear();
    for (const auto& top : model_->Tree().Top().Children) KeySubtree(top.get(), true);
  });
  connect(vstAddrBook, &QWidget::customContextMenuRequested, this, &TfrmAddrBook::ContextPopup);
  connect(vstAddrBook, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& i) { EditNode(model_->NodeOf(i), i.column()); });
  connect(frameSearchEdit1->eSearch(), &QLineEdit::textChanged, this,
          [this] { Search(find_next_); });

  qovra::ui::ApplyLanguageToForm(this);
  resize(680, 480);
}

TfrmAddrBook::~TfrmAddrBook() = default;

void TfrmAddrBook::BuildActions() {
  auto make = [this](QAction*& action, const char* name, const char* caption,
                     const QKeySequence& key, int image) {
    action = new QAction(QString::fromUtf8(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    if (!key.isEmpty()) {
      action->setShortcut(key);
      action->setShortcutContext(Qt::WindowShortcut);
    }
    if (image >= 0) {
      QIcon icon;
      icon.addPixmap(images32_->Pixmap(image), QIcon::Normal);
      icon.addPixmap(disabled32_->Pixmap(image), QIcon::Disabled);
      action->setIcon(icon);
    }
    addAction(action);
  };
  make(acContactNew, "acContactNew", "New contact", QKeySequence(Qt::CTRL | Qt::Key_N), 0);
  make(acContactsNewGroup, "acContactsNewGroup", "New group",
       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), 1);
  make(acContactDelete, "acContactDelete", "Delete", QKeySequence(Qt::Key_Delete), 2);
  make(acContactEdit, "acContactEdit", "Properties", QKeySequence(Qt::Key_F2), 3);
  make(acContactFind, "acContactFind", "Find", QKeySequence(Qt::CTRL | Qt::Key_F), 4);
  acContactFind->setCheckable(true);
  make(acContactsExport, "acContactsExport", "Export...", QKeySequence(Qt::CTRL | Qt::Key_E), -1);
  make(acContactsImport, "acContactsImport", "Import...", QKeySequence(Qt::CTRL | Qt::Key_I), -1);
  make(acContactsImportFromWeb, "acContactsImportFromWeb", "Server directory", QKeySequence(), -1);
  make(acContactComposeMail, "acContactComposeMail", "Text mail", QKeySequence(), -1);
  make(acContactComposeMailVoice, "acContactComposeMailVoice", "Voice mail", QKeySequence(), -1);
  make(acClose, "acClose", "Close", QKeySequence(Qt::Key_Escape), -1);
  make(mnuCopyToClipboard, "mnuCopyToClipboard", "Copy", QKeySequence(Qt::CTRL | Qt::Key_C), -1);
  // Del and Ctrl+C belong to the search line while it has the focus.
  acContactDelete->setShortcutContext(Qt::WidgetShortcut);
  mnuCopyToClipboard->setShortcutContext(Qt::WidgetShortcut);

  connect(acContactNew, &QAction::triggered, this, &TfrmAddrBook::acContactNewExecute);
  connect(acContactsNewGroup, &QAction::triggered, this, &TfrmAddrBook::acContactsNewGroupExecute);
  connect(acContactEdit, &QAction::triggered, this, &TfrmAddrBook::acContactEditExecute);
  connect(acContactDelete, &QAction::triggered, this, &TfrmAddrBook::acContactDeleteExecute);
  connect(acContactFind, &QAction::triggered, this, &TfrmAddrBook::acContactFindExecute);
  connect(acContactsExport, &QAction::triggered, this, &TfrmAddrBook::acContactsExportExecute);
  connect(acContactsImport, &QAction::triggered, this, &TfrmAddrBook::acContactsImportExecute);
  connect(acContactsImportFromWeb, &QAction::triggered, this,
          &TfrmAddrBook::acContactsImportFromWebExecute);
  connect(acContactComposeMail, &QAction::triggered, this,
          [this] { acContactComposeMailExecute(0); });
  connect(acContactComposeMailVoice, &QAction::triggered, this,
          [this] { acContactComposeMailExecute(1); });
  connect(acClose, &QAction::triggered, this, &QDialog::reject);
  connect(mnuCopyToClipboard, &QAction::triggered, this, &TfrmAddrBook::mnuCopyToClipboardClick);
}

void TfrmAddrBook::BuildMenus() {
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  QMenu* contact = MainMenu1->addMenu(QStringLiteral("&Contact"));
  contact->setObjectName(QStringLiteral("mnuContact"));
  contact->addActions({acContactNew, acContactsNewGroup});
  contact->addSeparator();
  contact->addActions({acContactEdit, acContactDelete});
  contact->addSeparator();
  contact->addActions({acContactsExport, acContactsImport, acContactsImportFromWeb});
  contact->addSeparator();
  contact->addAction(acClose);
  QMenu* view = MainMenu1->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("mnuView"));
  QAction* toolbar = view->addAction(QStringLiteral("Toolbar"));
  toolbar->setObjectName(QStringLiteral("mnuShowHideToolBar"));
  toolbar->setCheckable(true);
  toolbar->setChecked(true);
  connect(toolbar, &QAction::toggled, this, [this](bool on) { pnlToolBar->setVisible(on); });

  pmContacts = new QMenu(this);
  pmContacts->setObjectName(QStringLiteral("pmContacts"));
  pmContacts->addActions({acContactNew, acContactsNewGroup});
  pmContacts->addSeparator();
  pmContacts->addActions({acContactEdit, acContactDelete});
  pmContacts->addSeparator();
  QMenu* compose = pmContacts->addMenu(QStringLiteral("New mail"));
  compose->setObjectName(QStringLiteral("mnuComposeMail"));
  compose->addActions({acContactComposeMail, acContactComposeMailVoice});
  pmContacts->addSeparator();
  pmContacts->addAction(mnuCopyToClipboard);
}

void TfrmAddrBook::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (parentWidget()) move(parentWidget()->geometry().center() - QPoint(width() / 2, height() / 2));
}

void TfrmAddrBook::Prepare() {
  (void)qovra::UpgradeContactsSchema(db_);
  const char* keys[kColumns] = {"msgGroupOrContactName", "msgContactEmail", "msgContactCompany",
                                "msgContactJobTitle"};
  for (int i = 0; i < kColumns; ++i) model_->setHeaderData(i, Qt::Horizontal, Msg(keys[i]));
  (void)model_->Reload(db_);
  vstAddrBook->expandAll();
  find_next_ = false;
  last_hit_ = model_->Tree().First();
  FocusRow(model_->Tree().First(), 0);
}

TContactNode* TfrmAddrBook::FocusedNode() const {
  return model_->NodeOf(vstAddrBook->currentIndex());
}

TContactNode* TfrmAddrBook::FirstSelected() const {
  const QModelIndexList rows = vstAddrBook->selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : model_->NodeOf(rows.front());
}

void TfrmAddrBook::FocusRow(TContactNode* node, int column) {
  if (!node) return;
  const QModelIndex index = model_->IndexOf(node, column);
  vstAddrBook->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  vstAddrBook->scrollTo(index);
}

TContactNode* TfrmAddrBook::CurrentGroup() const {
  TContactNode* node = FocusedNode();
  if (!node) node = FirstSelected();
  if (node && !node->IsGroup) node = node->Parent;
  return node && node->Parent ? node : nullptr;
}

TContactNode* TfrmAddrBook::FindChildById(int32_t id, TContactNode* group) const {
  if (!group) return nullptr;
  for (auto& child : group->Children)
    if (!child->IsGroup && child->Record.Id == id) return child.get();
  return nullptr;
}

void TfrmAddrBook::RemoveRow(TContactNode* node, int column) {
  TContactNode* before = node->Row > 0
                             ? node->Parent->Children[static_cast<size_t>(node->Row) - 1].get()
                             : (node->Parent->Parent ? node->Parent : nullptr);
  model_->RemoveRow(node);
  if (before) FocusRow(before, column);
}

void TfrmAddrBook::RemoveContactRows(int32_t id) {
  std::vector<TContactNode*> rows;
  for (TContactNode* n = model_->Tree().First(); n; n = qovra::TContactTree::Next(n))
    if (!n->IsGroup && n->Record.Id == id) rows.push_back(n);
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) model_->RemoveRow(*it);
}

void TfrmAddrBook::acContactNewExecute() {
  TContactNode* group = CurrentGroup();
  if (!group) return;
  TContact record;
  record.Id = -1;
  record.CompanyId = 0;
  record.JobTitleId = 0;
  record.IsContact = true;
  TContactNode* node = model_->AddRow(group, record, false);
  vstAddrBook->expand(model_->IndexOf(group));
  FocusRow(node, 0);
  EditNode(node, 0);
}

void TfrmAddrBook::acContactsNewGroupExecute() {
  TContactNode* group = CurrentGroup();
  if (!group) return;
  TContact record;
  record.Id = -1;
  record.CompanyId = group->Record.Id;
  record.IsContact = false;
  TContactNode* node = model_->AddRow(group, record, true);
  vstAddrBook->expand(model_->IndexOf(group));
  FocusRow(node, 0);
  EditNode(node, 0);
}

void TfrmAddrBook::acContactEditExecute() {
  TContactNode* node = FocusedNode();
  if (!node) node = FirstSelected();
  EditNode(node, std::max(0, vstAddrBook->currentIndex().column()));
}

void TfrmAddrBook::EditNode(TContactNode* node, int column) {
  if (!node || IsRoot(node)) return;
  if (node->IsGroup) {
    EditGroup(node);
  } else {
    EditContact(node, column);
  }
}

void TfrmAddrBook::EditContact(TContactNode* node, int column) {
  TfrmNewAddr dialog(db_, this);
  const int32_t parent_id = node->Parent->Parent ? node->Parent->Record.Id : 0;
  dialog.setWindowTitle(node->Record.Id <= 0 ? acContactNew->text().remove(QLatin1Char('&'))
                                             : Msg("msgEditContact"));
  dialog.imgAddr->setPixmap(images16_->Pixmap(0));
  dialog.eName->setText(TAddrBookModel::CellText(*node, 0));
  dialog.eEmail->setText(TAddrBookModel::CellText(*node, 1));
  dialog.cbCompany->setEditText(TAddrBookModel::CellText(*node, 2));
  dialog.cbJobtitle->setEditText(TAddrBookModel::CellText(*node, 3));
  // Over the row: the name field over the name column.
  const QRect row = vstAddrBook->visualRect(model_->IndexOf(node, 0));
  const QPoint at = vstAddrBook->viewport()->mapToGlobal(row.topLeft());
  dialog.move(at.x() - dialog.eName->x(), at.y() + row.height());
  QWidget* fields[kColumns] = {dialog.eName, dialog.eEmail, dialog.cbCompany, dialog.cbJobtitle};
  fields[std::clamp(column, 0, kColumns - 1)]->setFocus();
  const bool is_new = node->Record.Id == -1;
  const int result = RunDialog(dialog);
  if (result != 1) {
    if (is_new) RemoveRow(node, 0);
    return;
  }
  const QString texts[kColumns] = {dialog.eName->text(), dialog.eEmail->text(),
                                   dialog.cbCompany->currentText(),
                                   dialog.cbJobtitle->currentText()};
  if (is_new && std::all_of(std::begin(texts), std::end(texts),
                            [](const QString& t) { return t.trimmed().isEmpty(); })) {
    RemoveRow(node, 0);
    return;
  }
  TContact record;
  ParseFullName(texts[0], record);
  record.Email = texts[1].toStdString();
  record.Company = texts[2].toStdU16String();
  record.JobTitle = texts[3].toStdU16String();
  record.CompanyId = -1;
  record.JobTitleId = -1;
  record.Id = node->Record.Id;
  record.IsContact = true;
  if (!db_.IsOpen()) return;
  const int r = qovra::SaveContact(db_, record, parent_id, node->Record.Email);
  if (r == qovra::kAbDbError) {
    std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
    if (is_new) RemoveRow(node, 0);
    return;
  }
  if (r == qovra::kAbRefused || r == qovra::kAbSkipped || r == qovra::kAbSkippedAll) {
    if (is_new) RemoveRow(node, column);
    return;
  }
  if (r == qovra::kAbReplaced || r == qovra::kAbReplacedAll) {
    // The replaced duplicate's rows go (everywhere: it is one record).
    const TContactNode* keep = node;
    std::vector<TContactNode*> rows;
    for (TContactNode* n = model_->Tree().First(); n; n = qovra::TContactTree::Next(n))
      if (n != keep && !n->IsGroup && n->Record.Id == record.Id) rows.push_back(n);
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) model_->RemoveRow(*it);
  }
  // Every row of this contact shows the stored record.
  for (TContactNode* n = model_->Tree().First(); n; n = qovra::TContactTree::Next(n)) {
    if (n == node || (!n->IsGroup && n->Record.Id == record.Id && record.Id > 0 && !is_new)) {
      n->Record = record;
      model_->RowChanged(n);
    }
  }
  node->Record = record;
  model_->Resort();
  FocusRow(node, column);
}

void TfrmAddrBook::EditGroup(TContactNode* node) {
  TfrmNewGroup dialog(this);
  dialog.setWindowTitle(node->Record.Id <= 0 ? acContactsNewGroup->text().remove(QLatin1Char('&'))
                                             : Msg("msgEditGroup"));
  dialog.imgAddr->setPixmap(images16_->Pixmap(1));
  dialog.eName->setText(TAddrBookModel::CellText(*node, 0));
  const QRect row = vstAddrBook->visualRect(model_->IndexOf(node, 0));
  const QPoint at = vstAddrBook->viewport()->mapToGlobal(row.topLeft());
  dialog.move(at.x() - dialog.eName->x(), at.y() + row.height());
  const bool is_new = node->Record.Id == -1;
  const int result = RunDialog(dialog);
  if (result != 1) {
    if (is_new) RemoveRow(node, 0);
    return;
  }
  const QString name = dialog.eName->text();
  if (is_new && name.trimmed().isEmpty()) {
    RemoveRow(node, 0);
    return;
  }
  if (!is_new && name.toStdU16String() == node->Record.FirstName) return;
  if (!db_.IsOpen()) return;
  TContact record;
  record.Id = node->Record.Id;
  record.FirstName = name.toStdU16String();
  record.CompanyId = node->Parent->Parent ? node->Parent->Record.Id : 0;
  record.IsContact = false;
  const int r = qovra::SaveGroup(db_, record, qovra::kAbRefused);
  if (r != qovra::kAbStored) {
    if (r == qovra::kAbDbError) std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
    if (is_new) RemoveRow(node, 0);
    return;
  }
  node->Record = record;
  model_->RowChanged(node);
  model_->Resort();
  FocusRow(node, 0);
}

bool TfrmAddrBook::CanDrop(const TContactNode* target) const {
  const TContactNode* dragged = FocusedNode();
  if (!dragged || IsRoot(dragged) || !target || !target->IsGroup) return false;
  if (target == dragged->Parent) return false;
  for (const TContactNode* n = target; n; n = n->Parent)
    if (n == dragged) return false;
  return true;
}

void TfrmAddrBook::DragDrop(TContactNode* target) {
  TContactNode* dragged = FocusedNode();
  if (!CanDrop(target) || !db_.IsOpen()) return;
  const int32_t source_id = dragged->Parent->Parent ? dragged->Parent->Record.Id : 0;
  if (!dragged->IsGroup) {
    int32_t existing = 0;
    const int r =
        qovra::MoveContactToGroup(db_, source_id, target->Record.Id, dragged->Record, &existing);
    if (r == qovra::kAbReplaced || r == qovra::kAbReplacedAll) {
      // The duplicate is gone from the whole book.
      const int32_t keep = dragged->Record.Id;
      if (existing != keep) RemoveContactRows(existing);
    } else if (r != qovra::kAbStored) {
      if (r == qovra::kAbDbError)
        std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
      return;
    }
    // A contact already linked to the target only leaves the source.
    if (TContactNode* there = FindChildById(dragged->Record.Id, target)) {
      (void)there;
      RemoveRow(dragged, 0);
      FocusRow(there, 0);
      return;
    }
  } else {
    if (!qovra::MoveGroup(db_, dragged->Record.Id, target->Record.Id)) {
      std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
      return;
    }
    dragged->Record.CompanyId = target->Record.Id;
  }
  model_->MoveRow(dragged, target);
  vstAddrBook->expand(model_->IndexOf(target));
  model_->Resort();
  FocusRow(dragged, 0);
}

void TfrmAddrBook::acContactFindExecute() {
  const bool show = !pnlSearch->isVisible();
  pnlSearch->setVisible(show);
  acContactFind->setChecked(show);
  if (show) {
    frameSearchEdit1->eSearch()->setFocus();
  } else {
    vstAddrBook->setFocus();
  }
}

void TfrmAddrBook::Search(bool find_next) {
  const QString text = frameSearchEdit1->eSearch()->text().toLower();
  TContactNode* first = model_->Tree().First();
  if (!first || text.isEmpty()) return;
  TContactNode* start = find_next && last_hit_ ? qovra::TContactTree::Next(last_hit_) : first;
  for (int pass = 0; pass < 2; ++pass) {
    for (TContactNode* n = start; n; n = qovra::TContactTree::Next(n)) {
      const auto found = search_keys_.find(n);
      if (found == search_keys_.end()) continue;
      int column = -1;
      if (found->second.name.contains(text)) {
        column = 0;
      } else if (found->second.email.contains(text)) {
        column = 1;
      }
      if (column < 0) continue;
      // A hit inside a collapsed group is brought into view.
      for (TContactNode* p = n->Parent; p && p->Parent; p = p->Parent)
        vstAddrBook->expand(model_->IndexOf(p));
      FocusRow(n, column);
      vstAddrBook->scrollTo(model_->IndexOf(n, column), QAbstractItemView::PositionAtCenter);
      last_hit_ = n;
      return;
    }
    if (!find_next || last_hit_ == first) return;
    last_hit_ = first;
    start = first;
  }
}

void TfrmAddrBook::KeySubtree(const TContactNode* node, bool add) {
  std::vector<const TContactNode*> pending{node};
  while (!pending.empty()) {
    const TContactNode* n = pending.back();
    pending.pop_back();
    if (add) {
      search_keys_[n] = {TAddrBookModel::CellText(*n, 0).toLower(),
                         n->IsGroup ? QString() : QString::fromUtf8(n->Record.Email).toLower()};
    } else {
      search_keys_.erase(n);
    }
    for (const auto& child : n->Children) pending.push_back(child.get());
  }
}

QString TfrmAddrBook::SelectedRecipients() const {
  std::vector<qovra::TRecipientEntry> entries;
  const QModelIndexList rows = vstAddrBook->selectionModel()->selectedRows();
  for (const QModelIndex& index : rows) {
    TContactNode* node = model_->NodeOf(index);
    if (!node) continue;
    if (!node->IsGroup) {
      entries.push_back(qovra::RecipientEntryOf(node->Record));
      continue;
    }
    std::vector<TContactNode*> pending{node};
    while (!pending.empty()) {
      TContactNode* group = pending.back();
      pending.pop_back();
      for (auto& child : group->Children)
        if (!child->IsGroup) entries.push_back(qovra::RecipientEntryOf(child->Record));
      for (auto it = group->Children.rbegin(); it != group->Children.rend(); ++it)
        if ((*it)->IsGroup) pending.push_back(it->get());
    }
  }
  qovra::DedupRecipients(entries);
  return QString::fromStdString(qovra::JoinRecipientTexts(entries));
}

void TfrmAddrBook::acContactComposeMailExecute(int kind) {
  const QString recipients = SelectedRecipients();
  if (OnNewMail) OnNewMail(kind, recipients);
}

void TfrmAddrBook::mnuCopyToClipboardClick() {
  TContactNode* node = FocusedNode();
  if (!node) node = FirstSelected();
  if (!node || node->IsGroup) return;
  const QString text = TAddrBookModel::CellText(*node, 0) + QStringLiteral(" <") +
                       TAddrBookModel::CellText(*node, 1) + QLatin1Char('>');
  QApplication::clipboard()->setText(text);
}

void TfrmAddrBook::acContactDeleteExecute() {
  const QModelIndexList rows = vstAddrBook->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  if (!qovra::AskYesNo(this,
                       rows.size() == 1 ? "msgConfirmDeleteContact" : "msgConfirmDeleteContacts"))
    return;
  // A row below another selected group goes with that group.
  std::vector<TContactNode*> nodes;
  std::unordered_set<const TContactNode*> selected;
  for (const QModelIndex& i : rows) selected.insert(model_->NodeOf(i));
  for (const QModelIndex& i : rows) {
    TContactNode* node = model_->NodeOf(i);
    bool covered = false;
    for (const TContactNode* p = node->Parent; p && !covered; p = p->Parent)
      covered = selected.count(p);
    if (!covered) nodes.push_back(node);
  }
  bool emptied = false;
  std::unordered_set<int32_t> contacts;
  {
    qovra::ui::ShowProgress(this, true, Msg("msgDeleting"), Msg("msgContacts"));
    void* bar = frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr;
    qovra::SqliteTransaction t(db_);
    const int64_t total = static_cast<int64_t>(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
      TContactNode* node = nodes[i];
      bool ok = true;
      if (node->IsGroup) {
        ok = qovra::DeleteGroup(db_, node->Record.Id);
        if (IsRoot(node)) emptied = true;
        // Every contact below the group is deleted from the whole book.
        std::vector<const TContactNode*> pending{node};
        while (!pending.empty()) {
          const TContactNode* g = pending.back();
          pending.pop_back();
          for (const auto& child : g->Children) {
            if (child->IsGroup) {
              pending.push_back(child.get());
            } else {
              contacts.insert(child->Record.Id);
            }
          }
        }
      } else {
        ok = qovra::DeleteContact(db_, node->Record.Id);
        contacts.insert(node->Record.Id);
      }
      if (!ok) std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
      qovra::ProgressCallback(bar, total, static_cast<int64_t>(i));
    }
    if (!t.Commit()) std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
    qovra::ui::HideProgress(this, false);
  }
  if (emptied) {
    // The root keeps the contacts that were in no group: reload it.
    (void)model_->Reload(db_);
    vstAddrBook->expandAll();
    FocusRow(model_->Tree().First(), 0);
    return;
  }
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
    if ((*it)->IsGroup) model_->RemoveRow(*it);
  }
  for (int32_t id : contacts) RemoveContactRows(id);
  const QModelIndex top = vstAddrBook->indexAt(QPoint(1, 1));
  FocusRow(top.isValid() ? model_->NodeOf(top) : model_->Tree().First(), 0);
  last_hit_ = model_->Tree().First();
}

void TfrmAddrBook::ContextPopup(const QPoint& pos) {
  const QModelIndex index = vstAddrBook->indexAt(pos);
  TContactNode* node = model_->NodeOf(index);
  if (node && !vstAddrBook->selectionModel()->isRowSelected(index.row(), index.parent()))
    FocusRow(node, index.column());
  acContactDelete->setEnabled(node != nullptr);
  acContactEdit->setEnabled(node && !IsRoot(node));
  mnuCopyToClipboard->setEnabled(node && !node->IsGroup);
  pmContacts->exec(vstAddrBook->viewport()->mapToGlobal(pos));
  for (QAction* a : {acContactDelete, acContactEdit, mnuCopyToClipboard}) a->setEnabled(true);
}

bool TfrmAddrBook::KeyDown(QKeyEvent* key) {
  TContactNode* node = FocusedNode();
  if (!node) return false;
  const int column = vstAddrBook->currentIndex().column();
  const QModelIndex index = model_->IndexOf(node, 0);
  if (key->key() == Qt::Key_Left) {
    if (node->IsGroup) {
      if (vstAddrBook->isExpanded(index)) {
        vstAddrBook->collapse(index);
      } else if (node->Parent && node->Parent->Parent) {
        FocusRow(node->Parent, 0);
      }
      return true;
    }
    if (column == 0) {
      FocusRow(node->Parent, 0);
      return true;
    }
    return false;
  }
  if (key->key() == Qt::Key_Right) {
    if (node->IsGroup && !node->Children.empty() && !vstAddrBook->isExpanded(index)) {
      vstAddrBook->expand(index);
      return true;
    }
    if (!node->IsGroup && column != kColumns - 1) return false;
    if (TContactNode* next = qovra::TContactTree::Next(node)) FocusRow(next, 0);
    return true;
  }
  return false;
}

bool TfrmAddrBook::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == vstAddrBook && key->modifiers() == Qt::NoModifier) return KeyDown(key);
    if (watched == frameSearchEdit1->eSearch()) {
      if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && FocusedNode()) {
        if (!frameSearchEdit1->eSearch()->text().isEmpty()) {
          find_next_ = true;
          Search(true);
        }
        return true;
      }
      if (key->key() != Qt::Key_Escape) {
        find_next_ = false;
        last_hit_ = model_->Tree().First();
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

bool TfrmAddrBook::ExportTo(const std::string& file_name) {
  TContactNode* node = FirstSelected();
  if (!node) return false;
  const int32_t id = node->Parent && node->Parent->Parent ? node->Record.Id : 0;
  if (qovra::ExportContactsFile(db_, node->IsGroup ? id : node->Record.Id, node->IsGroup,
                                file_name))
    return true;
  if (!db_.LastError().empty()) std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
  (void)qovra::ShowMessageText(
      this, qovra::FormatMsg(qovra::GetMsg("msgContactsExportFailed"), {file_name}), 48);
  return false;
}

void TfrmAddrBook::acContactsExportExecute() {
  if (!FirstSelected()) return;
  const QString file = AskFileName(true);
  if (file.isEmpty()) return;
  const std::string path = file.toStdString();
  std::error_code ec;
  if (std::filesystem::exists(path, ec) &&
      qovra::ShowMessageText(this, qovra::FormatMsg(qovra::GetMsg("msgConfirmOverwrite"), {path}),
                             36) == 7)
    return;
  (void)ExportTo(path);
}

void TfrmAddrBook::acContactsImportExecute() {
  const QString file = AskFileName(false);
  if (!file.isEmpty()) ImportFromFile(file.toStdString());
}

void TfrmAddrBook::ImportFromFile(const std::string& file_name) {
  TContactNode* target = FocusedNode();
  if (!target) target = FirstSelected();
  if (target && !target->IsGroup) target = target->Parent;
  if (!target || !target->Parent) {
    target = model_->Tree().First();
    FocusRow(target, 0);
  }
  if (!target) return;
  const qovra::TImportResult result = qovra::ImportContactsFile(db_, file_name, target->Record.Id);
  const std::string_view key = qovra::ImportResultMessage(result);
  if (result == qovra::TImportResult::DbError)
    std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
  if (!key.empty()) qovra::ShowWarning(this, key);
  if (result == qovra::TImportResult::Done && qovra::ImportChanged) {
    vstAddrBook->setUpdatesEnabled(false);
    (void)model_->ReloadGroup(db_, target);
    const QModelIndex index = model_->IndexOf(target);
    vstAddrBook->expandRecursively(index);
    vstAddrBook->setUpdatesEnabled(true);
    last_hit_ = model_->Tree().First();
    FocusRow(target, 0);
  }
}

void TfrmAddrBook::acContactsImportFromWebExecute() {
  using qovra::Options;
  std::string path;
  const int fd = qovra::CreateUniqueFile(qovra::GetTempFolder(), "contacts_", ".ecx", path);
  if (fd < 0) {
    qovra::ShowWarning(this, "msgCouldNotConnectToServer");
    return;
  }
  ::close(fd);
  const std::string url = qovra::DirectoryUrl(Options.Conn.srvaddr, Options.langid);
  qovra::ui::ShowProgress(this, true, Msg("msgImporting"), Msg("msgContacts"));
  void* bar = frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr;
  bool ok;
  if (Options.Conn.useiewc == 2) {
    qovra::TIEHttpClient client(&qovra::ProgressCallback, bar, Options.Conn);
    ok = client.DownloadToFile(url, path);
  } else {
    qovra::TIdHttpClient client(&qovra::ProgressCallback, bar, Options.Conn);
    ok = client.DownloadToFile(url, path);
  }
  if (!ok) qovra::ShowWarning(this, "msgCouldNotConnectToServer");
  qovra::ui::HideProgress(this, false);
  if (ok) ImportFromFile(path);
  std::error_code ec;
  std::filesystem::remove(path, ec);
}
