// qovra-tool: looks inside the files of the mail client.
//
//   qovra-tool emz-dump FILE
//   qovra-tool emz-extract FILE OUTDIR
//   qovra-tool ems-dump FILE
//   qovra-tool settings-dump FILE
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace {

struct Command {
  const char* name;
  const char* args;
  const char* help;
  size_t arg_count;
  int (*run)(const qovra_tool::Args&, std::ostream&, std::ostream&);
};

// One row per subcommand.
const Command kCommands[] = {
    {"emz-dump", "FILE", "headers, sections and attachments (sizes, offsets) of a mail container",
     1, qovra_tool::EmzDump},
    {"emz-extract", "FILE OUTDIR", "write the body and the attachments of a mail container", 2,
     qovra_tool::EmzExtract},
    {"ems-dump", "FILE", "headers and sections of a signature container", 1, qovra_tool::EmsDump},
    {"settings-dump", "FILE", "every value of a settings file, paths deciphered", 1,
     qovra_tool::SettingsDump},
};

int Usage(std::ostream& out) {
  out << "usage: qovra-tool COMMAND ARGS...\n\n";
  for (const Command& c : kCommands) {
    out << "  " << c.name << " " << c.args << "\n      " << c.help << "\n";
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(std::cerr);
  const std::string name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") {
    Usage(std::cout);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (name != c.name) continue;
    const qovra_tool::Args args(argv + 2, argv + argc);
    if (args.size() != c.arg_count) {
      std::cerr << "usage: qovra-tool " << c.name << " " << c.args << "\n";
      return 2;
    }
    return c.run(args, std::cout, std::cerr);
  }
  std::cerr << "qovra-tool: unknown command \"" << name << "\"\n";
  return Usage(std::cerr);
}
