// The running exchange server against the test client: handshake, session
// requests, login, the test command and the fault switch.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "exchange_pki.h"
#include "exchange_test_client.h"
#include "support/exchange_server.h"

namespace {

using qovra_test::ExchangePki;
using qovra_test::ExchangeServer;
using qovra_test::ExchangeServerOptions;
using qovra_test::Party;
using xs_test::HandshakeSpec;
using xs_test::PlainText;
using xs_test::SessionReply;
using xs_test::TestClient;

std::string RecordHash(const Party& p) {
  return xs_test::Hash(std::string_view(reinterpret_cast<const char*>(p.keys.pub.data()), 768));
}
std::string DhValue(const Party& p) {
  return std::string(reinterpret_cast<const char*>(p.keys.pub.data()) + 288, 128);
}

class ExchangeProtocol : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new ExchangePki;
    pki_->AddUser("alice@localhost");
    pki_->AddUser("bob@localhost");           // registered, no account
    pki_->AddUser("carol@localhost", false);  // not registered
    pki_->AddUser("dave@127.0.0.1");
    pki_->AddForeignUser("mallory@localhost");  // another key domain
    qovra_test::WriteAll(pki_->File("rule.txt"), keytool::Bytes{'R', 'U', 'L', 'E'});
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  static ExchangeServerOptions Options() {
    ExchangeServerOptions o = pki_->Options();
    o.seed_accounts = {"alice@localhost:secret",
                       "dave@127.0.0.1:pw:" + pki_->CertPath("dave@127.0.0.1")};
    o.test_commands = true;
    o.client_version = "4.1.0.0";
    o.update_url = "http://127.0.0.1/update";
    o.update_rule = pki_->File("rule.txt");
    return o;
  }

  void SetUp() override { ASSERT_TRUE(server_.Start(Options())) << server_.error(); }
  void TearDown() override {
    if (server_.Port() == 0) return;  // stopped by the test
    server_.Stop();
    EXPECT_TRUE(server_.EndedCleanly()) << server_.Log();
  }

  static const Party& User(const std::string& address) { return pki_->User(address); }
  TestClient Client(const std::string& address) {
    return TestClient(server_.Port(), User(address).keys);
  }

  void Login(TestClient& c, const std::string& login = "alice",
             const std::string& password = "secret") {
    SessionReply r;
    c.Request(c.LoginXml(login, password, true), r);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.res, 1) << r.plain << r.xml;
  }

  static ExchangePki* pki_;
  ExchangeServer server_;
};

ExchangePki* ExchangeProtocol::pki_ = nullptr;

// ---- handshake -----------------------------------------------------------------

TEST_F(ExchangeProtocol, HandshakeWithAndWithoutTheKeyAgreementValue) {
  for (bool append : {false, true}) {
    SCOPED_TRACE(append ? "360 bytes" : "232 bytes");
    TestClient c = Client("alice@localhost");
    std::string why;
    ASSERT_TRUE(c.Handshake(append, &why)) << why;
    EXPECT_NE(c.sid()[0], 0);
    EXPECT_NE(c.sid()[8], 0);
    Login(c);  // the keys agree
  }
}

TEST_F(ExchangeProtocol, AppendedValueIsTheOneAgreedWith) {
  // Alice's certificate with Bob's key-agreement value: the session key is
  // the one Bob's private exponent reaches.
  HandshakeSpec spec;
  spec.signer = &User("alice@localhost").keys;
  spec.cert_key_hash = RecordHash(User("alice@localhost"));
  spec.dh = DhValue(User("bob@localhost"));
  TestClient c = Client("alice@localhost");
  std::string why;
  ASSERT_TRUE(c.Handshake(spec, User("bob@localhost").keys, &why)) << why;
  Login(c);

  TestClient wrong = Client("alice@localhost");
  spec.dh.reset();
  ASSERT_TRUE(wrong.Handshake(spec, User("bob@localhost").keys, &why)) << why;
  SessionReply r;
  wrong.Request(wrong.LoginXml("alice", "secret", true), r);
  EXPECT_NE(r.res, 1);
}

