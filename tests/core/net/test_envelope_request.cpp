// ServerRequest end to end against a scripted loopback peer: the bytes of
// the request parts as the peer receives them, the upload limit, the
// receive timer, the progress window and the clean-up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/msg_format.h"
#include "base/utf.h"
#include "core/net/captured_request.h"
#include "core/net/envelope_test_fixture.h"
#include "net/envelope.h"
#include "support/http_clients.h"
#include "support/loopback_listener.h"

namespace {

using qovra_test::CapturedPart;
using qovra_test::CapturedParts;
using qovra_test::EnvelopeFixture;
using qovra_test::ListenerScript;
using qovra_test::LoopbackListener;

class ServerRequestTest : public EnvelopeFixture {
 protected:
  void SetUp() override {
    EnvelopeFixture::SetUp();
    UseRequestSettings();
  }

  int Request(const std::string& url, qovra::TRequestPart* parts, int count,
              bool keep_open = false) {
    return qovra::ServerRequest(true, parts, count, false, nullptr, nullptr, "Title", keep_open,
                                true, form_, "TfrmMain", url, doc_);
  }

  static std::string Url(const LoopbackListener& peer) { return peer.Origin() + "/qovra4/"; }

  qovra_test::ScopedProxyEnv proxy_env_;
};

TEST_F(ServerRequestTest, UploadLimitRefusesBeforeAnythingIsSent) {
  LoopbackListener peer(
      ListenerScript{true, false, qovra_test::HttpReplyText(200, "OK", ""), true});
  qovra::TMemoryStream xml(std::string(50, 'x'));
  qovra::TMemoryStream content(std::string(100, 'c'));
  qovra::TRequestPart parts[2];
  parts[0].Data = &xml;
  parts[1].SetName("content");
  parts[1].Data = &content;
  ui_->timer_enabled = true;

  qovra::Session.MaxUploadSize = 50 + 168 + 100 - 1;
  EXPECT_EQ(Request(Url(peer), parts, 2), 0);
  EXPECT_EQ(Shown(), Only("msgMailContentBiggerThanServerUploadSizeLimit"));
  EXPECT_EQ(peer.Connections(), 0);
  EXPECT_TRUE(ui_->timer_changes.empty());
  EXPECT_TRUE(ui_->progress.empty());

  // Only part 0 counts when one part is given.
  ui_->messages.clear();
  qovra::Session.MaxUploadSize = 50 + 168 - 1;
  EXPECT_EQ(Request(Url(peer), parts, 1), 0);
  EXPECT_EQ(Shown(), Only("msgMailContentBiggerThanServerUploadSizeLimit"));
  EXPECT_EQ(peer.Connections(), 0);
}

// The same session request through both clients, with the content in a
// memory stream and in a file stream.
TEST_F(ServerRequestTest, SessionRequestOnTheWire) {
  const std::string reply_xml = "<reply><res val=\"1\"/><ok val=\"yes\"/></reply>";
  LoopbackListener peer(ListenerScript{
      true, false,
      qovra_test::HttpReplyText(200, "OK", qovra_test::SessionReply(session_, reply_xml)), true});
  const std::string request_xml =
      "<request><cmd val=\"165\"/><a val=\"" + std::string(70, 'q') + "\"/></request>";
  const std::string content_bytes = std::string(8192 + 5, 'z') + "\r\n--tail";
  const std::string content_file = dir_.File("content.bin");
  std::ofstream(content_file, std::ios::binary) << content_bytes;

  struct Row {
    uint8_t useiewc;
    bool file_content;
  };
  for (const Row r : {Row{2, false}, Row{0, true}, Row{1, false}, Row{2, true}}) {
    SCOPED_TRACE(testing::Message() << "useiewc " << int{r.useiewc} << " file " << r.file_content);
    qovra::Options.Conn.useiewc = r.useiewc;
    ui_->messages.clear();
    ui_->progress.clear();
    ui_->timer_changes.clear();
    ui_->timer_enabled = true;
    qovra::Session.MaxUploadSize =
        static_cast<int64_t>(request_xml.size() + 168 + content_bytes.size());  // exactly at it

    qovra::TMemoryStream xml(request_xml);
    qovra::TMemoryStream memory_content(content_bytes);
    qovra::TEFileStream file_content(content_file, false, false, qovra::fmOpenRead);
    ASSERT_TRUE(file_content.Opened());
    qovra::TRequestPart parts[2];
    parts[0].SetName("header");
    parts[0].Data = &xml;
    parts[1].SetName("content");
    parts[1].Data = r.file_content ? static_cast<qovra::TStream*>(&file_content) : &memory_content;

    const size_t before = peer.Requests().size();
    ASSERT_EQ(Request(Url(peer), parts, 2, true), 1) << testing::PrintToString(Shown());
    EXPECT_EQ(Shown(), std::vector<std::string>{});
    EXPECT_STREQ(doc_.document_element().child("ok").attribute("val").value(), "yes");
    // The timer was paused for the request and runs again.
    EXPECT_EQ(ui_->timer_changes, (std::vector<bool>{false, true}));
    // Kept open after the success.
    ASSERT_FALSE(ui_->progress.empty());
    EXPECT_EQ(ui_->progress.back().kind, qovra::testing::ProgressEvent::Kind::Hide);
    EXPECT_TRUE(ui_->progress.back().flag);

    const auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), before + 1);
    const std::vector<CapturedPart> sent = CapturedParts(requests.back().raw);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].name, "header");
    EXPECT_EQ(sent[1].name, "content");

    const std::string& h = sent[0].data;
    const size_t padded = (request_xml.size() + 31) / 32 * 32;
    ASSERT_EQ(h.size(), 8 + 32 + 1 + padded + 160);
    const auto flags = static_cast<uint8_t>(h[2]);
    EXPECT_EQ(flags & 0x10, 0x10);
    EXPECT_EQ(flags & 0x20, 0);
    EXPECT_EQ(static_cast<uint8_t>(h[3]), qovra::EnvelopeCheckByte(h[0], h[1], h[2]));
    EXPECT_EQ(h.substr(8, 32), qovra_test::Bytes(session_.id));
    EXPECT_EQ(static_cast<size_t>(h[40]), request_xml.size() % 32);
    std::string plain = qovra_test::Cbc(session_.key, session_.id, h.substr(41, padded), false);
    EXPECT_EQ(plain.substr(0, request_xml.size()), request_xml);
    EXPECT_TRUE(
        qovra_test::ClientParty().Verifies(h.substr(0, h.size() - 160), h.substr(h.size() - 160)));

    const std::string& c = sent[1].data;
    ASSERT_EQ(c.size(), (content_bytes.size() + 31) / 32 * 32);
    EXPECT_EQ(qovra_test::Cbc(session_.key, session_.id, c, false).substr(0, content_bytes.size()),
              content_bytes);
  }
}

