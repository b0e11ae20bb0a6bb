// TfrmViewMail: creation, filling and the attachment commands.
#include "qovra/workspace/view_mail.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QToolBar>
#include <QVBoxLayout>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/utf.h"
#include "platform/file_utils.h"
#include "platform/run_thread.h"
#include "qovra/controls/size_grip.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/attachment_rows.h"
#include "qovra/workspace/attachment_save.h"
#include "seam/ui_seam.h"
#include "store/mail_container_names.h"

namespace {

TfrmViewMail::TSaveChooser& SaveChooser() {
  static TfrmViewMail::TSaveChooser chooser;
  return chooser;
}
TfrmViewMail::TFolderChooser& FolderChooser() {
  static TfrmViewMail::TFolderChooser chooser;
  return chooser;
}

QString BareName(const qovra::TMailAttachmentInfo& info) {
  return QString::fromStdU16String(qovra::BareFileNameOr(info.FileName.view(), u"attachment"));
}

}  // namespace

void TfrmViewMail::SetSaveChooser(TSaveChooser chooser) {
  SaveChooser() = std::move(chooser);
}
void TfrmViewMail::SetFolderChooser(TFolderChooser chooser) {
  FolderChooser() = std::move(chooser);
}

TfrmViewMail::TfrmViewMail(const TViewCommands& commands, QWidget* parent)
    : TViewForm(parent), commands_(commands) {
  setObjectName(QStringLiteral("frmViewMail"));
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  resize(648, 441);
  frameViewMailTop1 = new TframeViewMailTop(commands, this);

  pnlMailBody = new QWidget(this);
  pnlMailBody->setObjectName(QStringLiteral("pnlMailBody"));
  splitMain = new QSplitter(Qt::Vertical, pnlMailBody);
  splitMain->setObjectName(QStringLiteral("splitMain"));
  eMailBody = new QPlainTextEdit(splitMain);
  eMailBody->setObjectName(QStringLiteral("eMailBody"));
  eMailBody->setReadOnly(true);
  eMailBody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  lvFileAttachments = new QListWidget(splitMain);
  lvFileAttachments->setObjectName(QStringLiteral("lvFileAttachments"));
  lvFileAttachments->setViewMode(QListView::IconMode);
  lvFileAttachments->setResizeMode(QListView::Adjust);
  lvFileAttachments->setMovement(QListView::Static);
  lvFileAttachments->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFileAttachments->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvFileAttachments->setIconSize(QSize(32, 32));
  lvFileAttachments->setContextMenuPolicy(Qt::CustomContextMenu);
  lvFileAttachments->hide();
  splitMain->addWidget(eMailBody);
  splitMain->addWidget(lvFileAttachments);
  splitMain->setStretchFactor(0, 3);
  splitMain->setStretchFactor(1, 1);
  splitMain->handle(1)->hide();
  auto* body = new QVBoxLayout(pnlMailBody);
  body->setContentsMargins(4, 4, 4, 4);
  body->addWidget(splitMain);

  frameViewMailFooter1 = new TframeViewMailFooter(this);
  Grip = new qovra::ui::TSizeGrip(this);
  Grip->PlaceOnPanel(frameViewMailFooter1->pnlFooter);

  acClose = qovra::ui::NamedAction(this, "acClose");
  acClose->setShortcut(QKeySequence(Qt::Key_Escape));
  addAction(acClose);
  acSaveSelected = qovra::ui::NamedAction(this, "acSaveSelected");
  acSaveAll = qovra::ui::NamedAction(this, "acSaveAll");
  acOpen = qovra::ui::NamedAction(this, "acOpen");
  connect(acClose, &QAction::triggered, this, [this] { done(2); });
  connect(acSaveSelected, &QAction::triggered, this, [this] { acSaveSelectedExecute(); });
  connect(acSaveAll, &QAction::triggered, this, [this] { acSaveAllExecute(); });
  connect(acOpen, &QAction::triggered, this, [this] { acOpenExecute(); });

  TntMainMenu1 = new QMenuBar(this);
  TntMainMenu1->setObjectName(QStringLiteral("TntMainMenu1"));
  mnuMessage = TntMainMenu1->addMenu(QString());
  mnuMessage->setObjectName(QStringLiteral("mnuMessage"));
  for (QAction* a : {commands.Reply, commands.Forward, commands.Print, commands.SaveAs})
    if (a) mnuMessage->addAction(a);
  if (commands.SaveAttachments) mnuSaveAttachments = commands.SaveAttachments;
  if (commands.SaveAttachments) mnuMessage->addAction(commands.SaveAttachments);
  if (commands.SignDetails) mnuMessage->addAction(commands.SignDetails);
  mnuMessage->addSeparator();
  QAction* cancel = mnuMessage->addAction(QString());
  cancel->setObjectName(QStringLiteral("mnuCancel"));
  connect(cancel, &QAction::triggered, acClose, &QAction::trigger);

  pmAttachments = new QMenu(this);
  pmAttachments->setObjectName(QStringLiteral("pmAttachments"));
  pmAttachments->addAction(acOpen);
  pmAttachments->addAction(acSaveSelected);
  pmAttachments->addAction(acSaveAll);
  connect(lvFileAttachments, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    actionListNewMailUpdate();
    pmAttachments->popup(lvFileAttachments->viewport()->mapToGlobal(pos));
  });
  connect(lvFileAttachments, &QListWidget::itemDoubleClicked, this, [this] { acOpenExecute(); });
  connect(lvFileAttachments, &QListWidget::itemSelectionChanged, this,
          [this] { actionListNewMailUpdate(); });

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->setMenuBar(TntMainMenu1);
  column->addWidget(frameViewMailTop1);
  column->addWidget(pnlMailBody, 1);
  column->addWidget(frameViewMailFooter1);

  qovra::ApplyLanguage(this);
  qovra::ApplyLanguage(frameViewMailTop1, frameViewMailTop1);
  if (QFontDatabase::families().contains(QStringLiteral("Consolas")))
    eMailBody->setFont(QFont(QStringLiteral("Consolas")));
  actionListNewMailUpdate();
}

