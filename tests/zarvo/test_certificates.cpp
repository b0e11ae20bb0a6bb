// Certificate parsing: initBPb and initBCr on good and damaged certificates,
// owner names in each string type, validity as openssl reads it.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "cert.h"
#include "zarvo.h"
#include "zarvo/pki_fixtures.h"

namespace {

using keytool::Bytes;
using keytool::NameType;
using qovra_test::MakeParty;
using qovra_test::TempDir;

Bytes Issue(const keytool::CertRequest& req) {
  keytool::Signer signer;
  std::string err;
  EXPECT_TRUE(keytool::AuthoritySigner(qovra_test::TestAuthority(), &signer, &err)) << err;
  Bytes der;
  EXPECT_TRUE(keytool::BuildCertificate(req, signer, &der, &err)) << err;
  return der;
}

keytool::CertRequest Request(const std::string& name = "Test User") {
  keytool::CertRequest req;
  const auto& pub = qovra_test::TestAuthority().keys.pub;
  req.key.assign(pub.begin(), pub.end());
  req.common_name = name;
  req.not_before = 1700000000;
  req.not_after = 2000000000;
  return req;
}

// Replaces the first occurrence of from by to.
Bytes Patch(Bytes der, const Bytes& from, const Bytes& to) {
  auto it = std::search(der.begin(), der.end(), from.begin(), from.end());
  EXPECT_NE(it, der.end());
  if (it != der.end()) std::copy(to.begin(), to.end(), it);
  return der;
}

// An ordinary RSA certificate: a real certificate of a foreign algorithm.
Bytes RsaCertificate() {
  EVP_PKEY* key = EVP_RSA_gen(1024);
  X509* x = X509_new();
  X509_set_version(x, X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
  X509_gmtime_adj(X509_getm_notBefore(x), 0);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>("rsa"), -1, -1, 0);
  X509_set_issuer_name(x, X509_get_subject_name(x));
  X509_set_pubkey(x, key);
  X509_sign(x, key, EVP_sha256());
  unsigned char* p = nullptr;
  const int n = i2d_X509(x, &p);
  Bytes der(p, p + std::max(n, 0));
  OPENSSL_free(p);
  X509_free(x);
  EVP_PKEY_free(key);
  return der;
}

int Bpb(const Bytes& b, uint8_t* out) {
  return initBPb(b.data(), static_cast<int32_t>(b.size()), out);
}

TEST(CertificateTest, DerAndPemGiveTheRecord) {
  const qovra_test::Party p = MakeParty("Ivanov Ivan");
  const std::string pem = keytool::CertificatePem(p.cert);
  ASSERT_NE(pem.find("-----BEGIN CERTIFICATE-----"), std::string::npos);
  for (const Bytes& input : {p.cert, Bytes(pem.begin(), pem.end())}) {
    std::array<uint8_t, 768> rec{};
    ASSERT_NE(Bpb(input, rec.data()), 0) << getErr();
    EXPECT_EQ(getErr(), 0);
    EXPECT_EQ(rec, p.keys.pub);
  }
}

TEST(CertificateTest, DamagedCertificatesAreRefusedAndNothingIsWritten) {
  const Bytes good = Issue(Request());
  keytool::CertRequest foreign = Request();
  foreign.key_oid = ZARVO_OID_ARC ".9";
  keytool::CertRequest short_key = Request(), long_key = Request();
  short_key.key.pop_back();
  long_key.key.push_back(0);
  Bytes trailing = good;
  trailing.push_back(0);
  const std::string pem_text = "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n";
  const struct {
    const char* what;
    Bytes input;
    int code;
  } rows[] = {
      {"Empty", {}, ZARVO_ERR_CERTIFICATE},
      {"TruncatedByOneByte", Bytes(good.begin(), good.end() - 1), ZARVO_ERR_CERTIFICATE},
      {"TruncatedToHalf", Bytes(good.begin(), good.begin() + good.size() / 2),
       ZARVO_ERR_CERTIFICATE},
      {"FewerThan160Bytes", Bytes(good.begin(), good.begin() + 100), ZARVO_ERR_CERTIFICATE},
      {"TrailingByte", trailing, ZARVO_ERR_CERTIFICATE},
      {"NotACertificate", Bytes(2000, 0x30), ZARVO_ERR_CERTIFICATE},
      {"BrokenPem", Bytes(pem_text.begin(), pem_text.end()), ZARVO_ERR_CERTIFICATE},
      {"VersionTwo", Patch(good, {0xA0, 0x03, 0x02, 0x01, 0x02}, {0xA0, 0x03, 0x02, 0x01, 0x01}),
       ZARVO_ERR_CERTIFICATE},
      {"ForeignKeyAlgorithm", Issue(foreign), ZARVO_ERR_CERT_KEY},
      {"RsaCertificate", RsaCertificate(), ZARVO_ERR_CERT_KEY},
      {"Key767Bytes", Issue(short_key), ZARVO_ERR_CERT_KEY},
      {"Key769Bytes", Issue(long_key), ZARVO_ERR_CERT_KEY},
      {"KeyWithUnusedBits",
       Patch(good, {0x03, 0x82, 0x03, 0x01, 0x00}, {0x03, 0x82, 0x03, 0x01, 0x01}),
       ZARVO_ERR_CERT_KEY},
  };
  for (const auto& r : rows) {
    std::array<uint8_t, 768> rec;
    rec.fill(0xEE);
    uint8_t name[256];
    std::memset(name, 0xEE, sizeof name);
    int64_t from = -7, to = -7;
    EXPECT_EQ(Bpb(r.input, rec.data()), 0) << r.what;
    EXPECT_EQ(getErr(), r.code) << r.what;
    EXPECT_LE(
        initBCr(r.input.data(), static_cast<int32_t>(r.input.size()), rec.data(), name, &from, &to),
        0)
        << r.what;
    EXPECT_EQ(getErr(), r.code) << r.what;
    EXPECT_EQ(rec[0], 0xEE) << r.what;
    EXPECT_EQ(rec[767], 0xEE) << r.what;
    EXPECT_EQ(name[0], 0xEE) << r.what;
    EXPECT_EQ(from, -7) << r.what;
  }
}

TEST(CertificateTest, NullArgumentsAreRefused) {
  const Bytes good = Issue(Request());
  uint8_t rec[768];
  EXPECT_EQ(initBPb(nullptr, 10, rec), 0);
  EXPECT_EQ(getErr(), ZARVO_ERR_ARGUMENT);
  EXPECT_EQ(initBPb(good.data(), static_cast<int32_t>(good.size()), nullptr), 0);
  EXPECT_EQ(getErr(), ZARVO_ERR_ARGUMENT);
  EXPECT_EQ(initBPb(good.data(), -1, rec), 0);
  EXPECT_EQ(getErr(), ZARVO_ERR_ARGUMENT);
  // Every output of initBCr may be null.
  EXPECT_GT(
      initBCr(good.data(), static_cast<int32_t>(good.size()), nullptr, nullptr, nullptr, nullptr),
      0);
}

TEST(CertificateTest, OwnerNameInEachStringType) {
  std::string cyrillic_long, euro_long;
  for (int i = 0; i < 200; ++i) cyrillic_long += "Ж";  // 2 bytes each
  for (int i = 0; i < 100; ++i) euro_long += "€";      // 3 bytes each
  const struct {
    const char* what;
    std::string name;
    NameType type;
    Bytes expected;  // the bytes before the zero fill
  } rows[] = {
      {"Utf8", "Ivanov Ivan Ivanovich", NameType::Utf8,
       Bytes({'I', 'v', 'a', 'n', 'o', 'v', ' ', 'I', 'v', 'a', 'n',
              ' ', 'I', 'v', 'a', 'n', 'o', 'v', 'i', 'c', 'h'})},
      {"Utf8Cyrillic", "Пётр", NameType::Utf8,
       Bytes({0xD0, 0x9F, 0xD1, 0x91, 0xD1, 0x82, 0xD1, 0x80})},
      {"BmpCyrillic", "Пётр", NameType::Bmp,
       Bytes({0x04, 0x1F, 0x04, 0x51, 0x04, 0x42, 0x04, 0x40})},
      {"BmpLatin", "Smith", NameType::Bmp,
       Bytes({0x00, 'S', 0x00, 'm', 0x00, 'i', 0x00, 't', 0x00, 'h'})},
      // Long names are cut at 256 bytes, never inside a character.
      {"Utf8LongTwoByte", cyrillic_long, NameType::Utf8,
       Bytes(cyrillic_long.begin(), cyrillic_long.begin() + 256)},
      {"Utf8LongThreeByte", euro_long, NameType::Utf8,
       Bytes(euro_long.begin(), euro_long.begin() + 255)},
  };
  for (const auto& r : rows) {
    keytool::CertRequest req = Request(r.name);
    req.name_type = r.type;
    const Bytes der = Issue(req);
    uint8_t name[256];
    std::memset(name, 0xEE, sizeof name);
    ASSERT_GT(
        initBCr(der.data(), static_cast<int32_t>(der.size()), nullptr, name, nullptr, nullptr), 0)
        << r.what;
    Bytes want = r.expected;
    want.resize(256, 0);
    EXPECT_EQ(Bytes(name, name + 256), want) << r.what;
  }
  // A long BMP name keeps its first 128 characters.
  keytool::CertRequest req = Request(cyrillic_long);
  req.name_type = NameType::Bmp;
  const Bytes der = Issue(req);
  uint8_t name[256];
  ASSERT_GT(initBCr(der.data(), static_cast<int32_t>(der.size()), nullptr, name, nullptr, nullptr),
            0);
  EXPECT_EQ(name[254], 0x04);
  EXPECT_EQ(name[255], 0x16);
}

// "notBefore=Dec  9 21:27:59 2026 GMT" to seconds since 1970.
int64_t ParseOpensslDate(const std::string& text) {
  std::tm tm{};
  if (!strptime(text.c_str(), "%b %d %H:%M:%S %Y GMT", &tm)) return -1;
  return static_cast<int64_t>(timegm(&tm));
}

TEST(CertificateTest, ValidityIsWhatOpensslPrints) {
  TempDir dir;
  const struct {
    int64_t from, to;
  } rows[] = {
      {1700000000, 2000000000},
      {0, 86399},                // 1970
      {2524608000, 4102444799},  // 2050 to 2099: GeneralizedTime
      {946684799, 946684800},    // across 2000
  };
  for (const auto& r : rows) {
    keytool::CertRequest req = Request("Date Test");
    req.not_before = r.from;
    req.not_after = r.to;
    const Bytes der = Issue(req);
    int64_t from = 0, to = 0;
    ASSERT_GT(initBCr(der.data(), static_cast<int32_t>(der.size()), nullptr, nullptr, &from, &to),
              0);
    EXPECT_EQ(from, r.from);
    EXPECT_EQ(to, r.to);

    const std::string path = dir.File("dates.cer");
    qovra_test::WriteAll(path, der);
    const std::string cmd = "openssl x509 -inform DER -noout -subject -dates -in '" + path + "'";
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, f)) out += buf;
    ASSERT_EQ(pclose(f), 0) << out;
    EXPECT_NE(out.find("subject=CN = Date Test"), std::string::npos) << out;
    const auto line = [&](const std::string& key) {
      const size_t at = out.find(key + "=");
      return at == std::string::npos
                 ? std::string()
                 : out.substr(at + key.size() + 1, out.find('\n', at) - at - key.size() - 1);
    };
    EXPECT_EQ(ParseOpensslDate(line("notBefore")), from) << out;
    EXPECT_EQ(ParseOpensslDate(line("notAfter")), to) << out;
  }
}

}  // namespace
