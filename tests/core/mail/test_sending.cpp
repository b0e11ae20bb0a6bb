// Sending against the local exchange server: the certificates request and
// its check, secure and fast sends, the refusals, a server error for one
// recipient, the server's values as stored, a key that cannot be sealed,
// the signing and enciphering errors, copies made ahead and their order,
// the stored copies, the database rows and the files left; and secure-mode
// replies no local server sends, from a scripted one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <tevqa.h>
#include <ulmox.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
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
#include "core/net/envelope_test_fixture.h"
#include "keys/crypto_binding.h"
#include "mail/sending.h"
#include "mail/sending_values.h"
#include "mail/startup_files.h"
#include "mail/startup_sweep.h"
#include "net/server_request.h"
#include "net/session_setup.h"
#include "net/server_request_folders.h"
#include "net/xml_maker_addresses.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "store/mail_container_date.h"
#include "store/mail_container_writer.h"
#include "store/mail_db.h"
#include "store/mail_db_key.h"
#include "store/sqlite_db.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "support/http_clients.h"
#include "support/loopback_listener.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using qovra::testing::ScratchDir;

constexpr char kPassword[] = "secret";
constexpr char kAlice[] = "alice@127.0.0.1";
constexpr char kBob[] = "bob@localhost";
constexpr char kCarol[] = "carol@127.0.0.1";
constexpr char kDave[] = "dave@127.0.0.1";
constexpr char kEve[] = "eve@localhost";      // another key domain
constexpr char kFrank[] = "frank@localhost";  // the own domain but another coefficient
constexpr char kNobody[] = "nobody@localhost";
constexpr char kForeign[] = "x@example.org";

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;

std::vector<std::string> FilesIn(const std::string& dir, const std::string& ext = "") {
  std::vector<std::string> names;
  if (!fs::exists(dir)) return names;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (ext.empty() || e.path().extension() == ext) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(BuildLoginListXml, GroupsAndSorts) {
  struct Case {
    std::vector<std::string> entries;
    std::string want;
  } cases[] = {
      {{"Zed@b.uz", "amy@B.uz", "me@a.uz", "kim@a.uz"},
       "<domain val=\"a.uz\"><login val=\"kim\" /></domain>"
       "<domain val=\"B.uz\"><login val=\"amy\"/><login val=\"Zed\"/></domain>"},
      {{"ME@A.UZ"}, ""},
      {{}, ""},
      {{"a&b@x.uz"}, "<domain val=\"x.uz\"><login val=\"a&amp;b\" /></domain>"},
  };
  for (const Case& c : cases) {
    qovra::TEMailList list;
    for (const auto& e : c.entries) list.Add(e);
    EXPECT_EQ(qovra::BuildLoginListXml(list, "me@a.uz"), c.want);
  }
}

TEST(OfferFastMode, AskedOnlyAboveTheLimitWithTwoRecipients) {
  struct Case {
    int mode;
    int64_t size;
    size_t recipients;
    bool asked;
  } cases[] = {
      {0, 200'000'000, 1, false}, {0, 15'728'640, 2, false},  {0, 15'728'641, 2, true},
      {0, 10'485'761, 3, true},   {1, 200'000'000, 5, false}, {0, INT64_MAX / 2, 4, true},
  };
  for (const Case& c : cases) {
    for (int answer : {qovra::kMsgResultYes, qovra::kMsgResultNo}) {
      qovra::testing::ScopedFakeUi ui;
      ui->QueueAnswer(answer);
      const int mode = qovra::OfferFastMode(nullptr, c.mode, c.size, c.recipients);
      EXPECT_EQ(ui->messages.size(), c.asked ? 1u : 0u) << c.size << " x " << c.recipients;
      EXPECT_EQ(mode, c.asked && answer == qovra::kMsgResultYes ? 1 : c.mode);
    }
  }
}

// A copy of the shipped mail database, an outbox mail of me@a.uz and the
// start of the server's reply to it.
struct OutboxDb {
  void Open(const std::string& uuid) {
    fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", dir.File("ecm.edb"));
    ASSERT_TRUE(db.Open(dir.File("ecm.edb")));
    mail.Uuid = uuid;
    mail.FromAddress = "me@a.uz";
    mail.FolderId = qovra::kFolderOutbox;
    domain = reply.append_child("response").append_child("emails").append_child("domain");
    domain.append_attribute("val") = "a.uz";
    domain.append_attribute("ok") = "1";
  }
  ScratchDir dir;
  qovra::SqliteDb db;
  qovra::TMailMessage mail;
  // A reply whose domain a.uz was accepted, for the test's logins.
  pugi::xml_document reply;
  pugi::xml_node domain;
};

TEST(RemoveNodeAndAdvance, MovesOnAndRemoves) {
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string("<r><a/><b/></r>"));
  pugi::xml_node n = doc.child("r").first_child();
  qovra::RemoveNodeAndAdvance(n);
  EXPECT_STREQ(n.name(), "b");
  qovra::RemoveNodeAndAdvance(n);
  EXPECT_FALSE(n);
  EXPECT_FALSE(doc.child("r").first_child());
}

// Server values of a delivered copy: kept when safe to store, else left to
// their defaults; the copy stays delivered either way, in the result
// document and in the recipient's row.
TEST(SentValues, KeptWhenSafeToStoreElseTheirDefaults) {
  const std::string hex = "0123456789abcdef0123456789ABCDEF";
  const std::string t = "2026-12-09 10:11:12";
  struct Case {
    const char* name;
    std::string suid, ymbox, sent;                 // as the server sent them ("-": absent)
    std::string want_suid, want_ymbox, want_sent;  // empty: the default
  };
  const Case cases[] = {
      {"AsTheLocalServerSends", hex, "202612", t, hex, "202612", t},
      {"ShortLettersAndDigits", "Ab12", "2026", "2024-02-29 23:59:59", "Ab12", "2026",
       "2024-02-29 23:59:59"},
      {"LongSuidIsCut", hex + "XYZ9", "1", t, hex, "1", t},
      {"PathAsSuid", "../../etc/passwd0123456789ab", "202612", t, "", "202612", t},
      {"QuoteInSuid", "ab\"c' OR '1'='1", "202612", t, "", "202612", t},
      {"CyrillicSuid", "абв", "202612", t, "", "202612", t},
      {"SevenDigitYmbox", hex, "2026123", t, hex, "", t},
      {"SignedYmbox", hex, "-20261", t, hex, "", t},
      {"QuoteInYmbox", hex, "2026\"", t, hex, "", t},
      {"ImpossibleDate", hex, "202612", "2026-02-30 10:00:00", hex, "202612", ""},
      {"DateOnly", hex, "202612", "2026-12-09", hex, "202612", ""},
      {"ZeroTime", hex, "202612", std::string(qovra::kZeroTimeText), hex, "202612", ""},
      {"SqlInTime", hex, "202612", t + "' OR 1", hex, "202612", ""},
      {"Absent", "-", "-", "-", "", "", ""},
  };
  OutboxDb outbox;
  ASSERT_NO_FATAL_FAILURE(outbox.Open(hex));
  qovra::SqliteDb& db = outbox.db;
  qovra::TMailMessage& mail = outbox.mail;
  pugi::xml_document& reply = outbox.reply;
  pugi::xml_node domain = outbox.domain;
  for (const Case& c : cases) {
    mail.Recipients.Add(std::string(c.name) + "@a.uz");
    pugi::xml_node l = domain.append_child("login");
    l.append_attribute("val") = c.name;
    l.append_attribute("ok") = "1";
    if (c.suid != "-") l.append_attribute("suid") = c.suid.c_str();
    if (c.ymbox != "-") l.append_attribute("ymbox") = c.ymbox.c_str();
    if (c.sent != "-") l.append_attribute("sent_time") = c.sent.c_str();
  }
  mail.Id = qovra::SaveMailToDatabase(db, mail, "me@a.uz", nullptr, nullptr, false);
  ASSERT_GT(mail.Id, 0);

  // The fast-mode path: the server's reply becomes the result document.
  pugi::xml_document result;
  qovra::CopyResultDocument(reply, result);
  std::string results;
  const qovra::TDateTime before = qovra::LocalNow();
  ASSERT_TRUE(qovra::RecordSendResults(db, mail, 1, false, result, results)) << db.LastError();
  const qovra::TDateTime after = qovra::LocalNow();
  const pugi::xml_node out = result.child("response").child("emails").child("domain");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const pugi::xml_node l = out.find_child_by_attribute("login", "val", c.name);
    EXPECT_STREQ(l.attribute("ok").value(), "1");
    EXPECT_EQ(l.attribute("suid").value(), c.want_suid);
    qovra::SqliteStatement q = db.Prepare(
        "SELECT suid,ymbox,sent_time,send_flag FROM ecm_recipients WHERE mail_id=? AND "
        "to_address=?");
    q.Bind(1, int64_t{mail.Id}).Bind(2, std::string(c.name) + "@a.uz");
    ASSERT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
    const std::string suid = q.ColumnText(0), sent = q.ColumnText(2);
    const int64_t ymbox = q.ColumnInt(1);
    if (c.want_suid.empty()) {
      EXPECT_TRUE(qovra::IsHexId(suid)) << suid;
      EXPECT_NE(suid, hex);
    } else {
      EXPECT_EQ(suid, c.want_suid);
    }
    if (c.want_ymbox.empty()) {
      // The default is the year and month of the default sent time.
      const std::string now = qovra::DateTimeToStamp(true, after);
      EXPECT_EQ(std::to_string(ymbox), now.substr(0, 4) + now.substr(5, 2));
    } else {
      EXPECT_EQ(std::to_string(ymbox), c.want_ymbox);
    }
    if (c.want_sent.empty()) {
      ASSERT_TRUE(qovra::IsTimeText(sent)) << sent;
      const qovra::TDateTime stored = qovra::StampToDateTime(sent);
      EXPECT_GE(stored, before - 1.0 / 86400);
      EXPECT_LE(stored, after + 1.0 / 86400);
    } else {
      EXPECT_EQ(sent, c.want_sent);
    }
    EXPECT_EQ(q.ColumnInt(3), 1);
  }
  EXPECT_EQ(results.find("failed"), std::string::npos) << results;
}

