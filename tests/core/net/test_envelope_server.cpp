// The server envelope end to end: after a real handshake and login against
// the local exchange server, its fault switch spoils one reply per row, and
// its test command 901 sends files. Every row checks ServerRequest's result,
// what the user was shown, that the session survives where it must, and
// that the temporary folder is empty afterwards. Every test runs with both
// HTTP clients.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/file_stream.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "commands/login_command.h"
#include "net/http_timeouts.h"
#include "net/server_request.h"
#include "net/server_request_folders.h"
#include "net/session_setup.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "support/http_clients.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using qovra::testing::ScratchDir;

constexpr char kAddress[] = "ann@127.0.0.1";
constexpr char kPassword[] = "ann's password";

// Bytes that differ at every offset, so a shifted or cut copy shows.
std::string Pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
  return s;
}

struct ReplyFileSpec {
  std::string name;
  std::string bytes;
  bool skip = false;
  bool raw = false;  // bypass the server's own name check
};

// Command 901 asking for files of type 1 (the messages folder).
std::string FilesRequest(const std::vector<ReplyFileSpec>& files) {
  std::string xml = "<request><cmd val=\"901\"/>";
  for (const ReplyFileSpec& f : files) {
    xml += "<file name=\"" + f.name + "\" type=\"1\" skip=\"" + (f.skip ? "1" : "0") +
           "\" data=\"" + qovra::Base64Encode(f.bytes) + "\"" + (f.raw ? " raw=\"1\"" : "") + "/>";
  }
  return xml + "</request>";
}

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The parameter is the settings value useiewc: 2 the WinINet-style client,
// 0 the socket client.
class EnvelopeServerTest : public ::testing::TestWithParam<int> {
 protected:
  static void SetUpTestSuite() {
    pki_ = new qovra_test::ExchangePki;
    const qovra_test::Party& ann = pki_->AddUser(kAddress);
    qovra_test::WriteAll(pki_->File("ann.prk"),
                         keytool::Bytes(ann.keys.priv.begin(), ann.keys.priv.end()));
    qovra_test::ExchangeServerOptions o = pki_->Options();
    o.seed_accounts = {std::string(kAddress) + ":" + kPassword};
    o.test_commands = true;
    server_ = new qovra_test::ExchangeServer;
    if (!server_->Start(o)) ADD_FAILURE() << server_->error();
  }
  static void TearDownTestSuite() {
    server_->Stop();
    EXPECT_TRUE(server_->EndedCleanly()) << server_->Log();
    delete server_;
    server_ = nullptr;
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(server_->Port(), 0) << "the exchange server is not running";
    ASSERT_TRUE(server_->SetFault("off"));
    qovra_test::ResetClient(TempFolder(), MessagesFolder());
    qovra::Options.Conn.useiewc = static_cast<uint8_t>(GetParam());
    qovra_test::UseServerAddress("127.0.0.1", server_->Port());
    qovra_test::UseKeyFiles(pki_->CertPath(kAddress), pki_->File("ann.prk"));
    qovra::Options.Other.lastlgn = "ann";
    qovra::SetMsg("msgServerError15", "bound to %s");
    qovra::SetMsg("msgServerError16", "taken: %s");
    // The content part goes out enciphered from a file, so every request
    // also makes (and must remove) a ".eec" copy in the temporary folder.
    content_path_ = dir_.Write("content.bin", Pattern(1000, 5));
    Login();
  }
  void TearDown() override {
    EXPECT_TRUE(server_->SetFault("off"));
    EXPECT_EQ(Listing(TempFolder()), std::vector<std::string>{}) << "temporary files left";
    qovra::ResetHttpTimeouts();
    qovra::SetTempFolder("");
    qovra::MessagesDir.clear();
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::ClearMsgTable();
  }

  std::string TempFolder() const { return dir_.File("tmp"); }
  std::string MessagesFolder() const { return dir_.File("user/messages"); }

  void Login() {
    qovra::HandshakeDone = false;
    ASSERT_EQ(qovra::LoginSession("ann", kPassword, {owner_, "TfrmLogin", nullptr}), 1)
        << testing::PrintToString(Shown());
    ui_->messages.clear();
    ui_->prompts.clear();
  }

  // One session request; with_content adds the content part.
  int Request(const std::string& xml, std::string_view form_class = "TfrmMain",
              bool with_content = true) {
    qovra::TMemoryStream request(xml);
    qovra::TEFileStream content(content_path_, true, false, qovra::fmOpenRead);
    EXPECT_TRUE(content.Opened());
    qovra::TRequestPart parts[2];
    parts[0].SetName("header");
    parts[0].Data = &request;
    parts[1].SetName("content");
    parts[1].Data = &content;
    parts[1].SendAsIs = false;
    pugi::xml_document reply;
    return qovra::ServerRequest(true, parts, with_content ? 2 : 1, false, nullptr, nullptr, "title",
                                false, false, owner_, form_class, qovra::Options.Conn.ServerUrl,
                                reply);
  }
  int Command901(std::string_view form_class = "TfrmMain") {
    return Request("<request><cmd val=\"901\"/></request>", form_class);
  }

