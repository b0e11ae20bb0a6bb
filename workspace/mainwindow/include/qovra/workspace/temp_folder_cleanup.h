// Emptying the user's temporary folder when the main window closes.
//
// The folder is UserDir + "temp/" and nothing else: the program's fallback
// temporary folder ($TMPDIR or /tmp) is never emptied. Links inside the
// folder are removed as links and never followed; a folder that is itself
// a link is left alone.
//
// Interface thread only.
#pragma once

#include <string>

namespace qovra::ui {

// The user's temporary folder (with a trailing "/"); empty while UserDir
// is not set.
std::string UserTempFolder();

// Deletes every entry in folder, keeping folder. Does nothing and returns
// false when folder is empty, is not an absolute path, is "/" or is not a
// folder (a link to one included). True when folder is empty afterwards.
[[nodiscard]] bool EmptyUserTempFolder(const std::string& folder);

}  // namespace qovra::ui
