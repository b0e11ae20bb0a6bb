#include "qovra/controls/char_set.h"

namespace qovra::ui {

TCharSet CharSetRange(unsigned char first, unsigned char last) {
  TCharSet set;
  for (unsigned code = first; code <= last; ++code) set.set(code);
  return set;
}

TCharSet CharSetOf(std::string_view chars) {
  TCharSet set;
  for (char c : chars) set.set(static_cast<unsigned char>(c));
  return set;
}

TCharSet ControlCodesWithoutTab() {
  TCharSet set = CharSetRange(0, 31);
  set.reset('\t');
  return set;
}

TCharSet LoginCharSet() {
  return CharSetOf("\b-._") | CharSetRange('0', '9') | CharSetRange('A', 'Z') |
         CharSetRange('a', 'z');
}

bool IsAcceptableChar(const TCharSet& set, QChar c) {
  if (set.all()) return true;
  const char16_t code = c.unicode();
  return code <= 0xFF && set.test(code);
}

bool IsAcceptableText(const TCharSet& set, const QString& text) {
  for (QChar c : text) {
    if (!IsAcceptableChar(set, c)) return false;
  }
  return true;
}

}  // namespace qovra::ui
