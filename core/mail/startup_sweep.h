// What a copy of the program that was killed leaves behind, and its
// removal when the program starts again.
//
// A killed send leaves its enciphered copies (<uuid>.eme.XXXXXXXX.tmp) and
// its signature container's temporary file in the messages folder and its
// package in the user's temporary folder; a killed receive its partial
// downloads (<uuid>.<hex>.part, ~<hex>.part); a killed import or opening
// their copies; the private temporary folder of the process (with the
// dialog sounds) stays in the system's temporary folder. Only names of the
// program's own making are removed, only files (never a link's target),
// and only in folders of this user that no running copy uses: the caller
// holds the single-instance guard, the user's folder lock for the user's
// folders, and a private temporary folder goes only when no process holds
// its lock (startup_files.h). Interface thread only.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// True when name (without folders) is a temporary file name the program
// makes in the user's folder or its messages folder, never the name of a
// mail's own file (<uuid>.emz, .eme, .ems, the draft copy ~<uuid>.emz).
[[nodiscard]] bool IsLeftoverFileName(std::string_view name);

// Removes the regular files directly inside folder whose names are
// leftovers. Returns how many went.
int SweepLeftoverFiles(const std::string& folder);

// After a login, on the user's folder (with a trailing "/"): the leftovers
// in it and in its "messages/" go, and its "temp/" is emptied.
// REQUIRES: this process holds the user's folder lock.
void SweepUserFolder(const std::string& user_dir);

// Removes the private temporary folders (TPrivateTempFolder) of copies
// that no longer run from temp_root (the system's temporary folder, with a
// trailing "/"): folders of this user, private, not links, named like
// them, whose lock can be taken; keep (a path with a trailing "/") is
// never touched. Returns how many went.
int SweepPrivateTempFolders(const std::string& temp_root, const std::string& keep);

}  // namespace qovra
