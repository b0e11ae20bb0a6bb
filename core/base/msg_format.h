// Fills a message text with typed arguments.
//
// Message texts come from language files and are never used as printf
// formats. FormatMsg understands exactly these conversions:
//   %s  text            %d  signed decimal
//   %u  unsigned decimal %x  upper-case hexadecimal
//   %%  a percent sign
// Anything that does not fit is marked in the output instead of failing:
//   a missing argument            -> "%!d(missing)"
//   an argument of the wrong type -> "%!d(text=abc)" / "%!s(number=5)"
//   a negative number for %u, %x  -> "%!u(number=-5)"
//   an unknown conversion         -> "%!q(unknown)"; a lone "%" at the end -> "%!(end)"
//   arguments left over           -> "%!(extra=a, 5)" appended
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace qovra {

// Integer types taken as numbers; character and Boolean types are not.
template <typename T>
concept FormatNumber =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
    !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t> &&
    !std::is_same_v<T, wchar_t>;

// One argument: a text (UTF-8; UTF-16 is converted) or an integer.
class FormatArg {
 public:
  enum class Kind { Text, Signed, Unsigned };

  FormatArg(std::string_view text) : kind_(Kind::Text), text_(text) {}             // NOLINT
  FormatArg(const std::string& text) : kind_(Kind::Text), text_(text) {}           // NOLINT
  FormatArg(const char* text) : kind_(Kind::Text), text_(text ? text : "") {}      // NOLINT
  FormatArg(std::u16string_view text);                                             // NOLINT
  FormatArg(const std::u16string& text) : FormatArg(std::u16string_view(text)) {}  // NOLINT
  template <typename T>
  requires FormatNumber<T> FormatArg(T value) {  // NOLINT
    if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::Signed;
      signed_ = value;
    } else {
      kind_ = Kind::Unsigned;
      unsigned_ = value;
    }
  }

  Kind kind() const { return kind_; }
  const std::string& text() const { return text_; }
  int64_t signed_value() const { return signed_; }
  uint64_t unsigned_value() const { return unsigned_; }

 private:
  Kind kind_ = Kind::Text;
  std::string text_;
  int64_t signed_ = 0;
  uint64_t unsigned_ = 0;
};

std::string FormatMsg(std::string_view pattern, std::initializer_list<FormatArg> args);

template <typename... Args>
std::string FormatMsgArgs(std::string_view pattern, const Args&... args) {
  return FormatMsg(pattern, {FormatArg(args)...});
}

}  // namespace qovra
