// TfrmNewMail: creation, attachments, writing the container and closing.
#include "qovra/workspace/new_mail.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "base/messages.h"
#include "base/utf.h"
#include "platform/file_utils.h"
#include "platform/run_thread.h"
#include "platform/temp_files.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/shell.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/attachment_rows.h"
#include "qovra/workspace/compose_rules.h"
#include "qovra/workspace/new_mail_top.h"
#include "settings/settings.h"
#include "store/mail_container_writer.h"

namespace {

TfrmNewMail::TAttachChooser& AttachChooser() {
  static TfrmNewMail::TAttachChooser chooser;
  return chooser;
}

}  // namespace

void TfrmNewMail::SetAttachChooser(TAttachChooser chooser) {
  AttachChooser() = std::move(chooser);
}

TfrmNewMail::TfrmNewMail(const TComposeCommands& commands, QWidget* parent)
    : TNewForm(parent), commands_(commands) {
  FormCreate();
}

TfrmNewMail::~TfrmNewMail() = default;

void TfrmNewMail::FormCreate() {
  setMinimumSize(333, 314);
  resize(720, 500);
  setSizeGripEnabled(true);
  setAcceptDrops(true);
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  frameNewMailTop1 = new TframeNewMailTop(this);
  pnlMailBody = new QWidget(this);
  pnlMailBody->setObjectName(QStringLiteral("pnlMailBody"));
  eMailBody = new QPlainTextEdit(pnlMailBody);
  eMailBody->setObjectName(QStringLiteral("eMailBody"));
  eMailBody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  eMailBody->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* body_layout = new QVBoxLayout(pnlMailBody);
  body_layout->setContentsMargins(0, 0, 0, 0);
  body_layout->addWidget(eMailBody);

  splitMain = new QSplitter(Qt::Horizontal, this);
  splitMain->setObjectName(QStringLiteral("splitMain"));
  lvFileAttachments = new QListWidget(splitMain);
  lvFileAttachments->setObjectName(QStringLiteral("lvFileAttachments"));
  lvFileAttachments->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvFileAttachments->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFileAttachments->setSortingEnabled(true);
  lvFileAttachments->setContextMenuPolicy(Qt::CustomContextMenu);
  lvFileAttachments->setIconSize(QSize(16, 16));
  splitMain->addWidget(pnlMailBody);
  splitMain->addWidget(lvFileAttachments);
  splitMain->setStretchFactor(0, 3);
  splitMain->setStretchFactor(1, 1);
  splitMain->setChildrenCollapsible(false);
  lvFileAttachments->hide();

  acCancel = qovra::ui::NamedAction(this, "acCancel");
  acCancel->setShortcut(QKeySequence(Qt::Key_Escape));
  acAttachFile = qovra::ui::NamedAction(this, "acAttachFile");
  acAttachFile->setIcon(QIcon(
      QPixmap::fromImage(qovra::ui::LoadPngResource(QStringLiteral("ico_mail_attach_save32")))));
  acDeleteSelected = qovra::ui::NamedAction(this, "acDeleteSelected");
  acDeleteAll = qovra::ui::NamedAction(this, "acDeleteAll");
  acOpen = qovra::ui::NamedAction(this, "acOpen");
  addAction(acCancel);
  connect(acCancel, &QAction::triggered, this, [this] { reject(); });
  connect(acAttachFile, &QAction::triggered, this, [this] { acAttachFileExecute(); });
  connect(acDeleteSelected, &QAction::triggered, this, [this] { acDeleteSelectedExecute(); });
  connect(acDeleteAll, &QAction::triggered, this, [this] { acDeleteAllExecute(); });
  connect(acOpen, &QAction::triggered, this, [this] { acOpenExecute(); });

  BuildMenus();

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->setMenuBar(TntMainMenu1);
  column->addWidget(frameNewMailTop1);
  column->addWidget(splitMain, 1);

  frameNewMailTop1->PlaceContactsList(this);
  // Sending mode from the settings, caption from the message table.
  const int mode = qovra::Options.Mail.sendmode == 1 ? 1 : 0;
  BindCommands();
  qovra::ApplyLanguage(this);
  qovra::ApplyLanguage(frameNewMailTop1, frameNewMailTop1);
  frameNewMailTop1->btnSendingMode->setText(
      QString::fromStdString(qovra::GetMsg("btnSendingMode" + std::to_string(mode))));
  frameNewMailTop1->LoadGlyphs();
  mnuNormalPriority->trigger();
  (mode == 1 ? mnuFastSend : mnuSecureSend)->trigger();
  mnuReceiveReport->setChecked(frameNewMailTop1->btnReceiveReport->isChecked());
  mnuReadReport->setChecked(frameNewMailTop1->btnReadReport->isChecked());
  if (QFontDatabase::families().contains(QStringLiteral("Consolas")))
    eMailBody->setFont(QFont(QStringLiteral("Consolas")));

  auto modified = [this] { Modified = true; };
  connect(frameNewMailTop1->eTo, &QLineEdit::textEdited, this, modified);
  connect(frameNewMailTop1->eTo, &QLineEdit::textChanged, this, modified);
  connect(frameNewMailTop1->eSubject, &QLineEdit::textChanged, this, modified);
  connect(eMailBody, &QPlainTextEdit::textChanged, this, modified);
  connect(eMailBody, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    pmEditPopup();
    pmEdit->popup(eMailBody->mapToGlobal(pos));
  });
  connect(lvFileAttachments, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    pmAttachmentsPopup(pos);
    pmAttachments->popup(lvFileAttachments->viewport()->mapToGlobal(pos));
  });
  connect(lvFileAttachments, &QListWidget::itemDoubleClicked, this, [this] { acOpenExecute(); });
  lvFileAttachments->installEventFilter(this);
}

