#include "update_rule.h"

#include <pugixml.hpp>

namespace qovraupd {

bool ParseUpdateRule(std::string_view text, UpdateRule& out, std::string& error) {
  pugi::xml_document doc;
  // No DOCTYPE node is kept by default; parse_doctype lets us see and refuse one.
  const unsigned options = pugi::parse_default | pugi::parse_doctype;
  const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size(), options);
  if (!parsed) {
    error = std::string("not a rule document: ") + parsed.description();
    return false;
  }
  for (const pugi::xml_node n : doc.children()) {
    if (n.type() == pugi::node_doctype) {
      error = "a rule document carries no DOCTYPE";
      return false;
    }
  }
  const pugi::xml_node root = doc.document_element();
  if (std::string_view(root.name()) != "update") {
    error = "the rule document's root is not \"update\"";
    return false;
  }
  UpdateRule rule;
  rule.version = root.attribute("version").value();
  rule.url = root.attribute("url").value();
  for (const pugi::xml_node f : root.children("file")) {
    RuleFile file{f.attribute("name").value(), f.attribute("url").value(),
                  f.attribute("size").value()};
    if (file.name.empty()) {
      error = "a file of the rule has no name";
      return false;
    }
    rule.files.push_back(std::move(file));
  }
  out = std::move(rule);
  return true;
}

std::string DescribeUpdate(const UpdateRule& rule) {
  std::string text = "update to version " + (rule.version.empty() ? "?" : rule.version);
  if (!rule.url.empty()) text += " from " + rule.url;
  text += "\n";
  if (rule.files.empty()) text += "  (no files named)\n";
  for (const RuleFile& f : rule.files) {
    text += "  would update " + f.name;
    if (!f.url.empty()) text += " from " + f.url;
    if (!f.size.empty()) text += " (" + f.size + " bytes)";
    text += "\n";
  }
  return text;
}

}  // namespace qovraupd
