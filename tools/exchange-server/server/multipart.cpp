#include "multipart.h"

#include <algorithm>

namespace exchange {

namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Parameters after the first ';' of a header value: name=token or
// name="quoted" (with backslash escapes). Calls take(name, value) for each;
// false when the text is malformed.
template <typename Take>
bool ForEachParameter(std::string_view s, Take take) {
  size_t i = s.find(';');
  if (i == std::string_view::npos) return true;
  ++i;
  while (i < s.size()) {
    while (i < s.size() && (IsBlank(s[i]) || s[i] == ';')) ++i;
    if (i >= s.size()) break;
    const size_t name_start = i;
    while (i < s.size() && s[i] != '=' && s[i] != ';') ++i;
    if (i >= s.size() || s[i] != '=') return false;
    const std::string_view name = Trim(s.substr(name_start, i - name_start));
    ++i;  // '='
    while (i < s.size() && IsBlank(s[i])) ++i;
    std::string value;
    if (i < s.size() && s[i] == '"') {
      ++i;
      bool closed = false;
      while (i < s.size()) {
        const char c = s[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < s.size()) {
          value += s[i++];
        } else {
          value += c;
        }
      }
      if (!closed) return false;
      while (i < s.size() && IsBlank(s[i])) ++i;
      if (i < s.size() && s[i] != ';') return false;
    } else {
      const size_t value_start = i;
      while (i < s.size() && s[i] != ';') ++i;
      value = std::string(Trim(s.substr(value_start, i - value_start)));
    }
    if (name.empty()) return false;
    take(name, value);
  }
  return true;
}

// The media type of a header value: the text before ';', trimmed.
std::string_view MediaType(std::string_view value) {
  return Trim(value.substr(0, value.find(';')));
}

// The body as the parser reads it: in memory.
class MemorySource {
 public:
  explicit MemorySource(std::string_view body) : body_(body) {}
  size_t size() const { return body_.size(); }
  size_t find(std::string_view needle, size_t from) const { return body_.find(needle, from); }
  std::string_view substr(size_t pos, size_t n = std::string_view::npos) const {
    return body_.substr(std::min(pos, body_.size()), n);
  }
  char operator[](size_t i) const { return body_[i]; }

 private:
  std::string_view body_;
};

// A part located in the body without copying its bytes.
struct MultipartSpan {
  std::string name;
  std::string filename;
  std::string content_type;
  uint64_t offset = 0;  // of the part's bytes in the body
  uint64_t size = 0;
};

// After "--" boundary at pos: "--" closes; blanks then CR LF open a part.
enum class After { Close, Part, NotDelimiter, End };

template <typename Source>
After ClassifyAfterDelimiter(const Source& body, size_t& pos) {
  if (body.substr(pos, 2) == "--") {
    pos += 2;
    return After::Close;
  }
  size_t i = pos;
  while (i < body.size() && IsBlank(body[i])) ++i;
  if (i >= body.size() || (i + 1 >= body.size() && body[i] == '\r')) return After::End;
  if (body.substr(i, 2) == "\r\n") {
    pos = i + 2;
    return After::Part;
  }
  return After::NotDelimiter;
}

// Reads the header block at pos up to and including its blank line.
template <typename Source>
MultipartStatus ReadPartHeaders(const Source& body, size_t& pos, MultipartHeaders& h) {
  const size_t start = pos;
  for (;;) {
    const size_t eol = body.find("\r\n", pos);
    if (eol == std::string_view::npos) {
      return body.size() - start > kMaxPartHeaderBytes ? MultipartStatus::BadHeaders
                                                       : MultipartStatus::Truncated;
    }
    if (eol + 2 - start > kMaxPartHeaderBytes) return MultipartStatus::BadHeaders;
    const auto line_bytes = body.substr(pos, eol - pos);
    const std::string_view line = line_bytes;
    pos = eol + 2;
    if (line.empty()) return MultipartStatus::Ok;
    if (IsBlank(line.front())) continue;  // folded continuation of an ignored header
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return MultipartStatus::BadHeaders;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (EqualNoCase(name, "Content-Disposition")) {
      if (!EqualNoCase(MediaType(value), "form-data")) return MultipartStatus::NoPartName;
      h.has_disposition = true;
      bool has_name = false;
      const bool ok = ForEachParameter(value, [&](std::string_view pname, const std::string& v) {
        if (EqualNoCase(pname, "name")) {
          h.name = v;
          has_name = true;
        } else if (EqualNoCase(pname, "filename")) {
          h.filename = v;
        }
      });
      if (!ok) return MultipartStatus::BadHeaders;
      if (!has_name) return MultipartStatus::NoPartName;
    } else if (EqualNoCase(name, "Content-Type")) {
      h.content_type = std::string(value);
    }
  }
}

}  // namespace

