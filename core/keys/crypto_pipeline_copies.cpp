#include "keys/crypto_pipeline_copies.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/file_stream.h"
#include "base/secure_wipe.h"
#include "keys/crypto_pipeline.h"

namespace qovra {
namespace {

constexpr size_t kMostCopiesPerPass = 4;
// How often a caller waiting for a copy hears of its progress.
constexpr auto kWaitReport = std::chrono::milliseconds(50);

enum class CopyState { Pending, Ready, NotCreated, Failed };

size_t DefaultCopiesPerPass() {
  // The hash, the calling thread's reads and writes, and one thread per copy.
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<size_t>(cores > 2 ? cores - 2 : 1, 1, kMostCopiesPerPass);
}

void StoreProgress(void* data, int64_t /*total*/, int64_t done) {
  static_cast<std::atomic<int64_t>*>(data)->store(done);
}

}  // namespace

struct TCopyRun::Impl {
  struct Copy {
    std::array<uint8_t, kCipherKeySize> key{};
    std::string path;
    CopyState state = CopyState::Pending;  // under mutex once ahead started
  };

  Impl(TStream& s, TCipherIvView v, size_t copies_per_pass)
      : source(s), per_pass(copies_per_pass == 0 ? DefaultCopiesPerPass() : copies_per_pass) {
    std::copy(v.begin(), v.end(), iv.begin());
  }

  size_t Batches() const { return (copies.size() + per_pass - 1) / per_pass; }

  // Enciphers the copies of batch b in one pass over the source, hashing it
  // into *hash when given. False when the source could not be read in full
  // (the batch's copies are then left pending). Runs without the mutex:
  // only this pass touches the batch's copies until it marks them.
  bool Pass(size_t b, THashValue* hash, void* progress_data, TProgressProc progress) {
    const size_t first = b * per_pass;
    const size_t last = std::min(copies.size(), first + per_pass);
    std::vector<std::unique_ptr<TEFileStream>> files;
    std::vector<TCopyTarget> targets;
    for (size_t i = first; i < last; ++i) {
      files.push_back(std::make_unique<TEFileStream>(copies[i].path, /*silent=*/true,
                                                     /*delete_on_free=*/false, fmCreate));
      targets.push_back(
          {files.back()->Opened() ? files.back().get() : nullptr, copies[i].key.data()});
    }
    // With no file to write and nothing to hash the pass has nothing to do.
    const bool idle = !hash && std::none_of(targets.begin(), targets.end(),
                                            [](const TCopyTarget& t) { return t.Destination; });
    const bool ok = idle || (count > 0 && source.Seek(0, SeekOrigin::Beginning) == 0 &&
                             EncipherCopies(source, count, targets, progress_data, progress, hash,
                                            iv, TPipelineShape{}, &stop));
    files.clear();
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = first; i < last; ++i) {
      const TCopyTarget& t = targets[i - first];
      const bool made = ok && t.Written;
      if (!made && t.Destination) std::remove(copies[i].path.c_str());
      if (!ok) continue;
      copies[i].state = made            ? CopyState::Ready
                        : t.Destination ? CopyState::Failed
                                        : CopyState::NotCreated;
    }
    return ok;
  }

  // The background thread: every batch from `from` on, each once the
  // copies of the batch before the one before it are done.
  void Ahead(size_t from) {
    for (size_t b = from; b < Batches(); ++b) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stop.load() || b < 2 || done >= (b - 1) * per_pass; });
        if (stop) break;
        active_batch = static_cast<int64_t>(b);
        active_done = 0;
      }
      const bool ok = Pass(b, nullptr, &active_done, StoreProgress);
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (!ok) {
          for (size_t i = b * per_pass; i < std::min(copies.size(), (b + 1) * per_pass); ++i)
            copies[i].state = CopyState::Failed;
        }
        active_batch = -1;
      }
      changed.notify_all();
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (Copy& c : copies) {
        if (c.state == CopyState::Pending) c.state = CopyState::Failed;
      }
    }
    changed.notify_all();
  }

  TStream& source;
  const size_t per_pass;
  std::array<uint8_t, kCipherIvSize> iv{};
  int64_t count = 0;
  std::vector<Copy> copies;
  size_t first_unmade = 0;  // batch; before StartAhead only
  std::mutex mutex;
  std::condition_variable changed;
  size_t done = 0;            // copies [0, done) are done with; under mutex
  int64_t active_batch = -1;  // the batch being made ahead; under mutex
  std::atomic<int64_t> active_done{0};
  std::atomic<bool> stop{false};
  std::thread worker;
};

