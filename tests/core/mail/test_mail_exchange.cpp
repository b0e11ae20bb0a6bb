// Two real clients over the local exchange server: alice sends with the
// sending routines (secure and fast mode, two attachments) to bob and
// carol on the two served domains, both receive with the receiving run,
// mark the mails read, and alice's next run picks up delivery and read
// times. A mail for administrative use only stays enciphered and opens
// with its sealed key; a copy of a mail already held is never downloaded
// over the kept files; a send killed after the server took its copies is
// sent again without a second copy, and the reports still find them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <ulmox.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "base/address_list.h"
#include "base/base64.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/time_stamp.h"
#include "base/utf.h"
#include "commands/login_command.h"
#include "commands/mail_commands_client.h"
#include "keys/crypto_binding.h"
#include "mail/receiving.h"
#include "mail/sending.h"
#include "mail/startup.h"
#include "net/server_request.h"
#include "net/server_request_folders.h"
#include "net/xml_maker_addresses.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"
#include "store/mail_db.h"
#include "store/mail_db_key.h"
#include "store/sign_container_reader.h"
#include "store/sqlite_db.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "support/scratch_dir.h"
#include "tevqa.h"

namespace {

namespace fs = std::filesystem;
using qovra::testing::ScratchDir;

constexpr char kPassword[] = "secret";
constexpr char kAlice[] = "alice@127.0.0.1";
constexpr char kBob[] = "bob@localhost";
constexpr char kCarol[] = "carol@127.0.0.1";

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;

std::string Login(const std::string& address) {
  return address.substr(0, address.find('@'));
}
std::string Domain(const std::string& address) {
  return address.substr(address.find('@') + 1);
}

// What alice wrote.
struct Written {
  std::string uuid;
  std::string container;
  std::vector<std::string> attachments;
};

class MailExchangeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new qovra_test::ExchangePki;
    for (const char* user : {kAlice, kBob, kCarol}) {
      pki_->AddUserWithKeyFile(user);
    }
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    qovra_test::ResetClient(dir_.File("tmp"));
    for (const char* user : {kAlice, kBob, kCarol}) {
      fs::create_directories(dir_.File(Login(user) + "-messages"));
      fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", dir_.File(Login(user) + ".edb"));
    }
    qovra_test::ExchangeServerOptions o = pki_->Options();
    for (const char* user : {kAlice, kBob, kCarol})
      o.seed_accounts.push_back(std::string(user) + ":" + kPassword);
    ASSERT_TRUE(server_.Start(o)) << server_.error();
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

  // The client core logged in as address, with its own database and
  // messages folder, talking to the server under the address's domain.
  void BecomeClient(const std::string& address) {
    qovra::MailDb.Close();
    ASSERT_TRUE(qovra::MailDb.Open(dir_.File(Login(address) + ".edb")));
    qovra::MessagesDir = Messages(address);
    qovra_test::UseServerAddress(Domain(address), server_.Port());
    qovra_test::UseKeyFilesOf(*pki_, address);
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    ASSERT_EQ(qovra::LoginSession(Login(address), kPassword, {owner_, "TfrmLogin", nullptr}), 1)
        << testing::PrintToString(Shown());
    ASSERT_EQ(qovra::Session.OwnContact.Email, address);
    ui_->messages.clear();
  }
  std::string Messages(const std::string& address) const {
    return dir_.File(Login(address) + "-messages") + "/";
  }

