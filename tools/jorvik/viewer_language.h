// The language the certificate viewer shows its texts in: that of the
// program that started it.
#pragma once

#include <string>

namespace jorvik {

// The langid of a first start (no settings file yet).
constexpr int kFirstStartLanguage = 1;

// from_arguments when it is 0 or more (the program passes its own langid);
// otherwise the langid of the settings file that the program in program_dir
// (ending in "/") reads, found and read as the program finds and reads it
// (a file that does not parse gives the langid of empty settings), or
// kFirstStartLanguage when there is no such file. Never writes a file.
int ViewerLanguage(int from_arguments, const std::string& program_dir);

}  // namespace jorvik
