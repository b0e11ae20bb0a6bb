// TIEHttpClient: the HTTP client chosen by useiewc = 2.
//
// It posts its own multipart body, byte for byte as http_multipart_body.h
// lays it out, with an exact Content-Length and no "Expect:" header, and
// reads the reply into the caller's stream as it arrives. The proxy is the
// desktop session's (http_proxy, HTTP_PROXY, all_proxy; no_proxy bypasses
// it). When such a proxy is in use and the settings ask for proxy
// authentication (useprxy and prxauth), the request carries
// "Proxy-Authorization: Basic" with the settings' user and password; the
// header only ever goes to the proxy.
//
// Use: AddPart for each part, OpenRequest, Send, ReceiveToStream. Every call
// blocks; the time limits of http_timeouts.h apply. A failed step returns
// false, leaves its code in LastError (see http_errors.h) and writes
// libcurl's reason to stderr; showing it is the caller's, except that
// ReceiveToStream itself shows "msgUnreachableHost" for a reply status
// other than 200.
//
// Not thread-safe: one client is used by one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/records.h"
#include "base/stream.h"
#include "base/time_stamp.h"
#include "net/http_request_part.h"
#include "net/reply_arrival.h"
#include "net/url.h"

namespace qovra {

// Verbs of OpenRequest.
constexpr int kHttpVerbGet = 0;
constexpr int kHttpVerbPost = 1;

class TIEHttpClient {
 public:
  // progress may be null; progress_data is handed to it unchanged. The
  // proxy-authentication settings are copied from conn here. The boundary
  // is made from the local time now.
  TIEHttpClient(TProgressProc progress, void* progress_data, const TConnOpts& conn);
  // As above with the boundary made from boundary_time (tests).
  TIEHttpClient(TProgressProc progress, void* progress_data, const TConnOpts& conn,
                const TDateTimeParts& boundary_time);
  ~TIEHttpClient();
  TIEHttpClient(const TIEHttpClient&) = delete;
  TIEHttpClient& operator=(const TIEHttpClient&) = delete;

  // Queues a part. The stream is not owned and must live until Send has
  // returned. False (nothing queued) when the part has no stream or its name
  // holds a '"', a control character or nothing at all.
  [[nodiscard]] bool AddPart(const TRequestPart& part);

  // Prepares a request with verb (kHttpVerbGet, kHttpVerbPost) on url. When
  // HTTP is offline the user is asked "msgSwitchToOnline"; either answer
  // goes on. False for a URL CrackUrl refuses or an unknown verb.
  [[nodiscard]] bool OpenRequest(std::string_view url, int verb);

  // Sends the request: for a POST the queued parts as one multipart body,
  // each stream from position 0 in blocks of at most kBodyBlockSize bytes
  // (ie_http_client_body.h), reporting (content length, bytes so far) after
  // each. A stream that gives fewer
  // bytes than its size said fails the request; more are never sent.
  // REQUIRES: OpenRequest succeeded; Send is called once.
  [[nodiscard]] bool Send();

  // Reads the reply body into dest from its position, reporting (total, 0)
  // and then (total, bytes so far); total is the reply's Content-Length,
  // 8192 when it has none. True only for a complete reply with status 200.
  // Another status shows "msgUnreachableHost" naming the host; its body is
  // not kept. On failure dest is cut back to where it was. REQUIRES: Send
  // succeeded.
  [[nodiscard]] bool ReceiveToStream(TStream& dest);

  // ReceiveToStream in two steps, so that the body can be read while it
  // arrives. ReceiveHead runs the transfer until the headers of the final
  // reply are in: true when they announce a 200 reply of known length,
  // whose body may then be read through Arrival() (reply_arrival.h) as it
  // is written to dest. ReceiveRest runs the transfer to its end with
  // ReceiveToStream's outcome and messages. REQUIRES: Send succeeded;
  // ReceiveRest follows ReceiveHead; Arrival() only between them after
  // ReceiveHead returned true.
  [[nodiscard]] bool ReceiveHead(TStream& dest);
  IReplyArrival& Arrival();
  [[nodiscard]] bool ReceiveRest();

  // GET of url into dest from its position. True only for a complete reply
  // with status 200; on failure dest is cut back to where it was, so it
  // holds nothing of a failed reply. Independent of OpenRequest.
  [[nodiscard]] bool Download(std::string_view url, TStream& dest);
  // GET of url into the file file_name, written under a temporary name
  // beside it and renamed only after a complete 200 reply: on failure
  // file_name is left as it was and no partial file remains.
  [[nodiscard]] bool DownloadToFile(std::string_view url, const std::string& file_name);

  // The code of the last failure (0 none) and its text for the user
  // (HttpFailureMessage: the language file's text for its kind).
  int LastError() const;
  std::string LastErrorText() const;

  const std::string& Boundary() const;
  // The Content-Length of the last POST sent.
  int64_t ContentLength() const;

 private:
  struct Impl;
  // One GET; transfer stores the body (into a stream or a file).
  template <class Transfer>
  bool DownloadWith(std::string_view url, Transfer&& transfer);

  std::unique_ptr<Impl> impl_;
};

}  // namespace qovra
