// A multipart request body split into its parts while it is read, so that
// no part is read back and copied once the body is in: the first part of
// each wanted name goes to a store of its own (in memory, then an unnamed
// file in a folder), the bytes of every other part are dropped.
//
// Used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "body_store.h"
#include "multipart_stream.h"

namespace exchange {

class RequestParts : public BodySink {
 public:
  // dir must outlive this; boundary as ParseMultipartBoundary gives it;
  // names: the parts to keep. Up to memory_limit bytes of each stay in
  // memory.
  RequestParts(const std::string& dir, std::string_view boundary, std::vector<std::string> names,
               size_t memory_limit);
  ~RequestParts() override;
  RequestParts(const RequestParts&) = delete;
  RequestParts& operator=(const RequestParts&) = delete;

  void Append(const char* p, size_t n) override;
  // The body has ended: its parse status (multipart.h). REQUIRES: called
  // once, after the last Append.
  [[nodiscard]] MultipartStatus Finish();

  // Bytes of the body read.
  uint64_t size() const { return size_; }
  // The errno of the first failure to store a kept part; 0 when none.
  int error() const;
  // The first part called name, once Finish returned Ok; nothing when the
  // body had none. Valid while this lives.
  std::optional<BodyRange> Part(std::string_view name) const;

 private:
  struct Kept;

  const std::string& dir_;
  size_t memory_limit_;
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<Kept>> kept_;
  std::unique_ptr<MultipartSplitter> splitter_;
  uint64_t size_ = 0;
  bool finished_ok_ = false;
};

}  // namespace exchange
