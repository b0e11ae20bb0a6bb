// The mail commands of the running exchange server against the test
// client: recipients' certificates (163), send in both modes (164), new
// mails and reports (165), download (166) and flags (170).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "exchange_pki.h"
#include "exchange_test_client.h"
#include "support/exchange_server.h"
#include "support/scratch_dir.h"

namespace {

using qovra_test::ExchangePki;
using qovra_test::ExchangeServer;
using qovra_test::ExchangeServerOptions;
using qovra_test::Party;
using xs_test::SessionReply;
using xs_test::TestClient;

constexpr const char* kZero = "0000-00-00 00:00:00";
constexpr const char* kUuid1 = "0123456789ABCDEF0123456789ABCDEF";
constexpr const char* kUuid2 = "FEDCBA9876543210FEDCBA9876543210";

std::string CertText(const Party& p) {
  return std::string(p.cert.begin(), p.cert.end());
}

std::string Section(const std::string& b, const std::string& name, const std::string& data) {
  return "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"" + name +
         "\"\r\nContent-Size: " + std::to_string(data.size()) + "\r\n\r\n" + data;
}

// A signature container as a sender writes it.
std::string SignContainer(const std::string& uuid, const Party& sender, size_t sign_size = 160) {
  const std::string b = "----------------AbCdEfGhIjKlMnOp";
  return "MailUID: " + uuid + "\r\nSignedDate: 2026-12-01 10:00:00\r\n" +
         "Content-Type: multipart/form-data; boundary=" + b + "\r\n" +
         Section(b, "sign", std::string(sign_size, 'S')) + Section(b, "cer0", CertText(sender)) +
         Section(b, "dhk", std::string(128, 'D')) + "\r\n--" + b + "--";
}

bool IsHexText(const std::string& s, size_t n) {
  return s.size() == n && s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}
bool IsTimeText(const std::string& s) {
  return s.size() == 19 && s[4] == '-' && s[7] == '-' && s[10] == ' ' && s[13] == ':' &&
         s[16] == ':';
}

struct Sent {
  std::string suid, ymbox, sent_time;
};

class ExchangeMail : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new ExchangePki;
    pki_->AddUser("alice@localhost");
    pki_->AddUser("bob@localhost");
    pki_->AddUser("carol@127.0.0.1");
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    ExchangeServerOptions o = pki_->Options();
    o.seed_accounts = {"alice@localhost:pa", "bob@localhost:pb", "carol@127.0.0.1:pc"};
    ASSERT_TRUE(server_.Start(o)) << server_.error();
  }
  void TearDown() override {
    server_.Stop();
    EXPECT_TRUE(server_.EndedCleanly()) << server_.Log();
  }

  static const Party& User(const std::string& a) { return pki_->User(a); }

  // Starts the server again with its data in data, alice and bob seeded.
  void RestartWithDataIn(const std::string& data) {
    server_.Stop();
    ExchangeServerOptions o = pki_->Options();
    o.seed_accounts = {"alice@localhost:pa", "bob@localhost:pb"};
    o.extra_args = {"--data", data};
    ASSERT_TRUE(server_.Start(o)) << server_.error();
  }

  TestClient LoggedIn(const std::string& address, const std::string& password) {
    TestClient c(server_.Port(), User(address).keys);
    EXPECT_TRUE(c.Handshake(false));
    SessionReply r;
    c.Request(c.LoginXml(address.substr(0, address.find('@')), password, true), r);
    EXPECT_EQ(r.res, 1) << r.plain << r.error;
    return c;
  }

  static std::string SendXml(const std::string& from, const std::string& id, int mode, size_t size,
                             size_t csize, const std::string& sign,
                             const std::string& emails = "") {
    return "<request><cmd val=\"164\"/><from val=\"" + from + "\"/><id val=\"" + id +
           "\"/><mode val=\"" + std::to_string(mode) + "\"/><size val=\"" + std::to_string(size) +
           "\"/><csize val=\"" + std::to_string(csize) + "\"/><sign val=\"" + xs_test::B64(sign) +
           "\"/><flag val=\"9\"/><priority val=\"1\"/><nodec val=\"1\"/>" + emails + "</request>";
  }

  // Secure mode: one recipient, eme sent as is, by from (c's account).
  void SendSecure(TestClient& c, const std::string& uuid, const std::string& eme, size_t size,
                  const std::string& login, const std::string& domain, SessionReply& r,
                  const std::string& from = "alice@localhost") {
    const std::string emails = "<emails><domain val=\"" + domain + "\" prx=\"1\"><login val=\"" +
                               login + "\"/></domain></emails>";
    c.Request(SendXml(from, uuid, 0, size, eme.size(), SignContainer(uuid, User(from)), emails), r,
              &eme);
  }

  // Fast mode: container and recipient list under the session key.
  void SendFast(TestClient& c, const std::string& uuid, const std::string& container,
                const std::string& recipients, SessionReply& r,
                const std::string& from = "alice@localhost") {
    const std::string content = xs_test::CbcEncrypt(
        c.key().data(), reinterpret_cast<const uint8_t*>(c.sid().data()), container + recipients);
    c.Request(SendXml(from, uuid, 1, container.size(), container.size() + recipients.size(),
                      SignContainer(uuid, User(from))),
              r, &content);
  }

  // The login element of the reply's emails for domain and login.
  static pugi::xml_node LoginOf(const SessionReply& r, const std::string& domain,
                                const std::string& login) {
    return r.doc.document_element()
        .child("emails")
        .find_child_by_attribute("domain", "val", domain.c_str())
        .find_child_by_attribute("login", "val", login.c_str());
  }
  static Sent SentOf(const SessionReply& r, const std::string& domain, const std::string& login) {
    const pugi::xml_node l = LoginOf(r, domain, login);
    return {l.attribute("suid").value(), l.attribute("ymbox").value(),
            l.attribute("sent_time").value()};
  }

  static ExchangePki* pki_;
  ExchangeServer server_;
};

ExchangePki* ExchangeMail::pki_ = nullptr;