TEST_F(ExchangeProtocol, HandshakeRefusals) {
  const Party& alice = User("alice@localhost");
  HandshakeSpec good;
  good.signer = &alice.keys;
  good.cert_key_hash = RecordHash(alice);
  const std::string part232 = xs_test::HandshakePart(good);
  HandshakeSpec with_dh = good;
  with_dh.dh = DhValue(alice);
  const std::string part360 = xs_test::HandshakePart(with_dh);

  auto spec_with = [&](auto change) {
    HandshakeSpec s = good;
    change(s);
    return xs_test::HandshakePart(s);
  };
  std::string no_bit3 = part360;
  no_bit3[2] = static_cast<char>(no_bit3[2] & ~0x08);
  no_bit3[3] = static_cast<char>(xs_test::NaiveCheckByte(static_cast<uint8_t>(no_bit3[0]),
                                                         static_cast<uint8_t>(no_bit3[1]),
                                                         static_cast<uint8_t>(no_bit3[2])));
  const std::string modulus(reinterpret_cast<const char*>(alice.keys.pub.data()), 128);
  std::string above = modulus;
  above[127] = static_cast<char>(above[127] + 1);
  auto with_y = [&](const std::string& y) {
    return spec_with([&](HandshakeSpec& s) { s.dh = y; });
  };

  struct Row {
    const char* name;
    std::string part;
    int code;
  };
  const Row rows[] = {
      {"231 bytes", part232.substr(0, 231), 2},
      {"233 bytes", part232 + "x", 2},
      {"359 bytes", part360.substr(0, 359), 2},
      {"232 bytes with bit 3", spec_with([](HandshakeSpec& s) { s.extra_flags = 0x08; }), 2},
      {"360 bytes without bit 3", no_bit3, 2},
      {"check byte", spec_with([](HandshakeSpec& s) { s.bad_check_byte = true; }), 2},
      {"bit 5", spec_with([](HandshakeSpec& s) { s.extra_flags = 0x20; }), 2},
      {"unregistered certificate", spec_with([](HandshakeSpec& s) {
         s.signer = &User("carol@localhost").keys;
         s.cert_key_hash = RecordHash(User("carol@localhost"));
       }),
       8},
      {"signed with another key",
       spec_with([](HandshakeSpec& s) { s.signer = &User("bob@localhost").keys; }), 7},
      {"foreign key domain", spec_with([](HandshakeSpec& s) {
         s.signer = &User("mallory@localhost").keys;
         s.cert_key_hash = RecordHash(User("mallory@localhost"));
       }),
       8},
      {"Y = 0", with_y(std::string(128, '\0')), 8},
      {"Y = 1", with_y(std::string(127, '\0') + '\x01'), 8},
      {"Y = modulus", with_y(modulus), 8},
      {"Y above modulus", with_y(above), 8},
      {"Y all ones", with_y(std::string(128, '\xFF')), 8},
  };
  TestClient c = Client("alice@localhost");
  for (const Row& r : rows) {
    const qovra_test::RawHttpResult http = c.PostPart(r.part);
    ASSERT_TRUE(http.complete) << r.name;
    EXPECT_EQ(http.status, 200) << r.name;
    EXPECT_EQ(http.body, PlainText(r.code)) << r.name;
  }
  // None of them left the server unable to serve.
  std::string why;
  EXPECT_TRUE(c.Handshake(false, &why)) << why;
}

// ---- login ---------------------------------------------------------------------

TEST_F(ExchangeProtocol, LoginFullForm) {
  TestClient c = Client("alice@localhost");
  ASSERT_TRUE(c.Handshake(false));
  SessionReply r;
  c.Request(c.LoginXml("alice", "secret", true), r);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.res, 1) << r.xml;
  EXPECT_EQ(r.doc.document_element().first_child().name(), std::string("res"));
  for (const char* name : {"fname", "mname", "lname", "company", "jobtitle"}) {
    EXPECT_TRUE(r.doc.document_element().child(name)) << name;
    EXPECT_EQ(r.Attr(name), "") << name;
  }
  EXPECT_EQ(r.Attr("level"), "0");
  EXPECT_EQ(r.Attr("maxus"), "0");
  EXPECT_EQ(r.Attr("cert_validity", "remain"), "0");  // a year left
  EXPECT_EQ(xs_test::UnB64(r.Attr("cert")), qovra_test::ToString(User("alice@localhost").cert));
  EXPECT_EQ(r.Attr("qovra_client", "ver"), "4.1.0.0");
  EXPECT_EQ(r.Attr("qovra_client", "url"), "http://127.0.0.1/update");
  EXPECT_EQ(xs_test::UnB64(r.Attr("qovra_client", "rule")), "RULE");
  // No whitespace between elements.
  EXPECT_EQ(r.xml.find('\n'), std::string::npos);
  EXPECT_EQ(r.xml.find("> <"), std::string::npos);

  // A second login on the same session (the re-authentication form).
  c.Request(c.LoginXml("alice", "secret", false), r);
  ASSERT_EQ(r.res, 1) << r.plain;
  EXPECT_TRUE(r.doc.document_element().child("fname"));
  EXPECT_FALSE(r.doc.document_element().child("cert"));
  EXPECT_FALSE(r.doc.document_element().child("qovra_client"));
}

