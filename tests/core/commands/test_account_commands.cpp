// The account commands and the update check against the local exchange
// server: an account's life from registration to recovery and profile,
// the request XML as the server deciphered it, and the update check with
// the updater started (or not) by a fake program.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/cp1251.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "base/version.h"
#include "commands/account_commands.h"
#include "commands/login_command.h"
#include "core/net/envelope_test_fixture.h"
#include "net/server_request.h"
#include "net/session_setup.h"
#include "platform/process_start.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "settings/settings.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "support/http_clients.h"
#include "support/loopback_listener.h"
#include "support/scratch_dir.h"

namespace {

using qovra::testing::ScratchDir;

constexpr char kBobPassword[] = "парольБоба";
constexpr char kNewPassword[] = "новый пароль";
constexpr char kRecovered[] = "recovered Ёж";
constexpr char kAlicePassword[] = "secret";

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;

class AccountCommandsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new qovra_test::ExchangePki;
    for (const char* user : {"alice@127.0.0.1", "bob@127.0.0.1", "carol@127.0.0.1"}) {
      pki_->AddUserWithKeyFile(user);
    }
    qovra_test::WriteAll(pki_->File("rule.xml"),
                         keytool::Bytes{'<', 'u', 'p', 'd', 'a', 't', 'e', '/', '>'});
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    qovra_test::ResetClient(dir_.File("tmp"));
    qovra::SetMsg("msgServerError15", "bound to %s");
    qovra::SetMsg("msgServerError16", "taken: %s");
    qovra::SetMsg("msgNewVersionAvailable2", "new version %s?");
  }
  void TearDown() override {
    qovra::SetTempFolder("");
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::ClearMsgTable();
  }

  void StartServer(const std::string& client_version = "", bool rule = false) {
    qovra_test::ExchangeServerOptions o = pki_->Options();
    o.seed_accounts = {std::string("alice@127.0.0.1:") + kAlicePassword};
    o.test_commands = true;
    o.client_version = client_version;
    if (rule) o.update_rule = pki_->File("rule.xml");
    ASSERT_TRUE(server_.Start(o)) << server_.error();
    qovra_test::UseServerAddress("127.0.0.1", server_.Port());
  }
  // A new session with the keys of user ("bob" for bob@127.0.0.1).
  void UseKeys(const std::string& user) {
    const std::string address = user + "@127.0.0.1";
    qovra_test::UseKeyFilesOf(*pki_, address);
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
  }
  int Login(const std::string& login, const std::string& password) {
    qovra::HandshakeDone = false;
    return qovra::LoginSession(login, password, {owner_, "TfrmLogin", nullptr});
  }
  bool Register(const std::string& login) {
    if (!qovra::ServerHandshake(owner_, true)) return false;
    return qovra::RegisterUser(Owner(), login, qovra::Options.Conn.srvaddr, 2, "Тошкент", "dev",
                               "Qovra", "Smith", "", "Боб", kBobPassword);
  }
  std::vector<std::string> Shown() { return ui_->ShownTexts(); }
  std::vector<std::string> RequestLog() {
    std::vector<std::string> lines;
    std::ifstream in(server_.DataDir() + "/requests.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  qovra::TCommandOwner Owner() { return {owner_, "TfrmMain", nullptr}; }

  static qovra_test::ExchangePki* pki_;
  qovra::testing::ScopedFakeUi ui_;
  ScratchDir dir_;
  qovra_test::ExchangeServer server_;
  int owner_dummy_ = 0;
  qovra::TWindowHandle owner_ = &owner_dummy_;
};

qovra_test::ExchangePki* AccountCommandsTest::pki_ = nullptr;

TEST_F(AccountCommandsTest, AccountLife) {
  StartServer();
  UseKeys("bob");
  ASSERT_TRUE(Register("bobby")) << testing::PrintToString(Shown());
  // 15 and 16 are shown with the login the server names.
  EXPECT_FALSE(Register("robert"));
  UseKeys("carol");
  EXPECT_FALSE(Register("bobby"));
  EXPECT_EQ(Shown(), (std::vector<std::string>{"bound to bobby", "taken: bobby"}));
  ui_->messages.clear();

  UseKeys("bob");
  ASSERT_EQ(Login("bobby", kBobPassword), 1) << testing::PrintToString(Shown());
  EXPECT_EQ(qovra::Utf16ToUtf8(qovra::Session.OwnContact.FirstName), "Боб");
  EXPECT_EQ(qovra::Utf16ToUtf8(qovra::Session.OwnContact.Company), "Qovra");

  // Password change: a wrong current password is the server's 10.
  EXPECT_FALSE(qovra::ChangePassword(Owner(), "bobby", "wrong", kNewPassword));
  EXPECT_EQ(ui_->messages.size(), 1u);
  ASSERT_TRUE(qovra::ChangePassword(Owner(), "bobby", kBobPassword, kNewPassword));
  EXPECT_EQ(Login("bobby", kBobPassword), 3);
  ASSERT_EQ(Login("bobby", kNewPassword), 1);

  // Profile: the next login's reply carries it.
  qovra::TContact me;
  me.FirstName = u"Борис";
  me.MiddleName = u"";
  me.LastName = u"Каримов";
  me.Company = u"ООО «Ёлка»";
  me.JobTitle = u"engineer";
  ASSERT_TRUE(qovra::ChangeUserProfile(Owner(), me)) << testing::PrintToString(Shown());
  qovra::Session.OwnContact = qovra::TContact{};
  ASSERT_EQ(Login("bobby", kNewPassword), 1);
  EXPECT_EQ(qovra::Session.OwnContact.FirstName, me.FirstName);
  EXPECT_EQ(qovra::Session.OwnContact.LastName, me.LastName);
  EXPECT_EQ(qovra::Session.OwnContact.Company, me.Company);
  EXPECT_EQ(qovra::Session.OwnContact.JobTitle, me.JobTitle);

  // Recovery from another account's session is refused; outputs untouched.
  UseKeys("alice");
  ASSERT_TRUE(qovra::ServerHandshake(owner_, false));
  int count = 99, question = 99;
  std::string answer = "unchanged";
  ui_->messages.clear();
  EXPECT_FALSE(qovra::GetControlQuestion(Owner(), "bobby", count, answer, question));
  EXPECT_FALSE(qovra::SetNewPassword(Owner(), "bobby", "stolen"));
  EXPECT_EQ(ui_->messages.size(), 2u);
  EXPECT_EQ(count, 99);
  EXPECT_EQ(question, 99);
  EXPECT_EQ(answer, "unchanged");

  // Recovery by the key holder, before any login.
  UseKeys("bob");
  ASSERT_TRUE(qovra::ServerHandshake(owner_, false));
  ASSERT_TRUE(qovra::GetControlQuestion(Owner(), "bobby", count, answer, question));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(question, 2);
  EXPECT_EQ(answer, qovra::Base64Encode("Тошкент"));
  ASSERT_TRUE(qovra::SetNewPassword(Owner(), "bobby", kRecovered));
  EXPECT_EQ(Login("bobby", kNewPassword), 3);
  EXPECT_EQ(Login("bobby", kRecovered), 1);

  // What travelled: hashes of the 8-bit passwords, never the passwords.
  const std::vector<std::string> log = RequestLog();
  ASSERT_FALSE(log.empty());
  int with_password = 0;
  for (const std::string& line : log) {
    for (const char* pw : {kBobPassword, kNewPassword, kRecovered, "wrong", "stolen"}) {
      EXPECT_EQ(line.find(pw), std::string::npos) << line;
      EXPECT_EQ(line.find(qovra::Utf8ToCp1251(pw)), std::string::npos) << line;
      EXPECT_EQ(line.find(qovra::Base64Encode(qovra::Utf8ToCp1251(pw))), std::string::npos);
    }
    if (line.find("<cmd val=\"162\"/>") != std::string::npos ||
        line.find("<cmd val=\"167\"/>") != std::string::npos ||
        line.find("<cmd val=\"169\"/>") != std::string::npos)
      ++with_password;
  }
  EXPECT_EQ(with_password, 7);  // three registrations, two changes, two resets
  const std::string expected167 =
      "<request><cmd val=\"167\"/><login val=\"bobby\"/><domain val=\"" +
      qovra::Options.Conn.srvaddr + "\"/><passcode val=\"" +
      qovra::HashHex(qovra::Utf8ToCp1251(kBobPassword)) + "\"/><fname val=\"" +
      qovra::Base64Encode("Боб") + "\"/><mname val=\"\"/><lname val=\"" +
      qovra::Base64Encode("Smith") + "\"/><company val=\"" + qovra::Base64Encode("Qovra") +
      "\"/><jobtitle val=\"" + qovra::Base64Encode("dev") +
      "\"/><question val=\"2\"/><answer val=\"" + qovra::Base64Encode("Тошкент") +
      "\"/><level val=\"0\"/><dhkey val=\"";
  EXPECT_EQ(log.front().substr(0, expected167.size()), expected167);
  const std::string hex = qovra::HashHex(qovra::Utf8ToCp1251(kRecovered));
  EXPECT_EQ(hex.size(), 64u);
  EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  const std::string reset =
      "<request><cmd val=\"169\"/><login val=\"bobby\"/><newp val=\"" + hex + "\"/></request>";
  EXPECT_NE(std::find(log.begin(), log.end(), reset), log.end());
}

// The update check and what it starts.
class UpdateCheckTest : public AccountCommandsTest {
 protected:
  void SetUp() override {
    AccountCommandsTest::SetUp();
    const char* tmp = std::getenv("TMPDIR");
    if (tmp) saved_tmpdir_ = tmp;
    had_tmpdir_ = tmp != nullptr;
    std::filesystem::create_directories(dir_.File("systmp"));
    setenv("TMPDIR", dir_.File("systmp").c_str(), 1);
    saved_program_dir_ = qovra::ProgramDir;
    qovra::ProgramDir = dir_.File("prog") + "/";
    std::filesystem::create_directories(dir_.File("prog"));
    qovra::SetMsg("msgNoNeedUpdate", "up to date");
    qovra::SetMsg("msgUpdaterNotStarted", "no updater");
  }
  void TearDown() override {
    if (had_tmpdir_)
      setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
    else
      unsetenv("TMPDIR");
    qovra::ProgramDir = saved_program_dir_;
    AccountCommandsTest::TearDown();
  }

  // A fake updater that records its arguments and the rule it was given.
  void InstallFakeUpdater() {
    const std::string path = qovra::UpdaterPath();
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << dir_.File("args")
                        << "\"\ncp \"$1\" \"" << dir_.File("rule-seen") << "\"\nrm -f \"$1\"\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }
  void LoginAlice() {
    UseKeys("alice");
    ASSERT_EQ(Login("alice", kAlicePassword), 1) << testing::PrintToString(Shown());
  }
  // The starter the program uses, waiting for the fake so the test sees
  // what it did.
  static pid_t StartAndWait(const std::vector<std::string>& argv) {
    const pid_t pid = qovra::StartProcess(argv);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return pid;
  }
  std::vector<std::string> SystemTempFiles() {
    std::vector<std::string> names;
    // The server's data folder lives there too; rule files are tmp*.xml.
    for (const auto& e : std::filesystem::directory_iterator(dir_.File("systmp"))) {
      const std::string name = e.path().filename().string();
      if (name.rfind("tmp", 0) == 0) names.push_back(name);
    }
    return names;
  }

  std::string saved_tmpdir_;
  bool had_tmpdir_ = false;
  std::string saved_program_dir_;
};

TEST_F(UpdateCheckTest, NothingToOffer) {
  const std::string own(qovra::ClientVersionString());
  struct Row {
    const char* name;
    std::string version;
    bool rule;
  } rows[] = {{"nothing configured", "", true},
              {"same version with a rule", own, true},
              {"newer version without a rule", "99.0.0.0", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StartServer(row.version, row.rule);
    LoginAlice();
    ui_->messages.clear();
    bool close = false;
    ASSERT_TRUE(qovra::CheckForUpdate(Owner(), own, close, &StartAndWait));
    EXPECT_FALSE(close);
    EXPECT_EQ(Shown(), std::vector<std::string>{"up to date"});
  }
}

TEST_F(UpdateCheckTest, NewerVersionStartsTheUpdaterWithTheRule) {
  StartServer("99.0.0.0", true);
  LoginAlice();
  InstallFakeUpdater();
  const std::string own(qovra::ClientVersionString());

  // No: nothing is started and nothing is left behind.
  ui_->messages.clear();
  ui_->QueueAnswer(qovra::kMsgResultNo);
  bool close = false;
  ASSERT_TRUE(qovra::CheckForUpdate(Owner(), own, close, &StartAndWait));
  EXPECT_FALSE(close);
  EXPECT_EQ(Shown(), std::vector<std::string>{"new version 99.0.0.0?"});
  EXPECT_FALSE(std::filesystem::exists(dir_.File("args")));
  EXPECT_EQ(SystemTempFiles(), std::vector<std::string>{});

  ui_->QueueAnswer(qovra::kMsgResultYes);
  ASSERT_TRUE(qovra::CheckForUpdate(Owner(), own, close, &StartAndWait));
  EXPECT_TRUE(close);
  const std::string args = ReadFile(dir_.File("args"));
  const std::string prefix = dir_.File("systmp") + "/tmp";
  ASSERT_EQ(args.rfind(prefix, 0), 0u) << args;
  EXPECT_NE(args.find(".xml\n-DELETERULE\n"), std::string::npos) << args;
  EXPECT_EQ(ReadFile(dir_.File("rule-seen")), "<update/>");
}

TEST_F(UpdateCheckTest, MissingUpdaterKeepsTheProgramOpen) {
  StartServer("99.0.0.0", true);
  LoginAlice();
  ui_->messages.clear();
  ui_->QueueAnswer(qovra::kMsgResultYes);
  bool close = false;
  ASSERT_TRUE(qovra::CheckForUpdate(Owner(), qovra::ClientVersionString(), close));
  EXPECT_FALSE(close);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"new version 99.0.0.0?", "no updater"}));
  EXPECT_EQ(SystemTempFiles(), std::vector<std::string>{});  // the rule file went with the failure
}

