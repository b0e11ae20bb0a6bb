#include "net/http_transfer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "net/http_curl.h"
#include "net/http_errors.h"
#include "platform/temp_files.h"

namespace qovra::http_detail {

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = s[i];
    char b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

std::string_view TrimLine(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) {
    s.remove_suffix(1);
  }
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

struct TransferState {
  THeaderTracker headers;
  const TSink* sink = nullptr;
  TReceiveProgress progress;
  int64_t total = 0;
  int64_t received = 0;
  bool sink_failed = false;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* st = static_cast<TransferState*>(user);
  const size_t n = size * count;
  const bool was_done = st->headers.Done();
  st->headers.OnHeaderLine(std::string_view(data, n));
  if (!was_done && st->headers.Done() && st->headers.Status() == 200) {
    const int64_t length = st->headers.ContentLength();
    st->total = length > 0 ? length : 8192;
    ReportProgress(st->progress.Proc, st->progress.Data, st->total, 0);
  }
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* st = static_cast<TransferState*>(user);
  const size_t n = size * count;
  if (st->headers.Status() != 200) return n;  // dropped
  if (!(*st->sink)(data, n)) {
    st->sink_failed = true;
    return 0;
  }
  st->received += static_cast<int64_t>(n);
  ReportProgress(st->progress.Proc, st->progress.Data, st->total, st->received);
  return n;
}

}  // namespace

void THeaderTracker::OnHeaderLine(std::string_view line) {
  const std::string_view text = TrimLine(line);
  if (StartsWithNoCase(text, "HTTP/")) {
    status_line_ = std::string(text);
    status_ = 0;
    content_length_ = -1;
    done_ = false;
    const size_t space = text.find(' ');
    if (space != std::string_view::npos) {
      long code = 0;
      size_t i = space + 1;
      size_t digits = 0;
      for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3; ++i, ++digits) {
        code = code * 10 + (text[i] - '0');
      }
      if (digits == 3) status_ = code;
    }
    return;
  }
  if (text.empty()) {
    // The end of a header block; an interim 1xx reply is followed by another.
    if (status_ >= 200) done_ = true;
    return;
  }
  if (StartsWithNoCase(text, "content-length:")) {
    const std::string_view value = TrimLine(text.substr(15));
    int64_t v = 0;
    bool ok = !value.empty() && value.size() <= 18;
    for (char c : value) {
      if (c < '0' || c > '9') {
        ok = false;
        break;
      }
      v = v * 10 + (c - '0');
    }
    content_length_ = ok ? v : -1;
  }
}

bool PerformTransfer(CURL* easy, const char* error_buffer, const TSink& sink,
                     const TReceiveProgress& progress, TTransferResult& result) {
  TransferState st;
  st.sink = &sink;
  st.progress = progress;
  result = TTransferResult();
  bool ok = curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERDATA, &st) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, &st) == CURLE_OK;
  if (!ok) {
    result.Error = CURLE_FAILED_INIT;
    return false;
  }
  const CURLcode code = curl_easy_perform(easy);
  // The callbacks point at this frame; never leave them behind.
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, nullptr);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
  result.Status = st.headers.Status();
  result.StatusLine = st.headers.StatusLine();
  if (st.sink_failed) {
    result.Error = kHttpErrorStream;
    result.Detail = "the received data could not be stored";
    return false;
  }
  if (code != CURLE_OK) {
    result.Error = code;
    result.Detail = ErrorDetail(error_buffer);
    return false;
  }
  if (result.Status != 200) {
    result.Error = kHttpErrorStatus;
    result.Detail = result.StatusLine.empty() ? "no HTTP status line" : result.StatusLine;
    return false;
  }
  return true;
}

struct TCurlPump::State {
  CURL* easy = nullptr;
  const char* error_buffer = nullptr;
  TStream* dest = nullptr;
  int64_t start = 0;  // dest's position at the start
  TSink sink;
  TransferState transfer;
  CURLM* multi = nullptr;
  bool attached = false;
  bool started = false;
  bool done = false;
  bool drive_failed = false;  // the multi interface itself failed
  CURLcode code = CURLE_OK;
};

TCurlPump::TCurlPump(CURL* easy, const char* error_buffer, TStream& dest,
                     const TReceiveProgress& progress)
    : st_(std::make_unique<State>()) {
  State& s = *st_;
  s.easy = easy;
  s.error_buffer = error_buffer;
  s.dest = &dest;
  s.start = dest.Position();
  s.sink = [&dest](const char* data, size_t size) { return dest.WriteBuffer(data, size); };
  s.transfer.sink = &s.sink;
  s.transfer.progress = progress;
}

TCurlPump::~TCurlPump() {
  State& s = *st_;
  if (s.attached) curl_multi_remove_handle(s.multi, s.easy);
  if (s.multi) curl_multi_cleanup(s.multi);
  // The callbacks point at this pump; never leave them behind.
  curl_easy_setopt(s.easy, CURLOPT_HEADERDATA, nullptr);
  curl_easy_setopt(s.easy, CURLOPT_WRITEDATA, nullptr);
}

