// Reading the server's per-recipient values of a send reply.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace qovra {

struct TSentValues {
  std::string Suid;      // 32 hexadecimal digits
  std::string Ymbox;     // "yyyymm"
  std::string SentTime;  // "yyyy-mm-dd hh:nn:ss"
};

// The ok attribute as an integer; 0 when absent or not a number.
int64_t ReadOkAttr(const pugi::xml_node& node);

// suid, ymbox and sent_time of login; false when one is absent or not of
// its form.
[[nodiscard]] bool ReadSentValues(const pugi::xml_node& login, TSentValues& out);

// address lower-cased (ASCII), the key of TSendFlags.
std::string LowerAddress(std::string_view address);

// Builds result from a fast-mode reply, element by element: domain val and
// ok, login val, ok and, for ok 1, the three values. A login with ok 1
// whose values are malformed is given ok 0. partial_failure is set when a
// login's ok is neither 1 nor 2.
void CopyResultDocument(const pugi::xml_document& reply, pugi::xml_document& result,
                        bool& partial_failure);

}  // namespace qovra
