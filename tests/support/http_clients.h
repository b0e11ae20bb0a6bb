// Drives either HTTP client the same way, for tests that run one table over
// both kinds, and a scope that sets proxy variables of the environment.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/records.h"
#include "base/stream.h"
#include "net/id_http_client.h"
#include "net/ie_http_client.h"

namespace qovra_test {

enum class ClientKind { IE, Id };

inline const char* KindName(ClientKind k) {
  return k == ClientKind::IE ? "IE" : "Id";
}

struct ClientOutcome {
  bool ok = false;
  std::string error;  // the client's error text after a failure
};

// Posts parts to url; the IE client through OpenRequest, Send and
// ReceiveToStream, the Id client through Post.
inline ClientOutcome PostWith(ClientKind kind, const qovra::TConnOpts& conn, const std::string& url,
                              const std::vector<qovra::TRequestPart>& parts, qovra::TStream& reply,
                              qovra::TProgressProc progress = nullptr,
                              void* progress_data = nullptr) {
  ClientOutcome out;
  if (kind == ClientKind::IE) {
    qovra::TIEHttpClient c(progress, progress_data, conn);
    for (const auto& p : parts) {
      if (!c.AddPart(p)) return out;
    }
    out.ok = c.OpenRequest(url, qovra::kHttpVerbPost) && c.Send() && c.ReceiveToStream(reply);
    if (!out.ok) out.error = c.LastErrorText();
  } else {
    qovra::TIdHttpClient c(progress, progress_data, conn);
    for (const auto& p : parts) {
      if (!c.AddPart(p)) return out;
    }
    out.ok = c.Post(url, reply);
    if (!out.ok) out.error = c.GetLastErrorText();
  }
  return out;
}

inline ClientOutcome DownloadWith(ClientKind kind, const qovra::TConnOpts& conn,
                                  const std::string& url, qovra::TStream& dest) {
  ClientOutcome out;
  if (kind == ClientKind::IE) {
    qovra::TIEHttpClient c(nullptr, nullptr, conn);
    out.ok = c.Download(url, dest);
    if (!out.ok) out.error = c.LastErrorText();
  } else {
    qovra::TIdHttpClient c(nullptr, nullptr, conn);
    out.ok = c.Download(url, dest);
    if (!out.ok) out.error = c.GetLastErrorText();
  }
  return out;
}

inline ClientOutcome DownloadFileWith(ClientKind kind, const qovra::TConnOpts& conn,
                                      const std::string& url, const std::string& file) {
  ClientOutcome out;
  if (kind == ClientKind::IE) {
    qovra::TIEHttpClient c(nullptr, nullptr, conn);
    out.ok = c.DownloadToFile(url, file);
    if (!out.ok) out.error = c.LastErrorText();
  } else {
    qovra::TIdHttpClient c(nullptr, nullptr, conn);
    out.ok = c.DownloadToFile(url, file);
    if (!out.ok) out.error = c.GetLastErrorText();
  }
  return out;
}

inline qovra::TRequestPart MakePart(const std::string& name, qovra::TStream& data) {
  qovra::TRequestPart p;
  p.SetName(name);
  p.Data = &data;
  p.SendAsIs = true;
  return p;
}

// Sets (or with nullopt unsets) environment variables for its lifetime and
// restores them after. By default every proxy variable is unset.
class ScopedProxyEnv {
 public:
  explicit ScopedProxyEnv(const std::map<std::string, std::optional<std::string>>& values = {}) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "https_proxy",
                             "HTTPS_PROXY", "no_proxy", "NO_PROXY"}) {
      Set(name, std::nullopt);
    }
    for (const auto& [name, value] : values) Set(name, value);
  }
  ~ScopedProxyEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }
  ScopedProxyEnv(const ScopedProxyEnv&) = delete;
  ScopedProxyEnv& operator=(const ScopedProxyEnv&) = delete;

 private:
  void Set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace qovra_test
