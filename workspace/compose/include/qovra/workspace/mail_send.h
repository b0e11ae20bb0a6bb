// The main window's Send command for an open compose window: checks and
// normalises the recipients, writes the container to the messages folder
// through a temporary file and stores the mail in the outbox, asks about
// an empty subject, then hands the mail to the core's sending steps
// (RunSendSteps: certificates, checks, fast-mode offer, send, record,
// result) and offers the recipients that the address book does not know.
//
// The priority and both report buttons are taken at every send, also for
// a reopened mail sent unedited, whose header row then takes them when they
// changed (as Save to drafts stores them). The flag word's kind bits
// (mfAttachments, mfVoice) come from what the window holds now: a voice
// mail carries mfVoice alone. A failed store of the row, before anything
// is sent, stops the command with "msgDatabaseError"; a new mail's file is
// then removed. Once the send began, the accepted recipients the address
// book does not know are offered, whatever came of the send. The plain
// container of a mail for administrative use is wiped and deleted once the
// send began and kept the enciphered copy (<uuid>.eme); nothing reads it
// after that (such a mail is never reopened, and the list's commands treat
// it as having no container).
//
// Departures kept on purpose: a container that would pass
// kMaxContainerSize is refused ("msgMailTooBig"); a failed write leaves an
// earlier copy of the mail's file as it was ("msgCannotWriteMail"); the
// window stays Modified unless the send completed for every recipient; a
// reopened mail whose box for administrative use was changed is written
// and stored again like an edited one, so that the box is never silently
// ignored.
//
// GUI thread only.
#pragma once

#include <cstdint>

class QWidget;
class TNewForm;

namespace qovra::compose {

// What the command reads from a window beyond TNewForm.
struct TSendSource {
  // Rows in the attachment list (text window); sets mfAttachments. The
  // voice window leaves it 0: its recording is told by mfVoice alone.
  int AttachmentRows = 0;
  // Bytes of the attached files, checked against the container limit
  // before anything is written.
  int64_t AttachmentBytes = 0;
  // The flag word's kind bits: mfVoice for the voice window.
  uint16_t KindFlags = 0;
};

// Runs the command on form. True when the mail was sent (the form's result
// is then 1 and it is closed); false leaves the window open.
bool SendComposedMail(TNewForm& form, const TSendSource& source);

}  // namespace qovra::compose
