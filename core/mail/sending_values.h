// Reading the server's per-recipient values of a send reply.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace qovra {

// The values the server gave a delivered copy, each in a form that is safe
// to store; an empty field was absent or of another form.
struct TSentValues {
  std::string Suid;      // ASCII letters and digits, at most 32
  std::string Ymbox;     // 1 to 6 decimal digits
  std::string SentTime;  // "yyyy-mm-dd hh:nn:ss" of a real date and time
};

// The ok of a login in a send's result document.
constexpr int64_t kRecipientFailed = 0;
constexpr int64_t kRecipientSent = 1;
constexpr int64_t kRecipientSkipped = 2;  // sent before, or a copy the server already held

// The ok attribute as an integer; 0 when absent or not a number.
int64_t ReadOkAttr(const pugi::xml_node& node);

// suid (cut to 32 characters first), ymbox and sent_time of login, each
// kept when it has the form of TSentValues and left empty otherwise.
[[nodiscard]] TSentValues ReadSentValues(const pugi::xml_node& login);

// Gives every empty field its default: 32 random hexadecimal digits, the
// current year and month "yyyymm", the current local time text.
void FillSentDefaults(TSentValues& values);

// Gives out, a login element of the result document, the attribute ok and,
// for ok 1 and 2, those values of reply_login that ReadSentValues keeps
// (the others get their defaults when the outcome is recorded).
void SetLoginResult(pugi::xml_node& out, int64_t ok, const pugi::xml_node& reply_login);

// True when the outcome of login, a login element of the result document,
// goes into its recipient row: sent (ok 1), or a copy the server already
// held (ok 2) given with that copy's suid. An ok 2 without a suid (skipped
// on this side, or a server that gives none) leaves the row as it is.
[[nodiscard]] bool IsRecordedOutcome(const pugi::xml_node& login);

// address lower-cased (ASCII), the key of TSendFlags.
std::string LowerAddress(std::string_view address);

// Builds result from a fast-mode reply, element by element: domain val and
// ok, login val and its SetLoginResult. A login the server refused is a
// line of the result, not a partial failure: the mail itself was sent.
void CopyResultDocument(const pugi::xml_document& reply, pugi::xml_document& result);

}  // namespace qovra
