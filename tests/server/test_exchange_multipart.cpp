// The exchange server's multipart parser on good bodies of both layouts and
// on a table of bad ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "body_range.h"
#include "multipart.h"
#include "multipart_stream.h"
#include "request_parts.h"
#include "support/scratch_dir.h"

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

// Blanks and tabs, n of them.
std::string Padding(size_t n) {
  std::string pad(n, ' ');
  for (size_t i = 0; i < n; i += 3) pad[i] = '\t';
  return pad;
}

struct GoodCase {
  std::string name;
  std::string boundary;
  std::string body;
  std::vector<std::pair<std::string, std::string>> parts;  // name, data
};

// Good bodies of both layouts and awkward data, each with its parts.
std::vector<GoodCase> GoodCases() {
  const std::string cd = "Content-Disposition: form-data; name=\"header\"\r\n";
  const std::string cd_content = "Content-Disposition: form-data; name=\"content\"\r\n";
  const std::string pad = Padding(2 * exchange::kMaxDelimiterHeld + 3);
  // Delimiters that are not ones, every few hundred bytes, in binary data.
  std::string fakes;
  for (size_t i = 0; fakes.size() < 20000; ++i) {
    fakes += std::string(300 + i % 7, static_cast<char>(i * 37));
    const char* tails[] = {"X", " x", "-", "\r", " \r-", "\r\r\n"};
    fakes += "\r\n--" + kB.substr(0, i % (kB.size() + 1)) + tails[i % 6];
  }
  const std::string curl_b = "------------------------d74496d66958873e";
  const std::string tricky = "a\r\nb\r\n--" + kB + "X\r\n\r\n--" + kB + " tail\r\n--\r\n\r\n";
  return {
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
      {"padding after a delimiter longer than the streamed parse holds",
       "b",
       "--b\r\n" + cd + "\r\nv1\r\n--b" + pad + "\r\n" + cd_content + "\r\nv2\r\n--b--",
       {{"header", "v1"}, {"content", "v2"}}},
      {"a long run of blanks after a fake delimiter",
       "b",
       "--b\r\n" + cd + "\r\nv1\r\n--b" + pad + "x\r\n--b--",
       {{"header", "v1\r\n--b" + pad + "x"}}},
      {"two hyphens after a delimiter's padding are data",
       "b",
       "--b\r\n" + cd + "\r\nv\r\n--b \t--\r\n--b--",
       {{"header", "v\r\n--b \t--"}}},
      {"long data with fake delimiters all through it",
       kB,
       IeBody("H", fakes),
       {{"header", "H"}, {"content", fakes}}},
  };
}

