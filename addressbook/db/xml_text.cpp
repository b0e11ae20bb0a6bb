#include "xml_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "base/cp1251.h"
#include "base/utf.h"

namespace qovra::contacts_detail {

namespace {

enum class TFamily { Utf8, Utf16Le, Utf16Be };

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// The declaration's encoding is looked for in this many bytes.
constexpr size_t kDeclarationWindow = 512;
constexpr size_t kMaxEncodingName = 40;

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = Upper(c);
  return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// EncName of the XML grammar: [A-Za-z] ([A-Za-z0-9._] | '-')*.
bool IsEncodingName(std::string_view name) {
  if (name.empty() || name.size() > kMaxEncodingName) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool other = (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    if (!letter && (i == 0 || !other)) return false;
  }
  return true;
}

// The encoding="..." of the declaration at the start of text: false when a
// declaration names one in a form that cannot be read; name stays empty
// when there is no declaration or it names no encoding.
bool DeclaredEncoding(std::string_view text, std::string& name) {
  name.clear();
  if (!StartsWith(text, "<?xml") || text.size() < 6 || !IsXmlSpace(text[5])) return true;
  const size_t end = text.substr(0, kDeclarationWindow).find("?>");
  if (end == std::string_view::npos) return true;
  const std::string_view decl = text.substr(5, end - 5);
  size_t at = 0;
  while ((at = decl.find("encoding", at)) != std::string_view::npos) {
    if (at > 0 && IsXmlSpace(decl[at - 1])) break;
    at += 8;
  }
  if (at == std::string_view::npos) return true;
  size_t i = at + 8;
  while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
  if (i >= decl.size() || decl[i] != '=') return false;
  ++i;
  while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
  if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return false;
  const char quote = decl[i++];
  const size_t close = decl.find(quote, i);
  if (close == std::string_view::npos) return false;
  name = std::string(decl.substr(i, close - i));
  return IsEncodingName(name);
}

// UTF-16 bytes (no mark) to UTF-8; false at an odd length or a surrogate
// without its other half.
bool Utf16ToUtf8Strict(std::string_view bytes, bool big_endian, std::string& out,
                       std::string& detail) {
  if (bytes.size() % 2 != 0) {
    detail = "UTF-16 text of an odd number of bytes";
    return false;
  }
  out.clear();
  out.reserve(bytes.size() + bytes.size() / 2);
  const auto unit = [&](size_t i) -> char16_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char16_t>(big_endian ? (a << 8) | b : (b << 8) | a);
  };
  for (size_t i = 0; i < bytes.size(); i += 2) {
    const char16_t u = unit(i);
    char32_t c = u;
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      const char16_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      detail = "a lone UTF-16 surrogate at byte " + std::to_string(i);
      return false;
    }
    AppendUtf8(out, c);
  }
  return true;
}

// Any other encoding through iconv.
TDecodeFault IconvToUtf8(std::string_view bytes, const std::string& name, std::string& out,
                         std::string& detail) {
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1))) {
    detail = "the encoding " + name + " is not known";
    return TDecodeFault::UnknownEncoding;
  }
  out.clear();
  out.resize(bytes.size() * 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  size_t used = 0;
  TDecodeFault fault = TDecodeFault::None;
  while (in_left > 0) {
    char* dest = out.data() + used;
    size_t out_left = out.size() - used;
    const size_t r = iconv(cd, &in, &in_left, &dest, &out_left);
    used = out.size() - out_left;
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    detail =
        "bytes that are not " + name + " text at byte " + std::to_string(bytes.size() - in_left);
    fault = TDecodeFault::Undecodable;
    break;
  }
  iconv_close(cd);
  out.resize(used);
  return fault;
}

bool IsWideName(const std::string& upper) {
  for (std::string_view wide :
       {"UTF-16", "UTF16", "UTF-32", "UTF32", "UCS-2", "UCS2", "UCS-4", "UCS4", "UNICODE"}) {
    if (StartsWith(upper, wide)) return true;
  }
  return false;
}

TDecodeFault DecodeEightBit(std::string_view bytes, std::string& out, std::string& detail) {
  std::string name;
  if (!DeclaredEncoding(bytes, name)) {
    detail = "an XML declaration whose encoding cannot be read";
    return TDecodeFault::UnknownEncoding;
  }
  const std::string upper = UpperName(name);
  if (upper.empty() || upper == "UTF-8" || upper == "UTF8") {
    if (!IsValidUtf8(bytes)) {
      detail = "bytes that are not UTF-8 text";
      return TDecodeFault::Undecodable;
    }
    out.assign(bytes);
    return TDecodeFault::None;
  }
  if (upper == "WINDOWS-1251" || upper == "CP1251" || upper == "X-CP1251") {
    out = Cp1251ToUtf8(bytes);
    return TDecodeFault::None;
  }
  if (IsWideName(upper)) {
    detail = "a file that declares " + name + " but is written in 8-bit characters";
    return TDecodeFault::Undecodable;
  }
  return IconvToUtf8(bytes, name, out, detail);
}

