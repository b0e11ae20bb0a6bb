#include "http_head.h"

#include <algorithm>

namespace exchange {

namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseDecimalSize(std::string_view s, uint64_t& out) {
  if (s.empty() || s.size() > 19) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

bool ParseHexSize(std::string_view s, uint64_t& out) {
  s = Trim(s.substr(0, s.find(';')));
  if (s.empty() || s.size() > 15) return false;
  out = 0;
  for (char c : s) {
    int v = 0;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (Lower(c) >= 'a' && Lower(c) <= 'f')
      v = Lower(c) - 'a' + 10;
    else
      return false;
    out = out * 16 + static_cast<uint64_t>(v);
  }
  return true;
}

int ParseHead(std::string_view text, RequestHead& h) {
  size_t eol = text.find("\r\n");
  const std::string_view line = text.substr(0, eol);
  const size_t sp1 = line.find(' ');
  const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos) return 400;
  h.method = std::string(line.substr(0, sp1));
  std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = line.substr(sp2 + 1);
  if (h.method.empty() || target.empty() || target.front() != '/' ||
      version.substr(0, 7) != "HTTP/1.")
    return 400;
  h.path = std::string(target.substr(0, target.find('?')));
  h.keep_alive = version == "HTTP/1.1";
  bool have_length = false, have_te = false;
  while (eol != std::string_view::npos && eol + 2 < text.size()) {
    const size_t start = eol + 2;
    eol = text.find("\r\n", start);
    const std::string_view header = text.substr(start, eol - start);
    if (header.empty()) break;
    const size_t colon = header.find(':');
    if (colon == std::string_view::npos || colon == 0) return 400;
    const std::string_view name = header.substr(0, colon);
    if (name.find_first_of(" \t") != std::string_view::npos) return 400;
    const std::string_view value = Trim(header.substr(colon + 1));
    if (EqualNoCase(name, "Content-Length")) {
      uint64_t n = 0;
      if (!ParseDecimalSize(value, n) || (have_length && n != h.content_length)) return 400;
      h.content_length = n;
      have_length = true;
    } else if (EqualNoCase(name, "Transfer-Encoding")) {
      if (!EqualNoCase(value, "chunked") || have_te) return 501;
      h.chunked = have_te = true;
    } else if (EqualNoCase(name, "Content-Type")) {
      h.content_type = std::string(value);
    } else if (EqualNoCase(name, "Connection")) {
      if (EqualNoCase(value, "close")) h.keep_alive = false;
      if (EqualNoCase(value, "keep-alive")) h.keep_alive = true;
    } else if (EqualNoCase(name, "Expect")) {
      h.expect_continue = EqualNoCase(value, "100-continue");
    }
  }
  // Both framings at once is how requests are smuggled.
  if (have_length && have_te) return 400;
  return 0;
}

}  // namespace exchange
