// Small helpers shared by the subcommands.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>

#include "base/file_stream.h"

namespace qovra_tool {

// Opens path for reading; null (with a message on err) when it cannot.
std::unique_ptr<qovra::TEFileStream> OpenInput(const std::string& path, std::ostream& err);

// Lower-case hexadecimal of bytes.
std::string Hex(const void* data, size_t size);

// True when the file starts with the zlib header the readers inflate.
bool LooksCompressed(qovra::TStream& stream);

}  // namespace qovra_tool
