#include "net/ie_http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>

#include "base/messages.h"
#include "base/msg_format.h"
#include "net/http_curl.h"
#include "net/http_errors.h"
#include "net/http_multipart_body.h"
#include "net/http_online_state.h"
#include "net/http_transfer.h"
#include "net/ie_http_client_body.h"

namespace qovra {

using http_detail::CurlEasy;
using http_detail::CurlHeaderList;
using http_detail::THeaderTracker;

namespace {

// Reply bytes kept while the request body is still being sent.
constexpr size_t kMaxEarlyReply = size_t{1} << 20;

struct CurlMultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

}  // namespace

struct TIEHttpClient::Impl : IReplyArrival {
  explicit Impl(std::string b) : boundary(b), body(std::move(b)) {}

  TProgressProc progress = nullptr;
  void* progress_data = nullptr;
  bool proxy_auth = false;  // useprxy and prxauth
  std::string proxy_auth_line;
  std::string boundary;
  http_detail::TMultipartBodySource body;

  // The request; the multi handle must go after the easy handle is removed
  // from it, so it is declared first and destroyed last.
  std::unique_ptr<CURLM, CurlMultiDeleter> multi;
  CurlHeaderList headers;
  CurlHeaderList proxy_headers;
  CurlEasy easy;
  bool attached = false;
  TUrlParts url_parts;
  int verb = kHttpVerbGet;
  char error_buffer[CURL_ERROR_SIZE] = {};

  bool send_started = false;

  // The reply.
  THeaderTracker reply_headers;
  TStream* dest = nullptr;
  int64_t receive_start = -1;  // dest's position when the reply began
  std::string early_reply;     // reply bytes that came while the body was still going out
  bool dest_failed = false;
  bool early_overflow = false;
  int64_t reply_total = 0;
  int64_t reply_read = 0;
  bool done = false;
  bool drive_failed = false;  // the multi interface failed while reading
  CURLcode result = CURLE_OK;

  // Where the request goes: the server's host and the proxy on the way.
  std::string host;
  std::string proxy_host;
  THttpFailure last_failure;

  // Keeps the failure and writes its reason to the log.
  void Fail(int code, std::string detail, long status = 0) {
    last_failure.Code = code;
    last_failure.Status = status;
    last_failure.Host = host;
    last_failure.ProxyHost = proxy_host;
    last_failure.Detail = std::move(detail);
    LogHttpFailure(last_failure);
  }

  void Detach() {
    if (attached) curl_multi_remove_handle(multi.get(), easy.get());
    attached = false;
  }

  static size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    const size_t n = self->body.Read(buffer, size * count);
    if (n == http_detail::TMultipartBodySource::kAbort) return CURL_READFUNC_ABORT;
    if (n > 0) {
      ReportProgress(self->progress, self->progress_data, self->body.ContentLength(),
                     self->body.Given());
    }
    return n;
  }

  static int OnSeek(void* user, curl_off_t offset, int origin) {
    auto* self = static_cast<Impl*>(user);
    if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
    self->body.Rewind();
    return CURL_SEEKFUNC_OK;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    const size_t n = size * count;
    const bool was_done = self->reply_headers.Done();
    self->reply_headers.OnHeaderLine(std::string_view(data, n));
    if (!was_done && self->reply_headers.Done() && self->reply_headers.Status() == 200) {
      const int64_t length = self->reply_headers.ContentLength();
      self->reply_total = length >= 0 ? length : 8192;
      if (self->reply_total != 0) {
        ReportProgress(self->progress, self->progress_data, self->reply_total, 0);
      }
    }
    return n;
  }

