#include "multipart_stream.h"

#include <string.h>

#include <algorithm>

namespace exchange {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Where needle first occurs in haystack; npos when it does not.
size_t Find(std::string_view haystack, std::string_view needle) {
  const void* at = ::memmem(haystack.data(), haystack.size(), needle.data(), needle.size());
  return at ? static_cast<size_t>(static_cast<const char*>(at) - haystack.data())
            : std::string_view::npos;
}

}  // namespace

MultipartSplitter::MultipartSplitter(std::string_view boundary, SinkFor sink_for)
    : dash_("--" + std::string(boundary)),
      delimiter_("\r\n" + dash_),
      sink_for_(std::move(sink_for)) {
  if (boundary.empty()) Fail(MultipartStatus::NoBoundary);
}

void MultipartSplitter::Feed(std::string_view bytes) {
  if (state_ == State::Failed || state_ == State::Epilogue) return;
  const size_t keep = delimiter_.size() - 1;
  // The bulk of a large part: searched where it lies, not copied first.
  if (state_ == State::Data && pending_.size() <= keep && bytes.size() >= keep) {
    if (!pending_.empty()) {
      // A delimiter beginning in the bytes held from the last piece.
      const std::string joint = pending_ + std::string(bytes.substr(0, keep));
      if (Find(joint, delimiter_) < pending_.size()) {
        pending_.append(bytes);
        return Run(false);
      }
      Give(pending_.data(), pending_.size());
      pending_.clear();
    }
    const size_t at = Find(bytes, delimiter_);
    if (at == std::string_view::npos) {
      const size_t give = bytes.size() - keep;
      Give(bytes.data(), give);
      pending_.assign(bytes.substr(give));
      return;
    }
    Give(bytes.data(), at);
    pending_.assign(bytes.substr(at));
    state_ = State::Delimiter;
    held_ = delimiter_.size();
    blanks_ = false;
    return Run(false);
  }
  pending_.append(bytes);
  Run(false);
}

MultipartStatus MultipartSplitter::Finish() {
  Run(true);
  switch (state_) {
    case State::Epilogue:
      return MultipartStatus::Ok;
    case State::Failed:
      return status_;
    case State::Start:
    case State::Preamble:
      return MultipartStatus::NoDelimiter;
    case State::Delimiter:
    case State::Headers:
    case State::Data:
      break;
  }
  return MultipartStatus::Truncated;
}

void MultipartSplitter::Run(bool at_end) {
  for (;;) {
    bool moved = false;
    switch (state_) {
      case State::Start:
        moved = StepStart(at_end);
        break;
      case State::Preamble:
      case State::Data:
        moved = StepSearch(at_end);
        break;
      case State::Delimiter:
        moved = StepDelimiter(at_end);
        break;
      case State::Headers:
        moved = StepHeaders(at_end);
        break;
      case State::Epilogue:
      case State::Failed:
        pending_.clear();
        break;
    }
    if (!moved) return;
  }
}

bool MultipartSplitter::StepStart(bool at_end) {
  // The first delimiter may open the body without its CR LF.
  if (pending_.size() >= dash_.size()) {
    if (pending_.compare(0, dash_.size(), dash_) == 0) {
      state_ = State::Delimiter;
      held_ = dash_.size();
      blanks_ = false;
    } else {
      state_ = State::Preamble;
    }
    return true;
  }
  if (!at_end && dash_.compare(0, pending_.size(), pending_) == 0) return false;
  state_ = State::Preamble;
  return true;
}

bool MultipartSplitter::StepSearch(bool at_end) {
  const size_t at = Find(pending_, delimiter_);
  if (at == std::string_view::npos) {
    const size_t keep = delimiter_.size() - 1;
    if (!at_end && pending_.size() > keep) {
      Give(pending_.data(), pending_.size() - keep);
      pending_.erase(0, pending_.size() - keep);
    }
    return false;
  }
  Give(pending_.data(), at);
  pending_.erase(0, at);
  state_ = State::Delimiter;
  held_ = delimiter_.size();
  blanks_ = false;
  return true;
}

