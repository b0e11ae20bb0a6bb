// The receiving run against the local exchange server: mails that the
// test's own protocol client sends from alice (secure and fast mode, for
// administrative use, with and without a read report) are received by the
// client core as bob, and alice's next run picks up the reports. A table of
// spoiled mails (changed in the server's store) shows that each bad mail
// is reported and skipped while the run goes on; server faults and a
// database that cannot list the awaited reports end the run without
// storing anything half-done; a copy left unchecked on disk, or one whose
// key could not be sealed, is fetched and checked again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/records.h"
#include "base/time_stamp.h"
#include "base/utf.h"
#include "commands/login_command.h"
#include "commands/mail_commands_client.h"
#include "keys/crypto_binding.h"
#include "mail/receiving.h"
#include "mail/receiving_reports.h"
#include "mail/startup.h"
#include "mail/startup_sweep.h"
#include "net/server_request.h"
#include "net/server_request_folders.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "server/exchange_test_client.h"
#include "store/mail_container_writer.h"
#include "store/mail_db.h"
#include "store/sign_container.h"
#include "store/sqlite_db.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "support/file_system_calls.h"
#include "support/scratch_dir.h"
#include "tevqa.h"
#include "ulmox.h"

namespace {

namespace fs = std::filesystem;
using qovra::SqliteDb;
using qovra::testing::ScratchDir;
using xs_test::SessionReply;
using xs_test::TestClient;

constexpr char kAlice[] = "alice@127.0.0.1";
constexpr char kBob[] = "bob@127.0.0.1";

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;
void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Uuid(int n) {
  char buf[33];
  std::snprintf(buf, sizeof buf, "%032X", n);
  return buf;
}

// A mail container from alice to bob.
std::string Container(const std::u16string& subject, const std::string& body) {
  qovra::TMemoryStream s;
  {
    qovra::TMailWriter w(s, "", [] { return 46000.5; });
    w.AddMailHeaders(kAlice, subject, kBob);
    w.AddField("body", body);
    EXPECT_TRUE(w.Finish());
  }
  return s.Data();
}

// One mail as alice's side makes it.
struct Outgoing {
  std::string uuid;
  std::string container;     // plain
  std::string signed_bytes;  // what the signature covers (normally the container)
  std::string certificate;   // the sender certificate put into the .ems
  int flag = qovra::mfSent | qovra::mfAttachments;
  int mode = qovra::kSendModeSecure;
};

struct Delivered {
  std::string suid, ymbox;
};

// The progress seam of a receive that kills its process while the mail
// uuid is half written to disk: at a bar step between start and end of a
// download, once a partial file of that mail lies in folder.
class KillWhileWriting : public qovra::IProgressUi {
 public:
  KillWhileWriting(std::string folder, std::string uuid, bool armed, qovra::IProgressUi* next)
      : folder_(std::move(folder)), uuid_(std::move(uuid)), armed_(armed), next_(next) {}
  void ShowProgress(qovra::TWindowHandle o, bool b, const std::string& t,
                    const std::string& st) override {
    next_->ShowProgress(o, b, t, st);
  }
  void HideProgress(qovra::TWindowHandle o, bool k) override { next_->HideProgress(o, k); }
  void ReportProgress(void* bar, int64_t total, int64_t done) override;

 private:
  std::string folder_, uuid_;
  bool armed_;
  qovra::IProgressUi* next_;
};

// The progress seam of a receive that sets a fault on the exchange server
// once the download of its first mail begins.
struct FaultOnFirstDownload : qovra::IProgressUi {
  FaultOnFirstDownload(qovra_test::ExchangeServer& s, std::string f, qovra::IProgressUi* n)
      : server(s), fault(std::move(f)), next(n) {}
  void ShowProgress(qovra::TWindowHandle o, bool b, const std::string& t,
                    const std::string& st) override {
    if (armed && t.rfind("mail 1 ", 0) == 0) {
      armed = false;
      EXPECT_TRUE(server.SetFault(fault));
    }
    next->ShowProgress(o, b, t, st);
  }
  void HideProgress(qovra::TWindowHandle o, bool k) override { next->HideProgress(o, k); }
  void ReportProgress(void* bar, int64_t total, int64_t done) override {
    next->ReportProgress(bar, total, done);
  }

  qovra_test::ExchangeServer& server;
  std::string fault;
  qovra::IProgressUi* next;
  bool armed = true;
};

class ReceivingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new qovra_test::ExchangePki;
    for (const char* user : {kAlice, kBob}) {
      pki_->AddUserWithKeyFile(user);
    }
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    qovra_test::ResetClient(dir_.File("tmp"), dir_.File("messages"));
    qovra::SetMsg("msgDownloadingMail", "mail %d (%s) of %d (%s)");
    qovra::SetMsg("msgProcessingMail", "processing %d of %d");
    qovra::SetMsg("msgNewMailNotice", "%d new mails");
    for (const char* who : {"alice", "bob"})
      fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", dir_.File(std::string(who) + ".edb"));

    qovra_test::ExchangeServerOptions o = pki_->Options();
    o.seed_accounts = {std::string(kAlice) + ":pa", std::string(kBob) + ":pb"};
    o.test_commands = true;
    ASSERT_TRUE(server_.Start(o)) << server_.error();
    qovra_test::UseServerAddress("127.0.0.1", server_.Port());