// The fast-mode reply: refusals and the server's "already held" are lines
// of the result; nothing but the kept values (of a sent or a held copy) is
// copied.
TEST(CopyResultDocument, CopiesOutcomesAndOnlyTheKeptValues) {
  pugi::xml_document reply;
  ASSERT_TRUE(reply.load_string(
      "<response><res val=\"1\"/><emails><domain val=\"a.uz\" ok=\"1\" extra=\"x\">"
      "<login val=\"good\" ok=\"1\" suid=\"0123456789abcdef0123456789ABCDEF\" "
      "ymbox=\"202612\" sent_time=\"2026-12-09 10:11:12\" other=\"1\"/>"
      "<login val=\"held\" ok=\"2\" suid=\"0123456789abcdef0123456789ABCDEF\"/>"
      "<login val=\"refused\" ok=\"0\"/><login val=\"odd\" ok=\"yes\"/>"
      "</domain><domain val=\"b.uz\" ok=\"0\"><login val=\"x\" ok=\"0\"/></domain>"
      "</emails></response>"));
  pugi::xml_document result;
  qovra::CopyResultDocument(reply, result);
  std::ostringstream xml;
  result.save(xml, "", pugi::format_raw | pugi::format_no_declaration);
  EXPECT_EQ(xml.str(),
            "<response><emails><domain val=\"a.uz\" ok=\"1\">"
            "<login val=\"good\" ok=\"1\" suid=\"0123456789abcdef0123456789ABCDEF\" "
            "ymbox=\"202612\" sent_time=\"2026-12-09 10:11:12\"/>"
            "<login val=\"held\" ok=\"2\" suid=\"0123456789abcdef0123456789ABCDEF\"/>"
            "<login val=\"refused\" ok=\"0\"/>"
            "<login val=\"odd\" ok=\"0\"/></domain>"
            "<domain val=\"b.uz\" ok=\"0\"><login val=\"x\" ok=\"0\"/></domain>"
            "</emails></response>");
}

// A domain the server refused fails as a whole, even when one of its logins
// is marked sent: no line says sent and no recipient row is flagged.
TEST(RecordSendResults, RefusedDomainFailsEvenWithALoginMarkedSent) {
  qovra::SetMsg("msgDomainMailSendError", "domain %s failed,\r");
  qovra::SetMsg("msgLoginMailSended", "sent %s@%s,\r");
  OutboxDb outbox;
  ASSERT_NO_FATAL_FAILURE(outbox.Open("0123456789ABCDEF0123456789ABCDEF"));
  qovra::SqliteDb& db = outbox.db;
  qovra::TMailMessage& mail = outbox.mail;
  mail.Recipients.Add("x@b.uz");
  mail.Id = qovra::SaveMailToDatabase(db, mail, "me@a.uz", nullptr, nullptr, false);
  ASSERT_GT(mail.Id, 0);
  pugi::xml_document reply;
  ASSERT_TRUE(
      reply.load_string("<response><emails><domain val=\"b.uz\" ok=\"0\"><login val=\"x\" ok=\"1\" "
                        "suid=\"0123456789abcdef0123456789ABCDEF\" ymbox=\"202612\" "
                        "sent_time=\"2026-12-09 10:11:12\"/></domain></emails></response>"));
  pugi::xml_document result;
  qovra::CopyResultDocument(reply, result);
  std::string results;
  ASSERT_TRUE(qovra::RecordSendResults(db, mail, 1, true, result, results));
  EXPECT_EQ(results, "domain b.uz failed,\r");
  qovra::SqliteStatement q = db.Prepare("SELECT send_flag FROM ecm_recipients WHERE mail_id=?");
  q.Bind(1, int64_t{mail.Id});
  ASSERT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
  EXPECT_EQ(q.ColumnInt(0), 0);
  qovra::ClearMsgTable();
}

// The line each login's outcome shows and what its recipient row keeps: a
// copy the server already held shows as skipped and, when the server names
// it, its row is recorded as a sent one's; unnamed, the row stays unsent.
TEST(RecordSendResults, EachOutcomeShowsItsLineAndKeepsWhatTheServerNamed) {
  qovra::SetMsg("msgLoginMailSended", "sent %s@%s,\r");
  qovra::SetMsg("msgLoginMailSendingSkipped", "skipped %s@%s,\r");
  qovra::SetMsg("msgLoginMailSendError", "failed %s@%s,\r");
  struct Case {
    const char* login;
    const char* ok;
    const char* suid;  // with ymbox and sent_time below; null: no values
    const char* line;
    bool recorded;
  };
  const Case cases[] = {
      {"sent", "1", "11111111111111111111111111111111", "sent sent@a.uz,\r", true},
      {"held", "2", "22222222222222222222222222222222", "skipped held@a.uz,\r", true},
      {"unnamed", "2", nullptr, "skipped unnamed@a.uz,\r", false},
      {"refused", "0", "33333333333333333333333333333333", "failed refused@a.uz,\r", false},
  };
  OutboxDb outbox;
  ASSERT_NO_FATAL_FAILURE(outbox.Open("0123456789ABCDEF0123456789ABCDEF"));
  qovra::SqliteDb& db = outbox.db;
  qovra::TMailMessage& mail = outbox.mail;
  pugi::xml_document& reply = outbox.reply;
  pugi::xml_node domain = outbox.domain;
  std::string want_lines;
  for (const Case& c : cases) {
    mail.Recipients.Add(std::string(c.login) + "@a.uz");
    pugi::xml_node l = domain.append_child("login");
    l.append_attribute("val") = c.login;
    l.append_attribute("ok") = c.ok;
    if (c.suid) {
      l.append_attribute("suid") = c.suid;
      l.append_attribute("ymbox") = "202611";
      l.append_attribute("sent_time") = "2026-11-30 23:59:58";
    }
    want_lines += c.line;
  }
  mail.Id = qovra::SaveMailToDatabase(db, mail, "me@a.uz", nullptr, nullptr, false);
  ASSERT_GT(mail.Id, 0);
  auto row = [&](const Case& c) {
    qovra::SqliteStatement q = db.Prepare(
        "SELECT suid,ymbox,sent_time,send_flag FROM ecm_recipients WHERE mail_id=? AND "
        "to_address=?");
    q.Bind(1, int64_t{mail.Id}).Bind(2, std::string(c.login) + "@a.uz");
    EXPECT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
    return q.ColumnText(0) + " " + q.ColumnText(1) + " " + q.ColumnText(2) + " " + q.ColumnText(3);
  };
  std::map<std::string, std::string> before;
  for (const Case& c : cases) before[c.login] = row(c);

  pugi::xml_document result;
  qovra::CopyResultDocument(reply, result);
  std::string results;
  ASSERT_TRUE(qovra::RecordSendResults(db, mail, 1, false, result, results)) << db.LastError();
  EXPECT_EQ(results, want_lines);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.login);
    EXPECT_EQ(row(c),
              c.recorded ? std::string(c.suid) + " 202611 2026-11-30 23:59:58 1" : before[c.login]);
  }
  qovra::ClearMsgTable();
}

class SendingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new qovra_test::ExchangePki;
    for (const char* user : {kAlice, kBob, kCarol, kDave}) {
      pki_->AddUserWithKeyFile(user);
    }
    pki_->AddForeignUser(kEve);
    pki_->AddUserWithOtherCoefficient(kFrank);
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    qovra_test::ResetClient(dir_.File("tmp"), dir_.File("messages"));
    qovra::SetMsg("msgInvalidEmailsSpecified", "Refused:");
    qovra::SetMsg("msgInvalidEmail3", "no such user");
    qovra::SetMsg("msgInvalidEmail4", "no certificate");
    qovra::SetMsg("msgInvalidEmail5", "other key domain");
    qovra::SetMsg("msgLoginMailSended", "sent %s@%s,\r");
    qovra::SetMsg("msgLoginMailSendingSkipped", "skipped %s@%s,\r");
    qovra::SetMsg("msgLoginMailSendError", "failed %s@%s,\r");
    qovra::SetMsg("msgDomainMailSendError", "domain %s failed,\r");
    qovra::SetMsg("msgMailSendResult", "Result:\r");
    qovra::SetMsg("msgDatabaseError", "database error");
    qovra::SetMsg("msgCannotSignFile", "cannot sign");
    qovra::SetMsg("msgCannotGenerateEncKey", "no key agreed");
    qovra::SetMsg("msgCannotEncryptFile", "cannot encipher");

    qovra_test::ExchangeServerOptions o = pki_->Options();
    for (const char* user : {kAlice, kBob, kCarol, kDave, kEve, kFrank})
      o.seed_accounts.push_back(std::string(user) + ":" + kPassword);
    o.test_commands = true;
    ASSERT_TRUE(server_.Start(o)) << server_.error();
    qovra_test::UseServerAddress("127.0.0.1", server_.Port());
    qovra_test::UseKeyFilesOf(*pki_, kAlice);
    ASSERT_EQ(qovra::LoginSession("alice", kPassword, {owner_, "TfrmLogin", nullptr}), 1);

    const std::string db_path = dir_.File("ecm.edb");
    fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", db_path);
    ASSERT_TRUE(db_.Open(db_path)) << db_.LastError();
    ui_->messages.clear();
  }
  void TearDown() override {
    db_.Close();
    qovra::SetTempFolder("");
    qovra::MessagesDir.clear();
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::ClearMsgTable();
  }

  // A text mail with two attachments (the first of first_size bytes) to
  // recipients, stored in the outbox.
  void PrepareMail(const std::vector<std::string>& recipients, uint16_t flags = 0,
                   size_t first_size = 5000,
                   const std::string& uuid = "0123456789ABCDEF0123456789abcdef") {
    std::string to;
    for (const auto& r : recipients) to += (to.empty() ? "" : ";") + r;
    mail_ = qovra::TMailMessage{};
    mail_.Uuid = uuid;
    mail_.FromAddress = kAlice;
    ASSERT_TRUE(qovra::SplitAddressList(mail_.Recipients, to, ';'));
    entries_ = mail_.Recipients;
    mail_.Subject = u"Отчёт";
    mail_.FolderId = qovra::kFolderOutbox;
    mail_.Flags = static_cast<uint16_t>(qovra::mfAttachments | flags);
    container_.Clear();
    {
      qovra::TMailWriter w(container_);
      w.AddMailHeaders(kAlice, u"Отчёт", to);
      w.AddField("body", "Салом, see the two files.");
      const std::string a(first_size, 'a'), b = "second file\n";
      w.AddAttachmentHeader(u"a.bin", static_cast<int64_t>(a.size()));
      w.WriteBuffer(a.data(), a.size());
      w.AddAttachmentHeader(u"b.txt", static_cast<int64_t>(b.size()));
      w.WriteBuffer(b.data(), b.size());
      ASSERT_TRUE(w.Finish());
    }
    mail_.MailSize = container_.Size();
    mail_.Id = qovra::SaveMailToDatabase(db_, mail_, kAlice, nullptr, nullptr, false);
    ASSERT_GT(mail_.Id, 0) << db_.LastError();
  }

  qovra::TSendPlace Place() {
    return {qovra::MessagesDir, qovra::GetTempFolder(), &db_, copies_per_pass_};
  }
  qovra::TCommandOwner Owner() { return {owner_, "TfrmMain", nullptr}; }

  qovra::TSendOutcome Run(int mode) {
    return qovra::RunSendSteps(Owner(), Place(), mail_, mode, entries_, container_,
                               [](std::string_view a) { return a == kCarol; });
  }

  struct Row {
    std::string suid, sent_time;
    int64_t ymbox = 0, send_flag = 0;
  };
  std::map<std::string, Row> Recipients() {
    std::map<std::string, Row> rows;
    qovra::SqliteStatement q = db_.Prepare(
        "SELECT to_address,suid,ymbox,sent_time,send_flag FROM ecm_recipients WHERE mail_id=?");
    q.Bind(1, int64_t{mail_.Id});
    while (q.Step() == qovra::SqliteStatement::StepResult::Row)
      rows[q.ColumnText(0)] = {q.ColumnText(1), q.ColumnText(3), q.ColumnInt(2), q.ColumnInt(4)};
    return rows;
  }
  std::vector<int64_t> MailRow() {
    qovra::SqliteStatement q =
        db_.Prepare("SELECT folder_id,flag,send_mode FROM ecm_mails WHERE id=?");
    q.Bind(1, int64_t{mail_.Id});
    if (q.Step() != qovra::SqliteStatement::StepResult::Row) return {};
    return {q.ColumnInt(0), q.ColumnInt(1), q.ColumnInt(2)};
  }
  std::string ServerCopy(const std::string& suid) {
    return ReadFile(server_.DataDir() + "/mail/" + suid + ".eme");
  }
  // The copy deciphered with the key user agrees with the sender.
  std::string Decipher(const std::string& copy, const std::string& user) {
    const qovra_test::Party& me = pki_->User(user);
    const qovra_test::Party& sender = pki_->User(kAlice);
    std::array<uint8_t, 64> key{};
    if (UZDST_CIPHER_KEY_generate(me.keys.priv.data(), me.keys.pub.data(), sender.keys.pub.data(),
                                  key.data()) != 1)
      return {};
    const qovra::THashValue iv = qovra::HashString(mail_.Uuid.view());
    qovra::TMemoryStream in(copy), out;
    const auto last = static_cast<uint8_t>(mail_.MailSize % 32);
    if (!qovra::CryptStreamWithHash(in, static_cast<int64_t>(copy.size()), out, nullptr, nullptr,
                                    nullptr, key, iv, qovra::CryptLastLengthFlags(last)))
      return {};
    return out.Data();
  }
  std::vector<std::string> Shown() { return ui_->ShownTexts(); }
  // The checked certificates reply for the prepared mail's recipients.
  void Certificates(pugi::xml_document& doc) {
    ASSERT_TRUE(qovra::GetRecipientCertificates(Owner(), qovra::BuildLoginListXml(entries_, kAlice),
                                                false, doc, 0));
    ASSERT_TRUE(qovra::CheckRecipients(doc, qovra::Session.OwnDhKey, {}).AnyAccepted);
    ui_->messages.clear();
  }
  // Requests of command cmd that reached the server.
  size_t Requests(int cmd) {
    std::ifstream in(server_.DataDir() + "/requests.log");
    const std::string needle = "<cmd val=\"" + std::to_string(cmd) + "\"/>";
    size_t n = 0;
    for (std::string line; std::getline(in, line);)
      if (line.find(needle) != std::string::npos) ++n;
    return n;
  }
  // The recipient (login@domain) of every command 164 after the first
  // `skip` of them, in the order the server took them.
  std::vector<std::string> SecureSendOrder(size_t skip) {
    std::ifstream in(server_.DataDir() + "/requests.log");
    std::vector<std::string> order;
    for (std::string line; std::getline(in, line);) {
      if (line.find("<cmd val=\"164\"/>") == std::string::npos) continue;
      if (skip > 0) {
        --skip;
        continue;
      }
      pugi::xml_document doc;
      const size_t at = line.find("<emails>"), end = line.find("</emails>");
      if (at == std::string::npos || end == std::string::npos ||
          !doc.load_string(line.substr(at, end + 9 - at).c_str())) {
        order.push_back("?");
        continue;
      }
      const pugi::xml_node d = doc.child("emails").child("domain");
      order.push_back(std::string(d.child("login").attribute("val").value()) + "@" +
                      d.attribute("val").value());
    }
    return order;
  }
  // "login=ok" of every login of a result document, in order.
  static std::vector<std::string> Outcomes(const pugi::xml_document& result) {
    std::vector<std::string> out;
    for (pugi::xml_node d : result.child("response").child("emails").children("domain"))
      for (pugi::xml_node l : d.children("login"))
        out.push_back(std::string(l.attribute("val").value()) + "=" + l.attribute("ok").value());
    return out;
  }
  // The server's delivered copies of uuid for address.
  size_t ServerCopies(const std::string& uuid, const std::string& address) {
    qovra::SqliteDb store;
    if (!store.Open(server_.DataDir() + "/server.db")) return 0;
    qovra::SqliteStatement q = store.Prepare(
        "SELECT COUNT(*) FROM mails m JOIN accounts a ON a.id=m.recipient_account "
        "WHERE m.uuid=? AND a.login || '@' || a.domain=?");
    q.Bind(1, uuid).Bind(2, address);
    return q.Step() == qovra::SqliteStatement::StepResult::Row ? static_cast<size_t>(q.ColumnInt(0))
                                                               : 0;
  }
  std::string FauData() {
    qovra::SqliteStatement q = db_.Prepare("SELECT fau_data FROM ecm_mails WHERE id=?");
    q.Bind(1, int64_t{mail_.Id});
    return q.Step() == qovra::SqliteStatement::StepResult::Row ? q.ColumnText(0) : "<none>";
  }
  // The key alice agrees with user.
  std::array<uint8_t, 64> AgreedKey(const std::string& user) {
    const qovra_test::Party& me = pki_->User(kAlice);
    std::array<uint8_t, 64> key{};
    EXPECT_EQ(UZDST_CIPHER_KEY_generate(me.keys.priv.data(), me.keys.pub.data(),
                                        pki_->User(user).keys.pub.data(), key.data()),
              1);
    return key;
  }

  static qovra_test::ExchangePki* pki_;
  qovra::testing::ScopedFakeUi ui_;
  ScratchDir dir_;
  qovra_test::ExchangeServer server_;
  qovra::SqliteDb db_;
  qovra::TMailMessage mail_;
  qovra::TEMailList entries_;
  qovra::TMemoryStream container_;
  size_t copies_per_pass_ = 0;
  int owner_dummy_ = 0;
  qovra::TWindowHandle owner_ = &owner_dummy_;
};

