// Opening a stored mail for reading: the administrative mail's enciphered
// copy and the read receipt. The viewer shows; this part needs no window.
//
// Reads Session (own private record, state), MessagesDir and MailDb.
// Interface thread only.
#pragma once

#include <cstdint>
#include <pugixml.hpp>

#include "base/records.h"
#include "base/stream.h"
#include "commands/account_commands.h"
#include "keys/crypto_binding.h"

namespace qovra {

// Largest administrative mail decrypted into memory to be read.
constexpr int64_t kAdminMailMemoryCap = int64_t{512} << 20;

// Turns the plain <uuid>.emz of an administrative mail into <uuid>.eme
// under a fresh random key, seals that key into the mail's row
// (StoreMailKey) and into mail.FauKey, sets mail.MailSize and deletes the
// .emz. False, with the .emz kept and no .eme left, when any step fails.
[[nodiscard]] bool ConvertAdminMail(TMailMessage& mail, void* progress_data,
                                    TProgressProc progress);

// Decrypts the administrative mail's <uuid>.eme into out with the key
// unsealed from mail.FauKey; *hash is the hash of the plain data. False
// when the key cannot be unsealed (no own private key, no sealed key),
// the file is larger than kAdminMailMemoryCap, or decryption fails.
[[nodiscard]] bool DecryptAdminMail(const TMailMessage& mail, TMemoryStream& out, THashValue* hash,
                                    void* progress_data, TProgressProc progress);

// True when opening mail must send its read receipt: online, and the flags
// hold mfReadReport and mfReceived but not mfRead.
[[nodiscard]] bool ReadReceiptDue(const TMailMessage& mail);

// True when opening mail turns it read on this machine alone: a received
// mail without mfRead whose sender asked no read report (the server marked
// its copy read when it was downloaded, so no command goes).
[[nodiscard]] bool LocalReadDue(const TMailMessage& mail);

// Sets mfRead in mail and in its stored row (SetMailFlag), with no server
// command. False when the row could not be written; mail is then unchanged.
bool MarkReadLocally(TMailMessage& mail);

// Applies the `rep` element of a 170 reply to mail: Suid (when it is a
// server copy id), ReceivedTime and ReadTime (zero when missing or not a
// time text), Flags from `flag` when that is a number (kept otherwise, not
// 1), then mfRead set whatever the reply said, so the receipt goes once. A
// null rep changes only mfRead.
void ApplyReadReceiptReply(const pugi::xml_node& rep, TMailMessage& mail);

// Sends the read receipt (170 with mfReadReport) and applies the reply's
// `rep` to mail and to the database: Suid, received and read times, the
// flags (kept when the reply's flag is missing or not a number; mfRead set
// in any case, so the receipt goes once), and the recipients' rows with
// that suid. False when the request failed (already shown); mail is then
// unchanged.
bool SendReadReceipt(const TCommandOwner& owner, TMailMessage& mail);

}  // namespace qovra
