#include "net/http_multipart_body.h"

#include <algorithm>
#include <ctime>

namespace qovra {

namespace {

void AppendDigits(std::string& out, int value, int width) {
  std::string digits(static_cast<size_t>(width), '0');
  unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
  for (int i = width - 1; i >= 0; --i) {
    digits[static_cast<size_t>(i)] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  out += digits;
}

}  // namespace

std::string MultipartBoundary(const TDateTimeParts& t) {
  std::string b(12, '-');
  AppendDigits(b, t.year % 100, 2);
  AppendDigits(b, t.month, 2);
  AppendDigits(b, t.day, 2);
  AppendDigits(b, t.hour, 2);
  AppendDigits(b, t.minute, 2);
  AppendDigits(b, t.second, 2);
  AppendDigits(b, t.millisecond, 3);
  return b;
}

TDateTimeParts LocalTimeNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  return TDateTimeParts{tm.tm_year + 1900,
                        tm.tm_mon + 1,
                        tm.tm_mday,
                        tm.tm_hour,
                        tm.tm_min,
                        tm.tm_sec,
                        static_cast<int>(ts.tv_nsec / 1000000)};
}

std::string MultipartPartHeader(std::string_view boundary, size_t index, std::string_view name) {
  std::string h;
  if (index > 0) h += "\r\n";
  h += "--";
  h += boundary;
  h += "\r\n";
  h += "Content-Disposition: form-data; name=\"";
  h += name;
  h += "\"; filename=\"-\"\r\n";
  h += "Content-Type: ";
  h += kPartContentType;
  h += "\r\n\r\n";
  return h;
}

std::string MultipartClosingText(std::string_view boundary) {
  return "\r\n--" + std::string(boundary) + "--";
}

std::string MultipartContentType(std::string_view boundary) {
  return "multipart/form-data; boundary=" + std::string(boundary);
}

bool ValidPartName(std::string_view name) {
  if (name.empty()) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

}  // namespace qovra
