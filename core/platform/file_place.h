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

}  // namespace qovra
