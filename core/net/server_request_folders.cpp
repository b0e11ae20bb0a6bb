#include "net/server_request_folders.h"

#include "platform/file_utils.h"
#include "platform/temp_files.h"
#include "settings/settings.h"

namespace qovra {

std::string MessagesDir;

std::string ProgramDataDir() {
  const std::string& settings_file = SettingsPaths().file;
  const size_t slash = settings_file.rfind('/');
  if (slash == std::string::npos) return {};
  return settings_file.substr(0, slash + 1) + "data/";
}

std::string ReplyFileFolder(int type) {
  switch (type) {
    case 1:
      return IncludeTrailingBackslashA(MessagesDir);
    case 2:
      return ProgramDataDir();
    default:
      return GetTempFolder();
  }
}

}  // namespace qovra
