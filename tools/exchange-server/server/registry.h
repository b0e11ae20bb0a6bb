// The certificates the server accepts, keyed by the hash of their 768-byte
// record. Loaded once at start from a folder: every file there that is a
// certificate issued by the authority (checked with its signature) is
// accepted; the authority's own certificate and anything else is skipped.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "server_crypto.h"

namespace exchange {

struct RegisteredCertificate {
  std::string file_name;  // the file it came from, e.g. "alice@localhost.cer"
  std::string bytes;      // as read from the file
  crypto::Record record{};
  crypto::Hash32 hash{};  // of record
  int64_t valid_to = 0;   // seconds since 1970
};

class CertificateRegistry {
 public:
  // Reads every regular file of dir. Each refused file gets a line in
  // skipped. False with a message when dir or the authority certificate
  // cannot be read.
  [[nodiscard]] bool Load(const std::string& dir, const std::string& authority_path,
                          std::vector<std::string>& skipped, std::string& error);

  // nullptr when no accepted certificate has this record hash.
  const RegisteredCertificate* Find(const crypto::Hash32& hash) const;
  // nullptr when no accepted certificate came from that file.
  const RegisteredCertificate* FindFile(const std::string& file_name) const;

  size_t size() const { return by_hash_.size(); }

 private:
  std::map<crypto::Hash32, RegisteredCertificate> by_hash_;
};

// Parses certificate bytes (DER or PEM) into a record and its end of
// validity. False when zarvo cannot read it.
[[nodiscard]] bool ParseCertificate(const std::string& bytes, crypto::Record& record,
                                    int64_t& valid_to);

}  // namespace exchange
