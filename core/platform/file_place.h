// Giving a finished file its final name without ever replacing a file of
// that name.
//
// A hard link is tried first. Where the file system has none (FAT, exFAT,
// some network and FUSE file systems) a rename that refuses to replace
// follows, and where that flag is unknown too, a copy into a target that is
// created exclusively. Interface thread only.
#pragma once

#include <string>

namespace qovra {

// Gives the file temp the name target unless a file (or link) of that name
// exists. temp and target should lie in the same folder. Returns 0 when
// target now holds temp's bytes and temp is gone; EEXIST when target
// existed (nothing changed, temp stays for the caller); any other errno
// when the file could not be placed (temp stays, and no target was left by
// this call).
[[nodiscard]] int PlaceFileNoReplace(const std::string& temp, const std::string& target);

// Tests only: stand-ins for link(2) and renameat2(2) with RENAME_NOREPLACE
// (each returns 0 or an errno value), so that a test can play a file system
// without hard links or without that flag. Null restores the system calls.
using TLinkCall = int (*)(const char* from, const char* to);
void SetPlaceCallsForTesting(TLinkCall link, TLinkCall rename_noreplace);

}  // namespace qovra
