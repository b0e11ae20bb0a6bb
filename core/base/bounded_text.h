// Text fields with a fixed maximum length, as the shared records hold them.
//
// Every way that text enters a field (construction, assignment, Assign) cuts
// it to the field's limit, so a field can never hold more than it may.
// Wide fields count UTF-16 code units and never keep half of a surrogate
// pair: a pair that would straddle the limit is dropped whole. UTF-8 fields
// count characters, not bytes, and never keep part of a character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/utf.h"

namespace qovra {

// Length in bytes of the longest prefix of text that holds at most
// max_chars characters. A character is one well-formed UTF-8 sequence; each
// byte of an ill-formed sequence counts as a character of its own, so the
// cut never falls inside a well-formed sequence.
inline size_t Utf8CutLength(std::string_view text, size_t max_chars) {
  size_t pos = 0;
  for (size_t chars = 0; chars < max_chars && pos < text.size(); ++chars) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    size_t len = 1;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      len = 3;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      len = 4;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    }
    bool whole = pos + len <= text.size();
    for (size_t i = 1; whole && i < len; ++i) {
      const auto c = static_cast<unsigned char>(text[pos + i]);
      whole = i == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
    }
    pos += whole ? len : 1;
  }
  return pos;
}

// How much of a text a field keeps: bytes, or whole UTF-8 characters.
struct ByteLimit {
  static size_t Keep(std::string_view text, size_t max) {
    return text.size() < max ? text.size() : max;
  }
};
struct Utf8CharLimit {
  static size_t Keep(std::string_view text, size_t max) { return Utf8CutLength(text, max); }
};

// 8-bit text cut by Limit to at most Max units when it enters the field.
// size() counts bytes.
template <size_t Max, class Limit>
class BoundedString {
 public:
  static constexpr size_t kMax = Max;

  BoundedString() = default;
  BoundedString(std::string_view text) { Assign(text); }  // NOLINT: implicit on purpose
  BoundedString(const char* text) { Assign(text ? std::string_view(text) : std::string_view()); }
  BoundedString(const std::string& text) { Assign(text); }

  BoundedString& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }
  BoundedString& operator=(const char* text) {
    Assign(text ? std::string_view(text) : std::string_view());
    return *this;
  }
  BoundedString& operator=(const std::string& text) {
    Assign(text);
    return *this;
  }

  // Stores text, cut to the limit. Returns true when it was kept whole.
  bool Assign(std::string_view text) {
    const size_t keep = Limit::Keep(text, Max);
    value_.assign(text.substr(0, keep));
    return keep == text.size();
  }

  const std::string& str() const { return value_; }
  std::string_view view() const { return value_; }
  const char* c_str() const { return value_.c_str(); }
  size_t size() const { return value_.size(); }
  bool empty() const { return value_.empty(); }
  void clear() { value_.clear(); }
  operator std::string_view() const { return value_; }  // NOLINT

  friend bool operator==(const BoundedString& a, std::string_view b) { return a.value_ == b; }

 private:
  std::string value_;
};

// 8-bit text of at most MaxLen bytes (a field of MaxLen + 1 bytes with its
// terminating zero, or of MaxLen bytes where the field has none).
template <size_t MaxLen>
using BoundedText = BoundedString<MaxLen, ByteLimit>;

// UTF-8 text of at most MaxChars characters (see Utf8CutLength).
template <size_t MaxChars>
using BoundedUtf8Text = BoundedString<MaxChars, Utf8CharLimit>;

// UTF-16 text of at most MaxLen code units.
template <size_t MaxLen>
class BoundedWideText {
 public:
  static constexpr size_t kMaxLen = MaxLen;

  BoundedWideText() = default;
  BoundedWideText(std::u16string_view text) { Assign(text); }  // NOLINT
  BoundedWideText(const char16_t* text) {
    Assign(text ? std::u16string_view(text) : std::u16string_view());
  }
  BoundedWideText(const std::u16string& text) { Assign(text); }

  BoundedWideText& operator=(std::u16string_view text) {
    Assign(text);
    return *this;
  }
  BoundedWideText& operator=(const char16_t* text) {
    Assign(text ? std::u16string_view(text) : std::u16string_view());
    return *this;
  }
  BoundedWideText& operator=(const std::u16string& text) {
    Assign(text);
    return *this;
  }

  // Stores text, cut to kMaxLen code units without splitting a surrogate
  // pair. Returns true when it was kept whole.
  bool Assign(std::u16string_view text) {
    const size_t keep = Utf16CutLength(text, MaxLen);
    value_.assign(text.substr(0, keep));
    return keep == text.size();
  }

  const std::u16string& str() const { return value_; }
  std::u16string_view view() const { return value_; }
  size_t size() const { return value_.size(); }
  bool empty() const { return value_.empty(); }
  void clear() { value_.clear(); }
  operator std::u16string_view() const { return value_; }  // NOLINT

  friend bool operator==(const BoundedWideText& a, std::u16string_view b) { return a.value_ == b; }

 private:
  std::u16string value_;
};

}  // namespace qovra
