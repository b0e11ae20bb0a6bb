// The updater's rule document, written by the exchange server's operator:
//
//   <update version="4.2.0.0" url="https://example.org/qovra/">
//     <file name="qovra" url="https://example.org/qovra/qovra" size="123"/>
//   </update>
//
// The root is "update"; version names the release; every "file" child names
// one program file with where it would come from. No DTD or entity beyond
// the predefined ones is read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qovraupd {

struct RuleFile {
  std::string name;
  std::string url;
  std::string size;  // as written; may be empty
};

struct UpdateRule {
  std::string version;
  std::string url;
  std::vector<RuleFile> files;
};

// Parses text. False with a message in error for a parse error, a DOCTYPE,
// another root, or a file without a name.
[[nodiscard]] bool ParseUpdateRule(std::string_view text, UpdateRule& out, std::string& error);

// What the updater prints for rule: one line for the release, one per file.
std::string DescribeUpdate(const UpdateRule& rule);

}  // namespace qovraupd