qovra_test::ExchangePki* SendingTest::pki_ = nullptr;

TEST_F(SendingTest, SecureModeEnciphersOneCopyPerRecipient) {
  PrepareMail({kBob, kCarol});
  const qovra::TSendOutcome out = Run(qovra::kSendModeSecure);
  ASSERT_TRUE(out.Sent) << testing::PrintToString(Shown());
  EXPECT_FALSE(out.PartialFailure);
  EXPECT_EQ(out.Mode, 0);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Result:\rsent carol@127.0.0.1,\rsent "
                                               "bob@localhost.\r"}));
  // Carol is in the address book; Bob is offered with his names.
  ASSERT_EQ(out.Unknown.size(), 1u);
  EXPECT_EQ(out.Unknown[0].Email, kBob);

  const auto rows = Recipients();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(FilesIn(server_.DataDir() + "/mail", ".eme").size(), 2u);
  for (const auto& [address, row] : rows) {
    SCOPED_TRACE(address);
    EXPECT_EQ(row.send_flag, 1);
    ASSERT_EQ(row.suid.size(), 32u);
    EXPECT_EQ(row.sent_time.size(), 19u);
    EXPECT_GT(row.ymbox, 202000);
    const std::string copy = ServerCopy(row.suid);
    ASSERT_EQ(static_cast<int64_t>(copy.size()), qovra::PaddedBlockLength(mail_.MailSize));
    EXPECT_EQ(Decipher(copy, address), container_.Data());
    EXPECT_NE(Decipher(copy, address == kBob ? kCarol : kBob), container_.Data());
  }
  EXPECT_EQ(MailRow(), (std::vector<int64_t>{2, qovra::mfAttachments | qovra::mfSent, 0}));
  EXPECT_EQ(mail_.FolderId, qovra::kFolderSent);

  // Only the signature container stays; no copy, no temporary file.
  EXPECT_EQ(FilesIn(qovra::MessagesDir), (std::vector<std::string>{mail_.Uuid.str() + ".ems"}));
  EXPECT_EQ(FilesIn(qovra::GetTempFolder()), std::vector<std::string>{});
  const std::string ems = ReadFile(qovra::MessagesDir + mail_.Uuid.str() + ".ems");
  EXPECT_EQ(ems.rfind("MailUID: " + mail_.Uuid.str() + "\r\n", 0), 0u);

  // A second send skips both without a request.
  ui_->messages.clear();
  const qovra::TSendOutcome again = Run(qovra::kSendModeSecure);
  ASSERT_TRUE(again.Sent);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Result:\rskipped carol@127.0.0.1,\rskipped "
                                               "bob@localhost.\r"}));
  EXPECT_EQ(FilesIn(server_.DataDir() + "/mail", ".eme").size(), 2u);
  EXPECT_EQ(Recipients().at(kBob).suid, rows.at(kBob).suid);
}

TEST_F(SendingTest, AdminOnlyMailKeepsTheLastAcceptedCopyAndItsKey) {
  PrepareMail({kBob, kCarol}, qovra::mfAdminOnly);
  ASSERT_TRUE(Run(qovra::kSendModeSecure).Sent) << testing::PrintToString(Shown());
  const std::string eme = ReadFile(qovra::MessagesDir + mail_.Uuid.str() + ".eme");
  // Bob's domain sorts last: the kept copy and the sealed key are his.
  EXPECT_EQ(Decipher(eme, kBob), container_.Data());
  qovra::SqliteStatement q = db_.Prepare("SELECT fau_data FROM ecm_mails WHERE id=?");
  q.Bind(1, int64_t{mail_.Id});
  ASSERT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
  EXPECT_EQ(q.ColumnText(0).size(), 88u);
  EXPECT_EQ(FilesIn(qovra::MessagesDir).size(), 2u);  // .eme and .ems, no temporary copy
}

// However many copies one pass over the mail enciphers, the requests go out
// one at a time in document order, every copy is its recipient's, and the
// kept copy and the sealed key are those of the last recipient accepted.
TEST_F(SendingTest, CopiesMadeAheadGoOutInDocumentOrder) {
  const struct {
    size_t per_pass;
    const char* uuid;
  } cases[] = {{1, "0123456789ABCDEF0123456789ABCDE3"},
               {2, "0123456789ABCDEF0123456789ABCDE4"},
               {0, "0123456789ABCDEF0123456789ABCDE5"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.per_pass);
    PrepareMail({kBob, kDave, kCarol}, qovra::mfAdminOnly);
    mail_.Uuid = c.uuid;
    ASSERT_TRUE(db_.Prepare("UPDATE ecm_mails SET uuid=? WHERE id=?")
                    .Bind(1, mail_.Uuid.view())
                    .Bind(2, int64_t{mail_.Id})
                    .Run());
    copies_per_pass_ = c.per_pass;
    const size_t sends_before = Requests(164);
    ui_->messages.clear();
    const qovra::TSendOutcome out = Run(qovra::kSendModeSecure);
    ASSERT_TRUE(out.Sent) << testing::PrintToString(Shown());
    EXPECT_FALSE(out.PartialFailure);
    EXPECT_EQ(SecureSendOrder(sends_before), (std::vector<std::string>{kCarol, kDave, kBob}));
    const auto rows = Recipients();
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& [address, row] : rows) {
      SCOPED_TRACE(address);
      EXPECT_EQ(row.send_flag, 1);
      EXPECT_EQ(Decipher(ServerCopy(row.suid), address), container_.Data());
    }
    const std::string eme = qovra::MessagesDir + mail_.Uuid.str() + ".eme";
    EXPECT_EQ(Decipher(ReadFile(eme), kBob), container_.Data());
    EXPECT_EQ(FauData(), qovra::Base64Encode(qovra::SealMailKey(mail_.Uuid.view(), AgreedKey(kBob),
                                                                qovra::Session.OwnPrivateKey)));
    EXPECT_EQ(FilesIn(qovra::MessagesDir),
              (std::vector<std::string>{mail_.Uuid.str() + ".eme", mail_.Uuid.str() + ".ems"}));
    for (const std::string& f : FilesIn(qovra::MessagesDir)) fs::remove(qovra::MessagesDir + f);
  }
}

