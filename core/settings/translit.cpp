#include "settings/translit.h"

#include <vector>

#include "base/cp1251.h"

namespace qovra {
namespace {

struct Letter {
  char32_t cyr;
  const char* lat;  // one or two ASCII characters
};

// Searched from the start; the first match wins.
constexpr Letter kLetters[] = {
    {U'А', "A"},  {U'а', "a"},  {U'Б', "B"},  {U'б', "b"},  {U'В', "V"},  {U'в', "v"},
    {U'Г', "G"},  {U'г', "g"},  {U'Д', "D"},  {U'д', "d"},  {U'Ж', "J"},  {U'ж', "j"},
    {U'З', "Z"},  {U'з', "z"},  {U'И', "I"},  {U'и', "i"},  {U'Й', "Y"},  {U'й', "y"},
    {U'К', "K"},  {U'к', "k"},  {U'Л', "L"},  {U'л', "l"},  {U'М', "M"},  {U'м', "m"},
    {U'Н', "N"},  {U'н', "n"},  {U'О', "O"},  {U'о', "o"},  {U'П', "P"},  {U'п', "p"},
    {U'Р', "R"},  {U'р', "r"},  {U'С', "S"},  {U'с', "s"},  {U'Т', "T"},  {U'т', "t"},
    {U'У', "U"},  {U'у', "u"},  {U'Ф', "F"},  {U'ф', "f"},  {U'Х', "X"},  {U'х', "x"},
    {U'Э', "E"},  {U'э', "e"},  {U'Қ', "Q"},  {U'қ', "q"},  {U'Ҳ', "H"},  {U'ҳ', "h"},
    {U'Ъ', "'"},  {U'ъ', "'"},  {U'Ы', "I"},  {U'ы', "i"},  {U'Ь', "`"},  {U'ь', "`"},
    {U'Ц', "TS"}, {U'ц', "ts"}, {U'Ч', "CH"}, {U'ч', "ch"}, {U'Ш', "SH"}, {U'ш', "sh"},
    {U'Щ', "SH"}, {U'щ', "sh"}, {U'Ў', "O'"}, {U'ў', "o'"}, {U'Ғ', "G'"}, {U'ғ', "g'"},
    {U'Е', "YE"}, {U'е', "ye"}, {U'Ё', "YO"}, {U'ё', "yo"}, {U'Ю', "YU"}, {U'ю', "yu"},
    {U'Я', "YA"}, {U'я', "ya"}, {U'№', "no"},
};

const char* FindLetter(char32_t c) {
  for (const Letter& l : kLetters) {
    if (l.cyr == c) return l.lat;
  }
  return nullptr;
}

// Word boundaries; only characters below U+0100 count. The apostrophe does not.
bool IsSeparator(char32_t c) {
  return c == 0x09 || c == 0x0A || c == 0x0D || c == 0x20 || (c >= 0x21 && c <= 0x26) ||
         (c >= 0x28 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x5F) ||
         (c >= 0x7B && c <= 0x7E) || c == 0x7F || (c >= 0x80 && c <= 0x90) ||
         (c >= 0x93 && c <= 0xA0) || (c >= 0xA9 && c <= 0xBB);
}

bool IsVowel(char32_t c) {
  switch (c) {
    case U'Ё':
    case U'А':
    case U'Е':
    case U'И':
    case U'О':
    case U'У':
    case U'Ы':
    case U'Ю':
    case U'Я':
    case U'а':
    case U'е':
    case U'и':
    case U'о':
    case U'у':
    case U'ы':
    case U'ю':
    case U'я':
    case U'ё':
      return true;
    default:
      return false;
  }
}

// Small letters of the Latin, Greek and Cyrillic blocks (the scripts a name is
// typed in), by their Unicode case.
bool IsSmallLetter(char32_t c) {
  if (c >= U'a' && c <= U'z') return true;
  if (c >= 0x00DF && c <= 0x00FF) return c != 0x00F7;
  if (c >= 0x0100 && c <= 0x017F) {  // Latin Extended-A: mostly upper/lower pairs
    if (c == 0x0138 || c == 0x0149 || c == 0x017F) return true;
    if (c == 0x0178) return false;
    if ((c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E)) return c % 2 == 0;
    return c % 2 == 1;
  }
  if (c >= 0x03AC && c <= 0x03CE) return true;  // Greek small letters
  if (c >= 0x0430 && c <= 0x045F) return true;  // Cyrillic small letters
  if ((c >= 0x0460 && c <= 0x0481) || (c >= 0x048A && c <= 0x04BF) ||
      (c >= 0x04D0 && c <= 0x052F)) {
    return c % 2 == 1;
  }
  if (c >= 0x04C1 && c <= 0x04CE) return c % 2 == 0;
  return c == 0x04CF;
}

std::vector<char32_t> CodePoints(std::u16string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (s[i + 1] - 0xDC00));
      ++i;
    } else {
      out.push_back(u);
    }
  }
  return out;
}

}  // namespace

std::u16string CyrToLat(std::u16string_view s) {
  const std::vector<char32_t> cps = CodePoints(s);
  std::string out;  // 8-bit text, widened at the end
  out.reserve(cps.size() * 2);
  for (size_t i = 0; i < cps.size(); ++i) {
    const char32_t x = cps[i];
    const bool word_start = i == 0 || IsSeparator(cps[i - 1]);
    const bool has_next = i + 1 < cps.size();
    const char32_t next = has_next ? cps[i + 1] : 0;

    const char* lat = nullptr;
    if (x == U'Е' || x == U'е') {
      if (!word_start && !IsVowel(cps[i - 1])) {
        out += x == U'Е' ? 'E' : 'e';
        continue;
      }
      lat = FindLetter(x);  // "YE" / "ye", cased below
    } else if ((x == U'Ц' || x == U'ц') && word_start) {
      out += x == U'Ц' ? 'S' : 's';
      continue;
    } else if ((x == U'С' || x == U'с') && (next == U'Ҳ' || next == U'ҳ')) {
      out += x == U'С' ? "S'" : "s'";
      continue;
    } else {
      lat = FindLetter(x);
    }

    if (lat == nullptr) {
      const auto b = CharToCp1251(x);
      out += b ? static_cast<char>(*b) : '?';
      continue;
    }
    out += lat[0];
    if (lat[1] != '\0') {
      char second = lat[1];
      if (has_next && IsSmallLetter(next) && second >= 'A' && second <= 'Z') {
        second = static_cast<char>(second - 'A' + 'a');
      }
      out += second;
    }
  }
  return Cp1251ToUtf16(out);
}

}  // namespace qovra
