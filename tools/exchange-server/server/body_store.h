// Where the bytes of a request body (or of one of its parts) are kept as
// they are read: in memory up to a limit, then in an unnamed 0600 file in a
// folder, gone when the store is. Once storing fails (a full disk), the
// rest is counted and dropped, so the request can still be read to its end
// and answered.
//
// Used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "body_range.h"

namespace exchange {

// Takes the bytes of a request body as they arrive.
class BodySink {
 public:
  virtual ~BodySink() = default;
  virtual void Append(const char* p, size_t n) = 0;
};

class BodyStore : public BodySink {
 public:
  // dir must outlive the store. Up to memory_limit bytes stay in memory.
  BodyStore(const std::string& dir, size_t memory_limit);
  ~BodyStore() override;
  BodyStore(const BodyStore&) = delete;
  BodyStore& operator=(const BodyStore&) = delete;

  void Append(const char* p, size_t n) override;
  // Cuts what is kept back to its first size bytes (REQUIRES: size <=
  // size()); a failure counts as a failure to store.
  void Truncate(uint64_t size);

  // The errno of the failure to store it; 0 when it is stored whole.
  int error() const { return error_; }
  uint64_t size() const { return size_; }
  // The kept bytes; valid while the store lives and takes no more. Read
  // only when error() is 0.
  BodyRange Range() const;

 private:
  bool OpenFile();
  void Fail();

  const std::string& dir_;
  size_t memory_limit_;
  std::string memory_;
  int fd_ = -1;
  uint64_t size_ = 0;
  int error_ = 0;
};

}  // namespace exchange
