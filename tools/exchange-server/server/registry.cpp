#include "registry.h"

#include <algorithm>
#include <filesystem>

#include "cert.h"
#include "identity.h"
#include "zarvo.h"

namespace exchange {

namespace fs = std::filesystem;

bool ParseCertificate(const std::string& bytes, crypto::Record& record, int64_t& valid_to) {
  int64_t from = 0;
  std::lock_guard<std::mutex> lock(crypto::LibraryMutex());
  return initBCr(bytes.data(), static_cast<int32_t>(bytes.size()), record.data(), nullptr, &from,
                 &valid_to) > 0;
}

bool CertificateRegistry::Load(const std::string& dir, const std::string& authority_path,
                               std::vector<std::string>& skipped, std::string& error) {
  std::string authority;
  if (!ReadWholeFile(authority_path, authority) || authority.empty()) {
    error = "cannot read the authority certificate " + authority_path;
    return false;
  }
  crypto::Record authority_record{};
  int64_t authority_end = 0;
  if (!ParseCertificate(authority, authority_record, authority_end)) {
    error = authority_path + ": not a readable certificate";
    return false;
  }
  const keytool::Bytes authority_bytes(authority.begin(), authority.end());

  std::error_code ec;
  std::vector<fs::path> files;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
    if (e.is_regular_file(ec)) files.push_back(e.path());
  }
  if (ec) {
    error = "cannot read the registry folder " + dir;
    return false;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& path : files) {
    const std::string name = path.filename().string();
    RegisteredCertificate c;
    c.file_name = name;
    if (!ReadWholeFile(path.string(), c.bytes) ||
        !ParseCertificate(c.bytes, c.record, c.valid_to)) {
      skipped.push_back(name + ": not a certificate");
      continue;
    }
    if (c.record == authority_record) continue;  // the authority itself
    std::string why;
    bool valid = false;
    {
      std::lock_guard<std::mutex> lock(crypto::LibraryMutex());
      valid = keytool::VerifyCertificate(keytool::Bytes(c.bytes.begin(), c.bytes.end()),
                                         authority_bytes, 0, &why);
    }
    if (!valid) {
      skipped.push_back(name + ": " + why);
      continue;
    }
    c.hash = crypto::Hash(crypto::View(c.record));
    if (by_hash_.count(c.hash)) {
      skipped.push_back(name + ": the same key as " + by_hash_[c.hash].file_name);
      continue;
    }
    by_hash_.emplace(c.hash, std::move(c));
  }
  return true;
}

const RegisteredCertificate* CertificateRegistry::Find(const crypto::Hash32& hash) const {
  const auto it = by_hash_.find(hash);
  return it == by_hash_.end() ? nullptr : &it->second;
}

const RegisteredCertificate* CertificateRegistry::FindFile(const std::string& file_name) const {
  for (const auto& [hash, c] : by_hash_) {
    if (c.file_name == file_name) return &c;
  }
  return nullptr;
}

}  // namespace exchange