const char* MultipartStatusText(MultipartStatus status) {
  switch (status) {
    case MultipartStatus::Ok:
      return "ok";
    case MultipartStatus::NotMultipart:
      return "not multipart/form-data";
    case MultipartStatus::NoBoundary:
      return "no usable boundary";
    case MultipartStatus::NoDelimiter:
      return "no first delimiter";
    case MultipartStatus::BadHeaders:
      return "malformed part headers";
    case MultipartStatus::NoPartName:
      return "part without a form-data name";
    case MultipartStatus::Truncated:
      return "body ends before the closing delimiter";
    case MultipartStatus::TooManyParts:
      return "too many parts";
  }
  return "unknown";
}

MultipartStatus ReadMultipartHeaders(std::string_view text, size_t& pos, MultipartHeaders& h) {
  size_t at = 0;
  const MultipartStatus status = ReadPartHeaders(MemorySource(text), at, h);
  if (status == MultipartStatus::Ok) pos = at;
  return status;
}

MultipartStatus ParseMultipartBoundary(std::string_view content_type, std::string& boundary) {
  if (!EqualNoCase(MediaType(content_type), "multipart/form-data")) {
    return MultipartStatus::NotMultipart;
  }
  std::string found;
  bool seen = false;
  const bool ok = ForEachParameter(content_type, [&](std::string_view name, const std::string& v) {
    if (!seen && EqualNoCase(name, "boundary")) {
      found = v;
      seen = true;
    }
  });
  if (!ok || !seen || found.empty() || found.size() > kMaxBoundaryLen || found.back() == ' ') {
    return MultipartStatus::NoBoundary;
  }
  for (char c : found) {
    if (c < 0x20 || c > 0x7E) return MultipartStatus::NoBoundary;
  }
  boundary = found;
  return MultipartStatus::Ok;
}

namespace {

template <typename Source>
MultipartStatus SplitParts(const Source& body, std::string_view boundary,
                           std::vector<MultipartSpan>& parts) {
  parts.clear();
  if (boundary.empty()) return MultipartStatus::NoBoundary;
  const std::string dash = "--" + std::string(boundary);
  const std::string delimiter = "\r\n" + dash;

  // The first delimiter: at the very start, or after a preamble line.
  size_t pos = 0;
  After after = After::NotDelimiter;
  size_t search = 0;
  if (body.substr(0, dash.size()) == dash) {
    pos = dash.size();
    after = ClassifyAfterDelimiter(body, pos);
    search = dash.size();
  }
  while (after == After::NotDelimiter) {
    const size_t found = body.find(delimiter, search);
    if (found == std::string_view::npos) return MultipartStatus::NoDelimiter;
    pos = found + delimiter.size();
    search = found + 2;
    after = ClassifyAfterDelimiter(body, pos);
  }

  std::vector<MultipartSpan> out;
  while (after == After::Part) {
    if (out.size() >= kMaxParts) return MultipartStatus::TooManyParts;
    MultipartHeaders h;
    const MultipartStatus hs = ReadPartHeaders(body, pos, h);
    if (hs != MultipartStatus::Ok) return hs;
    if (!h.has_disposition) return MultipartStatus::NoPartName;

    // The data runs to the next CR LF "--" boundary that is a real delimiter.
    const size_t data_start = pos;
    size_t search_from = pos;
    for (;;) {
      const size_t found = body.find(delimiter, search_from);
      if (found == std::string_view::npos) return MultipartStatus::Truncated;
      size_t next = found + delimiter.size();
      after = ClassifyAfterDelimiter(body, next);
      if (after == After::End) return MultipartStatus::Truncated;
      if (after != After::NotDelimiter) {
        MultipartSpan part;
        part.name = std::move(h.name);
        part.filename = std::move(h.filename);
        part.content_type = std::move(h.content_type);
        part.offset = data_start;
        part.size = found - data_start;
        out.push_back(std::move(part));
        pos = next;
        break;
      }
      search_from = found + 2;
    }
  }
  if (after != After::Close) return MultipartStatus::Truncated;
  parts = std::move(out);
  return MultipartStatus::Ok;
}

}  // namespace

MultipartStatus ParseMultipartBody(std::string_view body, std::string_view boundary,
                                   std::vector<MultipartPart>& parts) {
  parts.clear();
  std::vector<MultipartSpan> spans;
  const MultipartStatus status = SplitParts(MemorySource(body), boundary, spans);
  if (status != MultipartStatus::Ok) return status;
  for (MultipartSpan& span : spans) {
    MultipartPart part;
    part.name = std::move(span.name);
    part.filename = std::move(span.filename);
    part.content_type = std::move(span.content_type);
    part.data = std::string(body.substr(span.offset, span.size));
    parts.push_back(std::move(part));
  }
  return MultipartStatus::Ok;
}

}  // namespace exchange
