// The exchange server's multipart parser on good bodies of both layouts and
// on a table of bad ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "body_range.h"
#include "multipart.h"

namespace {

using exchange::MultipartPart;
using exchange::MultipartStatus;

const std::string kB = "------------240102030405006";

std::string IePart(size_t index, const std::string& name, const std::string& data) {
  return std::string(index ? "\r\n" : "") + "--" + kB +
         "\r\nContent-Disposition: form-data; name=\"" + name +
         "\"; filename=\"-\"\r\nContent-Type: qovra/enc-data\r\n\r\n" + data;
}

std::string IeBody(const std::string& header, const std::string& content) {
  return IePart(0, "header", header) + IePart(1, "content", content) + "\r\n--" + kB + "--";
}

TEST(ExchangeMultipartBoundary, Table) {
  struct Case {
    std::string content_type;
    MultipartStatus status;
    std::string boundary;
  };
  const std::vector<Case> cases = {
      {"multipart/form-data; boundary=" + kB, MultipartStatus::Ok, kB},
      {"Multipart/Form-Data; BOUNDARY=\"a b:c\"", MultipartStatus::Ok, "a b:c"},
      {"multipart/form-data; charset=utf-8; boundary=xyz", MultipartStatus::Ok, "xyz"},
      {"multipart/form-data;boundary=xyz ", MultipartStatus::Ok, "xyz"},
      {"multipart/form-data", MultipartStatus::NoBoundary, ""},
      {"multipart/form-data; boundary=", MultipartStatus::NoBoundary, ""},
      {"multipart/form-data; boundary=\"\"", MultipartStatus::NoBoundary, ""},
      {"multipart/form-data; boundary=\"abc", MultipartStatus::NoBoundary, ""},
      {"multipart/form-data; boundary=" + std::string(71, 'b'), MultipartStatus::NoBoundary, ""},
      {"multipart/form-data; boundary=a\x01"
       "b",
       MultipartStatus::NoBoundary, ""},
      {"multipart/form-data; boundary=\"ab \"", MultipartStatus::NoBoundary, ""},
      {"multipart/form-data; =x", MultipartStatus::NoBoundary, ""},
      {"text/plain; boundary=x", MultipartStatus::NotMultipart, ""},
      {"", MultipartStatus::NotMultipart, ""},
      {"multipart/mixed; boundary=x", MultipartStatus::NotMultipart, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content_type);
    std::string boundary = "unchanged";
    EXPECT_EQ(exchange::ParseMultipartBoundary(c.content_type, boundary), c.status);
    EXPECT_EQ(boundary, c.status == MultipartStatus::Ok ? c.boundary : "unchanged");
  }
}

struct GoodCase {
  std::string name;
  std::string boundary;
  std::string body;
  std::vector<std::pair<std::string, std::string>> parts;  // name, data
};

TEST(ExchangeMultipartBody, AcceptsBothLayoutsAndAwkwardData) {
  const std::string curl_b = "------------------------d74496d66958873e";
  const std::string tricky = "a\r\nb\r\n--" + kB + "X\r\n\r\n--" + kB + " tail\r\n--\r\n\r\n";
  const std::vector<GoodCase> cases = {
      {"operating-system layout, two parts",
       kB,
       IeBody("HDR", "CONTENT"),
       {{"header", "HDR"}, {"content", "CONTENT"}}},
      {"header part only", kB, IePart(0, "header", "H") + "\r\n--" + kB + "--", {{"header", "H"}}},
      {"zero-byte content", kB, IeBody("H", ""), {{"header", "H"}, {"content", ""}}},
      {"zero-byte header", kB, IeBody("", "C"), {{"header", ""}, {"content", "C"}}},
      {"CR LF and fake delimiters in the data",
       kB,
       IeBody(tricky, tricky),
       {{"header", tricky}, {"content", tricky}}},
      {"binary data",
       kB,
       IeBody(std::string("\0\xff\r\r\n\n-", 8), std::string(1, '\0')),
       {{"header", std::string("\0\xff\r\r\n\n-", 8)}, {"content", std::string(1, '\0')}}},
      {"libcurl layout with CR LF after the close",
       curl_b,
       "--" + curl_b +
           "\r\nContent-Disposition: form-data; name=\"header\"; filename=\"abc.xyz\"\r\n"
           "Content-Type: qovra/enc-data\r\n\r\nH1\r\n--" +
           curl_b +
           "\r\nContent-Disposition: form-data; name=\"content\"; filename=\"abc.xyz\"\r\n"
           "Content-Type: qovra/enc-data\r\n\r\nC1\r\n--" +
           curl_b + "--\r\n",
       {{"header", "H1"}, {"content", "C1"}}},
      {"extra part headers, other case, no filename",
       "b",
       "--b\r\ncontent-disposition: Form-Data; name=header\r\nX-Extra: 1\r\n"
       "Content-Transfer-Encoding: binary\r\n\r\nv\r\n--b--",
       {{"header", "v"}}},
      {"preamble, padding after the delimiter and an epilogue",
       "b",
       "preamble\r\n--b  \r\nContent-Disposition: form-data; name=\"header\"\r\n\r\nv\r\n--b--"
       "\r\nepilogue",
       {{"header", "v"}}},
      {"no parts at all", "b", "--b--", {}},
  };
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<MultipartPart> parts;
    ASSERT_EQ(exchange::ParseMultipartBody(c.body, c.boundary, parts), MultipartStatus::Ok);
    ASSERT_EQ(parts.size(), c.parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].name, c.parts[i].first);
      EXPECT_TRUE(parts[i].data == c.parts[i].second) << "part " << i;
    }
  }
}

