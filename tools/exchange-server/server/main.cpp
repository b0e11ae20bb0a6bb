// exchange-server --port N --data DIR [options]
//
//   --domains a,b                mail domains served (localhost,127.0.0.1)
//   --registry DIR --authority FILE
//                                accept the certificates in DIR that FILE's
//                                authority issued
//   --server-cert FILE --server-key FILE
//                                the server's certificate and its 256-byte
//                                private record (needed for handshakes)
//   --seed-account login@domain:password[:certfile]
//                                create or refresh an account bound to the
//                                certificate (default: the registry's
//                                login@domain.cer); repeatable
//   --session-timeout SECONDS    idle time after which a session ends (1800)
//   --client-version A.B.C.D --update-url URL --update-rule FILE
//                                the update offered at login
//   --fault SPEC                 the fault switch at start (tests only)
//   --test-commands              the test command and POST /test/fault
//
// The local exchange server for tests and the demo. It serves 127.0.0.1
// only and prints "listening on 127.0.0.1:PORT" once it accepts
// connections (with --port 0 the port is a free one). SIGTERM or SIGINT
// stops it.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "config.h"
#include "dispatcher.h"
#include "http_layer.h"

int main(int argc, char** argv) {
  exchange::ServerConfig config;
  std::string error;
  if (!exchange::ParseCommandLine(argc, argv, config, error)) {
    std::fprintf(stderr, "exchange-server: %s\n", error.c_str());
    std::fprintf(stderr, "usage: exchange-server --port N --data DIR [options]\n");
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(config.data_dir, ec);
  if (!std::filesystem::is_directory(config.data_dir)) {
    std::fprintf(stderr, "exchange-server: cannot use data folder %s\n", config.data_dir.c_str());
    return 1;
  }

  // Stop signals are taken by one thread with sigwait; every other thread
  // (the server's pool included) inherits the blocked mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  exchange::Dispatcher dispatcher(config);
  std::vector<std::string> warnings;
  const bool ready = dispatcher.Init(error, warnings);
  for (const std::string& w : warnings)
    std::fprintf(stderr, "exchange-server: registry: skipped %s\n", w.c_str());
  if (!ready) {
    std::fprintf(stderr, "exchange-server: %s\n", error.c_str());
    return 1;
  }
  exchange::HttpLayer http(dispatcher);
  const int port = http.Bind(config.port, error);
  if (port < 0) {
    std::fprintf(stderr, "exchange-server: %s\n", error.c_str());
    return 1;
  }

  std::thread stopper([&http, &stop_signals] {
    int sig = 0;
    sigwait(&stop_signals, &sig);
    http.Stop();
  });

  std::printf("listening on 127.0.0.1:%d\n", port);
  std::fflush(stdout);
  const bool served = http.Serve();
  // Wake the stopper when serving ended on its own.
  kill(getpid(), SIGTERM);
  stopper.join();
  return served ? 0 : 1;
}
