// Byte streams: the abstract TStream and an in-memory TMemoryStream.
//
// Positions and sizes are 64-bit. Read and Write move the position by the
// bytes they actually moved and return that count; a short count is how a
// stream reports its end or a failure. No member throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace qovra {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes into buffer. Returns the bytes read: 0 at the
  // end of the stream or on failure.
  [[nodiscard]] virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes up to count bytes. Returns the bytes written; fewer than count
  // means the stream failed.
  [[nodiscard]] virtual size_t Write(const void* buffer, size_t count) = 0;
  // Moves the position. Returns the new position, or -1 (position unchanged)
  // when the target is before the start or the stream cannot seek.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  // Size in bytes, or -1 when it cannot be known.
  [[nodiscard]] virtual int64_t Size() = 0;
  // Cuts or extends the stream to size bytes. Returns false on failure.
  [[nodiscard]] virtual bool SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  bool SetPosition(int64_t position) { return Seek(position, SeekOrigin::Beginning) == position; }

  // Reads exactly count bytes; false when fewer were available.
  [[nodiscard]] bool ReadBuffer(void* buffer, size_t count);
  // Writes exactly count bytes; false when the stream took fewer.
  [[nodiscard]] bool WriteBuffer(const void* buffer, size_t count);
  [[nodiscard]] bool WriteString(std::string_view bytes) {
    return WriteBuffer(bytes.data(), bytes.size());
  }
};

// A stream over bytes held in memory. Writing past the end grows it.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  bool SetSize(int64_t size) override;

  // The whole content, whatever the position.
  const std::string& Data() const { return data_; }
  // Replaces the content and moves the position to 0.
  void SetData(std::string bytes) {
    data_ = std::move(bytes);
    pos_ = 0;
  }
  void Clear() { SetData({}); }

 private:
  std::string data_;
  size_t pos_ = 0;
};

}  // namespace qovra