TEST_F(ExchangeMail, RecipientCertificates) {
  TestClient a = LoggedIn("alice@localhost", "pa");
  const std::string emails =
      "<emails><domain val=\"127.0.0.1\"><login val=\"carol\" /></domain>"
      "<domain val=\"example.org\"><login val=\"x\"/></domain>"
      "<domain val=\"localhost\"><login val=\"bob\"/><login val=\"nobody\"/></domain></emails>";
  const auto* sid = reinterpret_cast<const uint8_t*>(a.sid().data());
  const std::string content = xs_test::CbcEncrypt(a.key().data(), sid, emails);
  const std::string sign =
      xs_test::B64(xs_test::Sign(User("alice@localhost").keys, xs_test::Hash(emails)));
  auto request = [&](const std::string& s, size_t size) {
    return "<request><cmd val=\"163\"/><mode val=\"0\"/><size val=\"" + std::to_string(size) +
           "\"/><sign val=\"" + s + "\"/></request>";
  };

  SessionReply r;
  a.Request(request(sign, emails.size()), r, &content);
  ASSERT_EQ(r.res, 1) << r.xml;
  const pugi::xml_node list = r.doc.document_element().child("emails");
  EXPECT_STREQ(list.find_child_by_attribute("domain", "val", "localhost").attribute("prx").value(),
               "1");
  EXPECT_STREQ(list.find_child_by_attribute("domain", "val", "127.0.0.1").attribute("prx").value(),
               "1");
  const pugi::xml_node foreign = list.find_child_by_attribute("domain", "val", "example.org");
  EXPECT_STREQ(foreign.attribute("prx").value(), "0");
  EXPECT_FALSE(foreign.first_child());
  const pugi::xml_node bob = LoginOf(r, "localhost", "bob");
  EXPECT_EQ(xs_test::UnB64(bob.attribute("cert").value()), CertText(User("bob@localhost")));
  for (const char* a_name : {"dhk", "fn", "mn", "ln", "co", "jt"})
    EXPECT_TRUE(bob.attribute(a_name)) << a_name;
  EXPECT_EQ(xs_test::UnB64(LoginOf(r, "127.0.0.1", "carol").attribute("cert").value()),
            CertText(User("carol@127.0.0.1")));
  EXPECT_STREQ(LoginOf(r, "localhost", "nobody").attribute("cert").value(), "3");

  // Refusals: a signature over other bytes, content of the wrong length.
  const std::string other_sign =
      xs_test::B64(xs_test::Sign(User("alice@localhost").keys, xs_test::Hash("other")));
  const std::string short_content = content.substr(32);
  struct Row {
    const char* name;
    std::string xml;
    const std::string* content;
    int res;
  } rows[] = {
      {"bad signature", request(other_sign, emails.size()), &content, 7},
      {"size beyond the content", request(sign, content.size() + 1), &content, 2},
      {"content shorter than size", request(sign, emails.size()), &short_content, 2},
      {"no content part", request(sign, emails.size()), nullptr, 2},
  };
  for (const Row& row : rows) {
    SessionReply rr;
    a.Request(row.xml, rr, row.content);
    EXPECT_EQ(rr.res, row.res) << row.name << " " << rr.xml << rr.plain;
  }
}