TEST(ExchangeMultipartBody, FileNameAndTypeAreKeptButNotRequired) {
  std::vector<MultipartPart> parts;
  ASSERT_EQ(exchange::ParseMultipartBody(IeBody("h", "c"), kB, parts), MultipartStatus::Ok);
  EXPECT_EQ(parts[0].filename, "-");
  EXPECT_EQ(parts[0].content_type, "qovra/enc-data");
}

struct BadCase {
  const char* name;
  std::string body;
  MultipartStatus status;
};

TEST(ExchangeMultipartBody, BadBodies) {
  const std::string cd = "Content-Disposition: form-data; name=\"header\"\r\n";
  std::string many;
  for (size_t i = 0; i <= exchange::kMaxParts; ++i) many += "--b\r\n" + cd + "\r\nx\r\n";
  many += "--b--";
  const std::vector<BadCase> cases = {
      {"empty body", "", MultipartStatus::NoDelimiter},
      {"no delimiter at all", "just some bytes", MultipartStatus::NoDelimiter},
      {"other boundary", "--c\r\n" + cd + "\r\nx\r\n--c--", MultipartStatus::NoDelimiter},
      {"delimiter then nothing", "--b", MultipartStatus::Truncated},
      {"delimiter then a lone CR", "--b\r", MultipartStatus::Truncated},
      {"headers cut off", "--b\r\n" + cd, MultipartStatus::Truncated},
      {"data without closing delimiter", "--b\r\n" + cd + "\r\nxyz", MultipartStatus::Truncated},
      {"closing delimiter cut", "--b\r\n" + cd + "\r\nxyz\r\n--b-", MultipartStatus::Truncated},
      {"ends right after a delimiter", "--b\r\n" + cd + "\r\nxyz\r\n--b",
       MultipartStatus::Truncated},
      {"no Content-Disposition", "--b\r\nContent-Type: x\r\n\r\nv\r\n--b--",
       MultipartStatus::NoPartName},
      {"not form-data", "--b\r\nContent-Disposition: attachment; name=\"h\"\r\n\r\nv\r\n--b--",
       MultipartStatus::NoPartName},
      {"no name", "--b\r\nContent-Disposition: form-data; filename=\"-\"\r\n\r\nv\r\n--b--",
       MultipartStatus::NoPartName},
      {"header line without colon", "--b\r\nbroken line\r\n\r\nv\r\n--b--",
       MultipartStatus::BadHeaders},
      {"unterminated quote", "--b\r\nContent-Disposition: form-data; name=\"h\r\n\r\nv\r\n--b--",
       MultipartStatus::BadHeaders},
      {"header block too large",
       "--b\r\n" + cd + "X: " + std::string(exchange::kMaxPartHeaderBytes, 'x') +
           "\r\n\r\nv\r\n--b--",
       MultipartStatus::BadHeaders},
      {"endless header line", "--b\r\n" + std::string(exchange::kMaxPartHeaderBytes + 10, 'x'),
       MultipartStatus::BadHeaders},
      {"garbage after the delimiter", "--bgarbage", MultipartStatus::NoDelimiter},
      {"too many parts", many, MultipartStatus::TooManyParts},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<MultipartPart> parts{MultipartPart{}};
    EXPECT_EQ(exchange::ParseMultipartBody(c.body, "b", parts), c.status)
        << exchange::MultipartStatusText(exchange::ParseMultipartBody(c.body, "b", parts));
    EXPECT_TRUE(parts.empty());
  }
}

