#include "http_layer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "http_connection.h"

namespace exchange {

namespace {

using Clock = std::chrono::steady_clock;
using ConnectionPtr = std::unique_ptr<HttpConnection>;

// Descriptors kept free for the workers' bodies, files and the database.
constexpr size_t kReservedDescriptors = 2 * kMaxWorkers + 64;
constexpr std::chrono::milliseconds kHousekeepInterval{1000};
// How long accepting pauses when no descriptor is left and no waiting
// connection can make room.
constexpr std::chrono::milliseconds kAcceptPause{50};

// Tags of the poller's own descriptors; connections are tagged by address.
char listen_tag, stop_tag, wake_tag;

size_t WaitingCap() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return kMaxWaitingHeads;
  const size_t open_max = static_cast<size_t>(r.rlim_cur);
  const size_t room = open_max > kReservedDescriptors + 64 ? open_max - kReservedDescriptors : 64;
  return std::min(room, kMaxWaitingHeads);
}

}  // namespace

struct HttpLayer::Impl {
  Impl(Dispatcher& d, HttpLimits l) : dispatcher(d), limits(std::move(l)) {}
  ~Impl() {
    for (int fd : {listen_fd, stop_fd, wake_fd})
      if (fd >= 0) ::close(fd);
  }

  // The accepting thread: accepts, reads heads, hands connections whose
  // head is complete to the workers, closes those past their deadline,
  // keeps house. Returns at Stop with every waiting connection closed.
  bool Poll();
  void AcceptAll(Clock::time_point now);
  void Watch(ConnectionPtr c, Clock::time_point now);
  void Unwatch(HttpConnection* c);
  void ReadHead(HttpConnection* c);
  // Queues c for a worker, starting one when none is free.
  void Dispatch(ConnectionPtr c);

  // A worker: serves queued connections until the server stops or enough
  // workers wait already.
  void Worker();
  // Starts a worker. REQUIRES: mutex held.
  void StartWorker();

  Dispatcher& dispatcher;
  HttpLimits limits;
  int listen_fd = -1;
  int stop_fd = -1;  // readable once Stop was called
  int wake_fd = -1;  // readable when workers handed connections back
  int epoll_fd = -1;

  // The accepting thread's own: connections waiting for their head, the
  // longest waiting first (their deadlines come in this order too).
  std::list<ConnectionPtr> waiting;
  Clock::time_point accept_paused_until{};
  bool accept_paused = false;

  std::mutex mutex;
  std::condition_variable work;         // queued has work, or stopping
  std::condition_variable all_closed;   // threads reached 0
  std::deque<ConnectionPtr> queued;     // heads complete, for the workers
  std::vector<ConnectionPtr> returned;  // served, waiting for their next head
  bool stopping = false;
  size_t threads = 0;
  size_t idle = 0;  // workers waiting for a connection
};

HttpLayer::HttpLayer(Dispatcher& dispatcher, HttpLimits limits)
    : impl_(std::make_unique<Impl>(dispatcher, std::move(limits))) {
  impl_->stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  impl_->wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

HttpLayer::~HttpLayer() = default;

int HttpLayer::Bind(uint16_t port, std::string& error) {
  const std::string where = "127.0.0.1:" + std::to_string(port);
  if (impl_->stop_fd < 0 || impl_->wake_fd < 0) {
    error = "cannot make an event descriptor";
    return -1;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = "cannot make a socket";
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, SOMAXCONN) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    error = "cannot bind " + where;
    return -1;
  }
  impl_->listen_fd = fd;
  return ntohs(addr.sin_port);
}

bool HttpLayer::Serve() {
  Impl& impl = *impl_;
  if (impl.listen_fd < 0) return false;
  {
    std::lock_guard<std::mutex> lock(impl.mutex);
    for (size_t i = 0; i < kStartThreads; ++i) impl.StartWorker();
    if (impl.threads == 0) return false;
  }
  const bool served = impl.Poll();
  std::unique_lock<std::mutex> lock(impl.mutex);
  impl.stopping = true;
  impl.queued.clear();
  impl.returned.clear();
  impl.work.notify_all();
  impl.all_closed.wait(lock, [&impl] { return impl.threads == 0; });
  return served;
}

void HttpLayer::Stop() {
  impl_->dispatcher.Shutdown();
  const uint64_t one = 1;
  if (::write(impl_->stop_fd, &one, sizeof one) < 0) {
    // The descriptor is a counter that cannot overflow here.
  }
}