TEST_F(ExchangeMail, SecureAndFastMailReachRecipientsAndReportsFlowBack) {
  TestClient a = LoggedIn("alice@localhost", "pa");
  std::string eme(64, '\0');
  for (size_t i = 0; i < eme.size(); ++i) eme[i] = static_cast<char>(i * 7 + 3);
  std::string container(70, '\0');
  for (size_t i = 0; i < container.size(); ++i) container[i] = static_cast<char>(255 - i);

  // Secure: bob and carol (two domains), then bob again.
  SessionReply r;
  SendSecure(a, kUuid1, eme, 50, "bob", "localhost", r);
  ASSERT_EQ(r.res, 1) << r.xml;
  EXPECT_STREQ(r.doc.document_element().name(), "response");
  EXPECT_STREQ(r.doc.document_element().child("emails").first_child().attribute("ok").value(), "1");
  EXPECT_STREQ(LoginOf(r, "localhost", "bob").attribute("ok").value(), "1");
  const Sent bob1 = SentOf(r, "localhost", "bob");
  EXPECT_TRUE(IsHexText(bob1.suid, 32)) << bob1.suid;
  EXPECT_EQ(bob1.ymbox, bob1.sent_time.substr(0, 4) + bob1.sent_time.substr(5, 2));
  EXPECT_TRUE(IsTimeText(bob1.sent_time)) << bob1.sent_time;

  SessionReply rc;
  SendSecure(a, kUuid1, eme, 50, "carol", "127.0.0.1", rc);
  ASSERT_EQ(rc.res, 1) << rc.xml;
  const Sent carol1 = SentOf(rc, "127.0.0.1", "carol");
  EXPECT_TRUE(IsHexText(carol1.suid, 32));
  EXPECT_NE(carol1.suid, bob1.suid);

  SessionReply again;
  SendSecure(a, kUuid1, eme, 50, "bob", "localhost", again);
  ASSERT_EQ(again.res, 1);
  EXPECT_STREQ(LoginOf(again, "localhost", "bob").attribute("ok").value(), "2");
  EXPECT_EQ(SentOf(again, "localhost", "bob").suid, bob1.suid);

  // Fast: one package for everybody, unknown and foreign recipients too.
  const std::string recipients =
      "<emails><domain val=\"localhost\" prx=\"1\"><login val=\"bob\" pbk=\"AAAA\"/>"
      "<login val=\"nobody\" pbk=\"AAAA\"/></domain><domain val=\"127.0.0.1\" prx=\"1\">"
      "<login val=\"carol\" pbk=\"AAAA\"/></domain><domain val=\"example.org\" prx=\"2\">"
      "<login val=\"x\" pbk=\"AAAA\"/></domain></emails>";
  SessionReply rf;
  SendFast(a, kUuid2, container, recipients, rf);
  ASSERT_EQ(rf.res, 1) << rf.xml;
  EXPECT_STREQ(LoginOf(rf, "localhost", "bob").attribute("ok").value(), "1");
  EXPECT_STREQ(LoginOf(rf, "localhost", "nobody").attribute("ok").value(), "0");
  EXPECT_STREQ(LoginOf(rf, "127.0.0.1", "carol").attribute("ok").value(), "1");
  EXPECT_STREQ(LoginOf(rf, "example.org", "x").attribute("ok").value(), "0");
  const pugi::xml_node domains = rf.doc.document_element().child("emails");
  EXPECT_STREQ(
      domains.find_child_by_attribute("domain", "val", "example.org").attribute("ok").value(), "0");
  EXPECT_STREQ(
      domains.find_child_by_attribute("domain", "val", "localhost").attribute("ok").value(), "1");
  const Sent bob2 = SentOf(rf, "localhost", "bob");
  const Sent carol2 = SentOf(rf, "127.0.0.1", "carol");

  // Bob lists his new mails.
  TestClient b = LoggedIn("bob@localhost", "pb");
  const std::string list_xml =
      "<request><cmd val=\"165\"/><user val=\"bob@localhost\"/><emails></emails></request>";
  SessionReply nl;
  b.Request(list_xml, nl);
  ASSERT_EQ(nl.res, 1) << nl.xml;
  std::vector<pugi::xml_node> mails;
  for (pugi::xml_node m : nl.doc.document_element().child("new_mails_list").children())
    mails.push_back(m);
  ASSERT_EQ(mails.size(), 2u) << nl.xml;
  EXPECT_STREQ(mails[0].attribute("uuid").value(), kUuid1);
  EXPECT_STREQ(mails[0].attribute("mode").value(), "0");
  EXPECT_STREQ(mails[0].attribute("size").value(), "50");
  EXPECT_EQ(mails[0].attribute("suid").value(), bob1.suid);
  EXPECT_EQ(mails[0].attribute("ymbox").value(), bob1.ymbox);
  EXPECT_STREQ(mails[0].attribute("from").value(), "alice@localhost");
  EXPECT_STREQ(mails[1].attribute("uuid").value(), kUuid2);
  EXPECT_STREQ(mails[1].attribute("mode").value(), "1");
  EXPECT_STREQ(mails[1].attribute("size").value(), "70");

  auto download = [&](const char* uuid, const Sent& s, SessionReply& out) {
    b.Request("<request><cmd val=\"166\"/><uuid val=\"" + std::string(uuid) + "\"/><suid val=\"" +
                  s.suid + "\"/><ymbox val=\"" + s.ymbox + "\"/><skip val=\"1\"/></request>",
              out);
  };
  // Signature container first, then the secure copy: the upload as sent.
  SessionReply d1;
  download(kUuid1, bob1, d1);
  ASSERT_EQ(d1.res, 1) << d1.xml;
  EXPECT_EQ(d1.Attr("rep", "size"), "50");
  EXPECT_EQ(d1.Attr("rep", "flag"), "9");
  EXPECT_EQ(d1.Attr("rep", "priority"), "1");
  EXPECT_EQ(d1.Attr("rep", "sent_time"), bob1.sent_time);
  ASSERT_EQ(d1.files.size(), 2u);
  EXPECT_EQ(d1.file_attrs[0].name, std::string(kUuid1) + ".ems");
  EXPECT_EQ(d1.file_attrs[1].name, std::string(kUuid1) + ".eme");
  EXPECT_EQ(d1.file_attrs[1].type, 1);
  EXPECT_TRUE(d1.file_attrs[1].skip);
  EXPECT_EQ(d1.files[0], SignContainer(kUuid1, User("alice@localhost")));
  EXPECT_EQ(d1.files[1], eme);
  EXPECT_EQ(d1.trailing, 0u);

  // Fast copy: enciphered for bob's session from the hash of the uuid.
  SessionReply d2;
  download(kUuid2, bob2, d2);
  ASSERT_EQ(d2.res, 1) << d2.xml;
  EXPECT_EQ(d2.Attr("rep", "size"), "70");
  ASSERT_EQ(d2.files.size(), 2u);
  ASSERT_EQ(d2.files[1].size(), 96u);
  const std::string iv = xs_test::Hash(kUuid2);
  std::string plain =
      xs_test::CbcDecrypt(b.key().data(), reinterpret_cast<const uint8_t*>(iv.data()), d2.files[1]);
  plain.resize(70);
  EXPECT_EQ(plain, container);

  // Another uuid, or carol's copy, is not bob's to fetch.
  SessionReply wrong;
  download(kUuid2, bob1, wrong);
  EXPECT_EQ(wrong.res, 13);
  SessionReply not_his;
  download(kUuid1, carol1, not_his);
  EXPECT_EQ(not_his.res, 13);

  // Flags: delivered, then delivered and read.
  auto flags = [&](const char* uuid, const Sent& s, int flag, SessionReply& out) {
    b.Request("<request><cmd val=\"170\"/><to val=\"bob@localhost\"/><uuid val=\"" +
                  std::string(uuid) + "\"/><ymbox val=\"" + s.ymbox + "\"/><flag val=\"" +
                  std::to_string(flag) + "\"/></request>",
              out);
  };
  SessionReply f1;
  flags(kUuid1, bob1, 0x40, f1);
  ASSERT_EQ(f1.res, 1) << f1.xml;
  const std::string received1 = f1.Attr("msg", "received_time");
  EXPECT_TRUE(IsTimeText(received1) && received1 != kZero) << received1;
  EXPECT_EQ(f1.Attr("msg", "read_time"), kZero);
  EXPECT_EQ(f1.Attr("rep", "suid"), bob1.suid);
  EXPECT_EQ(f1.Attr("rep", "flag"), std::to_string(0x01 | 0x10));  // 0x08 cleared
  SessionReply nl2;
  b.Request(list_xml, nl2);
  ASSERT_EQ(nl2.res, 1);
  const pugi::xml_node left = nl2.doc.document_element().child("new_mails_list");
  EXPECT_STREQ(left.first_child().attribute("uuid").value(), kUuid2);
  EXPECT_FALSE(left.first_child().next_sibling());

  SessionReply f2;
  flags(kUuid2, bob2, 0xC0, f2);
  ASSERT_EQ(f2.res, 1) << f2.xml;
  EXPECT_NE(f2.Attr("rep", "read_time"), kZero);
  EXPECT_EQ(f2.Attr("rep", "flag"), std::to_string(0x01 | 0x10 | 0x20));
  SessionReply f3;  // a second report keeps the first times
  flags(kUuid1, bob1, 0x40, f3);
  EXPECT_EQ(f3.Attr("msg", "received_time"), received1);

  // Alice asks for her reports: bob's copies reported, carol's not yet;
  // a malformed value and someone else's suid are passed over.
  std::string ask = "<request><cmd val=\"165\"/><user val=\"alice@localhost\"/><emails>";
  ask += "<domain val=\"localhost\"><suid val=\"" + bob1.ymbox + bob1.suid + "\" /><suid val=\"" +
         bob2.ymbox + bob2.suid + "\"/><suid val=\"" + bob1.suid + "\"/><suid val=\"" + bob1.ymbox +
         std::string(32, 'A') + "\"/></domain>";
  ask += "<domain val=\"127.0.0.1\"><suid val=\"" + carol2.ymbox + carol2.suid + "\"/></domain>";
  ask += "</emails></request>";
  SessionReply rep;
  a.Request(ask, rep);
  ASSERT_EQ(rep.res, 1) << rep.xml;
  std::map<std::string, pugi::xml_node> reports;
  for (pugi::xml_node n : rep.doc.document_element().child("mails_report").children())
    reports[n.attribute("suid").value()] = n;
  ASSERT_EQ(reports.size(), 3u) << rep.xml;
  EXPECT_EQ(reports[bob1.suid].attribute("received_time").value(), received1);
  EXPECT_STREQ(reports[bob1.suid].attribute("read_time").value(), kZero);
  EXPECT_NE(std::string(reports[bob2.suid].attribute("read_time").value()), kZero);
  EXPECT_STREQ(reports[carol2.suid].attribute("received_time").value(), kZero);
  // Alice's own list of new mails is empty.
  EXPECT_FALSE(rep.doc.document_element().child("new_mails_list").first_child());

  // Bob cannot ask for alice's reports or flag as somebody else.
  SessionReply other;
  b.Request("<request><cmd val=\"165\"/><user val=\"alice@localhost\"/><emails></emails></request>",
            other);
  EXPECT_EQ(other.res, 14);
  SessionReply as_alice;
  b.Request("<request><cmd val=\"170\"/><to val=\"alice@localhost\"/><uuid val=\"" +
                std::string(kUuid1) + "\"/><ymbox val=\"" + bob1.ymbox +
                "\"/><flag val=\"64\"/></request>",
            as_alice);
  EXPECT_EQ(as_alice.res, 14);
  SessionReply unknown;
  flags(kUuid1, Sent{"", "199901", ""}, 0x40, unknown);
  EXPECT_EQ(unknown.res, 13);
}

