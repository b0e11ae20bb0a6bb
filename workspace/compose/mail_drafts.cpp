// Saving a compose window's mail to drafts (mail_drafts.h).
#include "qovra/workspace/mail_drafts.h"

#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QToolButton>
#include <cstdio>
#include <memory>
#include <string>

#include "base/address_list.h"
#include "base/file_stream.h"
#include "base/messages.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "net/xml_maker_addresses.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/compose_rules.h"
#include "qovra/workspace/new_form.h"
#include "qovra/workspace/new_mail_top.h"
#include "settings/settings.h"
#include "store/mail_db.h"

namespace qovra::compose {

namespace {

void SetFlag(TMailMessage& mail, uint16_t flag, bool on) {
  mail.Flags = static_cast<uint16_t>(on ? (mail.Flags | flag) : (mail.Flags & ~flag));
}

// Writes the container into the preset stream from its start and cuts it
// to the bytes written.
bool WritePreset(TNewForm& form, TStream& stream, const std::string& list,
                 const TDraftSource& source) {
  if (stream.Seek(0, SeekOrigin::Beginning) != 0) return false;
  if (!form.WriteMessage(stream, list, source.ProgressData, source.Progress)) return false;
  const int64_t end = stream.Seek(0, SeekOrigin::Current);
  return end >= 0 && stream.SetSize(end);
}

TDraftResult Fail(TNewForm& form, const char* what) {
  std::fprintf(stderr, "qovra: draft not saved: %s\n", what);
  ShowWarning(ui::HandleOf(&form), "msgCannotSaveDraft");
  return TDraftResult::Failed;
}

TDraftResult WriteDraft(TNewForm& form, TframeNewMailTop& top, TMailMessage& mail,
                        const TDraftSource& source) {
  const std::string list = NormalizeAddressList(top.eTo->text().toStdString());
  uint16_t kind = source.KindFlags;
  if (!kind && source.AttachmentRows > 0) kind = mfAttachments;
  const TMailMessage before = mail;
  // The kind bits describe what is written now, not what the mail held.
  mail.Flags = static_cast<uint16_t>(mail.Flags & ~(mfAttachments | mfVoice));
  form.FillMessage(&mail, list, kind);

  const std::string path = MessagesDir + std::string(mail.Uuid.view()) + ".emz";
  std::unique_ptr<TEFileStream> own_stream;
  TStream* stream = nullptr;
  if (form.ContentPreset && form.MailStream) {
    stream = form.MailStream;
    if (!WritePreset(form, *stream, list, source)) {
      mail = before;
      return Fail(form, "the forwarded copy could not be rewritten");
    }
  } else {
    auto write = [&form, &list, &source](TStream& s) {
      return form.WriteMessage(s, list, source.ProgressData, source.Progress);
    };
    const TContainerWrite written = WriteContainerFile(path, write, own_stream);
    if (written != TContainerWrite::Written) {
      mail = before;
      // A file that could not be created was shown by the stream already.
      if (written == TContainerWrite::NotCreated) return TDraftResult::Failed;
      return Fail(form, written == TContainerWrite::TooBig ? "too big" : "write failed");
    }
    stream = own_stream.get();
  }

  mail.FolderId = kFolderDrafts;
  mail.Priority = static_cast<uint8_t>(top.PriorityTag());
  mail.SendMode = static_cast<uint8_t>(top.SendingModeTag());
  SetFlag(mail, mfDeliveryReport, top.btnReceiveReport->isChecked());
  SetFlag(mail, mfReadReport, top.btnReadReport->isChecked());
  mail.MailSize = stream->Size();
  if (!form.WriteContent) mail.Suid = "";
  if (source.StatusBusy) source.StatusBusy("msgSaving");
  const int32_t id = SaveMailToDatabase(MailDb, mail, Session.OwnContact.Email, source.Progress,
                                        source.ProgressData, false);
  if (source.StatusReady) source.StatusReady();
  if (id <= 0) {
    std::fprintf(stderr, "qovra: cannot store the draft: %s\n", MailDb.LastError().c_str());
    // A mail never stored before leaves no file without a row.
    if (before.Id == 0 && !form.ContentPreset) {
      own_stream.reset();
      (void)::unlink(path.c_str());
    }
    mail = before;
    return Fail(form, "database");
  }
  mail.Id = id;
  form.Modified = false;
  form.done(4);
  return TDraftResult::Saved;
}

}  // namespace

TDraftResult SaveComposedToDrafts(TNewForm& form, const TDraftSource& source) {
  TframeNewMailTop* top = form.GetTopFrame();
  TMailMessage* mail = form.Mail;
  if (!top || !mail) return TDraftResult::Refused;
  if (top->chkFAU->isChecked()) {
    ShowWarning(ui::HandleOf(&form), "msgCouldNotSaveMailForAdministrativeUseOnly");
    return TDraftResult::Refused;
  }
  if (!form.Modified && source.Empty && top->eTo->text().isEmpty() &&
      top->eSubject->text().isEmpty()) {
    ShowWarning(ui::HandleOf(&form), "msgCannotSaveEmptyMail");
    return TDraftResult::Refused;
  }
  // A new mail (also a reply or a forward) has no file of its own yet.
  if (form.Modified || form.WriteContent) return WriteDraft(form, *top, *mail, source);
  TMailMessage changed = *mail;
  bool any = false;
  if (changed.FolderId == kFolderTrash) {
    changed.FolderId = kFolderDrafts;
    any = true;
  }
  if (changed.Priority != top->PriorityTag()) {
    changed.Priority = static_cast<uint8_t>(top->PriorityTag());
    any = true;
  }
  if (changed.SendMode != top->SendingModeTag()) {
    changed.SendMode = static_cast<uint8_t>(top->SendingModeTag());
    any = true;
  }
  for (auto [flag, button] : {std::pair{mfDeliveryReport, top->btnReceiveReport},
                              std::pair{mfReadReport, top->btnReadReport}}) {
    if (((changed.Flags & flag) != 0) != button->isChecked()) {
      SetFlag(changed, flag, button->isChecked());
      any = true;
    }
  }
  if (!any) {
    form.done(2);
    return TDraftResult::Unchanged;
  }
  bool existed = false;
  const int32_t id =
      SaveMailHeader(MailDb, changed, source.Progress, source.ProgressData, false, existed);
  if (id <= 0) {
    std::fprintf(stderr, "qovra: cannot store the draft's header: %s\n",
                 MailDb.LastError().c_str());
    return Fail(form, "database");
  }
  changed.Id = id;
  *mail = changed;
  form.done(4);
  return TDraftResult::Saved;
}

}  // namespace qovra::compose
