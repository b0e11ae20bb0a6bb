#include "request_xml.h"

#include <limits>

namespace exchange {

const char* RequestXml::Value(const char* name) const {
  const pugi::xml_node node = root.child(name);
  if (!node) return nullptr;
  const pugi::xml_attribute val = node.attribute("val");
  return val ? val.value() : nullptr;
}

bool ParseDecimal(std::string_view text, int64_t& out) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  const uint64_t limit = uint64_t{std::numeric_limits<int64_t>::max()} + (negative ? 1 : 0);
  if (v > limit) return false;
  out = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

bool ParseRequestXml(std::string_view text, RequestXml& out, std::string& error) {
  out.root = pugi::xml_node();
  out.cmd = 0;
  // parse_doctype keeps a DOCTYPE as a node so that it can be refused;
  // pugixml never reads external entities or expands declared ones.
  const unsigned options = pugi::parse_default | pugi::parse_doctype;
  const pugi::xml_parse_result r =
      out.doc.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8);
  if (!r) {
    error = std::string("xml: ") + r.description();
    return false;
  }
  for (pugi::xml_node n = out.doc.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_doctype) {
      error = "xml: DOCTYPE not accepted";
      return false;
    }
  }
  out.root = out.doc.document_element();
  if (!out.root) {
    error = "xml: no document element";
    return false;
  }
  const char* cmd = out.Value("cmd");
  if (!cmd || !ParseDecimal(cmd, out.cmd)) {
    error = "xml: no command number";
    return false;
  }
  return true;
}

}  // namespace exchange