TfrmViewMail::~TfrmViewMail() = default;

void TfrmViewMail::FillFromReader() {
  if (!Reader) return;
  frameViewMailTop1->eFrom->setText(QString::fromStdString(Reader->From()));
  frameViewMailTop1->eTo->setText(QString::fromStdString(Reader->To()));
  frameViewMailTop1->eSubject->setText(QString::fromStdU16String(Reader->Subject()));
  eMailBody->setPlainText(QString::fromStdU16String(Reader->Body()));
  for (const qovra::TMailAttachmentInfo& info : Reader->Attachments())
    qovra::ui::AddAttachmentRow(lvFileAttachments, info);
  if (lvFileAttachments->count() > 0) {
    lvFileAttachments->show();
    splitMain->handle(1)->show();
  }
  // The caption is a format with one argument.
  setWindowTitle(QString::fromStdString(
      qovra::FormatMsg(windowTitle().toStdString(), {" " + Reader->From()})));
  actionListNewMailUpdate();
}

void TfrmViewMail::showEvent(QShowEvent* event) {
  const bool has = lvFileAttachments->count() > 0;
  // The command is the main window's: only this tool bar's button and this
  // menu's entry go (a tool bar shows its button again at every layout,
  // whatever the button was told).
  if (!has && frameViewMailTop1->btnSaveAttachments)
    frameViewMailTop1->tbViewMail->removeAction(frameViewMailTop1->btnSaveAttachments);
  if (!has && mnuSaveAttachments) mnuMessage->removeAction(mnuSaveAttachments);
  if (!centred_ && parentWidget()) {
    centred_ = true;
    // Wide enough for every tool bar button.
    const int wanted = frameViewMailTop1->tbViewMail->sizeHint().width();
    if (width() < wanted) resize(wanted, height());
    const QRect owner = parentWidget()->window()->frameGeometry();
    move(owner.center() - rect().center());
  }
  TViewForm::showEvent(event);
  frameViewMailFooter1->Arrange(qovra::ui::TSizeGrip::kSize);
}

