// Helpers for the container tests: fixed boundary and clock, zlib, a stream
// that fails after N bytes.
#pragma once

#include <zlib.h>

#include <string>

#include "base/stream.h"
#include "base/time_stamp.h"
#include "store/mail_container_writer.h"

namespace qovra_test {

inline const std::string kBoundary = "----------------ABCDEFGHIJ123456";

inline qovra::TDateTime FixedTime() {
  qovra::TDateTime t = 0;
  EXPECT_TRUE(qovra::TryEncodeDateTime(2024, 3, 5, 14, 7, 9, 0, t));
  return t;
}

// zlib stream at best compression (starts 78 DA).
inline std::string ZCompress(const std::string& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::string out(size, '\0');
  EXPECT_EQ(
      compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(plain.data()), static_cast<uLong>(plain.size()), 9),
      Z_OK);
  out.resize(size);
  return out;
}

// A memory stream that takes only the first limit bytes written.
class FailAfterStream : public qovra::TMemoryStream {
 public:
  explicit FailAfterStream(size_t limit) : limit_(limit) {}
  size_t Write(const void* buffer, size_t count) override {
    const size_t room = written_ >= limit_ ? 0 : limit_ - written_;
    const size_t n = count < room ? count : room;
    written_ += n;
    return n == 0 ? 0 : qovra::TMemoryStream::Write(buffer, n);
  }

 private:
  size_t limit_;
  size_t written_ = 0;
};

}  // namespace qovra_test