    sender_ = std::make_unique<TestClient>(server_.Port(), pki_->User(kAlice).keys);
    ASSERT_TRUE(sender_->Handshake(false));
    SessionReply r;
    sender_->Request(sender_->LoginXml("alice", "pa", true), r);
    ASSERT_EQ(r.res, 1) << r.plain << r.error;
  }
  void TearDown() override {
    qovra::MailDb.Close();
    qovra::MessagesDir.clear();
    qovra::SetTempFolder("");
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::ClearMsgTable();
  }

  // The client core logged in as who ("alice" or "bob") with its database.
  void BecomeClient(const std::string& who, const std::string& password) {
    const std::string address = who + "@127.0.0.1";
    qovra::MailDb.Close();
    ASSERT_TRUE(qovra::MailDb.Open(dir_.File(who + ".edb")));
    qovra_test::UseKeyFilesOf(*pki_, address);
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    ASSERT_EQ(qovra::LoginSession(who, password, {owner_, "TfrmLogin", nullptr}), 1)
        << testing::PrintToString(Shown());
    ASSERT_EQ(qovra::Session.OwnContact.Email, address);
    ui_->messages.clear();
  }

  Outgoing Mail(int n, const std::string& body) {
    Outgoing m;
    m.uuid = Uuid(n);
    m.container = Container(u"Тема " + qovra::Utf8ToUtf16(std::to_string(n)), body);
    m.signed_bytes = m.container;
    const auto& cert = pki_->User(kAlice).cert;
    m.certificate.assign(cert.begin(), cert.end());
    return m;
  }

  std::string SignContainer(const Outgoing& m) const {
    const keytool::KeyPair& alice = pki_->User(kAlice).keys;
    const std::string sig = xs_test::Sign(alice, xs_test::Hash(m.signed_bytes));
    std::array<uint8_t, qovra::kSignatureSize> s{};
    std::copy(sig.begin(), sig.end(), s.begin());
    return qovra::BuildSignatureRecord(m.uuid, s, m.certificate, alice.pub, 46000.5);
  }

  // Sends m to bob through the test client; bob's copy as the server named it.
  Delivered Send(const Outgoing& m, const std::string& to = "bob") {
    const keytool::KeyPair& alice = pki_->User(kAlice).keys;
    const std::string to_bob =
        "<emails><domain val=\"127.0.0.1\" prx=\"1\"><login val=\"" + to + "\"/></domain></emails>";
    std::string content;
    std::string emails;
    size_t csize = 0;
    if (m.mode == qovra::kSendModeSecure) {
      std::array<uint8_t, 64> key{};
      EXPECT_EQ(
          UZDST_CIPHER_KEY_generate(alice.priv.data(), alice.pub.data(),
                                    pki_->User(to + "@127.0.0.1").keys.pub.data(), key.data()),
          1);
      const std::string iv = xs_test::Hash(m.uuid);
      content =
          xs_test::CbcEncrypt(key.data(), reinterpret_cast<const uint8_t*>(iv.data()), m.container);
      csize = content.size();
      emails = to_bob;
    } else {
      const std::string recipients =
          "<emails><domain val=\"127.0.0.1\" prx=\"1\"><login val=\"bob\" pbk=\"AAAA\"/>"
          "</domain></emails>";
      content = xs_test::CbcEncrypt(sender_->key().data(),
                                    reinterpret_cast<const uint8_t*>(sender_->sid().data()),
                                    m.container + recipients);
      csize = m.container.size() + recipients.size();
    }
    const std::string xml =
        "<request><cmd val=\"164\"/><from val=\"" + std::string(kAlice) + "\"/><id val=\"" +
        m.uuid + "\"/><mode val=\"" + std::to_string(m.mode) + "\"/><size val=\"" +
        std::to_string(m.container.size()) + "\"/><csize val=\"" + std::to_string(csize) +
        "\"/><sign val=\"" + xs_test::B64(SignContainer(m)) + "\"/><flag val=\"" +
        std::to_string(m.flag) + "\"/><priority val=\"2\"/><nodec val=\"1\"/>" + emails +
        "</request>";
    SessionReply r;
    sender_->Request(xml, r, &content);
    EXPECT_EQ(r.res, 1) << r.xml << r.plain << r.error;
    const pugi::xml_node login = r.doc.document_element()
                                     .child("emails")
                                     .find_child_by_attribute("domain", "val", "127.0.0.1")
                                     .find_child_by_attribute("login", "val", to.c_str());
    return {login.attribute("suid").value(), login.attribute("ymbox").value()};
  }

  // The server's stored files of a copy.
  std::string StoreFile(const Delivered& d, const char* ext) const {
    return server_.DataDir() + "/mail/" + d.suid + ext;
  }

  qovra::TReceiveSummary Receive() {
    qovra::TReceiveRun run;
    run.Owner = {owner_, "TfrmMain", &bar_};
    run.StatusBar = &status_bar_;
    return qovra::ReceiveMails(run);
  }

  // Runs a receive in a child process that kills itself (SIGKILL) when the
  // mail uuid reaches step, or without a step while its file is half
  // written. True when it died there.
  bool ReceiveKilledAt(const std::string& uuid, std::optional<qovra::TReceiveStep> step) {
    qovra::MailDb.Close();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      // A random pool of its own, as a process of its own has: a copy of
      // the parent's would repeat the last child's requests, which the
      // server refuses.
      (void)random_cleanup();
      random_poll_system();
      if (!qovra::MailDb.Open(dir_.File("bob.edb"))) ::_exit(4);
      KillWhileWriting hook(dir_.File("messages"), uuid, !step, &*ui_);
      qovra::SetProgressUi(&hook);
      qovra::TReceiveRun run;
      run.Owner = {owner_, "TfrmMain", &bar_};
      run.StatusBar = &status_bar_;
      run.Probe = [&](qovra::TReceiveStep reached, const std::string& u) {
        if (u == uuid && step == reached) ::raise(SIGKILL);
      };
      (void)qovra::ReceiveMails(run);
      ::_exit(3);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(qovra::MailDb.Open(dir_.File("bob.edb")));
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }
  // Uuids of bob's copies that the server counts as delivered.
  std::vector<std::string> Acknowledged() {
    SqliteDb store;
    std::vector<std::string> uuids;
    if (!store.Open(server_.DataDir() + "/server.db")) return uuids;
    qovra::SqliteStatement q = store.Prepare("SELECT uuid FROM mails WHERE acknowledged<>0");
    while (q.Step() == qovra::SqliteStatement::StepResult::Row) uuids.push_back(q.ColumnText(0));
    return uuids;
  }

  std::vector<std::string> Shown() { return ui_->ShownTexts(); }
  std::vector<std::string> Logged(const std::string& needle) {
    std::vector<std::string> lines;
    std::ifstream in(server_.DataDir() + "/requests.log");
    for (std::string line; std::getline(in, line);)
      if (line.find(needle) != std::string::npos) lines.push_back(line);
    return lines;
  }
  // One column of the first row of sql on the open mail database.
  static std::string Value(const std::string& sql) {
    qovra::SqliteStatement st = qovra::MailDb.Prepare(sql);
    if (st.Step() != qovra::SqliteStatement::StepResult::Row) return "<none>";
    return st.ColumnText(0);
  }
  std::vector<std::string> MessageFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.File("messages")))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static qovra_test::ExchangePki* pki_;
  qovra::testing::ScopedFakeUi ui_;
  ScratchDir dir_;
  qovra_test::ExchangeServer server_;
  std::unique_ptr<TestClient> sender_;
  int owner_dummy_ = 0;
  qovra::TWindowHandle owner_ = &owner_dummy_;
  int bar_ = 0;
  int status_bar_ = 0;
};

