#include "keys/crypto_pipeline.h"

#include <sys/mman.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "base/secure_wipe.h"
#include "tevqa.h"

namespace qovra {
namespace {

// A cipher context that wipes itself.
struct CipherContext {
  uint8_t bytes[TEVQA_CIPHER_CONTEXT_SIZE];
  ~CipherContext() { SecureWipe(bytes, sizeof bytes); }
  [[nodiscard]] bool Init(const uint8_t* key, bool encrypt) {
    return UZDST_CIPHER_init(bytes, key, encrypt ? 1 : 0) == 1;
  }
};

// A hash in progress; made on the calling thread (it loads the tables),
// updated on one worker.
class Hasher {
 public:
  Hasher() { UZDST_HASH_init(ctx_, nullptr); }
  ~Hasher() { SecureWipe(ctx_, sizeof ctx_); }
  void Update(const uint8_t* p, size_t n) {
    // Chunks are far below the library's 32-bit length.
    UZDST_HASH_update(ctx_, p, static_cast<uint32_t>(n));
  }
  void Final(THashValue* out) { UZDST_HASH_final(ctx_, out->data()); }

 private:
  uint8_t ctx_[TEVQA_HASH_CONTEXT_SIZE];
};

// Ring buffers, one per role, wiped when dropped. Mapped from the system
// rather than the heap, so that their pages go back when the ring goes
// (the heap keeps large freed blocks and grows with every call).
class Ring {
 public:
  Ring(const TPipelineShape& shape, int roles)
      : chunk_(shape.ChunkSize), slots_(shape.Chunks), bytes_(chunk_ * slots_ * roles) {
    void* p = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    data_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
  }
  ~Ring() {
    if (!data_) return;
    SecureWipe(data_, bytes_);
    ::munmap(data_, bytes_);
  }
  bool Ok() const { return data_ != nullptr; }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;
  uint8_t* At(int role, size_t slot) {
    return data_ + (static_cast<size_t>(role) * slots_ + slot) * chunk_;
  }

 private:
  size_t chunk_, slots_, bytes_;
  uint8_t* data_ = nullptr;
};

// One step over every chunk, in chunk order, on a thread of its own. It
// starts on a chunk once the calling thread filled it (after < 0) or once
// stage `after` finished it.
struct Stage {
  int after = -1;
  std::function<void(int64_t chunk, size_t slot)> run;
};

// Runs the stages over chunks chunks held in slots ring slots. The calling
// thread fills each chunk and drains it once every stage finished it; a
// slot is filled again only after it was drained. False when fill or drain
// failed (the stages then stop where they are).
class Pipeline {
 public:
  Pipeline(int64_t chunks, size_t slots, std::vector<Stage> stages)
      : chunks_(chunks),
        slots_(static_cast<int64_t>(slots)),
        stages_(std::move(stages)),
        done_(stages_.size(), 0) {}

  bool Run(const std::function<bool(int64_t, size_t)>& fill,
           const std::function<bool(int64_t, size_t)>& drain) {
    std::vector<std::thread> workers;
    bool ok = true;
    try {
      for (size_t s = 0; s < stages_.size(); ++s) workers.emplace_back([this, s] { Work(s); });
    } catch (const std::system_error&) {
      ok = false;
    }
    int64_t drained = 0;
    int64_t filled = 0;
    while (ok && drained < chunks_) {
      bool can_drain = false;
      bool can_fill = false;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
          can_drain = AllDone(drained);
          can_fill = filled < chunks_ && filled - drained < slots_;
          return can_drain || can_fill;
        });
      }
      if (can_drain) {
        ok = drain(drained, static_cast<size_t>(drained % slots_));
        ++drained;
        continue;
      }
      ok = fill(filled, static_cast<size_t>(filled % slots_));
      ++filled;
      if (ok) {
        std::lock_guard<std::mutex> lock(mutex_);
        filled_ = filled;
      }
      changed_.notify_all();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers) t.join();
    return ok;
  }

 private:
  // Under mutex_.
  bool Ready(size_t s, int64_t chunk) const {
    const int after = stages_[s].after;
    return (after < 0 ? filled_ : done_[static_cast<size_t>(after)]) > chunk;
  }
  bool AllDone(int64_t chunk) const {
    return std::all_of(done_.begin(), done_.end(), [chunk](int64_t d) { return d > chunk; });
  }

  void Work(size_t s) {
    for (int64_t chunk = 0; chunk < chunks_; ++chunk) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || Ready(s, chunk); });
        if (stop_) return;
      }
      stages_[s].run(chunk, static_cast<size_t>(chunk % slots_));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[s] = chunk + 1;
      }
      changed_.notify_all();
    }
  }

  const int64_t chunks_;
  const int64_t slots_;
  const std::vector<Stage> stages_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int64_t filled_ = 0;         // chunks filled, under mutex_
  std::vector<int64_t> done_;  // chunks finished per stage, under mutex_
  bool stop_ = false;          // under mutex_
};

