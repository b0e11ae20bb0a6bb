#include <gtest/gtest.h>

#include <string>

#include "base/bounded_text.h"
#include "base/records.h"
#include "base/utf.h"

namespace qovra {
namespace {

const std::u16string kPair = u"\U0001F600";  // one character, two code units

TEST(BoundedWideText, SubjectKeptWholeUpToLimitAndCutAbove) {
  TMailMessage m;
  const std::u16string exact(1023, u'a');
  EXPECT_TRUE(m.Subject.Assign(exact));
  EXPECT_EQ(m.Subject.str(), exact);

  m.Subject = std::u16string(1500, u'b');
  EXPECT_EQ(m.Subject.size(), 1023u);
}

TEST(BoundedWideText, CutNeverSplitsSurrogatePair) {
  struct Case {
    std::u16string text;
    size_t expected_len;
  } cases[] = {
      // pair straddles the limit: dropped whole
      {std::u16string(1022, u'a') + kPair, 1022},
      // pair ends exactly at the limit: kept
      {std::u16string(1021, u'a') + kPair + u"b", 1023},
      // pair after the limit
      {std::u16string(1023, u'a') + kPair, 1023},
  };
  for (const auto& c : cases) {
    BoundedWideText<1023> t;
    EXPECT_FALSE(t.Assign(c.text));
    EXPECT_EQ(t.size(), c.expected_len);
    EXPECT_EQ(Utf16ToUtf8(t.str()).find("\xEF\xBF\xBD"), std::string::npos)
        << "cut left half a pair";
  }
}

TEST(BoundedText, EightBitFieldsCutAtTheirWidth) {
  TMailMessage m;
  m.FromAddress = std::string(70, 'x');
  EXPECT_EQ(m.FromAddress.size(), 63u);
  m.Uuid = std::string(40, 'f');
  EXPECT_EQ(m.Uuid.size(), 32u);
  TConnOpts c;
  EXPECT_FALSE(c.prxpass.Assign(std::string(200, 'p')));
  EXPECT_EQ(c.prxpass.size(), 127u);
  EXPECT_TRUE(c.prxuser.Assign("user"));
  EXPECT_EQ(c.prxuser, "user");
}

TEST(TEMailList, KeepsOrderAndCutsLongAddresses) {
  TEMailList list;
  list.Add("b@x.uz");
  list.Add(std::string(70, 'a'));
  list.Add("a@x.uz");
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list[0], "b@x.uz");
  EXPECT_EQ(list[1].size(), 63u);
  EXPECT_EQ(list[2], "a@x.uz");
}

TEST(MailFileName, NamesPerMailFilesAndRefusesBadUuids) {
  const std::string uuid = "0123456789abcdef0123456789ABCDEF";
  EXPECT_EQ(MailFileName(uuid, MailFileKind::Container), uuid + ".emz");
  EXPECT_EQ(MailFileName(uuid, MailFileKind::Enciphered), uuid + ".eme");
  EXPECT_EQ(MailFileName(uuid, MailFileKind::Signature), uuid + ".ems");
  EXPECT_EQ(MailFileName(uuid, MailFileKind::DraftCopy), "~" + uuid + ".emz");
  for (const char* bad :
       {"", "0123456789abcdef0123456789abcde", "0123456789abcdef0123456789abcdef0",
        "../../../../etc/passwd/aaaaaaaaa", "0123456789abcdef0123456789abcdeg"}) {
    EXPECT_EQ(MailFileName(bad, MailFileKind::Container), "") << bad;
  }
}

TEST(TSessionInfo, ClearWipesSecretsAndResets) {
  TSessionInfo s;
  s.State = 1;
  s.Login = "user";
  s.SessionKey.fill(0xAB);
  s.OwnPrivateKey.fill(0xCD);
  s.PrivateKeyPassword = "secret";
  s.DevicePin = "1234";
  s.MaxUploadSize = 5;
  s.Clear();
  EXPECT_EQ(s.State, 0);
  EXPECT_TRUE(s.Login.empty());
  for (uint8_t b : s.SessionKey) ASSERT_EQ(b, 0);
  for (uint8_t b : s.OwnPrivateKey) ASSERT_EQ(b, 0);
  EXPECT_TRUE(s.PrivateKeyPassword.empty());
  EXPECT_TRUE(s.DevicePin.empty());
  EXPECT_EQ(s.MaxUploadSize, 0);
}

TEST(Utf, RoundTripAndMalformedInput) {
  const std::string text = "a\xD0\xB6\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, zhe, euro, emoji
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16(text), u"a\u0436\u20AC\U0001F600");
  // lone surrogates, truncated and overlong sequences become U+FFFD
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFDx");
}

}  // namespace
}  // namespace qovra
