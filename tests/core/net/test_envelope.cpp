// The envelope's bytes: check byte, length word, request headers, and the
// checks a reply envelope must pass, one row per way a reply can be wrong.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "core/net/envelope_test_fixture.h"
#include "net/envelope.h"
#include "net/envelope_reply.h"

namespace {

using qovra_test::Bytes;
using qovra_test::EnvelopeFixture;

TEST(EnvelopeCheckByte, KnownValues) {
  struct Row {
    uint8_t a, b, c, expected;
  };
  // Golden values of the envelope description: 3,3,3 and anything below 3
  // give 76; 255,255,255 gives 206.
  const Row rows[] = {
      {3, 3, 3, 76}, {0, 0, 0, 76}, {2, 1, 0, 76}, {0, 3, 2, 76}, {255, 255, 255, 206}};
  for (const Row& r : rows) {
    EXPECT_EQ(qovra::EnvelopeCheckByte(r.a, r.b, r.c), r.expected)
        << int{r.a} << "," << int{r.b} << "," << int{r.c};
  }
}

TEST(EnvelopeLengthWord, WorkedExamples) {
  // Header 03 03 03 4C: D0 = 0x4C030303, bswap32(NOT(2*D0)) = 0xF9F9F967.
  struct Row {
    uint32_t length;
    std::array<uint8_t, 4> d1;
  };
  const Row rows[] = {{233, {0x8E, 0xF9, 0xF9, 0xF9}},
                      {201, {0xAE, 0xF9, 0xF9, 0xF9}},
                      {520, {0x6F, 0xFB, 0xF9, 0xF9}}};
  for (const Row& r : rows) {
    std::array<uint8_t, 8> h = {3, 3, 3, 0x4C, 0, 0, 0, 0};
    qovra::SetEnvelopeLength(h, r.length);
    EXPECT_EQ((std::array<uint8_t, 4>{h[4], h[5], h[6], h[7]}), r.d1) << r.length;
    EXPECT_EQ(qovra::EnvelopeLength(h), r.length);
  }
  // Bytes 0-3 where 2*D0 overflows.
  std::array<uint8_t, 8> h = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  qovra::SetEnvelopeLength(h, 0x12345678u);
  EXPECT_EQ(qovra::EnvelopeLength(h), 0x12345678u);
}

TEST(EnvelopeRequestHeader, SessionForm) {
  const std::array<uint8_t, 8> random8 = {1, 2, 0xFF, 9, 4, 5, 6, 7};
  std::array<uint8_t, 32> sid{};
  sid.fill(0xAB);
  const std::string enciphered(33, 'x');
  const std::string h = qovra::BuildSessionRequestHeader(random8, sid, enciphered);
  ASSERT_EQ(h.size(), 8u + 32 + 33);
  const auto flags = static_cast<uint8_t>(h[2]);
  EXPECT_EQ(flags, (0xFF & ~0x20));  // bit 4 set, bit 5 clear, the rest kept
  EXPECT_EQ(static_cast<uint8_t>(h[3]), qovra::EnvelopeCheckByte(1, 2, flags));
  EXPECT_EQ(h.substr(4, 4), Bytes(random8.data() + 4, 4));
  EXPECT_EQ(h.substr(8, 32), Bytes(sid));
  EXPECT_EQ(h.substr(40), enciphered);
}

TEST(EnvelopeRequestHeader, HandshakeFormMasksTheMaterial) {
  const std::array<uint8_t, 8> random8 = {7, 7, 0x30, 0, 1, 1, 1, 1};
  std::array<uint8_t, 32> hash{}, mask{};
  for (size_t i = 0; i < 32; ++i) {
    hash[i] = static_cast<uint8_t>(i);
    mask[i] = static_cast<uint8_t>(0xA0 + i);
  }
  std::array<uint8_t, 128> dh{};
  dh.fill(0x5A);
  for (bool with_dh : {false, true}) {
    const std::span<const uint8_t> dh_span =
        with_dh ? std::span<const uint8_t>(dh) : std::span<const uint8_t>();
    const std::string h = qovra::BuildHandshakeRequestHeader(random8, hash, dh_span, mask);
    ASSERT_EQ(h.size(), with_dh ? 8u + 160 + 32 : 8u + 32 + 32);  // + 160 signature = 360 / 232
    const auto flags = static_cast<uint8_t>(h[2]);
    EXPECT_EQ(flags & 0x10, 0);
    EXPECT_EQ(flags & 0x20, 0);
    EXPECT_EQ((flags & 0x08) != 0, with_dh);
    EXPECT_EQ(static_cast<uint8_t>(h[3]), qovra::EnvelopeCheckByte(7, 7, flags));
    const std::string sent_mask = h.substr(h.size() - 32);
    EXPECT_EQ(sent_mask, Bytes(mask));
    std::string material = h.substr(8, h.size() - 8 - 32);
    for (size_t i = 0; i < material.size(); ++i) material[i] ^= sent_mask[i % 32];
    std::string expected = Bytes(hash);
    if (with_dh) expected += Bytes(dh);
    EXPECT_EQ(material, expected);
  }
}

class EnvelopeReplyTest : public EnvelopeFixture {};

TEST_F(EnvelopeReplyTest, GoodSessionReplyFillsTheDocument) {
  EXPECT_EQ(
      Process(qovra_test::SessionReply(session_, "<reply><res val=\"1\"/><x val=\"2\"/></reply>")),
      1);
  EXPECT_EQ(Shown(), std::vector<std::string>{});
  EXPECT_EQ(doc_.document_element().child("x").attribute("val").as_int(), 2);
}

TEST_F(EnvelopeReplyTest, BodyOf167BytesIsPlainXmlAnd168IsAnEnvelope) {
  const std::string head = "<reply><res val=\"5\"/><pad val=\"";
  const std::string tail = "\"/></reply>";
  std::string plain = head + std::string(167 - head.size() - tail.size(), 'p') + tail;
  ASSERT_EQ(plain.size(), 167u);
  EXPECT_EQ(Process(plain), 5);
  EXPECT_EQ(Shown(), Only("msgServerError5"));

  ui_->messages.clear();
  std::string longer = head + std::string(168 - head.size() - tail.size(), 'p') + tail;
  ASSERT_EQ(longer.size(), 168u);
  ASSERT_NE(static_cast<uint8_t>(longer[3]),
            qovra::EnvelopeCheckByte(longer[0], longer[1], longer[2]));
  EXPECT_EQ(Process(longer), 0);
  EXPECT_EQ(Shown(), Only("msgCheckSumError"));
}

// One row per way a session reply can be wrong; each must fail with its
// message and leave nothing behind.
TEST_F(EnvelopeReplyTest, DamagedSessionReplies) {
  const std::string xml = "<reply><res val=\"1\"/></reply>";
  const std::string good = qovra_test::SessionReply(session_, xml);
  const std::string payload = qovra_test::StringForm(session_.key, session_.id, xml);
  const size_t sig_at = 8 + payload.size();

  struct Row {
    const char* name;
    std::string body;
    const char* key;
  };
  std::string wrong_check = good;
  wrong_check[3] = static_cast<char>(wrong_check[3] ^ 1);
  std::string flipped_payload = good;
  flipped_payload[8 + 5] = static_cast<char>(flipped_payload[8 + 5] ^ 0x40);
  // The first payload byte is the tail length: made 32 or more, it would
  // read as invalid data if anything were deciphered before the check.
  std::string flipped_first = good;
  flipped_first[8] = static_cast<char>(flipped_first[8] ^ 0x40);
  std::string flipped_signature = good;
  flipped_signature[sig_at + 17] = static_cast<char>(flipped_signature[sig_at + 17] ^ 1);
  // Signed correctly, but the payload's length byte is 32.
  std::string bad_length_byte_payload = payload;
  bad_length_byte_payload[0] = 32;
  // Signed correctly, but the payload is not 1 + 32k bytes.
  const std::string odd_payload = payload + "zz";

  const Row rows[] = {
      {"WrongCheckByte", wrong_check, "msgCheckSumError"},
      {"ZeroLength", qovra_test::SignedEnvelope(payload, 0), "msgConnectionError"},
      {"LengthPastTheBody",
       qovra_test::SignedEnvelope(payload, static_cast<uint32_t>(payload.size() + 1)),
       "msgInvalidData"},
      {"HugeLength", qovra_test::SignedEnvelope(payload, 0xFFFFFFF0u), "msgInvalidData"},
      {"FlippedPayloadByte", flipped_payload, "msgUnauthenticSignature"},
      {"FlippedFirstPayloadByte", flipped_first, "msgUnauthenticSignature"},
      {"FlippedSignatureByte", flipped_signature, "msgUnauthenticSignature"},
      {"TruncatedSignature", good.substr(0, good.size() - 1), "msgInvalidData"},
      {"LengthByteOver31",
       qovra_test::SignedEnvelope(bad_length_byte_payload,
                                  static_cast<uint32_t>(bad_length_byte_payload.size())),
       "msgInvalidData"},
      {"PayloadNotWholeBlocks",
       qovra_test::SignedEnvelope(odd_payload, static_cast<uint32_t>(odd_payload.size())),
       "msgInvalidData"},
  };
  for (const Row& r : rows) {
    ui_->messages.clear();
    EXPECT_EQ(Process(r.body), 0) << r.name;
    EXPECT_EQ(Shown(), Only(r.key)) << r.name;
  }
}

TEST_F(EnvelopeReplyTest, ReadersReportWithoutShowing) {
  const std::string xml = "<reply><res val=\"1\"/></reply>";
  qovra::TMemoryStream reply(qovra_test::SessionReply(session_, xml));
  const qovra::TEnvelopeKeys keys{session_.key, session_.id, qovra_test::ServerParty().Pub()};
  std::string out;
  EXPECT_EQ(qovra::ReadSessionEnvelope(reply, keys, out), "");
  EXPECT_EQ(out, xml);
  // The reply now stands where the files begin: at its end.
  EXPECT_EQ(reply.Position(), reply.Size());

  // A reply checked against someone else's key.
  const qovra::TEnvelopeKeys client_as_server{session_.key, session_.id,
                                              qovra_test::ClientParty().Pub()};
  qovra::TMemoryStream again(qovra_test::SessionReply(session_, xml));
  EXPECT_EQ(qovra::ReadSessionEnvelope(again, client_as_server, out), "msgUnauthenticSignature");
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(EnvelopeReplyTest, HandshakeReplySetsTheSessionOnlyWhenVerified) {
  std::array<uint8_t, 32> new_id{};
  new_id.fill(0x42);
  const std::string cert = qovra_test::ServerParty().Cert();
  const std::array<uint8_t, 32> old_id = qovra::Session.SessionId;
  qovra::Session.ServerKey.fill(0);
  qovra::Session.ServerDhKey.fill(0);

  struct Row {
    const char* name;
    std::string body;
    const char* key;
  };
  std::string flipped = qovra_test::HandshakeReply(new_id, cert);
  flipped[8 + 5] = static_cast<char>(flipped[8 + 5] ^ 1);  // inside the session id
  const std::string junk_cert(400, 'j');
  const std::string short_payload = qovra_test::Bytes(new_id) + std::string(319, 'c');
  const Row rows[] = {
      {"ShortPayload",
       qovra_test::SignedEnvelope(short_payload, static_cast<uint32_t>(short_payload.size())),
       "msgConnectionError"},
      {"BadServerCertificate", qovra_test::HandshakeReply(new_id, junk_cert),
       "msgServerCertificateInvalid"},
      {"FlippedSessionIdByte", flipped, "msgUnauthenticSignature"},
  };
  for (const Row& r : rows) {
    ui_->messages.clear();
    EXPECT_EQ(Process(r.body, false), 0) << r.name;
    EXPECT_EQ(Shown(), Only(r.key)) << r.name;
    EXPECT_EQ(qovra::Session.SessionId, old_id) << r.name;
    EXPECT_EQ(qovra::Session.ServerKey, (std::array<uint8_t, 768>{})) << r.name;
  }

  ui_->messages.clear();
  EXPECT_EQ(Process(qovra_test::HandshakeReply(new_id, cert), false), 1);
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_EQ(qovra::Session.SessionId, new_id);
  EXPECT_EQ(qovra::Session.ServerKey, qovra_test::ServerParty().Pub());
  EXPECT_EQ(qovra::Session.ServerDhKey, qovra_test::ServerParty().Pub());
}

}  // namespace
