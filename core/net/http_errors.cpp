#include "net/http_errors.h"

#include <curl/curl.h>

#include "base/msg_format.h"

namespace qovra {

std::string HttpErrorText(int code, std::string_view detail) {
  std::string text;
  if (code >= 0 && code < CURL_LAST) {
    text = curl_easy_strerror(static_cast<CURLcode>(code));
    while (!text.empty() && (static_cast<unsigned char>(text.back()) < '!' || text.back() == '.')) {
      text.pop_back();
    }
    if (text == "Unknown error") text.clear();
  }
  if (text.empty()) return FormatMsgArgs("Unknown error, code = %d", code);
  if (!detail.empty()) {
    text += "; Extended error info: ";
    text += detail;
  }
  return text;
}

}  // namespace qovra