  static size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    const size_t n = size * count;
    if (self->reply_headers.Status() != 200) return n;  // not kept
    if (!self->dest) {
      // The server answered before the body was out. Pausing the transfer
      // would stop the upload too, so the reply is kept here, up to a limit.
      if (self->early_reply.size() + n > kMaxEarlyReply) {
        self->early_overflow = true;
        return 0;
      }
      self->early_reply.append(data, n);
      return n;
    }
    if (!self->dest->WriteBuffer(data, n)) {
      self->dest_failed = true;
      return 0;
    }
    self->reply_read += static_cast<int64_t>(n);
    ReportProgress(self->progress, self->progress_data, self->reply_total, self->reply_read);
    return n;
  }

  // Runs the transfer until stop() holds or it ends. False when the multi
  // interface failed.
  template <class Stop>
  bool Drive(Stop stop) {
    while (!done) {
      if (!Step()) return false;
      if (done || stop()) return true;
      if (curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK) return false;
    }
    return true;
  }
  // Moves the transfer as far as it goes without waiting.
  bool Step() {
    int running = 0;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return false;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy.get()) {
        done = true;
        result = msg->data.result;
      }
    }
    return true;
  }
  // Until the whole body is handed to libcurl, or the end.
  bool DriveUntilSent() {
    return Drive([this] { return verb != kHttpVerbPost || body.Finished(); });
  }

  // The reply read while it arrives (ReceiveHead).
  bool Await(int64_t end) override {
    if (!Drive([this, end] { return reply_read >= end; })) drive_failed = true;
    // Whatever has come meanwhile is taken too, so that the server never
    // waits on a reader busy with what it has.
    for (int64_t before = -1; !done && !drive_failed && reply_read != before;) {
      before = reply_read;
      if (!Step()) drive_failed = true;
    }
    return reply_read >= end;
  }
  bool Failed() const override {
    return drive_failed || (done && (result != CURLE_OK || dest_failed || early_overflow ||
                                     body.StreamFailed() || reply_headers.Status() != 200));
  }
  int64_t Length() const override { return reply_headers.ContentLength(); }

  // The failure of an ended transfer, if any, as LastError.
  bool TakeTransferResult() {
    if (body.StreamFailed()) {
      Fail(kHttpErrorStream, "a part's stream gave fewer bytes than its size");
      return false;
    }
    if (early_overflow) {
      Fail(CURLE_WEIRD_SERVER_REPLY, "the server sent a large reply before the request was out");
      return false;
    }
    if (dest_failed) {
      Fail(kHttpErrorStream, "the reply could not be stored");
      return false;
    }
    if (result != CURLE_OK) {
      Fail(result, http_detail::ErrorDetail(error_buffer));
      return false;
    }
    return true;
  }
};

TIEHttpClient::TIEHttpClient(TProgressProc progress, void* progress_data, const TConnOpts& conn)
    : TIEHttpClient(progress, progress_data, conn, LocalTimeNow()) {}

TIEHttpClient::TIEHttpClient(TProgressProc progress, void* progress_data, const TConnOpts& conn,
                             const TDateTimeParts& boundary_time)
    : impl_(std::make_unique<Impl>(MultipartBoundary(boundary_time))) {
  impl_->progress = progress;
  impl_->progress_data = progress_data;
  impl_->proxy_auth = conn.useprxy && conn.prxauth;
  if (impl_->proxy_auth) impl_->proxy_auth_line = http_detail::ProxyAuthorizationLine(conn);
}

TIEHttpClient::~TIEHttpClient() {
  impl_->Detach();
}

bool TIEHttpClient::AddPart(const TRequestPart& part) {
  const std::string name = part.NameText();
  if (!part.Data || !ValidPartName(name)) return false;
  impl_->body.AddPart(part.Data, name);
  return true;
}