  // Alice writes a text mail with two attachments and stores it in her
  // outbox: mail is its record, entries its recipients.
  Written Write(int n, const std::vector<std::string>& to, uint16_t flags,
                qovra::TMailMessage& mail, qovra::TEMailList& entries) {
    Written w;
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032X", 0xA1000 + n);
    w.uuid = uuid;
    w.attachments = {std::string(70000 + n, static_cast<char>('a' + n)),
                     "second file " + std::to_string(n) + "\n"};
    std::string to_text;
    for (const auto& r : to) to_text += (to_text.empty() ? "" : ";") + r;
    mail = qovra::TMailMessage{};
    mail.Uuid = w.uuid;
    mail.FromAddress = kAlice;
    EXPECT_TRUE(qovra::SplitAddressList(mail.Recipients, to_text, ';'));
    entries = mail.Recipients;
    const std::u16string subject = u"Отчёт " + qovra::Utf8ToUtf16(std::to_string(n));
    mail.Subject = subject;
    mail.FolderId = qovra::kFolderOutbox;
    mail.Flags = static_cast<uint16_t>(qovra::mfAttachments | qovra::mfReadReport | flags);
    qovra::TMemoryStream container;
    {
      qovra::TMailWriter writer(container);
      writer.AddMailHeaders(kAlice, subject, to_text);
      writer.AddField("body", "Салом, see the two files.");
      writer.AddAttachmentHeader(u"a.bin", static_cast<int64_t>(w.attachments[0].size()));
      writer.WriteBuffer(w.attachments[0].data(), w.attachments[0].size());
      writer.AddAttachmentHeader(u"b.txt", static_cast<int64_t>(w.attachments[1].size()));
      writer.WriteBuffer(w.attachments[1].data(), w.attachments[1].size());
      EXPECT_TRUE(writer.Finish());
    }
    w.container = container.Data();
    mail.MailSize = container.Size();
    mail.Id = qovra::SaveMailToDatabase(qovra::MailDb, mail, kAlice, nullptr, nullptr, false);
    EXPECT_GT(mail.Id, 0);
    return w;
  }

  // Alice sends the outbox mail with the sending steps.
  qovra::TSendOutcome SendSteps(qovra::TMailMessage& mail, const qovra::TEMailList& entries,
                                const std::string& container, int mode) {
    qovra::TMemoryStream stream(container);
    const qovra::TSendPlace place{qovra::MessagesDir, qovra::GetTempFolder(), &qovra::MailDb};
    return qovra::RunSendSteps({owner_, "TfrmMain", nullptr}, place, mail, mode, entries, stream,
                               [](std::string_view) { return true; });
  }

  // Alice writes a mail and sends it.
  Written Send(int n, const std::vector<std::string>& to, int mode, uint16_t flags = 0) {
    qovra::TMailMessage mail;
    qovra::TEMailList entries;
    const Written w = Write(n, to, flags, mail, entries);
    const qovra::TSendOutcome out = SendSteps(mail, entries, w.container, mode);
    EXPECT_TRUE(out.Sent) << testing::PrintToString(Shown());
    EXPECT_FALSE(out.PartialFailure);
    EXPECT_EQ(out.Mode, mode);
    ui_->messages.clear();
    return w;
  }

  qovra::TReceiveSummary Receive() {
    qovra::TReceiveRun run;
    run.Owner = {owner_, "TfrmMain", &bar_};
    run.StatusBar = &status_bar_;
    return qovra::ReceiveMails(run);
  }

  // The received container as the current user holds it, checked against
  // what alice wrote: her signature over it, its attachments' bytes.
  void CheckReceived(const Written& w, const std::string& plain) {
    EXPECT_EQ(plain, w.container);
    // The signature container verifies with alice's certificate key.
    qovra::TMemoryStream ems(ReadFile(qovra::MessagesDir + w.uuid + ".ems"));
    qovra::TSignReader sign(ems);
    ASSERT_TRUE(sign.Parse()) << sign.Error();
    EXPECT_EQ(sign.MailUID(), w.uuid);
    const auto& alice_cert = pki_->User(kAlice).cert;
    EXPECT_EQ(std::string(sign.Certificate()), std::string(alice_cert.begin(), alice_cert.end()));
    const qovra::THashValue hash = qovra::HashString(plain);
    int verdict = 0;
    EXPECT_EQ(UZDST_SIGNATURE_verify(hash.data(), pki_->User(kAlice).keys.pub.data(),
                                     sign.Signature().data(), &verdict),
              1);
    EXPECT_EQ(verdict, 1);
    // The attachments come out as written.
    qovra::TMemoryStream source(plain);
    qovra::TMailReader reader(source);
    ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
    ASSERT_EQ(reader.Attachments().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      const std::string out = dir_.File("att-" + std::to_string(i));
      ASSERT_TRUE(reader.SaveAttachment(static_cast<int64_t>(i), true, nullptr, nullptr, false,
                                        qovra::Utf8ToUtf16(out)));
      EXPECT_EQ(ReadFile(out), w.attachments[i]) << i;
      fs::remove(out);
    }
  }