qovra_test::ExchangePki* ReceivingTest::pki_ = nullptr;

bool PartialIn(const std::string& folder, const std::string& uuid);

void KillWhileWriting::ReportProgress(void* bar, int64_t total, int64_t done) {
  if (armed_ && done > 0 && done < total && PartialIn(folder_, uuid_)) ::raise(SIGKILL);
  next_->ReportProgress(bar, total, done);
}

TEST_F(ReceivingTest, SecureFastAndAdministrativeMailsAreReceivedAndReportsFlowBack) {
  Outgoing secure = Mail(1, "secure body");
  secure.flag |= qovra::mfDeliveryReport | qovra::mfReadReport;  // asks a read report
  Outgoing fast = Mail(2, std::string(1000, 'f'));
  fast.mode = qovra::kSendModeFast;
  Outgoing admin = Mail(3, "for administrative use only");
  admin.flag |= qovra::mfAdminOnly;
  const Delivered d1 = Send(secure);
  Send(fast);
  Send(admin);

  // Alice keeps her sent copy, awaiting reports.
  ASSERT_NO_FATAL_FAILURE(BecomeClient("alice", "pa"));
  qovra::TMailMessage sent;
  sent.Uuid = secure.uuid;
  sent.Suid = d1.suid;
  sent.Ymbox = std::stoi(d1.ymbox);
  sent.FromAddress = kAlice;
  sent.Recipients.Add(kBob);
  sent.FolderId = qovra::kFolderSent;
  sent.Flags = static_cast<uint16_t>(secure.flag);
  ASSERT_NE(qovra::SaveMailToDatabase(qovra::MailDb, sent, kAlice, nullptr, nullptr, false), 0);

  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  qovra::Options.Mail.playsnd = 1;
  qovra::Options.Mail.sndpath = u"/sounds/new.wav";
  qovra::Options.Other.traymin = 1;
  ui_->application_active = false;
  ui_->main_window_hidden = true;
  const qovra::TReceiveSummary s = Receive();
  EXPECT_TRUE(s.Listed);
  EXPECT_EQ(s.NewMails, 3);
  EXPECT_EQ(s.Downloaded, 3);
  EXPECT_EQ(s.Stored, 3) << testing::PrintToString(Shown());
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());

  // Bytes as sent; admin mail kept enciphered, its key sealed.
  const std::string msgs = dir_.File("messages") + "/";
  EXPECT_EQ(ReadFile(msgs + secure.uuid + ".emz"), secure.container);
  EXPECT_EQ(ReadFile(msgs + fast.uuid + ".emz"), fast.container);
  EXPECT_FALSE(fs::exists(msgs + secure.uuid + ".eme"));
  EXPECT_FALSE(fs::exists(msgs + admin.uuid + ".emz"));
  EXPECT_TRUE(fs::exists(msgs + admin.uuid + ".eme"));
  std::vector<std::string> expected = {secure.uuid + ".emz", secure.uuid + ".ems",
                                       fast.uuid + ".emz",   fast.uuid + ".ems",
                                       admin.uuid + ".eme",  admin.uuid + ".ems"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(MessageFiles(), expected);
  for (const std::string& f : MessageFiles()) EXPECT_EQ(f.find(".part"), std::string::npos) << f;
  EXPECT_EQ(Value("SELECT length(fau_data) FROM ecm_mails WHERE uuid='" + admin.uuid + "'"), "88");

  // Rows: subject, inbox, received bit, sent bit cleared, mode, priority.
  const std::string where = " FROM ecm_mails WHERE uuid='" + secure.uuid + "'";
  EXPECT_EQ(Value("SELECT subject" + where), "Тема 1");
  EXPECT_EQ(Value("SELECT folder_id" + where), "0");
  EXPECT_EQ(Value("SELECT flag" + where),
            std::to_string((secure.flag | qovra::mfReceived) & ~qovra::mfSent));
  EXPECT_EQ(Value("SELECT priority" + where), "2");
  EXPECT_EQ(Value("SELECT send_mode FROM ecm_mails WHERE uuid='" + fast.uuid + "'"), "1");
  EXPECT_EQ(Value("SELECT mail_size FROM ecm_mails WHERE uuid='" + fast.uuid + "'"),
            std::to_string(fast.container.size()));
  EXPECT_TRUE(qovra::IsTimeText(
      Value("SELECT r.received_time FROM ecm_recipients r JOIN ecm_mails m ON m.id=r.mail_id WHERE "
            "m.uuid='" +
            secure.uuid + "'")));
  EXPECT_NE(Value("SELECT r.received_time FROM ecm_recipients r JOIN ecm_mails m ON "
                  "m.id=r.mail_id WHERE m.uuid='" +
                  secure.uuid + "'"),
            std::string(qovra::kZeroTimeText));
  EXPECT_EQ(Value("SELECT r.suid FROM ecm_recipients r JOIN ecm_mails m ON m.id=r.mail_id WHERE "
                  "m.uuid='" +
                  secure.uuid + "'"),
            d1.suid);

  // Flags told to the server: a read report asked gets 0x40 only.
  const std::vector<std::string> flags = Logged("<cmd val=\"170\"/>");
  ASSERT_EQ(flags.size(), 3u);
  EXPECT_NE(flags[0].find("<flag val=\"64\"/>"), std::string::npos) << flags[0];
  EXPECT_NE(flags[1].find("<flag val=\"192\"/>"), std::string::npos) << flags[1];
  EXPECT_NE(flags[0].find("<to val=\"bob@127.0.0.1\"/>"), std::string::npos) << flags[0];

  // Sound, tray notice, folder refresh.
  EXPECT_EQ(ui_->sounds, (std::vector<std::u16string>{u"/sounds/new.wav"}));
  ASSERT_EQ(ui_->tray_notices.size(), 1u);
  EXPECT_EQ(ui_->tray_notices[0].text, "3 new mails");
  EXPECT_EQ(ui_->tray_notices[0].timeout_ms, 10000);
  EXPECT_EQ(ui_->folder_refreshes, (std::vector<int32_t>{0}));

  // A second run finds nothing new: no sound, no refresh.
  ui_->sounds.clear();
  ui_->folder_refreshes.clear();
  const qovra::TReceiveSummary again = Receive();
  EXPECT_TRUE(again.Listed);
  EXPECT_EQ(again.NewMails, 0);
  EXPECT_TRUE(ui_->sounds.empty());
  EXPECT_TRUE(ui_->folder_refreshes.empty());

  // Alice's next run: delivery time on her recipient row, read time still zero.
  ASSERT_NO_FATAL_FAILURE(BecomeClient("alice", "pa"));
  const qovra::TReceiveSummary a = Receive();
  EXPECT_TRUE(a.Listed);
  EXPECT_EQ(a.Reports, 1);
  const std::string row = " FROM ecm_recipients WHERE suid='" + d1.suid + "'";
  EXPECT_TRUE(qovra::IsTimeText(Value("SELECT received_time" + row)));
  EXPECT_NE(Value("SELECT received_time" + row), std::string(qovra::kZeroTimeText));
  EXPECT_EQ(Value("SELECT read_time" + row), std::string(qovra::kZeroTimeText));
  EXPECT_NE(Logged("<suid val=\"" + d1.ymbox + d1.suid + "\"").size(), 0u);

  // Bob reads it: the next report carries the read time too.
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  pugi::xml_document reply;
  ASSERT_TRUE(qovra::UpdateMailFlag({owner_, "TfrmMain", nullptr}, secure.uuid, std::stoi(d1.ymbox),
                                    reply, false, qovra::mfReadReport));
  ASSERT_NO_FATAL_FAILURE(BecomeClient("alice", "pa"));
  EXPECT_EQ(Receive().Reports, 1);
  EXPECT_NE(Value("SELECT read_time" + row), std::string(qovra::kZeroTimeText));
}