TEST_F(SendingTest, FastModeSendsOnePackage) {
  PrepareMail({kBob, kCarol});
  const qovra::TSendOutcome out = Run(qovra::kSendModeFast);
  ASSERT_TRUE(out.Sent) << testing::PrintToString(Shown());
  EXPECT_FALSE(out.PartialFailure);
  const auto rows = Recipients();
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& [address, row] : rows) {
    SCOPED_TRACE(address);
    EXPECT_EQ(row.send_flag, 1);
    EXPECT_EQ(ServerCopy(row.suid), container_.Data());
  }
  EXPECT_EQ(FilesIn(server_.DataDir() + "/mail", ".eme").size(), 2u);
  EXPECT_EQ(MailRow(), (std::vector<int64_t>{2, qovra::mfAttachments | qovra::mfSent, 1}));
  EXPECT_EQ(FilesIn(qovra::GetTempFolder()), std::vector<std::string>{});
  EXPECT_EQ(FilesIn(qovra::MessagesDir), (std::vector<std::string>{mail_.Uuid.str() + ".ems"}));
}

// A session renewed after the signing pass enciphered the package (a new
// login meanwhile) sends the package under the new session's key: the
// server still keeps the container as it was.
TEST_F(SendingTest, FastModePackageFollowsASessionRenewedDuringTheSend) {
  qovra::SetMsg("msgSending", "sending");
  PrepareMail({kBob});
  struct Relogin : qovra::IProgressUi {
    qovra::IProgressUi* next;
    qovra::TWindowHandle owner;
    bool armed = true;
    std::array<uint8_t, 32> old_id{};
    void ShowProgress(qovra::TWindowHandle o, bool b, const std::string& t,
                      const std::string& st) override {
      next->ShowProgress(o, b, t, st);
      if (armed && st == "sending") {
        armed = false;
        old_id = qovra::Session.SessionId;
        EXPECT_TRUE(qovra::ServerHandshake(owner, false));
        EXPECT_EQ(qovra::LoginSession("alice", kPassword, {owner, "TfrmLogin", nullptr}), 1);
      }
    }
    void HideProgress(qovra::TWindowHandle o, bool k) override { next->HideProgress(o, k); }
    void ReportProgress(void* bar, int64_t total, int64_t done) override {
      next->ReportProgress(bar, total, done);
    }
  } hook;
  hook.next = &*ui_;
  hook.owner = owner_;
  qovra::SetProgressUi(&hook);
  const qovra::TSendOutcome out = Run(qovra::kSendModeFast);
  qovra::SetProgressUi(&*ui_);
  EXPECT_FALSE(hook.armed);
  EXPECT_NE(qovra::Session.SessionId, hook.old_id);
  ASSERT_TRUE(out.Sent) << testing::PrintToString(Shown());
  EXPECT_FALSE(out.PartialFailure);
  EXPECT_EQ(ServerCopy(Recipients().at(kBob).suid), container_.Data());
  EXPECT_EQ(FilesIn(qovra::GetTempFolder()), std::vector<std::string>{});
}

TEST_F(SendingTest, RefusedRecipientsAreListedAndTheRestSent) {
  PrepareMail({kNobody, kEve, kFrank, kForeign, kBob});
  const qovra::TSendOutcome out = Run(qovra::kSendModeSecure);
  ASSERT_TRUE(out.Sent) << testing::PrintToString(Shown());
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[0],
            "Refused:\r  example.org - no certificate\r  eve@localhost - other key domain\r"
            "  frank@localhost - other key domain\r  nobody@localhost - no such user");
  EXPECT_EQ(Shown()[1], "Result:\rsent bob@localhost.\r");
  const auto rows = Recipients();
  EXPECT_EQ(rows.at(kBob).send_flag, 1);
  EXPECT_EQ(rows.at(kEve).send_flag, 0);
  EXPECT_EQ(rows.at(kFrank).send_flag, 0);
  EXPECT_EQ(FilesIn(server_.DataDir() + "/mail", ".eme").size(), 1u);
}

TEST_F(SendingTest, AllRefusedStopsBeforeSending) {
  PrepareMail({kNobody, kForeign});
  const qovra::TSendOutcome out = Run(qovra::kSendModeSecure);
  EXPECT_FALSE(out.Sent);
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[1], qovra::GetMsg("msgEMailAddressesIsInvalid"));
  EXPECT_EQ(MailRow()[0], qovra::kFolderOutbox);
  EXPECT_EQ(FilesIn(qovra::MessagesDir), std::vector<std::string>{});
}

TEST_F(SendingTest, ServerErrorForOneRecipientKeepsTheMailInTheOutbox) {
  PrepareMail({kBob, kCarol});
  const std::string list = qovra::BuildLoginListXml(entries_, kAlice);
  pugi::xml_document doc;
  ASSERT_TRUE(qovra::GetRecipientCertificates(Owner(), list, false, doc, 0));
  const qovra::TRecipientCheck check = qovra::CheckRecipients(doc, qovra::Session.OwnDhKey, {});
  ASSERT_TRUE(check.AnyAccepted);
  EXPECT_EQ(check.Unknown.size(), 2u);
  // Carol sorts first and meets the fault.
  ASSERT_TRUE(server_.SetFault("once:enc:13"));
  bool partial = false;
  pugi::xml_document result;
  ASSERT_TRUE(
      qovra::SendMailMessage(Owner(), Place(), mail_, partial, 0, {}, doc, container_, result));
  EXPECT_TRUE(partial);
  std::string results;
  ASSERT_TRUE(qovra::RecordSendResults(db_, mail_, 0, partial, result, results));
  EXPECT_EQ(results, "failed carol@127.0.0.1,\rsent bob@localhost,\r");
  EXPECT_EQ(MailRow(), (std::vector<int64_t>{1, qovra::mfAttachments, 0}));
  EXPECT_EQ(Recipients().at(kCarol).send_flag, 0);
  EXPECT_EQ(Recipients().at(kBob).send_flag, 1);

  // The next send goes to Carol only.
  ui_->messages.clear();
  ASSERT_TRUE(Run(qovra::kSendModeSecure).Sent);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Result:\rsent carol@127.0.0.1,\rskipped "
                                               "bob@localhost.\r"}));
  EXPECT_EQ(MailRow()[0], qovra::kFolderSent);
}

TEST_F(SendingTest, CopyTheServerAlreadyHoldsIsSkipped) {
  PrepareMail({kBob});
  ASSERT_TRUE(Run(qovra::kSendModeSecure).Sent);
  pugi::xml_document doc;
  ASSERT_TRUE(qovra::GetRecipientCertificates(Owner(), qovra::BuildLoginListXml(entries_, kAlice),
                                              false, doc, 0));
  ASSERT_TRUE(qovra::CheckRecipients(doc, qovra::Session.OwnDhKey, {}).AnyAccepted);
  // Without the send flags the copy goes out again; the server refuses a
  // second copy and the recipient is reported as skipped.
  bool partial = true;
  pugi::xml_document result;
  ASSERT_TRUE(
      qovra::SendMailMessage(Owner(), Place(), mail_, partial, 0, {}, doc, container_, result));
  EXPECT_FALSE(partial);
  EXPECT_STREQ(result.child("response")
                   .child("emails")
                   .child("domain")
                   .child("login")
                   .attribute("ok")
                   .value(),
               "2");
  EXPECT_EQ(FilesIn(server_.DataDir() + "/mail", ".eme").size(), 1u);
}

