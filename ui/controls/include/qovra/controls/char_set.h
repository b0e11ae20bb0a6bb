// Sets of acceptable characters for the program's edits, and the test that
// decides whether a piece of incoming text may enter a field.
#pragma once

#include <QString>
#include <bitset>
#include <string_view>

namespace qovra::ui {

// A set of the 256 character codes 0x00-0xFF.
using TCharSet = std::bitset<256>;

// Every code from first to last inclusive.
TCharSet CharSetRange(unsigned char first, unsigned char last);

// The codes of the given Latin-1 characters.
TCharSet CharSetOf(std::string_view chars);

// The control codes 0-8 and 10-31: every control code except Tab. A field's
// set always holds them once it has been restricted.
TCharSet ControlCodesWithoutTab();

// The characters every login field accepts: backspace, "-", ".", "0"-"9",
// "A"-"Z", "_" and "a"-"z".
TCharSet LoginCharSet();

// True when c may enter a field whose set is `set`. A full set (all 256 codes,
// the initial state of every field) accepts every character, whatever its
// code. A restricted set refuses every character above U+00FF and tests the
// others by their code.
bool IsAcceptableChar(const TCharSet& set, QChar c);

// True when every character of text is acceptable (the empty text is).
bool IsAcceptableText(const TCharSet& set, const QString& text);

}  // namespace qovra::ui
