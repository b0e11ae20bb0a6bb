#include "mail/sending_values.h"

#include <charconv>
#include <cstdint>

#include "base/time_stamp.h"
#include "commands/mail_commands_client.h"
#include "keys/random_text.h"
#include "store/mail_container_date.h"

namespace qovra {

namespace {

constexpr size_t kMaxSuid = 32;
constexpr size_t kMaxYmbox = 6;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsYmbox(std::string_view s) {
  if (s.empty() || s.size() > kMaxYmbox) return false;
  for (char c : s)
    if (!IsDigit(c)) return false;
  return true;
}

// A time text whose fields make a date and time (the zero time is none).
bool IsSentTime(std::string_view s) {
  return IsTimeText(s) && s != kZeroTimeText && StampToDateTime(s) != 0;
}

}  // namespace

int64_t ReadOkAttr(const pugi::xml_node& node) {
  const std::string_view s = node.attribute("ok").value();
  int64_t v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) return 0;
  return v;
}

TSentValues ReadSentValues(const pugi::xml_node& login) {
  TSentValues out;
  const std::string_view suid =
      std::string_view(login.attribute("suid").value()).substr(0, kMaxSuid);
  const std::string_view ymbox = login.attribute("ymbox").value();
  const std::string_view sent = login.attribute("sent_time").value();
  if (IsServerCopyId(suid)) out.Suid = suid;
  if (IsYmbox(ymbox)) out.Ymbox = ymbox;
  if (IsSentTime(sent)) out.SentTime = sent;
  return out;
}

void FillSentDefaults(TSentValues& values) {
  const std::string now = DateTimeToStamp(true, LocalNow());
  if (values.Suid.empty()) values.Suid = RandomHexString(16);
  if (values.Ymbox.empty()) values.Ymbox = now.substr(0, 4) + now.substr(5, 2);
  if (values.SentTime.empty()) values.SentTime = now;
}

void SetLoginResult(pugi::xml_node& out, int64_t ok, const pugi::xml_node& reply_login) {
  out.append_attribute("ok") = static_cast<long long>(ok);
  if (ok != kRecipientSent && ok != kRecipientSkipped) return;
  const TSentValues values = ReadSentValues(reply_login);
  if (!values.Suid.empty()) out.append_attribute("suid") = values.Suid.c_str();
  if (!values.Ymbox.empty()) out.append_attribute("ymbox") = values.Ymbox.c_str();
  if (!values.SentTime.empty()) out.append_attribute("sent_time") = values.SentTime.c_str();
}

bool IsRecordedOutcome(const pugi::xml_node& login) {
  const int64_t ok = ReadOkAttr(login);
  return ok == kRecipientSent || (ok == kRecipientSkipped && !ReadSentValues(login).Suid.empty());
}

std::string LowerAddress(std::string_view address) {
  std::string out(address);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

void CopyResultDocument(const pugi::xml_document& reply, pugi::xml_document& result) {
  result.reset();
  pugi::xml_node out_emails = result.append_child("response").append_child("emails");
  for (pugi::xml_node d : reply.document_element().child("emails").children("domain")) {
    pugi::xml_node od = out_emails.append_child("domain");
    od.append_attribute("val") = d.attribute("val").value();
    od.append_attribute("ok") = static_cast<long long>(ReadOkAttr(d));
    for (pugi::xml_node l : d.children("login")) {
      pugi::xml_node ol = od.append_child("login");
      ol.append_attribute("val") = l.attribute("val").value();
      SetLoginResult(ol, ReadOkAttr(l), l);
    }
  }
}

}  // namespace qovra
