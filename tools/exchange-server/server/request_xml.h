// The request XML of a session request, read with a real XML parser:
// "<request><cmd val="N"/>...</request>". No DTD is accepted and no entity
// beyond the five predefined ones (and character references) is expanded.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace exchange {

struct RequestXml {
  pugi::xml_document doc;
  pugi::xml_node root;  // the document element
  int64_t cmd = 0;

  // The val attribute of the first child element called name, or nullptr
  // when there is none.
  const char* Value(const char* name) const;
  bool Has(const char* name) const { return Value(name) != nullptr; }
};

// Parses text. False for a parse error, a DOCTYPE, no document element, or
// no cmd element whose val is a decimal integer; error then says which.
[[nodiscard]] bool ParseRequestXml(std::string_view text, RequestXml& out, std::string& error);

// A decimal integer (optional "-"), nothing else; false on overflow.
[[nodiscard]] bool ParseDecimal(std::string_view text, int64_t& out);

}  // namespace exchange
