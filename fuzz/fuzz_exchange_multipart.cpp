// The exchange server's multipart parser on arbitrary input. The first line
// of the input is taken as the request's Content-Type value (so boundaries
// are fuzzed too), the rest as the body. Whatever the bytes: no crash, no
// read outside the body, every part found lies inside the body, and the
// same body fed piece by piece (pieces of a size the first byte picks, as
// the server reads it from its socket) splits into the same parts with the
// same status.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "multipart.h"
#include "multipart_stream.h"

namespace {

struct MemoryPart : exchange::PartSink {
  std::string bytes;
  void Append(const char* p, size_t n) override { bytes.append(p, n); }
  void Truncate(uint64_t size) override { bytes.resize(static_cast<size_t>(size)); }
};

}  // namespace

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

  std::vector<std::unique_ptr<MemoryPart>> sinks;
  exchange::MultipartSplitter splitter(boundary, [&sinks](const exchange::StreamedPart&, size_t) {
    sinks.push_back(std::make_unique<MemoryPart>());
    return sinks.back().get();
  });
  const size_t piece = size > 0 ? 1 + data[0] % 97 : 1;
  for (size_t at = 0; at < body.size(); at += piece) splitter.Feed(body.substr(at, piece));
  if (splitter.Finish() != status) __builtin_trap();
  if (status == exchange::MultipartStatus::Ok) {
    if (sinks.size() != parts.size()) __builtin_trap();
    for (size_t i = 0; i < sinks.size(); ++i) {
      if (splitter.parts()[i].headers.name != parts[i].name || sinks[i]->bytes != parts[i].data ||
          splitter.parts()[i].size != parts[i].data.size())
        __builtin_trap();
    }
  }
  return 0;
}