TEST_F(UpdateCheckTest, FailedRequestLeavesTheFlag) {
  StartServer("99.0.0.0", true);
  UseKeys("alice");
  ASSERT_TRUE(qovra::ServerHandshake(owner_, false));  // not logged in: 5
  bool close = true;
  EXPECT_FALSE(qovra::CheckForUpdate(Owner(), "1.0.0.0", close, &StartAndWait));
  EXPECT_TRUE(close);
}

// Replies of 168 and 172 from a scripted peer: element names in any case.
class AccountReplyTest : public qovra_test::EnvelopeFixture {
 protected:
  void SetUp() override {
    EnvelopeFixture::SetUp();
    UseRequestSettings();
    qovra::SetMsg("msgNoNeedUpdate", "up to date");
    qovra::SetMsg("msgNewVersionAvailable2", "new version %s?");
  }
  // Answers every request with the enciphered reply xml.
  void Serve(const std::string& xml) {
    peer_ = std::make_unique<qovra_test::LoopbackListener>(qovra_test::ListenerScript{
        true, false, qovra_test::HttpReplyText(200, "OK", qovra_test::SessionReply(session_, xml)),
        true});
    qovra::Options.Conn.ServerUrl = peer_->Origin() + "/qovra4/";
  }
  qovra::TCommandOwner Owner() { return {form_, "TfrmMain", nullptr}; }

