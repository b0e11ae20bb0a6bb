// A byte range of a request body: bytes in memory, or a span of the
// temporary file the body was streamed to. Large parts are never held in
// memory whole; commands read them in chunks.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace exchange {

// The size of the chunks files are read, written and enciphered in.
inline constexpr size_t kStreamChunk = size_t{1} << 20;

class BodyRange {
 public:
  BodyRange() = default;
  // The bytes must outlive the range.
  static BodyRange Memory(std::string_view bytes);
  // size bytes of the open file fd from offset; fd is not owned and must
  // stay open while the range is used.
  static BodyRange File(int fd, uint64_t offset, uint64_t size);

  uint64_t size() const { return size_; }
  bool in_file() const { return fd_ >= 0; }

  // Reads n bytes from offset (relative to the range) into out. False when
  // they are not all inside the range or the file cannot be read.
  [[nodiscard]] bool Read(uint64_t offset, void* out, size_t n) const;
  // The whole range as a string; false (out empty) when it is longer than
  // max_size or cannot be read.
  [[nodiscard]] bool ReadAll(std::string& out, uint64_t max_size) const;
  // A part of this range.
  BodyRange Sub(uint64_t offset, uint64_t size) const;
  // Copies the whole range into the open file out_fd at its current end.
  // False with errno set when it cannot.
  [[nodiscard]] bool CopyTo(int out_fd) const;
  // The same, giving back the disk space of each chunk of a file range once
  // it is copied, so moving a body needs room for about one chunk beyond
  // it. The range reads as zeros afterwards.
  [[nodiscard]] bool MoveTo(int out_fd) const;
  // Gives the file of a range that is a whole unnamed file (as a body
  // store makes them) the name path, which must not exist yet, without
  // copying a byte (and without replacing a file, which some file systems
  // answer by writing the new one out at once). False, with nothing
  // changed, when the range is not such a file or the system cannot link
  // it there: the caller copies.
  [[nodiscard]] bool LinkAs(const std::string& path) const;
  // Gives back the disk space of size bytes from offset of a file range,
  // which read as zeros afterwards. Nothing for a range in memory or a file
  // system that cannot.
  void Release(uint64_t offset, uint64_t size) const;

 private:
  const char* bytes_ = nullptr;
  int fd_ = -1;
  uint64_t offset_ = 0;
  uint64_t size_ = 0;
};

// Writes all n bytes to fd; false on any error (errno says which).
[[nodiscard]] bool WriteAllFd(int fd, const void* data, size_t n);

// Whether a failure with this errno means the disk is full.
inline bool NoSpaceError(int error) {
  return error == ENOSPC || error == EDQUOT;
}

}  // namespace exchange