  // The read flag of the current user's copy of uuid.
  void MarkRead(const std::string& uuid) {
    qovra::SqliteStatement q = qovra::MailDb.Prepare(
        "SELECT r.ymbox FROM ecm_recipients r JOIN ecm_mails m ON m.id=r.mail_id WHERE m.uuid=?");
    q.Bind(1, uuid);
    ASSERT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
    pugi::xml_document reply;
    ASSERT_TRUE(qovra::UpdateMailFlag({owner_, "TfrmMain", nullptr}, uuid,
                                      static_cast<int32_t>(q.ColumnInt(0)), reply, false,
                                      qovra::mfReadReport));
  }

  static std::string Value(const std::string& sql) {
    qovra::SqliteStatement st = qovra::MailDb.Prepare(sql);
    if (st.Step() != qovra::SqliteStatement::StepResult::Row) return "<none>";
    return st.ColumnText(0);
  }
  std::vector<std::string> Shown() { return ui_->ShownTexts(); }

  static qovra_test::ExchangePki* pki_;
  qovra::testing::ScopedFakeUi ui_;
  ScratchDir dir_;
  qovra_test::ExchangeServer server_;
  int owner_dummy_ = 0;
  qovra::TWindowHandle owner_ = &owner_dummy_;
  int bar_ = 0;
  int status_bar_ = 0;
};

qovra_test::ExchangePki* MailExchangeTest::pki_ = nullptr;

// The progress seam of a sender that dies (SIGKILL) at its first progress
// step once the server holds `copies` copies of uuid: after the server
// took them, before the sender could record them.
class KillOnceTheServerHolds : public qovra::IProgressUi {
 public:
  KillOnceTheServerHolds(std::string server_db, std::string uuid, int64_t copies,
                         qovra::IProgressUi* next)
      : server_db_(std::move(server_db)), uuid_(std::move(uuid)), copies_(copies), next_(next) {}
  void ShowProgress(qovra::TWindowHandle o, bool b, const std::string& t,
                    const std::string& st) override {
    DieOnceHeld();
    next_->ShowProgress(o, b, t, st);
  }
  void HideProgress(qovra::TWindowHandle o, bool k) override {
    DieOnceHeld();
    next_->HideProgress(o, k);
  }
  void ReportProgress(void* bar, int64_t total, int64_t done) override {
    DieOnceHeld();
    next_->ReportProgress(bar, total, done);
  }

 private:
  void DieOnceHeld() {
    qovra::SqliteDb store;
    if (!store.Open(server_db_)) return;
    qovra::SqliteStatement q = store.Prepare("SELECT COUNT(*) FROM mails WHERE uuid=?");
    q.Bind(1, uuid_);
    if (q.Step() == qovra::SqliteStatement::StepResult::Row && q.ColumnInt(0) >= copies_)
      ::raise(SIGKILL);
  }

  std::string server_db_, uuid_;
  int64_t copies_;
  qovra::IProgressUi* next_;
};