bool ShapeUsable(const TPipelineShape& shape) {
  return shape.ChunkSize > 0 && shape.ChunkSize % kCipherBlockSize == 0 &&
         shape.ChunkSize <= (size_t{1} << 30) && shape.Chunks >= 2;
}

int64_t ChunkCount(int64_t count, size_t chunk) {
  const auto c = static_cast<int64_t>(chunk);
  return (count + c - 1) / c;
}

// Bytes of chunk i of a count-byte stream.
size_t ChunkBytes(int64_t count, size_t chunk, int64_t i) {
  const auto c = static_cast<int64_t>(chunk);
  return static_cast<size_t>(std::min<int64_t>(c, count - i * c));
}

}  // namespace

bool EncipherCopies(TStream& source, int64_t count, std::span<TCopyTarget> targets,
                    void* progress_data, TProgressProc progress, THashValue* plain_hash,
                    TCipherIvView iv, const TPipelineShape& shape, const std::atomic<bool>* stop) {
  for (TCopyTarget& t : targets) t.Written = false;
  if (count <= 0 || !ShapeUsable(shape)) return false;
  // A copy's cipher state and the chunk it writes; `alive` drops when its
  // key is refused or a write fails. Each copy's thread enciphers and
  // writes its own chunks, so the copies' writes run side by side.
  struct Copy {
    CipherContext ctx;
    uint8_t chain[kCipherBlockSize] = {};
    std::atomic<bool> alive{false};
    ~Copy() { SecureWipe(chain, sizeof chain); }
  };
  const size_t n = targets.size();
  std::unique_ptr<Copy[]> copies(new Copy[n]);
  size_t usable = 0;
  for (size_t c = 0; c < n; ++c) {
    if (!targets[c].Destination || !targets[c].Key || !copies[c].ctx.Init(targets[c].Key, true))
      continue;
    std::memcpy(copies[c].chain, iv.data(), kCipherBlockSize);
    copies[c].alive = true;
    ++usable;
  }
  if (usable == 0 && !plain_hash) return false;
  ReportProgress(progress, progress_data, count, 0);
  const size_t chunk = shape.ChunkSize;
  Ring ring(shape, 1);                           // the plain chunks
  Ring out({chunk, std::max<size_t>(n, 2)}, 1);  // slot c: copy c's enciphered chunk
  if (!ring.Ok() || !out.Ok()) return false;
  std::optional<Hasher> hasher;
  if (plain_hash) hasher.emplace();
  const auto blocks = [&](int64_t i) {
    return (ChunkBytes(count, chunk, i) + kCipherBlockSize - 1) / kCipherBlockSize;
  };
  std::vector<Stage> stages;
  if (hasher) {
    stages.push_back({-1, [&](int64_t i, size_t slot) {
                        hasher->Update(ring.At(0, slot), ChunkBytes(count, chunk, i));
                      }});
  }
  for (size_t c = 0; c < n; ++c) {
    if (!copies[c].alive) continue;
    stages.push_back({-1, [&, c](int64_t i, size_t slot) {
                        Copy& copy = copies[c];
                        if (!copy.alive.load(std::memory_order_relaxed)) return;
                        const size_t b = blocks(i);
                        uint8_t* enciphered = out.At(0, c);
                        UZDST_CIPHER_cbc(copy.ctx.bytes, copy.chain, ring.At(0, slot), enciphered,
                                         static_cast<uint32_t>(b), 1);
                        std::memcpy(copy.chain, enciphered + (b - 1) * kCipherBlockSize,
                                    kCipherBlockSize);
                        if (!targets[c].Destination->WriteBuffer(enciphered, b * kCipherBlockSize))
                          copy.alive = false;
                      }});
  }
  int64_t done = 0;
  Pipeline pipeline(ChunkCount(count, chunk), shape.Chunks, std::move(stages));
  const bool ok = pipeline.Run(
      [&](int64_t i, size_t slot) {
        if (stop && stop->load()) return false;
        const size_t bytes = ChunkBytes(count, chunk, i);
        uint8_t* in = ring.At(0, slot);
        if (!source.ReadBuffer(in, bytes)) return false;
        std::memset(in + bytes, 0, blocks(i) * kCipherBlockSize - bytes);
        return true;
      },
      [&](int64_t i, size_t /*slot*/) {
        done += static_cast<int64_t>(ChunkBytes(count, chunk, i));
        ReportProgress(progress, progress_data, count, done);
        return true;
      });
  if (!ok) return false;
  if (hasher) hasher->Final(plain_hash);
  for (size_t c = 0; c < n; ++c) targets[c].Written = copies[c].alive;
  return true;
}

