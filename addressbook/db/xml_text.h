// The text of an XML document in the encoding it declares, as UTF-8, and
// the values inside it (private to the contacts file reader).
//
// Encoding: a byte-order mark (UTF-8, UTF-16 LE or BE), else "<?" in a
// 16-bit form (UTF-16 without a mark), else the encoding="..." of the XML
// declaration, else UTF-8. Windows-1251, ISO-8859-1, US-ASCII and UTF-8 are
// decoded here; any other declared name goes to the system's iconv.
#pragma once

#include <string>
#include <string_view>

namespace qovra::contacts_detail {

enum class TDecodeFault {
  None,
  UnknownEncoding,   // the declared name is not an encoding we can read
  Undecodable,       // bytes that are not text in the encoding
  ControlCharacter,  // a character XML does not allow in a document
};

// bytes as UTF-8 text without a byte-order mark. On failure out is
// unspecified and detail names the encoding and the place.
[[nodiscard]] TDecodeFault DecodeXmlBytes(std::string_view bytes, std::string& out,
                                          std::string& detail);

// The value of an attribute as written between its quotes (line ends
// already normalised) with its references resolved: the five predefined
// entities and character references; any other complete reference
// ("&name;") stays as written, since no DTD is read.
enum class TValueFault {
  None,
  BareAmpersand,     // "&" that begins no complete reference
  BareLessThan,      // "<" inside the value
  BadCharReference,  // a character reference to a character XML does not allow
};
[[nodiscard]] TValueFault DecodeXmlValue(std::string_view raw, std::string& out);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

}  // namespace qovra::contacts_detail
