// The settings file and the program's identity globals.
//
// InitAppSettings runs first at start-up: it records the program's path and
// folder, chooses where the settings file lives and loads it into Options
// (records.h). SaveOptions rewrites the file whole from Options whenever the
// settings change. The file format is in settings_xml.h.
//
// Where the file lives: beside the program (its path with the extension
// replaced by ".xml") when the program's folder is writable; otherwise
// $XDG_CONFIG_HOME/qovra/qovra.xml (~/.config when XDG_CONFIG_HOME is unset),
// which starts from the values of the file beside the program while it does
// not exist yet. The file is written with mode 0600; the private folder is
// made 0700.
//
// All of this runs on the interface thread.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// "Qovra" once InitAppSettings ran.
extern std::string AppTitle;
// The application's title as windows show it; InitAppSettings sets it to
// AppTitle and the main window extends it.
extern std::string ApplicationTitle;
// The program's full path (UTF-8) and its folder with a trailing "/".
extern std::string ProgramFileName;
extern std::string ProgramDir;

struct TSettingsPaths {
  std::string file;             // read, and written by SaveOptions
  std::string seed_file;        // read instead while file does not exist; empty for none
  bool private_folder = false;  // file's folder belongs to us: made 0700 on save
};

// program_path with the extension of its last component replaced by ".xml"
// (appended when it has none).
std::string ProgramSettingsFileName(std::string_view program_path);

// Where the settings of the program at program_path live (see above). When
// neither XDG_CONFIG_HOME nor HOME gives a folder, the file beside the
// program is used even when its folder is read-only.
TSettingsPaths LocateSettingsFile(std::string_view program_path);

// The running program's path: the target of /proc/self/exe; empty when it
// cannot be read.
std::string CurrentProgramPath();

// Sets AppTitle, ApplicationTitle, ProgramFileName and ProgramDir from
// program_path, chooses the settings file (LocateSettingsFile, or paths as
// given) and calls LoadOptions.
void InitAppSettings(std::string_view program_path);
void InitAppSettings(std::string_view program_path, const TSettingsPaths& paths);

// The paths InitAppSettings chose.
const TSettingsPaths& SettingsPaths();

// Fills Options from the settings file.
// - No file (and no seed file): Options is reset, first-start values are set
//   (langid 1, useiewc 1, sendmode 0, showgrp 1, maildir the documents
//   folder) and the file is written at once.
// - A file that does not parse leaves Options as it was and the file as it
//   is; the next SaveOptions first keeps that file as file + ".bak".
void LoadOptions();

// Writes the whole settings file from Options (after turning a sendmode
// outside 0..1 into 0). The new content goes to a temporary file that is
// renamed over the old one, so a failure leaves the old file whole. Returns
// false when the file (or the backup of a broken file) could not be written.
[[nodiscard]] bool SaveOptions();

}  // namespace qovra