  // The session still serves a plain request, silently.
  void ExpectSessionAlive() {
    ui_->messages.clear();
    EXPECT_EQ(Command901(), 1) << testing::PrintToString(Shown());
    EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  }

  std::vector<std::string> Shown() { return ui_->ShownTexts(); }

  static qovra_test::ExchangePki* pki_;
  static qovra_test::ExchangeServer* server_;
  qovra_test::ScopedProxyEnv proxy_env_;
  qovra::testing::ScopedFakeUi ui_;
  ScratchDir dir_;
  std::string content_path_;
  int owner_dummy_ = 0;
  qovra::TWindowHandle owner_ = &owner_dummy_;
};

qovra_test::ExchangePki* EnvelopeServerTest::pki_ = nullptr;
qovra_test::ExchangeServer* EnvelopeServerTest::server_ = nullptr;

struct FaultRow {
  const char* fault;
  const char* form_class;
  int result;
  std::vector<std::string> shown;  // message keys ("msg..."), else literal texts
};

TEST_P(EnvelopeServerTest, FaultRows) {
  const std::vector<FaultRow> rows = {
      {"off", "TfrmMain", 1, {}},
      {"once:checkbyte", "TfrmMain", 0, {"msgCheckSumError"}},
      {"once:payload", "TfrmMain", 0, {"msgUnauthenticSignature"}},
      {"once:signature", "TfrmMain", 0, {"msgUnauthenticSignature"}},
      // 167 bytes are plain XML (the padded reply carries code 2); 168 are
      // an envelope whose check byte is text.
      {"once:length:167", "TfrmMain", 2, {"msgServerError2"}},
      {"once:length:168", "TfrmMain", 0, {"msgCheckSumError"}},
      // A plain 3 passes silently at the login window only.
      {"once:plain:3", "TfrmLogin", 3, {}},
      {"once:plain:3", "tfrmlogin", 3, {}},
      {"once:plain:3", "TfrmMain", 3, {"msgServerError3"}},
      {"once:plain:3", "TfrmPassword", 3, {"msgServerError3"}},
      // Enciphered 3 and 6 are ordinary server errors: shown, no re-login.
      {"once:enc:3", "TfrmLogin", 3, {"msgServerError3"}},
      {"once:enc:6", "TfrmMain", 6, {"msgServerError6"}},
      {"once:enc:12", "TfrmMain", 12, {"msgServerError12"}},
      {"once:enc:15:annie", "TfrmMain", 15, {"bound to annie"}},
      {"once:enc:16:bob.smith", "TfrmLogin", 16, {"taken: bob.smith"}},
  };
  for (const FaultRow& row : rows) {
    SCOPED_TRACE(std::string(row.fault) + " at " + row.form_class);
    ui_->messages.clear();
    ASSERT_TRUE(server_->SetFault(row.fault));
    EXPECT_EQ(Command901(row.form_class), row.result);
    std::vector<std::string> expected;
    for (const std::string& s : row.shown)
      expected.push_back(s.rfind("msg", 0) == 0 ? qovra::GetMsg(s) : s);
    EXPECT_EQ(Shown(), expected);
    EXPECT_TRUE(ui_->prompts.empty());
    EXPECT_TRUE(qovra::HandshakeDone);
    EXPECT_EQ(Listing(TempFolder()), std::vector<std::string>{});
    EXPECT_EQ(Listing(MessagesFolder()), std::vector<std::string>{});
    ExpectSessionAlive();
  }
}

TEST_P(EnvelopeServerTest, PlainSessionExpiredAsksForThePasswordOnce) {
  // The prompt is cancelled: the walk stops with 6 and the session is gone.
  ASSERT_TRUE(server_->SetFault("once:plain:6"));
  EXPECT_EQ(Command901(), 6);
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgSessionIsExpired")});
  ASSERT_EQ(ui_->prompts.size(), 1u);
  EXPECT_TRUE(ui_->prompts[0].reauthenticate);
  EXPECT_FALSE(qovra::HandshakeDone);
  EXPECT_EQ(Listing(TempFolder()), std::vector<std::string>{});

  // The prompt logs in again: the result stays 6 (the action is not
  // repeated) and the new session serves the next request.
  Login();
  int reauth = -1;
  ui_->on_reauthenticate = [&] {
    reauth = qovra::ReauthenticateSession(kPassword, {nullptr, "TfrmPassword", nullptr});
    return reauth == 1 ? 1 : 2;
  };
  const std::array<uint8_t, 32> old_id = qovra::Session.SessionId;
  ASSERT_TRUE(server_->SetFault("once:plain:6"));
  EXPECT_EQ(Command901(), 6);
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgSessionIsExpired")});
  EXPECT_EQ(ui_->prompts.size(), 1u);
  EXPECT_EQ(reauth, 1);
  EXPECT_TRUE(qovra::HandshakeDone);
  EXPECT_NE(qovra::Session.SessionId, old_id);
  ui_->on_reauthenticate = nullptr;
  ExpectSessionAlive();
  EXPECT_EQ(ui_->prompts.size(), 1u);
}

