#include "platform/file_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/file_stream.h"
#include "base/utf.h"
#include "platform/temp_files.h"
#include "platform/xdg_dirs.h"

namespace qovra {
namespace {

bool WriteAll(int fd, const char* p, size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool SaveBufferToFileA(const void* buffer, size_t count, std::string_view file_name) {
  const std::string path(file_name);
  if (path.empty() || path.back() == '/' || (count > 0 && buffer == nullptr)) return false;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string tmp;
  const int fd =
      CreateUniqueFile(folder.back() == '/' ? folder : folder + "/", ".~sav", ".tmp", tmp);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, static_cast<const char*>(buffer), count);
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

bool SaveBufferToFileW(const void* buffer, size_t count, std::u16string_view file_name) {
  return SaveBufferToFileA(buffer, count, Utf16ToUtf8(file_name));
}

bool SaveStringsToFileW(const std::vector<std::string>& lines, std::u16string_view file_name) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return SaveBufferToFileW(text.data(), text.size(), file_name);
}

std::string LoadFileToString(std::u16string_view file_name) {
  TEWFileStream in(file_name, true, false, fmOpenRead | fmShareDenyNone);
  if (!in.Opened()) return {};
  std::string out;
  char buffer[16384];
  for (;;) {
    const size_t n = in.Read(buffer, sizeof buffer);
    if (n == 0) break;
    out.append(buffer, n);
  }
  return out;
}

int64_t GetFileSizeW(std::u16string_view file_name) {
  TEWFileStream in(file_name, true, false, fmOpenRead | fmShareDenyNone);
  if (!in.Opened()) return 0;
  const int64_t size = in.Size();
  return size < 0 ? 0 : size;
}

bool ForceDirectoriesW(std::u16string_view path) {
  const std::string p = Utf16ToUtf8(path);
  if (p.empty()) return false;
  if (IsDirectory(p)) return true;
  const std::string full = p.back() == '/' ? p : p + "/";
  for (size_t i = 1; i < full.size(); ++i) {
    if (full[i] != '/' || full[i - 1] == '/') continue;
    const std::string prefix = full.substr(0, i);
    if (IsDirectory(prefix)) continue;
    if (mkdir(prefix.c_str(), 0700) != 0 && !(errno == EEXIST && IsDirectory(prefix))) {
      return false;
    }
  }
  return true;
}

std::string IncludeTrailingBackslashA(std::string_view path) {
  std::string out(path);
  if (!out.empty() && out.back() != '/') out += '/';
  return out;
}

std::u16string IncludeTrailingBackslashW(std::u16string_view path) {
  std::u16string out(path);
  if (!out.empty() && out.back() != u'/') out += u'/';
  return out;
}

std::u16string GetSpecialFolderW(int csidl) {
  if (csidl != kCsidlPersonal) return {};
  const char* home_env = std::getenv("HOME");
  const std::string home = home_env ? home_env : "";
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else if (!home.empty()) {
    config = home + "/.config";
  }
  std::string folder;
  if (!config.empty()) {
    const std::string dirs = config + "/user-dirs.dirs";
    const std::string content = LoadFileToString(Utf8ToUtf16(dirs));
    folder = ReadXdgUserDir(content, "XDG_DOCUMENTS_DIR", home);
  }
  if (folder.empty()) folder = home;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder[0] != '/') return {};
  return Utf8ToUtf16(folder);
}

}  // namespace qovra
