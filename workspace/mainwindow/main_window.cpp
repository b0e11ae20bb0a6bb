#include "qovra/workspace/main_window.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/text_utils.h"
#include "base/utf.h"
#include "commands/login_command.h"
#include "mail/startup.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/menu_style.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/auto_receive.h"
#include "qovra/workspace/mail_list_columns.h"
#include "qovra/workspace/mail_list_model.h"
#include "qovra/workspace/main_receive_notices.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/temp_folder_cleanup.h"
#include "qovra/workspace/toolbar_fit.h"
#include "qovra/workspace/tray_icon.h"
#include "seam/ui_seam.h"
#include "settings/settings.h"
#include "store/mail_db_upgrade.h"

using qovra::ui::TFolderNodeData;
using qovra::ui::TMailListModel;

namespace {

QString Msg(std::string_view key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

}  // namespace

TfrmMain::TfrmMain(qovra::ui::ITrayIcon* tray, QWidget* parent)
    : QMainWindow(parent), tray_(tray ? tray : &qovra::ui::NullTrayIcon()) {
  setObjectName(QStringLiteral("frmMain"));
  resize(900, 600);
  FormCreate();
}

TfrmMain::~TfrmMain() {
  qovra::SetReceiveNotices(nullptr);
  tray_->SetOpenHandler(nullptr);
  tray_->SetVisible(false);
  tray_->SetMenu(nullptr);
  // The image lists go before the child widgets that draw from them.
  model->SetImages(nullptr);
  tvMain->SetImages(nullptr);
}

void TfrmMain::FormCreate() {
  notices_ = std::make_unique<qovra::ui::TMainReceiveNotices>(*this, *tray_);
  qovra::SetReceiveNotices(notices_.get());
  auto_receive_ = std::make_unique<qovra::ui::TAutoReceive>(
      [this] { (void)acMailReceiveExecute(); }, [this] { return AutoReceiveReady(); });

  // Bring an older mail database up to date; a failure is shown and the
  // window carries on with what the database has.
  if (qovra::MailDb.IsOpen()) {
    std::string error;
    if (!qovra::UpgradeMailSchema(qovra::MailDb, &error))
      (void)qovra::ShowMessageText(qovra::ui::HandleOf(this), error, qovra::kMsgIconError);
  }

  LoadImages();
  BuildActions();
  BuildCentre();
  BuildMenus();
  BuildToolbar();
  ConnectActions();
  connect(alMain->acMailAttachmentsSave, &QAction::triggered, this,
          [this] { (void)acMailAttachmentsSaveExecute(); });
  tray_->SetMenu(pmTray);
  tray_->SetOpenHandler([this] { mnuTrayOpenClick(); });

  qovra::ApplyLanguage(this);
  UpdateTitle();
  StatusReady();

  BuildFolderTree();
  ApplyFolderCaptions();
  alMain->acWorkOffline->setChecked(qovra::Session.State == 2);
  UpdateOnlineActions();

  if (qovra::CurrentVersionCode < qovra::LatestVersionCode) {
    pnlStatusBar->wlUpdate->SetCaption(QString::fromStdString(
        qovra::FormatMsgArgs(qovra::GetMsg("msgNewVersionAvailable"), qovra::LatestClientVersion)));
    pnlStatusBar->wlUpdate->show();
  }

  if (qovra::Options.Mail.reffreq != 0) {
    if (!qovra::ReceiveTimer().IsEnabled()) qovra::ReceiveTimer().SetEnabled(true);
  } else {
    qovra::ReceiveTimer().SetEnabled(false);
  }
  tray_->SetMinimizeToTray(qovra::Options.Other.traymin != 0);
  first_activation_done_ = false;
}

void TfrmMain::LoadImages() {
  using namespace qovra::ui;
  LoadToolbarImages(imglistMain32, imglistDisable32);
  imgFolders24.Clear();
  for (const QString& name : FolderIcons24())
    if (!AddPngResourceToImageList(imgFolders24, name, kPngPlain)) imgFolders24.Add(QImage());
  imgListMain16.Clear();
  for (const char* name : {"ico_mail_inbox16", "ico_mail_outbox16", "ico_mail_sent16",
                           "ico_mail_drafts16", "ico_mail_voice16", "ico_mail_attachment16"})
    if (!AddPngResourceToImageList(imgListMain16, QString::fromLatin1(name), kPngPlain))
      imgListMain16.Add(QImage());
  setWindowIcon(MainIcon());
}

void TfrmMain::BuildActions() {
  alMain = new qovra::ui::TMainActions(this, imglistMain32, imglistDisable32);
  alMain->setObjectName(QStringLiteral("alMain"));
}

void TfrmMain::BuildCentre() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* splitter = new QSplitter(Qt::Horizontal, central);
  tvMain = new qovra::ui::TFolderTree(splitter);
  tvMain->SetImages(&imgFolders24);

