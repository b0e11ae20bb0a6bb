// The byte layout of the multipart body that TIEHttpClient posts.
//
//   "--" B CRLF                         (first part; later parts: CRLF "--" B CRLF)
//   "Content-Disposition: form-data; name=\"<name>\"; filename=\"-\"" CRLF
//   "Content-Type: qovra/enc-data" CRLF
//   CRLF
//   <part bytes>
//   ... further parts ...
//   CRLF "--" B "--"                    (the closing text; nothing after it)
//
// B, the boundary, is 12 hyphens and the local time "yymmddhhnnsszzz".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/time_stamp.h"

namespace qovra {

inline constexpr std::string_view kPartContentType = "qovra/enc-data";

// The boundary for the local time given: "------------" followed by two
// digits each of year, month, day, hour, minute and second and three of the
// millisecond.
std::string MultipartBoundary(const TDateTimeParts& local_time);

// The local time now, with milliseconds.
TDateTimeParts LocalTimeNow();

// The header text of a part: the delimiter line (with a leading CR LF for
// every part after the first, index > 0), the two header lines and the empty
// line. REQUIRES: name holds no '"', CR or LF.
std::string MultipartPartHeader(std::string_view boundary, size_t index, std::string_view name);

// CR LF "--" B "--".
std::string MultipartClosingText(std::string_view boundary);

// A part name that MultipartPartHeader may take: not empty, no quote and no
// control character.
bool ValidPartName(std::string_view name);

// The value of the request's Content-Type header.
std::string MultipartContentType(std::string_view boundary);

}  // namespace qovra
