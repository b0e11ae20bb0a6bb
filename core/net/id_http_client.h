// TIdHttpClient: the HTTP client chosen by useiewc 0 and 1.
//
// It posts the parts as multipart form data laid out by libcurl (its own
// boundary; each part named by the part's name, with the file name
// "abc.xyz" and the type "qovra/enc-data"). The proxy is the one of the
// settings (useprxy, prxaddr, prxport, and with prxauth the user and
// password as Basic proxy credentials); the environment's proxy variables
// play no part.
//
// Every call blocks; the time limits of http_timeouts.h apply. A failed call
// returns false, keeps its text for GetLastErrorText and writes libcurl's
// reason to stderr. Progress: at the start of each direction (total, 0),
// then (total, bytes so far).
//
// Not thread-safe: one client is used by one thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/records.h"
#include "base/stream.h"
#include "net/http_request_part.h"
#include "net/reply_arrival.h"

namespace qovra {

class TIdHttpClient {
 public:
  // progress may be null; progress_data is handed to it unchanged. The
  // proxy settings are copied from conn here.
  TIdHttpClient(TProgressProc progress, void* progress_data, const TConnOpts& conn);
  ~TIdHttpClient();
  TIdHttpClient(const TIdHttpClient&) = delete;
  TIdHttpClient& operator=(const TIdHttpClient&) = delete;

  // Adds a form field for the part. The stream is not owned and must live
  // until the last Post has returned. False (nothing added) when the part
  // has no stream or its name holds a '"', a control character or nothing.
  [[nodiscard]] bool AddPart(const TRequestPart& part);

  // Posts the fields to url, each stream whole from position 0, and writes
  // the reply body into dest from its position. True only for a complete
  // reply with status 200; on failure dest is cut back to where it was.
  [[nodiscard]] bool Post(std::string_view url, TStream& dest);

  // Post in two steps, so that the reply's body can be read while it
  // arrives. PostHead sends the fields and runs the transfer until the
  // reply's headers are in: true when they announce a 200 reply of known
  // length, whose body may then be read through Arrival() (reply_arrival.h)
  // as it is written to dest. PostRest runs the transfer to its end and
  // gives Post's outcome (a failure of PostHead included).
  // REQUIRES: PostRest follows every PostHead; Arrival() only between them
  // after PostHead returned true.
  [[nodiscard]] bool PostHead(std::string_view url, TStream& dest);
  IReplyArrival& Arrival();
  [[nodiscard]] bool PostRest();

  // GET of url into dest, with the same outcome rules as Post.
  [[nodiscard]] bool Download(std::string_view url, TStream& dest);
  // GET of url into the file file_name, written under a temporary name
  // beside it and renamed only after a complete 200 reply: on failure
  // file_name is left as it was and no partial file remains.
  [[nodiscard]] bool DownloadToFile(std::string_view url, const std::string& file_name);

  // The text of the last failure for the user (HttpFailureMessage: the
  // language file's text for its kind). Empty before any failure.
  const std::string& GetLastErrorText() const;

 private:
  struct Impl;
  struct PostState;
  // One GET; transfer stores the body (into a stream or a file).
  template <class Transfer>
  bool DownloadWith(std::string_view url, Transfer&& transfer);

  std::unique_ptr<Impl> impl_;
  std::unique_ptr<PostState> post_;
};

}  // namespace qovra
