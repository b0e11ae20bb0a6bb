// Marker texts for the transport's message keys: each text is its key
// followed by the arguments the key is filled with, so a test reads which
// key a failure was told with and with what ("msgHttpStatus 127.0.0.1 404").
#pragma once

#include <string>

#include "base/messages.h"

namespace qovra_test {

class ScopedHttpFailureMarkers {
 public:
  ScopedHttpFailureMarkers() {
    for (const char* key : {"msgSpecifiedServerURLInvalid", "msgHttpLocalDataFailed"}) {
      qovra::SetMsg(key, key);
    }
    for (const char* key : {"msgHttpHostNotFound", "msgHttpConnectFailed", "msgHttpProxyNotFound",
                            "msgHttpProxyConnectFailed", "msgHttpProxyRefused", "msgHttpTimedOut",
                            "msgHttpTlsFailed", "msgHttpConnectionLost", "msgHttpBadReply"}) {
      qovra::SetMsg(key, std::string(key) + " %s");
    }
    qovra::SetMsg("msgHttpStatus", "msgHttpStatus %s %d");
    qovra::SetMsg("msgHttpRequestFailed", "msgHttpRequestFailed %s %d");
  }
  ~ScopedHttpFailureMarkers() { qovra::ClearMsgTable(); }
  ScopedHttpFailureMarkers(const ScopedHttpFailureMarkers&) = delete;
  ScopedHttpFailureMarkers& operator=(const ScopedHttpFailureMarkers&) = delete;
};

}  // namespace qovra_test
