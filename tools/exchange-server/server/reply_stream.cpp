#include "reply_stream.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace exchange {

namespace {

// Chunk index of a file: its bytes from index * kStreamChunk.
class ChunkSource {
 public:
  ChunkSource(const BodyRange& source, uint64_t raw, uint64_t wire, crypto::CbcStream* cbc)
      : source_(source), raw_(raw), wire_(wire), cbc_(cbc) {}

  uint64_t chunks() const { return (wire_ + kStreamChunk - 1) / kStreamChunk; }

  // Fills buf with chunk index (in order: the cipher chains from one to
  // the next) and sets n to its length; false when the source fails.
  bool Fill(uint64_t index, std::vector<char>& buf, size_t& n) const {
    const uint64_t done = index * kStreamChunk;
    n = static_cast<size_t>(std::min<uint64_t>(kStreamChunk, wire_ - done));
    buf.resize(kStreamChunk);
    // Past the file's end (the last block of an enciphered file) is zero.
    const size_t from_file =
        done < raw_ ? static_cast<size_t>(std::min<uint64_t>(n, raw_ - done)) : 0;
    if (!source_.Read(done, buf.data(), from_file)) return false;
    std::fill(buf.begin() + static_cast<std::ptrdiff_t>(from_file),
              buf.begin() + static_cast<std::ptrdiff_t>(n), '\0');
    if (cbc_) cbc_->Process(reinterpret_cast<uint8_t*>(buf.data()), n);
    return true;
  }

 private:
  const BodyRange& source_;
  uint64_t raw_;
  uint64_t wire_;
  crypto::CbcStream* cbc_;
};

bool OneThread(const ChunkSource& chunks, crypto::Hasher& hash, const ReplySink& sink) {
  std::vector<char> buf;
  for (uint64_t i = 0; i < chunks.chunks(); ++i) {
    size_t n = 0;
    if (!chunks.Fill(i, buf, n)) return false;
    hash.Update(std::string_view(buf.data(), n));
    if (!sink(buf.data(), n)) return false;
  }
  return true;
}

// The ring the three steps share. Chunk i lives in slot i % kStreamSlots
// from when it is filled until it is both hashed and sent.
struct Ring {
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t filled = 0, hashed = 0, sent = 0;  // chunks done by each step
  bool failed = false;                        // every step stops
  std::array<std::vector<char>, kStreamSlots> slot;
  std::array<size_t, kStreamSlots> length{};

  // Waits until ready or failed; false when failed.
  template <typename Ready>
  bool WaitFor(Ready ready) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return failed || ready(); });
    return !failed;
  }
  void Done(uint64_t& counter, uint64_t value, bool ok) {
    std::lock_guard<std::mutex> lock(mutex);
    if (ok)
      counter = value;
    else
      failed = true;
    changed.notify_all();
  }
};

}  // namespace

bool StreamReplyFile(const BodyRange& source, uint64_t raw, uint64_t wire, crypto::CbcStream* cbc,
                     crypto::Hasher& hash, const ReplySink& sink) {
  const ChunkSource chunks(source, raw, wire, cbc);
  const uint64_t count = chunks.chunks();
  if (count <= 1) return OneThread(chunks, hash, sink);

  Ring ring;
  std::thread hasher;
  std::thread reader;
  try {
    hasher = std::thread([&ring, &hash, count] {
      for (uint64_t i = 0; i < count; ++i) {
        if (!ring.WaitFor([&] { return ring.filled > i; })) return;
        const size_t k = i % kStreamSlots;
        hash.Update(std::string_view(ring.slot[k].data(), ring.length[k]));
        ring.Done(ring.hashed, i + 1, true);
      }
    });
    reader = std::thread([&ring, &chunks, count] {
      for (uint64_t i = 0; i < count; ++i) {
        // The slot is free once its last chunk was both hashed and sent.
        if (!ring.WaitFor([&] { return std::min(ring.hashed, ring.sent) + kStreamSlots > i; }))
          return;
        const size_t k = i % kStreamSlots;
        const bool ok = chunks.Fill(i, ring.slot[k], ring.length[k]);
        ring.Done(ring.filled, i + 1, ok);
        if (!ok) return;
      }
    });
  } catch (const std::system_error&) {
    // No thread for it: nothing was read yet, so one thread does it all.
    ring.Done(ring.filled, 0, false);
    if (hasher.joinable()) hasher.join();
    return OneThread(chunks, hash, sink);
  }
  for (uint64_t i = 0; i < count; ++i) {
    if (!ring.WaitFor([&] { return ring.filled > i; })) break;
    const size_t k = i % kStreamSlots;
    ring.Done(ring.sent, i + 1, sink(ring.slot[k].data(), ring.length[k]));
  }
  reader.join();
  hasher.join();
  return !ring.failed;
}

}  // namespace exchange
