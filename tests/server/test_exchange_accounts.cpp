// The account commands of the running exchange server against the test
// client: registration, password change, recovery, profile and the update
// check, with the account binding of each.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "exchange_pki.h"
#include "exchange_test_client.h"
#include "support/exchange_server.h"

namespace {

using qovra_test::ExchangePki;
using qovra_test::ExchangeServer;
using qovra_test::ExchangeServerOptions;
using xs_test::HashHex;
using xs_test::SessionReply;
using xs_test::TestClient;

std::string El(const std::string& name, const std::string& val) {
  return "<" + name + " val=\"" + val + "\"/>";
}

std::string Xml(int cmd, const std::string& args) {
  return "<request>" + El("cmd", std::to_string(cmd)) + args + "</request>";
}

struct Registration {
  std::string login = "robert";
  std::string domain = "localhost:8080";
  std::string passcode = HashHex("bobpass");
  std::string fname = xs_test::B64("Боб");
  std::string question = "2";
  std::string answer = xs_test::B64("Тошкент");
  std::string dhkey;

  std::string ToXml() const {
    return Xml(167, El("login", login) + El("domain", domain) + El("passcode", passcode) +
                        El("fname", fname) + El("mname", "") + El("lname", xs_test::B64("Smith")) +
                        El("company", "") + El("jobtitle", "") + El("question", question) +
                        El("answer", answer) + El("level", "0") + El("dhkey", dhkey));
  }
};

class ExchangeAccounts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new ExchangePki;
    pki_->AddUser("alice@localhost");
    pki_->AddUser("bob@localhost");   // registered certificate, no account yet
    pki_->AddUser("erin@localhost");  // likewise
    qovra_test::WriteAll(pki_->File("rule.xml"), keytool::Bytes{'<', 'r', '/', '>'});
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  ExchangeServerOptions Options(bool update = true) const {
    ExchangeServerOptions o = pki_->Options();
    o.seed_accounts = {"alice@localhost:secret"};
    o.test_commands = true;
    if (update) {
      o.client_version = "4.2.0.0";
      o.update_rule = pki_->File("rule.xml");
    }
    return o;
  }

  void SetUp() override { ASSERT_TRUE(server_.Start(Options())) << server_.error(); }
  void TearDown() override {
    server_.Stop();
    EXPECT_TRUE(server_.EndedCleanly()) << server_.Log();
  }

  TestClient Session(const std::string& address, bool append_dh = false) {
    TestClient c(server_.Port(), pki_->User(address).keys);
    std::string why;
    EXPECT_TRUE(c.Handshake(append_dh, &why)) << why;
    return c;
  }
  static std::string DhValue(const std::string& address) {
    const auto& pub = pki_->User(address).keys.pub;
    return xs_test::B64(std::string(reinterpret_cast<const char*>(pub.data()) + 288, 128));
  }

  int Run(TestClient& c, const std::string& xml, SessionReply* out = nullptr) {
    SessionReply local;
    SessionReply& r = out ? *out : local;
    c.Request(xml, r);
    EXPECT_EQ(r.error, "");
    return r.res != 0 ? r.res : -1;
  }
  int Login(TestClient& c, const std::string& login, const std::string& password,
            SessionReply* out = nullptr) {
    SessionReply local;
    SessionReply& r = out ? *out : local;
    c.Request(c.LoginXml(login, password, true), r);
    if (!r.plain.empty()) return r.plain == xs_test::PlainText(3) ? 3 : -1;
    return r.res;
  }
  int Register(const std::string& address, Registration reg, SessionReply* out = nullptr) {
    TestClient c = Session(address, true);
    if (reg.dhkey.empty()) reg.dhkey = DhValue(address);
    return Run(c, reg.ToXml(), out);
  }

  static ExchangePki* pki_;
  ExchangeServer server_;
};

ExchangePki* ExchangeAccounts::pki_ = nullptr;