  auto* right = new QWidget(splitter);
  auto* right_column = new QVBoxLayout(right);
  right_column->setContentsMargins(0, 0, 0, 0);
  right_column->setSpacing(2);
  frameSearchEdit1 = new qovra::ui::TframeSearchEdit(right);
  frameSearchEdit1->setObjectName(QStringLiteral("frameSearchEdit1"));
  frameSearchEdit1->hide();
  right_column->addWidget(frameSearchEdit1);

  model = new TMailListModel(this);
  model->SetImages(&imgListMain16);
  lvMain = new QTreeView(right);
  lvMain->setObjectName(QStringLiteral("lvMain"));
  lvMain->setModel(model);
  lvMain->setRootIsDecorated(false);
  lvMain->setUniformRowHeights(true);
  lvMain->setStyleSheet(QStringLiteral("QTreeView::item { height: 20px; }"));
  lvMain->setAllColumnsShowFocus(true);
  lvMain->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvMain->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvMain->setContextMenuPolicy(Qt::CustomContextMenu);
  lvMain->setIconSize(QSize(16, 16));
  QHeaderView* header = lvMain->header();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  // The subject takes the width the other columns leave.
  new qovra::ui::TMailListColumns(*lvMain);
  lvMain->installEventFilter(this);
  right_column->addWidget(lvMain, 1);

  splitter->addWidget(tvMain);
  splitter->addWidget(right);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({200, 700});  // the tree fits its captions at the first show
  splitter_ = splitter;
  column->addWidget(splitter, 1);

  pnlStatusBar = new qovra::ui::TMainStatusBar(this);
  column->addWidget(pnlStatusBar);
  setCentralWidget(central);

  frameSearchEdit1->eSearch()->installEventFilter(this);
}

void TfrmMain::BuildMenus() {
  auto* a = alMain;
  QMenuBar* bar = menuBar();
  QMenu* mail = bar->addMenu(QStringLiteral("&Mail"));
  mail->setObjectName(QStringLiteral("mnuMail"));
  mail->addActions({a->acMailNew, a->acMailNewVoice, a->acMailReceive});
  mail->addSeparator();
  mail->addActions({a->acMailSaveAs, a->acMailDelete, a->acMailPrint});
  mail->addSeparator();
  mail->addAction(a->acWorkOffline);
  mail->addSeparator();
  mail->addAction(a->acExit);
  QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
  tools->setObjectName(QStringLiteral("mnuTools"));
  tools->addActions({a->acToolsContactsBook, a->acToolsFind, a->acMailImport});
  tools->addSeparator();
  tools->addActions({a->acToolUserProfile, a->acToolsChangePassword, a->acToolsOptions});
  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("mnuHelp"));
  help->addActions({a->acHelpCheckUpdate, a->acHelpAbout});

  pmNew = new QMenu(this);
  pmNew->setObjectName(QStringLiteral("pmNew"));
  pmNew->addAction(a->acMailNewVoice);
  pmReply = new QMenu(this);
  pmReply->setObjectName(QStringLiteral("pmReply"));
  pmReply->addActions({a->acMailReply, a->acMailReplyVoice});

  pmList = new QMenu(this);
  pmList->setObjectName(QStringLiteral("pmList"));
  pmList->addAction(a->acMailOpen);
  pmList->setDefaultAction(a->acMailOpen);
  pmList->addActions({a->acMailDelete, a->acMailSaveAs});
  QMenu* reply = pmList->addMenu(QStringLiteral("Reply"));
  reply->setObjectName(QStringLiteral("mnuListReply"));
  reply->addActions({a->acMailReply, a->acMailReplyVoice});
  pmList->addActions({a->acMailForward, a->acMailReport});

  // The edit menu of the focused edit control: the line edit's own
  // standard menu carries undo, cut, copy, paste, delete and select all,
  // each enabled by the control's state.
  pmEdit = new QMenu(this);
  pmEdit->setObjectName(QStringLiteral("pmEdit"));

  pmTray = new QMenu(this);
  pmTray->setObjectName(QStringLiteral("pmTray"));
  QAction* open = pmTray->addAction(QStringLiteral("&Open"));
  open->setObjectName(QStringLiteral("mnuTrayOpen"));
  pmTray->setDefaultAction(open);
  connect(open, &QAction::triggered, this, &TfrmMain::mnuTrayOpenClick);
  pmTray->addAction(a->acExit);

  qovra::ui::ApplyMenuStyle(bar);
  for (QMenu* m : {pmNew, pmReply, pmList, pmEdit, pmTray}) qovra::ui::ApplyMenuStyle(m);
}

