#include "body_range.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace exchange {

BodyRange BodyRange::Memory(std::string_view bytes) {
  BodyRange r;
  r.bytes_ = bytes.data();
  r.size_ = bytes.size();
  return r;
}

BodyRange BodyRange::File(int fd, uint64_t offset, uint64_t size) {
  BodyRange r;
  r.fd_ = fd;
  r.offset_ = offset;
  r.size_ = size;
  return r;
}

bool BodyRange::Read(uint64_t offset, void* out, size_t n) const {
  if (offset > size_ || n > size_ - offset) return false;
  if (n == 0) return true;
  if (fd_ < 0) {
    std::memcpy(out, bytes_ + offset, n);
    return true;
  }
  auto* p = static_cast<char*>(out);
  uint64_t at = offset_ + offset;
  while (n > 0) {
    const ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    at += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool BodyRange::ReadAll(std::string& out, uint64_t max_size) const {
  out.clear();
  if (size_ > max_size) return false;
  out.resize(static_cast<size_t>(size_));
  if (!Read(0, out.data(), out.size())) {
    out.clear();
    return false;
  }
  return true;
}

BodyRange BodyRange::Sub(uint64_t offset, uint64_t size) const {
  BodyRange r = *this;
  if (offset > size_) offset = size_;
  if (size > size_ - offset) size = size_ - offset;
  r.size_ = size;
  if (fd_ >= 0)
    r.offset_ += offset;
  else
    r.bytes_ += offset;
  return r;
}

bool BodyRange::CopyTo(int out_fd) const {
  if (fd_ >= 0) {
    // In the kernel, without passing through this process.
    loff_t in_at = static_cast<loff_t>(offset_);
    uint64_t left = size_;
    while (left > 0) {
      const ssize_t n = ::copy_file_range(fd_, &in_at, out_fd, nullptr,
                                          left > kStreamChunk * 64 ? kStreamChunk * 64 : left, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      left -= static_cast<uint64_t>(n);
    }
    if (left == 0) return true;
    // Filesystems without copy_file_range: through a bounded buffer.
    std::vector<char> buf(kStreamChunk);
    for (uint64_t done = size_ - left; done < size_;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), size_ - done));
      if (!Read(done, buf.data(), n) || !WriteAllFd(out_fd, buf.data(), n)) return false;
      done += n;
    }
    return true;
  }
  return WriteAllFd(out_fd, bytes_, static_cast<size_t>(size_));
}

bool BodyRange::MoveTo(int out_fd) const {
  for (uint64_t done = 0; done < size_;) {
    const uint64_t n = std::min<uint64_t>(kStreamChunk, size_ - done);
    if (!Sub(done, n).CopyTo(out_fd)) return false;
    Release(done, n);
    done += n;
  }
  return true;
}

bool BodyRange::LinkAs(const std::string& path) const {
  struct stat st {};
  if (fd_ < 0 || offset_ != 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) != size_)
    return false;
  // An unnamed file gets a name through its descriptor's link in /proc.
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void BodyRange::Release(uint64_t offset, uint64_t size) const {
  if (fd_ < 0 || offset >= size_ || size == 0) return;
  size = std::min(size, size_ - offset);
  if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                  static_cast<off_t>(offset_ + offset), static_cast<off_t>(size)) != 0) {
    // A file system without holes keeps the bytes until the file goes.
  }
}

bool WriteAllFd(int fd, const void* data, size_t n) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace exchange
