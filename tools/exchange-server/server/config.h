// The exchange server's settings, from its command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exchange {

struct ServerConfig {
  uint16_t port = 0;     // 0: any free port
  std::string data_dir;  // the server's files; created when missing
  std::vector<std::string> domains{"localhost", "127.0.0.1"};  // mail domains served
};

// Reads "--port N --data DIR [--domains a,b]". False with a message in
// error for anything else, a missing --data or a bad port.
[[nodiscard]] bool ParseCommandLine(int argc, char** argv, ServerConfig& config,
                                    std::string& error);

}  // namespace exchange
