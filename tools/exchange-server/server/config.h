// The exchange server's settings, from its command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exchange {

struct SeedSpec {
  std::string login;
  std::string domain;
  std::string password;   // the bytes as given
  std::string cert_path;  // empty: the registry's "<login>@<domain>.cer"
};

struct ServerConfig {
  uint16_t port = 0;     // 0: any free port
  std::string data_dir;  // the server's files; created when missing
  std::vector<std::string> domains{"localhost", "127.0.0.1"};  // mail domains served
  std::string registry_dir;                                    // certificates accepted; empty: none
  std::string authority_path;  // the authority certificate that issued them
  std::string server_cert_path;
  std::string server_key_path;
  std::vector<SeedSpec> seeds;
  int64_t session_timeout = 1800;  // seconds of idleness before a session ends
  size_t max_sessions = 16384;     // sessions held at once (see sessions.h)
  int64_t upload_limit = 0;        // bytes of content a seeded account may send; 0: none
  // Bodies announced longer are refused from the headers (413); above
  // every account's upload limit.
  uint64_t max_body = uint64_t{4} << 30;
  // Seconds a request's headers may take, and the start allowance of its
  // body (see http_layer.h).
  int request_deadline = 10;
  std::string fault;           // the fault switch at start; empty: none
  bool test_commands = false;  // the test command and the /test/ endpoints
  std::string client_version;  // newest client version offered at login
  std::string update_url;
  std::string update_rule_path;
};

// Reads the command line (see main.cpp for the options). False with a
// message in error for anything else, a missing --data, a bad number, or
// options that need each other given alone.
[[nodiscard]] bool ParseCommandLine(int argc, char** argv, ServerConfig& config,
                                    std::string& error);

// "login@domain:password[:certfile]"; false when the address or password is
// missing. A password cannot contain ":".
[[nodiscard]] bool ParseSeedSpec(const std::string& text, SeedSpec& out);

}  // namespace exchange
