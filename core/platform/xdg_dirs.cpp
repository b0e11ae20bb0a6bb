#include "platform/xdg_dirs.h"

namespace qovra {
namespace {

std::string_view TrimLine(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// The quoted value with backslash escapes resolved; false when malformed.
bool Unquote(std::string_view v, std::string& out) {
  if (v.size() < 2 || v.front() != '"') return false;
  out.clear();
  for (size_t i = 1; i < v.size(); ++i) {
    const char c = v[i];
    if (c == '\\' && i + 1 < v.size()) {
      out += v[++i];
    } else if (c == '"') {
      return TrimLine(v.substr(i + 1)).empty();
    } else {
      out += c;
    }
  }
  return false;
}

}  // namespace

std::string ReadXdgUserDir(std::string_view content, std::string_view key,
                           const std::string& home) {
  std::string result;
  size_t pos = 0;
  while (pos <= content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    const std::string_view line = TrimLine(content.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || TrimLine(line.substr(0, eq)) != key) continue;
    std::string value;
    if (!Unquote(TrimLine(line.substr(eq + 1)), value)) continue;
    // Only "$HOME", "$HOME/..." and absolute paths are allowed forms.
    if (value == "$HOME") {
      result = home;
    } else if (value.rfind("$HOME/", 0) == 0) {
      result = home.empty() ? std::string() : home + value.substr(5);
    } else if (!value.empty() && value.front() == '/') {
      result = value;
    } else {
      result.clear();
    }
  }
  return result;
}

}  // namespace qovra