void TfrmMain::BuildToolbar() {
  auto* a = alMain;
  tbMain = addToolBar(QString());  // never floats, so its title shows nowhere
  tbMain->setObjectName(QStringLiteral("tbMain"));
  tbMain->setIconSize(QSize(32, 32));
  tbMain->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  tbMain->setMovable(false);
  // The toolbar cannot be hidden: no window context menu offers it.
  setContextMenuPolicy(Qt::NoContextMenu);
  auto add = [this](QAction* action, const char* name, QMenu* menu = nullptr) {
    tbMain->addAction(action);
    if (auto* button = qobject_cast<QToolButton*>(tbMain->widgetForAction(action))) {
      button->setObjectName(QString::fromLatin1(name));
      if (menu) {
        button->setMenu(menu);
        button->setPopupMode(QToolButton::MenuButtonPopup);
      }
    }
  };
  add(a->acMailNew, "btnMailNew", pmNew);
  add(a->acMailReceive, "btnMailReceive");
  add(a->acMailReply, "btnMailReply", pmReply);
  add(a->acMailForward, "btnMailForward");
  add(a->acMailPrint, "btnMailPrint");
  add(a->acMailSaveAs, "btnMailSaveAs");
  add(a->acMailDelete, "btnMailDelete");
  add(a->acToolsFind, "btnMailFind");
  add(a->acToolsContactsBook, "btnContactsBook");
  add(a->acWorkOffline, "btnWorkOffline");
  // Every button stays in sight in a narrower window.
  new qovra::ui::TToolbarFit(*tbMain);
}

std::string TfrmMain::OwnAddress() const {
  return qovra::Session.OwnContact.Email;
}

void TfrmMain::UpdateTitle() {
  std::string title = qovra::AppTitle + " - ";
  if (qovra::Session.State == 1) {
    const auto& c = qovra::Session.OwnContact;
    const std::string name = qovra::Utf16ToUtf8(qovra::JoinNameParts(c.LastName, u"", c.FirstName));
    // Without a name the address stands alone.
    title += name.empty() ? c.Email : name + " (" + c.Email + ")";
  } else {
    title += qovra::GetMsg("msgOfflineMode");
  }
  qovra::ApplicationTitle = title;
  setWindowTitle(QString::fromStdString(title));
  tray_->SetHint(windowTitle());
}

// Folders --------------------------------------------------------------

void TfrmMain::BuildFolderTree() {
  if (!qovra::MailDb.IsOpen()) return;
  tvMain->BuildFolderTree(qovra::MailDb, OwnAddress());
}

void TfrmMain::RefreshFolderCounters() {
  if (!qovra::MailDb.IsOpen()) return;
  (void)tvMain->RefreshFolderCounters(qovra::MailDb, OwnAddress());
}

QTreeWidgetItem* TfrmMain::FindFolderNode(int32_t folder_id) const {
  return tvMain->FindFolderNode(folder_id);
}

void TfrmMain::SelectFolder(int32_t folder_id) {
  QTreeWidgetItem* node = FindFolderNode(folder_id);
  if (!node) return;
  {
    const QSignalBlocker block(tvMain);
    tvMain->setCurrentItem(node);
    node->setSelected(true);
  }
  tvMainChange();
}