TEST(ExchangeMultipartBody, AcceptsBothLayoutsAndAwkwardData) {
  const std::vector<GoodCase> cases = GoodCases();
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

// Bodies with boundary "b" and what is wrong with each.
std::vector<BadCase> BadCases() {
  const std::string cd = "Content-Disposition: form-data; name=\"header\"\r\n";
  std::string many;
  for (size_t i = 0; i <= exchange::kMaxParts; ++i) many += "--b\r\n" + cd + "\r\nx\r\n";
  many += "--b--";
  return {
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
      {"padding runs to the end of the body",
       "--b\r\n" + cd + "\r\nxyz\r\n--b" + Padding(2 * exchange::kMaxDelimiterHeld),
       MultipartStatus::Truncated},
  };
}

TEST(ExchangeMultipartBody, BadBodies) {
  const std::vector<BadCase> cases = BadCases();
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

// One part's bytes as a splitter's sink keeps them.
struct MemoryPart : exchange::PartSink {
  std::string bytes;
  void Append(const char* p, size_t n) override { bytes.append(p, n); }
  void Truncate(uint64_t size) override { bytes.resize(static_cast<size_t>(size)); }
};

using NamedParts = std::vector<std::pair<std::string, std::string>>;

// Splits body fed in pieces of piece bytes; every part's name and bytes
// in parts.
MultipartStatus Streamed(const std::string& body, const std::string& boundary, size_t piece,
                         NamedParts& parts) {
  std::vector<std::unique_ptr<MemoryPart>> sinks;
  exchange::MultipartSplitter splitter(boundary, [&](const exchange::StreamedPart&, size_t index) {
    EXPECT_EQ(index, sinks.size());
    sinks.push_back(std::make_unique<MemoryPart>());
    return sinks.back().get();
  });
  for (size_t at = 0; at < body.size(); at += piece)
    splitter.Feed(std::string_view(body).substr(at, piece));
  const MultipartStatus status = splitter.Finish();
  parts.clear();
  for (size_t i = 0; i < sinks.size(); ++i) {
    parts.emplace_back(splitter.parts()[i].headers.name, sinks[i]->bytes);
    EXPECT_EQ(splitter.parts()[i].size, sinks[i]->bytes.size()) << "part " << i;
  }
  return status;
}

// Pieces of one byte up to beyond a delimiter's length (the slow and the
// quick way through the splitter, and every offset of a delimiter against
// a piece's edge), larger ones, and the whole body at once.
std::vector<size_t> PieceSizes(const std::string& boundary, size_t body_size) {
  std::vector<size_t> sizes;
  for (size_t n = 1; n <= boundary.size() + 8; ++n) sizes.push_back(n);
  for (size_t n : {size_t{64}, size_t{1000}, size_t{4099}, std::max<size_t>(body_size, 1)})
    sizes.push_back(n);
  return sizes;
}

TEST(ExchangeMultipartStream, GoodBodiesGiveTheSamePartsInPiecesOfAnySize) {
  for (const GoodCase& c : GoodCases()) {
    for (size_t piece : PieceSizes(c.boundary, c.body.size())) {
      SCOPED_TRACE(c.name + ", pieces of " + std::to_string(piece));
      NamedParts parts;
      ASSERT_EQ(Streamed(c.body, c.boundary, piece, parts), MultipartStatus::Ok);
      ASSERT_EQ(parts.size(), c.parts.size());
      for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].first, c.parts[i].first);
        EXPECT_TRUE(parts[i].second == c.parts[i].second) << "part " << i;
      }
    }
  }
}

TEST(ExchangeMultipartStream, BadBodiesEndWithTheSameFaultInPiecesOfAnySize) {
  for (const BadCase& c : BadCases()) {
    for (size_t piece : PieceSizes("b", c.body.size())) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      NamedParts parts;
      const MultipartStatus status = Streamed(c.body, "b", piece, parts);
      EXPECT_EQ(status, c.status) << exchange::MultipartStatusText(status);
    }
  }
}

TEST(ExchangeMultipartStream, EveryCutEndsAsTheWholeBodyParserSays) {
  // Fake delimiters, padding and a CR at the ends of the data, so that cuts
  // land in every state of the splitter.
  const std::string body =
      IeBody("header\r\nbytes\r", "content\r\n--" + kB + "  x\r\n--") + "\r\nepilogue";
  std::vector<MultipartPart> whole;
  for (size_t n = 0; n <= body.size(); ++n) {
    const MultipartStatus expected = exchange::ParseMultipartBody(body.substr(0, n), kB, whole);
    for (size_t piece : {size_t{1}, size_t{7}, kB.size() + 3}) {
      NamedParts parts;
      EXPECT_EQ(Streamed(body.substr(0, n), kB, piece, parts), expected)
          << "cut at " << n << ", pieces of " << piece;
    }
  }
}

}  // namespace