bool HttpLayer::Impl::Poll() {
  epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd < 0) return false;
  const auto add = [this](int fd, void* tag) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.ptr = tag;
    return ::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &e) == 0;
  };
  bool ok = add(listen_fd, &listen_tag) && add(stop_fd, &stop_tag) && add(wake_fd, &wake_tag);
  Clock::time_point next_housekeep = Clock::now() + kHousekeepInterval;
  std::vector<epoll_event> events(256);
  bool stop = false;
  while (ok && !stop) {
    Clock::time_point wake_at = next_housekeep;
    if (!waiting.empty()) wake_at = std::min(wake_at, waiting.front()->head_deadline());
    if (accept_paused) wake_at = std::min(wake_at, accept_paused_until);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(wake_at - Clock::now()).count();
    const int n = ::epoll_wait(epoll_fd, events.data(), static_cast<int>(events.size()),
                               static_cast<int>(std::clamp<int64_t>(left + 1, 0, 1000)));
    if (n < 0 && errno != EINTR) {
      ok = false;
      break;
    }
    Clock::time_point now = Clock::now();
    for (int i = 0; i < n; ++i) {
      void* tag = events[static_cast<size_t>(i)].data.ptr;
      if (tag == &stop_tag) {
        stop = true;
      } else if (tag == &wake_tag) {
        uint64_t count = 0;
        if (::read(wake_fd, &count, sizeof count) < 0) {
          // Nothing to read: another round took it.
        }
        std::vector<ConnectionPtr> back;
        {
          std::lock_guard<std::mutex> lock(mutex);
          back.swap(returned);
        }
        for (ConnectionPtr& c : back) Watch(std::move(c), now);
      } else if (tag == &listen_tag) {
        AcceptAll(now);
      } else {
        ReadHead(static_cast<HttpConnection*>(tag));
      }
    }
    now = Clock::now();
    while (!waiting.empty() && waiting.front()->head_deadline() <= now)
      Unwatch(waiting.front().get());
    if (accept_paused && now >= accept_paused_until) {
      epoll_event e{};
      e.events = EPOLLIN;
      e.data.ptr = &listen_tag;
      accept_paused = ::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, listen_fd, &e) != 0;
    }
    if (now >= next_housekeep) {
      dispatcher.Housekeep();
      next_housekeep = Clock::now() + kHousekeepInterval;
    }
  }
  while (!waiting.empty()) Unwatch(waiting.front().get());
  ::close(epoll_fd);
  epoll_fd = -1;
  return ok;
}

void HttpLayer::Impl::AcceptAll(Clock::time_point now) {
  // The limit may change while the server runs.
  const size_t waiting_cap = WaitingCap();
  for (;;) {
    if (waiting.size() >= waiting_cap) Unwatch(waiting.front().get());
    const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      Watch(std::make_unique<HttpConnection>(fd, dispatcher, limits, stop_fd), now);
      continue;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if ((errno == EMFILE || errno == ENFILE) && !waiting.empty()) {
      // Out of descriptors: the connection that waited longest for its
      // head makes room.
      Unwatch(waiting.front().get());
      continue;
    }
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // Nothing to close: the listen queue holds the clients a moment.
      if (::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, listen_fd, nullptr) == 0) {
        accept_paused = true;
        accept_paused_until = now + kAcceptPause;
      }
    }
    return;
  }
}

void HttpLayer::Impl::Watch(ConnectionPtr c, Clock::time_point now) {
  c->StartHead(now);
  epoll_event e{};
  e.events = EPOLLIN | EPOLLRDHUP;
  e.data.ptr = c.get();
  if (::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, c->fd(), &e) != 0) return;  // c closes
  waiting.push_back(std::move(c));
  waiting.back()->waiting_place = std::prev(waiting.end());
}

void HttpLayer::Impl::Unwatch(HttpConnection* c) {
  ::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, c->fd(), nullptr);
  waiting.erase(c->waiting_place);
}

void HttpLayer::Impl::ReadHead(HttpConnection* c) {
  switch (c->ReadHead()) {
    case HttpConnection::HeadState::More:
      return;
    case HttpConnection::HeadState::Closed:
      Unwatch(c);
      return;
    case HttpConnection::HeadState::Complete: {
      ::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, c->fd(), nullptr);
      ConnectionPtr owned = std::move(*c->waiting_place);
      waiting.erase(c->waiting_place);
      Dispatch(std::move(owned));
      return;
    }
  }
}

void HttpLayer::Impl::Dispatch(ConnectionPtr c) {
  std::lock_guard<std::mutex> lock(mutex);
  queued.push_back(std::move(c));
  if (queued.size() > idle && threads < kMaxWorkers) StartWorker();
  work.notify_one();
}

void HttpLayer::Impl::StartWorker() {
  try {
    std::thread([this] { Worker(); }).detach();
    ++threads;
  } catch (const std::system_error&) {
    // The workers already there take the connections.
  }
}

void HttpLayer::Impl::Worker() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    ++idle;
    work.wait(lock, [this] { return stopping || !queued.empty(); });
    --idle;
    if (stopping) break;
    ConnectionPtr c = std::move(queued.front());
    queued.pop_front();
    lock.unlock();
    const bool again = c->Serve();
    lock.lock();
    if (again && !stopping) {
      returned.push_back(std::move(c));
      const uint64_t one = 1;
      if (::write(wake_fd, &one, sizeof one) < 0) {
        // The counter cannot overflow here.
      }
    }
    lock.unlock();
    c.reset();  // closes a connection that is done, outside the lock
    lock.lock();
    // Enough workers wait already: this one ends.
    if (idle >= kMaxIdleThreads) break;
  }
  lock.unlock();
  // This thread's OpenSSL state goes now: once the last thread is counted
  // off, the process may end before a detached thread's exit would free it.
  OPENSSL_thread_stop();
  lock.lock();
  if (--threads == 0) all_closed.notify_all();
}

}  // namespace exchange
