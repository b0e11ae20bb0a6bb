// The check of one downloaded mail and its keeping.
//
// A mail is checked in the order the receiving run reports: its signature
// container and sender certificate, the key (agreed with the sender in
// secure mode, the session key in fast mode), the decryption (unless the
// download deciphered it already), the length, the signature and the
// container. A mail that passes is kept before anything is told to the
// server: an ordinary mail's plain container gets its final name
// MessagesDir/<uuid>.emz (never replacing another file: an existing one is
// taken only when it holds the same bytes), then its row with the subject
// (and, for a mail for administrative use only, whose <uuid>.eme stays, the
// sealed key) is committed in one transaction. Until that commit the mail
// has no row, so a process killed before it leaves at most a file that the
// next run takes over; the temporary files of the check are removed on
// every path (a killed process leaves them to the start-up sweep).
//
// Reads Session (keys), MessagesDir and MailDb. Interface thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/records.h"
#include "commands/account_commands.h"
#include "mail/receiving_download.h"

namespace qovra {

enum class TKeepResult {
  Kept,     // checked and kept: file in place, row and key committed
  Failed,   // a check failed (shown); nothing kept, the ordinary <uuid>.eme removed
  NotKept,  // checked, but the file or the row could not be kept (shown); nothing left
};

struct TKeepRun {
  TCommandOwner Owner;
  bool Silent = false;
  // The progress title of this mail ("msgProcessingMail").
  std::string Title;
  // Called once the checked file has its final name and before the row is
  // committed (fault injection); may be empty.
  std::function<void()> FileKept;
};

// Checks mail (as DownloadMail filled it) and keeps it. plain is its
// container deciphered during the download, or null when the download
// stored <uuid>.eme instead. On Kept, mail.Subject and mail.Id are set.
[[nodiscard]] TKeepResult CheckAndKeepMail(const TKeepRun& run, TMailMessage& mail,
                                           std::unique_ptr<TPlainMail> plain);

}  // namespace qovra
