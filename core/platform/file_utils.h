// Whole-file helpers and folders. 8-bit names are UTF-8 paths; wide names
// are converted to UTF-8. Paths use "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qovra {

// Writes count bytes as the whole new content of file_name. The bytes go to
// a new temporary file beside it (mode 0600) that is flushed and then renamed
// over file_name, so the file is either replaced whole or left as it was.
// Returns false when anything failed (the temporary file is removed then).
[[nodiscard]] bool SaveBufferToFileA(const void* buffer, size_t count, std::string_view file_name);
[[nodiscard]] bool SaveBufferToFileW(const void* buffer, size_t count,
                                     std::u16string_view file_name);

// The lines joined with CR LF after each, written with SaveBufferToFileW.
[[nodiscard]] bool SaveStringsToFileW(const std::vector<std::string>& lines,
                                      std::u16string_view file_name);

// The whole file; empty when it cannot be opened or read.
std::string LoadFileToString(std::u16string_view file_name);

// The file's size; 0 when it cannot be opened.
int64_t GetFileSizeW(std::u16string_view file_name);

// Creates path and every missing folder above it (mode 0700). True when the
// whole path exists as folders afterwards.
[[nodiscard]] bool ForceDirectoriesW(std::u16string_view path);

// path with one "/" appended when it does not end with one; empty stays
// empty. Backslashes are ordinary name characters here and are kept.
std::string IncludeTrailingBackslashA(std::string_view path);
std::u16string IncludeTrailingBackslashW(std::u16string_view path);

// Special folder numbers understood by GetSpecialFolderW.
constexpr int kCsidlPersonal = 5;  // the documents folder

// The path of a special folder: for kCsidlPersonal the XDG documents folder
// (XDG_DOCUMENTS_DIR in $XDG_CONFIG_HOME/user-dirs.dirs, by default
// ~/.config/user-dirs.dirs) or else $HOME. No trailing "/". Empty for other
// numbers and when no absolute path is known.
std::u16string GetSpecialFolderW(int csidl);

}  // namespace qovra
