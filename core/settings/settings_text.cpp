// Text coding of the settings file and element lookup.
#include <optional>

#include "base/cp1251.h"
#include "base/utf.h"
#include "settings/settings_xml.h"

namespace qovra {
namespace {

// Latin-1 input, no entity expansion, no end-of-line normalisation; a text
// node that is only blanks is kept when it is an element's only child.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_ws_pcdata_single;

// pugixml hands Latin-1 text back as UTF-8 of U+0000-U+00FF: the original
// bytes, one per character.
std::string Latin1Bytes(const char* utf8) {
  std::string out;
  for (const char* p = utf8; *p; ++p) {
    const auto b = static_cast<unsigned char>(*p);
    if ((b == 0xC2 || b == 0xC3) && p[1] != '\0') {
      out += static_cast<char>(((b & 0x03) << 6) | (static_cast<unsigned char>(p[1]) & 0x3F));
      ++p;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

void AppendCodePoint(std::u16string& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<char16_t>(c);
  }
}

bool IsUsableCodePoint(char32_t c) {
  return c != 0 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

// The character that the entity or reference body (text between "&" and
// ";") stands for.
std::optional<char32_t> EntityChar(std::string_view body) {
  if (body == "amp") return U'&';
  if (body == "lt") return U'<';
  if (body == "gt") return U'>';
  if (body == "quot") return U'"';
  if (body == "apos") return U'\'';
  if (body.size() < 2 || body[0] != '#') return std::nullopt;
  const bool hex = body[1] == 'x';
  const std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  char32_t value = 0;
  for (const char ch : digits) {
    int d;
    if (ch >= '0' && ch <= '9') {
      d = ch - '0';
    } else if (hex && ch >= 'a' && ch <= 'f') {
      d = ch - 'a' + 10;
    } else if (hex && ch >= 'A' && ch <= 'F') {
      d = ch - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * (hex ? 16 : 10) + static_cast<char32_t>(d);
  }
  if (!IsUsableCodePoint(value)) return std::nullopt;
  return value;
}

void AppendReference(std::string& out, char32_t c) {
  out += "&#";
  out += std::to_string(static_cast<uint32_t>(c));
  out += ';';
}

// The entity of one of the five XML characters, or null.
const char* XmlEntityOf(char32_t c) {
  switch (c) {
    case U'&':
      return "&amp;";
    case U'"':
      return "&quot;";
    case U'\'':
      return "&#039;";
    case U'<':
      return "&lt;";
    case U'>':
      return "&gt;";
    default:
      return nullptr;
  }
}

std::string TextOfNode(pugi::xml_node n) {
  const std::string raw = Latin1Bytes(n.value());
  if (n.type() == pugi::node_pcdata) return DecodeSettingsText(raw);
  return Cp1251ToUtf8(raw);  // CDATA: no entities inside
}

}  // namespace

bool ParseSettingsDocument(std::string_view bytes, pugi::xml_document& doc) {
  const pugi::xml_parse_result r =
      doc.load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_latin1);
  return r && doc.document_element();
}

std::string DecodeSettingsText(std::string_view raw) {
  std::u16string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    const char b = raw[i];
    if (b == '&') {
      const size_t semi = raw.find(';', i + 1);
      if (semi != std::string_view::npos && semi - i <= 12) {
        if (const auto c = EntityChar(raw.substr(i + 1, semi - i - 1))) {
          AppendCodePoint(out, *c);
          i = semi;
          continue;
        }
      }
    }
    out += Cp1251ToChar(static_cast<unsigned char>(b));
  }
  return Utf16ToUtf8(out);
}

std::string EncodeSettingsText(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (const char* entity = XmlEntityOf(c)) {
      out += entity;
      continue;
    }
    const auto byte = CharToCp1251(c);
    if (c < 0x20 || c == 0x98 || !byte) {
      AppendReference(out, c);
    } else {
      out += static_cast<char>(*byte);
    }
  }
  return out;
}

std::string EscapeSettingsBytes(std::string_view bytes) {
  std::string out;
  for (const char b : bytes) {
    const auto u = static_cast<unsigned char>(b);
    if (const char* entity = XmlEntityOf(u)) {
      out += entity;
    } else if (u < 0x20) {
      AppendReference(out, u);
    } else {
      out += b;
    }
  }
  return out;
}

std::string GetNodeText(pugi::xml_node parent, std::string_view name,
                        std::string_view default_text) {
  pugi::xml_node element;
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && name == c.name()) {
      element = c;
      break;
    }
  }
  if (!element) return std::string(default_text);

  // Every text node inside the element, in document order, without
  // recursion (the nesting depth comes from the file).
  std::string text;
  pugi::xml_node n = element.first_child();
  while (n) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) text += TextOfNode(n);
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n != element && !n.next_sibling()) n = n.parent();
    if (n == element) break;
    n = n.next_sibling();
  }
  return text;
}

}  // namespace qovra
