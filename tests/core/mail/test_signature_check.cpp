// The shared signature check over real containers: a mail container
// written and signed as the sending path does (hash of the container,
// signature by the sender's key, signature container with the sender's
// certificate), then read back and checked. One table holds every verdict.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "base/stream.h"
#include "keys/crypto_binding.h"
#include "mail/signature_check.h"
#include "store/mail_container_writer.h"
#include "store/sign_container.h"
#include "tevqa.h"
#include "zarvo/pki_fixtures.h"

namespace qovra {
namespace {

using keytool::NameType;
using keytool::Validity;

constexpr char kUuid[] = "0123456789ABCDEF0123456789ABCDEF";
// 2026-01-01 00:00:00 UTC.
constexpr int64_t kSignedAt = 1767225600;

TDateTime Days(int64_t unix_seconds) {
  return 25569.0 + static_cast<double>(unix_seconds) / 86400.0;
}

std::string Container() {
  TMemoryStream s;
  TMailWriter w(s, "", [] { return 46000.5; });
  w.AddMailHeaders("alice@127.0.0.1", u"Subject", "bob@127.0.0.1");
  w.AddField("body", "Hello");
  EXPECT_TRUE(w.Finish());
  return s.Data();
}

THashValue HashOf(const std::string& bytes) {
  TMemoryStream s;
  s.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  (void)s.Seek(0, SeekOrigin::Beginning);
  THashValue h{};
  EXPECT_GT(HashStream(s, nullptr, &h, nullptr, nullptr), 0);
  return h;
}

// The signature container of data signed by party at signed_at.
std::string SignContainer(const qovra_test::Party& party, const std::string& data,
                          const std::string& certificate, int64_t signed_at) {
  const THashValue h = HashOf(data);
  std::array<uint8_t, kSignatureSize> sig{};
  EXPECT_EQ(
      UZDST_SIGNATURE_generate(h.data(), party.keys.priv.data(), party.keys.pub.data(), sig.data()),
      1);
  std::array<uint8_t, kKeyRecordSize> dh{};
  std::copy(party.keys.pub.begin(), party.keys.pub.end(), dh.begin());
  return BuildSignatureRecord(kUuid, sig, certificate, dh, Days(signed_at));
}

class SignatureCheckTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.File(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  qovra_test::TempDir dir_;
};

TEST_F(SignatureCheckTest, VerdictTable) {
  const Validity around{kSignedAt - 3600, kSignedAt + 3600};
  const qovra_test::Party signer = qovra_test::MakeParty("Ivanov Ivan", NameType::Utf8, around);
  const qovra_test::Party starts =
      qovra_test::MakeParty("Starts", NameType::Utf8, {kSignedAt, kSignedAt + 3600});
  const qovra_test::Party ends =
      qovra_test::MakeParty("Ends", NameType::Utf8, {kSignedAt - 3600, kSignedAt});
  const qovra_test::Party later =
      qovra_test::MakeParty("Later", NameType::Utf8, {kSignedAt + 1, kSignedAt + 3600});
  const qovra_test::Party earlier =
      qovra_test::MakeParty("Earlier", NameType::Utf8, {kSignedAt - 3600, kSignedAt - 1});
  const std::string mail = Container();
  std::string flipped = mail;
  flipped[flipped.size() / 2] ^= 0x01;
  const auto cert = [](const qovra_test::Party& p) { return qovra_test::ToString(p.cert); };

  const struct {
    const char* what;
    const qovra_test::Party* party;  // null: no signature container
    std::string certificate;
    std::string data;  // what the hash is taken of
    uint16_t flags;
    int expected;
  } rows[] = {
      {"Valid", &signer, cert(signer), mail, 0, kSignValid},
      {"FlippedBodyByte", &signer, cert(signer), flipped, 0, kSignWrong},
      {"UnreadableCertificate", &signer, std::string(400, 'A'), mail, 0, kSignCertUnreadable},
      {"NoCertificate", &signer, "", mail, 0, kSignCertUnreadable},
      {"SignedBeforeValidity", &later, cert(later), mail, 0, kSignCertNotYetValid},
      {"SignedAtValidityStart", &starts, cert(starts), mail, 0, kSignValid},
      {"SignedAtValidityEnd", &ends, cert(ends), mail, 0, kSignValid},
      {"SignedAfterValidity", &earlier, cert(earlier), mail, 0, kSignCertExpired},
      {"NoSignatureContainer", nullptr, "", mail, 0, kSignNoContainer},
      {"UnsignedFlag", &signer, cert(signer), mail, mfBadSignature, kSignUnsignedFlag},
  };
  for (const auto& r : rows) {
    const std::string ems = dir_.File(std::string(r.what) + ".ems");
    if (r.party)
      Write(std::string(r.what) + ".ems", SignContainer(*r.party, mail, r.certificate, kSignedAt));
    const TMailSignature sig = ReadMailSignature(ems, /*silent=*/true);
    EXPECT_EQ(sig.HasSignature, r.party != nullptr) << r.what;
    int hashed = 0;
    const TSignatureCheck check =
        CheckMailSignature(sig, {.Flags = r.flags, .CheckValidity = true}, [&](THashValue* out) {
          ++hashed;
          *out = HashOf(r.data);
          return true;
        });
    EXPECT_EQ(check.Status, r.expected) << r.what;
    // The data is hashed only when the certificate passed.
    const bool reaches_hash = r.expected == kSignValid || r.expected == kSignWrong;
    EXPECT_EQ(hashed, reaches_hash ? 1 : 0) << r.what;
    if (reaches_hash || r.expected == kSignCertNotYetValid || r.expected == kSignCertExpired) {
      EXPECT_FALSE(check.Signer.Name.empty()) << r.what;
    }
  }
}

TEST_F(SignatureCheckTest, ReceivingSkipsTheValidityCheck) {
  const qovra_test::Party earlier =
      qovra_test::MakeParty("Earlier", NameType::Utf8, {kSignedAt - 3600, kSignedAt - 1});
  const std::string mail = Container();
  const std::string ems =
      Write("r.ems", SignContainer(earlier, mail, qovra_test::ToString(earlier.cert), kSignedAt));
  const TMailSignature sig = ReadMailSignature(ems, true);
  const auto hash = [&](THashValue* out) {
    *out = HashOf(mail);
    return true;
  };
  EXPECT_EQ(CheckMailSignature(sig, {.Flags = 0, .CheckValidity = false}, hash).Status, kSignValid);
  EXPECT_EQ(CheckMailSignature(sig, {.Flags = 0, .CheckValidity = true}, hash).Status,
            kSignCertExpired);
}

TEST_F(SignatureCheckTest, CorruptContainerIsToldFromAMissingOne) {
  const TMailSignature missing = ReadMailSignature(dir_.File("none.ems"), true);
  EXPECT_FALSE(missing.HasSignature);
  EXPECT_FALSE(missing.Corrupt);
  const TMailSignature corrupt = ReadMailSignature(Write("bad.ems", "MailUID: x\r\n"), true);
  EXPECT_FALSE(corrupt.HasSignature);
  EXPECT_TRUE(corrupt.Corrupt);
  EXPECT_EQ(CheckMailSignature(corrupt, {}, nullptr).Status, kSignNoContainer);
}

TEST_F(SignatureCheckTest, OwnerNamesInUcs2AndUtf8) {
  const struct {
    const char* what;
    std::string name;
    NameType type;
    std::u16string expected;
  } rows[] = {
      {"Ucs2Cyrillic", "Петров Пётр", NameType::Bmp, u"Петров Пётр"},
      {"Utf8Latin", "Ivanov Ivan", NameType::Utf8, u"Ivanov Ivan"},
      {"Utf8Cyrillic", "Петров Пётр", NameType::Utf8, u"Петров Пётр"},
  };
  const std::string mail = Container();
  for (const auto& r : rows) {
    const qovra_test::Party p =
        qovra_test::MakeParty(r.name, r.type, {kSignedAt - 60, kSignedAt + 60});
    const std::string ems = Write(std::string(r.what) + ".ems",
                                  SignContainer(p, mail, qovra_test::ToString(p.cert), kSignedAt));
    const TSignatureCheck check =
        CheckMailSignature(ReadMailSignature(ems, true), {}, [&](THashValue* out) {
          *out = HashOf(mail);
          return true;
        });
    EXPECT_EQ(check.Status, kSignValid) << r.what;
    EXPECT_EQ(check.Signer.Name, r.expected) << r.what;
  }
}

}  // namespace
}  // namespace qovra
