// The exchange server's multipart parser on arbitrary input. The first line
// of the input is taken as the request's Content-Type value (so boundaries
// are fuzzed too), the rest as the body. Whatever the bytes: no crash, no
// read outside the body, every part found lies inside the body, and the
// same body read from a file splits into the same parts.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "body_range.h"
#include "multipart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t eol = input.find('\n');
  const std::string_view type = input.substr(0, eol);
  const std::string_view body =
      eol == std::string_view::npos ? std::string_view() : input.substr(eol + 1);

  std::string boundary;
  if (exchange::ParseMultipartBoundary(type, boundary) != exchange::MultipartStatus::Ok) {
    // Still run the body parser with a short fixed boundary.
    boundary = "b";
  }
  std::vector<exchange::MultipartPart> parts;
  const exchange::MultipartStatus status = exchange::ParseMultipartBody(body, boundary, parts);
  if (status != exchange::MultipartStatus::Ok && !parts.empty()) __builtin_trap();
  size_t total = 0;
  for (const auto& p : parts) total += p.data.size();
  if (total > body.size()) __builtin_trap();

  const int fd = memfd_create("body", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size())) {
    std::vector<exchange::MultipartSpan> spans;
    const exchange::BodyRange range = exchange::BodyRange::File(fd, 0, body.size());
    if (exchange::ParseMultipartRange(range, boundary, spans) != status) __builtin_trap();
    if (spans.size() != parts.size()) __builtin_trap();
    for (size_t i = 0; i < spans.size(); ++i) {
      if (spans[i].name != parts[i].name || spans[i].size != parts[i].data.size() ||
          body.substr(spans[i].offset, spans[i].size) != parts[i].data)
        __builtin_trap();
    }
  }
  close(fd);
  return 0;
}
