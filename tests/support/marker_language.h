// Marker language files: a shipped language file with every text replaced
// by a marker naming its key, so a test can tell a text that came from the
// file from one written in the code.
//
// REQUIRES: the test target defines QOVRA_SOURCE_DIR and links pugixml
// (qovra_core brings it).
#pragma once

#include <filesystem>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "settings/language.h"

namespace qovra::testing {

// "⟦name⟧", or "⟦code:name⟧" when code is given.
inline std::string LanguageMarker(std::string_view name, std::string_view code = {}) {
  std::string marker = "\u27E6";
  if (!code.empty()) marker.append(code).append(":");
  return marker.append(name).append("\u27E7");
}

// Writes dir/lang/lang.<code>.xml: the shipped file of langid with each
// message and window entry replaced by its marker (the key for messages,
// "TfrmX.name" for window entries, "TfrmX.name.hint" for hints), followed by
// the conversions of the shipped text ("%s", "%d") so that formatted
// messages still take their arguments. with_code puts the language code in
// every marker. False when the shipped file cannot be read or the copy
// cannot be written.
inline bool WriteMarkerLanguageFile(int langid, const std::filesystem::path& dir,
                                    bool with_code = false) {
  const std::string code(LanguageCode(langid));
  const std::string marker_code = with_code ? code : std::string();
  pugi::xml_document doc;
  const std::string shipped = std::string(QOVRA_SOURCE_DIR) + "/lang/lang." + code + ".xml";
  if (!doc.load_file(shipped.c_str())) return false;
  for (pugi::xml_node section : doc.document_element().children()) {
    const std::string section_name = section.name();
    for (pugi::xml_node entry : section.children()) {
      if (entry.type() != pugi::node_element) continue;
      const std::string key = section_name == "Messages" ? std::string(entry.name())
                                                         : section_name + "." + entry.name();
      std::string text = LanguageMarker(key, marker_code);
      const std::string shipped_text = entry.text().get();
      for (size_t at = shipped_text.find('%');
           at != std::string::npos && at + 1 < shipped_text.size();
           at = shipped_text.find('%', at + 2)) {
        text += " " + shipped_text.substr(at, 2);
      }
      entry.text().set(text.c_str());
      if (pugi::xml_attribute hint = entry.attribute("hint"))
        hint.set_value(LanguageMarker(key + ".hint", marker_code).c_str());
    }
  }
  std::filesystem::create_directories(dir / "lang");
  return doc.save_file((dir / "lang" / ("lang." + code + ".xml")).c_str(), "  ",
                       pugi::format_default, pugi::encoding_utf8);
}

}  // namespace qovra::testing
