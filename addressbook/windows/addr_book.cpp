// TfrmAddrBook: the window, its actions and menus, focus, keys, the
// context menu, copy and a new mail to the selection.
#include "qovra/addressbook/addr_book.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <cstdio>

#include "addr_book_detail.h"
#include "addr_book_tree.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/recipients.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/widgets.h"
#include "seam/ui_seam.h"

using qovra::TContactNode;
using qovra::addressbook::TAddrBookModel;
using qovra::addressbook::detail::IsRoot;
using qovra::addressbook::detail::kColumns;
using qovra::addressbook::detail::kExpandDepth;
using qovra::addressbook::detail::Msg;

namespace {

constexpr int kWidths[kColumns] = {250, 150, 120, 120};

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
  AskFileName = [this](bool save) { return ChooseFile(save); };

  BuildActions();
  BuildTree();

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

  ConnectSearchKeys();
  qovra::ui::ApplyLanguageToForm(this);
  resize(680, 480);
}

TfrmAddrBook::~TfrmAddrBook() {
  // The tree goes with the window's children, after the image lists: it
  // must not lay out rows (and ask for their icons) on its way.
  vstAddrBook->setModel(nullptr);
  model_->SetImages(nullptr);
}

void TfrmAddrBook::BuildTree() {
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

  // A header click sorts by that column, the direction flipped each time.
  connect(vstAddrBook->header(), &QHeaderView::sectionClicked, this, [this](int section) {
    const Qt::SortOrder order =
        model_->SortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
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
  connect(vstAddrBook, &QWidget::customContextMenuRequested, this, &TfrmAddrBook::ContextPopup);
  connect(vstAddrBook, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& i) { EditNode(model_->NodeOf(i), i.column()); });
}

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
  const bool repaired = !db_.IsOpen() || qovra::UpgradeContactsSchema(db_);
  // A failed repair is said once, though the tree may not load either.
  if (!repaired) ShowDatabaseError();
  const char* keys[kColumns] = {"msgGroupOrContactName", "msgContactEmail", "msgContactCompany",
                                "msgContactJobTitle"};
  for (int i = 0; i < kColumns; ++i) model_->setHeaderData(i, Qt::Horizontal, Msg(keys[i]));
  find_next_ = false;
  if (!ReloadAll() && repaired) ShowDatabaseError();
}

bool TfrmAddrBook::ReloadAll() {
  const bool loaded = model_->Reload(db_);
  ExpandBelow(model_->Tree().First());
  FocusRow(model_->Tree().First(), 0);
  return loaded || !db_.IsOpen();
}

void TfrmAddrBook::ExpandBelow(const TContactNode* node) {
  if (!node) return;
  vstAddrBook->expandRecursively(model_->IndexOf(node), kExpandDepth);
}

void TfrmAddrBook::ShowDatabaseError() {
  std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
  qovra::ShowWarning(this, "msgAddrBookDatabaseError");
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

void TfrmAddrBook::mnuCopyToClipboardClick() {
  TContactNode* node = FocusedNode();
  if (!node) node = FirstSelected();
  if (!node || node->IsGroup) return;
  const QString text = TAddrBookModel::CellText(*node, 0) + QStringLiteral(" <") +
                       TAddrBookModel::CellText(*node, 1) + QLatin1Char('>');
  QApplication::clipboard()->setText(text);
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

// Keys on the tree: Left and Right move between a contact's cells and
// through the groups.
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
    FocusRow(column == 0 ? node->Parent : node, column == 0 ? 0 : column - 1);
    return true;
  }
  if (key->key() == Qt::Key_Right) {
    if (node->IsGroup && !node->Children.empty() && !vstAddrBook->isExpanded(index)) {
      vstAddrBook->expand(index);
      return true;
    }
    if (!node->IsGroup && column < kColumns - 1) {
      FocusRow(node, column + 1);
      return true;
    }
    if (TContactNode* next = qovra::TContactTree::Next(node)) FocusRow(next, 0);
    return true;
  }
  return false;
}

bool TfrmAddrBook::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == vstAddrBook && key->modifiers() == Qt::NoModifier) return KeyDown(key);
    if (watched == frameSearchEdit1->eSearch() && SearchKeyDown(key)) return true;
  }
  return QDialog::eventFilter(watched, event);
}
