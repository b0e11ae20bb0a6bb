// Reading one entry of an XDG user-dirs.dirs file.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// The folder that content (the text of a user-dirs.dirs file) gives for key,
// such as XDG_DOCUMENTS_DIR: a line KEY="$HOME/path" or KEY="/abs/path"
// (backslash escapes inside the quotes). "$HOME" is replaced by home. Empty
// when the key is absent, the value has another form, or it is relative.
std::string ReadXdgUserDir(std::string_view content, std::string_view key, const std::string& home);

}  // namespace qovra
