// The exchange server's envelope pieces on their own: check byte, length
// word, request header forms, string form, request XML, reply writers and
// the fault switch's spec and corruptions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base64.h"
#include "envelope.h"
#include "exchange_test_client.h"
#include "fault.h"
#include "reply.h"
#include "request_xml.h"
#include "server_crypto.h"
#include "string_form.h"
#include "support/key_fixtures.h"
#include "support/scratch_dir.h"

namespace {

using namespace exchange;

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s += static_cast<char>(b);
  return s;
}

// ---- check byte and length word -------------------------------------------

TEST(ExchangeCheckByte, GoldenValues) {
  EXPECT_EQ(CheckByte(3, 3, 3), 76);
  EXPECT_EQ(CheckByte(0, 0, 0), 76);
  EXPECT_EQ(CheckByte(1, 2, 0), 76);  // all below 3 count as 3
  EXPECT_EQ(CheckByte(255, 255, 255), 206);
}

// The square-and-multiply power against plain repetition of the operation,
// over every a and b for a spread of c.
TEST(ExchangeCheckByte, AgreesWithRepeatedOperation) {
  for (int c : {0, 3, 4, 77, 128, 254, 255}) {
    for (int a = 0; a < 256; ++a) {
      for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(
            CheckByte(static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c)),
            xs_test::NaiveCheckByte(static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                                    static_cast<uint8_t>(c)))
            << a << " " << b << " " << c;
      }
    }
  }
}

TEST(ExchangeLengthWord, WorkedExamples) {
  struct Row {
    uint32_t length;
    std::string tail;
  };
  const Row rows[] = {
      {233, Bytes({0x8E, 0xF9, 0xF9, 0xF9})},
      {201, Bytes({0xAE, 0xF9, 0xF9, 0xF9})},
      {520, Bytes({0x6F, 0xFB, 0xF9, 0xF9})},
  };
  const uint8_t random3[3] = {3, 3, 3};
  for (const Row& r : rows) {
    uint8_t h[8];
    WriteReplyHeader(random3, r.length, h);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(h), 8), Bytes({3, 3, 3, 0x4C}) + r.tail);
    EXPECT_EQ(DecodeLength(h), r.length);
    EXPECT_EQ(xs_test::ReadLength(std::string(reinterpret_cast<char*>(h), 8)), r.length);
  }
  // 2 * D0 overflows by design.
  const uint8_t high[3] = {0xFF, 0xFF, 0xFF};
  uint8_t h[8];
  WriteReplyHeader(high, 0xDEADBEEF, h);
  EXPECT_EQ(DecodeLength(h), 0xDEADBEEFu);
}

// ---- request header ----------------------------------------------------------

std::string Header(uint8_t flags, size_t total, bool good_check = true) {
  std::string p(total, '\x11');
  if (total >= 8) {
    p[0] = 'A';
    p[1] = 'B';
    p[2] = static_cast<char>(flags);
    p[3] = static_cast<char>(CheckByte('A', 'B', flags) ^ (good_check ? 0 : 1));
  }
  return p;
}

TEST(ExchangeRequestHeader, FormsAndLengths) {
  struct Row {
    const char* name;
    std::string part;
    HeaderStatus status;
  };
  const Row rows[] = {
      {"handshake 232", Header(0x47, 232), HeaderStatus::Ok},
      {"handshake 360 with bit 3", Header(0x4F, 360), HeaderStatus::Ok},
      {"handshake 231", Header(0x47, 231), HeaderStatus::BadLength},
      {"handshake 233", Header(0x47, 233), HeaderStatus::BadLength},
      {"handshake 360 without bit 3", Header(0x47, 360), HeaderStatus::BadLength},
      {"handshake 232 with bit 3", Header(0x4F, 232), HeaderStatus::BadLength},
      {"handshake 361", Header(0x4F, 361), HeaderStatus::BadLength},
      {"session 233", Header(0x10, 233), HeaderStatus::Ok},
      {"session 265", Header(0x18, 265), HeaderStatus::Ok},
      {"session 232", Header(0x10, 232), HeaderStatus::BadLength},
      {"session 234", Header(0x10, 234), HeaderStatus::BadLength},
      {"session 201", Header(0x10, 201), HeaderStatus::BadLength},
      {"seven bytes", Header(0x10, 7), HeaderStatus::BadLength},
      {"empty", std::string(), HeaderStatus::BadLength},
      {"bad check byte", Header(0x47, 232, false), HeaderStatus::BadCheckByte},
      {"bit 5", Header(0x67, 232), HeaderStatus::ReservedBit},
      {"bit 5 session", Header(0x30, 233), HeaderStatus::ReservedBit},
  };
  for (const Row& r : rows) {
    RequestHeader h;
    EXPECT_EQ(ParseRequestHeader(r.part, h), r.status) << r.name;
  }
}

