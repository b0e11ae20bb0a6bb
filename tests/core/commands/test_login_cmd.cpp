// Command 161: the login value, the request XML, how the reply fills
// Session, and both forms end to end against a scripted loopback peer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/base64.h"
#include "base/cp1251.h"
#include "base/version.h"
#include "commands/login_command.h"
#include "core/net/captured_request.h"
#include "core/net/envelope_test_fixture.h"
#include "support/client_settings.h"
#include "support/http_clients.h"

namespace {

using qovra_test::Bytes;
using qovra_test::EnvelopeFixture;
using qovra_test::ListenerScript;
using qovra_test::LoopbackListener;

// The login name the server reads from an xln value: the string form
// deciphered under HASH(password bytes) followed by the session id.
std::string ServerReadsLogin(const std::string& xln_b64, const std::string& password_bytes,
                             const qovra_test::TestSession& s) {
  const std::string form = qovra::Base64Decode(xln_b64);
  if (form.size() < 33 || (form.size() - 1) % 32 != 0) return {};
  std::array<uint8_t, 64> key{};
  const std::string h = qovra_test::Hash(password_bytes);
  std::copy(h.begin(), h.end(), key.begin());
  std::copy(s.id.begin(), s.id.end(), key.begin() + 32);
  const size_t last = static_cast<uint8_t>(form[0]) == 0 ? 32 : static_cast<uint8_t>(form[0]);
  const std::string plain = qovra_test::Cbc(key, s.id, form.substr(1), false);
  return plain.substr(0, plain.size() - 32 + last);
}

TEST(LoginValue, IsTheLoginUnderPasswordHashAndSessionId) {
  const qovra_test::TestSession s = qovra_test::MakeTestSession();
  const qovra::THashValue hash = qovra::HashString("secret");
  for (const std::string& login :
       std::vector<std::string>{"a", "alice.smith", std::string(32, 'x'), std::string(33, 'y')}) {
    const std::string value = qovra::LoginValue(login, hash, s.id);
    EXPECT_EQ(value.size(), 1 + (login.size() + 31) / 32 * 32) << login;
    EXPECT_EQ(ServerReadsLogin(qovra::Base64Encode(value), "secret", s), login);
  }
}

TEST(LoginRequestXml, FullAndShortForms) {
  EXPECT_EQ(qovra::LoginRequestXml("\x01\x02\x03", true, "4.1.2.3"),
            "<request><cmd val=\"161\"/><xln val=\"AQID\"/><chash val=\"AQID\"/>"
            "<cver val=\"4.1.2.3\"/></request>");
  EXPECT_EQ(qovra::LoginRequestXml("\x01\x02\x03", false, "4.1.2.3"),
            "<request><cmd val=\"161\"/><xln val=\"AQID\"/></request>");
}

class LoginReplyTest : public ::testing::Test {
 protected:
  void TearDown() override {
    qovra::Session.Clear();
    qovra::LatestClientVersion.clear();
    qovra::UpdateUrl.clear();
    qovra::UpdateRule.clear();
  }
  static pugi::xml_node Parse(pugi::xml_document& doc, const std::string& xml) {
    EXPECT_TRUE(doc.load_string(xml.c_str()));
    return doc.document_element();
  }
};

TEST_F(LoginReplyTest, FullReplyFillsTheSession) {
  const std::string xml =
      "<reply><res val=\"1\"/><FName val=\"" + qovra::Base64Encode("Алишер") + "\"/><lname val=\"" +
      qovra::Base64Encode("Navoiy") + "\"/><mname val=\"" + qovra::Base64Encode("M") +
      "\"/><company val=\"" + qovra::Base64Encode("Co") + "\"/><jobtitle val=\"" +
      qovra::Base64Encode("Poet") +
      "\"/><level val=\"2\"/><maxus val=\"5000000000\"/><cert_validity remain=\"4294967301\"/>"
      "<cert val=\"" +
      qovra::Base64Encode("CERTBYTES") +
      "\"/><qovra_client ver=\"4.2.0.1\" url=\"http://u/\" rule=\"UlVMRQ==\"/><other val=\"x\"/>"
      "</reply>";
  pugi::xml_document doc;
  qovra::LatestClientVersion = "own";
  qovra::ApplyLoginReply(Parse(doc, xml), true);
  const qovra::TContact& c = qovra::Session.OwnContact;
  EXPECT_EQ(c.FirstName, u"Алишер");
  EXPECT_EQ(c.LastName, u"Navoiy");
  EXPECT_EQ(c.MiddleName, u"M");
  EXPECT_EQ(c.Company, u"Co");
  EXPECT_EQ(c.JobTitle, u"Poet");
  EXPECT_EQ(qovra::Session.Level, 2);
  EXPECT_EQ(qovra::Session.MaxUploadSize, 5000000000);
  EXPECT_EQ(qovra::Session.CertValidityRemain, 5);  // the low 32 bits of 2^32 + 5
  EXPECT_EQ(qovra::Session.Certificate, "CERTBYTES");
  EXPECT_EQ(qovra::LatestClientVersion, "4.2.0.1");
  EXPECT_EQ(qovra::UpdateUrl, "http://u/");
  EXPECT_EQ(qovra::UpdateRule, "UlVMRQ==");
}

TEST_F(LoginReplyTest, ShortFormAndDefaults) {
  const std::string xml =
      "<reply><res val=\"1\"/><level val=\"high\"/><maxus val=\"\"/>"
      "<cert_validity remain=\"9\"/><cert val=\"" +
      qovra::Base64Encode("C") + "\"/><qovra_client url=\"http://u/\"/></reply>";
  pugi::xml_document doc;
  qovra::Session.Level = 7;
  qovra::Session.MaxUploadSize = 7;
  qovra::LatestClientVersion = "own";
  // Re-authentication ignores cert, cert_validity and qovra_client.
  qovra::ApplyLoginReply(Parse(doc, xml), false);
  EXPECT_EQ(qovra::Session.Level, 0);
  EXPECT_EQ(qovra::Session.MaxUploadSize, 0);
  EXPECT_EQ(qovra::Session.CertValidityRemain, 0);
  EXPECT_TRUE(qovra::Session.Certificate.empty());
  EXPECT_TRUE(qovra::UpdateUrl.empty());
  // The full form without ver keeps the own version.
  qovra::ApplyLoginReply(Parse(doc, xml), true);
  EXPECT_EQ(qovra::LatestClientVersion, "own");
  EXPECT_EQ(qovra::UpdateUrl, "http://u/");
  EXPECT_EQ(qovra::Session.CertValidityRemain, 9);
}

class LoginCommandTest : public EnvelopeFixture {
 protected:
  void SetUp() override {
    EnvelopeFixture::SetUp();
    UseRequestSettings();
  }
  void TearDown() override {
    qovra::LatestClientVersion.clear();
    qovra::UpdateUrl.clear();
    qovra::UpdateRule.clear();
    EnvelopeFixture::TearDown();
  }
  void PointAt(const LoopbackListener& peer) {
    qovra_test::UseServerAddress("127.0.0.1", peer.Port());
  }
  std::string Reply(const std::string& elements) {
    return qovra_test::HttpReplyText(
        200, "OK",
        qovra_test::SessionReply(session_, "<reply><res val=\"1\"/>" + elements + "</reply>"));
  }

