#include "qovra/workspace/temp_folder_cleanup.h"

#include <string_view>

#include "mail/startup.h"
#include "mail/startup_files.h"

namespace qovra::ui {

std::string UserTempFolder() {
  if (UserDir.empty()) return {};
  return UserDir + "temp/";
}

bool EmptyUserTempFolder(const std::string& folder) {
  if (folder.empty() || folder.front() != '/') return false;
  if (folder.find_first_not_of('/') == std::string::npos) return false;
  // EmptyFolder opens the folder without following a link and never enters
  // a link found inside it.
  return EmptyFolder(folder);
}

}  // namespace qovra::ui
