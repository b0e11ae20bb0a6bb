// The folders that files carried by a server reply are stored in.
//
// The `type` attribute of a reply's `file` element chooses one: 1 the
// user's messages folder (MessagesDir), 2 the program's writable data
// folder, anything else the temporary folder (GetTempFolder, temp_files.h).
#pragma once

#include <string>

namespace qovra {

// The user's messages folder with a trailing "/": UserDir + "messages/".
// Empty until the start-up sequence has set it after the login; a file of
// type 1 cannot be stored while it is empty.
extern std::string MessagesDir;

// The program's writable data folder with a trailing "/": the folder
// "data/" beside the settings file (SettingsPaths, settings.h). Empty while
// no settings file has been chosen.
std::string ProgramDataDir();

// The folder for a reply file of type with a trailing "/"; empty when that
// folder is not known.
std::string ReplyFileFolder(int type);

}  // namespace qovra
