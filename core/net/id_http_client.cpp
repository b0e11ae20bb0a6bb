#include "net/id_http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "net/http_curl.h"
#include "net/http_errors.h"
#include "net/http_multipart_body.h"
#include "net/http_transfer.h"
#include "net/url.h"

namespace qovra {

using http_detail::CurlEasy;
using http_detail::CurlHeaderList;

namespace {

constexpr const char* kPartFileName = "abc.xyz";

struct MimeDeleter {
  void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};

// One field's data, read by libcurl through the callbacks below.
struct FieldSource {
  TStream* stream = nullptr;
  int64_t size = 0;
  int64_t pos = 0;
  bool failed = false;
};

size_t ReadField(char* buffer, size_t size, size_t count, void* user) {
  auto* f = static_cast<FieldSource*>(user);
  const int64_t left = f->size - f->pos;
  if (left <= 0) return 0;
  const size_t want =
      static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(size * count)));
  const size_t got = f->stream->Read(buffer, want);
  if (got == 0) {
    f->failed = true;  // the stream ended before its size
    return CURL_READFUNC_ABORT;
  }
  f->pos += static_cast<int64_t>(got);
  return got;
}

int SeekField(void* user, curl_off_t offset, int origin) {
  auto* f = static_cast<FieldSource*>(user);
  if (origin != SEEK_SET || offset < 0 || offset > f->size) return CURL_SEEKFUNC_CANTSEEK;
  if (!f->stream->SetPosition(offset)) return CURL_SEEKFUNC_FAIL;
  f->pos = offset;
  return CURL_SEEKFUNC_OK;
}

// Reports (total, 0) when a direction starts and (total, done) as it moves.
struct XferProgress {
  TProgressProc proc = nullptr;
  void* data = nullptr;
  int phase = 0;  // 0 nothing yet, 1 sending, 2 receiving
  int64_t last = -1;
};

int OnXferInfo(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
               curl_off_t ulnow) {
  auto* p = static_cast<XferProgress*>(user);
  if (p->phase == 0 && ultotal > 0) {
    p->phase = 1;
    p->last = 0;
    ReportProgress(p->proc, p->data, ultotal, 0);
  }
  if (p->phase == 1 && ulnow != p->last) {
    p->last = ulnow;
    ReportProgress(p->proc, p->data, ultotal, ulnow);
  }
  if (p->phase < 2 && (dltotal > 0 || dlnow > 0)) {
    p->phase = 2;
    p->last = 0;
    ReportProgress(p->proc, p->data, dltotal, 0);
  }
  if (p->phase == 2 && dlnow != p->last) {
    p->last = dlnow;
    ReportProgress(p->proc, p->data, dltotal, dlnow);
  }
  return 0;
}

}  // namespace

struct TIdHttpClient::Impl {
  struct Field {
    std::string name;
    TStream* stream = nullptr;
  };

  TProgressProc progress = nullptr;
  void* progress_data = nullptr;
  TConnOpts conn;
  std::vector<Field> fields;
  // Where the last request went: the server's host and the proxy on the way.
  std::string host;
  std::string proxy_host;
  std::string last_error_text;

  // Keeps the text of the failure for the user and writes its reason to
  // the log.
  void Fail(int code, std::string detail, long status = 0) {
    THttpFailure failure;
    failure.Code = code;
    failure.Status = status;
    failure.Host = host;
    failure.ProxyHost = proxy_host;
    failure.Detail = std::move(detail);
    LogHttpFailure(failure);
    last_error_text = HttpFailureMessage(failure);
  }

  // A handle with the shared options, the settings' proxy and progress.
  CurlEasy NewHandle(std::string_view url, char* error_buffer, XferProgress& xfer) {
    const http_detail::TProxyChoice proxy = http_detail::SettingsProxy(conn);
    TUrlParts parts;
    host = CrackUrl(url, parts) ? parts.HostName : std::string();
    proxy_host = http_detail::ProxyHostFor(proxy, host);
    CurlEasy easy = http_detail::NewCurlEasy();
    if (!easy) return easy;
    CURL* e = easy.get();
    const std::string url_text(url);
    bool ok = http_detail::SetCommonOptions(e, error_buffer);
    ok = ok && curl_easy_setopt(e, CURLOPT_URL, url_text.c_str()) == CURLE_OK;
    ok = ok && http_detail::SetProxy(e, proxy);
    if (ok && !proxy.Host.empty() && conn.prxauth) {
      // The proxy credentials go out as their Windows-1251 bytes.
      const std::string user = http_detail::ProxyUserBytes(conn);
      const std::string pass = http_detail::ProxyPasswordBytes(conn);
      ok = curl_easy_setopt(e, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, user.c_str()) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, pass.c_str()) == CURLE_OK;
    }
    xfer.proc = progress;
    xfer.data = progress_data;
    ok = ok && curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &OnXferInfo) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_XFERINFODATA, &xfer) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!ok) easy.reset();
    return easy;
  }

  void TakeFailure(const http_detail::TTransferResult& r) { Fail(r.Error, r.Detail, r.Status); }
};

TIdHttpClient::TIdHttpClient(TProgressProc progress, void* progress_data, const TConnOpts& conn)
    : impl_(std::make_unique<Impl>()) {
  impl_->progress = progress;
  impl_->progress_data = progress_data;
  impl_->conn = conn;
}

