// Handshakes and command 161 against the local exchange server: key files
// of both kinds, with and without the key-agreement value, the right and a
// wrong password, and an expired session answered by the password prompt.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/cp1251.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "commands/login_command.h"
#include "net/server_request.h"
#include "net/session_setup.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "support/http_clients.h"
#include "support/key_fixtures.h"
#include "support/scratch_dir.h"
#include "support/suite_world.h"

namespace {

using qovra::testing::ScratchDir;

constexpr char kAnnPassword[] = "пароль-Анны";  // typed text; the server holds its 8-bit bytes
constexpr char kBobPassword[] = "bob's password";
constexpr char kBobKeyFilePassword[] = "key file pw";

int Shell(const std::string& cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str());
}

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

// The test PKI and a running server, made once for the whole program.
class ServerWorld {
 public:
  bool Make() {
    if (dir_.path().empty()) return false;
    const std::string kt = std::string(QOVRA_BIN_DIR) + "/keytool";
    const std::string dom = qovra_test::FixturePath("keys/domain.dom");
    const std::string auth = dir_.File("auth");
    const std::string common = " --domain " + dom + " --authority " + auth;
    if (Shell(kt + " authority --domain " + dom + " --name 'Test CA' --out " + auth) != 0 ||
        Shell(kt + " server" + common + " --name 'Exchange' --out " + dir_.File("srv")) != 0 ||
        Shell(kt + " user" + common + " --name Ann --out " + dir_.File("ann")) != 0 ||
        Shell(kt + " user" + common + " --name Bob --distinct-dh --iterations 10000 --password " +
              Quote(kBobKeyFilePassword) + " --out " + dir_.File("bob")) != 0 ||
        Shell(kt + " user" + common + " --name Stranger --out " + dir_.File("stranger")) != 0) {
      return false;
    }
    for (const char* user : {"ann", "bob"}) {
      if (Shell(kt + " register --registry " + dir_.File("reg") + " --authority " + auth +
                " --address " + user + "@127.0.0.1 --cert " +
                dir_.File(std::string(user) + ".cer")) != 0) {
        return false;
      }
    }
    const std::vector<std::string> args = {
        "--registry",     dir_.File("reg"),
        "--authority",    auth + "/authority.cer",
        "--server-cert",  dir_.File("srv/server.cer"),
        "--server-key",   dir_.File("srv/server.prk"),
        "--seed-account", "ann@127.0.0.1:" + qovra::Utf8ToCp1251(kAnnPassword),
        "--seed-account", std::string("bob@127.0.0.1:") + kBobPassword};
    std::vector<std::string> short_lived = args;
    short_lived.insert(short_lived.end(), {"--session-timeout", "1"});
    return server_.Start(args) && short_lived_.Start(short_lived);
  }
  const ScratchDir& dir() const { return dir_; }
  const qovra_test::ExchangeServer& server() const { return server_; }
  // The same accounts, with sessions that end after one idle second.
  const qovra_test::ExchangeServer& short_lived() const { return short_lived_; }

 private:
  ScratchDir dir_;
  qovra_test::ExchangeServer server_;
  qovra_test::ExchangeServer short_lived_;
};

std::unique_ptr<ServerWorld> g_world;

class SessionServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { g_world = qovra_test::MakeWorld<ServerWorld>(); }
  static void TearDownTestSuite() { g_world.reset(); }

  void SetUp() override {
    ASSERT_NE(g_world, nullptr) << "the exchange server or the test PKI could not be made";
    qovra_test::ResetClient(dir_.File("tmp"));
    qovra_test::UseServer(g_world->server());
    UseKeys("ann");
  }
  void TearDown() override {
    EXPECT_TRUE(std::filesystem::is_empty(dir_.File("tmp"))) << "temporary files left";
    qovra::SetTempFolder("");
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
  }

  void UseKeys(const std::string& user) {
    qovra_test::UseKeyFiles(g_world->dir().File(user + ".cer"), g_world->dir().File(user + ".prk"));
    qovra::Session.Clear();
  }

  std::vector<std::string> Shown() { return ui_->ShownTexts(); }

  qovra::TLoginRequestForm LoginForm() { return {owner_, "TfrmLogin", nullptr}; }

  qovra_test::ScopedProxyEnv proxy_env_;
  qovra::testing::ScopedFakeUi ui_;
  ScratchDir dir_;
  int owner_dummy_ = 0;
  qovra::TWindowHandle owner_ = &owner_dummy_;
};

TEST_F(SessionServerTest, ClearKeyFileHandshakeAndLogin) {
  // A 256-byte key file has no key-agreement record of its own: nothing is
  // appended even when asked.
  for (bool append : {false, true}) {
    qovra::HandshakeDone = false;
    ASSERT_TRUE(qovra::ServerHandshake(owner_, append)) << testing::PrintToString(Shown());
    EXPECT_TRUE(qovra::HandshakeDone);
    EXPECT_EQ(qovra::Session.State, 0);
    EXPECT_NE(qovra::Session.SessionId, (std::array<uint8_t, 32>{}));
  }
  ASSERT_EQ(qovra::LoginSession("ann", kAnnPassword, LoginForm()), 1)
      << testing::PrintToString(Shown());
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_EQ(qovra::Session.Login.str(), "ann");
  EXPECT_EQ(qovra::Session.Host.str(), "127.0.0.1");
  EXPECT_EQ(qovra::Session.OwnContact.Email, "ann@127.0.0.1");
  EXPECT_EQ(qovra::Session.Certificate, ScratchDir::Read(g_world->dir().File("ann.cer")));
  EXPECT_EQ(qovra::Session.OnlinePasswordHash,
            qovra::HashString(qovra::Utf8ToCp1251(kAnnPassword)));
  EXPECT_EQ(qovra::Options.Keys.offpass.size(), 160u);
}

