// TfrmMain: delete, reply, forward, save as and save to drafts.
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QToolButton>
#include <cstdio>
#include <memory>
#include <string>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "base/utf.h"
#include "keys/random_text.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "platform/file_utils.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/mail_commands.h"
#include "qovra/workspace/mail_drafts.h"
#include "qovra/workspace/mail_list_model.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"
#include "qovra/workspace/new_voice_mail.h"
#include "qovra/workspace/view_mail.h"
#include "qovra/workspace/view_voice_mail.h"
#include "settings/settings.h"
#include "store/mail_container_reader.h"
#include "store/mail_db.h"

namespace {

TfrmMain::TSaveAsChooser& SaveAsChooser() {
  static TfrmMain::TSaveAsChooser chooser;
  return chooser;
}

QString Msg(std::string_view key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

// The status bar's list progress bar as a TProgressProc.
void StatusBarProgress(void* data, int64_t total, int64_t done) {
  auto* bar = static_cast<qovra::ui::TMainStatusBar*>(data);
  if (bar) bar->SetBarProgress(bar->pbStatus, done, total);
}

// A list mail's file opened read-only and parsed.
struct TParsedMail {
  std::unique_ptr<qovra::TEFileStream> Stream;
  std::unique_ptr<qovra::TMailReader> Reader;
};

std::string MailFilePath(const qovra::TMailMessage& mail) {
  return qovra::MessagesDir + std::string(mail.Uuid.view()) + ".emz";
}

// Save to drafts reporting on the main window's status line and bar.
qovra::compose::TDraftSource DraftSourceOf(TfrmMain& window) {
  qovra::compose::TDraftSource source;
  source.StatusBusy = [&window](const std::string& key) { window.StatusBusy(Msg(key)); };
  source.StatusReady = [&window] { window.StatusReady(); };
  source.Progress = StatusBarProgress;
  source.ProgressData = window.pnlStatusBar;
  return source;
}

}  // namespace

void TfrmMain::SetSaveAsChooser(TSaveAsChooser chooser) {
  SaveAsChooser() = std::move(chooser);
}

void TfrmMain::ConnectMailCommands() {
  auto* a = alMain;
  connect(a->acMailDelete, &QAction::triggered, this, [this] { (void)acMailDeleteExecute(); });
  connect(a->acMailReply, &QAction::triggered, this, [this] {
    if (auto source = CurrentSource()) (void)ReplyToMail(*source, /*voice=*/false);
  });
  connect(a->acMailReplyVoice, &QAction::triggered, this, [this] {
    if (auto source = CurrentSource()) (void)ReplyToMail(*source, /*voice=*/true);
  });
  connect(a->acMailForward, &QAction::triggered, this, [this] {
    if (auto source = CurrentSource()) (void)ForwardMail(*source);
  });
  connect(a->acMailSaveAs, &QAction::triggered, this, [this] {
    if (auto source = CurrentSource()) (void)SaveMailAs(*source);
  });
  connect(a->acMailSaveToDrafts, &QAction::triggered, this,
          [this] { (void)acMailSaveToDraftsExecute(); });
}

std::optional<TfrmMain::TMailSource> TfrmMain::ListSource() const {
  std::optional<qovra::TMailMessage> mail = SelectedMailCopy();
  if (!mail) return std::nullopt;
  TMailSource source;
  source.Mail = *mail;
  return source;
}

TViewForm* TfrmMain::OpenViewer() const {
  if (active_form_kind_ == TActiveFormKind::TextViewer) return frmView_;
  if (active_form_kind_ == TActiveFormKind::VoiceViewer) return frmViewVoice_;
  return nullptr;
}

std::optional<TfrmMain::TMailSource> TfrmMain::ViewerSource() const {
  TViewForm* viewer = OpenViewer();
  if (!viewer) return std::nullopt;
  TMailSource source;
  source.Mail = viewer->Mail;
  source.Reader = viewer->Reader.get();
  source.Stream = viewer->MailStream.get();
  source.Viewer = viewer;
  source.Kind = active_form_kind_;
  return source;
}

std::optional<TfrmMain::TMailSource> TfrmMain::CurrentSource() const {
  if (std::optional<TMailSource> source = ViewerSource()) return source;
  return ListSource();
}

// Delete -----------------------------------------------------------------

bool TfrmMain::acMailDeleteExecute() {
  if (!qovra::MailDb.IsOpen()) return false;
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return false;
  const int32_t folder = CurrentFolder().FolderId;
  const bool from_trash = folder == qovra::kFolderTrash;
  if (from_trash &&
      !qovra::AskYesNo(qovra::ui::HandleOf(lvMain),
                       rows.size() == 1 ? "msgConfirmDeleteMail" : "msgConfirmDeleteMails"))
    return false;
  std::vector<qovra::mailcmd::TDeleteTarget> mails;
  mails.reserve(rows.size());
  for (int row : rows) {
    const qovra::ui::TMailListRow& r = model->Row(row);
    mails.push_back({r.Id, r.Uuid});
  }
  StatusBusy(Msg("msgDeleting"));
  std::string error;
  const bool deleted = qovra::mailcmd::DeleteMails(
      qovra::MailDb, from_trash, mails, qovra::MessagesDir, StatusBarProgress, pnlStatusBar, error);
  StatusReady();
  if (!deleted) {
    std::fprintf(stderr, "qovra: cannot delete mails: %s\n", error.c_str());
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgCannotDeleteMails");
    return false;
  }
  FillMailList(folder, false);
  RefreshFolderCounters();
  return true;
}

// Reading a source --------------------------------------------------------

namespace {}  // namespace

bool TfrmMain::ListMailHasContainer(const qovra::TMailMessage& mail) {
  // A mail for administrative use is read only in its viewer, deciphered
  // there: from the list it has no container, whatever file lies beside.
  if ((mail.Flags & qovra::mfAdminOnly) == 0) return true;
  qovra::ShowWarning(qovra::ui::HandleOf(this), "msgMailContentNotFound");
  return false;
}

namespace {

// Opens and parses the list mail's file; false after a warning.
bool OpenListMail(TfrmMain& window, const qovra::TMailMessage& mail, TParsedMail& parsed) {
  const qovra::TWindowHandle owner = qovra::ui::HandleOf(&window);
  if (!window.ListMailHasContainer(mail)) return false;
  parsed.Stream =
      std::make_unique<qovra::TEFileStream>(MailFilePath(mail), /*silent=*/true,
                                            /*delete_on_free=*/false, qovra::fmOpenRead);
  if (!parsed.Stream->Opened()) {
    qovra::ShowWarning(owner, "msgMailContentNotFound");
    return false;
  }
  parsed.Reader = std::make_unique<qovra::TMailReader>(*parsed.Stream);
  window.StatusBusy(Msg("msgParsingMail"));
  const bool ok = parsed.Reader->Parse(StatusBarProgress, window.pnlStatusBar);
  window.StatusReady();
  if (!ok) {
    std::fprintf(stderr, "qovra: %s: %s\n", MailFilePath(mail).c_str(),
                 parsed.Reader->Error().c_str());
    qovra::ShowWarning(owner, "msgMailFileCorrupted");
    return false;
  }
  return true;
}

}  // namespace

// Compose windows ----------------------------------------------------------

void TfrmMain::BindComposeStatus(TfrmNewMail& form) {
  form.StatusBusy = [this](const QString& text) { StatusBusy(text); };
  form.StatusReady = [this] { StatusReady(); };
  form.ProgressBar = static_cast<QWidget*>(pnlStatusBar->pbStatus);
}

int TfrmMain::RunComposeForm(TfrmNewMail& form) {
  BindComposeStatus(form);
  frmNewMail_ = &form;
  const int result = form.exec();
  frmNewMail_ = nullptr;
  return AfterCompose(result);
}

int TfrmMain::ReplyToMail(const TMailSource& source, bool voice) {
  if (frmNewMail_ || frmNewVoiceMail_) return 0;
  TParsedMail parsed;
  qovra::TMailReader* reader = source.Reader;
  if (!reader) {
    if (!OpenListMail(*this, source.Mail, parsed)) return 0;
    reader = parsed.Reader.get();
  }
  const std::u16string text = qovra::mailcmd::FormatMailAsText(*reader);

  int result = 0;
  if (voice) {
    const TActiveFormScope scope(*this, TActiveFormKind::VoiceCompose);
    TfrmNewVoiceMail form(ComposeCommands(), this);
    qovra::TMailMessage mail;
    PresetNewMail(form, mail);
    TframeNewMailTop* top = form.frameNewMailTop1;
    top->eTo->setText(QString::fromStdString(reader->From()));
    top->eSubject->setText(QStringLiteral("Re: ") + QString::fromStdU16String(reader->Subject()));
    top->lbContacts->hide();
    form.FirstFocus = form.btnRecord;
    result = RunVoiceComposeForm(form);
  } else {
    const TActiveFormScope scope(*this, TActiveFormKind::TextCompose);
    TComposeCommands commands{alMain->acMailSend, alMain->acMailSaveToDrafts,
                              alMain->acToolsContactsBook};
    TfrmNewMail form(commands, this);
    StatusReady();
    qovra::TMailMessage mail;
    mail.FolderId = qovra::kFolderOutbox;
    mail.Uuid = qovra::RandomHexString(16);
    mail.Flags = qovra::mfDeliveryReport | qovra::mfReadReport;
    form.Mail = &mail;
    form.WriteContent = true;
    form.ContentPreset = false;
    form.frameNewMailTop1->btnReceiveReport->setChecked(true);
    form.frameNewMailTop1->btnReadReport->setChecked(true);
    form.frameNewMailTop1->eTo->setText(QString::fromStdString(reader->From()));
    form.frameNewMailTop1->eSubject->setText(QStringLiteral("Re: ") +
                                             QString::fromStdU16String(reader->Subject()));
    form.eMailBody->setPlainText(QString::fromStdU16String(qovra::mailcmd::QuoteForReply(text)));
    form.eMailBody->moveCursor(QTextCursor::Start);
    form.FirstFocus = form.eMailBody;
    result = RunComposeForm(form);
  }
  if (source.Viewer) source.Viewer->done(1);
  active_form_kind_ = source.Kind;
  return result;
}

int TfrmMain::ForwardMail(const TMailSource& source) {
  if (frmNewMail_ || frmNewVoiceMail_) return 0;
  const qovra::TWindowHandle owner = qovra::ui::HandleOf(this);
  if (source.Stream && (source.Mail.Flags & qovra::mfAdminOnly) != 0) {
    qovra::ShowWarning(owner, "msgCouldNotForwardForAdministrativeUseMail");
    return 0;
  }
  if (!source.Stream && !ListMailHasContainer(source.Mail)) return 0;
  qovra::TMailMessage mail;
  mail.FolderId = qovra::kFolderOutbox;
  mail.Uuid = qovra::RandomHexString(16);
  mail.Flags = 0;
  // Removed when destroyed unless the mail was sent or saved.
  auto file = std::make_unique<qovra::TEFileStream>(MailFilePath(mail), /*silent=*/false,
                                                    /*delete_on_free=*/true, qovra::fmCreate);
  if (!file->Opened()) return 0;

  StatusBusy(Msg("msgOpening"));
  std::unique_ptr<qovra::TEFileStream> list_file;
  qovra::TStream* from = source.Stream;
  if (!from) {
    list_file = std::make_unique<qovra::TEFileStream>(MailFilePath(source.Mail), /*silent=*/true,
                                                      /*delete_on_free=*/false, qovra::fmOpenRead);
    if (!list_file->Opened()) {
      StatusReady();
      qovra::ShowWarning(owner, "msgMailContentNotFound");
      return 0;
    }
    from = list_file.get();
  }
  const bool copied = qovra::mailcmd::CopyMailInto(*from, *file, StatusBarProgress, pnlStatusBar);
  list_file.reset();
  StatusReady();
  if (!copied) {
    std::fprintf(stderr, "qovra: cannot copy the mail to %s\n", MailFilePath(mail).c_str());
    qovra::ShowWarning(owner, "msgCannotCopyMail");
    return 0;
  }
  qovra::TMailReader reader(*file);
  StatusBusy(Msg("msgParsingMail"));
  const bool parsed = reader.Parse(StatusBarProgress, pnlStatusBar);
  StatusReady();
  if (!parsed) {
    std::fprintf(stderr, "qovra: %s: %s\n", MailFilePath(source.Mail).c_str(),
                 reader.Error().c_str());
    qovra::ShowWarning(owner, "msgMailFileCorrupted");
    return 0;
  }

  int result = 0;
  if ((source.Mail.Flags & qovra::mfVoice) != 0) {
    // The recording is the source's first attachment, copied when written.
    const TActiveFormScope scope(*this, TActiveFormKind::VoiceCompose);
    TfrmNewVoiceMail form(ComposeCommands(), this);
    UseReaderVoice(form, reader);
    TframeNewMailTop* top = form.frameNewMailTop1;
    top->eTo->clear();
    top->eSubject->setText(QStringLiteral("Fwd: ") + QString::fromStdU16String(reader.Subject()));
    top->lbContacts->hide();
    (source.Mail.SendMode == qovra::kSendModeFast ? form.mnuFastSend : form.mnuSecureSend)
        ->trigger();
    form.Mail = &mail;
    form.MailStream = file.get();
    form.WriteContent = true;
    form.ContentPreset = true;
    result = RunVoiceComposeForm(form);
  } else {
    const TActiveFormScope scope(*this, TActiveFormKind::TextCompose);
    TComposeCommands commands{alMain->acMailSend, alMain->acMailSaveToDrafts,
                              alMain->acToolsContactsBook};
    TfrmNewMail form(commands, this);
    form.eMailBody->setPlainText(QString::fromStdU16String(reader.Body()));
    form.Reader = &reader;
    for (const qovra::TMailAttachmentInfo& info : reader.Attachments())
      form.AddReaderAttachment(info);
    TframeNewMailTop* top = form.frameNewMailTop1;
    top->eTo->clear();
    top->eSubject->setText(QStringLiteral("Fwd: ") + QString::fromStdU16String(reader.Subject()));
    top->mnuFastModeClick(source.Mail.SendMode == qovra::kSendModeFast ? top->mnuFastMode
                                                                       : top->mnuSecureMode);
    form.Mail = &mail;
    form.MailStream = file.get();
    form.WriteContent = true;
    form.ContentPreset = true;
    result = RunComposeForm(form);
  }
  if (result == 1 || result == 4) {
    file->SetDeleteOnFree(false);
    if (source.Viewer) source.Viewer->done(1);
  } else if (qovra::mailcmd::MailRowRefersTo(qovra::MailDb, mail.Uuid.view())) {
    // A send that stopped after storing the mail in the outbox: its row
    // keeps the file.
    file->SetDeleteOnFree(false);
  }
  active_form_kind_ = source.Kind;
  return result;
}

// Save as ------------------------------------------------------------------

bool TfrmMain::SaveMailAs(const TMailSource& source) {
  if (source.Kind == TActiveFormKind::VoiceViewer) return false;
  if (!source.Reader && (source.Mail.Flags & qovra::mfVoice) != 0) return false;
  TParsedMail parsed;
  qovra::TMailReader* reader = source.Reader;
  if (!reader) {
    if (!OpenListMail(*this, source.Mail, parsed)) return false;
    reader = parsed.Reader.get();
  }
  const std::u16string text = qovra::mailcmd::FormatMailAsText(*reader);
  if (text.empty()) return false;
  const QString proposed =
      QString::fromStdU16String(qovra::mailcmd::SaveAsFileName(reader->Subject()));
  QWidget* owner = source.Viewer ? static_cast<QWidget*>(source.Viewer) : this;
  std::optional<QString> chosen;
  if (SaveAsChooser()) {
    chosen = SaveAsChooser()(owner, proposed);
  } else {
    const QString folder =
        QString::fromStdU16String(qovra::GetSpecialFolderW(qovra::kCsidlPersonal));
    const QString path = QFileDialog::getSaveFileName(
        owner, qovra::ui::PlainActionCaption(alMain->acMailSaveAs),
        folder.isEmpty() ? proposed : folder + QLatin1Char('/') + proposed,
        Msg("msgTextFilesFilter"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) chosen = path;
  }
  if (!chosen || chosen->isEmpty()) return false;
  const QFileInfo info(*chosen);
  if (info.exists()) {
    const std::string question =
        qovra::FormatMsgArgs(qovra::GetMsg("msgConfirmOverwrite"), info.fileName().toStdString());
    if (qovra::ShowMessageText(qovra::ui::HandleOf(owner), question, qovra::kMsgIconQuestion | 4) !=
        qovra::kMsgResultYes)
      return false;
  }
  std::string error;
  if (!qovra::mailcmd::WriteMailTextFile(chosen->toStdString(), text, error)) {
    std::fprintf(stderr, "qovra: %s\n", error.c_str());
    qovra::ShowWarning(qovra::ui::HandleOf(owner), "msgCannotSaveTextFile");
    return false;
  }
  return true;
}

// Save to drafts -------------------------------------------------------------

bool TfrmMain::acMailSaveToDraftsExecute() {
  if (frmNewVoiceMail_ && active_form_kind_ == TActiveFormKind::VoiceCompose) {
    if (frmNewVoiceMail_->Busy()) return false;
    qovra::compose::TDraftSource source = DraftSourceOf(*this);
    source.KindFlags = qovra::mfVoice;
    source.Empty = !frmNewVoiceMail_->Recorded();
    return qovra::compose::SaveComposedToDrafts(*frmNewVoiceMail_, source) ==
           qovra::compose::TDraftResult::Saved;
  }
  if (!frmNewMail_ || active_form_kind_ != TActiveFormKind::TextCompose) return false;
  TfrmNewMail& form = *frmNewMail_;
  qovra::compose::TDraftSource source = DraftSourceOf(*this);
  source.AttachmentRows = form.AttachmentCount();
  source.Empty = form.eMailBody->toPlainText().isEmpty() && source.AttachmentRows == 0;
  return qovra::compose::SaveComposedToDrafts(form, source) == qovra::compose::TDraftResult::Saved;
}
