// The signature container a sender uploads with a mail (the ".ems" file):
// "MailUID:", "SignedDate:" and content-type header lines, then named
// sections "sign" (160 bytes), "cer0" (the sender's certificate) and "dhk"
// (128 bytes), each with its Content-Size, and the closing delimiter. A
// container compressed as one zlib stream (first bytes 0x78 0xDA) is read
// as its plain form.
#pragma once

#include <string>
#include <string_view>

namespace exchange {

struct SignContainer {
  std::string mail_uid;     // trimmed
  std::string signed_date;  // trimmed, not converted
  std::string signature;    // 160 bytes
  std::string certificate;  // section cer0
  std::string dhk;          // section dhk
};

// Largest container accepted, plain or inflated.
inline constexpr size_t kMaxSignContainer = 1 << 20;

// False for anything that is not a whole container: headers missing or out
// of order, a first section other than a 160-byte "sign", a section
// running past the end, a missing closing delimiter, or bytes after it.
[[nodiscard]] bool ParseSignContainer(std::string_view bytes, SignContainer& out);

}  // namespace exchange
