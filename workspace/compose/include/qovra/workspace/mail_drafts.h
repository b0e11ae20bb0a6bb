// The main window's Save-to-drafts command for an open compose window.
//
// In order: a mail marked for administrative use is refused
// ("msgCouldNotSaveMailForAdministrativeUseOnly"); an unedited window with
// an empty body, no attachment, no recipients and no subject is refused
// ("msgCannotSaveEmptyMail"). When the window was edited (Modified) or
// holds a mail without a file of its own (WriteContent: a new mail, a
// reply, a forward), the container is written and the mail stored in the
// Drafts folder: into MailStream (rewound, truncated to the bytes written)
// when ContentPreset, else to <uuid>.emz through a temporary file renamed
// only after a complete write; the flag word's kind bits (mfAttachments,
// mfVoice) then say what was written. Otherwise (a reopened mail left unedited) a
// change of folder (trash to drafts), priority, mode or report flags
// writes the header row only; no change closes the window with result 2.
//
// Departures kept on purpose: an unedited new mail, reply or forward is
// written too (else only a header row would be stored, for a file that
// does not exist or, for a forward, still holds the source mail). A failed
// write or database save never closes the window as saved: the
// half-written file is removed, the old file and row are kept,
// "msgCannotSaveDraft" is shown and the window stays open, still Modified.
//
// GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/records.h"

class TNewForm;

namespace qovra::compose {

// What the command reads from a window beyond TNewForm, and where it
// reports.
struct TDraftSource {
  // Nothing to save: for the text window an empty body and no rows.
  bool Empty = true;
  // Rows in the attachment list (text window); sets mfAttachments.
  int AttachmentRows = 0;
  // mfVoice for the voice window, else 0.
  uint16_t KindFlags = 0;
  // The main window's status line while the row is stored (may be empty).
  std::function<void(const std::string& key)> StatusBusy;
  std::function<void()> StatusReady;
  // Progress of the writing and storing (may be null).
  TProgressProc Progress = nullptr;
  void* ProgressData = nullptr;
};

enum class TDraftResult {
  Saved,      // written or header stored; the window closed with 4
  Unchanged,  // nothing to write; the window closed with 2
  Refused,    // administrative use or empty; the window stays open
  Failed,     // the write or the store failed (shown); the window stays open
};

TDraftResult SaveComposedToDrafts(TNewForm& form, const TDraftSource& source);

}  // namespace qovra::compose