TEST(ExchangeMultipartBody, EveryCutOfAGoodBodyIsRefused) {
  const std::string body = IeBody("header\r\nbytes", "content\r\n--x");
  std::vector<MultipartPart> parts;
  for (size_t n = 0; n < body.size(); ++n) {
    EXPECT_NE(exchange::ParseMultipartBody(body.substr(0, n), kB, parts), MultipartStatus::Ok)
        << "cut at " << n;
  }
  EXPECT_EQ(exchange::ParseMultipartBody(body, kB, parts), MultipartStatus::Ok);
}

}  // namespace

// A body streamed to a file is read through a window of kStreamChunk
// bytes: delimiters and part headers that straddle a window's edge are
// found as in memory, and every part is located exactly.
TEST(ExchangeMultipartFile, SplitsAsInMemoryAcrossWindowEdges) {
  const std::string boundary = "------------240102030405006";
  const size_t chunk = exchange::kStreamChunk;
  // The search for the content's end reads windows from the content's
  // start, each overlapping the last by the delimiter's length less one:
  // these lengths put the delimiter after the content (and, further back,
  // the third part's headers) across the first and second window edges.
  const size_t overlap = boundary.size() + 3;
  std::vector<size_t> sizes;
  for (size_t edge : {chunk, 2 * chunk - overlap})
    for (size_t back = 1; back < 130; back += 4) sizes.push_back(edge - back);
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 131 >> 2);
    std::string body = IeBody("HEADER", content);
    // A third part after the content, to cross edges with part headers too.
    body.insert(body.size() - boundary.size() - 6,
                "\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"tail\"\r\n\r\n" +
                    std::string(250, 't'));
    std::vector<MultipartPart> in_memory;
    ASSERT_EQ(exchange::ParseMultipartBody(body, boundary, in_memory), MultipartStatus::Ok);

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(body.data(), 1, body.size(), f), body.size());
    ASSERT_EQ(std::fflush(f), 0);
    std::vector<exchange::MultipartSpan> spans;
    const exchange::BodyRange range = exchange::BodyRange::File(fileno(f), 0, body.size());
    ASSERT_EQ(exchange::ParseMultipartRange(range, boundary, spans), MultipartStatus::Ok);
    ASSERT_EQ(spans.size(), in_memory.size());
    for (size_t i = 0; i < spans.size(); ++i) {
      EXPECT_EQ(spans[i].name, in_memory[i].name);
      std::string data;
      ASSERT_TRUE(range.Sub(spans[i].offset, spans[i].size).ReadAll(data, body.size()));
      EXPECT_TRUE(data == in_memory[i].data) << i;
    }
    // Cut short inside the content: truncated, as in memory.
    const exchange::BodyRange cut = range.Sub(0, body.size() / 2);
    EXPECT_EQ(exchange::ParseMultipartRange(cut, boundary, spans), MultipartStatus::Truncated);
    std::fclose(f);
  }
}