// Spoils for the bad-mail table, applied to the server's store.
enum class Spoil {
  None,
  WrongSignature,
  LongerFile,
  CorruptContainer,
  NoSignContainer,
  GarbageSignContainer,
  BadCert,
  DotDotUuid,
  QuoteUuid
};

struct BadRow {
  const char* name;
  Spoil spoil;
  const char* message;  // the warning key; empty: another report (the file stream's)
};

TEST_F(ReceivingTest, BadMailsAreReportedAndSkippedWhileTheRunGoesOn) {
  const std::vector<BadRow> rows = {
      {"wrong signature", Spoil::WrongSignature, "msgUnauthenticSignature"},
      {"one block longer", Spoil::LongerFile, "msgMessageSizeIncorrect"},
      {"corrupt container", Spoil::CorruptContainer, "msgMailFileCorrupted"},
      {"no signature container", Spoil::NoSignContainer, ""},
      // Not a signature container: told like an unreadable certificate.
      {"garbage signature container", Spoil::GarbageSignContainer, "msgInvalidSenderCertificate"},
      // The run goes on after a sender certificate it cannot read.
      {"unreadable certificate", Spoil::BadCert, "msgInvalidSenderCertificate"},
      {"uuid ../x", Spoil::DotDotUuid, "msgMailNotFound"},
      {"uuid with quotes", Spoil::QuoteUuid, "msgMailNotFound"},
  };
  std::vector<Outgoing> mails;
  std::vector<Delivered> copies;
  for (size_t i = 0; i < rows.size(); ++i) {
    Outgoing m = Mail(static_cast<int>(10 + i), "body " + std::to_string(i));
    if (rows[i].spoil == Spoil::WrongSignature) m.signed_bytes += "x";
    if (rows[i].spoil == Spoil::CorruptContainer) {
      m.container = "not a container at all";
      m.signed_bytes = m.container;
    }
    copies.push_back(Send(m));
    mails.push_back(m);
  }
  const Outgoing good = Mail(99, "the good one");
  Send(good);

  SqliteDb store;
  ASSERT_TRUE(store.Open(server_.DataDir() + "/server.db"));
  for (size_t i = 0; i < rows.size(); ++i) {
    const Delivered& d = copies[i];
    switch (rows[i].spoil) {
      case Spoil::LongerFile:
        WriteFile(StoreFile(d, ".eme"), ReadFile(StoreFile(d, ".eme")) + std::string(32, 'z'));
        break;
      case Spoil::NoSignContainer:
        WriteFile(StoreFile(d, ".ems"), "");
        break;
      case Spoil::GarbageSignContainer:
        WriteFile(StoreFile(d, ".ems"), "not a signature container");
        break;
      case Spoil::BadCert: {
        Outgoing bad = mails[i];
        bad.certificate = "definitely not a certificate";
        WriteFile(StoreFile(d, ".ems"), SignContainer(bad));
        break;
      }
      case Spoil::DotDotUuid:
      case Spoil::QuoteUuid: {
        const char* uuid = rows[i].spoil == Spoil::DotDotUuid ? "../x" : "AB\"C'<x/>";
        ASSERT_TRUE(store.Prepare("UPDATE mails SET uuid=? WHERE suid=?")
                        .Bind(1, uuid)
                        .Bind(2, d.suid)
                        .Run());
        break;
      }
      default:
        break;
    }
  }
  store.Close();

  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  const qovra::TReceiveSummary s = Receive();
  EXPECT_TRUE(s.Listed);
  EXPECT_EQ(s.NewMails, static_cast<int>(rows.size()) + 1);
  EXPECT_EQ(s.Stored, 1) << testing::PrintToString(Shown());
  EXPECT_EQ(ReadFile(dir_.File("messages") + "/" + good.uuid + ".emz"), good.container);
  EXPECT_EQ(Value("SELECT subject FROM ecm_mails WHERE uuid='" + good.uuid + "'"), "Тема 99");

  const std::vector<std::string> shown = Shown();
  ASSERT_EQ(shown.size(), rows.size()) << testing::PrintToString(shown);
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    if (rows[i].message[0]) {
      EXPECT_NE(std::find(shown.begin(), shown.end(), qovra::GetMsg(rows[i].message)), shown.end());
    }
    const std::string base = dir_.File("messages") + "/" + mails[i].uuid;
    EXPECT_FALSE(fs::exists(base + ".emz"));
    EXPECT_FALSE(fs::exists(base + ".eme"));  // ordinary mails lose it
    // Never stored as a checked mail: a downloaded one keeps the header row
    // without its subject; a refused uuid has no row at all.
    const bool refused = rows[i].spoil == Spoil::DotDotUuid || rows[i].spoil == Spoil::QuoteUuid;
    EXPECT_EQ(Value("SELECT subject FROM ecm_mails WHERE uuid='" + mails[i].uuid + "'"),
              refused ? "<none>" : "");
  }
  // Nothing but the good mail's and the spoiled mails' .ems in the folder,
  // nothing outside it.
  for (const std::string& f : MessageFiles()) {
    EXPECT_EQ(f.find(".part"), std::string::npos) << f;
    EXPECT_EQ(f.size(), 36u) << f;
  }
  EXPECT_FALSE(fs::exists(dir_.File("x.eme")));
  EXPECT_FALSE(fs::exists(dir_.File("x.ems")));
  // The refused uuids never reached a download request.
  EXPECT_EQ(Logged("<cmd val=\"166\"/>").size(), rows.size() - 1);
}

