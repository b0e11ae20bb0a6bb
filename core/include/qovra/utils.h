// Free routines without state used across the client core.
//
// This header gathers the utility groups; each group has a header of its
// own that can be included alone.
#pragma once

#include <cstddef>
#include <string>

#include "qovra/address_list.h"
#include "qovra/file_utils.h"
#include "qovra/process_runner.h"
#include "qovra/proxy_env.h"
#include "qovra/quoting.h"
#include "qovra/secure_wipe.h"
#include "qovra/stream_copy.h"
#include "qovra/temp_files.h"
#include "qovra/text_utils.h"
#include "qovra/time_stamp.h"
#include "qovra/version.h"

namespace qovra {

// 2 x count upper-case hexadecimal digits of buffer.
std::string BinToHexStr(const void* buffer, size_t count);

}  // namespace qovra
