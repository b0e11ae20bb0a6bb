// Writing a user's records onto a PKCS#11 token in the layout zarvo reads
// (zarvo/formats.h): three private data objects and the public marker.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace keytool {

struct TokenRecords {
  std::array<uint8_t, 256> priv{};
  std::array<uint8_t, 768> agreement{};
  std::array<uint8_t, 768> pub{};
};

// Logs in to the token labelled token_label with pin through the module at
// module_path, removes earlier objects of ours and writes the records and
// the marker.
[[nodiscard]] bool WriteToken(const std::string& module_path, const std::string& token_label,
                              const std::string& pin, const TokenRecords& records,
                              std::string* error);

}  // namespace keytool