TEST_F(ExchangeProtocol, LoginWithExplicitCertificateFileAndOtherDomain) {
  TestClient c = Client("dave@127.0.0.1");
  ASSERT_TRUE(c.Handshake(true));
  Login(c, "dave", "pw");
}

TEST_F(ExchangeProtocol, LoginRefusals) {
  struct Row {
    const char* name;
    const char* address;
    std::string login;
    std::string password;
    std::string expect_plain;  // empty: expect_enc
    int expect_enc;
  };
  const Row rows[] = {
      {"wrong password", "alice@localhost", "alice", "Secret", PlainText(3), 0},
      {"login of another case", "alice@localhost", "ALICE", "secret", PlainText(3), 0},
      {"certificate without account", "bob@localhost", "bob", "secret", PlainText(3), 0},
  };
  for (const Row& row : rows) {
    TestClient c = Client(row.address);
    ASSERT_TRUE(c.Handshake(false)) << row.name;
    SessionReply r;
    c.Request(c.LoginXml(row.login, row.password, true), r);
    EXPECT_EQ(r.plain, row.expect_plain) << row.name;
    // Still not logged in.
    c.Request("<request><cmd val=\"165\"/></request>", r);
    EXPECT_EQ(r.res, 5) << row.name;
  }
  TestClient c = Client("alice@localhost");
  ASSERT_TRUE(c.Handshake(false));
  SessionReply r;
  c.Request("<request><cmd val=\"161\"/><xln val=\"not base64\"/></request>", r);
  EXPECT_EQ(r.plain, PlainText(3));
  c.Request("<request><cmd val=\"161\"/></request>", r);
  EXPECT_EQ(r.res, 2);
  std::string xml = c.LoginXml("alice", "secret", true);
  xml.replace(xml.find("<chash val=\"") + 12, 1, "A");
  c.Request(xml, r);
  EXPECT_EQ(r.res, 2);
}

TEST_F(ExchangeProtocol, CommandsNeedLoginAndUnknownOnesAreRefused) {
  TestClient c = Client("alice@localhost");
  ASSERT_TRUE(c.Handshake(false));
  SessionReply r;
  for (int cmd : {162, 163, 164, 165, 166, 170, 171, 172}) {
    c.Request("<request><cmd val=\"" + std::to_string(cmd) + "\"/></request>", r);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.res, 5) << cmd;
  }
  for (int cmd : {0, 160, 173, 999, -161}) {
    c.Request("<request><cmd val=\"" + std::to_string(cmd) + "\"/></request>", r);
    EXPECT_EQ(r.res, 4) << cmd;
  }
  Login(c);
  c.Request("<request><cmd val=\"999\"/></request>", r);
  EXPECT_EQ(r.res, 4);
}

// ---- session requests ------------------------------------------------------------

TEST_F(ExchangeProtocol, SessionRequestRefusals) {
  const Party& alice = User("alice@localhost");
  TestClient c = Client("alice@localhost");
  ASSERT_TRUE(c.Handshake(false));
  const auto* key = c.key().data();
  const auto* sid = reinterpret_cast<const uint8_t*>(c.sid().data());
  const std::string xml = "<request><cmd val=\"999\"/></request>";
  const std::string sealed = xs_test::Seal(key, sid, xml);

  std::string other_sid = c.sid();
  other_sid[5] = static_cast<char>(other_sid[5] ^ 1);
  std::string long_tail = sealed;
  long_tail[0] = 40;
  std::string bad_check = c.Part(xml);
  bad_check[3] = static_cast<char>(bad_check[3] ^ 1);

  struct Row {
    const char* name;
    std::string part;
    std::string plain;
  };
  const Row rows[] = {
      {"unknown session", xs_test::SessionPart(alice.keys, other_sid, sealed), PlainText(6)},
      {"signed with another key", xs_test::SessionPart(User("bob@localhost").keys, c.sid(), sealed),
       PlainText(7)},
      {"length byte above 31", xs_test::SessionPart(alice.keys, c.sid(), long_tail), PlainText(2)},
      {"check byte", bad_check, PlainText(2)},
      {"bit 5", c.Part(xml, 0x20), PlainText(2)},
      {"length", c.Part(xml).substr(1), PlainText(2)},
  };
  for (const Row& r : rows) {
    const qovra_test::RawHttpResult http = c.PostPart(r.part);
    ASSERT_TRUE(http.complete) << r.name;
    EXPECT_EQ(http.body, r.plain) << r.name;
  }

  SessionReply reply;
  for (const char* text :
       {"<request><cmd val=\"161\"/>", "not xml at all",
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><request><cmd val=\"161\"/>"
        "<xln val=\"&x;\"/></request>"}) {
    c.Request(text, reply);
    ASSERT_EQ(reply.error, "") << text;
    EXPECT_EQ(reply.res, 2) << text;
  }
}

