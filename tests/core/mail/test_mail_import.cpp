// Mail import into a copy of the shipped mail database: the record of each
// container, the copies beside it, what is skipped and why, and a second
// import of the same folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/stream.h"
#include "base/time_stamp.h"
#include "mail/mail_import.h"
#include "store/mail_container_writer.h"
#include "store/mail_db.h"
#include "store/sqlite_db.h"
#include "support/file_system_calls.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using qovra::SqliteDb;
using qovra::SqliteStatement;
using Rows = std::vector<std::vector<std::string>>;

constexpr char kOwn[] = "alice@localhost";
constexpr char kUuidA[] = "0123456789ABCDEF0123456789ABCDEF";
constexpr char kUuidB[] = "fedcba9876543210fedcba9876543210";
constexpr char kUuidC[] = "00000000000000000000000000000003";

Rows Query(SqliteDb& db, const std::string& sql) {
  Rows rows;
  SqliteStatement q = db.Prepare(sql);
  EXPECT_TRUE(q.Valid()) << db.LastError();
  while (q.Step() == SqliteStatement::StepResult::Row) {
    std::vector<std::string> row;
    for (int c = 0; c < q.ColumnCount(); ++c) row.push_back(q.ColumnText(c));
    rows.push_back(std::move(row));
  }
  return rows;
}

// A plain mail container; with_attachment adds one small file section.
std::string Container(const std::string& from, const std::string& to, bool with_attachment) {
  qovra::TMemoryStream s;
  {
    qovra::TMailWriter w(s, "", [] {
      qovra::TDateTime t = 0;
      EXPECT_TRUE(qovra::TryEncodeDateTime(2024, 3, 5, 14, 7, 9, 0, t));
      return t;
    });
    w.AddMailHeaders(from, u"Отчёт", to);
    w.AddField("body", "text");
    if (with_attachment) {
      w.AddAttachmentHeader(u"a.txt", 3);
      w.WriteString("abc");
    }
    EXPECT_TRUE(w.Finish());
  }
  return s.Data();
}

class MailImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qovra::ClearMsgTable();
    fs::create_directories(dir.File("messages"));
    fs::create_directories(dir.File("in"));
    fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", dir.File("ecm.edb"));
    ASSERT_TRUE(db.Open(dir.File("ecm.edb"))) << db.LastError();
    target.Db = &db;
    target.MessagesDir = dir.File("messages") + "/";
    target.OwnAddress = kOwn;
  }
  std::string In(const std::string& name, const std::string& bytes) {
    return dir.Write("in/" + name, bytes);
  }
  std::vector<std::string> MessagesFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.File("messages")))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  Rows Mails() {
    return Query(db,
                 "SELECT uuid,from_address,folder_id,flag,send_mode,priority,mail_size "
                 "FROM ecm_mails ORDER BY uuid");
  }

  qovra::testing::ScratchDir dir;
  SqliteDb db;
  qovra::TImportTarget target;
};

TEST_F(MailImportTest, FolderTwiceStoresEachMailOnceAndListsWhatItSkipped) {
  const std::string a = Container("bob@localhost", "alice@localhost", /*with_attachment=*/true);
  const std::string b = Container("ALICE@localhost", "bob@localhost; carol@localhost", false);
  In(std::string(kUuidA) + ".emz", a);
  In(std::string(kUuidA) + ".ems", "signature A");
  In(std::string(kUuidB) + ".emz", b);  // no signature beside it
  In(std::string(kUuidC) + ".emz", "not a mail container");
  In("letter.emz", a);         // a good container under a name that is no uuid
  In("notes.txt", "ignored");  // not an .emz at all
  fs::create_directories(dir.File("in/11111111111111111111111111111111.emz"));  // a folder

  qovra::SetMsg("msgMailsImported", "Imported: %d.");
  qovra::SetMsg("msgMailsNotImported", "Skipped:\n%s");

  const qovra::TImportResult first = qovra::ImportPath(target, dir.File("in"), true);
  EXPECT_EQ(first.Found, 4);
  EXPECT_EQ(first.Stored, 2);
  EXPECT_EQ(first.Present, 0);
  EXPECT_EQ(first.Skipped, (std::vector<std::string>{std::string(kUuidC) + ".emz", "letter.emz"}));
  EXPECT_EQ(qovra::ImportResultText(first),
            "Imported: 2.\n\nSkipped:\n" + std::string(kUuidC) + ".emz\nletter.emz");

  const std::string own_flags = std::to_string(qovra::mfSent | qovra::mfReportDone);
  const std::string other_flags = std::to_string(qovra::mfReceived | qovra::mfRead |
                                                 qovra::mfReportDone | qovra::mfAttachments);
  const Rows expected_mails = {
      {kUuidA, "bob@localhost", "0", other_flags, "1", "1", std::to_string(a.size())},
      {kUuidB, "ALICE@localhost", "2", own_flags, "1", "1", std::to_string(b.size())}};
  EXPECT_EQ(Mails(), expected_mails);
  const std::vector<std::string> expected_files = {
      std::string(kUuidA) + ".ems", std::string(kUuidA) + ".emz", std::string(kUuidB) + ".emz"};
  EXPECT_EQ(MessagesFiles(), expected_files);
  EXPECT_EQ(qovra::testing::ScratchDir::Read(target.MessagesDir + kUuidA + ".emz"), a);

  // The own mail: sent at the container's date, received then too, one row
  // per recipient.
  EXPECT_EQ(
      Query(db,
            "SELECT r.to_address,r.sent_time,r.received_time,r.read_time FROM "
            "ecm_recipients r JOIN ecm_mails m ON m.id=r.mail_id WHERE m.uuid='" +
                std::string(kUuidB) + "' ORDER BY r.to_address"),
      (Rows{{"bob@localhost", "2024-03-05 14:07:09", "2024-03-05 14:07:09", "0000-00-00 00:00:00"},
            {"carol@localhost", "2024-03-05 14:07:09", "2024-03-05 14:07:09",
             "0000-00-00 00:00:00"}}));
  // Another's mail: received at the file's time, not read yet in the row.
  const Rows received = Query(db,
                              "SELECT r.received_time,r.read_time FROM ecm_recipients r JOIN "
                              "ecm_mails m ON m.id=r.mail_id WHERE m.uuid='" +
                                  std::string(kUuidA) + "'");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_NE(received[0][0], "0000-00-00 00:00:00");
  EXPECT_EQ(received[0][1], "0000-00-00 00:00:00");

  // Again: a changed source file must not replace the stored copy.
  In(std::string(kUuidA) + ".emz", Container("bob@localhost", "x@localhost", false));
  const qovra::TImportResult second = qovra::ImportPath(target, dir.File("in"), true);
  EXPECT_EQ(second.Found, 4);
  EXPECT_EQ(second.Stored, 0);
  EXPECT_EQ(second.Present, 2);
  EXPECT_EQ(second.Skipped.size(), 2u);
  EXPECT_EQ(Mails(), expected_mails);
  EXPECT_EQ(Query(db, "SELECT COUNT(*) FROM ecm_recipients"), (Rows{{"3"}}));
  EXPECT_EQ(MessagesFiles(), expected_files);
  EXPECT_EQ(qovra::testing::ScratchDir::Read(target.MessagesDir + kUuidA + ".emz"), a);
}

