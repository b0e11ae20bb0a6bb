#include "sign_container.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>

#include "request_xml.h"

namespace exchange {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kDisposition = "Content-Disposition: form-data; name=\"";
constexpr std::string_view kSizeLine = "Content-Size:";
constexpr std::string_view kTypeLine = "Content-Type: multipart/form-data; boundary=";

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A header line starting with prefix; value is the rest, trimmed.
bool TakeHeader(std::string_view& in, std::string_view prefix, std::string& value) {
  const size_t end = in.find(kCrLf);
  if (end == std::string_view::npos ||
      !EqualNoCase(in.substr(0, std::min(prefix.size(), end)), prefix))
    return false;
  value = std::string(Trim(in.substr(prefix.size(), end - prefix.size())));
  in.remove_prefix(end + kCrLf.size());
  return true;
}

bool Inflate(std::string_view in, std::string& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  char buf[8192];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    out.append(buf, sizeof buf - z.avail_out);
    if (out.size() > kMaxSignContainer) rc = Z_MEM_ERROR;
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) rc = Z_DATA_ERROR;  // truncated
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

// One section after its opening delimiter line: name, size, data.
bool TakeSection(std::string_view& in, std::string& name, std::string& data) {
  if (in.substr(0, kDisposition.size()) != kDisposition) return false;
  in.remove_prefix(kDisposition.size());
  const size_t quote = in.find('"');
  const size_t eol = in.find(kCrLf);
  if (quote == std::string_view::npos || eol == std::string_view::npos || quote > eol) return false;
  name = std::string(in.substr(0, quote));
  in.remove_prefix(eol + kCrLf.size());
  std::string size_text;
  if (!TakeHeader(in, kSizeLine, size_text)) return false;
  int64_t size = 0;
  if (!ParseDecimal(size_text, size) || size < 0) return false;
  if (in.substr(0, kCrLf.size()) != kCrLf) return false;
  in.remove_prefix(kCrLf.size());
  if (static_cast<uint64_t>(size) > in.size()) return false;
  data = std::string(in.substr(0, static_cast<size_t>(size)));
  in.remove_prefix(static_cast<size_t>(size));
  return true;
}

}  // namespace

bool ParseSignContainer(std::string_view bytes, SignContainer& out) {
  out = SignContainer{};
  if (bytes.size() > kMaxSignContainer) return false;
  std::string inflated;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x78 &&
      static_cast<unsigned char>(bytes[1]) == 0xDA) {
    if (!Inflate(bytes, inflated)) return false;
    bytes = inflated;
  }
  std::string_view in = bytes;
  std::string boundary;
  if (!TakeHeader(in, "MailUID:", out.mail_uid) ||
      !TakeHeader(in, "SignedDate:", out.signed_date) || !TakeHeader(in, kTypeLine, boundary) ||
      boundary.empty())
    return false;
  // Every delimiter, the first one too, starts on a CR LF of its own.
  const std::string open = "--" + boundary + "\r\n";
  const std::string close = "--" + boundary + "--";
  if (in.substr(0, kCrLf.size()) != kCrLf) return false;
  in.remove_prefix(kCrLf.size());
  if (in.substr(0, open.size()) != open) return false;
  in.remove_prefix(open.size());

  std::string name, data;
  if (!TakeSection(in, name, data) || !EqualNoCase(name, "sign") || data.size() != 160)
    return false;
  out.signature = std::move(data);
  for (int index = 0;; ++index) {
    if (in.substr(0, kCrLf.size()) != kCrLf) return false;
    in.remove_prefix(kCrLf.size());
    if (in == close) return true;
    if (in.substr(0, open.size()) != open) return false;
    in.remove_prefix(open.size());
    if (!TakeSection(in, name, data)) return false;
    if (index == 0) out.certificate = std::move(data);
    if (index == 1) out.dhk = std::move(data);
  }
}

}  // namespace exchange