TFolderNodeData TfrmMain::CurrentFolder() const {
  return tvMain->CurrentFolder();
}

void TfrmMain::tvMainChange() {
  search_again_ = false;
  last_found_id_ = 0;
  // The new current node: a mouse press makes it current before the
  // selection follows, so the selection still names the folder left. It
  // is selected now, so the tree shows it while the list fills.
  QTreeWidgetItem* node = tvMain->currentItem();
  if (!node) return;
  if (!node->isSelected()) {
    tvMain->clearSelection();
    node->setSelected(true);
  }
  FillMailList(tvMain->FolderOf(node), true);
  SetColumnCaption();
}

void TfrmMain::SetColumnCaption() {
  // The model names column 2 after the folder it holds, so the caption
  // always follows the selected folder.
  model->RetranslateHeaders();
}

void TfrmMain::ApplyFolderCaptions() {
  tvMain->ApplyFolderCaptions();
  SetColumnCaption();
  frameSearchEdit1->eSearch()->setPlaceholderText(Msg("msgSearchMails"));
}

void TfrmMain::FillMailList(int32_t folder, bool show_progress) {
  if (!qovra::MailDb.IsOpen()) return;
  bool busy = false;
  auto progress = [&](int64_t done, int64_t total) {
    if (!show_progress || total <= 0) return;
    if (!busy) {
      StatusBusy(Msg("msgBuildingList"));
      busy = true;
    }
    pnlStatusBar->SetBarProgress(pnlStatusBar->pbStatus, done, total);
  };
  const bool filled = model->Fill(qovra::MailDb, folder, OwnAddress(), progress);
  if (busy) StatusReady();
  lvMain->header()->setSortIndicator(model->SortColumn(), model->SortOrder());
  UpdateSelectionActions();
  if (!filled)
    (void)qovra::ShowMessageText(qovra::ui::HandleOf(this), model->error().toStdString(),
                                 qovra::kMsgIconError);
}

// Status bar -----------------------------------------------------------

void TfrmMain::StatusBusy(const QString& text) {
  pnlStatusBar->StatusBusy(text);
}

void TfrmMain::StatusReady() {
  pnlStatusBar->StatusReady();
}

// Window events ----------------------------------------------------------

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TfrmMain::FormShow() {
  model->sort(TMailListModel::kColSent, Qt::DescendingOrder);
  SelectFolder(qovra::kFolderInbox);
  if (!tree_sized_) {
    // The folder tree as wide as its captions and counters; the list
    // takes the rest.
    const int tree = tvMain->ContentWidth();
    const QList<int> sizes = splitter_->sizes();
    if (sizes.size() == 2) splitter_->setSizes({tree, sizes[0] + sizes[1] - tree});
    tree_sized_ = true;
  }
  qovra::ReceiveTimer().SetEnabled(true);
  auto_receive_->Restart();
}

bool TfrmMain::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    if (!pnlStatusBar->Busy()) {
      const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
      pnlStatusBar->StatusLabel()->setText(tip.isEmpty() ? Msg("msgReady") : tip);
    }
    return true;
  }
  return QMainWindow::event(event);
}

void TfrmMain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !first_activation_done_)
    FormActivate();
  // Hidden after the state change is through, not inside it.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_->MinimizeToTray() &&
      tray_->IsAvailable())
    QMetaObject::invokeMethod(this, &TfrmMain::trayIconMinimizeToTray, Qt::QueuedConnection);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (!event->isAccepted()) return;
  (void)qovra::ui::EmptyUserTempFolder(qovra::ui::UserTempFolder());
  emit closed();
}

qovra::TSendFlags TfrmMain::LoadRecipientSendFlags(int32_t mail_id) const {
  return qovra::LoadRecipientSendFlags(qovra::MailDb, mail_id);
}

// Mail windows -----------------------------------------------------------

TfrmMain::TActiveFormScope::TActiveFormScope(TfrmMain& form, TActiveFormKind kind) : form_(form) {
  form_.active_form_kind_ = kind;
}

TfrmMain::TActiveFormScope::~TActiveFormScope() {
  form_.active_form_kind_ = TActiveFormKind::None;
  // A viewer's commands went by its mail; the list's selection rules again.
  form_.UpdateSelectionActions();
}