  qovra_test::ScopedProxyEnv proxy_env_;
  qovra::TLoginRequestForm form_info_{form_, "TfrmLogin", nullptr};
};

TEST_F(LoginCommandTest, FullLoginFillsTheSessionAndSignsTheOfflinePassword) {
  LoopbackListener peer(ListenerScript{
      true, false,
      Reply("<fname val=\"" + qovra::Base64Encode("Ann") +
            "\"/><maxus val=\"1000\"/><qovra_client ver=\"9.0.0.0\" url=\"x\" rule=\"r\"/>"),
      true});
  PointAt(peer);
  qovra::Session.MaxUploadSize = 10;  // cleared by the login: the request is not refused
  ASSERT_EQ(qovra::LoginSession("ann", "пароль", form_info_), 1) << testing::PrintToString(Shown());

  // What went out: the full form, and the server reads the login back with
  // the hash of the password's Windows-1251 bytes.
  const auto sent = qovra_test::CapturedParts(peer.Requests().back().raw);
  ASSERT_EQ(sent.size(), 1u);
  pugi::xml_document request;
  ASSERT_TRUE(request.load_string(qovra_test::RequestXml(sent[0].data, session_).c_str()));
  const pugi::xml_node root = request.document_element();
  EXPECT_STREQ(root.child("cmd").attribute("val").value(), "161");
  const std::string xln = root.child("xln").attribute("val").value();
  EXPECT_EQ(xln, root.child("chash").attribute("val").value());
  EXPECT_EQ(std::string(root.child("cver").attribute("val").value()),
            std::string(qovra::ClientVersionString()));
  EXPECT_EQ(ServerReadsLogin(xln, "\xEF\xE0\xF0\xEE\xEB\xFC", session_), "ann");

  const qovra::THashValue hash = qovra::HashString("\xEF\xE0\xF0\xEE\xEB\xFC");
  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_EQ(qovra::Session.Login.str(), "ann");
  EXPECT_EQ(qovra::Session.Host.str(), "127.0.0.1");
  EXPECT_EQ(qovra::Session.OwnContact.Email, "ann@127.0.0.1");
  EXPECT_EQ(qovra::Session.OwnContact.FirstName, u"Ann");
  EXPECT_EQ(qovra::Session.MaxUploadSize, 1000);
  EXPECT_EQ(qovra::Session.OnlinePasswordHash, hash);
  // No cert in the reply: the certificate file.
  EXPECT_EQ(qovra::Session.Certificate, qovra_test::ClientParty().Cert());
  EXPECT_EQ(qovra::LatestClientVersion, "9.0.0.0");
  EXPECT_EQ(qovra::LatestVersionCode, qovra::VersionToInt("9.0.0.0"));
  EXPECT_EQ(qovra::CurrentVersionCode, qovra::VersionToInt(qovra::ClientVersionString()));
  // The offline password signature: the password hash signed with the key.
  ASSERT_EQ(qovra::Options.Keys.offpass.size(), 160u);
  int verdict = 0;
  EXPECT_EQ(UZDST_SIGNATURE_verify(hash.data(), qovra_test::ClientParty().Pub().data(),
                                   qovra::Options.Keys.offpass.data(), &verdict),
            1);
  EXPECT_EQ(verdict, 1);

  // A signature already there stays.
  const std::string offpass = qovra::Options.Keys.offpass;
  ASSERT_EQ(qovra::LoginSession("ann", "other password", form_info_), 1);
  EXPECT_EQ(qovra::Options.Keys.offpass, offpass);
}

TEST_F(LoginCommandTest, ReauthenticationSendsTheShortForm) {
  LoopbackListener peer(
      ListenerScript{true, false,
                     Reply("<lname val=\"" + qovra::Base64Encode("Lee") +
                           "\"/><cert val=\"Q0VSVA==\"/><qovra_client ver=\"9.0.0.0\"/>"),
                     true});
  PointAt(peer);
  qovra::Options.Other.lastlgn = "bob";
  qovra::LatestClientVersion = "own";
  qovra::Session.Certificate = "OWN";
  const qovra::TLoginRequestForm prompt{form_, "TfrmPassword", nullptr};
  ASSERT_EQ(qovra::ReauthenticateSession("pw", prompt), 1) << testing::PrintToString(Shown());

  const auto sent = qovra_test::CapturedParts(peer.Requests().back().raw);
  ASSERT_EQ(sent.size(), 1u);
  pugi::xml_document request;
  ASSERT_TRUE(request.load_string(qovra_test::RequestXml(sent[0].data, session_).c_str()));
  const pugi::xml_node root = request.document_element();
  EXPECT_TRUE(root.child("xln"));
  EXPECT_FALSE(root.child("chash"));
  EXPECT_FALSE(root.child("cver"));
  EXPECT_EQ(ServerReadsLogin(root.child("xln").attribute("val").value(), "pw", session_), "bob");

  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_EQ(qovra::Session.Login.str(), "bob");
  EXPECT_EQ(qovra::Session.OwnContact.Email, "bob@127.0.0.1");
  EXPECT_EQ(qovra::Session.OwnContact.LastName, u"Lee");
  // The session's certificate stays; the reply's is not taken.
  EXPECT_EQ(qovra::Session.Certificate, "OWN");
  EXPECT_EQ(qovra::LatestClientVersion, "own");
  EXPECT_TRUE(qovra::Options.Keys.offpass.empty());
}

// A session that began offline has no certificate: going online gives it
// the reply's, else the certificate file's, for the mails it signs.
TEST_F(LoginCommandTest, ReauthenticationGivesASessionWithoutACertificateOne) {
  const struct {
    const char* name;
    std::string reply_elements;
    std::string want;
  } cases[] = {
      {"FromTheReply", "<cert val=\"" + qovra::Base64Encode("CERT") + "\"/>", "CERT"},
      {"FromTheFile", "", qovra_test::ClientParty().Cert()},
  };
  qovra::Options.Other.lastlgn = "bob";
  const qovra::TLoginRequestForm prompt{form_, "TfrmPassword", nullptr};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackListener peer(ListenerScript{true, false, Reply(c.reply_elements), true});
    PointAt(peer);
    qovra::Session.Certificate.clear();
    ASSERT_EQ(qovra::ReauthenticateSession("pw", prompt), 1) << testing::PrintToString(Shown());
    EXPECT_EQ(qovra::Session.Certificate, c.want);
  }
}

