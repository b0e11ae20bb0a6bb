// The multipart parser of multipart.h fed a body piece by piece as it
// arrives: for any way of cutting the body into pieces it finds the same
// parts, with the same bytes, and ends with the same status as
// ParseMultipartBody over the whole body.
//
// Each part's bytes go to a sink chosen when its headers have been read;
// the splitter itself holds no more than one part's header block and the
// few bytes that may begin a delimiter (a delimiter followed by a long run
// of padding blanks is given to the sink at once and cut off again when it
// proves to be one).
//
// Used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "multipart.h"

namespace exchange {

// Bytes of a delimiter and the padding blanks after it that the splitter
// holds before it gives them to the part (and cuts them off again).
inline constexpr size_t kMaxDelimiterHeld = 4096;

// Takes the bytes of one part.
class PartSink {
 public:
  virtual ~PartSink() = default;
  virtual void Append(const char* p, size_t n) = 0;
  // Cuts the part back to its first size bytes.
  virtual void Truncate(uint64_t size) = 0;
};

// A part as far as it has been read.
struct StreamedPart {
  MultipartHeaders headers;
  uint64_t size = 0;  // bytes given to its sink (or dropped) so far
};

class MultipartSplitter {
 public:
  // Called once for each part when its headers have been read, with
  // parts().size() - 1 as its index; returns where its bytes go, or null
  // to drop them. A sink must live until Finish has returned.
  using SinkFor = std::function<PartSink*(const StreamedPart& part, size_t index)>;

  // boundary as ParseMultipartBoundary gives it.
  MultipartSplitter(std::string_view boundary, SinkFor sink_for);

  // The next bytes of the body. After a fault they are only counted.
  void Feed(std::string_view bytes);
  // The body has ended: the status of the whole body. On Ok every part's
  // sink holds exactly its bytes; on any other status the sinks' contents
  // mean nothing. REQUIRES: called once, after the last Feed.
  [[nodiscard]] MultipartStatus Finish();

  // Every part whose headers were read, in body order.
  const std::vector<StreamedPart>& parts() const { return parts_; }

 private:
  enum class State { Start, Preamble, Delimiter, Headers, Data, Epilogue, Failed };
  enum class Seen { Close, Part, NotDelimiter, End, More };

  // Consumes pending_ as far as it can; at_end: the body has ended.
  void Run(bool at_end);
  bool StepStart(bool at_end);
  bool StepSearch(bool at_end);
  bool StepDelimiter(bool at_end);
  bool StepHeaders(bool at_end);
  // What follows the delimiter that pending_ begins with (its first held_
  // bytes are the delimiter and the blanks seen after it). held_ ends up
  // past what was read: the "--" or CR LF of Close and Part, the blanks
  // before the byte that tells NotDelimiter, More and End.
  Seen Classify(bool at_end);
  void Fail(MultipartStatus status);
  // Bytes of the current part (or of the preamble: dropped).
  void Give(const char* p, size_t n);
  void EndPart();

  std::string dash_;       // "--" boundary
  std::string delimiter_;  // CR LF "--" boundary
  SinkFor sink_for_;
  State state_ = State::Start;
  MultipartStatus status_ = MultipartStatus::Ok;
  std::string pending_;  // bytes read and not yet consumed
  size_t held_ = 0;      // State::Delimiter: pending_ bytes of the candidate
  bool blanks_ = false;  // State::Delimiter: padding followed the boundary
  // The candidate's bytes went to the sink already (a long run of
  // blanks); the part is cut back to mark_ when it is a delimiter.
  bool given_early_ = false;
  uint64_t mark_ = 0;
  bool in_part_ = false;  // State::Delimiter and State::Data: a part is open
  std::string header_block_;
  size_t header_scanned_ = 0;  // header_block_ bytes known to hold no end
  std::vector<StreamedPart> parts_;
  PartSink* sink_ = nullptr;
};

}  // namespace exchange
