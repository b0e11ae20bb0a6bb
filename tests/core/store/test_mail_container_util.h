// Helpers for the container tests: fixed boundary and clock, zlib, a stream
// that fails after N bytes, a stream that tells how far it was read.
#pragma once

#include <zlib.h>

#include <string>
#include <utility>

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

// zlib stream (78 DA) of prefix, then zeros zero bytes, then suffix,
// deflated piece by piece so that the plain bytes are never held whole.
inline std::string ZCompressWithZeros(const std::string& prefix, size_t zeros,
                                      const std::string& suffix) {
  z_stream zs{};
  EXPECT_EQ(deflateInit(&zs, 9), Z_OK);
  std::string out;
  const std::string block(1 << 20, '\0');
  const auto feed = [&](const char* data, size_t size, int flush) {
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    zs.avail_in = static_cast<uInt>(size);
    do {
      char buf[65536];
      zs.next_out = reinterpret_cast<Bytef*>(buf);
      zs.avail_out = sizeof buf;
      EXPECT_NE(deflate(&zs, flush), Z_STREAM_ERROR);
      out.append(buf, sizeof buf - zs.avail_out);
    } while (zs.avail_out == 0 || (flush == Z_FINISH && zs.avail_in > 0));
  };
  feed(prefix.data(), prefix.size(), Z_NO_FLUSH);
  for (size_t left = zeros; left > 0;) {
    const size_t n = left < block.size() ? left : block.size();
    feed(block.data(), n, Z_NO_FLUSH);
    left -= n;
  }
  feed(suffix.data(), suffix.size(), Z_FINISH);
  deflateEnd(&zs);
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

// A memory stream that remembers the furthest position a read reached.
class ReadExtentStream : public qovra::TMemoryStream {
 public:
  explicit ReadExtentStream(std::string bytes) : qovra::TMemoryStream(std::move(bytes)) {}
  size_t Read(void* buffer, size_t count) override {
    const size_t n = qovra::TMemoryStream::Read(buffer, count);
    const int64_t at = Position();
    if (at > furthest_) furthest_ = at;
    return n;
  }
  int64_t Furthest() const { return furthest_; }

 private:
  int64_t furthest_ = 0;
};

}  // namespace qovra_test