TCopyRun::TCopyRun(TStream& source, TCipherIvView iv, size_t copies_per_pass)
    : impl_(std::make_unique<Impl>(source, iv, copies_per_pass)) {}

TCopyRun::~TCopyRun() {
  impl_->stop = true;
  { std::lock_guard<std::mutex> lock(impl_->mutex); }
  impl_->changed.notify_all();
  if (impl_->worker.joinable()) impl_->worker.join();
  for (Impl::Copy& c : impl_->copies) {
    std::remove(c.path.c_str());
    SecureWipe(c.key.data(), c.key.size());
  }
}

size_t TCopyRun::Add(TCipherKeyView key, std::string path) {
  Impl::Copy c;
  std::copy(key.begin(), key.end(), c.key.begin());
  c.path = std::move(path);
  impl_->copies.push_back(std::move(c));
  return impl_->copies.size() - 1;
}

size_t TCopyRun::Count() const {
  return impl_->copies.size();
}

int64_t TCopyRun::HashWithFirstBatch(THashValue* hash, void* progress_data,
                                     TProgressProc progress) {
  Impl& m = *impl_;
  m.count = m.source.Size();
  THashValue h{};
  if (m.copies.empty() || !m.Pass(0, &h, progress_data, progress)) return 0;
  m.first_unmade = 1;
  *hash = h;
  return m.count;
}

void TCopyRun::StartAhead() {
  Impl& m = *impl_;
  if (m.worker.joinable() || m.first_unmade >= m.Batches()) return;
  if (m.count == 0) m.count = m.source.Size();
  try {
    m.worker = std::thread([&m] { m.Ahead(m.first_unmade); });
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(m.mutex);
    for (Impl::Copy& c : m.copies) {
      if (c.state == CopyState::Pending) c.state = CopyState::Failed;
    }
  }
}

TCopyRun::Made TCopyRun::Wait(size_t i, void* progress_data, TProgressProc progress) {
  Impl& m = *impl_;
  if (i >= m.copies.size()) return Made::kFailed;
  for (size_t j = 0; j < i; ++j) {
    if (j >= m.done) Done(j);
  }
  std::unique_lock<std::mutex> lock(m.mutex);
  if (m.copies[i].state == CopyState::Pending) {
    if (!m.worker.joinable()) return Made::kFailed;  // nothing will make it
    lock.unlock();
    ReportProgress(progress, progress_data, m.count, 0);
    lock.lock();
  }
  const size_t batch = i / m.per_pass;
  while (m.copies[i].state == CopyState::Pending) {
    m.changed.wait_for(lock, kWaitReport);
    if (m.copies[i].state != CopyState::Pending) break;
    const bool mine = m.active_batch == static_cast<int64_t>(batch);
    lock.unlock();
    ReportProgress(progress, progress_data, m.count, mine ? m.active_done.load() : 0);
    lock.lock();
  }
  switch (m.copies[i].state) {
    case CopyState::Ready:
      return Made::kReady;
    case CopyState::NotCreated:
      return Made::kNotCreated;
    default:
      return Made::kFailed;
  }
}

const std::string& TCopyRun::Path(size_t i) const {
  return impl_->copies.at(i).path;
}

void TCopyRun::Done(size_t i) {
  Impl& m = *impl_;
  if (i >= m.copies.size()) return;
  std::remove(m.copies[i].path.c_str());
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    m.done = std::max(m.done, i + 1);
  }
  m.changed.notify_all();
}

}  // namespace qovra
