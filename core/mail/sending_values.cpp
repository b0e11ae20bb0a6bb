#include "mail/sending_values.h"

#include <charconv>
#include <cstdint>

namespace qovra {

namespace {

bool AllOf(std::string_view s, bool (*pred)(char)) {
  for (char c : s)
    if (!pred(c)) return false;
  return true;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "yyyy-mm-dd hh:nn:ss" with digits in every field.
bool IsTimeText(std::string_view s) {
  if (s.size() != 19) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char want = i == 4 || i == 7 ? '-' : i == 10 ? ' ' : i == 13 || i == 16 ? ':' : '0';
    if (want == '0' ? !IsDigit(s[i]) : s[i] != want) return false;
  }
  return true;
}

}  // namespace

int64_t ReadOkAttr(const pugi::xml_node& node) {
  const std::string_view s = node.attribute("ok").value();
  int64_t v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) return 0;
  return v;
}

bool ReadSentValues(const pugi::xml_node& login, TSentValues& out) {
  const std::string_view suid = login.attribute("suid").value();
  const std::string_view ymbox = login.attribute("ymbox").value();
  const std::string_view sent = login.attribute("sent_time").value();
  if (suid.size() != 32 || !AllOf(suid, IsHexDigit)) return false;
  if (ymbox.size() != 6 || !AllOf(ymbox, IsDigit)) return false;
  if (!IsTimeText(sent)) return false;
  out.Suid = suid;
  out.Ymbox = ymbox;
  out.SentTime = sent;
  return true;
}

std::string LowerAddress(std::string_view address) {
  std::string out(address);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

void CopyResultDocument(const pugi::xml_document& reply, pugi::xml_document& result,
                        bool& partial_failure) {
  result.reset();
  pugi::xml_node out_emails = result.append_child("response").append_child("emails");
  for (pugi::xml_node d : reply.document_element().child("emails").children("domain")) {
    pugi::xml_node od = out_emails.append_child("domain");
    od.append_attribute("val") = d.attribute("val").value();
    od.append_attribute("ok") = static_cast<long long>(ReadOkAttr(d));
    for (pugi::xml_node l : d.children("login")) {
      pugi::xml_node ol = od.append_child("login");
      ol.append_attribute("val") = l.attribute("val").value();
      int64_t ok = ReadOkAttr(l);
      TSentValues values;
      if (ok == 1 && !ReadSentValues(l, values)) ok = 0;
      ol.append_attribute("ok") = static_cast<long long>(ok);
      if (ok == 1) {
        ol.append_attribute("suid") = values.Suid.c_str();
        ol.append_attribute("ymbox") = values.Ymbox.c_str();
        ol.append_attribute("sent_time") = values.SentTime.c_str();
      }
      if (ok != 1 && ok != 2) partial_failure = true;
    }
  }
}

}  // namespace qovra