void TfrmNewMail::BuildMenus() {
  BuildMailMenu(frameNewMailTop1, acAttachFile);

  pmAttachments = new QMenu(this);
  pmAttachments->setObjectName(QStringLiteral("pmAttachments"));
  mnuAddFile = qovra::ui::NamedAction(this, "mnuAddFile");
  mnuDeleteFile = qovra::ui::NamedAction(this, "mnuDeleteFile");
  mnuDeleteAll = qovra::ui::NamedAction(this, "mnuDeleteAll");
  mnuOpen = qovra::ui::NamedAction(this, "mnuOpen");
  pmAttachments->addAction(mnuAddFile);
  pmAttachments->addAction(mnuDeleteFile);
  pmAttachments->addAction(mnuDeleteAll);
  pmAttachments->addSeparator();
  pmAttachments->addAction(mnuOpen);
  connect(mnuAddFile, &QAction::triggered, acAttachFile, &QAction::trigger);
  connect(mnuDeleteFile, &QAction::triggered, acDeleteSelected, &QAction::trigger);
  connect(mnuDeleteAll, &QAction::triggered, acDeleteAll, &QAction::trigger);
  connect(mnuOpen, &QAction::triggered, acOpen, &QAction::trigger);

  pmEdit = new QMenu(this);
  pmEdit->setObjectName(QStringLiteral("pmEdit"));
  mnuEditUndo = qovra::ui::NamedAction(this, "mnuEditUndo");
  mnuEditCut = qovra::ui::NamedAction(this, "mnuEditCut");
  mnuEditCopy = qovra::ui::NamedAction(this, "mnuEditCopy");
  mnuEditPaste = qovra::ui::NamedAction(this, "mnuEditPaste");
  mnuEditDelete = qovra::ui::NamedAction(this, "mnuEditDelete");
  mnuEditSelectAll = qovra::ui::NamedAction(this, "mnuEditSelectAll");
  pmEdit->addAction(mnuEditUndo);
  pmEdit->addSeparator();
  for (QAction* a : {mnuEditCut, mnuEditCopy, mnuEditPaste, mnuEditDelete}) pmEdit->addAction(a);
  pmEdit->addSeparator();
  pmEdit->addAction(mnuEditSelectAll);
  pmEdit->addSeparator();
  pmEdit->addAction(acAttachFile);
  connect(mnuEditUndo, &QAction::triggered, eMailBody, &QPlainTextEdit::undo);
  connect(mnuEditCut, &QAction::triggered, eMailBody, &QPlainTextEdit::cut);
  connect(mnuEditCopy, &QAction::triggered, eMailBody, &QPlainTextEdit::copy);
  connect(mnuEditPaste, &QAction::triggered, eMailBody, &QPlainTextEdit::paste);
  connect(mnuEditDelete, &QAction::triggered, this,
          [this] { eMailBody->textCursor().removeSelectedText(); });
  connect(mnuEditSelectAll, &QAction::triggered, eMailBody, &QPlainTextEdit::selectAll);
}

void TfrmNewMail::BindCommands() {
  QToolBar* bar = frameNewMailTop1->tbNewMail;
  auto add = [bar](QAction* action, const char* name) -> QToolButton* {
    if (!action) return nullptr;
    bar->addAction(action);
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
    if (button) button->setObjectName(QString::fromLatin1(name));
    return button;
  };
  frameNewMailTop1->btnSend = add(commands_.Send, "btnSend");
  frameNewMailTop1->btnSaveToDrafts = add(commands_.SaveToDrafts, "btnSaveToDrafts");
  add(acAttachFile, "btnAttachFile");
  btnAddressBook = add(commands_.ContactsBook, "btnAddressBook");
  BindSendCommands(commands_.Send, commands_.SaveToDrafts);
}

