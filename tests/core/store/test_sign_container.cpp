// Signature container: exact bytes, round trips, the items callers read and
// damaged input.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "base/time_stamp.h"
#include "store/sign_container.h"
#include "store/sign_container_reader.h"
#include "test_mail_container_util.h"

namespace {

using qovra::TMemoryStream;
using qovra::TSignReader;
using qovra_test::kBoundary;

constexpr const char* kUuid = "0123456789ABCDEF0123456789ABCDEF";

std::array<uint8_t, 160> Signature() {
  std::array<uint8_t, 160> s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(255 - i);
  return s;
}

std::array<uint8_t, 768> DhRecord() {
  std::array<uint8_t, 768> r{};
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(i * 3);
  return r;
}

std::string Bytes(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

qovra::TDateTime SignedAt() {
  qovra::TDateTime t = 0;
  EXPECT_TRUE(qovra::TryEncodeDateTime(2024, 11, 30, 21, 5, 0, 0, t));
  return t;
}

std::string Record(const std::string& cert = "CERTIFICATE") {
  const auto sig = Signature();
  const auto dh = DhRecord();
  return qovra::BuildSignatureRecord(kUuid, sig, cert, dh, SignedAt(), kBoundary);
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

std::string Section(const std::string& name, const std::string& data) {
  return "\r\n--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
         "\"\r\nContent-Size: " + std::to_string(data.size()) + "\r\n\r\n" + data;
}

std::string Head() {
  return std::string("MailUID: ") + kUuid +
         "\r\nSignedDate: 2024-11-30 21:05:00\r\n"
         "Content-Type: multipart/form-data; boundary=" +
         kBoundary + "\r\n";
}

TEST(SignContainer, WritesExactBytes) {
  const auto sig = Signature();
  const auto dh = DhRecord();
  const std::string expected =
      "MailUID: 0123456789ABCDEF0123456789ABCDEF\r\n"
      "SignedDate: 2024-11-30 21:05:00\r\n"
      "Content-Type: multipart/form-data; boundary=----------------ABCDEFGHIJ123456\r\n"
      "\r\n------------------ABCDEFGHIJ123456\r\n"
      "Content-Disposition: form-data; name=\"sign\"\r\n"
      "Content-Size: 160\r\n"
      "\r\n" +
      Bytes(sig.data(), 160) +
      "\r\n------------------ABCDEFGHIJ123456\r\n"
      "Content-Disposition: form-data; name=\"cer0\"\r\n"
      "Content-Size: 11\r\n"
      "\r\n"
      "CERTIFICATE"
      "\r\n------------------ABCDEFGHIJ123456\r\n"
      "Content-Disposition: form-data; name=\"dhk\"\r\n"
      "Content-Size: 128\r\n"
      "\r\n" +
      Bytes(dh.data() + 288, 128) + "\r\n------------------ABCDEFGHIJ123456--";
  EXPECT_EQ(Record(), expected);
}

TEST(SignContainer, RoundTripsPlainAndCompressed) {
  const std::string big_cert(20000, 'c');  // more than one 8192-byte buffer
  for (const std::string& cert : {std::string("CERTIFICATE"), big_cert}) {
    for (const bool compressed : {false, true}) {
      const std::string plain = Record(cert);
      TMemoryStream source(compressed ? qovra_test::ZCompress(plain) : plain);
      TSignReader reader(source);
      ASSERT_TRUE(reader.Parse()) << reader.Error();
      EXPECT_EQ(reader.MailUID(), kUuid);
      EXPECT_EQ(reader.SignedDate(), SignedAt());
      EXPECT_EQ(reader.Signature(), Signature());
      ASSERT_EQ(reader.Parts().size(), 2u);
      EXPECT_EQ(reader.Parts()[0].name, "cer0");
      EXPECT_EQ(reader.Certificate(), cert);
      EXPECT_EQ(reader.DhKey(), Bytes(DhRecord().data() + 288, 128));
    }
  }
}

TEST(SignContainer, ReadsTheCompactSignedDateAndZeroForNonsense) {
  const auto sig = Signature();
  const std::string tail = Section("sign", Bytes(sig.data(), 160)) + "\r\n--" + kBoundary + "--";
  const std::string ctype = "Content-Type: multipart/form-data; boundary=" + kBoundary + "\r\n";
  TMemoryStream compact("MailUID: x\r\nSignedDate: 20241130210500\r\n" + ctype + tail);
  TSignReader a(compact);
  ASSERT_TRUE(a.Parse()) << a.Error();
  EXPECT_EQ(a.SignedDate(), SignedAt());
  TMemoryStream nonsense("MailUID: x\r\nSignedDate: soon\r\n" + ctype + tail);
  TSignReader b(nonsense);
  ASSERT_TRUE(b.Parse());
  EXPECT_EQ(b.SignedDate(), 0.0);
}

TEST(SignContainer, OnlyASignSectionGivesEmptyItems) {
  const auto sig = Signature();
  TMemoryStream source(Head() + Section("sign", Bytes(sig.data(), 160)) + "\r\n--" + kBoundary +
                       "--");
  TSignReader reader(source);
  ASSERT_TRUE(reader.Parse()) << reader.Error();
  EXPECT_TRUE(reader.Parts().empty());
  EXPECT_TRUE(reader.Certificate().empty());
  EXPECT_TRUE(reader.DhKey().empty());
}

TEST(SignContainer, ItemsAreFoundByName) {
  const auto sig = Signature();
  TMemoryStream source(Head() + Section("SIGN", Bytes(sig.data(), 160)) + Section("dhk", "D") +
                       "\r\n--" + kBoundary + "--");
  TSignReader reader(source);
  ASSERT_TRUE(reader.Parse()) << reader.Error();
  EXPECT_TRUE(reader.Certificate().empty());
  EXPECT_EQ(reader.DhKey(), "D");
}

// Ending right after a boundary line, without the closing line, is read as
// complete; only a whole boundary line ends a container that way.
TEST(SignContainer, ContainerEndingAfterABoundaryLineParses) {
  const std::string closing = "\r\n--" + kBoundary + "--";
  const std::string open_end = Replace(Record(), closing, "\r\n--" + kBoundary + "\r\n");
  for (const std::string& bytes : {open_end, qovra_test::ZCompress(open_end)}) {
    TMemoryStream source(bytes);
    TSignReader reader(source);
    ASSERT_TRUE(reader.Parse()) << reader.Error();
    EXPECT_EQ(reader.Signature(), Signature());
    EXPECT_EQ(reader.Certificate(), "CERTIFICATE");
    EXPECT_EQ(reader.DhKey().size(), 128u);
  }
}

TEST(SignContainer, DamagedContainersFailWithTheirReason) {
  const std::string good = Record();
  const std::string zgood = qovra_test::ZCompress(good);
  const auto sig = Signature();
  const std::string closing = "\r\n--" + kBoundary + "--";
  const std::string last_line = "\r\n--" + kBoundary;
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;  // empty: zlib's own wording
  };
  const Case cases[] = {
      {"Empty", "", "container shorter than two bytes"},
      {"OneByte", "M", "container shorter than two bytes"},
      {"SignOf159Bytes", Head() + Section("sign", Bytes(sig.data(), 159)) + closing,
       "signature not 160 bytes"},
      {"SignOf161Bytes", Head() + Section("sign", Bytes(sig.data(), 160) + "x") + closing,
       "signature not 160 bytes"},
      {"FirstSectionNotSign", Head() + Section("cer0", "c") + closing,
       "first section is not the signature"},
      {"NoSections", Head() + closing, "no sign section"},
      {"OnlyABoundaryLine", Head() + last_line + "\r\n", "section header incomplete"},
      {"NoClosingLine", good.substr(0, good.size() - closing.size()),
       "closing boundary line missing"},
      {"CutAfterTheBoundary", Replace(good, closing, last_line), "closing boundary line missing"},
      {"CutAfterTheBoundaryAndCr", Replace(good, closing, last_line + "\r"),
       "closing boundary line missing"},
      {"BoundaryLineEndsInOtherBytes", Replace(good, closing, last_line + "xy"),
       "malformed boundary line"},
      {"CutInSectionHeaderAfterBoundaryLine",
       Replace(good, closing, last_line + "\r\nContent-Disposition: form-da"),
       "section header incomplete"},
      {"CutMidData", good.substr(0, good.find("CERTIFICATE") + 4),
       "section larger than the rest of the file"},
      {"SizeTooLarge", Replace(good, "Content-Size: 11", "Content-Size: 9999"),
       "section larger than the rest of the file"},
      {"NegativeSize", Replace(good, "Content-Size: 11", "Content-Size: -11"), "bad Content-Size"},
      {"NonNumericSize", Replace(good, "Content-Size: 11", "Content-Size: 1l"), "bad Content-Size"},
      {"NoBoundary", Replace(good, "boundary=" + kBoundary, "boundary="), "no usable boundary"},
      {"GarbageAfter78DA", std::string("\x78\xDA") + "garbage garbage", ""},
      {"TruncatedZlib", zgood.substr(0, zgood.size() - 8), ""},
      {"BombOverTheCap", qovra_test::ZCompress(good + std::string(2 << 20, 'z')), ""},
      {"PlainOverTheCap", good + std::string(2 << 20, 'z'), "container too large"},
  };
  for (const Case& c : cases) {
    TMemoryStream source(c.bytes);
    TSignReader reader(source);
    EXPECT_FALSE(reader.Parse()) << c.name;
    EXPECT_FALSE(reader.Parsed()) << c.name;
    EXPECT_FALSE(reader.Error().empty()) << c.name;
    if (c.reason[0]) {
      EXPECT_EQ(reader.Error(), c.reason) << c.name;
    }
  }
}

TEST(SignContainer, EveryFlippedByteIsHandled) {
  const std::string good = Record();
  for (size_t i = 0; i < good.size(); ++i) {
    std::string bytes = good;
    bytes[i] = static_cast<char>(bytes[i] ^ 0x20);
    TMemoryStream source(bytes);
    TSignReader reader(source);
    (void)reader.Parse();
  }
}

}  // namespace