bool TIEHttpClient::OpenRequest(std::string_view url, int verb) {
  Impl& m = *impl_;
  m.Detach();
  m.host.clear();
  m.proxy_host.clear();
  if (verb != kHttpVerbGet && verb != kHttpVerbPost) {
    m.Fail(CURLE_BAD_FUNCTION_ARGUMENT, "unknown verb");
    return false;
  }
  if (!CrackUrl(url, m.url_parts)) {
    m.Fail(CURLE_URL_MALFORMAT, "");
    return false;
  }
  m.verb = verb;
  m.host = m.url_parts.HostName;
  m.headers.Clear();
  m.proxy_headers.Clear();
  m.easy = http_detail::NewCurlEasy();
  m.multi.reset(m.easy ? curl_multi_init() : nullptr);
  if (!m.easy || !m.multi) {
    m.Fail(CURLE_FAILED_INIT, "");
    return false;
  }
  CURL* e = m.easy.get();
  const std::string url_text(url);
  bool ok = http_detail::SetCommonOptions(e, m.error_buffer);
  ok = ok && curl_easy_setopt(e, CURLOPT_URL, url_text.c_str()) == CURLE_OK;
  const http_detail::TProxyChoice proxy = http_detail::DesktopProxy();
  m.proxy_host = http_detail::ProxyHostFor(proxy, m.host);
  ok = ok && http_detail::SetProxy(e, proxy);
  // The header goes to a proxy only; without one it is never sent.
  if (ok && m.proxy_auth && !proxy.Host.empty()) {
    ok = m.proxy_headers.Append(m.proxy_auth_line) &&
         curl_easy_setopt(e, CURLOPT_PROXYHEADER, m.proxy_headers.get()) == CURLE_OK;
  }
  ok = ok &&
       curl_easy_setopt(e, CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE)) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::OnHeader) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_HEADERDATA, &m) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::OnWrite) == CURLE_OK;
  ok = ok && curl_easy_setopt(e, CURLOPT_WRITEDATA, &m) == CURLE_OK;
  if (!ok) {
    m.Fail(CURLE_FAILED_INIT, "");
    return false;
  }
  if (IsHttpOffline() && AskYesNo(nullptr, "msgSwitchToOnline")) SetHttpOnline();
  return true;
}

bool TIEHttpClient::Send() {
  Impl& m = *impl_;
  if (!m.easy || m.send_started) {
    m.Fail(CURLE_FAILED_INIT, "no request is open");
    return false;
  }
  m.send_started = true;
  CURL* e = m.easy.get();
  bool ok = m.headers.Append("Accept:");  // none, as the system client sends
  if (m.verb == kHttpVerbPost) {
    if (!m.body.Prepare()) {
      m.Fail(kHttpErrorStream, "a part's size is unknown");
      return false;
    }
    ok = ok && m.headers.Append("Content-Type: " + MultipartContentType(m.boundary));
    ok = ok && m.headers.Append("Expect:");
    ok = ok && curl_easy_setopt(e, CURLOPT_POST, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                                static_cast<curl_off_t>(m.body.ContentLength())) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE,
                                static_cast<long>(http_detail::kBodyBlockSize)) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_READFUNCTION, &Impl::OnRead) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_READDATA, &m) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &Impl::OnSeek) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_SEEKDATA, &m) == CURLE_OK;
  } else {
    ok = ok && curl_easy_setopt(e, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  }
  ok = ok && curl_easy_setopt(e, CURLOPT_HTTPHEADER, m.headers.get()) == CURLE_OK;
  if (!ok || curl_multi_add_handle(m.multi.get(), e) != CURLM_OK) {
    m.Fail(CURLE_FAILED_INIT, "");
    return false;
  }
  m.attached = true;
  if (!m.DriveUntilSent()) {
    m.Fail(CURLE_FAILED_INIT, "the transfer could not be driven");
    return false;
  }
  return !m.done || m.TakeTransferResult();
}

bool TIEHttpClient::ReceiveToStream(TStream& dest) {
  (void)ReceiveHead(dest);
  return ReceiveRest();
}

bool TIEHttpClient::ReceiveHead(TStream& dest) {
  Impl& m = *impl_;
  m.receive_start = -1;
  if (!m.attached) return false;
  m.dest = &dest;
  m.receive_start = dest.Position();
  if (!m.early_reply.empty()) {
    const bool kept = dest.WriteBuffer(m.early_reply.data(), m.early_reply.size());
    m.reply_read += static_cast<int64_t>(m.early_reply.size());
    m.early_reply.clear();
    if (!kept) {
      m.dest_failed = true;
      return false;
    }
    ReportProgress(m.progress, m.progress_data, m.reply_total, m.reply_read);
  }
  if (!m.Drive([&m] { return m.reply_headers.Done(); })) m.drive_failed = true;
  return !m.Failed() && m.reply_headers.Done() && m.reply_headers.Status() == 200 &&
         m.reply_headers.ContentLength() >= 0;
}

IReplyArrival& TIEHttpClient::Arrival() {
  return *impl_;
}

