// The system poll on Linux: a fixed list of sources, each with a fixed credit
// towards the entropy goal. A source that fails is skipped.
#include <errno.h>
#include <fcntl.h>
#include <string.h>  // explicit_bzero
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "ulmox_pool.h"

namespace ulmox {
namespace {

// The kernel's generator; with it the goal is reached in one poll.
size_t GatherGetrandom(uint8_t* buf, size_t cap) {
  constexpr size_t kWant = 64;
  if (cap < kWant) return 0;
  size_t got = 0;
  while (got < kWant) {
    const ssize_t r = getrandom(buf + got, kWant - got, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    got += static_cast<size_t>(r);
  }
  return got;
}

// Up to cap bytes of a /proc file; 0 when it cannot be opened or read.
size_t ReadProcFile(const char* path, uint8_t* buf, size_t cap) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  size_t got = 0;
  while (got < cap) {
    const ssize_t r = read(fd, buf + got, cap - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  return got;
}

size_t GatherNetDev(uint8_t* buf, size_t cap) {
  return ReadProcFile("/proc/net/dev", buf, cap);
}
size_t GatherStat(uint8_t* buf, size_t cap) {
  return ReadProcFile("/proc/stat", buf, cap);
}
size_t GatherSelfStat(uint8_t* buf, size_t cap) {
  return ReadProcFile("/proc/self/stat", buf, cap);
}
size_t GatherMeminfo(uint8_t* buf, size_t cap) {
  return ReadProcFile("/proc/meminfo", buf, cap);
}

size_t GatherMonotonic(uint8_t* buf, size_t cap) {
  timespec ts{};
  if (cap < sizeof ts || clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  std::memcpy(buf, &ts, sizeof ts);
  return sizeof ts;
}

size_t GatherPid(uint8_t* buf, size_t cap) {
  const pid_t pid = getpid();
  if (cap < sizeof pid) return 0;
  std::memcpy(buf, &pid, sizeof pid);
  return sizeof pid;
}

// Polling order and credits. Without the kernel's generator the rest stays
// below the goal.
constexpr EntropySource kLinuxSources[] = {
    {"getrandom", 64.0, GatherGetrandom},       //
    {"/proc/net/dev", 8.0, GatherNetDev},       //
    {"/proc/stat", 4.0, GatherStat},            //
    {"/proc/self/stat", 2.0, GatherSelfStat},   //
    {"/proc/meminfo", 1.0, GatherMeminfo},      //
    {"monotonic clock", 0.0, GatherMonotonic},  //
    {"pid", 1.0, GatherPid},
};

std::span<const EntropySource> g_sources = kLinuxSources;

}  // namespace

std::span<const EntropySource> LinuxEntropySources() {
  return kLinuxSources;
}

void SetEntropySources(std::span<const EntropySource> sources) {
  g_sources = sources;
}

std::span<const EntropySource> CurrentEntropySources() {
  return g_sources;
}

void PollSources(std::span<const EntropySource> sources) {
  uint8_t buf[kSourceBufferSize];
  for (const EntropySource& source : sources) {
    if (source.gather == nullptr) continue;
    const size_t got = std::min(source.gather(buf, sizeof buf), sizeof buf);
    if (got == 0) continue;
    PoolAdd(buf, got, source.credit);
  }
  explicit_bzero(buf, sizeof buf);
}

}  // namespace ulmox
