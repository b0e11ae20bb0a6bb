#include "request_parts.h"

#include <algorithm>

namespace exchange {

// A kept part: its name and its store.
struct RequestParts::Kept : PartSink {
  Kept(std::string n, const std::string& dir, size_t memory_limit)
      : name(std::move(n)), store(dir, memory_limit) {}
  void Append(const char* p, size_t n) override { store.Append(p, n); }
  void Truncate(uint64_t size) override { store.Truncate(size); }

  std::string name;
  BodyStore store;
};

RequestParts::RequestParts(const std::string& dir, std::string_view boundary,
                           std::vector<std::string> names, size_t memory_limit)
    : dir_(dir), memory_limit_(memory_limit), names_(std::move(names)) {
  splitter_ = std::make_unique<MultipartSplitter>(
      boundary, [this](const StreamedPart& part, size_t) -> PartSink* {
        const std::string& name = part.headers.name;
        if (std::find(names_.begin(), names_.end(), name) == names_.end()) return nullptr;
        for (const auto& k : kept_)
          if (k->name == name) return nullptr;  // only the first of a name
        kept_.push_back(std::make_unique<Kept>(name, dir_, memory_limit_));
        return kept_.back().get();
      });
}

RequestParts::~RequestParts() = default;

void RequestParts::Append(const char* p, size_t n) {
  size_ += n;
  splitter_->Feed(std::string_view(p, n));
}

MultipartStatus RequestParts::Finish() {
  const MultipartStatus status = splitter_->Finish();
  finished_ok_ = status == MultipartStatus::Ok;
  return status;
}

int RequestParts::error() const {
  for (const auto& k : kept_)
    if (k->store.error() != 0) return k->store.error();
  return 0;
}

std::optional<BodyRange> RequestParts::Part(std::string_view name) const {
  if (!finished_ok_) return std::nullopt;
  for (const auto& k : kept_)
    if (k->name == name) return k->store.Range();
  return std::nullopt;
}

}  // namespace exchange