TEST_F(SendingTest, MailWithoutAValidUuidIsNotSent) {
  PrepareMail({kBob});
  pugi::xml_document doc;
  ASSERT_TRUE(qovra::GetRecipientCertificates(Owner(), qovra::BuildLoginListXml(entries_, kAlice),
                                              false, doc, 0));
  ASSERT_TRUE(qovra::CheckRecipients(doc, qovra::Session.OwnDhKey, {}).AnyAccepted);
  mail_.Uuid = "../../0123456789ABCDEF0123456789";
  bool partial = false;
  pugi::xml_document result;
  EXPECT_FALSE(
      qovra::SendMailMessage(Owner(), Place(), mail_, partial, 0, {}, doc, container_, result));
  EXPECT_EQ(FilesIn(server_.DataDir() + "/mail", ".eme").size(), 0u);
  EXPECT_EQ(FilesIn(qovra::MessagesDir), std::vector<std::string>{});
}

TEST_F(SendingTest, BadPeerKeyAndMissingPrxInTheCheckedDocument) {
  PrepareMail({kBob, kCarol});
  pugi::xml_document doc;
  ASSERT_TRUE(qovra::GetRecipientCertificates(Owner(), qovra::BuildLoginListXml(entries_, kAlice),
                                              false, doc, 0));
  ASSERT_TRUE(qovra::CheckRecipients(doc, qovra::Session.OwnDhKey, {}).AnyAccepted);
  pugi::xml_node emails = doc.document_element().child("emails");
  // Carol's key is cut short; Bob's domain loses its prx.
  pugi::xml_node carol =
      emails.find_child_by_attribute("domain", "val", "127.0.0.1").child("login");
  carol.attribute("pbk") = qovra::Base64Encode(std::string(700, 'k')).c_str();
  emails.find_child_by_attribute("domain", "val", "localhost").remove_attribute("prx");
  bool partial = false;
  pugi::xml_document result;
  ASSERT_TRUE(
      qovra::SendMailMessage(Owner(), Place(), mail_, partial, 0, {}, doc, container_, result));
  EXPECT_TRUE(partial);
  const pugi::xml_node r = result.child("response").child("emails");
  EXPECT_STREQ(r.find_child_by_attribute("domain", "val", "127.0.0.1")
                   .child("login")
                   .attribute("ok")
                   .value(),
               "0");
  const pugi::xml_node bob = r.find_child_by_attribute("domain", "val", "localhost").child("login");
  EXPECT_STREQ(bob.attribute("ok").value(), "1");
  EXPECT_EQ(std::string(bob.attribute("suid").value()).size(), 32u);
  // The caller's document keeps its pbk values.
  EXPECT_TRUE(carol.attribute("pbk"));
}

// In fast mode the server passes the mail on: a login it refuses is a
// failed line of the result, and the mail still moves to Sent.
TEST_F(SendingTest, FastModeLoginRefusedByTheServerStillMovesTheMailToSent) {
  PrepareMail({kBob, kCarol});
  pugi::xml_document doc;
  ASSERT_NO_FATAL_FAILURE(Certificates(doc));
  pugi::xml_node localhost =
      doc.document_element().child("emails").find_child_by_attribute("domain", "val", "localhost");
  pugi::xml_node ghost = localhost.append_copy(localhost.child("login"));
  ghost.attribute("val") = "ghost";
  bool partial = true;
  pugi::xml_document result;
  ASSERT_TRUE(qovra::SendMailMessage(Owner(), Place(), mail_, partial, qovra::kSendModeFast, {},
                                     doc, container_, result));
  EXPECT_FALSE(partial);
  EXPECT_EQ(Outcomes(result), (std::vector<std::string>{"carol=1", "bob=1", "ghost=0"}));
  std::string results;
  ASSERT_TRUE(qovra::RecordSendResults(db_, mail_, 1, partial, result, results));
  EXPECT_EQ(results, "sent carol@127.0.0.1,\rsent bob@localhost,\rfailed ghost@localhost,\r");
  EXPECT_EQ(MailRow(), (std::vector<int64_t>{2, qovra::mfAttachments | qovra::mfSent, 1}));
  EXPECT_EQ(Recipients().at(kBob).send_flag, 1);
}

// A key that cannot be sealed leaves the mail unopenable for its sender:
// the send counts as failed for those recipients (the mail stays in the
// outbox, no copy is kept). Sent again, the server already holds the
// copies; their key is sealed then and the kept copy opens with it.
TEST_F(SendingTest, KeyThatCannotBeSealedFailsTheRecipientUntilSentAgain) {
  for (const int mode : {qovra::kSendModeSecure, qovra::kSendModeFast}) {
    SCOPED_TRACE(mode);
    PrepareMail({kBob, kCarol}, qovra::mfAdminOnly);
    mail_.Uuid = mode == qovra::kSendModeSecure ? "0123456789ABCDEF0123456789ABCDE0"
                                                : "0123456789ABCDEF0123456789ABCDE1";
    ASSERT_TRUE(db_.Prepare("UPDATE ecm_mails SET uuid=? WHERE id=?")
                    .Bind(1, mail_.Uuid.view())
                    .Bind(2, int64_t{mail_.Id})
                    .Run());
    ASSERT_TRUE(
        db_.Exec("CREATE TRIGGER no_key BEFORE UPDATE OF fau_data ON ecm_mails "
                 "BEGIN SELECT RAISE(ABORT, 'no key'); END"));
    ui_->messages.clear();
    qovra::TSendOutcome out = Run(mode);
    ASSERT_TRUE(out.Sent);
    EXPECT_TRUE(out.PartialFailure);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"database error",
                                                 "Result:\rfailed carol@127.0.0.1,\rfailed "
                                                 "bob@localhost.\r"}));
    EXPECT_EQ(MailRow()[0], qovra::kFolderOutbox);
    EXPECT_EQ(Recipients().at(kBob).send_flag, 0);
    EXPECT_EQ(FauData(), "");
    const std::string eme = qovra::MessagesDir + mail_.Uuid.str() + ".eme";
    EXPECT_FALSE(fs::exists(eme));
    EXPECT_EQ(FilesIn(qovra::MessagesDir, ".tmp"), std::vector<std::string>{});

    ASSERT_TRUE(db_.Exec("DROP TRIGGER no_key"));
    ui_->messages.clear();
    out = Run(mode);
    ASSERT_TRUE(out.Sent);
    EXPECT_FALSE(out.PartialFailure);
    EXPECT_EQ(Shown(), (std::vector<std::string>{"Result:\rskipped carol@127.0.0.1,\rskipped "
                                                 "bob@localhost.\r"}));
    EXPECT_EQ(MailRow()[0], qovra::kFolderSent);
    // The kept copy and the sealed key belong together.
    const std::array<uint8_t, 64> key =
        mode == qovra::kSendModeSecure ? AgreedKey(kBob) : qovra::Session.SessionKey;
    const std::array<uint8_t, 256>& priv = qovra::Session.OwnPrivateKey;
    EXPECT_EQ(FauData(), qovra::Base64Encode(qovra::SealMailKey(mail_.Uuid.view(), key, priv)));
    const std::string copy = ReadFile(eme);
    qovra::TMemoryStream in(copy), plain;
    const qovra::THashValue iv = qovra::HashString(mail_.Uuid.view());
    ASSERT_TRUE(qovra::CryptStreamWithHash(
        in, static_cast<int64_t>(copy.size()), plain, nullptr, nullptr, nullptr, key, iv,
        qovra::CryptLastLengthFlags(static_cast<uint8_t>(mail_.MailSize % 32))));
    EXPECT_EQ(plain.Data(), container_.Data());
  }
}

// The progress seam of a send that kills its process (SIGKILL) at a chosen
// moment: at a status text that ends with status_end, or at a bar step
// between start and end while a file named with the ending file_end lies
// in folder.
class KillWhileSending : public qovra::IProgressUi {
 public:
  KillWhileSending(std::string status_end, std::string folder, std::string file_end,
                   qovra::IProgressUi* next)
      : status_end_(std::move(status_end)),
        folder_(std::move(folder)),
        file_end_(std::move(file_end)),
        next_(next) {}
  void ShowProgress(qovra::TWindowHandle o, bool b, const std::string& t,
                    const std::string& st) override {
    if (!status_end_.empty() && st.size() >= status_end_.size() &&
        st.compare(st.size() - status_end_.size(), status_end_.size(), status_end_) == 0)
      ::raise(SIGKILL);
    next_->ShowProgress(o, b, t, st);
  }
  void HideProgress(qovra::TWindowHandle o, bool k) override { next_->HideProgress(o, k); }
  void ReportProgress(void* bar, int64_t total, int64_t done) override {
    if (!file_end_.empty() && done > 0 && done < total) {
      for (const std::string& f : FilesIn(folder_)) {
        if (f.size() > file_end_.size() &&
            f.compare(f.size() - file_end_.size(), file_end_.size(), file_end_) == 0)
          ::raise(SIGKILL);
      }
    }
    next_->ReportProgress(bar, total, done);
  }

