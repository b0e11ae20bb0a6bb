#include "config.h"

#include <string_view>

namespace exchange {

namespace {

bool ParsePort(std::string_view text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > 65535) return false;
  port = static_cast<uint16_t>(v);
  return true;
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const size_t end = comma == std::string_view::npos ? text.size() : comma;
    if (end > start) items.emplace_back(text.substr(start, end - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return items;
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, ServerConfig& config, std::string& error) {
  bool have_data = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) {
      error = "missing value after " + std::string(arg);
      return false;
    }
    const std::string_view value = argv[++i];
    if (arg == "--port") {
      if (!ParsePort(value, config.port)) {
        error = "bad port: " + std::string(value);
        return false;
      }
    } else if (arg == "--data") {
      if (value.empty()) {
        error = "empty data folder";
        return false;
      }
      config.data_dir = std::string(value);
      have_data = true;
    } else if (arg == "--domains") {
      config.domains = SplitList(value);
      if (config.domains.empty()) {
        error = "no domains given";
        return false;
      }
    } else {
      error = "unknown option: " + std::string(arg);
      return false;
    }
  }
  if (!have_data) {
    error = "--data DIR is required";
    return false;
  }
  return true;
}

}  // namespace exchange