TEST_F(ReceivingTest, ServerFaultsEndTheRunWithNothingHalfDone) {
  const Outgoing m1 = Mail(1, "first");
  const Outgoing m2 = Mail(2, "second");
  Send(m1);
  Send(m2);
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));

  // Garbage reply to the list request.
  ASSERT_TRUE(server_.SetFault("once:payload"));
  qovra::TReceiveSummary s = Receive();
  EXPECT_FALSE(s.Listed);
  EXPECT_EQ(ui_->messages.size(), 1u) << testing::PrintToString(Shown());
  EXPECT_TRUE(MessageFiles().empty());

  // Plain 6 on the first download: that mail is skipped, the run ends
  // normally; the mail stays new on the server and comes again.
  ui_->messages.clear();
  ASSERT_TRUE(server_.SetFault("off"));
  FaultOnFirstDownload hook(server_, "once:plain:6", &*ui_);
  qovra::SetProgressUi(&hook);
  s = Receive();
  qovra::SetProgressUi(&*ui_);
  EXPECT_FALSE(hook.armed);
  EXPECT_TRUE(s.Listed);
  EXPECT_EQ(s.NewMails, 2);
  EXPECT_FALSE(fs::exists(dir_.File("messages") + "/" + m1.uuid + ".emz"));
  EXPECT_GE(ui_->messages.size(), 1u);
  for (const std::string& f : MessageFiles()) EXPECT_EQ(f.find(".part"), std::string::npos) << f;

  // Server down: reported, nothing stored.
  ui_->messages.clear();
  server_.Stop();
  s = Receive();
  EXPECT_FALSE(s.Listed);
  EXPECT_EQ(ui_->messages.size(), 1u);
  EXPECT_TRUE(ui_->sounds.empty());
}

// A download cut off (the server closes the connection) at any stage of
// the mail's way in (its reply's head, the signature container and its
// server signature, the mail's bytes while they are deciphered as they
// come, its server signature) is the connection's failure and leaves no
// file behind, neither in the messages folder nor in the temporary one;
// the mail stays new and the next run stores it whole. With either HTTP
// client, in either mode.
TEST_F(ReceivingTest, CutDownloadLeavesNoPartialFile) {
  qovra::SetMsg("msgConnectionError", "No connection.");
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  // The reply ends with the signature container and its server signature,
  // then the mail (eme bytes on the wire) and its server signature; each
  // cut is counted back from the reply's end.
  const struct {
    const char* name;
    std::function<std::string(size_t ems, int64_t eme)> fault;
  } cuts[] = {
      {"halfway", [](size_t, int64_t) { return "once:drop"; }},
      {"in the reply's head", [](size_t, int64_t) { return "once:drop:100"; }},
      {"in the signature container",
       [](size_t ems, int64_t eme) {
         return "once:drop:-" + std::to_string(eme + 160 + 160 + static_cast<int64_t>(ems / 2));
       }},
      {"in the signature container's signature",
       [](size_t, int64_t eme) { return "once:drop:-" + std::to_string(eme + 160 + 80); }},
      {"early in the mail",
       [](size_t, int64_t eme) { return "once:drop:-" + std::to_string(eme + 160 - 65536); }},
      {"in the mail's signature", [](size_t, int64_t) { return "once:drop:-80"; }},
  };
  int n = 30;
  // Both HTTP clients read the reply while it arrives.
  for (const uint8_t client : {0, 2}) {
    qovra::Options.Conn.useiewc = client;
    for (const int mode : {qovra::kSendModeSecure, qovra::kSendModeFast}) {
      for (const auto& cut : cuts) {
        SCOPED_TRACE(std::string(cut.name) +
                     (mode == qovra::kSendModeFast ? ", fast" : ", secure") + ", useiewc " +
                     std::to_string(client));
        Outgoing m = Mail(++n, std::string(3 << 20, 'q'));
        m.mode = mode;
        Send(m);
        FaultOnFirstDownload hook(server_,
                                  cut.fault(SignContainer(m).size(),
                                            qovra::PaddedBlockLength(m.container.size())),
                                  &*ui_);
        const std::vector<std::string> files_before = MessageFiles();
        ui_->messages.clear();
        qovra::SetProgressUi(&hook);
        qovra::TReceiveSummary s = Receive();
        qovra::SetProgressUi(&*ui_);
        EXPECT_FALSE(hook.armed);
        EXPECT_EQ(s.Downloaded, 0);
        EXPECT_EQ(s.Stored, 0);
        const std::vector<std::string> shown = Shown();
        ASSERT_EQ(shown.size(), 1u) << testing::PrintToString(shown);
        EXPECT_EQ(shown[0].rfind("No connection.\r", 0), 0u) << shown[0];
        EXPECT_EQ(MessageFiles(), files_before);
        EXPECT_TRUE(fs::is_empty(qovra::GetTempFolder()));
        const std::vector<std::string> acknowledged = Acknowledged();
        EXPECT_EQ(std::count(acknowledged.begin(), acknowledged.end(), m.uuid), 0);

        ui_->messages.clear();
        s = Receive();
        EXPECT_EQ(s.Stored, 1) << testing::PrintToString(Shown());
        EXPECT_EQ(ReadFile(dir_.File("messages") + "/" + m.uuid + ".emz"), m.container);
      }
    }
  }
}

// The awaited reports cannot be listed: the error is shown and nothing is
// fetched, so no mail is acknowledged into a database that fails.
TEST_F(ReceivingTest, UnreadableReportListEndsTheRunBeforeTheRequest) {
  Send(Mail(7, "waits on the server"));
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  ASSERT_TRUE(qovra::MailDb.Exec("ALTER TABLE ecm_recipients RENAME TO ecm_recipients_gone"));
  const qovra::TReceiveSummary s = Receive();
  EXPECT_FALSE(s.Listed);
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgDatabaseError")});
  EXPECT_TRUE(Logged("<cmd val=\"165\"/>").empty());
  EXPECT_TRUE(MessageFiles().empty());

  // Once the database reads again the mail comes.
  ASSERT_TRUE(qovra::MailDb.Exec("ALTER TABLE ecm_recipients_gone RENAME TO ecm_recipients"));
  ui_->messages.clear();
  EXPECT_EQ(Receive().Stored, 1) << testing::PrintToString(Shown());
}

