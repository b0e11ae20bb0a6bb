// A test authority and users made at test time from the committed domain
// (key pairs are fast; no prime search), plus a private scratch folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "keygen.h"
#include "pki.h"
#include "support/key_fixtures.h"

namespace qovra_test {

struct Party {
  keytool::KeyPair keys;
  keytool::Bytes cert;  // DER
};

inline const keytool::Domain& TestDomain() {
  static const keytool::Domain domain = [] {
    keytool::Domain d;
    std::string err;
    EXPECT_TRUE(keytool::LoadDomain(FixturePath("keys/domain.dom"), &d, &err)) << err;
    return d;
  }();
  return domain;
}

// One authority per test program.
inline const keytool::Authority& TestAuthority() {
  static const keytool::Authority authority = [] {
    keytool::Authority a;
    std::string err;
    EXPECT_TRUE(keytool::MakeAuthority(TestDomain(), "Qovra Test Authority",
                                       keytool::ValidForDays(3650), &a, &err))
        << err;
    return a;
  }();
  return authority;
}

inline Party MakeParty(const std::string& name, keytool::NameType type = keytool::NameType::Utf8,
                       keytool::Validity validity = keytool::ValidForDays(365)) {
  Party p;
  std::string err;
  EXPECT_TRUE(keytool::GenerateKeyPair(TestDomain(), &p.keys, &err)) << err;
  EXPECT_TRUE(
      keytool::IssueCertificate(TestAuthority(), p.keys.pub, name, type, validity, &p.cert, &err))
      << err;
  return p;
}

inline std::string ToString(const keytool::Bytes& b) {
  return std::string(b.begin(), b.end());
}

class TempDir {
 public:
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "zarvo-test-XXXXXX").string();
    if (mkdtemp(t.data())) path_ = t;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline keytool::Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return keytool::Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const keytool::Bytes& b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

}  // namespace qovra_test