bool TIEHttpClient::ReceiveRest() {
  Impl& m = *impl_;
  if (!m.attached) {
    m.Fail(CURLE_FAILED_INIT, "no request was sent");
    return false;
  }
  TStream* dest = m.dest;
  const int64_t start = m.receive_start;
  // Whatever a failed reply left in dest is taken out again.
  const auto cut_back = [dest, start] {
    if (!dest || start < 0) return;
    (void)dest->SetSize(start);
    dest->Seek(start, SeekOrigin::Beginning);
  };
  const bool driven = !m.drive_failed && !m.dest_failed && m.Drive([] { return false; });
  m.dest = nullptr;
  if (!driven && !m.dest_failed) {
    m.Fail(CURLE_FAILED_INIT, "the transfer could not be driven");
    cut_back();
    return false;
  }
  if (!m.TakeTransferResult()) {
    cut_back();
    return false;
  }
  if (m.reply_headers.Status() != 200) {
    const std::string line = m.reply_headers.StatusLine();
    m.Fail(kHttpErrorStatus, line.empty() ? "no HTTP status line" : line, m.reply_headers.Status());
    ShowMessageText(nullptr, FormatMsgArgs(GetMsg("msgUnreachableHost"), m.url_parts.HostName),
                    kMsgIconWarning);
    return false;
  }
  return true;
}

namespace {

// A GET handle for Download: the user agent, limits and the desktop proxy.
CurlEasy NewDownloadHandle(std::string_view url, const http_detail::TProxyChoice& proxy,
                           char* error_buffer) {
  CurlEasy easy = http_detail::NewCurlEasy();
  if (!easy) return easy;
  const std::string url_text(url);
  bool ok = http_detail::SetCommonOptions(easy.get(), error_buffer);
  ok = ok && curl_easy_setopt(easy.get(), CURLOPT_URL, url_text.c_str()) == CURLE_OK;
  ok = ok && http_detail::SetProxy(easy.get(), proxy);
  ok = ok && curl_easy_setopt(easy.get(), CURLOPT_HTTPGET, 1L) == CURLE_OK;
  if (!ok) easy.reset();
  return easy;
}

}  // namespace

// One GET through the desktop proxy; transfer stores the body (into a
// stream or a file) and fills the result.
template <class Transfer>
bool TIEHttpClient::DownloadWith(std::string_view url, Transfer&& transfer) {
  Impl& impl = *impl_;
  TUrlParts parts;
  impl.host = CrackUrl(url, parts) ? parts.HostName : std::string();
  const http_detail::TProxyChoice proxy = http_detail::DesktopProxy();
  impl.proxy_host = http_detail::ProxyHostFor(proxy, impl.host);
  char error_buffer[CURL_ERROR_SIZE] = {};
  CurlEasy easy = NewDownloadHandle(url, proxy, error_buffer);
  if (!easy) {
    impl.Fail(CURLE_FAILED_INIT, "");
    return false;
  }
  http_detail::TTransferResult r;
  const bool ok = transfer(easy.get(), error_buffer,
                           http_detail::TReceiveProgress{impl.progress, impl.progress_data}, r);
  if (!ok) impl.Fail(r.Error, r.Detail, r.Status);
  return ok;
}

bool TIEHttpClient::Download(std::string_view url, TStream& dest) {
  return DownloadWith(url, [&](CURL* e, const char* err, const auto& progress, auto& r) {
    return http_detail::TransferToStream(e, err, dest, progress, r);
  });
}

bool TIEHttpClient::DownloadToFile(std::string_view url, const std::string& file_name) {
  return DownloadWith(url, [&](CURL* e, const char* err, const auto& progress, auto& r) {
    return http_detail::TransferToFile(e, err, file_name, progress, r);
  });
}

int TIEHttpClient::LastError() const {
  return impl_->last_failure.Code;
}

std::string TIEHttpClient::LastErrorText() const {
  return HttpFailureMessage(impl_->last_failure);
}

const std::string& TIEHttpClient::Boundary() const {
  return impl_->boundary;
}

int64_t TIEHttpClient::ContentLength() const {
  return impl_->body.ContentLength();
}

}  // namespace qovra