bool EncryptStreamHashingInput(TStream& source, int64_t count, TStream& destination,
                               void* progress_data, TProgressProc progress, THashValue* plain_hash,
                               TCipherKeyView key, TCipherIvView iv, const TPipelineShape& shape) {
  // A refused key reads nothing.
  if (!plain_hash || !CipherContext().Init(key.data(), true)) return false;
  TCopyTarget target{&destination, key.data()};
  THashValue hash{};
  if (!EncipherCopies(source, count, {&target, 1}, progress_data, progress, &hash, iv, shape) ||
      !target.Written)
    return false;
  *plain_hash = hash;
  return true;
}

bool DecipherStreamWithHashes(TStream& source, int64_t count, TStream& destination,
                              void* progress_data, TProgressProc progress, THashValue* wire_hash,
                              THashValue* plain_hash, const TDecipherLayers& layers,
                              const TPipelineShape& shape) {
  if (count <= 0 || count % static_cast<int64_t>(kCipherBlockSize) != 0 ||
      layers.LastLength >= kCipherBlockSize || !ShapeUsable(shape))
    return false;
  const size_t last = layers.LastLength == 0 ? kCipherBlockSize : layers.LastLength;
  const bool outer = layers.OuterKey != nullptr;
  CipherContext outer_ctx, inner_ctx;
  if ((outer && !outer_ctx.Init(layers.OuterKey, false)) || !layers.Key || !layers.Iv ||
      !inner_ctx.Init(layers.Key, false))
    return false;
  ReportProgress(progress, progress_data, count, 0);
  const size_t chunk = shape.ChunkSize;
  const int64_t chunks = ChunkCount(count, chunk);
  Ring ring(shape, outer ? 3 : 2);  // wire, plain, and between the layers
  if (!ring.Ok()) return false;
  Hasher wire, plain;
  uint8_t outer_chain[kCipherBlockSize] = {};
  uint8_t inner_chain[kCipherBlockSize];
  if (outer) std::memcpy(outer_chain, layers.OuterIv, sizeof outer_chain);
  std::memcpy(inner_chain, layers.Iv, sizeof inner_chain);
  const auto written = [&](int64_t i) {
    const size_t n = ChunkBytes(count, chunk, i);
    return i + 1 == chunks ? n - kCipherBlockSize + last : n;
  };
  // CBC decryption of one chunk; the chain becomes its last input block.
  const auto decipher = [&](const CipherContext& ctx, uint8_t* chain, const uint8_t* in,
                            uint8_t* out, size_t n) {
    UZDST_CIPHER_cbc(ctx.bytes, chain, in, out, static_cast<uint32_t>(n / kCipherBlockSize), 0);
    std::memcpy(chain, in + n - kCipherBlockSize, kCipherBlockSize);
  };
  std::vector<Stage> stages;
  stages.push_back({-1, [&](int64_t i, size_t slot) {
                      wire.Update(ring.At(0, slot), ChunkBytes(count, chunk, i));
                    }});
  if (outer) {
    stages.push_back({-1, [&](int64_t i, size_t slot) {
                        decipher(outer_ctx, outer_chain, ring.At(0, slot), ring.At(2, slot),
                                 ChunkBytes(count, chunk, i));
                      }});
  }
  const int inner_after = outer ? 1 : -1;
  const int inner_stage = static_cast<int>(stages.size());
  stages.push_back({inner_after, [&](int64_t i, size_t slot) {
                      decipher(inner_ctx, inner_chain, ring.At(outer ? 2 : 0, slot),
                               ring.At(1, slot), ChunkBytes(count, chunk, i));
                    }});
  stages.push_back(
      {inner_stage, [&](int64_t i, size_t slot) { plain.Update(ring.At(1, slot), written(i)); }});
  int64_t done = 0;
  Pipeline pipeline(chunks, shape.Chunks, std::move(stages));
  const bool ok = pipeline.Run(
      [&](int64_t i, size_t slot) {
        return source.ReadBuffer(ring.At(0, slot), ChunkBytes(count, chunk, i));
      },
      [&](int64_t i, size_t slot) {
        if (!destination.WriteBuffer(ring.At(1, slot), written(i))) return false;
        done += static_cast<int64_t>(ChunkBytes(count, chunk, i));
        ReportProgress(progress, progress_data, count, done);
        return true;
      });
  if (ok) {
    wire.Final(wire_hash);
    plain.Final(plain_hash);
  }
  return ok;
}

}  // namespace qovra
