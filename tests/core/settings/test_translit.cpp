#include <gtest/gtest.h>

#include <string>

#include "settings/translit.h"

namespace qovra {
namespace {

struct Case {
  std::u16string in;
  std::u16string out;
};

template <size_t N>
void ExpectAll(const Case (&cases)[N]) {
  for (size_t i = 0; i < N; ++i) EXPECT_EQ(CyrToLat(cases[i].in), cases[i].out) << "case " << i;
}

TEST(CyrToLat, DocumentedExamples) {
  const Case cases[] = {
      {u"", u""},
      {u"Ели", u"Yeli"},
      {u"Алексей", u"Aleksey"},
      {u"Мое", u"Moye"},
      {u"Петр", u"Petr"},
      {u"Цех", u"Sex"},
      {u"Акция", u"Aktsiya"},
      {u"Исҳоқ", u"Is'hoq"},
      {u"Шахар", u"Shaxar"},
      {u"ША", u"SHA"},
      {u"Ш", u"SH"},
      {u"ТОШ", u"TOSH"},
      {u"Ўзбек", u"O'zbek"},
      {u"Abc xyz 0123456789", u"Abc xyz 0123456789"},
      {u"Щука", u"Shuka"},
      {u"Шука", u"Shuka"},
  };
  ExpectAll(cases);
}

TEST(CyrToLat, WholeLetterTable) {
  const Case cases[] = {
      {u"АБВГДЖЗИЙКЛМНОПРСТУФХЭҚҲЪЫЬ", u"ABVGDJZIYKLMNOPRSTUFXEQH'I`"},
      {u"абвгджзийклмнопрстуфхэқҳъыь", u"abvgdjziyklmnoprstufxeqh'i`"},
      // Two-letter outputs between capitals stay capital.
      {u"ЖЦЖЧЖШЖЩЖЎЖҒЖЁЖЮЖЯЖ", u"JTSJCHJSHJSHJO'JG'JYOJYUJYAJ"},
      {u"жцжчжшжщжўжғжёжюжяж", u"jtsjchjshjshjo'jg'jyojyujyaj"},
      {u"№5", u"no5"},
  };
  ExpectAll(cases);
}

TEST(CyrToLat, CapitalYeOnlyAtWordStartOrAfterVowel) {
  const Case cases[] = {
      {u"Е", u"YE"},              // alone: no next letter, both capitals
      {u"ЕЛИ", u"YELI"},          // next letter capital
      {u"МОЕ", u"MOYE"},          // after a capital vowel
      {u"АЕд", u"AYed"},          // after a vowel, next letter small
      {u"БЕ", u"BE"},             // after a consonant: one letter
      {u"Иван-Ел", u"Ivan-Yel"},  // "-" is a word boundary
      {u"ёЕ", u"yoYE"},           // Ё is a vowel
      {u"ЪЕ", u"'E"},             // the hard sign is not
  };
  ExpectAll(cases);
}

TEST(CyrToLat, SmallYe) {
  const Case cases[] = {
      {u"ер", u"yer"},
      {u"Моей", u"Moyey"},
      {u"Объект", u"Ob'ekt"},  // after ъ, which is neither vowel nor boundary
      {u"Юрьев", u"Yur`ev"},
      {u"а е", u"a ye"},
      {u"\tе\nе\rе", u"\tye\nye\rye"},
      {u"5е", u"5e"},  // digits are not boundaries
      {u"aе", u"ae"},  // nor Latin letters
      {u"'е", u"'e"},  // nor the apostrophe
      {u"`е", u"`e"},  // nor the grave accent
  };
  ExpectAll(cases);
}

TEST(CyrToLat, TseAtWordStart) {
  const Case cases[] = {
      {u"Ц", u"S"},      {u"цирк", u"sirk"}, {u"Ца", u"Sa"},       {u"АКЦИЯ", u"AKTSIYA"},
      {u"аЦа", u"aTsa"}, {u"ЦЦ", u"STS"},    {u"(цех)", u"(sex)"}, {u"ац", u"ats"},
  };
  ExpectAll(cases);
}

TEST(CyrToLat, EsBeforeHa) {
  const Case cases[] = {
      {u"ИСҲОҚ", u"IS'HOQ"}, {u"сҲ", u"s'H"},
      {u"Сҳ", u"S'h"},       {u"сх", u"sx"},  // the Russian х does not count
      {u"с", u"s"},                           // nothing follows
  };
  ExpectAll(cases);
}

TEST(CyrToLat, SecondLetterFollowsTheCaseOfTheNextCharacter) {
  const Case cases[] = {
      {u"Чай", u"Chay"},
      {u"ЧАЙ", u"CHAY"},
      {u"Ч1", u"CH1"},
      {u"Ч ", u"CH "},
      {u"Чa", u"Cha"},  // small Latin letter
      {u"Шҳ", u"Shh"},  // small Cyrillic letter outside the Russian alphabet
      {u"Шé", u"Sh?"},  // small letter that the code page lacks
      {u"ЮÉ", u"YU?"},
      {u"Ўз", u"O'z"},  // the apostrophe never changes
      {u"Ғафур Ғулом", u"G'afur G'ulom"},
      {u"Шоҳжаҳон", u"Shohjahon"},
      {u"Сайёра", u"Sayyora"},
  };
  ExpectAll(cases);
}

TEST(CyrToLat, SeparatorSetEdges) {
  // Е after each character: a boundary gives "ye", anything else "e".
  struct Edge {
    char16_t before;
    bool boundary;
  };
  const Edge edges[] = {
      {u' ', true},    {u'!', true},  {u'&', true},  {u'\'', false}, {u'(', true},  {u'/', true},
      {u'0', false},   {u'9', false}, {u':', true},  {u'@', true},   {u'A', false}, {u'[', true},
      {u'_', true},    {u'`', false}, {u'z', false}, {u'{', true},   {u'~', true},  {0x7F, true},
      {0x80, true},    {0x90, true},  {0x91, false}, {0x92, false},  {0x93, true},  {0xA0, true},
      {0xA1, false},   {0xA8, false}, {0xA9, true},  {0xBB, true},   {0xBC, false}, {0x0420, false},
      {0x2116, false},
  };
  for (const Edge& e : edges) {
    const std::u16string alone = CyrToLat(std::u16string{e.before});
    EXPECT_EQ(CyrToLat(std::u16string{e.before, u'е'}), alone + (e.boundary ? u"ye" : u"e"))
        << std::hex << int{e.before};
  }
}

TEST(CyrToLat, CharactersOutsideTheTable) {
  const Case cases[] = {
      {u"John Smith-2", u"John Smith-2"},
      {u"Ђ«»€", u"Ђ«»€"},  // in the code page: unchanged
      {u"éӮҶ", u"???"},    // not in it: one "?" each
      {u"Ә", u"?"},
      {u"x\U0001F600y", u"x?y"},  // a surrogate pair is one character
      {u"\U0001F600е", u"?e"},    // and not a word boundary
      {std::u16string{u'a', char16_t{0xD800}}, u"a?"},
      {std::u16string{char16_t{0x98}}, std::u16string{char16_t{0x98}}},
  };
  ExpectAll(cases);
}

}  // namespace
}  // namespace qovra
