#include "base/msg_format.h"

#include <vector>

#include "base/utf.h"

namespace qovra {
namespace {

std::string HexUpper(uint64_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[v & 15]);
    v >>= 4;
  } while (v != 0);
  return out;
}

std::string ValueText(const FormatArg& a) {
  switch (a.kind()) {
    case FormatArg::Kind::Text:
      return a.text();
    case FormatArg::Kind::Signed:
      return std::to_string(a.signed_value());
    case FormatArg::Kind::Unsigned:
      return std::to_string(a.unsigned_value());
  }
  return {};
}

std::string Describe(const FormatArg& a) {
  return (a.kind() == FormatArg::Kind::Text ? "text=" : "number=") + ValueText(a);
}

std::string Mark(char verb, const std::string& what) {
  std::string out = "%!";
  out += verb;
  out += '(';
  out += what;
  out += ')';
  return out;
}

// The argument converted for verb, or a mark when it does not fit.
std::string Convert(char verb, const FormatArg& a) {
  const bool text = a.kind() == FormatArg::Kind::Text;
  if (verb == 's') return text ? a.text() : Mark(verb, Describe(a));
  if (text) return Mark(verb, Describe(a));
  const bool negative = a.kind() == FormatArg::Kind::Signed && a.signed_value() < 0;
  const uint64_t magnitude = a.kind() == FormatArg::Kind::Unsigned
                                 ? a.unsigned_value()
                                 : static_cast<uint64_t>(a.signed_value());
  switch (verb) {
    case 'd':
      return a.kind() == FormatArg::Kind::Signed ? std::to_string(a.signed_value())
                                                 : std::to_string(a.unsigned_value());
    case 'u':
      return negative ? Mark(verb, Describe(a)) : std::to_string(magnitude);
    case 'x':
      return negative ? Mark(verb, Describe(a)) : HexUpper(magnitude);
  }
  return Mark(verb, "unknown");
}

}  // namespace

FormatArg::FormatArg(std::u16string_view text) : kind_(Kind::Text), text_(Utf16ToUtf8(text)) {}

std::string FormatMsg(std::string_view pattern, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(pattern.size());
  const FormatArg* next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 >= pattern.size()) {
      out += "%!(end)";
      break;
    }
    const char verb = pattern[++i];
    if (verb == '%') {
      out += '%';
    } else if (verb != 's' && verb != 'd' && verb != 'u' && verb != 'x') {
      out += Mark(verb, "unknown");
    } else if (next == args.end()) {
      out += Mark(verb, "missing");
    } else {
      out += Convert(verb, *next++);
    }
  }
  if (next != args.end()) {
    out += "%!(extra=";
    for (const FormatArg* a = next; a != args.end(); ++a) {
      if (a != next) out += ", ";
      out += ValueText(*a);
    }
    out += ')';
  }
  return out;
}

}  // namespace qovra
