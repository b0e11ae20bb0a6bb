// The private scratch file of the container readers. Internal to qovra_core.
#pragma once

#include <memory>

#include "base/file_stream.h"

namespace qovra::container {

// Creates a new file (mode 0600) in the temporary folder (GetTempFolder,
// the program's private folder once it is set), opens it for reading and
// writing and removes its name at once, so the file disappears with the
// stream even when the process dies. Null when the file cannot be made.
std::unique_ptr<TEFileStream> OpenScratchFile();

}  // namespace qovra::container