TEST(ExchangeRequestHeader, UnmasksHandshakeAndSplitsSessionRequest) {
  std::string material(160, '\0');
  for (size_t i = 0; i < material.size(); ++i) material[i] = static_cast<char>(i * 7 + 1);
  std::string mask(32, '\0');
  for (size_t i = 0; i < 32; ++i) mask[i] = static_cast<char>(0xA5 ^ i);
  std::string part = Header(0x4F, 8);
  for (size_t i = 0; i < material.size(); ++i)
    part += static_cast<char>(material[i] ^ mask[i % 32]);
  part += mask;
  part += std::string(160, 'S');
  RequestHeader h;
  ASSERT_EQ(ParseRequestHeader(part, h), HeaderStatus::Ok);
  EXPECT_EQ(h.form, RequestForm::Handshake);
  EXPECT_TRUE(h.dh_appended);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(h.material), 160), material);
  EXPECT_EQ(h.signed_bytes.size(), 200u);
  EXPECT_EQ(h.signature, std::string(160, 'S'));

  std::string s =
      Header(0x10, 8) + std::string(32, 'I') + std::string(65, 'X') + std::string(160, 'S');
  ASSERT_EQ(ParseRequestHeader(s, h), HeaderStatus::Ok);
  EXPECT_EQ(h.form, RequestForm::Session);
  EXPECT_EQ(h.sid, std::string(32, 'I'));
  EXPECT_EQ(h.sealed_xml, std::string(65, 'X'));
  EXPECT_EQ(h.signature, std::string(160, 'S'));
}

// ---- string form ---------------------------------------------------------------

struct KeyFixture : ::testing::Test {
  void SetUp() override {
    for (size_t i = 0; i < 64; ++i) key[i] = static_cast<uint8_t>(i * 13 + 5);
    for (size_t i = 0; i < 32; ++i) iv[i] = static_cast<uint8_t>(200 - i);
    ASSERT_TRUE(crypto::KeyUsable(key));
  }
  uint8_t key[64];
  uint8_t iv[32];
};

using ExchangeStringForm = KeyFixture;

TEST_F(ExchangeStringForm, RoundTripsAndMatchesTheTestClient) {
  for (size_t n : {1u, 31u, 32u, 33u, 64u, 100u}) {
    std::string text(n, '\0');
    for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>('a' + i % 26);
    const std::string sealed = SealString(key, iv, text);
    ASSERT_EQ(sealed.size(), 1 + PaddedSize(n)) << n;
    EXPECT_EQ(static_cast<uint8_t>(sealed[0]), n % 32) << n;
    EXPECT_EQ(sealed, xs_test::Seal(key, iv, text)) << n;
    std::string back;
    ASSERT_EQ(UnsealString(key, iv, sealed, back), UnsealStatus::Ok) << n;
    EXPECT_EQ(back, text);
  }
  EXPECT_EQ(SealString(key, iv, ""), "");
}