void TfrmNewMail::showEvent(QShowEvent* event) {
  TNewForm::showEvent(event);
  FitAttachmentList();
}

// Attachments -----------------------------------------------------------

bool TfrmNewMail::IsAlreadyAttached(const QString& path) const {
  for (int i = 0; i < lvFileAttachments->count(); ++i)
    if (lvFileAttachments->item(i)
            ->data(Qt::UserRole)
            .toString()
            .compare(path, Qt::CaseInsensitive) == 0)
      return true;
  return false;
}

void TfrmNewMail::AddAttachmentItem(const qovra::TMailAttachmentInfo& info) {
  qovra::ui::AddAttachmentRow(lvFileAttachments, info);
  Modified = true;
}

void TfrmNewMail::ShowAttachments() {
  lvFileAttachments->show();
  splitMain->handle(1)->show();
  FitAttachmentList();
}

void TfrmNewMail::FitAttachmentList() {
  if (lvFileAttachments->isHidden()) return;
  // Wide enough for the longest caption, at most half the window.
  int wanted = 0;
  for (int i = 0; i < lvFileAttachments->count(); ++i)
    wanted = std::max(wanted, lvFileAttachments->sizeHintForColumn(0));
  wanted += 2 * lvFileAttachments->frameWidth() +
            lvFileAttachments->verticalScrollBar()->sizeHint().width();
  const QList<int> sizes = splitMain->sizes();
  const int total = sizes.value(0) + sizes.value(1);
  const int list = std::min(wanted, total / 2);
  if (total > 0 && list > sizes.value(1)) splitMain->setSizes({total - list, list});
}

void TfrmNewMail::AttachFiles(const QStringList& paths) {
  qovra::compose::TAttachRefusals refusals;
  for (const QString& p : paths) {
    const std::u16string path = p.toStdU16String();
    const int64_t size = qovra::GetFileSizeW(path);
    const qovra::compose::TAttachCheck check =
        qovra::compose::CheckAttachment(path, size, IsAlreadyAttached(p));
    if (check != qovra::compose::TAttachCheck::Accepted) {
      refusals.Add(check, path);
      continue;
    }
    qovra::TMailAttachmentInfo info;
    info.FileName = path;
    info.DataOffset = 0;
    info.DataSize = size;
    AddAttachmentItem(info);
  }
  const std::string text = refusals.MessageText();
  if (!text.empty())
    (void)qovra::ShowMessageText(qovra::ui::HandleOf(this), text, qovra::kMsgIconWarning);
  ShowAttachments();
}

void TfrmNewMail::AddReaderAttachment(const qovra::TMailAttachmentInfo& info) {
  AddAttachmentItem(info);
  ShowAttachments();
}

std::vector<qovra::TMailAttachmentInfo> TfrmNewMail::Attachments() const {
  std::vector<qovra::TMailAttachmentInfo> rows;
  for (int i = 0; i < lvFileAttachments->count(); ++i)
    rows.push_back(qovra::ui::AttachmentOfRow(lvFileAttachments->item(i)));
  return rows;
}

int TfrmNewMail::AttachmentCount() const {
  return lvFileAttachments->count();
}

int64_t TfrmNewMail::AttachmentBytes() const {
  int64_t sum = 0;
  for (const qovra::TMailAttachmentInfo& row : Attachments()) sum += row.DataSize;
  return sum;
}

void TfrmNewMail::acAttachFileExecute() {
  std::optional<QStringList> chosen;
  if (AttachChooser()) {
    chosen = AttachChooser()(this);
  } else {
    QFileDialog dialog(this, QString::fromStdString(qovra::GetMsg("odAttachFiles")));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(QStringLiteral("*"));
    if (dialog.exec() == QDialog::Accepted) chosen = dialog.selectedFiles();
  }
  if (!chosen) return;
  AttachFiles(*chosen);
}

void TfrmNewMail::DeleteItems(const QList<QListWidgetItem*>& items) {
  for (QListWidgetItem* item : items) {
    delete item;
    Modified = true;
  }
}

void TfrmNewMail::acDeleteSelectedExecute() {
  DeleteItems(lvFileAttachments->selectedItems());
}

void TfrmNewMail::acDeleteAllExecute() {
  QList<QListWidgetItem*> all;
  for (int i = 0; i < lvFileAttachments->count(); ++i) all.push_back(lvFileAttachments->item(i));
  DeleteItems(all);
}

