#include "config.h"

#include <string_view>

namespace exchange {

namespace {

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& out) {
  if (text.empty() || text.size() > 12) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max) return false;
  out = v;
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

bool ParseSeedSpec(const std::string& text, SeedSpec& out) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  const std::string address = text.substr(0, colon);
  const size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || at + 1 == address.size() ||
      address.find('@', at + 1) != std::string::npos)
    return false;
  const std::string rest = text.substr(colon + 1);
  const size_t colon2 = rest.find(':');
  out.login = address.substr(0, at);
  out.domain = address.substr(at + 1);
  out.password = rest.substr(0, colon2);
  out.cert_path = colon2 == std::string::npos ? std::string() : rest.substr(colon2 + 1);
  return !out.password.empty();
}

bool ParseCommandLine(int argc, char** argv, ServerConfig& config, std::string& error) {
  bool have_data = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--test-commands") {
      config.test_commands = true;
      continue;
    }
    if (i + 1 >= argc) {
      error = "missing value after " + std::string(arg);
      return false;
    }
    const std::string value = argv[++i];
    uint64_t number = 0;
    if (arg == "--port") {
      if (!ParseUnsigned(value, 65535, number)) {
        error = "bad port: " + value;
        return false;
      }
      config.port = static_cast<uint16_t>(number);
    } else if (arg == "--data") {
      if (value.empty()) {
        error = "empty data folder";
        return false;
      }
      config.data_dir = value;
      have_data = true;
    } else if (arg == "--domains") {
      config.domains = SplitList(value);
      if (config.domains.empty()) {
        error = "no domains given";
        return false;
      }
    } else if (arg == "--registry") {
      config.registry_dir = value;
    } else if (arg == "--authority") {
      config.authority_path = value;
    } else if (arg == "--server-cert") {
      config.server_cert_path = value;
    } else if (arg == "--server-key") {
      config.server_key_path = value;
    } else if (arg == "--seed-account") {
      SeedSpec seed;
      if (!ParseSeedSpec(value, seed)) {
        error = "--seed-account takes login@domain:password[:certfile]";
        return false;
      }
      config.seeds.push_back(seed);
    } else if (arg == "--session-timeout") {
      if (!ParseUnsigned(value, 10'000'000, number) || number == 0) {
        error = "--session-timeout takes 1 to 10000000 seconds";
        return false;
      }
      config.session_timeout = static_cast<int64_t>(number);
    } else if (arg == "--max-sessions") {
      if (!ParseUnsigned(value, 10'000'000, number) || number == 0) {
        error = "--max-sessions takes 1 to 10000000";
        return false;
      }
      config.max_sessions = static_cast<size_t>(number);
    } else if (arg == "--upload-limit") {
      if (!ParseUnsigned(value, uint64_t{1} << 40, number)) {
        error = "bad --upload-limit: " + value;
        return false;
      }
      config.upload_limit = static_cast<int64_t>(number);
    } else if (arg == "--max-body") {
      if (!ParseUnsigned(value, uint64_t{1} << 40, number) || number == 0) {
        error = "bad --max-body: " + value;
        return false;
      }
      config.max_body = number;
    } else if (arg == "--request-deadline") {
      if (!ParseUnsigned(value, 3600, number) || number == 0) {
        error = "--request-deadline takes 1 to 3600 seconds";
        return false;
      }
      config.request_deadline = static_cast<int>(number);
    } else if (arg == "--fault") {
      config.fault = value;
    } else if (arg == "--client-version") {
      config.client_version = value;
    } else if (arg == "--update-url") {
      config.update_url = value;
    } else if (arg == "--update-rule") {
      config.update_rule_path = value;
    } else {
      error = "unknown option: " + std::string(arg);
      return false;
    }
  }
  if (!have_data) {
    error = "--data DIR is required";
    return false;
  }
  if (config.registry_dir.empty() != config.authority_path.empty()) {
    error = "--registry and --authority go together";
    return false;
  }
  if (config.server_cert_path.empty() != config.server_key_path.empty()) {
    error = "--server-cert and --server-key go together";
    return false;
  }
  // The per-user limit answers code 12 only when the cap lets such a body in.
  if (config.upload_limit > 0 && static_cast<uint64_t>(config.upload_limit) >= config.max_body) {
    error = "--upload-limit must be below --max-body";
    return false;
  }
  if (!config.seeds.empty() && config.registry_dir.empty()) {
    error = "--seed-account needs --registry";
    return false;
  }
  return true;
}

}  // namespace exchange
