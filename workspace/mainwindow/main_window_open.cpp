// TfrmMain: opening the selected mail (a viewer, or a compose window on a
// working copy for a mail never sent or received) and the signature
// details of the open viewer.
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QToolButton>
#include <cerrno>
#include <filesystem>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/secure_wipe.h"
#include "base/stream_copy.h"
#include "mail/mail_open.h"
#include "mail/signature_check.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/folder_tree.h"
#include "qovra/workspace/mail_list_model.h"
#include "qovra/workspace/main_actions.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"
#include "qovra/workspace/new_voice_mail.h"
#include "qovra/workspace/sign_details.h"
#include "qovra/workspace/view_mail.h"
#include "qovra/workspace/view_voice_mail.h"

namespace {

namespace fs = std::filesystem;

std::string MailPath(const qovra::TMailMessage& mail, qovra::MailFileKind kind) {
  return qovra::MessagesDir + qovra::MailFileName(mail.Uuid.view(), kind);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// Copies the mail file to its working copy (0600) with progress on bar;
// empty when done, else why not.
std::string MakeWorkingCopy(const std::string& mail_file, const std::string& copy, void* bar) {
  qovra::TEFileStream in(mail_file, /*silent=*/true, false, qovra::fmOpenRead);
  if (!in.Opened()) return mail_file + ": " + qovra::SystemErrorText(errno);
  qovra::TEFileStream out(copy, /*silent=*/true, false, qovra::fmCreate);
  if (!out.Opened()) return copy + ": " + qovra::SystemErrorText(errno);
  errno = 0;
  const int64_t size = in.Size();
  const int64_t copied = qovra::CopyStreamWithProgress(in, out, qovra::ProgressCallback, bar);
  if (size < 0 || copied != size)
    return "copied " + std::to_string(copied) + " of " + std::to_string(size) + " bytes" +
           (errno != 0 ? " (" + qovra::SystemErrorText(errno) + ")" : "");
  return {};
}

}  // namespace

int TfrmMain::acMailOpenExecute() {
  if (active_form_kind_ != TActiveFormKind::None) return 0;
  std::optional<qovra::TMailMessage> selected = SelectedMailCopy();
  if (!selected || !tvMain->currentItem()) return 0;
  qovra::TMailMessage mail = *selected;
  void* bar = static_cast<QWidget*>(pnlStatusBar->pbStatus);
  const bool admin = (mail.Flags & qovra::mfAdminOnly) != 0;
  const std::string emz = MailPath(mail, qovra::MailFileKind::Container);
  const std::string file = admin ? MailPath(mail, qovra::MailFileKind::Enciphered) : emz;
  if (!Exists(file)) {
    bool converted = false;
    if (admin && Exists(emz)) {
      StatusBusy(QString::fromStdString(qovra::GetMsg("msgOpeningMail")));
      converted = qovra::ConvertAdminMail(mail, bar, qovra::ProgressCallback);
      StatusReady();
      // Its sealed key and size are new: the list's record must follow.
      if (converted) RefreshMailRow(mail.Id);
    }
    if (!converted) {
      qovra::ShowWarning(qovra::ui::HandleOf(this), "msgMailContentNotFound");
      return 0;
    }
  }
  if ((mail.Flags & (qovra::mfSent | qovra::mfReceived)) == 0) return ReopenUnsentMail(mail);
  return ShowMailViewer(mail, file);
}

int TfrmMain::ShowMailViewer(qovra::TMailMessage& mail, const std::string& file) {
  TViewCommands commands;
  commands.Reply = alMain->acMailReply;
  commands.Forward = alMain->acMailForward;
  commands.Print = alMain->acMailPrint;
  commands.SaveAs = alMain->acMailSaveAs;
  commands.SaveAttachments = alMain->acMailAttachmentsSave;
  commands.SignDetails = alMain->acMailSignDetails;
  if ((mail.Flags & qovra::mfVoice) != 0) {
    // A recording has no text to print or to save as text.
    commands.Print = nullptr;
    commands.SaveAs = nullptr;
    TfrmViewVoiceMail form(commands, this);
    QIcon icon;
    icon.addPixmap(imglistMain32.Pixmap(qovra::ui::kImgMailVoiceSave), QIcon::Normal);
    icon.addPixmap(imglistDisable32.Pixmap(qovra::ui::kImgMailVoiceSave), QIcon::Disabled);
    form.SetSaveVoiceIcon(icon);
    return RunMailViewer(form, mail, file, TActiveFormKind::VoiceViewer);
  }
  TfrmViewMail form(commands, this);
  return RunMailViewer(form, mail, file, TActiveFormKind::TextViewer);
}

int TfrmMain::RunMailViewer(TViewForm& form, qovra::TMailMessage& mail, const std::string& file,
                            TActiveFormKind kind) {
  const bool admin = (mail.Flags & qovra::mfAdminOnly) != 0;
  void* bar = static_cast<QWidget*>(pnlStatusBar->pbStatus);
  form.StatusBusy = [this](const QString& text) { StatusBusy(text); };
  form.StatusReady = [this] { StatusReady(); };
  form.ProgressBar = bar;
  connect(form.GetFooterFrame()->wlSignature, &qovra::ui::TWebLink::OnClick,
          alMain->acMailSignDetails, &QAction::trigger);

  qovra::THashValue admin_hash{};
  if (admin) {
    auto memory = std::make_unique<qovra::TMemoryStream>();
    if (!qovra::DecryptAdminMail(mail, *memory, &admin_hash, bar, qovra::ProgressCallback)) {
      qovra::ShowWarning(qovra::ui::HandleOf(this), "msgCannotDecryptMail");
      return 0;
    }
    form.MailStream = std::move(memory);
  } else {
    auto stream =
        std::make_unique<qovra::TEFileStream>(file, /*silent=*/false, false, qovra::fmOpenRead);
    if (!stream->Opened()) return 0;
    form.MailStream = std::move(stream);
  }
  form.Reader = std::make_unique<qovra::TMailReader>(*form.MailStream);
  // Read where it lies: the stream lives as long as the reader.
  form.Reader->SetReadInPlace(true);
  StatusBusy(QString::fromStdString(qovra::GetMsg("msgParsingMail")));
  if (!form.Reader->Parse(qovra::ProgressCallback, bar)) {
    std::fprintf(stderr, "qovra: mail %s: %s\n", mail.Uuid.str().c_str(),
                 form.Reader->Error().c_str());
    StatusReady();
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgMailFileCorrupted");
    return 0;
  }
  StatusReady();
  form.FillFromReader();

  if ((mail.Flags & qovra::mfBadSignature) == 0) {
    bool busy = false;
    form.Signature = qovra::ReadMailSignature(
        MailPath(mail, qovra::MailFileKind::Signature), /*silent=*/true, [&] {
          StatusBusy(QString::fromStdString(qovra::GetMsg("msgParsingSignature")));
          busy = true;
        });
    if (busy) StatusReady();
    if (form.Signature.Corrupt)
      qovra::ShowWarning(qovra::ui::HandleOf(this), "msgSignatureFileCorrupted");
  }
  qovra::TStream& stream = *form.MailStream;
  const auto data_hash = [&](qovra::THashValue* out) {
    if (admin) {
      *out = admin_hash;
      return true;
    }
    StatusBusy(QString::fromStdString(qovra::GetMsg("msgVerifying")));
    const bool hashed = stream.Seek(0, qovra::SeekOrigin::Beginning) == 0 &&
                        qovra::HashStream(stream, nullptr, out, bar, qovra::ProgressCallback) > 0;
    StatusReady();
    return hashed;
  };
  form.Check = qovra::CheckMailSignature(form.Signature,
                                         {.Flags = mail.Flags, .CheckValidity = true}, data_hash);
  form.Mail = mail;
  form.ShowSignatureStatus();
  // Status texts go to the viewer's footer while it is open.
  TframeViewMailFooter* footer = form.GetFooterFrame();
  const qovra::ui::TStatusLabelScope status_label(*pnlStatusBar,
                                                  footer ? footer->lblStatus : nullptr);

  bool read_now = false;
  if (qovra::ReadReceiptDue(form.Mail)) {
    const qovra::TCommandOwner owner{qovra::ui::HandleOf(this), "TfrmMain", bar};
    read_now = qovra::SendReadReceipt(owner, form.Mail);
  } else if (qovra::LocalReadDue(form.Mail)) {
    read_now = qovra::MarkReadLocally(form.Mail);
  }
  if (read_now) {
    RefreshFolderCounters();
    RefreshMailRow(form.Mail.Id);
  }

  const TActiveFormScope scope(*this, kind);
  frmView_ = qobject_cast<TfrmViewMail*>(&form);
  frmViewVoice_ = qobject_cast<TfrmViewVoiceMail*>(&form);
  const int result = form.exec();
  frmView_ = nullptr;
  frmViewVoice_ = nullptr;
  return result;
}

void TfrmMain::PresetReopenedForm(TNewForm& form, qovra::TMailMessage& mail,
                                  qovra::TMailReader& reader, qovra::TStream& stream) {
  TframeNewMailTop* top = form.GetTopFrame();
  top->eTo->setText(QString::fromStdString(reader.To()));
  top->eSubject->setText(QString::fromStdU16String(reader.Subject()));
  top->lbContacts->hide();
  top->btnReceiveReport->setChecked((mail.Flags & qovra::mfDeliveryReport) != 0);
  top->btnReadReport->setChecked((mail.Flags & qovra::mfReadReport) != 0);
  form.mnuReceiveReport->setChecked(top->btnReceiveReport->isChecked());
  form.mnuReadReport->setChecked(top->btnReadReport->isChecked());
  (mail.SendMode == qovra::kSendModeFast ? form.mnuFastSend : form.mnuSecureSend)->trigger();
  (mail.Priority == qovra::kPriorityHigh     ? form.mnuHighPriority
   : mail.Priority == qovra::kPriorityNormal ? form.mnuNormalPriority
                                             : form.mnuLowPriority)
      ->trigger();
  form.Reader = &reader;
  form.Mail = &mail;
  form.MailStream = &stream;
  form.WriteContent = false;
  form.ContentPreset = false;
  form.Modified = CurrentFolder().FolderId == qovra::kFolderDrafts;
  StatusReady();
}

int TfrmMain::ReopenUnsentMail(qovra::TMailMessage& mail) {
  if ((mail.Flags & qovra::mfAdminOnly) != 0) {
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgCouldNotEditMailForAdministrativeUse");
    return 0;
  }
  void* bar = static_cast<QWidget*>(pnlStatusBar->pbStatus);
  const std::string emz = MailPath(mail, qovra::MailFileKind::Container);
  const std::string copy = MailPath(mail, qovra::MailFileKind::DraftCopy);
  std::error_code ec;
  fs::remove(copy, ec);
  StatusBusy(QString::fromStdString(qovra::GetMsg("msgOpeningMail")));
  const std::string reason = MakeWorkingCopy(emz, copy, bar);
  StatusReady();
  if (!reason.empty()) {
    std::fprintf(stderr, "qovra: working copy of %s: %s\n", emz.c_str(), reason.c_str());
    fs::remove(copy, ec);
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgCannotCopyMailForEditing");
    return 0;
  }
  int result = 0;
  {
    qovra::TEFileStream stream(copy, /*silent=*/false, false, qovra::fmOpenReadWrite);
    if (!stream.Opened()) {
      StatusReady();
      fs::remove(copy, ec);
      return 0;
    }
    qovra::TMailReader reader(stream);
    StatusBusy(QString::fromStdString(qovra::GetMsg("msgParsingMail")));
    const bool parsed = reader.Parse(qovra::ProgressCallback, bar);
    StatusReady();
    if (!parsed) {
      qovra::ShowWarning(qovra::ui::HandleOf(this), "msgMailFileCorrupted");
    } else if ((mail.Flags & qovra::mfVoice) != 0) {
      const TActiveFormScope scope(*this, TActiveFormKind::VoiceCompose);
      TfrmNewVoiceMail form(ComposeCommands(), this);
      PresetReopenedForm(form, mail, reader, stream);
      UseReaderVoice(form, reader);
      result = RunVoiceComposeForm(form);
    } else {
      const TActiveFormScope scope(*this, TActiveFormKind::TextCompose);
      TComposeCommands commands;
      commands.Send = alMain->acMailSend;
      commands.SaveToDrafts = alMain->acMailSaveToDrafts;
      commands.ContactsBook = alMain->acToolsContactsBook;
      TfrmNewMail form(commands, this);
      BindComposeStatus(form);
      frmNewMail_ = &form;
      form.eMailBody->setPlainText(QString::fromStdU16String(reader.Body()));
      for (const qovra::TMailAttachmentInfo& info : reader.Attachments())
        form.AddReaderAttachment(info);
      PresetReopenedForm(form, mail, reader, stream);
      result = form.exec();
      frmNewMail_ = nullptr;
      if (result == 1) {
        RefreshFolderCounters();
        SelectFolder(qovra::kFolderSent);
      } else if (result == 4) {
        RefreshFolderCounters();
        SelectFolder(qovra::kFolderDrafts);
      }
    }
  }
  // A mail stored for administrative use (by a send, whatever came of it)
  // keeps no plain copy of its own: the working copy is wiped, never put
  // back as the mail file.
  if ((mail.Flags & qovra::mfAdminOnly) != 0)
    (void)qovra::WipeAndDeleteFile(copy, /*wipe=*/true);
  else if (Exists(emz))
    fs::remove(copy, ec);
  else
    fs::rename(copy, emz, ec);
  return result;
}

void TfrmMain::RefreshMailRow(int32_t id) {
  if (model->ReloadRow(qovra::MailDb, id)) UpdateSelectionActions();
}

void TfrmMain::acMailSignDetailsExecute() {
  if (TViewForm* viewer = OpenViewer()) qovra::ui::ShowSignatureDetails(*viewer);
}
