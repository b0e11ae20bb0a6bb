// The subcommands of qovra-tool. Each takes its arguments (after the
// subcommand's name), writes its report to out and errors to err, and
// returns the process exit code: 0 done, 1 failed.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qovra_tool {

using Args = std::vector<std::string>;

int EmzDump(const Args& args, std::ostream& out, std::ostream& err);
int EmzExtract(const Args& args, std::ostream& out, std::ostream& err);
int EmsDump(const Args& args, std::ostream& out, std::ostream& err);
int SettingsDump(const Args& args, std::ostream& out, std::ostream& err);

}  // namespace qovra_tool
