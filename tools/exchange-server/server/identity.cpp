#include "identity.h"

#include <fstream>
#include <iterator>

#include "zarvo.h"

namespace exchange {

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool LoadServerIdentity(const std::string& cert_path, const std::string& key_path,
                        ServerIdentity& out, std::string& error) {
  if (!ReadWholeFile(cert_path, out.certificate)) {
    error = "cannot read " + cert_path;
    return false;
  }
  // The client refuses a handshake reply whose certificate part is shorter.
  if (out.certificate.size() < 320) {
    error = cert_path + ": a certificate of at least 320 bytes is needed";
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(crypto::LibraryMutex());
    if (initBPb(out.certificate.data(), static_cast<int32_t>(out.certificate.size()),
                out.record.data()) == 0) {
      error = cert_path + ": not a readable certificate";
      return false;
    }
  }
  std::string key;
  if (!ReadWholeFile(key_path, key) || key.size() != out.priv.size()) {
    crypto::Wipe(key.data(), key.size());
    error = key_path + ": a private record of exactly 256 bytes is needed";
    return false;
  }
  std::copy(key.begin(), key.end(), out.priv.begin());
  crypto::Wipe(key.data(), key.size());

  const crypto::Hash32 probe = crypto::Hash("exchange-server identity probe");
  crypto::Signature sig{};
  if (!crypto::Sign(probe, out.priv, out.record, sig) ||
      !crypto::Verify(probe, out.record, crypto::View(sig))) {
    crypto::Wipe(out.priv.data(), out.priv.size());
    error = key_path + " does not belong to " + cert_path;
    return false;
  }
  return true;
}

}  // namespace exchange
