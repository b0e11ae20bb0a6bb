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
//   --max-sessions N             sessions held at once (16384); when full,
//                                handshakes that never logged in give way
//   --upload-limit BYTES         content a seeded account may send (0: none);
//                                more is answered with code 12
//   --max-body BYTES             longer bodies are refused at once with 413
//                                (4 GiB); above the upload limit
//   --request-deadline SECONDS   time a request's headers may take (10); see
//                                http_layer.h for the body
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
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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
  // Everything the server makes is its own only: the database holds
  // password equivalents, the mail folder the users' mail.
  umask(077);
  // Every waiting connection holds a descriptor: take all the system lets.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  std::error_code ec;
  std::filesystem::create_directories(config.data_dir, ec);
  const std::string body_dir = config.data_dir + "/tmp";
  if (!std::filesystem::is_directory(config.data_dir) ||
      chmod(config.data_dir.c_str(), 0700) != 0 ||
      (mkdir(body_dir.c_str(), 0700) != 0 && errno != EEXIST) ||
      chmod(body_dir.c_str(), 0700) != 0) {
    std::fprintf(stderr, "exchange-server: cannot use data folder %s\n", config.data_dir.c_str());
    return 1;
  }
  // Named bodies left by a crash (where unnamed files are not supported).
  for (const auto& entry : std::filesystem::directory_iterator(body_dir, ec))
    std::filesystem::remove(entry.path(), ec);

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
  exchange::HttpLimits limits;
  limits.max_body = config.max_body;
  limits.header_deadline = std::chrono::seconds(config.request_deadline);
  limits.body_dir = body_dir;
  exchange::HttpLayer http(dispatcher, limits);
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