TEST_F(ExchangeAccounts, RegistrationCreatesTheAccountOfTheSessionCertificate) {
  ASSERT_EQ(Register("bob@localhost", {}), 1);
  TestClient c = Session("bob@localhost");
  SessionReply r;
  ASSERT_EQ(Login(c, "robert", "bobpass", &r), 1);
  EXPECT_EQ(r.Attr("fname"), xs_test::B64("Боб"));
  EXPECT_EQ(r.Attr("lname"), xs_test::B64("Smith"));

  // 15: the certificate is bound already; 16: the login is taken.
  SessionReply again;
  Registration other;
  other.login = "bobby";
  EXPECT_EQ(Register("bob@localhost", other, &again), 15);
  EXPECT_EQ(again.Attr("registered"), "robert");
  SessionReply taken;
  EXPECT_EQ(Register("erin@localhost", {}, &taken), 16);
  EXPECT_EQ(taken.Attr("registered"), "robert");
  // The session stays unauthenticated after registering.
  TestClient erin = Session("erin@localhost", true);
  Registration e;
  e.login = "erina";
  e.dhkey = DhValue("erin@localhost");
  EXPECT_EQ(Run(erin, e.ToXml()), 1);
  EXPECT_EQ(Run(erin, Xml(172, El("cver", "4.0.0.0"))), 5);
}

