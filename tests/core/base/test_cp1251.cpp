#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/cp1251.h"

namespace qovra {
namespace {

std::string AllBytes() {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  return all;
}

TEST(Cp1251, EveryByteSurvivesARoundTrip) {
  const std::string all = AllBytes();
  const std::u16string wide = Cp1251ToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(Utf16ToCp1251(wide), all);
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
  for (int b = 0; b < 256; ++b) {
    const char16_t c = Cp1251ToChar(static_cast<unsigned char>(b));
    EXPECT_TRUE(IsCp1251Representable(c)) << b;
    EXPECT_EQ(CharToCp1251(c), static_cast<unsigned char>(b)) << b;
  }
}

// Rows checked with `printf '\xNN' | iconv -f WINDOWS-1251 -t UTF-16BE | xxd`
// (glibc 2.36); 0x98 is the one byte iconv refuses.
TEST(Cp1251, TableRowsMatchIconv) {
  struct Row {
    unsigned char byte;
    char16_t ch;
  };
  const Row rows[] = {
      {0x41, u'A'},   {0x7F, 0x007F}, {0x80, 0x0402}, {0x82, 0x201A}, {0x84, 0x201E},
      {0x88, 0x20AC}, {0x8A, 0x0409}, {0x8F, 0x040F}, {0x91, 0x2018}, {0x92, 0x2019},
      {0x93, 0x201C}, {0x94, 0x201D}, {0x96, 0x2013}, {0x97, 0x2014}, {0x98, 0x0098},
      {0x99, 0x2122}, {0x9F, 0x045F}, {0xA0, 0x00A0}, {0xA1, 0x040E}, {0xA2, 0x045E},
      {0xA5, 0x0490}, {0xA8, 0x0401}, {0xAB, 0x00AB}, {0xB4, 0x0491}, {0xB8, 0x0451},
      {0xB9, 0x2116}, {0xBB, 0x00BB}, {0xBF, 0x0457}, {0xC0, 0x0410}, {0xDF, 0x042F},
      {0xE0, 0x0430}, {0xFF, 0x044F},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Cp1251ToChar(r.byte), r.ch) << int{r.byte};
    EXPECT_EQ(CharToCp1251(r.ch), r.byte) << int{r.byte};
  }
}

// The whole table against the C library's converter, where its module exists.
TEST(Cp1251, WholeTableMatchesSystemIconv) {
  iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1251");
  if (cd == reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1)))
    GTEST_SKIP() << "no WINDOWS-1251 module in iconv";
  for (int b = 0; b < 256; ++b) {
    if (b == 0x98) continue;  // undefined in the code page; ours maps it to U+0098
    char in = static_cast<char>(b);
    char out[8] = {};
    char* pin = &in;
    char* pout = out;
    size_t in_left = 1, out_left = sizeof out;
    ASSERT_NE(iconv(cd, &pin, &in_left, &pout, &out_left), static_cast<size_t>(-1)) << b;
    ASSERT_EQ(sizeof out - out_left, 2u) << b;
    const auto expected = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                                static_cast<unsigned char>(out[1]) << 8);
    EXPECT_EQ(Cp1251ToChar(static_cast<unsigned char>(b)), expected) << b;
  }
  iconv_close(cd);
}

TEST(Cp1251, Utf8ToBytes) {
  struct Case {
    const char* what;
    std::string utf8;
    std::string bytes;
  };
  const Case cases[] = {
      {"ascii", "Login_1.x-", "Login_1.x-"},
      {"russian", "Привет", "\xCF\xF0\xE8\xE2\xE5\xF2"},
      {"yo", "Ёё", "\xA8\xB8"},
      {"short u", "Ўў", "\xA1\xA2"},
      {"uzbek letters outside the page", "ҲҳҚқҒғ", "??????"},
      {"uzbek word", "Исҳоқ", "\xC8\xF1?\xEE?"},
      {"euro and numero", "€№", "\x88\xB9"},
      {"typographic quotes", "«„“”‘’»", "\xAB\x84\x93\x94\x91\x92\xBB"},
      {"dashes and ellipsis", "–—…", "\x96\x97\x85"},
      {"U+0098", "\xC2\x98", "\x98"},
      {"U+0099 has no byte", "\xC2\x99", "?"},
      {"latin-1 letter not in the page", "é", "?"},
      {"four-byte character is one ?", "a\xF0\x9F\x98\x80z", "a?z"},
      {"truncated sequence is one ?", "a\xE2\x82", "a?"},
      {"overlong lead bytes", "\xC0\xAF", "??"},
      {"encoded surrogate", "\xED\xA0\x80", "???"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"stray continuation", "\x80x", "?x"},
      {"nul kept", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToCp1251(c.utf8), c.bytes) << c.what;
}

TEST(Cp1251, Utf16ToBytes) {
  struct Case {
    const char* what;
    std::u16string text;
    std::string bytes;
  };
  const Case cases[] = {
      {"cyrillic", u"Ёжик Ўғил", "\xA8\xE6\xE8\xEA \xA1?\xE8\xEB"},
      {"surrogate pair is one ?", u"x\U0001F600y", "x?y"},
      {"two pairs", u"\U0001F600\U00010400", "??"},
      {"lone high surrogate", std::u16string{u'a', char16_t{0xD800}, u'b'}, "a?b"},
      {"lone low surrogate", std::u16string{char16_t{0xDC00}}, "?"},
      {"high surrogate at the end", std::u16string{u'a', char16_t{0xDBFF}}, "a?"},
      {"U+0098", std::u16string{char16_t{0x98}}, "\x98"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf16ToCp1251(c.text), c.bytes) << c.what;
}

TEST(Cp1251, BytesToText) {
  EXPECT_EQ(Cp1251ToUtf8("\xCF\xF0\xE8\xE2\xE5\xF2"), "Привет");
  EXPECT_EQ(Cp1251ToUtf8("\xA8\xB8\xA1\xA2\xB9\x88"), "ЁёЎў№€");
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xC2\x98");
  EXPECT_EQ(Cp1251ToUtf16("\x98\xAB"), (std::u16string{char16_t{0x98}, u'«'}));
  EXPECT_EQ(Cp1251ToUtf8(""), "");
}

TEST(Cp1251, Representable) {
  const char32_t yes[] = {U'a', 0x7F, 0x98, 0xA0, U'№', U'€', U'Ў', U'ў', U'я'};
  const char32_t no[] = {U'Ҳ', U'Қ', U'Ғ', 0x99, 0xE9, 0xD800, 0xDFFF, 0x1F600, 0x110000};
  for (const char32_t c : yes)
    EXPECT_TRUE(IsCp1251Representable(c)) << std::hex << static_cast<uint32_t>(c);
  for (const char32_t c : no)
    EXPECT_FALSE(IsCp1251Representable(c)) << std::hex << static_cast<uint32_t>(c);
}

}  // namespace
}  // namespace qovra