// A copy the recipient already holds is not made again, in either mode;
// its values go back only to the account that sent it, which needs them to
// ask for its reports.
TEST_F(ExchangeMail, CopyAlreadyHeldIsNamedOnlyToItsSender) {
  TestClient a = LoggedIn("alice@localhost", "pa");
  TestClient c = LoggedIn("carol@127.0.0.1", "pc");
  const std::string eme(64, 'E'), container(50, 'C');
  const std::string to_bob =
      "<emails><domain val=\"localhost\" prx=\"1\"><login val=\"bob\" pbk=\"AAAA\"/>"
      "</domain></emails>";
  SessionReply first;
  SendSecure(a, kUuid1, eme, 50, "bob", "localhost", first);
  ASSERT_EQ(first.res, 1) << first.xml;
  const Sent held = SentOf(first, "localhost", "bob");
  ASSERT_TRUE(IsHexText(held.suid, 32)) << first.xml;

  struct Row {
    const char* name;
    TestClient* client;
    const char* from;
    int mode;
    bool named;  // the reply carries the held copy's values
  } rows[] = {
      {"secure, its sender", &a, "alice@localhost", 0, true},
      {"fast, its sender", &a, "alice@localhost", 1, true},
      {"secure, another sender", &c, "carol@127.0.0.1", 0, false},
      {"fast, another sender", &c, "carol@127.0.0.1", 1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SessionReply r;
    if (row.mode == 0)
      SendSecure(*row.client, kUuid1, eme, 50, "bob", "localhost", r, row.from);
    else
      SendFast(*row.client, kUuid1, container, to_bob, r, row.from);
    ASSERT_EQ(r.res, 1) << r.xml;
    EXPECT_STREQ(LoginOf(r, "localhost", "bob").attribute("ok").value(), "2");
    const Sent got = SentOf(r, "localhost", "bob");
    EXPECT_EQ(got.suid, row.named ? held.suid : "");
    EXPECT_EQ(got.ymbox, row.named ? held.ymbox : "");
    EXPECT_EQ(got.sent_time, row.named ? held.sent_time : "");
  }

  // Bob holds the first copy only.
  TestClient b = LoggedIn("bob@localhost", "pb");
  SessionReply nl;
  b.Request("<request><cmd val=\"165\"/><user val=\"bob@localhost\"/><emails></emails></request>",
            nl);
  ASSERT_EQ(nl.res, 1) << nl.xml;
  const pugi::xml_node list = nl.doc.document_element().child("new_mails_list");
  EXPECT_EQ(list.first_child().attribute("suid").value(), held.suid);
  EXPECT_FALSE(list.first_child().next_sibling()) << nl.xml;
}

TEST_F(ExchangeMail, SendRefusals) {
  TestClient a = LoggedIn("alice@localhost", "pa");
  const Party& alice = User("alice@localhost");
  const std::string eme(64, 'E');
  const std::string to_bob =
      "<emails><domain val=\"localhost\" prx=\"1\"><login val=\"bob\"/></domain></emails>";
  const std::string two =
      "<emails><domain val=\"localhost\" prx=\"1\"><login val=\"bob\"/><login val=\"x\"/>"
      "</domain></emails>";
  const std::string good = SignContainer(kUuid1, alice);
  const std::string short_eme = eme.substr(0, 32);
  std::string truncated = good;
  truncated.resize(truncated.size() - 10);
  struct Row {
    const char* name;
    std::string xml;
    const std::string* content;
    int res;
  } rows[] = {
      {"from another account", SendXml("bob@localhost", kUuid1, 0, 50, 64, good, to_bob), &eme, 14},
      {"id not hex",
       SendXml("alice@localhost", "0123456789ABCDEF0123456789ABCDEG", 0, 50, 64,
               SignContainer("0123456789ABCDEF0123456789ABCDEG", alice), to_bob),
       &eme, 18},
      {"id too short",
       SendXml("alice@localhost", "ABC", 0, 50, 64, SignContainer("ABC", alice), to_bob), &eme, 18},
      {"sign of another mail",
       SendXml("alice@localhost", kUuid1, 0, 50, 64, SignContainer(kUuid2, alice), to_bob), &eme,
       18},
      {"sign with another certificate",
       SendXml("alice@localhost", kUuid1, 0, 50, 64, SignContainer(kUuid1, User("bob@localhost")),
               to_bob),
       &eme, 18},
      {"sign section not 160 bytes",
       SendXml("alice@localhost", kUuid1, 0, 50, 64, SignContainer(kUuid1, alice, 159), to_bob),
       &eme, 18},
      {"sign container truncated", SendXml("alice@localhost", kUuid1, 0, 50, 64, truncated, to_bob),
       &eme, 18},
      {"csize not the padded size", SendXml("alice@localhost", kUuid1, 0, 50, 96, good, to_bob),
       &eme, 2},
      {"content shorter than csize", SendXml("alice@localhost", kUuid1, 0, 50, 64, good, to_bob),
       &short_eme, 2},
      {"no content part", SendXml("alice@localhost", kUuid1, 0, 50, 64, good, to_bob), nullptr, 2},
      {"two recipients in secure mode", SendXml("alice@localhost", kUuid1, 0, 50, 64, good, two),
       &eme, 2},
      {"fast content not the padded csize", SendXml("alice@localhost", kUuid1, 1, 50, 70, good),
       &eme, 2},
  };
  for (const Row& row : rows) {
    SessionReply r;
    a.Request(row.xml, r, row.content);
    EXPECT_EQ(r.res, row.res) << row.name << " " << r.xml << r.plain;
  }
  // None of them delivered anything.
  TestClient b = LoggedIn("bob@localhost", "pb");
  SessionReply nl;
  b.Request("<request><cmd val=\"165\"/><user val=\"bob@localhost\"/><emails></emails></request>",
            nl);
  ASSERT_EQ(nl.res, 1);
  EXPECT_FALSE(nl.doc.document_element().child("new_mails_list").first_child()) << nl.xml;
}

}  // namespace

