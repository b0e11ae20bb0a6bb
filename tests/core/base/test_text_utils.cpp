#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "base/address_list.h"
#include "base/quoting.h"
#include "base/text_utils.h"
#include "base/time_stamp.h"
#include "base/utils.h"
#include "base/version.h"

namespace qovra {
namespace {

// ---- time stamps -------------------------------------------------------

TDateTime Encode(int y, int mo, int d, int h, int mi, int s) {
  TDateTime t = 0;
  EXPECT_TRUE(TryEncodeDateTime(y, mo, d, h, mi, s, 0, t));
  return t;
}

TEST(TimeStamp, KnownDayNumbers) {
  EXPECT_EQ(Encode(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_EQ(Encode(1970, 1, 1, 0, 0, 0), 25569.0);
  EXPECT_EQ(Encode(2000, 2, 29, 12, 0, 0), 36585.5);
  EXPECT_EQ(Encode(9999, 12, 31, 0, 0, 0), 2958465.0);
}

TEST(TimeStamp, WritesBothForms) {
  const TDateTime t = Encode(2024, 3, 7, 9, 5, 59);
  EXPECT_EQ(DateTimeToStamp(true, t), "2024-03-07 09:05:59");
  EXPECT_EQ(DateTimeToStamp(false, t), "20240307090559");
  EXPECT_EQ(DateTimeToStamp(true, 0), "0000-00-00 00:00:00");
  EXPECT_EQ(DateTimeToStamp(false, 0), "18991230000000");
  // 23:59:59.9996 rounds into the next day, as a whole second
  EXPECT_EQ(DateTimeToStamp(true, Encode(2023, 12, 31, 0, 0, 0) + 0.9999999999),
            "2024-01-01 00:00:00");
  EXPECT_EQ(DateTimeToStamp(true, std::numeric_limits<double>::quiet_NaN()), "0000-00-00 00:00:00");
  EXPECT_EQ(DateTimeToStamp(true, 1e12), "0000-00-00 00:00:00");
}

TEST(TimeStamp, ReadsBothFormsAndRefusesTheRest) {
  const TDateTime t = Encode(2024, 3, 7, 9, 5, 59);
  const TDateTime day = Encode(2024, 3, 7, 0, 0, 0);
  struct Case {
    const char* text;
    TDateTime expected;
  } const cases[] = {
      {"2024-03-07 09:05:59", t},
      {"20240307090559", t},
      {"2024.03.07 09:05:59", t},
      {"2024-03-07", day},
      {"20240307", day},
      {"0000-00-00 00:00:00", 0},
      {"2024-13-07 09:05:59", 0},  // month 13
      {"20241307090559", 0},
      {"2023-02-29 00:00:00", 0},  // not a leap year
      {"2024-03-07 24:00:00", 0},
      {"2024-03-07 23:60:00", 0},
      {"2024-3-7", 0},  // readable form shorter than 10 characters
      {"2024031", 0},   // 7 characters
      {"", 0},
      {"abcd-03-07 09:05:59", 0},  // year not a number counts as 0
      {"2024-03-07 xx:05:59", Encode(2024, 3, 7, 0, 5, 59)},
  };
  for (const auto& c : cases) EXPECT_EQ(StampToDateTime(c.text), c.expected) << c.text;
}

TEST(TimeStamp, RoundTripsWholeSeconds) {
  for (TDateTime t : {Encode(1, 1, 1, 0, 0, 0), Encode(1899, 12, 29, 18, 0, 0),
                      Encode(2038, 1, 19, 3, 14, 8), Encode(9999, 12, 31, 23, 59, 59)}) {
    EXPECT_EQ(StampToDateTime(DateTimeToStamp(true, t)), t);
    EXPECT_EQ(StampToDateTime(DateTimeToStamp(false, t)), t);
  }
}

TEST(TimeStamp, NowUtcIsAfter2020) {
  EXPECT_GT(NowUTC(), Encode(2020, 1, 1, 0, 0, 0));
}

// ---- text routines -----------------------------------------------------

TEST(TextUtils, ByteSizesAtUnitEdges) {
  struct Case {
    int64_t size;
    const char* full;
    const char* kb;
  } const cases[] = {
      {0, "0 B", "0 B"},
      {1023, "1023 B", "1023 B"},
      {1024, "1 KB", "1 KB"},
      {1048575, "1023 KB", "1023 KB"},
      {1048576, "1 MB", "1024 KB"},
      {int64_t{5} << 30, "5120 MB", "5242880 KB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatByteSize(c.size), c.full) << c.size;
    EXPECT_EQ(FormatByteSizeKB(c.size), c.kb) << c.size;
  }
}

TEST(TextUtils, SplitToList) {
  struct Case {
    const char* text;
    bool trim, skip;
    std::vector<std::string> items;
  } const cases[] = {
      {"", false, false, {}},
      {"a;b;c", false, false, {"a", "b", "c"}},
      {" a ; ;b;", false, false, {" a ", " ", "b", ""}},
      {" a ; ;b;", true, false, {"a", "", "b", ""}},
      {" a ; ;b;", false, true, {" a ", "b"}},
      {" a ; ;b;", true, true, {"a", "b"}},
      {";a;b", false, false, {";a", "b"}},  // the first character is never a delimiter
      {";", false, false, {";"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> list = {"old"};
    SplitToList(';', c.text, list, c.trim, c.skip);
    EXPECT_EQ(list, c.items) << c.text;
  }
}

TEST(TextUtils, RemoveDuplicatesKeepsFirstIgnoringCase) {
  std::vector<std::string> list = {"A@x.uz", " ", "b@x.uz", "a@X.UZ", "", "B@x.uz"};
  RemoveDuplicates(list, false);
  EXPECT_EQ(list, (std::vector<std::string>{"A@x.uz", " ", "b@x.uz", ""}));
  RemoveDuplicates(list, true);
  EXPECT_EQ(list, (std::vector<std::string>{"A@x.uz", "b@x.uz"}));
}

TEST(TextUtils, JoinNameParts) {
  struct Case {
    std::u16string a, b, c, expected;
  } const cases[] = {
      {u"Ivan", u"Ivanovich", u"Petrov", u"Petrov Ivan Ivanovich"},  // first, middle, last
      {u"Petrov", u"", u"Ivan", u"Ivan Petrov"},                     // last, empty, first
      {u"Ivan", u"", u"", u"Ivan"},
      {u"", u"", u"", u""},
      {u"", u"M", u"", u"M"},
      {u" \tIvan\n", u" M ", u"\x01Petrov ", u"Petrov   \tIvan  M"},
  };
  for (const auto& c : cases) EXPECT_EQ(JoinNameParts(c.a, c.b, c.c), c.expected);
}

TEST(TextUtils, TrimCharsW) {
  struct Case {
    std::u16string text;
    char16_t max;
    std::u16string expected;
  } const cases[] = {
      {u"  ab  ", u' ', u"ab"},
      {u"\t\r\nab\x01", u' ', u"ab"},
      {u"xxabxx", u'x', u""},  // every code up to 'x' goes, 'a' and 'b' too
      {u"zzabzz", u'b', u"zzabzz"},
      {u"   ", u' ', u""},
      {u"", u' ', u""},
      {u"\u0436 \u0436", u' ', u"\u0436 \u0436"},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimCharsW(c.text, c.max), c.expected);
}

TEST(TextUtils, SmallRoutines) {
  EXPECT_EQ(LastCharPos('a', "banana"), 6u);
  EXPECT_EQ(LastCharPos('z', "banana"), 0u);
  EXPECT_EQ(ReplaceChars("a/b\\c:d", "/\\:", '_'), "a_b_c_d");
  EXPECT_EQ(ReplaceCharsW(u"a/b", u"/", u'-'), u"a-b");
  EXPECT_EQ(ReplaceCharSet("a<b>c", MakeCharSet("<>"), ' '), "a b c");
  EXPECT_TRUE(CharInStr("abc", 'b'));
  EXPECT_FALSE(CharInStrW(u"abc", u'z'));
  EXPECT_EQ(BinToHexStr("\x00\xff\x1a", 3), "00FF1A");
  EXPECT_EQ(MinInt64(-1, 5), -1);

  unsigned char buf[4] = {1, 2, 3, 4};
  const unsigned char key[3] = {0xFF, 0x0F, 0x00};
  EXPECT_FALSE(XorWithKey(buf, 2, key, 3));  // shorter than the key: unchanged
  EXPECT_EQ(buf[0], 1);
  EXPECT_TRUE(XorWithKey(buf, 4, key, 3));
  EXPECT_EQ(buf[0], 0xFE);
  EXPECT_EQ(buf[1], 0x0D);
  EXPECT_EQ(buf[2], 3);
  EXPECT_EQ(buf[3], 0xFB);

  std::u16string w = u"\u0102A";
  w.push_back(0);
  w += u"B";
  SwapWideBytes(w);
  EXPECT_EQ(w[0], 0x0201);
  EXPECT_EQ(w[1], 0x4100);
  EXPECT_EQ(w[3], u'B');  // after the terminating 0: untouched

  struct IntCase {
    const char* text;
    int32_t expected;
  } const ints[] = {{"42", 42}, {" -7", -7},        {"+3", 3},  {"", 99},
                    {"4x", 99}, {"2147483648", 99}, {"+-1", 99}};
  for (const auto& c : ints) EXPECT_EQ(VarToIntDef(c.text, 99), c.expected) << c.text;

  TRect r{};
  MakeBoundsRect(10, 20, 30, 40, r);
  EXPECT_EQ(r.Right, 40);
  EXPECT_EQ(r.Bottom, 60);
}

// ---- quoting -----------------------------------------------------------

TEST(Quoting, MaskQuotes) {
  EXPECT_EQ(MaskQuotes("plain text"), "plain text");
  EXPECT_EQ(MaskQuotes("O'Neil \"x\""), "O\xCA\xB9Neil \xCA\xBAx\xCA\xBA");
}

TEST(Quoting, XmlEntitiesBothWays) {
  struct Case {
    const char* plain;
    const char* coded;
  } const cases[] = {
      {"a & b", "a &amp; b"},
      {"<\"'>", "&lt;&quot;&#039;&gt;"},
      {"&lt;", "&amp;lt;"},
      {"&amp;", "&amp;amp;"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(XmlEntities(c.plain, true), c.coded);
    EXPECT_EQ(XmlEntities(c.coded, false), c.plain);
  }
  EXPECT_EQ(XmlEntities("&LT;&Quot;&AMP;", false), "<\"&");
}

TEST(Quoting, XmlEntitiesEncodeThenDecodeIsIdentity) {
  const std::string alphabet = "&;<>\"'#039ltgampquo x";
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string s;
    const size_t len = rng() % 16;
    for (size_t k = 0; k < len; ++k) s += alphabet[rng() % alphabet.size()];
    ASSERT_EQ(XmlEntities(XmlEntities(s, true), false), s) << s;
  }
}

// ---- addresses ---------------------------------------------------------

TEST(Addresses, SplitMailAddress) {
  struct Case {
    const char* address;
    const char* user;
    const char* domain;
  } const cases[] = {
      {"ivan@a.uz", "ivan", "a.uz"}, {"ivan", "ivan", ""},  {"ivan@", "ivan", ""},
      {"@a.uz", "", "a.uz"},         {"a@b@c", "a", "b@c"}, {"", "", ""},
  };
  for (const auto& c : cases) {
    const auto p = SplitMailAddress(c.address);
    EXPECT_EQ(p.User, c.user) << c.address;
    EXPECT_EQ(p.Domain, c.domain) << c.address;
  }
}

TEST(Addresses, ParseAddressEntry) {
  struct Case {
    const char* entry;
    const char* name;
    const char* address;
  } const cases[] = {
      {"", "", ""},
      {"   ", "", ""},
      {"ivan@a.uz", "", "ivan@a.uz"},
      {"  ivan@a.uz", "", "ivan@a.uz"},
      {"\"Ivan Petrov\" <ivan@a.uz>", "Ivan Petrov", "ivan@a.uz"},
      {"'Ivan' ivan@a.uz", "Ivan", "ivan@a.uz"},
      {"\"Ivan Petrov\"", "Ivan Petrov", ""},
      {"\"ivan@a.uz\"", "", "ivan@a.uz"},
      {"\"Ivan <ivan@a.uz>", "Ivan", "ivan@a.uz"},  // no closing quote
      {"Ivan Petrov <ivan@a.uz>", "Ivan Petrov", "ivan@a.uz"},
      {"<ivan@a.uz", "", "ivan@a.uz"},
      {"Ivan ivan@a.uz", "Ivan", "ivan@a.uz"},
      {"Ivan", "Ivan", ""},
  };
  for (const auto& c : cases) {
    const auto e = ParseAddressEntry(c.entry);
    EXPECT_EQ(e.Name, c.name) << c.entry;
    EXPECT_EQ(e.Address, c.address) << c.entry;
  }
}

TEST(Addresses, NormalizeAddressList) {
  struct Case {
    const char* typed;
    const char* normal;
  } const cases[] = {
      {"", ""},
      {"Ivan <ivan@a.uz>, olga@b.uz; ivan@a.uz", "ivan@a.uz;olga@b.uz"},
      {"IVAN@a.uz;ivan@A.UZ", "IVAN@a.uz"},  // case-only duplicates kept once
      {"a@x.uz\r\nb@x.uz\tc@x.uz", "a@x.uz;b@x.uz;c@x.uz"},
      {" ; ,, ;", ""},
      // a quoted display name of two words is not an address
      {"\"Ivan Petrov\" <ivan@a.uz>", "ivan@a.uz"},
      {"\"Ivan Petrov\" <ivan@a.uz>, \"Olga K\" <olga@b.uz>", "ivan@a.uz;olga@b.uz"},
      {"\"ivan@a.uz\"", "ivan@a.uz"},
      {"Ivan Petrov", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeAddressList(c.typed), c.normal) << c.typed;
}

// ---- versions ----------------------------------------------------------

TEST(Version, VersionToInt) {
  struct Case {
    const char* text;
    uint32_t value;
  } const cases[] = {
      {"4.1.2.3", 0x04010002},
      {"4.1.2.", 0x04010002},
      {"4.1.2", 0x04010000},  // no dot after the third number
      {"4.1", 0x04000000},
      {"4", 0},
      {"", 0},
      {"4.x.7.0", 0x04000007},
      {"300.1.70000.0", (300u & 0xFF) << 24 | 1u << 16 | (70000u & 0xFFFF)},
      {"1.2.3.4.5", 0x01020003},
  };
  for (const auto& c : cases) EXPECT_EQ(VersionToInt(c.text), c.value) << c.text;
  EXPECT_LT(VersionToInt("4.0.9.0"), VersionToInt("4.0.10.0"));
}

TEST(Version, OwnFileVersionIsTheCompiledInOne) {
  const std::string own = GetFileVersionString("/proc/self/exe");
  EXPECT_EQ(own, ClientVersionString());
  EXPECT_EQ(std::count(own.begin(), own.end(), '.'), 3);
  EXPECT_EQ(GetFileVersionString("/bin/sh"), "");
  EXPECT_EQ(GetFileVersionString(""), "");
}

}  // namespace
}  // namespace qovra
