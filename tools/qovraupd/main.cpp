// qovraupd RULEFILE [-DELETERULE]
//
// Reads the update rule the program wrote, prints what it would update and
// downloads nothing. With -DELETERULE the rule file is deleted once read,
// whether or not it was a valid rule. Exit status: 0 shown, 1 the rule was
// unreadable or invalid, 2 bad arguments.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "update_rule.h"

int main(int argc, char** argv) {
  std::string path;
  bool delete_rule = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-DELETERULE") {
      delete_rule = true;
    } else if (path.empty() && !arg.empty()) {
      path = arg;
    } else {
      path.clear();
      break;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "usage: qovraupd RULEFILE [-DELETERULE]\n");
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  const bool opened = static_cast<bool>(in);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  in.close();
  if (delete_rule && opened && ::unlink(path.c_str()) != 0)
    std::fprintf(stderr, "qovraupd: cannot delete %s\n", path.c_str());
  if (!opened) {
    std::fprintf(stderr, "qovraupd: cannot read %s\n", path.c_str());
    return 1;
  }
  qovraupd::UpdateRule rule;
  std::string error;
  if (!qovraupd::ParseUpdateRule(text, rule, error)) {
    std::fprintf(stderr, "qovraupd: %s\n", error.c_str());
    return 1;
  }
  std::fputs(qovraupd::DescribeUpdate(rule).c_str(), stdout);
  return 0;
}