TEST_F(MailExchangeTest, SecureAndFastMailsReachBothDomainsAndReportsComeBack) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  const Written secure = Send(1, {kBob, kCarol}, qovra::kSendModeSecure);
  const Written fast = Send(2, {kBob, kCarol}, qovra::kSendModeFast);

  for (const char* who : {kBob, kCarol}) {
    SCOPED_TRACE(who);
    ASSERT_NO_FATAL_FAILURE(BecomeClient(who));
    const qovra::TReceiveSummary s = Receive();
    EXPECT_TRUE(s.Listed);
    EXPECT_EQ(s.NewMails, 2);
    EXPECT_EQ(s.Stored, 2) << testing::PrintToString(Shown());
    EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
    for (const Written* w : {&secure, &fast}) {
      ASSERT_NO_FATAL_FAILURE(CheckReceived(*w, ReadFile(qovra::MessagesDir + w->uuid + ".emz")));
      EXPECT_FALSE(fs::exists(qovra::MessagesDir + w->uuid + ".eme"));
      EXPECT_EQ(Value("SELECT subject FROM ecm_mails WHERE uuid='" + w->uuid + "'"),
                w == &secure ? "Отчёт 1" : "Отчёт 2");
    }
    EXPECT_EQ(Value("SELECT send_mode FROM ecm_mails WHERE uuid='" + fast.uuid + "'"), "1");
  }

  // Delivered to all four copies, nobody has read them yet.
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  EXPECT_EQ(Receive().Reports, 4);
  const std::string zero(qovra::kZeroTimeText);
  const std::string rows = " FROM ecm_recipients r JOIN ecm_mails m ON m.id=r.mail_id WHERE ";
  EXPECT_EQ(Value("SELECT count(*)" + rows + "r.received_time<>'" + zero + "'"), "4");
  EXPECT_EQ(Value("SELECT count(*)" + rows + "r.read_time<>'" + zero + "'"), "0");

  for (const char* who : {kBob, kCarol}) {
    ASSERT_NO_FATAL_FAILURE(BecomeClient(who));
    for (const Written* w : {&secure, &fast}) ASSERT_NO_FATAL_FAILURE(MarkRead(w->uuid));
  }
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  EXPECT_EQ(Receive().Reports, 4);
  EXPECT_EQ(Value("SELECT count(*)" + rows + "r.read_time<>'" + zero + "'"), "4");
  qovra::SqliteStatement q = qovra::MailDb.Prepare(
      "SELECT r.received_time, r.read_time, r.send_flag FROM ecm_recipients "
      "r JOIN ecm_mails m ON m.id=r.mail_id");
  int seen = 0;
  while (q.Step() == qovra::SqliteStatement::StepResult::Row) {
    ++seen;
    EXPECT_TRUE(qovra::IsTimeText(q.ColumnText(0)));
    EXPECT_TRUE(qovra::IsTimeText(q.ColumnText(1)));
    EXPECT_LE(q.ColumnText(0), q.ColumnText(1));
    EXPECT_EQ(q.ColumnInt(2), 1);
  }
  EXPECT_EQ(seen, 4);
}

TEST_F(MailExchangeTest, AdministrativeMailStaysEncipheredAndOpensWithItsSealedKey) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  const Written admin = Send(3, {kBob}, qovra::kSendModeSecure, qovra::mfAdminOnly);

  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  const qovra::TReceiveSummary s = Receive();
  EXPECT_EQ(s.Stored, 1) << testing::PrintToString(Shown());
  const std::string eme = ReadFile(qovra::MessagesDir + admin.uuid + ".eme");
  ASSERT_FALSE(eme.empty());
  EXPECT_FALSE(fs::exists(qovra::MessagesDir + admin.uuid + ".emz"));
  EXPECT_EQ(eme.find(admin.attachments[1]), std::string::npos);

  // Unseal the key with bob's private record, decipher, parse.
  const std::string sealed =
      qovra::Base64Decode(Value("SELECT fau_data FROM ecm_mails WHERE uuid='" + admin.uuid + "'"));
  ASSERT_EQ(sealed.size(), qovra::kSealedMailKeySize);
  const std::span<const uint8_t, 256> priv(qovra::Session.OwnPrivateKey);
  const std::string key =
      qovra::DecryptString(sealed, qovra::HashString(admin.uuid), priv.first<64>());
  ASSERT_EQ(key.size(), 64u);
  std::array<uint8_t, 64> key_bytes{};
  std::copy(key.begin(), key.end(), key_bytes.begin());
  // Sealed with the session's record, not a copy of the key itself.
  EXPECT_EQ(qovra::SealMailKey(admin.uuid, key_bytes, priv), sealed);

  const qovra::THashValue iv = qovra::HashString(admin.uuid);
  qovra::TMemoryStream in(eme), out;
  const auto last = static_cast<uint8_t>(admin.container.size() % 32);
  ASSERT_TRUE(qovra::CryptStreamWithHash(in, static_cast<int64_t>(eme.size()), out, nullptr,
                                         nullptr, nullptr, key_bytes, iv,
                                         qovra::CryptLastLengthFlags(last)));
  ASSERT_NO_FATAL_FAILURE(CheckReceived(admin, out.Data()));
}