TEST_F(ServerRequestTest, ContentSentAsIsStaysUnchanged) {
  LoopbackListener peer(ListenerScript{
      true, false,
      qovra_test::HttpReplyText(
          200, "OK", qovra_test::SessionReply(session_, "<reply><res val=\"1\"/></reply>")),
      true});
  qovra::TMemoryStream xml(std::string("<request><cmd val=\"164\"/></request>"));
  qovra::TMemoryStream content(std::string("raw secure-mode bytes"));
  qovra::TRequestPart parts[2];
  parts[0].Data = &xml;
  parts[1].SetName("content");
  parts[1].Data = &content;
  parts[1].SendAsIs = true;
  ASSERT_EQ(Request(Url(peer), parts, 2), 1);
  const std::vector<CapturedPart> sent = CapturedParts(peer.Requests().back().raw);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].data, "raw secure-mode bytes");
  // Not kept open: hidden.
  EXPECT_FALSE(ui_->progress.back().flag);
}

TEST_F(ServerRequestTest, HandshakeOnTheWire) {
  std::array<uint8_t, 32> new_id{};
  new_id.fill(0x37);
  LoopbackListener peer(ListenerScript{
      true, false,
      qovra_test::HttpReplyText(
          200, "OK", qovra_test::HandshakeReply(new_id, qovra_test::ServerParty().Cert())),
      true});
  qovra::Session.CertKeyHash.fill(0x11);
  for (uint8_t i = 0; i < 128; ++i) qovra::Session.OwnDhKey[288 + i] = i;
  for (bool with_dh : {false, true}) {
    SCOPED_TRACE(with_dh);
    qovra::Session.SessionId.fill(0);
    ASSERT_EQ(qovra::ServerRequest(false, nullptr, 0, with_dh, nullptr, nullptr, "Handshake", false,
                                   false, form_, "", Url(peer), doc_),
              1)
        << testing::PrintToString(Shown());
    EXPECT_EQ(qovra::Session.SessionId, new_id);
    const std::vector<CapturedPart> sent = CapturedParts(peer.Requests().back().raw);
    ASSERT_EQ(sent.size(), 1u);
    const std::string& h = sent[0].data;
    ASSERT_EQ(h.size(), with_dh ? 360u : 232u);
    EXPECT_EQ((static_cast<uint8_t>(h[2]) & 0x08) != 0, with_dh);
    EXPECT_EQ(static_cast<uint8_t>(h[2]) & 0x30, 0);
    const std::string mask = h.substr(h.size() - 160 - 32, 32);
    std::string material = h.substr(8, h.size() - 8 - 32 - 160);
    for (size_t i = 0; i < material.size(); ++i) material[i] ^= mask[i % 32];
    std::string expected = qovra_test::Bytes(qovra::Session.CertKeyHash);
    if (with_dh) expected += qovra_test::Bytes(qovra::Session.OwnDhKey.data() + 288, 128);
    EXPECT_EQ(material, expected);
    EXPECT_TRUE(
        qovra_test::ClientParty().Verifies(h.substr(0, h.size() - 160), h.substr(h.size() - 160)));
  }
}