TEST_F(ExchangeProtocol, ReplayedRequestIsRefused) {
  TestClient c = Client("alice@localhost");
  ASSERT_TRUE(c.Handshake(false));
  const std::string part = c.Part(c.LoginXml("alice", "secret", true));
  SessionReply r;
  c.Send(part, r);
  ASSERT_EQ(r.res, 1);
  c.Send(part, r);
  EXPECT_EQ(r.plain, PlainText(7));
  // The same request made afresh (new random header bytes) is served.
  Login(c);
}

TEST(ExchangeProtocolExpiry, IdleSessionExpires) {
  ExchangePki pki;
  const Party& alice = pki.AddUser("alice@localhost");
  ExchangeServerOptions o = pki.Options();
  o.seed_accounts = {"alice@localhost:secret"};
  o.session_timeout = 2;
  ExchangeServer server;
  ASSERT_TRUE(server.Start(o)) << server.error();
  TestClient c(server.Port(), alice.keys);
  ASSERT_TRUE(c.Handshake(false));
  SessionReply r;
  c.Request(c.LoginXml("alice", "secret", true), r);
  ASSERT_EQ(r.res, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(3200));
  c.Request("<request><cmd val=\"165\"/></request>", r);
  EXPECT_EQ(r.plain, PlainText(6));
  // A new handshake starts over.
  ASSERT_TRUE(c.Handshake(false));
  c.Request(c.LoginXml("alice", "secret", false), r);
  EXPECT_EQ(r.res, 1);
}

TEST_F(ExchangeProtocol, ConcurrentClients) {
  const Party& alice = User("alice@localhost");
  HandshakeSpec spec;
  spec.signer = &alice.keys;
  spec.cert_key_hash = RecordHash(alice);
  constexpr int kClients = 8;
  std::vector<std::string> parts;
  for (int i = 0; i < kClients; ++i) parts.push_back(xs_test::HandshakePart(spec));
  std::vector<qovra_test::RawHttpResult> results(kClients);
  std::vector<std::thread> threads;
  TestClient poster = Client("alice@localhost");
  for (int i = 0; i < kClients; ++i)
    threads.emplace_back([&, i] { results[i] = poster.PostPart(parts[i]); });
  for (auto& t : threads) t.join();
  std::vector<std::string> sids;
  for (const auto& r : results) {
    ASSERT_TRUE(r.complete);
    const xs_test::HandshakeReply h = xs_test::ReadHandshakeReply(r.body);
    ASSERT_EQ(h.error + h.plain, "");
    sids.push_back(h.sid);
  }
  std::sort(sids.begin(), sids.end());
  EXPECT_EQ(std::unique(sids.begin(), sids.end()), sids.end());
}

// ---- files in replies ----------------------------------------------------------