TEST_F(ExchangeStringForm, RefusesMalformedInput) {
  const std::string good = SealString(key, iv, std::string(40, 'x'));
  struct Row {
    const char* name;
    std::string sealed;
    UnsealStatus status;
  };
  std::string byte32 = good;
  byte32[0] = 32;
  std::string byte255 = good;
  byte255[0] = static_cast<char>(255);
  const Row rows[] = {
      {"empty", "", UnsealStatus::BadLength},
      {"length byte only", "\x01", UnsealStatus::BadLength},
      {"32 bytes", std::string(32, 'a'), UnsealStatus::BadLength},
      {"34 bytes", std::string(34, 'a'), UnsealStatus::BadLength},
      {"one byte short", good.substr(0, good.size() - 1), UnsealStatus::BadLength},
      {"length byte 32", byte32, UnsealStatus::BadLengthByte},
      {"length byte 255", byte255, UnsealStatus::BadLengthByte},
  };
  for (const Row& r : rows) {
    std::string text = "left over";
    EXPECT_EQ(UnsealString(key, iv, r.sealed, text), r.status) << r.name;
    EXPECT_TRUE(text.empty()) << r.name;
  }
  std::string zero = good;
  zero[0] = 0;  // 0 = a whole last block
  std::string text;
  ASSERT_EQ(UnsealString(key, iv, zero, text), UnsealStatus::Ok);
  EXPECT_EQ(text.size(), 64u);
}

// ---- Base64 --------------------------------------------------------------------

TEST(ExchangeBase64, Rfc4648VectorsAndRefusals) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\xFB\xFF", 2), "+/8="},
  };
  for (const auto& [plain, text] : vectors) {
    EXPECT_EQ(Base64Encode(plain), text);
    std::string out;
    EXPECT_TRUE(Base64Decode(text, out)) << text;
    EXPECT_EQ(out, plain);
  }
  for (const char* bad :
       {"Zg=", "Zg===", "Z===", "Zh==", "Zm9=", "Zm 9v", "Zg==Zg==", "=Zm9", "Zm9v\n", "Zm-v"}) {
    std::string out = "x";
    EXPECT_FALSE(Base64Decode(bad, out)) << bad;
    EXPECT_TRUE(out.empty());
  }
}

// ---- request XML ---------------------------------------------------------------

TEST(ExchangeRequestXml, ReadsCommandAndValues) {
  RequestXml x;
  std::string error;
  ASSERT_TRUE(ParseRequestXml(
      "<request><cmd val=\"161\"/><xln val=\"a&amp;b&quot;&#65;\"/></request>", x, error))
      << error;
  EXPECT_EQ(x.cmd, 161);
  EXPECT_STREQ(x.Value("xln"), "a&b\"A");
  EXPECT_EQ(x.Value("chash"), nullptr);
}

