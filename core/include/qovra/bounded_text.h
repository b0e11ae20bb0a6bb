// Text fields with a fixed maximum length, as the shared records hold them.
//
// Every way that text enters a field (construction, assignment, Assign) cuts
// it to the field's limit, so a field can never hold more than it may.
// Wide fields count UTF-16 code units and never keep half of a surrogate
// pair: a pair that would straddle the limit is dropped whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "qovra/utf.h"

namespace qovra {

// 8-bit text of at most MaxLen bytes (a field of MaxLen + 1 bytes with its
// terminating zero, or of MaxLen bytes where the field has none).
template <size_t MaxLen>
class BoundedText {
 public:
  static constexpr size_t kMaxLen = MaxLen;

  BoundedText() = default;
  BoundedText(std::string_view text) { Assign(text); }  // NOLINT: implicit on purpose
  BoundedText(const char* text) { Assign(text ? std::string_view(text) : std::string_view()); }
  BoundedText(const std::string& text) { Assign(text); }

  BoundedText& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }
  BoundedText& operator=(const char* text) {
    Assign(text ? std::string_view(text) : std::string_view());
    return *this;
  }
  BoundedText& operator=(const std::string& text) {
    Assign(text);
    return *this;
  }

  // Stores text, cut to kMaxLen bytes. Returns true when it was kept whole.
  bool Assign(std::string_view text) {
    const bool whole = text.size() <= MaxLen;
    value_.assign(text.substr(0, MaxLen));
    return whole;
  }

  const std::string& str() const { return value_; }
  std::string_view view() const { return value_; }
  const char* c_str() const { return value_.c_str(); }
  size_t size() const { return value_.size(); }
  bool empty() const { return value_.empty(); }
  void clear() { value_.clear(); }
  operator std::string_view() const { return value_; }  // NOLINT

  friend bool operator==(const BoundedText& a, std::string_view b) { return a.value_ == b; }

 private:
  std::string value_;
};

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
