// Where the settings file lives, loading it at start-up and saving it.
#include "settings/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "base/records.h"
#include "base/utf.h"
#include "platform/file_utils.h"
#include "settings/settings_xml.h"

namespace qovra {

std::string AppTitle;
std::string ApplicationTitle;
std::string ProgramFileName;
std::string ProgramDir;

namespace {

// A settings file is a few kilobytes; anything far beyond is not one.
constexpr int64_t kMaxSettingsFileSize = 1 << 20;

TSettingsPaths g_paths;
// The settings file did not parse at load time: keep it before replacing it.
bool g_file_broken = false;

bool Exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

// Folder part of path without the trailing "/"; empty when there is none.
std::string FolderOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

std::string ConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home && home[0] == '/')
    return std::string(home) + "/.config";
  return {};
}

// Keeps file as file + ".bak": a second name for the same data when the
// file system allows it, else a copy.
bool KeepBackup(const std::string& file) {
  const std::string bak = file + ".bak";
  unlink(bak.c_str());
  if (link(file.c_str(), bak.c_str()) == 0) return true;
  const std::u16string name = Utf8ToUtf16(file);
  const std::string content = LoadFileToString(name);
  if (content.empty() && GetFileSizeW(name) != 0) return false;
  return SaveBufferToFileA(content.data(), content.size(), bak);
}

void SetFirstStartOptions() {
  Options = TOptions{};
  Options.langid = 1;
  Options.Conn.useiewc = 1;
  Options.Mail.sendmode = kSendModeSecure;
  Options.Mail.showgrp = 1;
  Options.Folders.maildir = GetSpecialFolderW(kCsidlPersonal);
}

}  // namespace

std::string ProgramSettingsFileName(std::string_view program_path) {
  const size_t slash = program_path.rfind('/');
  const size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = program_path.rfind('.');
  if (dot != std::string_view::npos && dot > name_start)
    return std::string(program_path.substr(0, dot)) + ".xml";
  return std::string(program_path) + ".xml";
}

TSettingsPaths LocateSettingsFile(std::string_view program_path) {
  TSettingsPaths paths;
  paths.file = ProgramSettingsFileName(program_path);
  std::string folder = FolderOf(program_path);
  if (folder.empty()) folder = ".";
  if (access(folder.c_str(), W_OK) == 0) return paths;
  const std::string config = ConfigHome();
  if (config.empty()) return paths;
  paths.seed_file = paths.file;
  paths.file = config + "/qovra/qovra.xml";
  paths.private_folder = true;
  return paths;
}

std::string CurrentProgramPath() {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

void InitAppSettings(std::string_view program_path) {
  InitAppSettings(program_path, LocateSettingsFile(program_path));
}

void InitAppSettings(std::string_view program_path, const TSettingsPaths& paths) {
  AppTitle = "Qovra";
  ApplicationTitle = AppTitle;
  ProgramFileName = std::string(program_path);
  const std::string folder = FolderOf(program_path);
  ProgramDir = folder.empty() ? std::string() : IncludeTrailingBackslashA(folder);
  g_paths = paths;
  LoadOptions();
}

const TSettingsPaths& SettingsPaths() {
  return g_paths;
}

void LoadOptions() {
  g_file_broken = false;
  std::string source = g_paths.file;
  if (!Exists(source)) {
    if (g_paths.seed_file.empty() || !Exists(g_paths.seed_file)) {
      SetFirstStartOptions();
      (void)SaveOptions();  // a failure shows again at the next save
      return;
    }
    source = g_paths.seed_file;
  }
  const std::u16string name = Utf8ToUtf16(source);
  const bool read = GetFileSizeW(name) <= kMaxSettingsFileSize &&
                    ReadOptionsFromBytes(LoadFileToString(name), Options);
  if (!read && source == g_paths.file) g_file_broken = true;
}

bool SaveOptions() {
  if (Options.Mail.sendmode < 0 || Options.Mail.sendmode > 1) Options.Mail.sendmode = 0;
  const std::string& file = g_paths.file;
  if (file.empty()) return false;
  if (g_paths.private_folder) {
    const std::string folder = FolderOf(file);
    if (!ForceDirectoriesW(Utf8ToUtf16(folder))) return false;
    chmod(folder.c_str(), 0700);
  }
  if (g_file_broken && Exists(file) && !KeepBackup(file)) return false;
  if (!SaveStringsToFileW(OptionsToLines(Options), Utf8ToUtf16(file))) return false;
  g_file_broken = false;
  return true;
}

}  // namespace qovra