template <class Stop>
void TCurlPump::Drive(Stop stop) {
  State& s = *st_;
  if (!s.started) {
    s.started = true;
    s.multi = curl_multi_init();
    bool ok = s.multi != nullptr;
    ok = ok && curl_easy_setopt(s.easy, CURLOPT_HEADERFUNCTION, &OnHeader) == CURLE_OK;
    ok = ok && curl_easy_setopt(s.easy, CURLOPT_HEADERDATA, &s.transfer) == CURLE_OK;
    ok = ok && curl_easy_setopt(s.easy, CURLOPT_WRITEFUNCTION, &OnBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(s.easy, CURLOPT_WRITEDATA, &s.transfer) == CURLE_OK;
    ok = ok && curl_multi_add_handle(s.multi, s.easy) == CURLM_OK;
    s.attached = ok;
    if (!ok) {
      s.done = true;
      s.drive_failed = true;
      s.code = CURLE_FAILED_INIT;
    }
  }
  while (!s.done && !stop()) {
    Step();
    if (s.done || stop()) break;
    if (curl_multi_poll(s.multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
      s.done = true;
      s.drive_failed = true;
    }
  }
}

void TCurlPump::Step() {
  State& s = *st_;
  int running = 0;
  if (curl_multi_perform(s.multi, &running) != CURLM_OK) {
    s.done = true;
    s.drive_failed = true;
    return;
  }
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(s.multi, &left)) {
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == s.easy) {
      s.done = true;
      s.code = msg->data.result;
    }
  }
}

bool TCurlPump::Head() {
  Drive([this] { return st_->transfer.headers.Done(); });
  const TransferState& t = st_->transfer;
  return !Failed() && t.headers.Done() && t.headers.Status() == 200 &&
         t.headers.ContentLength() >= 0;
}

bool TCurlPump::Await(int64_t end) {
  State& s = *st_;
  Drive([&s, end] { return s.transfer.received >= end; });
  // Whatever has come meanwhile is taken too, so that the server never
  // waits on a reader busy with what it has.
  for (int64_t before = -1; !s.done && s.transfer.received != before;) {
    before = s.transfer.received;
    Step();
  }
  return s.transfer.received >= end;
}

bool TCurlPump::Failed() const {
  const State& s = *st_;
  return s.done && (s.drive_failed || s.code != CURLE_OK || s.transfer.sink_failed ||
                    s.transfer.headers.Status() != 200);
}

int64_t TCurlPump::Length() const {
  return st_->transfer.headers.ContentLength();
}

bool TCurlPump::Finish(TTransferResult& result) {
  Drive([] { return false; });
  State& s = *st_;
  result = TTransferResult();
  result.Status = s.transfer.headers.Status();
  result.StatusLine = s.transfer.headers.StatusLine();
  bool ok = false;
  if (s.drive_failed) {
    result.Error = CURLE_FAILED_INIT;
    result.Detail = "the transfer could not be driven";
  } else if (s.transfer.sink_failed) {
    result.Error = kHttpErrorStream;
    result.Detail = "the received data could not be stored";
  } else if (s.code != CURLE_OK) {
    result.Error = s.code;
    result.Detail = ErrorDetail(s.error_buffer);
  } else if (result.Status != 200) {
    result.Error = kHttpErrorStatus;
    result.Detail = result.StatusLine.empty() ? "no HTTP status line" : result.StatusLine;
  } else {
    ok = true;
  }
  if (!ok && s.start >= 0) {
    (void)s.dest->SetSize(s.start);
    s.dest->Seek(s.start, SeekOrigin::Beginning);
  }
  return ok;
}

bool TransferToStream(CURL* easy, const char* error_buffer, TStream& dest,
                      const TReceiveProgress& progress, TTransferResult& result) {
  const int64_t start = dest.Position();
  const TSink sink = [&dest](const char* data, size_t size) {
    return dest.WriteBuffer(data, size);
  };
  if (PerformTransfer(easy, error_buffer, sink, progress, result)) return true;
  if (start >= 0) {
    (void)dest.SetSize(start);
    dest.Seek(start, SeekOrigin::Beginning);
  }
  return false;
}

bool TransferToFile(CURL* easy, const char* error_buffer, const std::string& file_name,
                    const TReceiveProgress& progress, TTransferResult& result) {
  result = TTransferResult();
  const size_t slash = file_name.rfind('/');
  const std::string folder = slash == std::string::npos ? "./" : file_name.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? file_name : file_name.substr(slash + 1);
  std::string temp_name;
  const int fd = CreateUniqueFile(folder, "." + base + ".", ".part", temp_name);
  if (fd < 0) {
    result.Error = kHttpErrorStream;
    result.Detail = "cannot create a file in " + folder;
    return false;
  }
  const TSink sink = [fd](const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  };
  bool ok = PerformTransfer(easy, error_buffer, sink, progress, result);
  if (::close(fd) != 0 && ok) {
    ok = false;
    result.Error = kHttpErrorStream;
    result.Detail = "the received data could not be stored";
  }
  if (ok && std::rename(temp_name.c_str(), file_name.c_str()) != 0) {
    ok = false;
    result.Error = kHttpErrorStream;
    result.Detail = "cannot rename the received file to " + file_name;
  }
  if (!ok) ::unlink(temp_name.c_str());
  return ok;
}

}  // namespace qovra::http_detail