// A body read in pieces (as the HTTP layer reads its socket) splits as in
// memory when a delimiter or a part's headers straddle a piece's edge, and
// each kept part lands whole in a file of its own.
TEST(ExchangeRequestParts, SplitsAsInMemoryAcrossPieceEdges) {
  const std::string boundary = kB;
  const size_t piece = exchange::kStreamChunk;
  qovra::testing::ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  // These sizes put the delimiter after the content (and the third part's
  // headers after it) across the first and the second piece's edge.
  const size_t content_start =
      IePart(0, "header", "HEADER").size() + IePart(1, "content", "").size();
  std::vector<size_t> sizes;
  for (size_t edge : {piece, 2 * piece})
    for (size_t back = 1; back < 130; back += 4) sizes.push_back(edge - back - content_start);
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

    exchange::RequestParts parts(dir.path(), boundary, {"header", "content", "tail"}, 64);
    for (size_t at = 0; at < body.size(); at += piece) {
      const std::string_view p = std::string_view(body).substr(at, piece);
      parts.Append(p.data(), p.size());
    }
    ASSERT_EQ(parts.Finish(), MultipartStatus::Ok);
    EXPECT_EQ(parts.error(), 0);
    EXPECT_EQ(parts.size(), body.size());
    ASSERT_EQ(in_memory.size(), 3u);
    for (const MultipartPart& part : in_memory) {
      const std::optional<exchange::BodyRange> range = parts.Part(part.name);
      ASSERT_TRUE(range) << part.name;
      std::string data;
      ASSERT_TRUE(range->ReadAll(data, body.size()));
      EXPECT_TRUE(data == part.data) << part.name;
    }
    EXPECT_TRUE(parts.Part("content")->in_file());
  }
}

// Kept parts: the first of each wanted name, in memory or in a file, cut
// back exactly where a long padded delimiter ends them; a file of its own
// is linked under a new name without a copy; other parts are dropped.
TEST(ExchangeRequestParts, KeepsTheFirstOfEachWantedPart) {
  qovra::testing::ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7919 >> 5);
  const std::string pad = Padding(3 * exchange::kMaxDelimiterHeld);
  const std::string body = "preamble" + IePart(1, "other", "dropped") + IePart(1, "header", "H") +
                           IePart(1, "content", content) + "\r\n--" + kB + pad +
                           IePart(1, "header", "second header").substr(4 + kB.size()) + "\r\n--" +
                           kB + "--";
  for (size_t piece : {size_t{1000}, size_t{256} << 10}) {
    SCOPED_TRACE(piece);
    exchange::RequestParts parts(dir.path(), kB, {"header", "content"}, 4096);
    for (size_t at = 0; at < body.size(); at += piece) {
      const std::string_view p = std::string_view(body).substr(at, piece);
      parts.Append(p.data(), p.size());
    }
    ASSERT_EQ(parts.Finish(), MultipartStatus::Ok);
    EXPECT_EQ(parts.error(), 0);
    std::string data;
    ASSERT_TRUE(parts.Part("header"));
    ASSERT_TRUE(parts.Part("header")->ReadAll(data, body.size()));
    EXPECT_EQ(data, "H");
    EXPECT_FALSE(parts.Part("header")->in_file());
    EXPECT_FALSE(parts.Part("other"));
    const std::optional<exchange::BodyRange> kept = parts.Part("content");
    ASSERT_TRUE(kept);
    ASSERT_TRUE(kept->in_file());
    ASSERT_TRUE(kept->ReadAll(data, body.size()));
    EXPECT_TRUE(data == content);

    const std::string named = dir.File("mail.eme");
    ASSERT_TRUE(kept->LinkAs(named));
    EXPECT_TRUE(qovra::testing::ScratchDir::Read(named) == content);
    EXPECT_FALSE(kept->LinkAs(named));  // a name already taken is kept
    EXPECT_FALSE(exchange::BodyRange::Memory("bytes").LinkAs(dir.File("memory.eme")));
    EXPECT_FALSE(kept->Sub(1, 100).LinkAs(dir.File("part-of-it.eme")));
    std::filesystem::remove(named);
  }
}

// A body cut off in the middle of its content part keeps no part.
TEST(ExchangeRequestParts, BodyCutInTheContentKeepsNothing) {
  qovra::testing::ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string body = IeBody("H", std::string(200000, 'c'));
  exchange::RequestParts parts(dir.path(), kB, {"header", "content"}, 4096);
  parts.Append(body.data(), body.size() / 2);
  EXPECT_EQ(parts.Finish(), MultipartStatus::Truncated);
  EXPECT_FALSE(parts.Part("header"));
  EXPECT_FALSE(parts.Part("content"));
}
