// The test-only request log: with --test-commands every deciphered request
// XML of a session request is appended to DATA/requests.log, one request
// per line (line breaks inside a request written as "&#10;"), so tests can
// see what travelled inside the envelope.
#pragma once

#include <string>
#include <string_view>

namespace exchange {

inline constexpr const char* kRequestLogName = "requests.log";

// Appends xml as one line to data_dir/requests.log; a failed write is
// ignored (the log is a test aid, never part of an answer).
void AppendRequestLog(const std::string& data_dir, std::string_view xml);

}  // namespace exchange