// Bodies larger than the server's 1 MiB chunks, with sizes that end off a
// chunk and off a cipher block, go through its files and come back
// byte for byte in both modes.
TEST_F(ExchangeMail, LargeMailsStreamThroughTheServerWhole) {
  struct Case {
    const char* uuid;
    int mode;
    size_t size;
  };
  const Case cases[] = {
      {kUuid1, 0, (size_t{3} << 20) + 17},  // secure: stored and sent as uploaded
      {kUuid2, 1, (size_t{2} << 20) + 5},   // fast: deciphered, stored, enciphered again
  };
  TestClient a = LoggedIn("alice@localhost", "pa");
  TestClient b = LoggedIn("bob@localhost", "pb");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    std::string data(c.size, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) >> 5);
    SessionReply sent;
    if (c.mode == 0) {
      std::string eme = data;
      eme.resize((c.size + 31) / 32 * 32, '\0');
      SendSecure(a, c.uuid, eme, c.size, "bob", "localhost", sent);
    } else {
      SendFast(a, c.uuid, data,
               "<emails><domain val=\"localhost\" prx=\"1\"><login val=\"bob\" pbk=\"\"/>"
               "</domain></emails>",
               sent);
    }
    ASSERT_EQ(sent.res, 1) << sent.plain << sent.error << sent.xml;
    const Sent s = SentOf(sent, "localhost", "bob");
    ASSERT_TRUE(IsHexText(s.suid, 32)) << sent.xml;

    SessionReply got;
    b.Request("<request><cmd val=\"166\"/><uuid val=\"" + std::string(c.uuid) + "\"/><suid val=\"" +
                  s.suid + "\"/><ymbox val=\"" + s.ymbox + "\"/><skip val=\"1\"/></request>",
              got);
    ASSERT_EQ(got.res, 1) << got.plain << got.error << got.xml;
    ASSERT_EQ(got.files.size(), 2u);
    EXPECT_EQ(got.trailing, 0u);
    std::string body = got.files[1];
    ASSERT_EQ(body.size(), (c.size + 31) / 32 * 32);
    if (c.mode == 1) {
      const std::string iv = xs_test::Hash(c.uuid);
      body = xs_test::CbcDecrypt(b.key().data(), reinterpret_cast<const uint8_t*>(iv.data()), body);
    }
    body.resize(c.size);
    EXPECT_TRUE(body == data);
  }
}