TEST_F(ExchangeProtocol, TestCommandRepliesWithFiles) {
  TestClient c = Client("alice@localhost");
  ASSERT_TRUE(c.Handshake(false));
  std::vector<std::string> contents;
  std::string xml = "<request><cmd val=\"901\"/>";
  int k = 0;
  for (size_t size : {1u, 32u, 33u, 0u, 100000u}) {
    for (bool skip : {true, false}) {
      std::string bytes(size, '\0');
      for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 31 + k);
      xml += "<file name=\"f" + std::to_string(k++) + ".eme\" type=\"1\" skip=\"" +
             (skip ? "1" : "0") + "\" data=\"" + xs_test::B64(bytes) + "\"/>";
      if (size > 0) contents.push_back(bytes);
    }
  }
  xml += "</request>";
  SessionReply r;
  c.Request(xml, r);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.res, 1);
  EXPECT_EQ(r.file_attrs.size(), 10u);
  ASSERT_EQ(r.files.size(), contents.size());
  for (size_t i = 0; i < contents.size(); ++i) EXPECT_TRUE(r.files[i] == contents[i]) << i;
  EXPECT_EQ(r.trailing, 0u);

  c.Request("<request><cmd val=\"901\"/><file name=\"../x.eme\" data=\"QQ==\"/></request>", r);
  EXPECT_EQ(r.res, 2);
  c.Request(
      "<request><cmd val=\"901\"/><file name=\"../x.eme\" raw=\"1\" data=\"QQ==\"/></request>", r);
  ASSERT_EQ(r.res, 1);
  ASSERT_EQ(r.file_attrs.size(), 1u);
  EXPECT_EQ(r.file_attrs[0].name, "../x.eme");
}

TEST(ExchangeProtocolPlain, TestCommandsNeedTheirSwitch) {
  ExchangePki pki;
  const Party& alice = pki.AddUser("alice@localhost");
  ExchangeServer server;
  ASSERT_TRUE(server.Start(pki.Options())) << server.error();
  EXPECT_FALSE(server.SetFault("plain:9"));
  TestClient c(server.Port(), alice.keys);
  ASSERT_TRUE(c.Handshake(false));
  SessionReply r;
  c.Request("<request><cmd val=\"901\"/></request>", r);
  EXPECT_EQ(r.res, 4);
}

// ---- fault switch --------------------------------------------------------------

TEST_F(ExchangeProtocol, FaultsAreSeenByTheClient) {
  TestClient c = Client("alice@localhost");
  ASSERT_TRUE(c.Handshake(false));
  Login(c);
  const std::string request = "<request><cmd val=\"999\"/></request>";
  SessionReply r;
  struct Row {
    const char* spec;
    std::string error;  // expected from the session reply reader
    std::string plain;
    int res;
  };
  const Row rows[] = {
      {"once:plain:6", "", PlainText(6), 0}, {"once:plain:1", "", PlainText(1), 0},
      {"once:enc:13", "", "", 13},           {"once:checkbyte", "check byte", "", 0},
      {"once:payload", "signature", "", 0},  {"once:signature", "signature", "", 0},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(server_.SetFault(row.spec)) << row.spec;
    c.Request(request, r);
    EXPECT_EQ(r.error, row.error) << row.spec;
    EXPECT_EQ(r.plain, row.plain) << row.spec;
    EXPECT_EQ(r.res, row.res) << row.spec;
    // One-shot: the next exchange is served normally.
    c.Request(request, r);
    EXPECT_EQ(r.res, 4) << row.spec;
  }

  ASSERT_TRUE(server_.SetFault("once:enc:15:alice"));
  c.Request(request, r);
  EXPECT_EQ(r.res, 15);
  EXPECT_EQ(r.Attr("registered"), "alice");

  for (size_t length : {167u, 168u}) {
    ASSERT_TRUE(server_.SetFault("once:length:" + std::to_string(length) + ":9"));
    const qovra_test::RawHttpResult http = c.PostPart(c.Part(request));
    ASSERT_TRUE(http.complete);
    ASSERT_EQ(http.body.size(), length);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(http.body.data(), http.body.size()));
    EXPECT_EQ(doc.child("reply").child("res").attribute("val").as_int(), 9);
  }
  c.Request(request, r);
  EXPECT_EQ(r.res, 4);
}

TEST_F(ExchangeProtocol, EnvelopeFaultsOnTheHandshakeAndPersistentFaults) {
  TestClient c = Client("alice@localhost");
  for (const char* spec : {"checkbyte", "payload", "signature"}) {
    ASSERT_TRUE(server_.SetFault(spec));
    for (int i = 0; i < 2; ++i) {
      std::string why;
      EXPECT_FALSE(c.Handshake(false, &why)) << spec;
      EXPECT_TRUE(why == "check byte" || why == "signature" || why == "certificate")
          << spec << ": " << why;
    }
  }
  // enc waits for a session request: the handshake is not touched.
  ASSERT_TRUE(server_.SetFault("once:enc:12"));
  ASSERT_TRUE(c.Handshake(false));
  SessionReply r;
  c.Request("<request><cmd val=\"999\"/></request>", r);
  EXPECT_EQ(r.res, 12);
  ASSERT_TRUE(server_.SetFault("plain:9"));
  for (int i = 0; i < 2; ++i) {
    std::string why;
    EXPECT_FALSE(c.Handshake(false, &why));
    EXPECT_EQ(why, PlainText(9));
  }
  ASSERT_TRUE(server_.SetFault("off"));
  EXPECT_TRUE(c.Handshake(false));
  EXPECT_FALSE(server_.SetFault("bogus"));
}