TEST_F(ServerRequestTest, TransportFailuresAreShownWithTheClientsText) {
  // A port nobody listens on: take one from a listener that is gone.
  std::string url;
  {
    LoopbackListener gone(ListenerScript{});
    url = Url(gone);
  }
  qovra::TMemoryStream xml(std::string("<request/>"));
  qovra::TRequestPart part;
  part.Data = &xml;
  for (uint8_t kind : {0, 2}) {
    qovra::Options.Conn.useiewc = kind;
    ui_->messages.clear();
    EXPECT_EQ(Request(url, &part, 1, true), 0);
    ASSERT_EQ(ui_->messages.size(), 1u) << int{kind};
    // The client's text is the language file's, naming the host.
    EXPECT_EQ(ui_->messages[0].text,
              qovra::GetMsg("msgConnectionError") + "\r" +
                  qovra::FormatMsgArgs(qovra::GetMsg("msgHttpConnectFailed"), "127.0.0.1"));
    EXPECT_FALSE(ui_->progress.back().flag);  // hidden after a failure
  }

  // A setting that names no client sends nothing.
  LoopbackListener peer(ListenerScript{});
  qovra::Options.Conn.useiewc = 3;
  ui_->messages.clear();
  EXPECT_EQ(Request(Url(peer), &part, 1), 0);
  EXPECT_EQ(Shown(), Only("msgConnectionError"));
  EXPECT_EQ(peer.Connections(), 0);
}

TEST_F(ServerRequestTest, UnusablePartsDoNothing) {
  qovra::TRequestPart part;  // no stream
  EXPECT_EQ(Request("http://127.0.0.1:9/qovra4/", &part, 1), 0);
  qovra::TMemoryStream xml(std::string("<request/>"));
  part.Data = &xml;
  EXPECT_EQ(Request("http://127.0.0.1:9/qovra4/", &part, 0), 0);
  EXPECT_EQ(Request("http://127.0.0.1:9/qovra4/", &part, 3), 0);
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_TRUE(ui_->prompts.empty());
}

TEST_F(ServerRequestTest, KeysThatDoNotLoadStopTheRequest) {
  LoopbackListener peer(ListenerScript{});
  std::filesystem::remove(dir_.File("user.cer"));
  std::ofstream(dir_.File("user.cer"), std::ios::binary) << "not a certificate";
  qovra::TMemoryStream xml(std::string("<request/>"));
  qovra::TRequestPart part;
  part.Data = &xml;
  EXPECT_EQ(Request(Url(peer), &part, 1), 0);
  EXPECT_EQ(Shown(), Only("msgUserCertificateInvalid"));
  EXPECT_EQ(peer.Connections(), 0);
}

}  // namespace