// A copy on disk that was never checked (the run before stopped between
// the download and the check) is no reason to skip the mail: it is fetched
// and checked again rather than reported as received unchecked.
TEST_F(ReceivingTest, UncheckedCopyOnDiskIsFetchedAndCheckedAgain) {
  Outgoing plain = Mail(21, "plain");
  Outgoing admin = Mail(22, "for administrative use only");
  admin.flag |= qovra::mfAdminOnly;
  Send(plain);
  Send(admin);
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  const std::string msgs = dir_.File("messages") + "/";
  for (const Outgoing* m : {&plain, &admin}) WriteFile(msgs + m->uuid + ".eme", "half a copy");
  const qovra::TReceiveSummary s = Receive();
  EXPECT_EQ(s.Downloaded, 2);
  EXPECT_EQ(s.Stored, 2) << testing::PrintToString(Shown());
  EXPECT_EQ(ReadFile(msgs + plain.uuid + ".emz"), plain.container);
  EXPECT_FALSE(fs::exists(msgs + plain.uuid + ".eme"));
  EXPECT_EQ(Value("SELECT length(fau_data) FROM ecm_mails WHERE uuid='" + admin.uuid + "'"), "88");
  EXPECT_EQ(Value("SELECT subject FROM ecm_mails WHERE uuid='" + admin.uuid + "'"), "Тема 22");
}

// A mail for administrative use only whose key cannot be sealed could not
// be opened: the failure is shown, nothing of the mail is kept and the
// server is not told it was received, so it lists the mail again and the
// next run fetches and keeps it.
TEST_F(ReceivingTest, KeyThatCannotBeSealedIsReportedAndTheMailFetchedAgain) {
  Outgoing admin = Mail(23, "for administrative use only");
  admin.flag |= qovra::mfAdminOnly;
  Send(admin);
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  ASSERT_TRUE(
      qovra::MailDb.Exec("CREATE TRIGGER no_key BEFORE UPDATE OF fau_data ON ecm_mails "
                         "BEGIN SELECT RAISE(ABORT, 'no key'); END"));
  qovra::TReceiveSummary s = Receive();
  EXPECT_EQ(s.Downloaded, 1);
  EXPECT_EQ(s.Stored, 0);
  EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg("msgDatabaseError")});
  const std::string where = " FROM ecm_mails WHERE uuid='" + admin.uuid + "'";
  EXPECT_EQ(Value("SELECT subject" + where), "<none>");
  EXPECT_TRUE(MessageFiles().empty()) << testing::PrintToString(MessageFiles());
  EXPECT_TRUE(Logged("<cmd val=\"170\"/>").empty());

  ASSERT_TRUE(qovra::MailDb.Exec("DROP TRIGGER no_key"));
  ui_->messages.clear();
  s = Receive();
  EXPECT_EQ(s.Downloaded, 1);
  EXPECT_EQ(s.Stored, 1) << testing::PrintToString(Shown());
  EXPECT_EQ(Value("SELECT subject" + where), "Тема 23");
  EXPECT_EQ(Value("SELECT length(fau_data)" + where), "88");
  EXPECT_EQ(Logged("<cmd val=\"170\"/>").size(), 1u);
}

// A mail the server lists again although the user keeps it checked is not
// fetched again; its flag report follows the stored row: 0x40 when the row
// asked a read report, 0x40 | 0x80 when it did not. A mail whose row is
// gone is no mail the user keeps: it is fetched, checked and stored again
// beside the file that stayed, and reported as any new mail.
TEST_F(ReceivingTest, KeptMailListedAgainReportsTheFlagOfItsRow) {
  struct Row {
    const char* name;
    int n;
    bool read_report;
    bool drop_row;
    const char* flag;
  } rows[] = {
      {"read report asked", 31, true, false, "64"},
      {"no read report asked", 32, false, false, "192"},
      {"row gone", 33, false, true, "192"},
  };
  std::vector<Outgoing> mails;
  for (const Row& r : rows) {
    Outgoing m = Mail(r.n, r.name);
    if (r.read_report) m.flag |= qovra::mfReadReport;
    Send(m);
    mails.push_back(m);
  }
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  ASSERT_EQ(Receive().Stored, 3) << testing::PrintToString(Shown());
  for (size_t i = 0; i < mails.size(); ++i) {
    if (rows[i].drop_row) {
      ASSERT_TRUE(qovra::MailDb.Exec("DELETE FROM ecm_mails WHERE uuid='" + mails[i].uuid + "'"));
    }
  }

  SqliteDb store;
  ASSERT_TRUE(store.Open(server_.DataDir() + "/server.db"));
  ASSERT_TRUE(store.Exec("UPDATE mails SET acknowledged=0"));
  store.Close();
  const size_t downloads = Logged("<cmd val=\"166\"/>").size();
  const size_t reports = Logged("<cmd val=\"170\"/>").size();
  const qovra::TReceiveSummary s = Receive();
  EXPECT_EQ(s.NewMails, 3);
  EXPECT_EQ(s.Downloaded, 1);
  EXPECT_EQ(s.Stored, 1) << testing::PrintToString(Shown());
  const std::vector<std::string> fetched = Logged("<cmd val=\"166\"/>");
  ASSERT_EQ(fetched.size(), downloads + 1);
  EXPECT_NE(fetched.back().find(mails[2].uuid), std::string::npos) << fetched.back();
  EXPECT_EQ(Value("SELECT subject FROM ecm_mails WHERE uuid='" + mails[2].uuid + "'"), "Тема 33");
  EXPECT_EQ(ReadFile(dir_.File("messages") + "/" + mails[2].uuid + ".emz"), mails[2].container);
  const std::vector<std::string> flags = Logged("<cmd val=\"170\"/>");
  ASSERT_EQ(flags.size(), reports + 3);
  for (size_t i = 0; i < mails.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    const auto line = std::find_if(
        flags.begin() + static_cast<std::ptrdiff_t>(reports), flags.end(),
        [&](const std::string& l) { return l.find(mails[i].uuid) != std::string::npos; });
    ASSERT_NE(line, flags.end());
    EXPECT_NE(line->find(std::string("<flag val=\"") + rows[i].flag + "\"/>"), std::string::npos)
        << *line;
  }
}

// True when a partial file of a mail being stored lies in folder: its
// deciphered container (<uuid>.<hex>.part) or a reply file (~<hex>.part).
bool PartialIn(const std::string& folder, const std::string& uuid) {
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0 &&
        (name.rfind(uuid + ".", 0) == 0 || name[0] == '~'))
      return true;
  }
  return false;
}

