// Enciphered copies of one stream, each under a key of its own, made ahead
// of their use (crypto_pipeline.h): the first batch in the pass that hashes
// the stream, each later batch in a pass of its own on a background thread
// while the caller uses the copies before it. The caller takes the copies
// one at a time in the order they were added; at most two batches of copy
// files exist at once.
//
// Order of use: Add every copy; HashWithFirstBatch (or hash the source
// yourself when it returns 0); StartAhead; then for each copy in order Wait,
// use its file, Done. From StartAhead on the source belongs to the run: the
// caller reads, seeks or frees it only after the run is destroyed.
//
// One caller thread; progress is reported on it. Keys are wiped when the
// run is destroyed, and every copy file still at its path is deleted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/stream.h"
#include "keys/crypto_binding.h"

namespace qovra {

class TCopyRun {
 public:
  // copies_per_pass: copies enciphered in one pass over the source; 0 lets
  // the run choose by the processor's cores (1 to 4).
  TCopyRun(TStream& source, TCipherIvView iv, size_t copies_per_pass);
  ~TCopyRun();
  TCopyRun(const TCopyRun&) = delete;
  TCopyRun& operator=(const TCopyRun&) = delete;

  // Queues a copy under key into a new file at path (mode 0600, an
  // existing file replaced). Returns its index, counted from 0.
  // REQUIRES: HashWithFirstBatch and StartAhead not called yet.
  size_t Add(TCipherKeyView key, std::string path);
  size_t Count() const;

  // Hashes the source from its start to its end into *hash while the first
  // batch of copies is enciphered. Returns the bytes hashed; 0 when the
  // pass failed (*hash untouched; those copies are then made ahead with the
  // rest).
  int64_t HashWithFirstBatch(THashValue* hash, void* progress_data, TProgressProc progress);

  // Starts making every copy not made yet on a thread of its own. Without
  // any, does nothing.
  void StartAhead();

  // What became of a copy.
  enum class Made {
    kReady,       // its file is complete at Path(i)
    kNotCreated,  // its file could not be created
    kFailed,      // it could not be enciphered or written in full (file gone)
  };
  // Waits until copy i is made or given up. While waiting, reports the
  // copy's progress (bytes of the source done). Copies before i count as
  // Done.
  [[nodiscard]] Made Wait(size_t i, void* progress_data, TProgressProc progress);
  const std::string& Path(size_t i) const;

  // The caller has finished with copy i; its file is deleted unless the
  // caller moved it away. Lets the next batch begin.
  void Done(size_t i);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qovra
