// Running one prepared libcurl transfer into a stream or a file (private to
// the core). Only the body of a reply with status 200 is kept.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/records.h"
#include "base/stream.h"
#include "net/reply_arrival.h"

namespace qovra::http_detail {

// Follows the header lines of a reply as libcurl hands them over. A reply
// may be preceded by interim 1xx replies; each status line starts afresh.
class THeaderTracker {
 public:
  void OnHeaderLine(std::string_view line);
  // The last status line's code; 0 before one was seen.
  long Status() const { return status_; }
  // The last status line without its line break.
  const std::string& StatusLine() const { return status_line_; }
  // Content-Length of the reply; -1 when absent or not a number.
  int64_t ContentLength() const { return content_length_; }
  // True once the empty line after the headers of a final reply was seen.
  bool Done() const { return done_; }

 private:
  long status_ = 0;
  std::string status_line_;
  int64_t content_length_ = -1;
  bool done_ = false;
};

// Receives the bytes of a 200 reply body; false stops the transfer.
using TSink = std::function<bool(const char* data, size_t size)>;

// Receive progress in the manner of the operating system's client: when the
// headers of the final reply are in, (Total, 0) with Total the reply's
// Content-Length (8192 when absent or 0), then (Total, bytes so far) after
// every block.
struct TReceiveProgress {
  TProgressProc Proc = nullptr;
  void* Data = nullptr;
};

struct TTransferResult {
  int Error = 0;       // 0, a CURLcode, kHttpErrorStatus or kHttpErrorStream
  std::string Detail;  // extra words on the failure
  long Status = 0;
  std::string StatusLine;
};

// Performs the transfer prepared on easy (URL, method, proxy, options) and
// installs its own write and header callbacks. True only for a complete
// reply with status 200; otherwise result says why. Bodies of other replies
// are read and dropped.
[[nodiscard]] bool PerformTransfer(CURL* easy, const char* error_buffer, const TSink& sink,
                                   const TReceiveProgress& progress, TTransferResult& result);

// PerformTransfer in steps, so that the body can be read while it arrives
// (reply_arrival.h): the transfer runs through a multi handle of its own
// on the calling thread, only as far as the caller asks.
class TCurlPump : public IReplyArrival {
 public:
  // easy: prepared as for PerformTransfer, and must outlive the pump. The
  // body of a 200 reply goes to dest from its position.
  TCurlPump(CURL* easy, const char* error_buffer, TStream& dest, const TReceiveProgress& progress);
  ~TCurlPump() override;
  TCurlPump(const TCurlPump&) = delete;
  TCurlPump& operator=(const TCurlPump&) = delete;

  // Starts the transfer and runs it until the headers of the final reply
  // are in or it ended. True when they came with status 200 and a
  // Content-Length: the body may then be awaited.
  [[nodiscard]] bool Head();
  [[nodiscard]] bool Await(int64_t end) override;
  [[nodiscard]] bool Failed() const override;
  [[nodiscard]] int64_t Length() const override;
  // Runs the transfer to its end. The outcome of PerformTransfer; on
  // failure dest is cut back to where it stood at the start.
  [[nodiscard]] bool Finish(TTransferResult& result);

 private:
  struct State;
  // Runs until stop() holds or the transfer ended.
  template <class Stop>
  void Drive(Stop stop);
  // Moves the transfer as far as it goes without waiting.
  void Step();

  std::unique_ptr<State> st_;
};

// As PerformTransfer into dest from its position. On failure dest is cut
// back to the position it had at the call, so nothing of a failed reply is
// left in it.
[[nodiscard]] bool TransferToStream(CURL* easy, const char* error_buffer, TStream& dest,
                                    const TReceiveProgress& progress, TTransferResult& result);

// As PerformTransfer into the file file_name. The body is written to a new
// temporary file beside it and renamed over file_name only after a complete
// 200 reply; on failure the temporary file is removed and file_name is left
// as it was.
[[nodiscard]] bool TransferToFile(CURL* easy, const char* error_buffer,
                                  const std::string& file_name, const TReceiveProgress& progress,
                                  TTransferResult& result);

}  // namespace qovra::http_detail