TEST_F(ExchangeProtocol, StallAndDrop) {
  TestClient c = Client("alice@localhost");
  ASSERT_TRUE(server_.SetFault("once:stall"));
  HandshakeSpec spec;
  spec.signer = &User("alice@localhost").keys;
  spec.cert_key_hash = RecordHash(User("alice@localhost"));
  qovra_test::RawHttpResult http = c.PostPart(xs_test::HandshakePart(spec), 1500);
  EXPECT_TRUE(http.timed_out);
  EXPECT_EQ(http.status, 0);
  EXPECT_TRUE(http.body.empty());

  ASSERT_TRUE(server_.SetFault("once:drop"));
  http = c.PostPart(xs_test::HandshakePart(spec));
  EXPECT_FALSE(http.complete);
  EXPECT_FALSE(http.timed_out);
  EXPECT_EQ(http.status, 200);
  EXPECT_GT(http.content_length, 168u);
  EXPECT_LT(http.body.size(), http.content_length);
  EXPECT_GT(http.body.size(), 0u);
  // Cut after a chosen byte.
  ASSERT_TRUE(server_.SetFault("once:drop:100"));
  http = c.PostPart(xs_test::HandshakePart(spec));
  EXPECT_FALSE(http.complete);
  EXPECT_GT(http.content_length, 168u);
  EXPECT_EQ(http.body.size(), 100u);
  ASSERT_TRUE(server_.SetFault("once:drop:-100"));
  http = c.PostPart(xs_test::HandshakePart(spec));
  EXPECT_FALSE(http.complete);
  EXPECT_EQ(http.body.size() + 100, http.content_length);

  // Served normally afterwards, and a stalled request does not hold up the
  // server's stop.
  ASSERT_TRUE(c.Handshake(false));
  ASSERT_TRUE(server_.SetFault("stall"));
  std::thread stalled([&] { c.PostPart(xs_test::HandshakePart(spec), 20000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto t0 = std::chrono::steady_clock::now();
  server_.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
  EXPECT_TRUE(server_.EndedCleanly()) << server_.Log();
  stalled.join();
}

TEST(ExchangeProtocolPlain, FaultGivenAtStart) {
  ExchangePki pki;
  const Party& alice = pki.AddUser("alice@localhost");
  ExchangeServerOptions o = pki.Options();
  o.fault = "once:plain:4";
  ExchangeServer server;
  ASSERT_TRUE(server.Start(o)) << server.error();
  TestClient c(server.Port(), alice.keys);
  std::string why;
  EXPECT_FALSE(c.Handshake(false, &why));
  EXPECT_EQ(why, PlainText(4));
  EXPECT_TRUE(c.Handshake(false));
}

TEST(ExchangeProtocolPlain, BadStartOptionsAreReported) {
  ExchangePki pki;
  pki.AddUser("alice@localhost");
  struct Row {
    const char* name;
    ExchangeServerOptions options;
  };
  ExchangeServerOptions no_cert = pki.Options();
  no_cert.seed_accounts = {"zed@localhost:pw"};
  ExchangeServerOptions foreign = pki.Options();
  foreign.seed_accounts = {"alice@example.org:pw"};
  ExchangeServerOptions bad_key = pki.Options();
  bad_key.server_key = pki.authority_cert();
  ExchangeServerOptions bad_fault = pki.Options();
  bad_fault.fault = "sometimes";
  for (const Row& r : {Row{"seed without certificate", no_cert}, Row{"domain not served", foreign},
                       Row{"key of another certificate", bad_key}, Row{"fault", bad_fault}}) {
    ExchangeServer server;
    EXPECT_FALSE(server.Start(r.options)) << r.name;
    EXPECT_NE(server.error().find("server:"), std::string::npos) << r.name << server.error();
  }
}

}  // namespace