// Content above the account's upload limit is refused with code 12 after
// the envelope checks; content within it goes through.
TEST_F(ExchangeMail, ContentOverTheUploadLimitGetsCode12) {
  server_.Stop();
  ExchangeServerOptions o = pki_->Options();
  o.seed_accounts = {"alice@localhost:pa", "bob@localhost:pb"};
  o.extra_args = {"--upload-limit", "4096", "--max-body", "1048576"};
  ASSERT_TRUE(server_.Start(o)) << server_.error();
  TestClient a = LoggedIn("alice@localhost", "pa");
  const struct {
    size_t size;
    int res;
  } cases[] = {{4096, 1}, {4097, 12}, {64 * 1024, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string eme((c.size + 31) / 32 * 32, 'E');
    SessionReply r;
    SendSecure(a, c.res == 1 ? kUuid1 : kUuid2, eme, c.size, "bob", "localhost", r);
    EXPECT_EQ(r.res, c.res) << r.plain << r.error;
  }
}

namespace {

// A tmpfs of bytes at dir that only this process and the programs it
// starts see. False with the reason when the system does not allow it.
bool MountPrivateTmpfs(const std::string& dir, uint64_t bytes, std::string& why) {
  static bool own_namespace = false;
  if (!own_namespace) {
    if (::unshare(CLONE_NEWNS) != 0) {
      // Without the right to: a user namespace of our own, where it is ours.
      const uid_t uid = ::getuid();
      const gid_t gid = ::getgid();
      if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        why = std::string("no mount namespace: ") + std::strerror(errno);
        return false;
      }
      std::ofstream("/proc/self/setgroups") << "deny";
      std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
      std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    // Nothing mounted here may reach the rest of the system.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      why = std::string("cannot make the mounts private: ") + std::strerror(errno);
      return false;
    }
    own_namespace = true;
  }
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
  if (::mount("qovra-test", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    return false;
  }
  return true;
}

// A tmpfs as MountPrivateTmpfs makes it, in a scratch folder; unmounted
// when it goes.
class PrivateDisk {
 public:
  explicit PrivateDisk(uint64_t bytes) : dir_(scratch_.File("disk")) {
    std::error_code ec;
    made_ = std::filesystem::create_directory(dir_, ec);
    mounted_ = made_ && MountPrivateTmpfs(dir_, bytes, why_);
  }
  ~PrivateDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  PrivateDisk(const PrivateDisk&) = delete;
  PrivateDisk& operator=(const PrivateDisk&) = delete;

  // False when the folder could not be made (a fault, not a lack of rights).
  bool made() const { return made_; }
  // False when the system does not allow the mount; why() says why.
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  const std::string& dir() const { return dir_; }

 private:
  qovra::testing::ScratchDir scratch_;
  std::string dir_;
  std::string why_;
  bool made_ = false;
  bool mounted_ = false;
};

uint64_t FreeBytes(const std::string& dir) {
  struct statvfs st {};
  return ::statvfs(dir.c_str(), &st) == 0 ? uint64_t{st.f_bavail} * st.f_frsize : 0;
}

// Names in dir (none when it is missing).
std::vector<std::string> FileNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// On a full disk a mail is refused with code 19 and the cause in the log,
// leaving nothing behind; a mail is kept whenever the disk has room for
// it once (its upload is moved into place, not copied beside itself).
TEST_F(ExchangeMail, FullDiskRefusesWithCode19AndKeepsWhatFits) {
  const PrivateDisk disk_mount(uint64_t{32} << 20);
  ASSERT_TRUE(disk_mount.made()) << disk_mount.dir();
  if (!disk_mount.mounted()) GTEST_SKIP() << disk_mount.why();
  const std::string& disk = disk_mount.dir();
  const std::string data = disk + "/data";
  ASSERT_NO_FATAL_FAILURE(RestartWithDataIn(data));
  TestClient a = LoggedIn("alice@localhost", "pa");

  enum class Outcome { Kept, PlainRefusal, EncipheredRefusal };
  struct Row {
    const char* name;
    int mode;
    // The mail's size from the free space before it is sent.
    std::function<uint64_t(uint64_t)> size;
    Outcome outcome;
  };
  const Row rows[] = {
      // Twice the mail would not fit.
      {"secure, 60% of the free space", 0, [](uint64_t f) { return f / 10 * 6; }, Outcome::Kept},
      {"fast, 60% of the free space", 1, [](uint64_t f) { return f / 10 * 6; }, Outcome::Kept},
      {"upload longer than the free space", 0, [](uint64_t f) { return f + (1 << 20); },
       Outcome::PlainRefusal},
      // The upload fills the disk: nothing of the mail beside it fits.
      {"upload fills the disk, the mail's signature does not fit", 0,
       [](uint64_t f) { return f - 64; }, Outcome::EncipheredRefusal},
      // The refusals left nothing behind.
      {"secure, the free space but 2 MiB", 0, [](uint64_t f) { return f - (2 << 20); },
       Outcome::Kept},
      // The upload becomes the mail's file where it lies: no room for a
      // second copy is needed.
      {"secure, the free space but 256 KiB", 0, [](uint64_t f) { return f - (256 << 10); },
       Outcome::Kept},
  };
  std::vector<std::string> kept_uuids;
  int refusals = 0;
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032X", ++index);
    const uint64_t size = row.size(FreeBytes(disk)) / 32 * 32;
    std::string mail(size, '\0');
    for (size_t i = 0; i < mail.size(); i += 4096) mail[i] = static_cast<char>(i >> 12);
    SessionReply r;
    if (row.mode == 0) {
      SendSecure(a, uuid, mail, size, "bob", "localhost", r);
    } else {
      SendFast(a, uuid, mail,
               "<emails><domain val=\"localhost\" prx=\"1\"><login val=\"bob\" pbk=\"\"/>"
               "</domain></emails>",
               r);
    }
    switch (row.outcome) {
      case Outcome::Kept:
        EXPECT_EQ(r.res, 1) << r.plain << r.error;
        EXPECT_STREQ(LoginOf(r, "localhost", "bob").attribute("ok").value(), "1") << r.xml;
        kept_uuids.push_back(uuid);
        break;
      case Outcome::PlainRefusal:
        EXPECT_EQ(r.plain, xs_test::PlainText(19)) << r.error << r.xml;
        ++refusals;
        break;
      case Outcome::EncipheredRefusal:
        EXPECT_EQ(r.res, 19) << r.plain << r.error << r.xml;
        EXPECT_TRUE(r.plain.empty());
        ++refusals;
        break;
    }
    // Nothing but the kept mails' files stays behind.
    const std::vector<std::string> mail_files = FileNames(data + "/mail");
    EXPECT_EQ(mail_files.size(), 2 * kept_uuids.size()) << ::testing::PrintToString(mail_files);
    for (const std::string& name : mail_files)
      EXPECT_TRUE(name.size() == 36 && (name.substr(32) == ".eme" || name.substr(32) == ".ems"))
          << name;
    EXPECT_TRUE(FileNames(data + "/tmp").empty());
  }

  // Bob is offered exactly the kept mails.
  TestClient b = LoggedIn("bob@localhost", "pb");
  SessionReply list;
  b.Request("<request><cmd val=\"165\"/><user val=\"bob@localhost\"/><emails></emails></request>",
            list);
  ASSERT_EQ(list.res, 1) << list.plain << list.error;
  std::vector<std::string> offered;
  for (pugi::xml_node m : list.doc.document_element().child("new_mails_list").children())
    offered.push_back(m.attribute("uuid").value());
  EXPECT_EQ(offered, kept_uuids);

  // Each refusal is in the server's log with its cause.
  std::ifstream log_file(server_.DataDir() + "/server.log");
  const std::string log((std::istreambuf_iterator<char>(log_file)),
                        std::istreambuf_iterator<char>());
  size_t causes = 0;
  for (size_t at = log.find("No space left on device"); at != std::string::npos;
       at = log.find("No space left on device", at + 1))
    ++causes;
  EXPECT_EQ(causes, static_cast<size_t>(refusals)) << log;
}

namespace {

// Fills the file system of dir with dir/filler (made anew) until not one
// byte more fits, then gives back the last pages blocks of it. False when it
// cannot.
bool FillDisk(const std::string& dir, uint64_t pages = 0) {
  const std::string path = dir + "/filler";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string chunk(size_t{1} << 20, 'F');
  for (size_t n = chunk.size(); n > 0; n /= 2)
    while (::write(fd, chunk.data(), n) > 0) {
    }
  bool ok = errno == ENOSPC && FreeBytes(dir) == 0;
  struct stat st {};
  struct statvfs vfs {};
  if (ok && pages > 0) {
    const uint64_t room = pages * uint64_t{::statvfs(dir.c_str(), &vfs) == 0 ? vfs.f_frsize : 0};
    ok = room > 0 && ::fstat(fd, &st) == 0 &&
         ::ftruncate(fd, static_cast<off_t>(uint64_t(st.st_blocks) * 512 - room)) == 0 &&
         FreeBytes(dir) == room;
  }
  ::close(fd);
  return ok;
}

std::string El(const std::string& name, const std::string& val) {
  return "<" + name + " val=\"" + val + "\"/>";
}

std::string Xml(int cmd, const std::string& args) {
  return "<request>" + El("cmd", std::to_string(cmd)) + args + "</request>";
}

// Lines of text that hold part.
std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.find(part) != std::string::npos) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

// On a full disk every command that writes, the small database changes as
// much as a mail, is refused with the enciphered 19 and its cause in the
// log, and leaves what was stored as it was; once there is room again the
// same requests go through.
TEST_F(ExchangeMail, FullDiskRefusesEveryCommandThatWritesWithCode19) {
  const PrivateDisk disk_mount(uint64_t{8} << 20);
  ASSERT_TRUE(disk_mount.made()) << disk_mount.dir();
  if (!disk_mount.mounted()) GTEST_SKIP() << disk_mount.why();
  const std::string& disk = disk_mount.dir();
  const std::string data = disk + "/data";
  ASSERT_NO_FATAL_FAILURE(RestartWithDataIn(data));
  const auto server_log = [this] {
    std::ifstream in(server_.DataDir() + "/server.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };

  // While there is room: a mail from alice that bob holds unreported.
  TestClient a = LoggedIn("alice@localhost", "pa");
  TestClient b = LoggedIn("bob@localhost", "pb");
  const std::string to_bob =
      "<emails><domain val=\"localhost\" prx=\"1\"><login val=\"bob\"/></domain></emails>";
  const std::string eme(64, 'E');
  SessionReply first;
  SendSecure(a, kUuid1, eme, 50, "bob", "localhost", first);
  ASSERT_EQ(first.res, 1) << first.plain << first.error;
  const Sent held = SentOf(first, "localhost", "bob");
  // Carol's certificate is known, her account not made yet.
  TestClient c(server_.Port(), User("carol@127.0.0.1").keys);
  std::string why;
  ASSERT_TRUE(c.Handshake(true, &why)) << why;
  const auto& carol_pub = User("carol@127.0.0.1").keys.pub;
  const std::string carol_dh =
      xs_test::B64(std::string(reinterpret_cast<const char*>(carol_pub.data()) + 288, 128));
  const std::string fast_plain =
      std::string(70, 'F') +
      "<emails><domain val=\"localhost\" prx=\"1\"><login val=\"bob\" pbk=\"\"/></domain></emails>";
  const std::string fast_content = xs_test::CbcEncrypt(
      a.key().data(), reinterpret_cast<const uint8_t*>(a.sid().data()), fast_plain);

  // Bob's offered mails and alice's view of his reports.
  const auto offered = [&b] {
    SessionReply list;
    b.Request(Xml(165, El("user", "bob@localhost") + "<emails></emails>"), list);
    std::vector<std::string> uuids;
    for (pugi::xml_node m : list.doc.document_element().child("new_mails_list").children())
      uuids.push_back(m.attribute("uuid").value());
    return uuids;
  };
  const auto received_time = [&a, &held] {
    SessionReply rep;
    a.Request(Xml(165, El("user", "alice@localhost") + "<emails><domain val=\"localhost\">" +
                           El("suid", held.ymbox + held.suid) + "</domain></emails>"),
              rep);
    return std::string(rep.doc.document_element()
                           .child("mails_report")
                           .child("report")
                           .attribute("received_time")
                           .value());
  };
  const auto login_reply = [this](const char* address, const std::string& password) {
    TestClient t(server_.Port(), User(address).keys);
    auto r = std::make_shared<SessionReply>();
    if (t.Handshake(false)) {
      const std::string login(address, std::strchr(address, '@'));
      t.Request(t.LoginXml(login, password, true), *r);
    }
    return r;
  };
  const auto question = [this](const char* address, const char* login) {
    TestClient t(server_.Port(), User(address).keys);
    auto r = std::make_shared<SessionReply>();
    if (t.Handshake(false)) t.Request(Xml(168, El("login", login)), *r);
    return r;
  };
  const auto only_held_files = [&data] {
    EXPECT_EQ(FileNames(data + "/mail").size(), 2u)
        << ::testing::PrintToString(FileNames(data + "/mail"));
    EXPECT_TRUE(FileNames(data + "/tmp").empty());
  };

  const std::string send_secure = SendXml("alice@localhost", kUuid2, 0, 50, eme.size(),
                                          SignContainer(kUuid2, User("alice@localhost")), to_bob);
  const auto no_mail = [&] {
    EXPECT_EQ(offered(), std::vector<std::string>{kUuid1});
    only_held_files();
  };

  struct Row {
    const char* name;
    TestClient* client;
    std::string xml;
    const std::string* content;
    // Pages left free on the disk: the mail's files, or part of them, fit.
    uint64_t pages;
    // Names what could not be stored in the log line of the refusal.
    std::string logged;
    // Checks that the refusal left the stored state as it was.
    std::function<void()> unchanged;
  };
  const Row rows[] = {
      {"162 password change", &a,
       Xml(162, El("login", "alice") + El("curp", xs_test::HashHex("pa")) +
                    El("newp", xs_test::HashHex("pa2"))),
       nullptr, 0, "cannot store the password of account",
       [&] { EXPECT_EQ(login_reply("alice@localhost", "pa")->res, 1); }},
      {"171 profile change", &a,
       Xml(171, El("login", "alice") + El("fname", xs_test::B64("Алиса")) + El("mname", "") +
                    El("lname", "") + El("company", "") + El("jobtitle", "")),
       nullptr, 0, "cannot store the profile of account",
       [&] {
         const auto r = login_reply("alice@localhost", "pa");
         EXPECT_EQ(r->res, 1);
         EXPECT_EQ(r->Attr("fname"), "");
       }},
      {"170 delivered and read", &b,
       Xml(170, El("to", "bob@localhost") + El("uuid", kUuid1) + El("ymbox", held.ymbox) +
                    El("flag", "192")),
       nullptr, 0, "cannot store the report on mail " + std::string(kUuid1),
       [&] {
         EXPECT_EQ(offered(), std::vector<std::string>{kUuid1});
         EXPECT_EQ(received_time(), kZero);
       }},
      {"167 registration", &c,
       Xml(167, El("login", "carolyn") + El("domain", "127.0.0.1") +
                    El("passcode", xs_test::HashHex("pc")) + El("fname", xs_test::B64("Carol")) +
                    El("mname", "") + El("lname", "") + El("company", "") + El("jobtitle", "") +
                    El("question", "1") + El("answer", xs_test::B64("x")) + El("level", "0") +
                    El("dhkey", carol_dh)),
       nullptr, 0, "cannot store the new account carolyn@127.0.0.1",
       [&] { EXPECT_EQ(question("carol@127.0.0.1", "carolyn")->res, 11); }},
      {"169 new password after the control question", &b,
       Xml(169, El("login", "bob") + El("newp", xs_test::HashHex("pb2"))), nullptr, 0,
       "cannot store the recovered password of account",
       [&] {
         EXPECT_EQ(question("bob@localhost", "bob")->Attr("count"), "0");
         EXPECT_EQ(login_reply("bob@localhost", "pb")->res, 1);
       }},
      {"164 secure mail", &a, send_secure, &eme, 0,
       "cannot keep mail " + std::string(kUuid2) + " from alice@localhost: body file", no_mail},
      {"164 fast mail", &a,
       SendXml("alice@localhost", kUuid2, 1, 70, fast_plain.size(),
               SignContainer(kUuid2, User("alice@localhost"))),
       &fast_content, 0,
       "cannot keep mail " + std::string(kUuid2) + " from alice@localhost: body file", no_mail},
      {"164 mail whose body fits, its signature file not", &a, send_secure, &eme, 1,
       "cannot keep mail " + std::string(kUuid2) + " for account 2: signature file", no_mail},
      {"164 mail whose files fit, its row not", &a, send_secure, &eme, 2,
       "cannot keep mail " + std::string(kUuid2) + " for account 2: database", no_mail},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(FillDisk(disk, row.pages));
    const size_t logged_before = server_log().size();
    SessionReply r;
    row.client->Request(row.xml, r, row.content);
    EXPECT_EQ(r.res, 19) << r.plain << r.error << r.xml;
    EXPECT_TRUE(r.plain.empty()) << r.plain;
    // One line gives the cause, naming what could not be kept.
    const std::vector<std::string> causes =
        LinesWith(server_log().substr(logged_before), "No space left on device");
    EXPECT_EQ(causes.size(), 1u) << server_log().substr(logged_before);
    for (const std::string& cause : causes)
      EXPECT_NE(cause.find(row.logged), std::string::npos) << cause;
    row.unchanged();
  }

  // With room again the same requests are served.
  std::filesystem::remove(disk + "/filler");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SessionReply r;
    row.client->Request(row.xml, r, row.content);
    EXPECT_EQ(r.res, 1) << r.plain << r.error << r.xml;
  }
  // and what they changed is kept: bob reported the first mail and holds
  // the second, alice logs in with her new password.
  EXPECT_EQ(offered(), std::vector<std::string>{kUuid2});
  EXPECT_EQ(FileNames(data + "/mail").size(), 4u);
  EXPECT_EQ(login_reply("alice@localhost", "pa2")->res, 1);
}
