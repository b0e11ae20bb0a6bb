#include "platform/temp_files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "base/utf.h"
#include "base/utils.h"

namespace qovra {
namespace {

std::string (*g_name_source)() = nullptr;

std::string& TempFolderOverride() {
  static std::string folder;
  return folder;
}

std::string Sanitize(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '/' || c == '\0') c = '_';
  }
  return out;
}

// Random hex digits for a name; falls back to time and pid mixed with a
// counter when the kernel gives nothing (exclusive creation still keeps
// names unique).
std::string RandomSuffix() {
  if (g_name_source) return Sanitize(g_name_source());
  unsigned char bytes[6];
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    static unsigned counter = 0;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const unsigned long long v = static_cast<unsigned long long>(ts.tv_nsec) ^
                                 (static_cast<unsigned long long>(getpid()) << 20) ^
                                 (static_cast<unsigned long long>(++counter) << 36);
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(v >> (8 * i));
  }
  return BinToHexStr(bytes, sizeof bytes);
}

}  // namespace

std::string SystemTempFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string folder = (env && env[0] == '/') ? env : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

void SetTempNameSourceForTesting(std::string (*source)()) {
  g_name_source = source;
}

std::string GetTempFolder() {
  const std::string& set = TempFolderOverride();
  return set.empty() ? SystemTempFolder() : set;
}

void SetTempFolder(std::string_view folder) {
  std::string f(folder);
  if (!f.empty() && f.back() != '/') f += '/';
  TempFolderOverride() = f;
}

std::string MakePrivateTempFolder(std::string_view prefix) {
  std::string templ = SystemTempFolder() + Sanitize(prefix) + "XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) return {};
  return templ + "/";
}

int CreateUniqueFile(const std::string& folder, std::string_view prefix, std::string_view ext,
                     std::string& path) {
  path.clear();
  const std::string head = folder + Sanitize(prefix);
  const std::string tail = Sanitize(ext);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = head + RandomSuffix() + tail;
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      path = name;
      return fd;
    }
    if (errno != EEXIST && errno != EINTR) return -1;
  }
  return -1;
}

std::string MakeTempFileNameA(std::string_view prefix, std::string_view ext) {
  std::string path;
  const int fd = CreateUniqueFile(GetTempFolder(), prefix.substr(0, 3), ext, path);
  if (fd < 0) return {};
  close(fd);
  return path;
}

std::u16string MakeTempFileNameW(std::u16string_view prefix, std::u16string_view ext) {
  const std::string p = Utf16ToUtf8(prefix.substr(0, Utf16CutLength(prefix, 3)));
  const std::string path = MakeTempFileNameA(p, Utf16ToUtf8(ext));
  return Utf8ToUtf16(path);
}

}  // namespace qovra