void TfrmViewMail::resizeEvent(QResizeEvent* event) {
  TViewForm::resizeEvent(event);
  frameViewMailFooter1->Arrange(qovra::ui::TSizeGrip::kSize);
}

void TfrmViewMail::actionListNewMailUpdate() {
  const bool selected = !lvFileAttachments->selectedItems().isEmpty();
  acOpen->setEnabled(selected);
  acSaveSelected->setEnabled(selected);
  acSaveAll->setEnabled(lvFileAttachments->count() > 0);
}

TfrmViewMail::TSaveOutcome TfrmViewMail::SaveTo(const qovra::TMailAttachmentInfo& info,
                                                const QString& path) {
  if (QFileInfo::exists(path)) {
    const std::string text =
        qovra::FormatMsg(qovra::GetMsg("msgConfirmOverwrite"), {path.toStdString()});
    if (qovra::ShowMessageText(qovra::ui::HandleOf(this), text, 36) != qovra::kMsgResultYes)
      return TSaveOutcome::Skipped;
  }
  Busy("msgSavingAttachment");
  std::string reason;
  const bool ok = qovra::ui::SaveAttachmentFile(*Reader, info.DataOffset, /*by_position=*/false,
                                                path, ProgressBar, qovra::ProgressCallback, reason);
  Ready();
  if (ok) return TSaveOutcome::Saved;
  qovra::ui::ReportAttachmentNotSaved(this, path, reason);
  return TSaveOutcome::Failed;
}

void TfrmViewMail::acSaveSelectedExecute() {
  const QListWidgetItem* item = qovra::ui::SelectedAttachmentRow(lvFileAttachments);
  if (!item || !Reader) return;
  const qovra::TMailAttachmentInfo info = qovra::ui::AttachmentOfRow(item);
  const QString name = BareName(info);
  std::optional<QString> path;
  if (SaveChooser()) {
    path = SaveChooser()(this, name);
  } else {
    const QString chosen = QFileDialog::getSaveFileName(this, QString(), name, QStringLiteral("*"));
    if (!chosen.isEmpty()) path = chosen;
  }
  if (!path || path->isEmpty()) return;
  (void)SaveTo(info, *path);
}

void TfrmViewMail::acSaveAllExecute() {
  if (!Reader) return;
  std::optional<QString> folder;
  if (FolderChooser()) {
    folder = FolderChooser()(this);
  } else {
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QString::fromStdString(qovra::GetMsg("msgSaveAttachedFiles")),
        QString::fromStdU16String(qovra::GetSpecialFolderW(qovra::kCsidlPersonal)));
    if (!chosen.isEmpty()) folder = chosen;
  }
  if (!folder || folder->isEmpty()) return;
  QString dir = *folder;
  if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
  for (int i = 0; i < lvFileAttachments->count(); ++i) {
    const qovra::TMailAttachmentInfo info = qovra::ui::AttachmentOfRow(lvFileAttachments->item(i));
    // A failure (a full disk, a folder not writable) would fail the rest
    // too: said once, the rest is not tried.
    if (SaveTo(info, dir + BareName(info)) == TSaveOutcome::Failed) return;
  }
}

void TfrmViewMail::acOpenExecute() {
  const QListWidgetItem* item = qovra::ui::SelectedAttachmentRow(lvFileAttachments);
  if (!item || !Reader) return;
  const qovra::TMailAttachmentInfo info = qovra::ui::AttachmentOfRow(item);
  if (info.DataOffset <= 0) return;
  Busy("msgOpeningAttachment");
  const std::string file =
      qovra::ui::ExtractToTemp(*Reader, info.DataOffset, ProgressBar, qovra::ProgressCallback);
  Ready();
  if (file.empty()) return;
  if ((Mail.Flags & qovra::mfAdminOnly) != 0) WipeOnClose.push_back(file);
  (void)qovra::ui::OpenAttachmentFile(this, file);
}