// The first character XML does not allow in a document, or npos.
size_t FirstControlCharacter(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return i;
    // U+FFFE and U+FFFF
    if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE)
      return i;
  }
  return std::string_view::npos;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t n;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= text.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      const auto t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

TDecodeFault DecodeXmlBytes(std::string_view bytes, std::string& out, std::string& detail) {
  TFamily family = TFamily::Utf8;
  bool marked = false;
  if (StartsWith(bytes, kUtf8Bom)) {
    bytes.remove_prefix(kUtf8Bom.size());
    marked = true;
  } else if (StartsWith(bytes, std::string_view("\xFF\xFE\x00\x00", 4)) ||
             StartsWith(bytes, std::string_view("\x00\x00\xFE\xFF", 4))) {
    detail = "a UTF-32 byte-order mark";
    return TDecodeFault::UnknownEncoding;
  } else if (StartsWith(bytes, "\xFF\xFE")) {
    bytes.remove_prefix(2);
    family = TFamily::Utf16Le;
  } else if (StartsWith(bytes, "\xFE\xFF")) {
    bytes.remove_prefix(2);
    family = TFamily::Utf16Be;
  } else if (StartsWith(bytes, std::string_view("<\0?\0", 4))) {
    family = TFamily::Utf16Le;
  } else if (StartsWith(bytes, std::string_view("\0<\0?", 4))) {
    family = TFamily::Utf16Be;
  }
  TDecodeFault fault = TDecodeFault::None;
  if (family != TFamily::Utf8) {
    if (!Utf16ToUtf8Strict(bytes, family == TFamily::Utf16Be, out, detail))
      fault = TDecodeFault::Undecodable;
  } else if (marked) {
    // The mark decides: a declaration naming another encoding is overruled.
    if (!IsValidUtf8(bytes)) {
      detail = "bytes that are not UTF-8 text";
      fault = TDecodeFault::Undecodable;
    } else {
      out.assign(bytes);
    }
  } else {
    fault = DecodeEightBit(bytes, out, detail);
  }
  if (fault != TDecodeFault::None) return fault;
  if (StartsWith(out, kUtf8Bom)) out.erase(0, kUtf8Bom.size());
  const size_t bad = FirstControlCharacter(out);
  if (bad != std::string_view::npos) {
    detail = "a control character at offset " + std::to_string(bad) + " of the decoded text";
    return TDecodeFault::ControlCharacter;
  }
  return TDecodeFault::None;
}

namespace {

bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

bool IsXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// A character reference's number (after "&#"): false when it is not one.
bool CharReference(std::string_view digits, char32_t& code) {
  const bool hex = !digits.empty() && digits[0] == 'x';
  if (hex) digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 8) return false;
  code = 0;
  for (const char c : digits) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      return false;
    }
    code = code * (hex ? 16 : 10) + static_cast<char32_t>(v);
  }
  return true;
}

}  // namespace

TValueFault DecodeXmlValue(std::string_view raw, std::string& out) {
  out.clear();
  out.reserve(raw.size());
  size_t i = 0;
  while (i < raw.size()) {
    const char c = raw[i];
    if (c == '<') return TValueFault::BareLessThan;
    if (c != '&') {
      out += c;
      ++i;
      continue;
    }
    const size_t semi = raw.find(';', i + 1);
    if (semi == std::string_view::npos) return TValueFault::BareAmpersand;
    const std::string_view ref = raw.substr(i + 1, semi - i - 1);
    if (!ref.empty() && ref[0] == '#') {
      char32_t code = 0;
      if (!CharReference(ref.substr(1), code)) return TValueFault::BareAmpersand;
      if (!IsXmlChar(code)) return TValueFault::BadCharReference;
      AppendUtf8(out, code);
    } else if (ref == "lt") {
      out += '<';
    } else if (ref == "gt") {
      out += '>';
    } else if (ref == "amp") {
      out += '&';
    } else if (ref == "apos") {
      out += '\'';
    } else if (ref == "quot") {
      out += '"';
    } else {
      if (ref.empty() || !IsNameStart(ref[0])) return TValueFault::BareAmpersand;
      for (const char n : ref)
        if (!IsNameChar(n)) return TValueFault::BareAmpersand;
      out.append(raw.substr(i, semi - i + 1));
    }
    i = semi + 1;
  }
  return TValueFault::None;
}

}  // namespace qovra::contacts_detail