// The receiving client is killed (SIGKILL, in a child process) at every
// step of a receive of five mails, one point after the other, each run
// going on from what the one before left; after each kill the next start
// sweeps the messages folder. At every kill, whatever the server counts as
// delivered is in the database; at the end every mail that passes its
// checks is in the inbox once with its bytes, the refused one has its
// header row, and no partial file, temporary file, orphan row or file
// without its row remains.
TEST_F(ReceivingTest, KilledAtEveryStepLosesNoDeliveredMail) {
  Outgoing big = Mail(41, std::string(3 << 20, 'b'));
  big.flag |= qovra::mfReadReport;
  Outgoing fast = Mail(42, "fast mode");
  fast.mode = qovra::kSendModeFast;
  Outgoing admin = Mail(43, std::string(2 << 20, 'a'));
  admin.flag |= qovra::mfAdminOnly;
  Outgoing bad = Mail(44, "wrongly signed");
  bad.signed_bytes += "x";
  const Outgoing last = Mail(45, "the last one");
  const std::vector<const Outgoing*> mails = {&big, &fast, &admin, &bad, &last};
  for (const Outgoing* m : mails) Send(*m);
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  const std::string msgs = dir_.File("messages") + "/";

  using Step = qovra::TReceiveStep;
  constexpr std::optional<Step> kMidDownload;
  struct Point {
    const Outgoing* mail;
    std::optional<Step> step;  // none: while its file is half written
  };
  const Point points[] = {
      {&big, kMidDownload},    {&big, Step::Downloaded},     {&big, Step::FileKept},
      {&big, Step::Kept},      {&big, Step::Acknowledged},   {&fast, Step::Downloaded},
      {&fast, Step::FileKept}, {&fast, Step::Kept},          {&fast, Step::Acknowledged},
      {&admin, kMidDownload},  {&admin, Step::Downloaded},   {&admin, Step::FileKept},
      {&admin, Step::Kept},    {&admin, Step::Acknowledged}, {&bad, Step::Downloaded},
      {&bad, Step::Refused},   {&bad, Step::Acknowledged},   {&last, Step::Downloaded},
      {&last, Step::FileKept}, {&last, Step::Kept},
  };
  for (const Point& p : points) {
    SCOPED_TRACE(
        p.mail->uuid + " step " +
        (p.step ? std::to_string(static_cast<int>(*p.step)) : std::string("mid-download")));
    ASSERT_TRUE(ReceiveKilledAt(p.mail->uuid, p.step)) << "the point was never reached";
    if (!p.step) {
      EXPECT_TRUE(PartialIn(msgs, p.mail->uuid));
    }
    // Nothing the server counts as delivered is missing from the database.
    for (const std::string& uuid : Acknowledged()) {
      EXPECT_NE(Value("SELECT id FROM ecm_mails WHERE uuid='" + uuid + "'"), "<none>") << uuid;
    }
    qovra::SweepLeftoverFiles(msgs);  // the next start
    for (const std::string& f : MessageFiles()) EXPECT_EQ(f.find(".part"), std::string::npos) << f;
  }

  ui_->messages.clear();
  Receive();
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
  EXPECT_EQ(Acknowledged().size(), mails.size());
  for (const Outgoing* m : mails) {
    SCOPED_TRACE(m->uuid);
    const std::string where = " FROM ecm_mails WHERE uuid='" + m->uuid + "'";
    EXPECT_EQ(Value("SELECT COUNT(*)" + where), "1");
    EXPECT_EQ(Value("SELECT folder_id" + where), "0");
    EXPECT_EQ(Value("SELECT COUNT(*) FROM ecm_recipients r JOIN ecm_mails m ON m.id=r.mail_id "
                    "WHERE m.uuid='" +
                    m->uuid + "'"),
              "1");
    if (m == &bad) {
      EXPECT_EQ(Value("SELECT subject" + where), "");
      EXPECT_FALSE(fs::exists(msgs + m->uuid + ".emz"));
    } else if (m == &admin) {
      EXPECT_NE(Value("SELECT subject" + where), "");
      EXPECT_EQ(Value("SELECT length(fau_data)" + where), "88");
      EXPECT_TRUE(fs::exists(msgs + m->uuid + ".eme"));
    } else {
      EXPECT_NE(Value("SELECT subject" + where), "");
      EXPECT_EQ(ReadFile(msgs + m->uuid + ".emz"), m->container);
    }
  }
  // Every file belongs to a mail's row: no partial or temporary file, no
  // file left by a run that never committed.
  for (const std::string& f : MessageFiles()) {
    EXPECT_EQ(f.size(), 36u) << f;
    EXPECT_NE(Value("SELECT id FROM ecm_mails WHERE uuid='" + f.substr(0, 32) + "'"), "<none>")
        << f;
  }
}

// A messages folder on a file system without hard links (a FAT stick
// gives EPERM), also one that knows no rename without replacing (EINVAL):
// the checked mail still gets its name and is kept.
TEST_F(ReceivingTest, MailIsKeptOnAFolderWithoutHardLinks) {
  using qovra_test::FileSystemKind;
  const struct {
    const char* name;
    FileSystemKind kind;
  } rows[] = {{"no hard links", FileSystemKind::NoHardLinks},
              {"no hard links, no rename flag", FileSystemKind::NoLinksNorFlag}};
  std::vector<Outgoing> mails;
  for (int i = 0; i < 2; ++i) mails.push_back(Mail(51 + i, "on a stick"));
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  for (size_t i = 0; i < mails.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    Send(mails[i]);
    qovra::TReceiveSummary s;
    {
      const qovra_test::ScopedFileSystem file_system(rows[i].kind);
      s = Receive();
    }
    EXPECT_EQ(s.Stored, 1) << testing::PrintToString(Shown());
    EXPECT_EQ(ReadFile(dir_.File("messages") + "/" + mails[i].uuid + ".emz"), mails[i].container);
    EXPECT_EQ(Value("SELECT subject FROM ecm_mails WHERE uuid='" + mails[i].uuid + "'"),
              "Тема " + std::to_string(51 + i));
  }
  for (const std::string& f : MessageFiles()) EXPECT_EQ(f.size(), 36u) << f;
}

