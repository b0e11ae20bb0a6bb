// The server's own identity: its certificate, as sent in handshake replies,
// the 768-byte record parsed from it and its 256-byte private record.
#pragma once

#include <string>

#include "server_crypto.h"

namespace exchange {

struct ServerIdentity {
  std::string certificate;  // the bytes as read from the file
  crypto::Record record{};
  crypto::PrivateRecord priv{};

  ServerIdentity() = default;
  ~ServerIdentity() { crypto::Wipe(priv.data(), priv.size()); }
  ServerIdentity(const ServerIdentity&) = delete;
  ServerIdentity& operator=(const ServerIdentity&) = delete;
};

// Reads the certificate file (at least 320 bytes, parsed by zarvo) and the
// private record file (exactly 256 bytes), and checks that the two belong
// together by signing and verifying a probe. False with a message otherwise;
// out is then left without a usable key.
[[nodiscard]] bool LoadServerIdentity(const std::string& cert_path, const std::string& key_path,
                                      ServerIdentity& out, std::string& error);

// The whole file; false when it cannot be read.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::string& out);

}  // namespace exchange