TEST_F(LoginCommandTest, RefusedLoginAtTheLoginWindowIsSilent) {
  LoopbackListener peer(ListenerScript{
      true, false, qovra_test::HttpReplyText(200, "OK", "<reply><res val=\"3\"/></reply>"), true});
  PointAt(peer);
  EXPECT_EQ(qovra::LoginSession("ann", "wrong", form_info_), 3);
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_EQ(qovra::Session.State, 0);
  EXPECT_TRUE(qovra::Session.Login.empty());

  const qovra::TLoginRequestForm prompt{form_, "TfrmPassword", nullptr};
  qovra::Options.Other.lastlgn = "ann";
  EXPECT_EQ(qovra::ReauthenticateSession("wrong", prompt), 3);
  EXPECT_EQ(Shown(), Only("msgServerError3"));
  EXPECT_EQ(qovra::Session.State, 0);
}

TEST_F(LoginCommandTest, StopsBeforeTheRequestAreToldApartFromServerResults) {
  const qovra::TLoginRequestForm prompt{form_, "TfrmPassword", nullptr};
  qovra::Options.Other.lastlgn = "ann";
  struct Case {
    const char* what;
    std::string url;
  };
  // A closed port: no session can be agreed. A URL that does not parse.
  for (const Case& c :
       {Case{"no session", "http://127.0.0.1:1/qovra4/"}, Case{"no URL", "not a url"}}) {
    SCOPED_TRACE(c.what);
    qovra::HandshakeDone = false;
    qovra::Options.Conn.ServerUrl = c.url;
    ui_->messages.clear();
    EXPECT_EQ(qovra::LoginSession("ann", "pw", form_info_), qovra::kLoginNotSent);
    EXPECT_EQ(qovra::ReauthenticateSession("pw", prompt), qovra::kLoginNotSent);
    EXPECT_FALSE(ui_->messages.empty()) << "the stop is reported";
    EXPECT_EQ(qovra::Session.State, 0);
  }
}

}  // namespace
