// The certificate owner reader over certificates of the test authority.
#include <gtest/gtest.h>

#include <string>

#include "keys/cert_owner.h"
#include "zarvo/pki_fixtures.h"

namespace qovra {
namespace {

using keytool::NameType;

std::string Cert(const std::string& name, NameType type) {
  return qovra_test::ToString(qovra_test::MakeParty(name, type).cert);
}

TEST(CertOwnerTest, NamesOfEachStringType) {
  std::string emoji = "abc";
  for (int i = 0; i < 70; ++i) emoji += "\xF0\x9F\x98\x80";  // U+1F600, a surrogate pair
  std::u16string emoji_cut = u"abc";
  for (int i = 0; i < 62; ++i) emoji_cut += u"\U0001F600";
  const struct {
    const char* what;
    std::string name;
    NameType type;
    std::u16string expected;
  } rows[] = {
      {"Utf8Latin", "Ivanov Ivan", NameType::Utf8, u"Ivanov Ivan"},
      {"Utf8Cyrillic", "Петров Пётр", NameType::Utf8, u"Петров Пётр"},
      {"BmpCyrillic", "Петров Пётр Петрович", NameType::Bmp, u"Петров Пётр Петрович"},
      {"BmpLatin", "Smith John", NameType::Bmp, u"Smith John"},
      // 128 code units at most, never half of a surrogate pair.
      {"Utf8Long", emoji, NameType::Utf8, emoji_cut},
  };
  for (const auto& r : rows) {
    TCertificateOwner owner;
    owner.Data.fill(u'x');
    ASSERT_TRUE(CertificateOwnerFromData(Cert(r.name, r.type), &owner)) << r.what;
    EXPECT_EQ(owner.Name(), r.expected) << r.what;
    // Only the name area is filled; the rest is zeroed.
    for (size_t i = TCertificateOwner::kAreaUnits; i < owner.Data.size(); ++i)
      ASSERT_EQ(owner.Data[i], 0) << r.what << " at " << i;
    EXPECT_TRUE(owner.Company().empty());
    EXPECT_TRUE(owner.JobTitle().empty());
  }
}

TEST(CertOwnerTest, ShortOrUnreadableDataFails) {
  const std::string good = Cert("Ivanov Ivan", NameType::Utf8);
  TCertificateOwner owner;
  owner.Data.fill(u'x');
  EXPECT_FALSE(CertificateOwnerFromData(good.substr(0, 159), &owner));
  EXPECT_EQ(owner.Data[0], u'x');  // refused before anything was touched
  EXPECT_FALSE(CertificateOwnerFromData(good.substr(0, good.size() - 1), &owner));
  EXPECT_FALSE(CertificateOwnerFromData(std::string(500, 'A'), &owner));
}

TEST(CertOwnerTest, ReadsFiles) {
  qovra_test::TempDir dir;
  const std::string path = dir.File("owner.cer");
  qovra_test::WriteAll(path, qovra_test::MakeParty("Петров Пётр", NameType::Bmp).cert);
  TCertificateOwner a, b;
  ASSERT_TRUE(ReadCertificateOwner(path, &a));
  EXPECT_EQ(a.Name(), u"Петров Пётр");
  const std::u16string wide(path.begin(), path.end());  // the path is ASCII
  ASSERT_TRUE(ReadCertificateOwner(std::u16string_view(wide), &b));
  EXPECT_EQ(b.Name(), u"Петров Пётр");
  EXPECT_FALSE(ReadCertificateOwner(dir.File("missing.cer"), &a));
}

}  // namespace
}  // namespace qovra