TEST(ExchangeRequestXml, RefusesWhatIsNotARequest) {
  const char* rows[] = {
      "",
      "<request><cmd val=\"161\"/>",
      "<request><cmd/></request>",
      "<request><cmd val=\"\"/></request>",
      "<request><cmd val=\"16x\"/></request>",
      "<request><cmd val=\"99999999999999999999\"/></request>",
      "<request><xln val=\"1\"/></request>",
      "<!DOCTYPE request [<!ENTITY e \"161\">]><request><cmd val=\"&e;\"/></request>",
      "<!DOCTYPE request SYSTEM \"file:///etc/passwd\"><request><cmd val=\"161\"/></request>",
  };
  for (const char* text : rows) {
    RequestXml x;
    std::string error;
    EXPECT_FALSE(ParseRequestXml(text, x, error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

// ---- replies -------------------------------------------------------------------

TEST(ExchangeReplyXml, OrderEscapingAndCodes) {
  CommandReply ok;
  ok.Add("fname").Attr("val", "a<b>&\"c'");
  ASSERT_TRUE(ok.AttachFile("0123.eme", 1, true, "abc"));
  ASSERT_TRUE(ok.AttachFile("0123.ems", 2, false, ""));
  EXPECT_EQ(ReplyXml(ok),
            "<reply><res val=\"1\"/>"
            "<file size=\"3\" skip=\"1\" name=\"0123.eme\" type=\"1\"/>"
            "<file size=\"0\" skip=\"0\" name=\"0123.ems\" type=\"2\"/>"
            "<fname val=\"a&lt;b&gt;&amp;&quot;c&apos;\"/></reply>");

  CommandReply taken = CommandReply::Enciphered(16);
  taken.registered = "alice";
  taken.Add("ignored");
  EXPECT_EQ(ReplyXml(taken), "<reply><res val=\"16\"/><registered val=\"alice\"/></reply>");
  taken.code = 7;
  EXPECT_EQ(ReplyXml(taken), "<reply><res val=\"7\"/></reply>");

  EXPECT_EQ(PlainReplyText(6), "<reply><res val=\"6\"/></reply>");
  EXPECT_LT(PlainReplyText(-2147483647 - 1).size(), 168u);
}

TEST(ExchangeReplyXml, FileNamesMustBeBare) {
  for (const char* bad : {"", ".", "..", "../x.eme", "a/b", "a\\b", "C:x", "a\nb", "x..eme"}) {
    CommandReply r;
    EXPECT_FALSE(r.AttachFile(bad, 1, true, "x")) << bad;
    EXPECT_TRUE(r.files.empty());
  }
  CommandReply r;
  EXPECT_TRUE(r.AttachFile("0123456789ABCDEF0123456789ABCDEF.eme", 1, true, "x"));
}

// Replies written by the server, read back by the test client.
struct ExchangeReplyWriter : KeyFixture {
  void SetUp() override {
    KeyFixture::SetUp();
    const keytool::KeyPair kp = qovra_test::LoadKeyPair("alice");
    keys = kp;
    std::copy(kp.pub.begin(), kp.pub.end(), id.record.begin());
    std::copy(kp.priv.begin(), kp.priv.end(), id.priv.begin());
    id.certificate = std::string(400, 'C');
  }
  keytool::KeyPair keys;
  ServerIdentity id;
};

TEST_F(ExchangeReplyWriter, SessionReplyWithFiles) {
  std::string f33(33, '\0'), f64(64, '\0');
  for (size_t i = 0; i < 64; ++i) f64[i] = static_cast<char>(i * 3);
  for (size_t i = 0; i < 33; ++i) f33[i] = static_cast<char>(255 - i);
  CommandReply r;
  ASSERT_TRUE(r.AttachFile("a.eme", 1, false, f33));
  ASSERT_TRUE(r.AttachFile("b.eme", 1, true, f33));
  ASSERT_TRUE(r.AttachFile("empty.eme", 1, false, ""));
  ASSERT_TRUE(r.AttachFile("c.eme", 1, false, f64));
  r.Add("level").Attr("val", "0");
  std::string body;
  ASSERT_TRUE(BuildSessionReply(id, key, iv, r, body));

  xs_test::SessionReply out;
  xs_test::ReadSessionReply(body, id.record.data(), key, iv, out);
  ASSERT_EQ(out.error, "");
  EXPECT_EQ(out.res, 1);
  EXPECT_EQ(out.Attr("level"), "0");
  ASSERT_EQ(out.files.size(), 3u);
  EXPECT_EQ(out.files[0], f33);
  EXPECT_EQ(out.files[1], f33);
  EXPECT_EQ(out.files[2], f64);
  EXPECT_EQ(out.trailing, 0u);
  // 33 bytes enciphered take 64 on the wire, 33 sent as stored take 33.
  const size_t payload = 1 + PaddedSize(ReplyXml(r).size());
  EXPECT_EQ(body.size(), 8 + payload + 160 + (64 + 160) + (33 + 160) + (64 + 160));

  // An error code carries no files.
  r.code = 13;
  ASSERT_TRUE(BuildSessionReply(id, key, iv, r, body));
  EXPECT_EQ(body.size(), 8 + 1 + PaddedSize(ReplyXml(r).size()) + 160);
  EXPECT_GE(body.size(), 201u);
}

// Files around every boundary of the chunks they are streamed in and of
// the ring that overlaps reading, hashing and writing, in each form (sent
// as stored, enciphered, sealed from a file), come out whole with valid
// signatures; a writer that stops at any point ends the writing.
TEST_F(ExchangeReplyWriter, FilesAcrossChunkAndRingBoundaries) {
  const size_t chunk = kStreamChunk;
  const size_t sizes[] = {1,
                          chunk - 1,
                          chunk,
                          chunk + 1,
                          kStreamSlots * chunk,
                          kStreamSlots * chunk + 33,
                          (kStreamSlots + 2) * chunk - 5};
  qovra::testing::ScratchDir dir;
  CommandReply r;
  std::vector<std::string> contents;
  for (size_t n : sizes) {
    std::string data(n, '\0');
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<char>((i * 2654435761u) >> 13);
    ASSERT_TRUE(r.AttachFile("stored-" + std::to_string(n), 1, true, data));
    ASSERT_TRUE(r.AttachFile("enciphered-" + std::to_string(n), 1, false, data));
    ReplyFile sealed;
    sealed.name = "sealed-" + std::to_string(n);
    sealed.path = dir.Write(sealed.name, data);
    sealed.path_size = n;
    sealed.seal = true;
    sealed.seal_iv = crypto::Hash(sealed.name);
    ASSERT_TRUE(r.Attach(std::move(sealed)));
    contents.push_back(std::move(data));
  }
  std::string body;
  ASSERT_TRUE(BuildSessionReply(id, key, iv, r, body));
  xs_test::SessionReply out;
  xs_test::ReadSessionReply(body, id.record.data(), key, iv, out);
  ASSERT_EQ(out.error, "");
  ASSERT_EQ(out.files.size(), 3 * contents.size());
  EXPECT_EQ(out.trailing, 0u);
  for (size_t i = 0; i < contents.size(); ++i) {
    SCOPED_TRACE(sizes[i]);
    EXPECT_TRUE(out.files[3 * i] == contents[i]);
    EXPECT_TRUE(out.files[3 * i + 1] == contents[i]);
    const crypto::Hash32 seal_iv = crypto::Hash("sealed-" + std::to_string(sizes[i]));
    EXPECT_TRUE(out.files[3 * i + 2] == xs_test::CbcEncrypt(key, seal_iv.data(), contents[i]));
  }

  // One file longer than the ring, cut by the writer at points before,
  // inside and after the ring's first turn.
  CommandReply one;
  ASSERT_TRUE(one.AttachFile("long", 1, false, contents.back()));
  std::string whole;
  ASSERT_TRUE(BuildSessionReply(id, key, iv, one, whole));
  const size_t head = whole.size() - ReplyFilesSize(one);
  for (size_t stop :
       {size_t{0}, chunk / 2, 2 * chunk + 7, (kStreamSlots + 1) * chunk, ReplyFilesSize(one) - 1}) {
    SCOPED_TRACE(stop);
    std::string written;
    EXPECT_FALSE(WriteReplyFiles(id, key, iv, one, [&written, stop](const char* p, size_t n) {
      if (written.size() + n > stop) return false;
      written.append(p, n);
      return true;
    }));
    EXPECT_LE(written.size(), stop);
    EXPECT_EQ(written, whole.substr(head, written.size()));
  }
  // A file shorter than it was announced fails the writing.
  CommandReply short_file;
  ReplyFile f;
  f.name = "short";
  f.path = dir.Write("short", std::string(chunk, 'x'));
  f.path_size = 3 * chunk;
  ASSERT_TRUE(short_file.Attach(std::move(f)));
  EXPECT_FALSE(WriteReplyFiles(id, key, iv, short_file, [](const char*, size_t) { return true; }));
}

TEST_F(ExchangeReplyWriter, HandshakeReplyLayout) {
  uint8_t sid[32];
  for (size_t i = 0; i < 32; ++i) sid[i] = static_cast<uint8_t>(i + 1);
  std::string body;
  ASSERT_TRUE(BuildHandshakeReply(id, sid, body));
  ASSERT_EQ(body.size(), 8 + 32 + 400 + 160u);
  EXPECT_EQ(DecodeLength(reinterpret_cast<const uint8_t*>(body.data())), 432u);
  EXPECT_EQ(static_cast<uint8_t>(body[3]),
            xs_test::NaiveCheckByte(static_cast<uint8_t>(body[0]), static_cast<uint8_t>(body[1]),
                                    static_cast<uint8_t>(body[2])));
  EXPECT_EQ(body.substr(8, 32), std::string(reinterpret_cast<char*>(sid), 32));
  EXPECT_TRUE(
      xs_test::Verify(id.record.data(), xs_test::Hash(body.substr(0, 440)), body.substr(440)));
}

// ---- fault switch ---------------------------------------------------------------

TEST(ExchangeFault, SpecTexts) {
  struct Row {
    const char* spec;
    FaultKind kind;
    int code;
    const char* registered;
    size_t length;
    bool once;
  };
  const Row good[] = {
      {"off", FaultKind::None, 0, "", 0, false},
      {"plain:6", FaultKind::PlainCode, 6, "", 0, false},
      {"once:plain:1", FaultKind::PlainCode, 1, "", 0, true},
      {"enc:15:alice", FaultKind::EncipheredCode, 15, "alice", 0, false},
      {"enc:4", FaultKind::EncipheredCode, 4, "", 0, false},
      {"checkbyte", FaultKind::CheckByte, 0, "", 0, false},
      {"once:payload", FaultKind::PayloadByte, 0, "", 0, true},
      {"signature", FaultKind::SignatureByte, 0, "", 0, false},
      {"length:167", FaultKind::PlainLength, 2, "", 167, false},
      {"length:168:9", FaultKind::PlainLength, 9, "", 168, false},
      {"stall", FaultKind::Stall, 0, "", 0, false},
      {"once:drop", FaultKind::Drop, 0, "", 0, true},
      {"drop:500", FaultKind::Drop, 0, "", 500, false},
      {"drop:-500", FaultKind::Drop, 0, "", 500, false},
  };
  for (const Row& r : good) {
    Fault f;
    std::string error;
    ASSERT_TRUE(ParseFault(r.spec, f, error)) << r.spec << ": " << error;
    EXPECT_EQ(f.kind, r.kind) << r.spec;
    EXPECT_EQ(f.code, r.code) << r.spec;
    EXPECT_EQ(f.registered, r.registered) << r.spec;
    EXPECT_EQ(f.length, r.length) << r.spec;
    EXPECT_EQ(f.once, r.once) << r.spec;
    EXPECT_EQ(f.from_end, std::string_view(r.spec).starts_with("drop:-")) << r.spec;
  }
  for (const char* bad :
       {"", "plain", "plain:", "plain:x", "enc", "enc::a", "length:10", "length:x", "stall:1",
        "once:", "twice:plain:2", "checkbyte:1", "drop:x", "drop:", "drop:-", "drop:--5"}) {
    Fault f;
    std::string error;
    EXPECT_FALSE(ParseFault(bad, f, error)) << bad;
  }
}

TEST(ExchangeFault, PaddedPlainReplies) {
  for (size_t n : {29u, 100u, 167u, 168u}) {
    std::string body;
    ASSERT_TRUE(PaddedPlainReply(2, n, body));
    EXPECT_EQ(body.size(), n);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(body.data(), body.size()));
    EXPECT_EQ(doc.child("reply").child("res").attribute("val").as_int(), 2);
  }
  std::string body;
  EXPECT_FALSE(PaddedPlainReply(2, 28, body));
}

TEST_F(ExchangeReplyWriter, CorruptionsHitTheirByte) {
  CommandReply r;
  std::string body;
  ASSERT_TRUE(BuildSessionReply(id, key, iv, r, body));
  const uint32_t length = DecodeLength(reinterpret_cast<const uint8_t*>(body.data()));
  struct Row {
    FaultKind kind;
    size_t at;
  };
  for (const Row& row : {Row{FaultKind::CheckByte, 3}, Row{FaultKind::PayloadByte, 8 + length - 1},
                         Row{FaultKind::SignatureByte, 8 + length + 80}}) {
    std::string bad = body;
    ASSERT_TRUE(CorruptEnvelope(row.kind, bad));
    for (size_t i = 0; i < body.size(); ++i)
      EXPECT_EQ(bad[i] != body[i], i == row.at) << static_cast<int>(row.kind) << " at " << i;
  }
  std::string plain = PlainReplyText(2);
  EXPECT_FALSE(CorruptEnvelope(FaultKind::CheckByte, plain));
  EXPECT_EQ(plain, PlainReplyText(2));
}

}  // namespace