// A listed copy whose uuid the user already holds is only reported as
// received: the kept .emz, .eme and .ems stay as they were.
TEST_F(MailExchangeTest, CopyOfAMailAlreadyHeldIsNotDownloadedOverIt) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  const Written admin = Send(4, {kBob}, qovra::kSendModeSecure, qovra::mfAdminOnly);
  const Written plain = Send(5, {kBob}, qovra::kSendModeSecure);
  const Written other = Send(6, {kBob}, qovra::kSendModeSecure);
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  ASSERT_EQ(Receive().Stored, 3) << testing::PrintToString(Shown());
  const std::string eme = ReadFile(qovra::MessagesDir + admin.uuid + ".eme");
  const std::string admin_ems = ReadFile(qovra::MessagesDir + admin.uuid + ".ems");
  const std::string emz = ReadFile(qovra::MessagesDir + plain.uuid + ".emz");
  const std::string plain_ems = ReadFile(qovra::MessagesDir + plain.uuid + ".ems");

  // The server lists two of them again (as when the acknowledgement was
  // lost), now with another mail's files under their names.
  qovra::SqliteDb store;
  ASSERT_TRUE(store.Open(server_.DataDir() + "/server.db"));
  auto suid_of = [this, &store](const std::string& uuid) {
    qovra::SqliteStatement q = store.Prepare("SELECT suid FROM mails WHERE uuid=?");
    q.Bind(1, uuid);
    EXPECT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
    return server_.DataDir() + "/mail/" + q.ColumnText(0);
  };
  const std::string other_copy = suid_of(other.uuid);
  for (const Written* w : {&admin, &plain}) {
    const std::string copy = suid_of(w->uuid);
    for (const char* ext : {".eme", ".ems"}) {
      std::ofstream(copy + ext, std::ios::binary | std::ios::trunc) << ReadFile(other_copy + ext);
    }
    ASSERT_TRUE(
        store.Prepare("UPDATE mails SET acknowledged=0 WHERE uuid=?").Bind(1, w->uuid).Run());
  }
  store.Close();

  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  qovra::TReceiveSummary s = Receive();
  EXPECT_TRUE(s.Listed);
  EXPECT_EQ(s.NewMails, 2);
  EXPECT_EQ(s.Downloaded, 0);
  EXPECT_EQ(s.Stored, 0);
  EXPECT_TRUE(ui_->messages.empty()) << testing::PrintToString(Shown());
  EXPECT_TRUE(ReadFile(qovra::MessagesDir + admin.uuid + ".eme") == eme);
  EXPECT_TRUE(ReadFile(qovra::MessagesDir + admin.uuid + ".ems") == admin_ems);
  EXPECT_TRUE(ReadFile(qovra::MessagesDir + plain.uuid + ".emz") == emz);
  EXPECT_TRUE(ReadFile(qovra::MessagesDir + plain.uuid + ".ems") == plain_ems);
  EXPECT_EQ(Value("SELECT count(*) FROM ecm_mails"), "3");

  // Reported as received, so they are not listed again.
  s = Receive();
  EXPECT_TRUE(s.Listed);
  EXPECT_EQ(s.NewMails, 0);
}