TEST_F(ExchangeAccounts, RegistrationRefusesInvalidFields) {
  struct Row {
    const char* name;
    void (*change)(Registration&);
  } rows[] = {
      {"short login", [](Registration& r) { r.login = "bob"; }},
      {"login with a blank", [](Registration& r) { r.login = "bob by"; }},
      {"login of 33", [](Registration& r) { r.login = std::string(33, 'b'); }},
      {"passcode in clear", [](Registration& r) { r.passcode = "bobpass"; }},
      {"passcode not hex", [](Registration& r) { r.passcode = std::string(64, 'G'); }},
      {"question 0", [](Registration& r) { r.question = "0"; }},
      {"question 6", [](Registration& r) { r.question = "6"; }},
      {"foreign domain", [](Registration& r) { r.domain = "example.org"; }},
      {"name not Base64", [](Registration& r) { r.fname = "!!"; }},
      {"empty answer", [](Registration& r) { r.answer = ""; }},
      {"dhkey of 127", [](Registration& r) { r.dhkey = xs_test::B64(std::string(127, 'x')); }},
      {"dhkey 1", [](Registration& r) { r.dhkey = xs_test::B64(std::string(127, '\0') + '\1'); }},
      {"dhkey above p", [](Registration& r) { r.dhkey = xs_test::B64(std::string(128, '\xff')); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Registration reg;
    reg.dhkey = DhValue("bob@localhost");
    row.change(reg);
    EXPECT_EQ(Register("bob@localhost", reg), 18);
  }
  EXPECT_EQ(Register("bob@localhost", {}), 1);  // nothing was stored before
}

TEST_F(ExchangeAccounts, PasswordChange) {
  TestClient c = Session("alice@localhost");
  const std::string change =
      Xml(162, El("login", "alice") + El("curp", HashHex("secret")) + El("newp", HashHex("fresh")));
  EXPECT_EQ(Run(c, change), 5);  // not logged in
  ASSERT_EQ(Login(c, "alice", "secret"), 1);
  EXPECT_EQ(Run(c, Xml(162, El("login", "alice") + El("curp", HashHex("wrong")) +
                                El("newp", HashHex("fresh")))),
            10);
  EXPECT_EQ(Run(c, Xml(162, El("login", "bob") + El("curp", HashHex("secret")) +
                                El("newp", HashHex("fresh")))),
            14);
  EXPECT_EQ(
      Run(c, Xml(162, El("login", "alice") + El("curp", HashHex("secret")) + El("newp", "fresh"))),
      18);
  EXPECT_EQ(Run(c, change), 1);

  TestClient old_pw = Session("alice@localhost");
  EXPECT_EQ(Login(old_pw, "alice", "secret"), 3);
  TestClient new_pw = Session("alice@localhost");
  EXPECT_EQ(Login(new_pw, "alice", "fresh"), 1);
}

TEST_F(ExchangeAccounts, RecoveryServesOnlyTheCertificatesAccount) {
  ASSERT_EQ(Register("bob@localhost", {}), 1);
  // Another account's session cannot read bob's answer or reset his password.
  TestClient alice = Session("alice@localhost");
  EXPECT_EQ(Run(alice, Xml(168, El("login", "robert"))), 14);
  EXPECT_EQ(Run(alice, Xml(169, El("login", "robert") + El("newp", HashHex("x")))), 14);
  TestClient erin = Session("erin@localhost");
  EXPECT_EQ(Run(erin, Xml(168, El("login", "robert"))), 11);

  TestClient bob = Session("bob@localhost");
  for (int used = 0; used < 3; ++used) {
    SessionReply q;
    ASSERT_EQ(Run(bob, Xml(168, El("login", "ROBERT")), &q), 1);
    EXPECT_EQ(q.Attr("question"), "2");
    EXPECT_EQ(q.Attr("answer"), xs_test::B64("Тошкент"));
    EXPECT_EQ(q.Attr("count"), std::to_string(used));
    const std::string pw = "recovered" + std::to_string(used);
    ASSERT_EQ(Run(bob, Xml(169, El("login", "robert") + El("newp", HashHex(pw)))), 1);
    TestClient check = Session("bob@localhost");
    EXPECT_EQ(Login(check, "robert", pw), 1);
  }
  SessionReply q;
  ASSERT_EQ(Run(bob, Xml(168, El("login", "robert")), &q), 1);
  EXPECT_EQ(q.Attr("count"), "3");
  EXPECT_EQ(Run(bob, Xml(169, El("login", "robert") + El("newp", HashHex("more")))), 17);
  TestClient check = Session("bob@localhost");
  EXPECT_EQ(Login(check, "robert", "recovered2"), 1);
}

TEST_F(ExchangeAccounts, ProfileChangeShowsInTheNextLogin) {
  TestClient c = Session("alice@localhost");
  ASSERT_EQ(Login(c, "alice", "secret"), 1);
  const auto names = [](const std::string& login, const std::string& fname) {
    return Xml(171, El("login", login) + El("fname", fname) + El("mname", "") +
                        El("lname", xs_test::B64("Каримова")) + El("company", xs_test::B64("Q")) +
                        El("jobtitle", xs_test::B64("dev")));
  };
  EXPECT_EQ(Run(c, names("bob", xs_test::B64("Alice"))), 14);
  EXPECT_EQ(Run(c, names("alice", "%%")), 18);
  ASSERT_EQ(Run(c, names("alice", xs_test::B64("Алиса"))), 1);

  TestClient next = Session("alice@localhost");
  SessionReply r;
  ASSERT_EQ(Login(next, "alice", "secret", &r), 1);
  EXPECT_EQ(r.Attr("fname"), xs_test::B64("Алиса"));
  EXPECT_EQ(r.Attr("mname"), "");
  EXPECT_EQ(r.Attr("lname"), xs_test::B64("Каримова"));
  EXPECT_EQ(r.Attr("company"), xs_test::B64("Q"));
  EXPECT_EQ(r.Attr("jobtitle"), xs_test::B64("dev"));
}

TEST_F(ExchangeAccounts, UpdateCheckAnswersFromTheConfiguration) {
  {
    TestClient c = Session("alice@localhost");
    ASSERT_EQ(Login(c, "alice", "secret"), 1);
    SessionReply r;
    ASSERT_EQ(Run(c, Xml(172, El("cver", "4.0.0.0")), &r), 1);
    EXPECT_EQ(r.Attr("qovra_client", "ver"), "4.2.0.0");
    EXPECT_EQ(r.Attr("qovra_client", "rule"), xs_test::B64("<r/>"));
  }
  ASSERT_TRUE(server_.Start(Options(false))) << server_.error();
  TestClient c = Session("alice@localhost");
  ASSERT_EQ(Login(c, "alice", "secret"), 1);
  SessionReply r;
  ASSERT_EQ(Run(c, Xml(172, El("cver", "4.0.0.0")), &r), 1);
  EXPECT_EQ(r.doc.document_element().child("qovra_client").type(), pugi::node_null) << r.xml;
}

TEST_F(ExchangeAccounts, RequestLogHoldsEachDecipheredRequest) {
  TestClient c = Session("alice@localhost");
  ASSERT_EQ(Login(c, "alice", "secret"), 1);
  const std::string xml = Xml(172, El("cver", "4.0.0.0"));
  ASSERT_EQ(Run(c, xml), 1);
  std::ifstream in(server_.DataDir() + "/requests.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("<cmd val=\"161\"/>"), std::string::npos);
  EXPECT_EQ(lines[1], xml);
}

}  // namespace