TEST_F(SessionServerTest, ProtectedKeyFileWithAndWithoutTheAgreementValue) {
  UseKeys("bob");
  for (bool append : {true, false}) {
    SCOPED_TRACE(append);
    qovra::HandshakeDone = false;
    if (qovra::Session.PrivateKeyPassword.empty())
      ui_->QueueSecret(std::string(kBobKeyFilePassword));
    ASSERT_TRUE(qovra::ServerHandshake(owner_, append)) << testing::PrintToString(Shown());
    EXPECT_NE(qovra::Session.OwnDhKey, qovra::Session.OwnPublicKey);
    ASSERT_EQ(qovra::LoginSession("bob", kBobPassword, LoginForm()), 1)
        << testing::PrintToString(Shown());
    EXPECT_EQ(qovra::Session.State, 1);
    EXPECT_EQ(qovra::Session.OwnContact.Email, "bob@127.0.0.1");
  }
  // The key-file password was asked once.
  EXPECT_EQ(ui_->prompts.size(), 1u);
}

TEST_F(SessionServerTest, LoginHandshakesFirstAndReusesTheSession) {
  ASSERT_FALSE(qovra::HandshakeDone);
  ASSERT_EQ(qovra::LoginSession("ann", kAnnPassword, LoginForm()), 1)
      << testing::PrintToString(Shown());
  EXPECT_TRUE(qovra::HandshakeDone);
  const std::array<uint8_t, 32> id = qovra::Session.SessionId;
  ASSERT_EQ(qovra::LoginSession("ann", kAnnPassword, LoginForm()), 1);
  EXPECT_EQ(qovra::Session.SessionId, id);
}

TEST_F(SessionServerTest, WrongPassword) {
  ASSERT_EQ(qovra::LoginSession("ann", "not the password", LoginForm()), 3);
  EXPECT_TRUE(ui_->messages.empty());  // silent at the login window
  EXPECT_EQ(qovra::Session.State, 0);
  EXPECT_TRUE(qovra::Session.Login.empty());

  // The password prompt reports it.
  qovra::Options.Other.lastlgn = "ann";
  EXPECT_EQ(qovra::ReauthenticateSession("not the password", {owner_, "TfrmPassword", nullptr}), 3);
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgServerError3")});
  EXPECT_EQ(qovra::Session.State, 0);

  // A login name that is not the certificate's account fails the same way.
  EXPECT_EQ(qovra::LoginSession("bob", kAnnPassword, LoginForm()), 3);
}

TEST_F(SessionServerTest, UnknownCertificateKeepsTheOldSession) {
  ASSERT_EQ(qovra::LoginSession("ann", kAnnPassword, LoginForm()), 1);
  const std::array<uint8_t, 32> id = qovra::Session.SessionId;
  const std::array<uint8_t, 64> key = qovra::Session.SessionKey;
  const std::array<uint8_t, 768> server_key = qovra::Session.ServerKey;

  UseKeys("stranger");
  qovra::Session.State = 1;
  qovra::Session.SessionId = id;
  qovra::Session.SessionKey = key;
  qovra::Session.ServerKey = server_key;
  qovra::HandshakeDone = true;
  EXPECT_FALSE(qovra::ServerHandshake(owner_, false));
  EXPECT_EQ(ui_->messages.size(), 1u);  // the server's code
  EXPECT_EQ(qovra::Session.SessionId, id);
  EXPECT_EQ(qovra::Session.SessionKey, key);
  EXPECT_EQ(qovra::Session.ServerKey, server_key);
  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_TRUE(qovra::HandshakeDone);
}

TEST_F(SessionServerTest, ExpiredSessionIsRenewedByThePrompt) {
  qovra_test::UseServer(g_world->short_lived());
  qovra::Options.Other.lastlgn = "ann";
  ASSERT_EQ(qovra::LoginSession("ann", kAnnPassword, LoginForm()), 1);
  const std::array<uint8_t, 32> old_id = qovra::Session.SessionId;
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // past the 1-second timeout

  int reauth = -1;
  ui_->on_reauthenticate = [&] {
    reauth = qovra::ReauthenticateSession(kAnnPassword, {nullptr, "TfrmPassword", nullptr});
    return reauth == 1 ? 1 : 2;
  };
  qovra::TMemoryStream xml(std::string("<request><cmd val=\"172\"/></request>"));
  qovra::TRequestPart part;
  part.Data = &xml;
  pugi::xml_document reply;
  EXPECT_EQ(qovra::ServerRequest(true, &part, 1, false, nullptr, nullptr, "t", false, false, owner_,
                                 "TfrmMain", qovra::Options.Conn.ServerUrl, reply),
            6);
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgSessionIsExpired")});
  ASSERT_EQ(ui_->prompts.size(), 1u);
  EXPECT_EQ(reauth, 1);
  EXPECT_TRUE(qovra::HandshakeDone);
  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_NE(qovra::Session.SessionId, old_id);
}

}  // namespace
