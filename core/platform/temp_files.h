// Temporary files and folders.
//
// Temporary files are created exclusively (O_CREAT | O_EXCL | O_NOFOLLOW)
// with mode 0600, so a name is never shared with another process and a
// planted symbolic link is never followed.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// The folder for temporary files, with a trailing "/": the one set with
// SetTempFolder, else $TMPDIR, else "/tmp/".
std::string GetTempFolder();
// Sets the folder for temporary files (the program points it to its private
// folder); an empty path restores the default.
void SetTempFolder(std::string_view folder);

// The system's temporary folder, with a trailing "/": $TMPDIR when it is an
// absolute path, else "/tmp/".
std::string SystemTempFolder();

// Creates a private folder (mode 0700) named prefix + six random characters
// inside the system's temporary folder ($TMPDIR or /tmp). Returns its path
// with a trailing "/", or empty on failure.
std::string MakePrivateTempFolder(std::string_view prefix);

// Creates a new, empty file named folder + prefix + random hex digits + ext
// exclusively with mode 0600 and returns its open descriptor (O_CLOEXEC,
// read-write), with the name in path; -1 (path empty) on failure. "/" in
// prefix or ext is replaced by "_". REQUIRES: folder ends with "/".
[[nodiscard]] int CreateUniqueFile(const std::string& folder, std::string_view prefix,
                                   std::string_view ext, std::string& path);

// Creates a new, empty, unique file in the temporary folder named by the
// first three characters of prefix, random hex digits and ext (such as
// ".tmp" or ".wav"; empty for none), and returns its name; empty on failure.
// The returned file exists and belongs to the caller, whatever ext is.
std::string MakeTempFileNameA(std::string_view prefix, std::string_view ext);
std::u16string MakeTempFileNameW(std::u16string_view prefix, std::u16string_view ext);

// Tests only: replaces the random part of new names with source's results
// (null restores the random source), so that a test can plant a file or a
// link at the name that will be tried.
void SetTempNameSourceForTesting(std::string (*source)());

}  // namespace qovra