void TfrmNewMail::acOpenExecute() {
  const QListWidgetItem* item = qovra::ui::SelectedAttachmentRow(lvFileAttachments);
  if (!item) return;
  const qovra::TMailAttachmentInfo info = qovra::ui::AttachmentOfRow(item);
  if (info.DataOffset == 0) {
    (void)qovra::ui::OpenAttachmentFile(this, qovra::Utf16ToUtf8(info.FileName.view()));
    return;
  }
  if (!Reader) return;
  if (StatusBusy) StatusBusy(QString::fromStdString(qovra::GetMsg("msgOpeningAttachment")));
  const std::string file =
      qovra::ui::ExtractToTemp(*Reader, info.DataOffset, ProgressBar, qovra::ProgressCallback);
  if (StatusReady) StatusReady();
  if (!file.empty()) (void)qovra::ui::OpenAttachmentFile(this, file);
}

void TfrmNewMail::pmEditPopup() {
  const QTextCursor cursor = eMailBody->textCursor();
  const bool has_selection = cursor.hasSelection();
  mnuEditUndo->setEnabled(eMailBody->document()->isUndoAvailable());
  mnuEditCut->setEnabled(has_selection);
  mnuEditCopy->setEnabled(has_selection);
  mnuEditDelete->setEnabled(has_selection);
  const QClipboard* clip = QApplication::clipboard();
  mnuEditPaste->setEnabled(clip && !clip->text().isEmpty());
  mnuEditSelectAll->setEnabled(cursor.selectedText().size() <
                               eMailBody->document()->characterCount() - 1);
}

void TfrmNewMail::pmAttachmentsPopup(const QPoint& pos) {
  const bool on_row = lvFileAttachments->itemAt(pos) != nullptr;
  mnuAddFile->setEnabled(!on_row);
  mnuDeleteFile->setEnabled(!lvFileAttachments->selectedItems().isEmpty());
  mnuDeleteAll->setEnabled(lvFileAttachments->count() > 0);
  mnuOpen->setEnabled(on_row);
}

bool TfrmNewMail::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lvFileAttachments && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_Delete && mods == Qt::NoModifier) {
      acDeleteSelectedExecute();
      return true;
    }
    if (key->key() == Qt::Key_A && mods == Qt::ControlModifier) {
      lvFileAttachments->selectAll();
      return true;
    }
  }
  return TNewForm::eventFilter(watched, event);
}

void TfrmNewMail::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TfrmNewMail::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(url.toLocalFile());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  AttachFiles(paths);
}

// Record and container ----------------------------------------------------

void TfrmNewMail::FillMessage(qovra::TMailMessage* mail, std::string_view recipients,
                              uint16_t flags) {
  TNewForm::FillMessage(mail, recipients, flags);
}

bool TfrmNewMail::WriteMessage(qovra::TStream& stream, std::string_view recipients,
                               void* progress_data, qovra::TProgressProc progress) {
  qovra::TMailWriter writer(stream);
  writer.AddMailHeaders(qovra::Session.OwnContact.Email,
                        frameNewMailTop1->eSubject->text().toStdU16String(), recipients);
  // The text box ends its lines with LF; the mail's body ends them with
  // CR LF.
  QString body = eMailBody->toPlainText();
  body.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  writer.AddField("body", body.toStdString());
  for (const qovra::TMailAttachmentInfo& row : Attachments()) {
    if (row.DataOffset == 0) {
      if (!writer.AddFile(row.FileName.view(), progress, u"", progress_data)) {
        std::fprintf(stderr, "qovra: cannot attach %s\n",
                     qovra::Utf16ToUtf8(row.FileName.view()).c_str());
        return false;
      }
    } else if (Reader && Reader->IndexOfAttachment(row.DataOffset) >= 0) {
      if (!qovra::compose::CopyReaderAttachment(*Reader, row.DataOffset, writer, progress_data,
                                                progress))
        return false;
    }
  }
  return writer.Finish();
}

bool TfrmNewMail::MailIsEmpty() const {
  return eMailBody->toPlainText().isEmpty() && frameNewMailTop1->eTo->text().isEmpty() &&
         frameNewMailTop1->eSubject->text().isEmpty() && lvFileAttachments->count() == 0;
}

bool TfrmNewMail::ConfirmClose() {
  if (!Modified || MailIsEmpty()) return true;
  const int answer = qovra::AskYesNoCancel(qovra::ui::HandleOf(this), "msgSaveToDraftsPrompt");
  if (answer == qovra::kMsgResultNo) return true;
  if (answer == qovra::kMsgResultYes) {
    // A saved draft has closed the window (result 4) already.
    if (commands_.SaveToDrafts)
      commands_.SaveToDrafts->trigger();
    else
      qovra::ui::ShowNotAvailable(this, QString());
  }
  return false;
}
