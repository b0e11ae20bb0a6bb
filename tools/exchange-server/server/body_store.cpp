#include "body_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace exchange {

BodyStore::BodyStore(const std::string& dir, size_t memory_limit)
    : dir_(dir), memory_limit_(memory_limit) {}

BodyStore::~BodyStore() {
  if (fd_ >= 0) ::close(fd_);
}

void BodyStore::Append(const char* p, size_t n) {
  size_ += n;
  if (error_ != 0 || n == 0) return;
  if (fd_ < 0 && memory_.size() + n <= memory_limit_) {
    memory_.append(p, n);
    return;
  }
  if (fd_ < 0) {
    if (!OpenFile() || !WriteAllFd(fd_, memory_.data(), memory_.size())) return Fail();
    std::string().swap(memory_);
  }
  if (!WriteAllFd(fd_, p, n)) Fail();
}

void BodyStore::Truncate(uint64_t size) {
  if (size >= size_) return;
  size_ = size;
  if (error_ != 0) return;
  if (fd_ < 0) {
    memory_.resize(static_cast<size_t>(size));
    return;
  }
  // Appends go on at the end of the file, so its end moves back too.
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0 ||
      ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0)
    Fail();
}

BodyRange BodyStore::Range() const {
  return fd_ >= 0 ? BodyRange::File(fd_, 0, size_) : BodyRange::Memory(memory_);
}

bool BodyStore::OpenFile() {
  fd_ = ::open(dir_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) return true;
  // Filesystems without unnamed files: a named one, unlinked at once.
  std::string path = dir_ + "/body-XXXXXX";
  fd_ = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd_ < 0) return false;
  ::unlink(path.c_str());
  return true;
}

void BodyStore::Fail() {
  error_ = errno != 0 ? errno : EIO;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  std::string().swap(memory_);
}

}  // namespace exchange
