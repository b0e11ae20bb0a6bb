// Sending a written mail: the recipients' certificates (command 163), their
// check, the send itself (command 164) and the recording of its outcome.
//
// Order of use: BuildLoginListXml, GetRecipientCertificates,
// CheckRecipients (edits the reply in place), OfferFastMode,
// LoadRecipientSendFlags, SendMailMessage, RecordSendResults and
// ShowSendResults. RunSendSteps runs them all in that order.
//
// Everything runs on the interface thread; messages and the progress window
// go through the window seam (ui_seam.h). Values that come from the server
// (suid, ymbox, sent_time, uuid) are checked for their form before they
// reach a file name, an XML text or the database.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <pugixml.hpp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "base/stream.h"
#include "commands/account_commands.h"
#include "keys/crypto_binding.h"
#include "store/sqlite_db.h"

namespace qovra {

// Secure mails larger than this in total (size times recipients) are
// offered the fast mode.
constexpr int64_t kFastModeOfferBytes = 31457280;

// The login list of entries, every entry except own_address (no case):
// one domain element per domain, one login element per user, both sorted
// without regard to case. Empty when no entry is left.
[[nodiscard]] std::string BuildLoginListXml(const TEMailList& entries,
                                            std::string_view own_address);

// Command 163 for login_list, signed with the session's keys. True exactly
// when the server's reply was received and loaded into doc. An empty list
// or a failed signature gives false without any message; other failures
// have been shown by ServerRequest.
[[nodiscard]] bool GetRecipientCertificates(const TCommandOwner& owner, std::string_view login_list,
                                            bool keep_progress_open, pugi::xml_document& doc,
                                            int mode);

// Moves node to its next sibling and removes the node it left; node becomes
// empty when there was no next sibling.
void RemoveNodeAndAdvance(pugi::xml_node& node);

// The outcome of CheckRecipients.
struct TRecipientCheck {
  // Empty, or the heading line and one line per refused address or domain.
  std::string Errors;
  bool AnyAccepted = false;
  // Accepted recipients that contact_exists did not know, in order.
  std::vector<TContact> Unknown;
};

// Checks the certificates reply in doc and edits it in place: a domain
// whose prx is 0 is removed; a login with an error code, an unreadable
// certificate or a certificate of another key domain than own_dh_key is
// removed; every accepted login keeps exactly val and pbk (Base64 of its
// 768-byte public key record). contact_exists (may be empty: nobody is
// known) tells whether an accepted address is already in the address book.
[[nodiscard]] TRecipientCheck CheckRecipients(
    pugi::xml_document& doc, std::span<const uint8_t, 768> own_dh_key,
    const std::function<bool(std::string_view address)>& contact_exists);

// The number of login elements left in the checked reply.
[[nodiscard]] size_t CountRecipients(const pugi::xml_document& doc);

// The send mode to use: for a secure mode with more than one recipient and
// mail_size * recipients above kFastModeOfferBytes the user is asked
// "msgMailContentTooBigSwitchToFastMode"; Yes gives the fast mode.
[[nodiscard]] int OfferFastMode(TWindowHandle owner, int mode, int64_t mail_size,
                                size_t recipients);

// Addresses already sent to (send_flag 1) and their flags, keyed by the
// lower-case address.
using TSendFlags = std::map<std::string, int32_t>;

// The recipients of mail row mail_id with their send_flag.
[[nodiscard]] TSendFlags LoadRecipientSendFlags(SqliteDb& db, int32_t mail_id);

// Agrees the 64-byte key of private_key / own_key with peer_key into key,
// then enciphers source from its start, all of it, into dest under key and
// iv (no header byte). A refused agreement shows "msgCannotGenerateEncKey",
// a failed encryption "msgCannotEncryptFile"; both give false and dest may
// hold part of the output.
[[nodiscard]] bool EncryptFileForRecipient(TWindowHandle owner,
                                           std::span<const uint8_t, 256> private_key,
                                           std::span<const uint8_t, 768> own_key,
                                           std::span<const uint8_t, 768> peer_key,
                                           std::span<uint8_t, kCipherKeySize> key,
                                           void* progress_data, TProgressProc progress,
                                           TStream& dest, TStream& source, TCipherIvView iv);

// Where SendMailMessage puts its files and keys.
struct TSendPlace {
  std::string MessagesDir;  // with a trailing "/"
  std::string TempDir;      // with a trailing "/"
  SqliteDb* Db = nullptr;   // the mail database for the sealed keys; may be closed
  // Secure mode: copies enciphered in one pass over the mail (0: as many as
  // the processor's cores allow, up to 4).
  size_t CopiesPerPass = 0;
};

// Command 164. mail.Uuid must be 32 hexadecimal digits. certificates is the
// checked certificates reply; mail_stream the container. Secure mode
// (mode 0) sends one request per recipient, one at a time in document
// order, each with a copy enciphered for it: the first copies in the pass
// that hashes the mail for its signature, the others ahead on threads of
// their own while the requests go out (at most two passes' copies on disk
// at once, beside <uuid>.eme). Fast mode sends one package under the
// session key. On true result holds the
// result document (response/emails/domain/login with ok 1 sent, 2
// skipped or already held by the server, 0 failed) and <uuid>.ems is
// written. partial_failure tells whether the mail must stay in the outbox:
// a recipient failed in secure mode, or the mail's key could not be sealed
// into place.Db ("msgDatabaseError", shown once; those recipients count as
// failed). A login the server refuses in fast mode is only a failed line.
// False: the mail could not be signed ("msgCannotSignFile"), its fast-mode
// package or kept copy could not be written ("msgCannotEncryptFile"), or
// the fast-mode request failed (shown by ServerRequest). The progress
// window is hidden in every case. Temporary files are gone on return;
// <uuid>.eme remains only for mfAdminOnly mails, beside its sealed key.
[[nodiscard]] bool SendMailMessage(const TCommandOwner& owner, const TSendPlace& place,
                                   const TMailMessage& mail, bool& partial_failure, int mode,
                                   const TSendFlags& send_flags,
                                   const pugi::xml_document& certificates, TStream& mail_stream,
                                   pugi::xml_document& result);

// Records at once that the server took (or already held) the copy of mail
// row mail_id for address, as secure mode does after each recipient's
// request: login (a login element of the result document whose outcome
// IsRecordedOutcome) gets the defaults of the values the server left out
// (so that RecordSendResults writes the same), and the recipient row gets
// suid, ymbox, sent_time and send_flag 1. A send killed afterwards never
// sends that copy again. True when written, or when there is no database
// or stored row to write to.
[[nodiscard]] bool RecordRecipientSent(SqliteDb& db, int32_t mail_id, std::string_view address,
                                       pugi::xml_node& login);

// Records a completed send in one transaction: the mail's send_mode and,
// without partial_failure, folder 2 and the sent flag; for every delivered
// recipient, and every copy the server already held and named (shown as
// skipped), suid, ymbox, sent_time and send_flag 1. mail gets folder 2,
// mfSent and the current time in memory. results receives the
// per-recipient lines. False (and nothing written) when a statement fails.
[[nodiscard]] bool RecordSendResults(SqliteDb& db, TMailMessage& mail, int mode,
                                     bool partial_failure, const pugi::xml_document& result,
                                     std::string& results);

// "msgMailSended", or "msgMailSendResult" followed by results with its
// next-to-last character made a full stop; as information.
void ShowSendResults(TWindowHandle owner, std::string results);

// Steps of the sending workflow after the container is stored: group,
// certificates, check, fast-mode offer, send, record, show. Attempted is
// true once the send itself began (the recipients were checked and the
// progress window shows the send), whatever came of it; Unknown then holds
// the accepted recipients the address book does not know. Sent is true
// when the send completed.
struct TSendOutcome {
  bool Attempted = false;
  bool Sent = false;
  bool PartialFailure = false;
  int Mode = 0;
  std::vector<TContact> Unknown;
};
[[nodiscard]] TSendOutcome RunSendSteps(
    const TCommandOwner& owner, const TSendPlace& place, TMailMessage& mail, int mode,
    const TEMailList& entries, TStream& mail_stream,
    const std::function<bool(std::string_view address)>& contact_exists);

}  // namespace qovra
