#include "base/secure_wipe.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "base/utf.h"

namespace qovra {

void SecureWipe(void* data, size_t size) {
  if (data && size) OPENSSL_cleanse(data, size);
}

void WipeString(std::string& text) {
  SecureWipe(text.data(), text.size());
  text.clear();
}

void WipeString(std::u16string& text) {
  SecureWipe(text.data(), text.size() * sizeof(char16_t));
  text.clear();
}

namespace {

// Overwrites the file's current length with zeros. Returns false when the
// file cannot be opened for writing.
bool OverwriteWithZeros(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    static const char kZeros[8192] = {};
    int64_t remaining = st.st_size;
    while (remaining > 0) {
      const size_t block = remaining < 8192 ? static_cast<size_t>(remaining) : 8192;
      const ssize_t n = write(fd, kZeros, block);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      remaining -= n;
    }
    fsync(fd);
  }
  close(fd);
  return true;
}

}  // namespace

bool WipeAndDeleteFile(std::string_view file_name, bool wipe) {
  const std::string path(file_name);
  if (path.empty()) return false;
  if (wipe && !OverwriteWithZeros(path)) return false;
  return unlink(path.c_str()) == 0;
}

bool WipeAndDeleteFile(std::u16string_view file_name, bool wipe) {
  return WipeAndDeleteFile(Utf16ToUtf8(file_name), wipe);
}

}  // namespace qovra
