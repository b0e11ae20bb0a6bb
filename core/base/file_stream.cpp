#include "base/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>

#include "base/messages.h"
#include "base/utf.h"

namespace qovra {

std::string SystemErrorText(int error) {
  return std::generic_category().message(error);
}

void ShowFileError(std::string_view file_name, int error) {
  std::string text(file_name);
  text += "\n";
  text += error == ENOSPC || error == EDQUOT ? GetMsg("msgDiskFull") : SystemErrorText(error);
  ShowMessageText(nullptr, text, kMsgIconWarning);
}

THandleStream::~THandleStream() {
  CloseHandle();
}

void THandleStream::CloseHandle() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool THandleStream::OpenPath(const std::string& path, uint32_t mode) {
  CloseHandle();
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  int flags = O_CLOEXEC;
  if (mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
  } else {
    switch (mode & 3) {
      case fmOpenWrite:
        flags |= O_WRONLY;
        break;
      case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
      default:
        flags |= O_RDONLY;
        break;
    }
  }
  int fd;
  do {
    fd = open(path.c_str(), flags, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    close(fd);
    errno = err;
    return false;
  }
  // A replaced file keeps its old mode through O_TRUNC; holding mail or keys,
  // it must not stay readable by others.
  if (mode == fmCreate && S_ISREG(st.st_mode) && (st.st_mode & 0077) != 0) fchmod(fd, 0600);
  fd_ = fd;
  return true;
}

size_t THandleStream::Read(void* buffer, size_t count) {
  if (fd_ < 0 || count == 0) return 0;
  if (count > static_cast<size_t>(std::numeric_limits<ssize_t>::max())) {
    count = static_cast<size_t>(std::numeric_limits<ssize_t>::max());
  }
  for (;;) {
    const ssize_t n = read(fd_, buffer, count);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;
  }
}

size_t THandleStream::Write(const void* buffer, size_t count) {
  if (fd_ < 0 || count == 0) return 0;
  const auto* p = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = write(fd_, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      write_error_ = n < 0 && errno != 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

int64_t THandleStream::Seek(int64_t offset, SeekOrigin origin) {
  if (fd_ < 0) return -1;
  int whence = SEEK_SET;
  if (origin == SeekOrigin::Current) whence = SEEK_CUR;
  if (origin == SeekOrigin::End) whence = SEEK_END;
  const off_t r = lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t THandleStream::Size() {
  if (fd_ < 0) return -1;
  struct stat st {};
  if (fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool THandleStream::SetSize(int64_t size) {
  if (fd_ < 0 || size < 0) return false;
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0) return false;
  const int64_t pos = Position();
  if (pos > size) Seek(size, SeekOrigin::Beginning);
  return true;
}

TEFileStream::TEFileStream(std::string_view file_name, bool silent, bool delete_on_free,
                           uint32_t mode) {
  const std::string path(file_name);
  if (OpenPath(path, mode)) {
    opened_ = true;
    file_name_ = path;
    delete_on_free_ = delete_on_free;
  } else {
    const int err = errno;
    if (!silent) ShowFileError(path, err);
  }
}

TEFileStream::~TEFileStream() {
  CloseHandle();
  if (opened_ && delete_on_free_) unlink(file_name_.c_str());
}

TEWFileStream::TEWFileStream(std::u16string_view file_name, bool silent, bool delete_on_free,
                             uint32_t mode) {
  const std::string path = Utf16ToUtf8(file_name);
  if (OpenPath(path, mode)) {
    opened_ = true;
    file_name_ = std::u16string(file_name);
    delete_on_free_ = delete_on_free;
  } else {
    const int err = errno;
    if (!silent) ShowFileError(path, err);
  }
}

TEWFileStream::~TEWFileStream() {
  CloseHandle();
  if (opened_ && delete_on_free_) unlink(Utf16ToUtf8(file_name_).c_str());
}

}  // namespace qovra