  qovra_test::ScopedProxyEnv proxy_env_;
  std::unique_ptr<qovra_test::LoopbackListener> peer_;
};

TEST_F(AccountReplyTest, ElementNamesInAnyCase) {
  struct Row {
    const char* name;
    std::string xml;
  };
  const Row rows[] = {
      {"lower",
       "<reply><res val=\"1\"/><question val=\"4\"/><answer val=\"QQ==\"/>"
       "<count val=\"2\"/><qovra_client ver=\"99.0.0.0\" rule=\"" +
           qovra::Base64Encode("<update/>") + "\"/></reply>"},
      {"mixed",
       "<Reply><RES val=\"1\"/><Question val=\"4\"/><ANSWER val=\"QQ==\"/>"
       "<Count val=\"2\"/><QOVRA_Client ver=\"99.0.0.0\" rule=\"" +
           qovra::Base64Encode("<update/>") + "\"/></Reply>"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Serve(r.xml);
    ui_->messages.clear();
    int count = 99, question = 99;
    std::string answer = "unchanged";
    ASSERT_TRUE(qovra::GetControlQuestion(Owner(), "bobby", count, answer, question));
    EXPECT_EQ(question, 4);
    EXPECT_EQ(answer, "QQ==");
    EXPECT_EQ(count, 2);

    ui_->QueueAnswer(qovra::kMsgResultNo);
    bool close = false;
    ASSERT_TRUE(qovra::CheckForUpdate(Owner(), "1.0.0.0", close));
    EXPECT_FALSE(close);
    EXPECT_EQ(Shown(), std::vector<std::string>{"new version 99.0.0.0?"});
  }
}

// A newer version: an absent or empty rule is "no update"; a rule that is
// there but decodes to nothing cannot be offered and shows nothing.
TEST_F(AccountReplyTest, NewerVersionByItsRule) {
  struct Row {
    const char* name;
    const char* client;
    std::vector<std::string> shown;
  } rows[] = {
      {"rule absent", "<qovra_client ver=\"99.0.0.0\"/>", {"up to date"}},
      {"rule empty", "<qovra_client ver=\"99.0.0.0\" rule=\"\"/>", {"up to date"}},
      {"rule not Base64", "<qovra_client ver=\"99.0.0.0\" rule=\"@@@@\"/>", {}},
      {"rule of bad length", "<qovra_client ver=\"99.0.0.0\" rule=\"QQ\"/>", {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Serve(std::string("<reply><res val=\"1\"/>") + r.client + "</reply>");
    ui_->messages.clear();
    bool close = false;
    ASSERT_TRUE(qovra::CheckForUpdate(Owner(), "1.0.0.0", close));
    EXPECT_FALSE(close);
    EXPECT_EQ(Shown(), r.shown);
  }
}

TEST(QovraUpd, ShowsTheRuleAndDeletesIt) {
  ScratchDir dir;
  const std::string rule = dir.File("rule.xml");
  std::ofstream(rule) << "<update version=\"4.2.0.0\"><file name=\"qovra\" "
                         "url=\"http://127.0.0.1/q\" size=\"10\"/></update>";
  const std::string out = dir.File("out");
  const std::string bin = std::string(QOVRA_BIN_DIR) + "/qovraupd";
  ASSERT_EQ(std::system(("'" + bin + "' '" + rule + "' > '" + out + "'").c_str()), 0);
  EXPECT_EQ(ReadFile(out),
            "update to version 4.2.0.0\n  would update qovra from http://127.0.0.1/q (10 bytes)\n");
  EXPECT_TRUE(std::filesystem::exists(rule));
  ASSERT_EQ(std::system(("'" + bin + "' '" + rule + "' -DELETERULE > '" + out + "'").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(rule));

  std::ofstream(rule) << "<!DOCTYPE x><update/>";
  EXPECT_NE(std::system(("'" + bin + "' '" + rule + "' -DELETERULE 2>/dev/null").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(rule));
  EXPECT_NE(std::system(("'" + bin + "' 2>/dev/null").c_str()), 0);
}

}  // namespace