 private:
  std::string status_end_, folder_, file_end_;
  qovra::IProgressUi* next_;
};

// A sender killed (SIGKILL, in a child process) at each moment of a send
// leaves nothing once the program starts again: no enciphered copy, no
// package, no private temporary folder. The mail stays in the outbox, and
// sent again it reaches every recipient once: a recipient whose copy the
// server took before the kill is not sent to again.
TEST_F(SendingTest, KilledSendLeavesNothingAfterTheNextStartAndIsNotSentTwice) {
  const std::string user = dir_.File("user") + "/";
  const std::string system_temp = dir_.File("systemp") + "/";
  for (const std::string& d : {user + "messages", user + "temp", system_temp})
    fs::create_directories(d);
  qovra::testing::ScopedEnv tmpdir("TMPDIR", system_temp);
  qovra::MessagesDir = user + "messages/";
  qovra::SetTempFolder(user + "temp/");
  const struct {
    const char* name;
    int mode;
    std::string status_end;  // kill at this status ...
    std::string folder;      // ... or while a file of this ending lies here
    std::string file_end;
    size_t requests_again;  // 164 requests of the second send
  } rows[] = {
      {"while the first copy is enciphered", qovra::kSendModeSecure, "", user + "messages/", ".tmp",
       2},
      {"after the first copy was taken", qovra::kSendModeSecure, std::string(": ") + kBob, "", "",
       1},
      {"while the package is written", qovra::kSendModeFast, "", user + "temp/", ".emm", 1},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032zX", i + 1);
    PrepareMail({kCarol, kBob}, 0, 4 << 20, uuid);
    db_.Close();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      (void)random_cleanup();  // a random pool of its own, as a new process has
      random_poll_system();
      qovra::TPrivateTempFolder program_temp;  // made at start, as the program does
      qovra::SetTempFolder(user + "temp/");    // the user's, after the login
      if (!db_.Open(dir_.File("ecm.edb"))) ::_exit(4);
      KillWhileSending hook(rows[i].status_end, rows[i].folder, rows[i].file_end, &*ui_);
      qovra::SetProgressUi(&hook);
      (void)Run(rows[i].mode);
      ::_exit(3);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(db_.Open(dir_.File("ecm.edb")));
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "never reached";
    EXPECT_FALSE(FilesIn(user + "messages").empty() && FilesIn(user + "temp").empty() &&
                 FilesIn(system_temp).empty())
        << "the kill left nothing to sweep";

    // The next start, once it holds the guard and the user's folder.
    (void)qovra::SweepPrivateTempFolders(system_temp, "");
    qovra::SweepUserFolder(user);
    EXPECT_EQ(FilesIn(user + "messages"), std::vector<std::string>{});
    EXPECT_EQ(FilesIn(user + "temp"), std::vector<std::string>{});
    EXPECT_EQ(FilesIn(system_temp), std::vector<std::string>{});
    EXPECT_EQ(MailRow()[0], qovra::kFolderOutbox);

    const size_t before = Requests(164);
    ui_->messages.clear();
    const qovra::TSendOutcome again = Run(rows[i].mode);
    ASSERT_TRUE(again.Sent) << testing::PrintToString(Shown());
    EXPECT_FALSE(again.PartialFailure);
    EXPECT_EQ(Requests(164) - before, rows[i].requests_again);
    EXPECT_EQ(MailRow()[0], qovra::kFolderSent);
    for (const auto& [address, row] : Recipients()) {
      SCOPED_TRACE(address);
      EXPECT_EQ(row.send_flag, 1);
      EXPECT_EQ(ServerCopies(mail_.Uuid.str(), address), 1u);
    }
    EXPECT_EQ(FilesIn(user + "messages"), std::vector<std::string>{mail_.Uuid.str() + ".ems"});
    fs::remove(user + "messages/" + mail_.Uuid.str() + ".ems");
  }
}

// A stream that delivers only its first budget bytes, however often it is
// read: the signing pass gets the mail, the enciphering pass gets nothing.
class ReadBudgetStream : public qovra::TMemoryStream {
 public:
  ReadBudgetStream(std::string bytes, size_t budget)
      : qovra::TMemoryStream(std::move(bytes)), budget_(budget) {}
  size_t Read(void* buffer, size_t count) override {
    const size_t n = qovra::TMemoryStream::Read(buffer, std::min(count, budget_));
    budget_ -= n;
    return n;
  }

 private:
  size_t budget_;
};

// The error paths of signing and enciphering, each driven by an injected
// fault: what is shown, what reaches the server, what is left behind.
TEST_F(SendingTest, ErrorPathsOfSigningAndEnciphering) {
  enum class Fault { SigningKeyRefused, EmptyMail, PeerOfAnotherKeyDomain, ReadFailsAfterSigning };
  struct Case {
    const char* name;
    Fault fault;
    int mode;
    bool certificates;  // the fault meets the certificates request (163), not the send
    bool sent;
    std::vector<std::string> shown;
    std::vector<std::string> outcomes;
    size_t copies_per_pass = 0;  // the place's; 0: the processor's choice
    const char* uuid = nullptr;  // null: the prepared mail's
  };
  const Case cases[] = {
      // The certificates request is not signed: no request, no message.
      {"CertificatesUnsigned", Fault::SigningKeyRefused, 0, true, false, {}, {}},
      {"SecureUnsigned", Fault::SigningKeyRefused, 0, false, false, {"cannot sign"}, {}},
      {"FastUnsigned", Fault::SigningKeyRefused, 1, false, false, {"cannot sign"}, {}},
      {"EmptyMail", Fault::EmptyMail, 0, false, false, {"cannot sign"}, {}},
      // One recipient fails, the other gets the mail.
      {"KeyNotAgreed",
       Fault::PeerOfAnotherKeyDomain,
       0,
       false,
       true,
       {"no key agreed"},
       {"carol=0", "bob=1"}},
      // With one copy per pass, the one read that signs the mail also
      // enciphers the first copy: only the second recipient's read fails.
      {"SecureNotEnciphered",
       Fault::ReadFailsAfterSigning,
       0,
       false,
       true,
       {"cannot encipher"},
       {"carol=1", "bob=0"},
       1},
      // With two, that read makes both copies (a mail not sent before).
      {"SecureBothInTheSigningRead",
       Fault::ReadFailsAfterSigning,
       0,
       false,
       true,
       {},
       {"carol=1", "bob=1"},
       2,
       "0123456789ABCDEF0123456789ABCDE2"},
      {"FastNotEnciphered", Fault::ReadFailsAfterSigning, 1, false, false, {"cannot encipher"}, {}},
  };
  const std::array<uint8_t, 768> public_key = qovra::Session.OwnPublicKey;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PrepareMail({kBob, kCarol});
    pugi::xml_document doc;
    if (!c.certificates) {
      ASSERT_NO_FATAL_FAILURE(Certificates(doc));
    }
    const size_t certificate_requests = Requests(163), send_requests = Requests(164);
    if (c.uuid) {
      mail_.Uuid = c.uuid;
      ASSERT_TRUE(db_.Prepare("UPDATE ecm_mails SET uuid=? WHERE id=?")
                      .Bind(1, mail_.Uuid.view())
                      .Bind(2, int64_t{mail_.Id})
                      .Run());
    }
    qovra::TSendPlace place = Place();
    place.CopiesPerPass = c.copies_per_pass;
    ReadBudgetStream stream(container_.Data(), c.fault == Fault::ReadFailsAfterSigning
                                                   ? container_.Data().size()
                                                   : SIZE_MAX);
    switch (c.fault) {
      case Fault::SigningKeyRefused:
        qovra::Session.OwnPublicKey.fill(0);
        break;
      case Fault::EmptyMail:
        stream.Clear();
        break;
      case Fault::PeerOfAnotherKeyDomain: {
        pugi::xml_attribute pbk = doc.document_element()
                                      .child("emails")
                                      .find_child_by_attribute("domain", "val", "127.0.0.1")
                                      .child("login")
                                      .attribute("pbk");
        std::string peer = qovra::Base64Decode(pbk.value());
        peer[0] = static_cast<char>(peer[0] ^ 1);
        pbk = qovra::Base64Encode(peer).c_str();
        break;
      }
      case Fault::ReadFailsAfterSigning:
        break;
    }
    bool partial = false;
    pugi::xml_document result;
    if (c.certificates) {
      EXPECT_FALSE(qovra::GetRecipientCertificates(
          Owner(), qovra::BuildLoginListXml(entries_, kAlice), false, doc, 0));
      EXPECT_EQ(Requests(163), certificate_requests);
    } else {
      EXPECT_EQ(
          qovra::SendMailMessage(Owner(), place, mail_, partial, c.mode, {}, doc, stream, result),
          c.sent);
      EXPECT_EQ(Outcomes(result), c.outcomes);
      EXPECT_EQ(partial, std::any_of(c.outcomes.begin(), c.outcomes.end(),
                                     [](const std::string& o) { return o.ends_with("=0"); }));
      const size_t copies = static_cast<size_t>(
          std::count_if(c.outcomes.begin(), c.outcomes.end(),
                        [](const std::string& o) { return o.ends_with("=1"); }));
      EXPECT_EQ(Requests(164) - send_requests, c.mode == 0 ? copies : 0u);
    }
    qovra::Session.OwnPublicKey = public_key;
    EXPECT_EQ(Shown(), c.shown);
    // A signature container only for a completed send; nothing else left.
    EXPECT_EQ(FilesIn(qovra::MessagesDir), c.sent
                                               ? std::vector<std::string>{mail_.Uuid.str() + ".ems"}
                                               : std::vector<std::string>{});
    EXPECT_EQ(FilesIn(qovra::GetTempFolder()), std::vector<std::string>{});
    for (const std::string& f : FilesIn(qovra::MessagesDir)) fs::remove(qovra::MessagesDir + f);
    ui_->messages.clear();
  }
}