MultipartSplitter::Seen MultipartSplitter::Classify(bool at_end) {
  const std::string_view s = pending_;
  const size_t k = held_;
  // "--" right after the boundary closes the body.
  if (!blanks_) {
    if (s.size() - k >= 2) {
      if (s[k] == '-' && s[k + 1] == '-') {
        held_ = k + 2;
        return Seen::Close;
      }
    } else if (!at_end && (s.size() == k || s[k] == '-')) {
      return Seen::More;
    }
  }
  // Padding blanks, then CR LF, open a part.
  size_t i = k;
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (i > k) blanks_ = true;
  held_ = i;
  if (i >= s.size()) return at_end ? Seen::End : Seen::More;
  if (s[i] == '\r') {
    if (i + 1 >= s.size()) return at_end ? Seen::End : Seen::More;
    if (s[i + 1] == '\n') {
      held_ = i + 2;
      return Seen::Part;
    }
  }
  return Seen::NotDelimiter;
}

bool MultipartSplitter::StepDelimiter(bool at_end) {
  switch (Classify(at_end)) {
    case Seen::More:
      if (held_ > kMaxDelimiterHeld) {
        // A long run of padding: into the part now, cut off again if it
        // is a delimiter's.
        if (in_part_ && !given_early_) {
          mark_ = parts_.back().size;
          given_early_ = true;
        }
        Give(pending_.data(), held_);
        pending_.erase(0, held_);
        held_ = 0;
      }
      return false;
    case Seen::End:
      Fail(MultipartStatus::Truncated);
      return false;
    case Seen::NotDelimiter:
      // Its bytes are the part's (or the preamble's); the search goes on
      // from the byte that told.
      Give(pending_.data(), held_);
      pending_.erase(0, held_);
      given_early_ = false;
      state_ = in_part_ ? State::Data : State::Preamble;
      return true;
    case Seen::Close:
      EndPart();
      pending_.clear();
      state_ = State::Epilogue;
      return false;
    case Seen::Part:
      EndPart();
      pending_.erase(0, held_);
      if (parts_.size() >= kMaxParts) {
        Fail(MultipartStatus::TooManyParts);
        return false;
      }
      header_block_.clear();
      header_scanned_ = 0;
      state_ = State::Headers;
      return true;
  }
  return false;
}

bool MultipartSplitter::StepHeaders(bool at_end) {
  // One byte past the longest block: enough to tell a block that is too
  // long from one that is cut short.
  const size_t cap = kMaxPartHeaderBytes + 2;
  const size_t take = std::min(pending_.size(), cap - header_block_.size());
  header_block_.append(pending_, 0, take);
  pending_.erase(0, take);
  // The block ends at its first empty line.
  const bool ended = header_block_.compare(0, 2, "\r\n") == 0 ||
                     header_block_.find("\r\n\r\n", header_scanned_ > 3 ? header_scanned_ - 3
                                                                        : 0) != std::string::npos;
  header_scanned_ = header_block_.size();
  if (!ended && !at_end && header_block_.size() < cap) return false;
  MultipartHeaders h;
  size_t pos = 0;
  MultipartStatus status = ReadMultipartHeaders(header_block_, pos, h);
  if (status == MultipartStatus::Ok && !h.has_disposition) status = MultipartStatus::NoPartName;
  if (status != MultipartStatus::Ok) {
    Fail(status);
    return false;
  }
  // What followed the block is the part's first bytes.
  pending_.insert(0, header_block_, pos, std::string::npos);
  header_block_.clear();
  parts_.push_back(StreamedPart{std::move(h), 0});
  sink_ = sink_for_ ? sink_for_(parts_.back(), parts_.size() - 1) : nullptr;
  in_part_ = true;
  state_ = State::Data;
  return true;
}

void MultipartSplitter::Give(const char* p, size_t n) {
  if (!in_part_ || n == 0) return;
  parts_.back().size += n;
  if (sink_) sink_->Append(p, n);
}

void MultipartSplitter::EndPart() {
  if (in_part_ && given_early_) {
    if (sink_) sink_->Truncate(mark_);
    parts_.back().size = mark_;
  }
  given_early_ = false;
  in_part_ = false;
  sink_ = nullptr;
}

void MultipartSplitter::Fail(MultipartStatus status) {
  status_ = status;
  state_ = State::Failed;
  pending_.clear();
  header_block_.clear();
  sink_ = nullptr;
}

}  // namespace exchange
