// Error codes and texts of the HTTP clients.
//
// An error code is a libcurl result code (CURLcode); 0 means no error. The
// clients use two codes of their own meaning for failures that are not
// libcurl's: kHttpErrorStatus when the server answered with an HTTP status
// other than 200, and kHttpErrorStream when a caller's stream could not be
// read or written.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// libcurl's CURLE_HTTP_RETURNED_ERROR and CURLE_READ_ERROR.
constexpr int kHttpErrorStatus = 22;
constexpr int kHttpErrorStream = 26;

// The text for code: libcurl's description, without trailing characters
// below "!" and trailing full stops. When detail is not empty,
// "; Extended error info: " and detail are appended. A code libcurl does not
// know gives "Unknown error, code = <code>".
std::string HttpErrorText(int code, std::string_view detail = {});

}  // namespace qovra
