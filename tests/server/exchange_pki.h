// Key material for an exchange server under test, made at test time from
// the committed domain: the test authority, the server's certificate and
// private record, and a registry folder of user certificates.
//
//   qovra_test::ExchangePki pki;
//   const qovra_test::Party& alice = pki.AddUser("alice@localhost");
//   qovra_test::ExchangeServerOptions o = pki.Options();
//   o.seed_accounts.push_back("alice@localhost:secret");
//   server.Start(o);
//
// Every file lives in a private temporary folder removed with the object.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "support/exchange_server.h"
#include "zarvo/pki_fixtures.h"

namespace qovra_test {

class ExchangePki {
 public:
  ExchangePki() {
    authority_cert_ = dir_.File("authority.cer");
    WriteAll(authority_cert_, TestAuthority().cert);
    registry_ = dir_.File("registry");
    server_ = MakeParty("Qovra Exchange Server");
    server_cert_ = dir_.File("server.cer");
    server_key_ = dir_.File("server.prk");
    WriteAll(server_cert_, server_.cert);
    WriteAll(server_key_, keytool::Bytes(server_.keys.priv.begin(), server_.keys.priv.end()));
    std::string err;
    EXPECT_TRUE(keytool::MakeDir(registry_, &err)) << err;
  }

  // A user of the test domain with a certificate issued by the authority.
  // registered: its certificate goes into the registry as <address>.cer.
  // The certificate is also written to CertPath(address).
  const Party& AddUser(const std::string& address, bool registered = true) {
    return Keep(address, MakeParty(address), registered);
  }

  // As AddUser, with the private record also written to File(address +
  // ".prk") as a clear key file, for the client's key loading.
  const Party& AddUserWithKeyFile(const std::string& address) {
    const Party& p = AddUser(address);
    WriteAll(File(address + ".prk"), keytool::Bytes(p.keys.priv.begin(), p.keys.priv.end()));
    return p;
  }

  // A user whose keys belong to another domain (the committed
  // other-domain.dom), still issued by the authority.
  const Party& AddForeignUser(const std::string& address) {
    static const keytool::Domain other = [] {
      keytool::Domain d;
      std::string err;
      EXPECT_TRUE(keytool::LoadDomain(FixturePath("keys/other-domain.dom"), &d, &err)) << err;
      return d;
    }();
    Party p;
    std::string err;
    EXPECT_TRUE(keytool::GenerateKeyPair(other, &p.keys, &err)) << err;
    EXPECT_TRUE(keytool::IssueCertificate(TestAuthority(), p.keys.pub, address,
                                          keytool::NameType::Utf8, keytool::ValidForDays(365),
                                          &p.cert, &err))
        << err;
    return Keep(address, std::move(p), true);
  }

  // A user of the test domain whose public record differs from the domain's
  // only in bytes 448-479 (the group coefficient), still issued by the
  // authority: equal to every other user's record in bytes 0-159.
  const Party& AddUserWithOtherCoefficient(const std::string& address) {
    Party p = MakeParty(address);
    for (size_t i = 448; i < 480; ++i) p.keys.pub[i] ^= 0x5A;
    std::string err;
    p.cert.clear();
    EXPECT_TRUE(keytool::IssueCertificate(TestAuthority(), p.keys.pub, address,
                                          keytool::NameType::Utf8, keytool::ValidForDays(365),
                                          &p.cert, &err))
        << err;
    return Keep(address, std::move(p), true);
  }

  const Party& User(const std::string& address) const { return *users_.at(address); }
  std::string CertPath(const std::string& address) const {
    return dir_.File("cert-" + address + ".cer");
  }

  const Party& server() const { return server_; }
  const std::string& registry() const { return registry_; }
  const std::string& authority_cert() const { return authority_cert_; }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // Options naming the registry, the authority and the server's key.
  ExchangeServerOptions Options() const {
    ExchangeServerOptions o;
    o.registry = registry_;
    o.authority = authority_cert_;
    o.server_cert = server_cert_;
    o.server_key = server_key_;
    return o;
  }

 private:
  const Party& Keep(const std::string& address, Party p, bool registered) {
    WriteAll(CertPath(address), p.cert);
    if (registered) {
      std::string err;
      EXPECT_TRUE(keytool::AddToRegistry(registry_, address, p.cert, TestAuthority().cert, &err))
          << err;
    }
    auto& slot = users_[address];
    slot = std::make_unique<Party>(std::move(p));
    return *slot;
  }

  TempDir dir_;
  std::string authority_cert_;
  std::string registry_;
  Party server_;
  std::string server_cert_;
  std::string server_key_;
  std::map<std::string, std::unique_ptr<Party>> users_;
};

}  // namespace qovra_test