bool TIdHttpClient::AddPart(const TRequestPart& part) {
  const std::string name = part.NameText();
  if (!part.Data || !ValidPartName(name)) return false;
  impl_->fields.push_back({name, part.Data});
  return true;
}

// One post under way: everything its handle points at, declared before
// the handle and so outliving it.
struct TIdHttpClient::PostState {
  std::vector<FieldSource> sources;
  CurlHeaderList headers;
  std::unique_ptr<curl_mime, MimeDeleter> mime;
  char error_buffer[CURL_ERROR_SIZE] = {};
  XferProgress xfer;
  CurlEasy easy;
  std::unique_ptr<http_detail::TCurlPump> pump;
  bool set_up = false;  // false: the failure is kept already
};

TIdHttpClient::~TIdHttpClient() = default;

bool TIdHttpClient::PostHead(std::string_view url, TStream& dest) {
  Impl& m = *impl_;
  post_ = std::make_unique<PostState>();
  PostState& p = *post_;
  p.sources.resize(m.fields.size());
  p.easy = m.NewHandle(url, p.error_buffer, p.xfer);
  if (p.easy) p.mime.reset(curl_mime_init(p.easy.get()));
  if (!p.easy || !p.mime) {
    m.Fail(CURLE_FAILED_INIT, "");
    return false;
  }
  bool ok = true;
  for (size_t i = 0; i < m.fields.size() && ok; ++i) {
    FieldSource& src = p.sources[i];
    src.stream = m.fields[i].stream;
    src.size = src.stream->Size();
    if (src.size < 0 || !src.stream->SetPosition(0)) {
      m.Fail(kHttpErrorStream, "a part's stream cannot be read");
      return false;
    }
    curl_mimepart* part = curl_mime_addpart(p.mime.get());
    ok = part && curl_mime_name(part, m.fields[i].name.c_str()) == CURLE_OK &&
         curl_mime_filename(part, kPartFileName) == CURLE_OK &&
         curl_mime_type(part, std::string(kPartContentType).c_str()) == CURLE_OK &&
         curl_mime_data_cb(part, src.size, &ReadField, &SeekField, nullptr, &src) == CURLE_OK;
  }
  ok = ok && p.headers.Append("Expect:");
  ok = ok && curl_easy_setopt(p.easy.get(), CURLOPT_HTTPHEADER, p.headers.get()) == CURLE_OK;
  ok = ok && curl_easy_setopt(p.easy.get(), CURLOPT_MIMEPOST, p.mime.get()) == CURLE_OK;
  if (!ok) {
    m.Fail(CURLE_FAILED_INIT, "");
    return false;
  }
  p.set_up = true;
  p.pump = std::make_unique<http_detail::TCurlPump>(p.easy.get(), p.error_buffer, dest,
                                                    http_detail::TReceiveProgress{});
  return p.pump->Head();
}

IReplyArrival& TIdHttpClient::Arrival() {
  return *post_->pump;
}

bool TIdHttpClient::PostRest() {
  if (!post_ || !post_->set_up) return false;  // the failure is kept
  PostState& p = *post_;
  http_detail::TTransferResult r;
  const bool ok = p.pump->Finish(r);
  if (!ok) {
    if (std::any_of(p.sources.begin(), p.sources.end(),
                    [](const FieldSource& s) { return s.failed; })) {
      r.Error = kHttpErrorStream;
      r.Detail = "a part's stream gave fewer bytes than its size";
    }
    impl_->TakeFailure(r);
  }
  post_.reset();
  return ok;
}

bool TIdHttpClient::Post(std::string_view url, TStream& dest) {
  (void)PostHead(url, dest);
  return PostRest();
}

// One GET with the settings' proxy; transfer stores the body (into a stream
// or a file) and fills the result. The body's progress is reported after
// every block received, as the other client does (libcurl's own progress
// calls come a few times a second at most).
template <class Transfer>
bool TIdHttpClient::DownloadWith(std::string_view url, Transfer&& transfer) {
  Impl& impl = *impl_;
  char error_buffer[CURL_ERROR_SIZE] = {};
  XferProgress xfer;
  CurlEasy easy = impl.NewHandle(url, error_buffer, xfer);
  if (!easy || curl_easy_setopt(easy.get(), CURLOPT_HTTPGET, 1L) != CURLE_OK) {
    impl.Fail(CURLE_FAILED_INIT, "");
    return false;
  }
  xfer.proc = nullptr;
  http_detail::TTransferResult r;
  const http_detail::TReceiveProgress progress{impl.progress, impl.progress_data};
  if (transfer(easy.get(), error_buffer, progress, r)) return true;
  impl.TakeFailure(r);
  return false;
}

bool TIdHttpClient::Download(std::string_view url, TStream& dest) {
  return DownloadWith(url, [&](CURL* e, const char* err, const auto& progress, auto& r) {
    return http_detail::TransferToStream(e, err, dest, progress, r);
  });
}

bool TIdHttpClient::DownloadToFile(std::string_view url, const std::string& file_name) {
  return DownloadWith(url, [&](CURL* e, const char* err, const auto& progress, auto& r) {
    return http_detail::TransferToFile(e, err, file_name, progress, r);
  });
}

const std::string& TIdHttpClient::GetLastErrorText() const {
  return impl_->last_error_text;
}

}  // namespace qovra