TEST_F(MailImportTest, SingleFileSaysWhetherItsSignatureCameAlong) {
  const std::string with_sign =
      In(std::string(kUuidA) + ".emz", Container("bob@localhost", kOwn, false));
  In(std::string(kUuidA) + ".ems", "signature");
  const std::string without =
      In(std::string(kUuidB) + ".emz", Container("bob@localhost", kOwn, false));

  qovra::TImportResult r = qovra::ImportPath(target, with_sign, false);
  EXPECT_EQ(r.Stored, 1);
  EXPECT_FALSE(r.SignMissing);
  r = qovra::ImportPath(target, without, false);
  EXPECT_EQ(r.Stored, 1);
  EXPECT_TRUE(r.SignMissing);
  // A badly named or broken file is skipped, not a missing signature.
  r = qovra::ImportPath(target, In("mail.emz", Container("bob@localhost", kOwn, false)), false);
  EXPECT_EQ(r.Stored, 0);
  EXPECT_FALSE(r.SignMissing);
  EXPECT_EQ(r.Skipped, (std::vector<std::string>{"mail.emz"}));
}

// A folder on a FAT stick: upper-case names, as such a stick often shows
// them, and no hard links. Every mail counted is imported, with the
// signature container of its own name beside it.
TEST_F(MailImportTest, UpperCaseNamesOnAFolderWithoutHardLinks) {
  const std::string a = Container("bob@localhost", kOwn, false);
  const std::string b = Container("carol@localhost", kOwn, true);
  In(std::string(kUuidA) + ".EMZ", a);
  In(std::string(kUuidA) + ".EMS", "signature A");
  In(std::string(kUuidC) + ".Emz", b);
  In(std::string(kUuidC) + ".ems", "signature C");
  qovra::TImportResult r;
  {
    const qovra_test::ScopedFileSystem stick(qovra_test::FileSystemKind::NoLinksNorFlag);
    r = qovra::ImportPath(target, dir.File("in"), true);
  }
  EXPECT_EQ(r.Found, 2);
  EXPECT_EQ(r.Stored, 2);
  EXPECT_TRUE(r.Skipped.empty()) << testing::PrintToString(r.Skipped);
  const std::vector<std::string> files = {
      std::string(kUuidC) + ".ems", std::string(kUuidC) + ".emz", std::string(kUuidA) + ".ems",
      std::string(kUuidA) + ".emz"};
  EXPECT_EQ(MessagesFiles(), files);
  EXPECT_EQ(qovra::testing::ScratchDir::Read(target.MessagesDir + kUuidA + ".emz"), a);
  EXPECT_EQ(qovra::testing::ScratchDir::Read(target.MessagesDir + kUuidA + ".ems"), "signature A");
  EXPECT_EQ(qovra::testing::ScratchDir::Read(target.MessagesDir + kUuidC + ".ems"), "signature C");
  EXPECT_EQ(Mails().size(), 2u);
}

TEST(MailFileName, OnlyThirtyTwoHexDigitsAndEmz) {
  const std::pair<const char*, bool> cases[] = {
      {"0123456789ABCDEF0123456789abcdef.emz", true},
      {"0123456789ABCDEF0123456789ABCDE.emz", false},    // 31 digits
      {"0123456789ABCDEF0123456789ABCDEF0.emz", false},  // 33 digits
      {"0123456789ABCDEF0123456789ABCDEG.emz", false},   // not hexadecimal
      {"0123456789ABCDEF0123456789ABCDEF.EMZ", true},    // the extension in any case
      {"0123456789ABCDEF0123456789ABCDEF.eMz", true},
      {"0123456789ABCDEF0123456789ABCDEF.ems", false},
      {"../3456789ABCDEF0123456789ABCDEF.emz", false},
      {"", false},
  };
  for (const auto& [name, ok] : cases) EXPECT_EQ(qovra::IsMailFileName(name), ok) << name;
}

}  // namespace