// A disk that fills while a mail is downloaded: the user reads that the
// disk is full in their language, whether the signature container or the
// mail itself no longer fits; nothing of the mail stays and the server is
// not told it was received, so once there is room it comes whole.
TEST_F(ReceivingTest, FullDiskIsSaidAndTheMailComesOnceThereIsRoom) {
  qovra::SetMsg("msgDiskFull", "The disk is full.");
  const struct {
    const char* name;
    int64_t free_bytes;
    const char* file;  // the file the message names
  } rows[] = {{"no room for the signature container", 0, ".ems"},
              {"no room for the mail", 64 << 10, ".eme"}};
  ASSERT_NO_FATAL_FAILURE(BecomeClient("bob", "pb"));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    const Outgoing m = Mail(61 + static_cast<int>(i), std::string(1 << 20, 'd'));
    Send(m);
    ui_->messages.clear();
    {
      const qovra_test::ScopedDiskFull full(dir_.File("messages"), rows[i].free_bytes);
      EXPECT_EQ(Receive().Stored, 0);
    }
    EXPECT_EQ(Shown(), std::vector<std::string>{dir_.File("messages") + "/" + m.uuid +
                                                rows[i].file + "\nThe disk is full."});
    EXPECT_TRUE(MessageFiles().empty()) << testing::PrintToString(MessageFiles());
    EXPECT_EQ(Value("SELECT id FROM ecm_mails WHERE uuid='" + m.uuid + "'"), "<none>");
    EXPECT_TRUE(Acknowledged().empty());

    ui_->messages.clear();
    EXPECT_EQ(Receive().Stored, 1) << testing::PrintToString(Shown());
    EXPECT_EQ(ReadFile(dir_.File("messages") + "/" + m.uuid + ".emz"), m.container);
    ASSERT_TRUE(qovra::MailDb.Exec("DELETE FROM ecm_mails"));
    for (const std::string& f : MessageFiles()) fs::remove(dir_.File("messages") + "/" + f);
    SqliteDb store;
    ASSERT_TRUE(store.Open(server_.DataDir() + "/server.db"));
    ASSERT_TRUE(store.Exec("DELETE FROM mails"));
  }
}

TEST_F(ReceivingTest, MailToOneselfKeepsItsSentBit) {
  Outgoing self = Mail(5, "note to self");
  Send(self, "alice");
  ASSERT_NO_FATAL_FAILURE(BecomeClient("alice", "pa"));
  EXPECT_EQ(Receive().Stored, 1) << testing::PrintToString(Shown());
  EXPECT_EQ(Value("SELECT flag FROM ecm_mails WHERE uuid='" + self.uuid + "'"),
            std::to_string(self.flag | qovra::mfReceived));
}

// The report section alone: only well-formed entries reach the rows.
// A flag report that cannot name its copy is refused before anything is
// sent, and the refusal is shown like the download's.
TEST(MailFlagReport, UnusableCopyIsRefusedAndShown) {
  struct Row {
    const char* name;
    std::string uuid;
    int32_t ymbox;
  };
  const std::string good(32, 'A');
  const Row rows[] = {{"uuid ../x", "../x", 1},
                      {"uuid one digit short", good.substr(1), 1},
                      {"uuid not hexadecimal", std::string(31, 'A') + "G", 1},
                      {"ymbox below 0", good, -1}};
  qovra::testing::ScopedFakeUi ui;
  int form_dummy = 0;
  const qovra::TWindowHandle form = &form_dummy;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ui->messages.clear();
    pugi::xml_document reply;
    EXPECT_FALSE(qovra::UpdateMailFlag({form, "TfrmMain", nullptr}, r.uuid, r.ymbox, reply, true,
                                       qovra::mfReadReport));
    EXPECT_EQ(ui->ShownTexts(), std::vector<std::string>{qovra::GetMsg("msgMailNotFound")});
    ASSERT_EQ(ui->messages.size(), 1u);
    EXPECT_EQ(ui->messages[0].owner, form);
    EXPECT_TRUE(ui->progress.empty());
  }
}

TEST(MailReports, OnlyWellFormedEntriesAreApplied) {
  ScratchDir dir;
  SqliteDb db;
  fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", dir.File("ecm.edb"));
  ASSERT_TRUE(db.Open(dir.File("ecm.edb")));
  // d: a suid the server chose in another form, as a send stored it.
  const std::string a(32, 'A'), b(32, 'B'), c(32, 'C'), d = "Ab12";
  for (const std::string& suid : {a, b, c, d}) {
    qovra::TMailMessage m;
    m.Uuid = std::string(28, 'D') + (suid.size() == 32 ? suid.substr(0, 4) : "0d12");
    m.Suid = suid;
    m.Ymbox = 202612;
    m.FromAddress = kAlice;
    m.Recipients.Add(kBob);
    m.FolderId = qovra::kFolderSent;
    ASSERT_NE(qovra::SaveMailToDatabase(db, m, kAlice, nullptr, nullptr, false), 0);
  }
  const std::string t1 = "2026-12-01 10:00:00", t2 = "2026-12-02 11:00:00";
  const std::string zero(qovra::kZeroTimeText);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(("<mails_report>"
                               "<report suid=\"" +
                               a + "\" received_time=\"" + t1 + "\" read_time=\"" + zero +
                               "\"/>"
                               "<report suid=\"" +
                               b + "\" received_time=\"" + t1 + "\" read_time=\"" + t2 +
                               "\"/>"
                               "<report suid=\"" +
                               c + "\" received_time=\"" + zero + "\" read_time=\"" + t2 +
                               "\"/>"
                               "<report suid=\"" +
                               c + "\" received_time=\"x' OR '1'='1\" read_time=\"" + t2 +
                               "\"/>"
                               "<report suid=\"" +
                               c + "' OR '1'='1\" received_time=\"" + t1 +
                               "\"/>"
                               "<report suid=\"\" received_time=\"" +
                               t1 +
                               "\"/>"
                               "<report suid=\"" +
                               d + "\" received_time=\"" + t1 +
                               "\"/>"
                               "</mails_report>")
                                  .c_str()));
  EXPECT_EQ(qovra::ApplyMailReports(db, doc.document_element(), nullptr), 3);
  auto times = [&](const std::string& suid) {
    qovra::SqliteStatement st =
        db.Prepare("SELECT received_time, read_time FROM ecm_recipients WHERE suid=?");
    st.Bind(1, suid);
    EXPECT_EQ(st.Step(), qovra::SqliteStatement::StepResult::Row);
    return st.ColumnText(0) + "|" + st.ColumnText(1);
  };
  EXPECT_EQ(times(a), t1 + "|" + zero);
  EXPECT_EQ(times(b), t1 + "|" + t2);
  EXPECT_EQ(times(c), zero + "|" + zero);
  EXPECT_EQ(times(d), t1 + "|" + zero);
}

}  // namespace