// Secure-mode replies from a scripted server: only a login the server
// marks sent (or already held) in a domain it accepted counts; anything
// else fails that recipient with no key sealed and no copy kept.
class SecureReplyTest : public qovra_test::EnvelopeFixture {
 protected:
  void SetUp() override {
    EnvelopeFixture::SetUp();
    UseRequestSettings();
    qovra::Session.Certificate = qovra_test::ClientParty().Cert();
    const std::string db_path = dir_.File("ecm.edb");
    fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", db_path);
    ASSERT_TRUE(db_.Open(db_path)) << db_.LastError();
  }
  void TearDown() override {
    db_.Close();
    EnvelopeFixture::TearDown();
  }

  qovra_test::ScopedProxyEnv proxy_env_;
  qovra::SqliteDb db_;
};

TEST_F(SecureReplyTest, OnlyALoginSentInAnAcceptedDomainCountsAsSent) {
  const std::string values =
      "suid=\"0123456789ABCDEF0123456789ABCDEF\" ymbox=\"202612\" "
      "sent_time=\"2026-12-09 10:11:12\"";
  struct Row {
    const char* name;
    std::string emails;     // the reply's emails element
    const char* ok;         // of the result's login
    bool recorded = false;  // the recipient row holds the server's values
  };
  const Row rows[] = {
      {"sent",
       "<emails><domain val=\"a.uz\" ok=\"1\"><login val=\"x\" ok=\"1\" " + values +
           "/></domain></emails>",
       "1", true},
      {"already held",
       "<emails><domain val=\"a.uz\" ok=\"1\"><login val=\"x\" ok=\"2\"/>"
       "</domain></emails>",
       "2"},
      {"already held, named",
       "<emails><domain val=\"a.uz\" ok=\"1\"><login val=\"x\" ok=\"2\" " + values +
           "/></domain></emails>",
       "2", true},
      {"domain refused, login marked sent",
       "<emails><domain val=\"a.uz\" ok=\"0\"><login val=\"x\" ok=\"1\" " + values +
           "/></domain></emails>",
       "0"},
      {"domain without ok",
       "<emails><domain val=\"a.uz\"><login val=\"x\" ok=\"1\" " + values + "/></domain></emails>",
       "0"},
      {"login refused",
       "<emails><domain val=\"a.uz\" ok=\"1\"><login val=\"x\" ok=\"0\"/>"
       "</domain></emails>",
       "0"},
      {"login ok not a number",
       "<emails><domain val=\"a.uz\" ok=\"1\"><login val=\"x\" "
       "ok=\"yes\" " +
           values + "/></domain></emails>",
       "0"},
      {"no emails", "", "0"},
  };
  pugi::xml_document certificates;
  pugi::xml_node login =
      certificates.append_child("reply").append_child("emails").append_child("domain");
  login.append_attribute("val") = "a.uz";
  login.append_attribute("prx") = "1";
  login = login.append_child("login");
  login.append_attribute("val") = "x";
  login.append_attribute("pbk") =
      qovra::Base64Encode(qovra_test::Bytes(qovra_test::ClientParty().Pub())).c_str();
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    qovra_test::LoopbackListener peer(qovra_test::ListenerScript{
        true, false,
        qovra_test::HttpReplyText(200, "OK",
                                  qovra_test::SessionReply(session_, "<response><res val=\"1\"/>" +
                                                                         r.emails + "</response>")),
        true});
    qovra::Options.Conn.ServerUrl = peer.Origin() + "/qovra4/";
    qovra::TMailMessage mail;
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032X", 0xA0 + n++);
    mail.Uuid = uuid;
    mail.FromAddress = "me@a.uz";
    mail.Recipients.Add("x@a.uz");
    mail.FolderId = qovra::kFolderOutbox;
    mail.Flags = qovra::mfAdminOnly;
    mail.Id = qovra::SaveMailToDatabase(db_, mail, "me@a.uz", nullptr, nullptr, false);
    ASSERT_GT(mail.Id, 0) << db_.LastError();
    qovra::TMemoryStream container(std::string(100, 'm'));
    bool partial = false;
    pugi::xml_document result;
    ASSERT_TRUE(qovra::SendMailMessage(
        {form_, "TfrmMain", nullptr}, {MessagesFolder(), TempFolder(), &db_}, mail, partial,
        qovra::kSendModeSecure, {}, certificates, container, result));
    EXPECT_EQ(peer.Requests().size(), 1u);
    EXPECT_STREQ(result.child("response")
                     .child("emails")
                     .child("domain")
                     .child("login")
                     .attribute("ok")
                     .value(),
                 r.ok);
    const bool sent = std::string(r.ok) != "0";
    EXPECT_EQ(partial, !sent);
    qovra::SqliteStatement q = db_.Prepare("SELECT fau_data FROM ecm_mails WHERE id=?");
    q.Bind(1, int64_t{mail.Id});
    ASSERT_EQ(q.Step(), qovra::SqliteStatement::StepResult::Row);
    EXPECT_EQ(q.ColumnText(0).size(), sent ? 88u : 0u);
    // Recorded as soon as the reply came, before the send ends.
    qovra::SqliteStatement rq =
        db_.Prepare("SELECT suid,ymbox,sent_time,send_flag FROM ecm_recipients WHERE mail_id=?");
    rq.Bind(1, int64_t{mail.Id});
    ASSERT_EQ(rq.Step(), qovra::SqliteStatement::StepResult::Row);
    const std::string recorded =
        rq.ColumnText(0) + " " + rq.ColumnText(1) + " " + rq.ColumnText(2) + " " + rq.ColumnText(3);
    if (r.recorded)
      EXPECT_EQ(recorded, "0123456789ABCDEF0123456789ABCDEF 202612 2026-12-09 10:11:12 1");
    else
      EXPECT_TRUE(recorded.ends_with(" 0")) << recorded;
    const std::string eme = mail.Uuid.str() + ".eme", ems = mail.Uuid.str() + ".ems";
    const std::vector<std::string> kept = {eme, ems}, signature_only = {ems};
    EXPECT_EQ(FilesIn(MessagesFolder()), sent ? kept : signature_only);
    EXPECT_EQ(Shown(), std::vector<std::string>{});
    for (const std::string& f : FilesIn(MessagesFolder())) fs::remove(MessagesFolder() + f);
  }
}

}  // namespace