// A sender killed after the server took copies of its mail, before it
// recorded them, sends the mail again from the outbox: the server keeps
// one copy per recipient and names the copy it already held, the sender
// shows that recipient as skipped and records the held copy's values, so
// the delivery and read reports of every recipient come back to its rows.
TEST_F(MailExchangeTest, SendKilledAfterTheServerTookItsCopiesIsSentAgainAndReportsComeBack) {
  const struct {
    const char* name;
    int mode;
    int64_t held;  // copies the server holds at the kill
    const char* shown;
  } rows[] = {
      {"secure, after the first copy", qovra::kSendModeSecure, 1,
       "Result:\rskipped carol@127.0.0.1,\rsent bob@localhost.\r"},
      {"fast, after the package", qovra::kSendModeFast, 2,
       "Result:\rskipped carol@127.0.0.1,\rskipped bob@localhost.\r"},
  };
  const std::string zero(qovra::kZeroTimeText);
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    qovra::SetMsg("msgLoginMailSended", "sent %s@%s,\r");
    qovra::SetMsg("msgLoginMailSendingSkipped", "skipped %s@%s,\r");
    qovra::SetMsg("msgMailSendResult", "Result:\r");
    ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    qovra::TMailMessage mail;
    qovra::TEMailList entries;
    const Written w = Write(static_cast<int>(10 + i), {kBob, kCarol}, 0, mail, entries);
    qovra::MailDb.Close();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      (void)random_cleanup();  // a random pool of its own, as a new process has
      random_poll_system();
      if (!qovra::MailDb.Open(dir_.File(Login(kAlice) + ".edb"))) ::_exit(4);
      KillOnceTheServerHolds hook(server_.DataDir() + "/server.db", w.uuid, rows[i].held, &*ui_);
      qovra::SetProgressUi(&hook);
      (void)SendSteps(mail, entries, w.container, rows[i].mode);
      ::_exit(3);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "never reached";

    // The next start finds the mail in the outbox, its copies unrecorded.
    ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    const std::string of_mail =
        " FROM ecm_recipients r JOIN ecm_mails m ON m.id=r.mail_id WHERE m.uuid='" + w.uuid + "'";
    EXPECT_EQ(Value("SELECT folder_id FROM ecm_mails WHERE uuid='" + w.uuid + "'"), "1");
    EXPECT_EQ(Value("SELECT send_flag" + of_mail + " AND r.to_address='" + kCarol + "'"), "0");
    ASSERT_TRUE(SendSteps(mail, entries, w.container, rows[i].mode).Sent)
        << testing::PrintToString(Shown());
    EXPECT_EQ(Shown(), std::vector<std::string>{rows[i].shown});
    ui_->messages.clear();
    EXPECT_EQ(Value("SELECT folder_id FROM ecm_mails WHERE uuid='" + w.uuid + "'"), "2");

    // One copy each, and the sender's row names it.
    qovra::SqliteDb store;
    ASSERT_TRUE(store.Open(server_.DataDir() + "/server.db"));
    for (const char* who : {kBob, kCarol}) {
      SCOPED_TRACE(who);
      qovra::SqliteStatement q = store.Prepare(
          "SELECT m.suid || ' ' || m.ymbox || ' ' || m.sent_time FROM mails m JOIN accounts a ON "
          "a.id=m.recipient_account WHERE m.uuid=? AND a.login=?");
      q.Bind(1, w.uuid).Bind(2, Login(who));
      ASSERT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
      const std::string copy = q.ColumnText(0);
      EXPECT_NE(q.Step(), qovra::SqliteStatement::StepResult::Row) << "a second copy";
      EXPECT_EQ(Value("SELECT r.suid || ' ' || r.ymbox || ' ' || r.sent_time || ' ' || "
                      "r.send_flag" +
                      of_mail + " AND r.to_address='" + who + "'"),
                copy + " 1");
    }
    store.Close();

    // Both receive it once and read it; the reports reach alice's rows.
    for (const char* who : {kBob, kCarol}) {
      SCOPED_TRACE(who);
      ASSERT_NO_FATAL_FAILURE(BecomeClient(who));
      EXPECT_EQ(Receive().Stored, 1) << testing::PrintToString(Shown());
      ASSERT_NO_FATAL_FAILURE(MarkRead(w.uuid));
    }
    ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    EXPECT_TRUE(Receive().Listed) << testing::PrintToString(Shown());
    EXPECT_EQ(Value("SELECT count(*)" + of_mail + " AND r.received_time<>'" + zero +
                    "' AND r.read_time<>'" + zero + "'"),
              "2");
  }
}

}  // namespace