TEST_P(EnvelopeServerTest, DroppedReplyIsAConnectionError) {
  ASSERT_TRUE(server_->SetFault("once:drop"));
  EXPECT_EQ(Command901(), 0);
  ASSERT_EQ(ui_->messages.size(), 1u);
  const std::string prefix = qovra::GetMsg("msgConnectionError") + "\r";
  const std::string& text = ui_->messages[0].text;
  EXPECT_EQ(text.substr(0, prefix.size()), prefix) << text;
  EXPECT_GT(text.size(), prefix.size()) << "the client's error text is missing";
  EXPECT_TRUE(qovra::HandshakeDone);
  ExpectSessionAlive();
}

TEST_P(EnvelopeServerTest, StalledServerFailsWithinTheTimeouts) {
  qovra::THttpTimeouts t;
  t.ConnectMs = 2000;
  t.LowSpeedBytes = 1;
  t.LowSpeedSeconds = 2;
  qovra::SetHttpTimeouts(t);
  ASSERT_TRUE(server_->SetFault("once:stall"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Command901(), 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // The client's speed is averaged over a few seconds, so the stall is
  // noticed some seconds after the limit; the default limits take minutes.
  EXPECT_LT(elapsed, std::chrono::seconds(20));
  ASSERT_EQ(ui_->messages.size(), 1u);
  const std::string prefix = qovra::GetMsg("msgConnectionError") + "\r";
  EXPECT_EQ(ui_->messages[0].text.substr(0, prefix.size()), prefix) << ui_->messages[0].text;
  EXPECT_TRUE(qovra::HandshakeDone);
  ExpectSessionAlive();
}

TEST_P(EnvelopeServerTest, FilesAreStoredWithExactContents) {
  // 33 bytes travel as 64 when enciphered and are cut back; 64 fill two
  // whole blocks. Stored as sent with skip 1. Document order is wire order.
  const std::vector<ReplyFileSpec> files = {
      {"a33.eme", Pattern(33, 1), false}, {"b64.eme", Pattern(64, 2), false},
      {"c33.ems", Pattern(33, 3), true},  {"d64.ems", Pattern(64, 4), true},
      {"e1.eme", Pattern(1, 6), false},
  };
  EXPECT_EQ(Request(FilesRequest(files)), 1) << testing::PrintToString(Shown());
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  std::vector<std::string> names;
  for (const ReplyFileSpec& f : files) {
    SCOPED_TRACE(f.name);
    names.push_back(f.name);
    EXPECT_EQ(ScratchDir::Read(MessagesFolder() + "/" + f.name), f.bytes);
  }
  EXPECT_EQ(Listing(MessagesFolder()), names);

  // A stored file is replaced whole by a shorter one of the same name.
  EXPECT_EQ(Request(FilesRequest({{"b64.eme", Pattern(33, 9), false}})), 1);
  EXPECT_EQ(ScratchDir::Read(MessagesFolder() + "/b64.eme"), Pattern(33, 9));
  EXPECT_EQ(Listing(MessagesFolder()), names);
}

TEST_P(EnvelopeServerTest, FileNameLeavingTheFolderIsRefused) {
  for (bool skip : {false, true}) {
    SCOPED_TRACE(skip);
    ui_->messages.clear();
    // The first file is stored; the second would land beside the folder.
    const std::vector<ReplyFileSpec> files = {{"ok.eme", Pattern(40, 1), skip},
                                              {"../x", Pattern(33, 2), skip, true}};
    EXPECT_EQ(Request(FilesRequest(files)), 0);
    EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgInvalidData")});
    EXPECT_EQ(Listing(MessagesFolder()), std::vector<std::string>{"ok.eme"});
    EXPECT_EQ(ScratchDir::Read(MessagesFolder() + "/ok.eme"), Pattern(40, 1));
    EXPECT_EQ(Listing(dir_.File("user")), std::vector<std::string>{"messages"});
    EXPECT_EQ(Listing(TempFolder()), std::vector<std::string>{});
    EXPECT_TRUE(qovra::HandshakeDone);
    ExpectSessionAlive();
    fs::remove(MessagesFolder() + "/ok.eme");
  }
}

INSTANTIATE_TEST_SUITE_P(Clients, EnvelopeServerTest, ::testing::Values(2, 0),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return p.param == 2 ? std::string("IeClient") : std::string("IdClient");
                         });

}  // namespace
