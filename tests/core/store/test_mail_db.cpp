// Mail database routines on a copy of the shipped template.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/time_stamp.h"
#include "store/mail_db.h"
#include "store/sqlite_db.h"
#include "support/scratch_dir.h"

namespace {

using qovra::SqliteDb;
using qovra::SqliteStatement;
using qovra::TMailMessage;
using Rows = std::vector<std::vector<std::string>>;

constexpr const char* kOwn = "alice@localhost";

Rows Query(SqliteDb& db, const std::string& sql) {
  Rows rows;
  SqliteStatement q = db.Prepare(sql);
  EXPECT_TRUE(q.Valid()) << db.LastError();
  while (q.Step() == SqliteStatement::StepResult::Row) {
    std::vector<std::string> row;
    for (int c = 0; c < q.ColumnCount(); ++c)
      row.push_back(q.ColumnIsNull(c) ? "NULL" : q.ColumnText(c));
    rows.push_back(std::move(row));
  }
  return rows;
}

qovra::TDateTime Time(int y, int mo, int d, int h, int mi, int s) {
  qovra::TDateTime t = 0;
  EXPECT_TRUE(qovra::TryEncodeDateTime(y, mo, d, h, mi, s, 0, t));
  return t;
}

TMailMessage Mail(const std::string& uuid, int32_t folder, std::vector<std::string> to,
                  const std::string& suid = "") {
  TMailMessage m;
  m.Uuid = uuid;
  m.Suid = suid;
  m.Ymbox = 7;
  m.FromAddress = "bob@localhost";
  m.Subject = u"Hello";
  m.FolderId = folder;
  m.SentTime = Time(2024, 3, 5, 14, 7, 9);
  m.MailSize = 1234;
  m.SendMode = qovra::kSendModeFast;
  m.Priority = qovra::kPriorityHigh;
  m.Flags = qovra::mfReceived;
  for (const std::string& a : to) m.Recipients.Add(a);
  return m;
}

class MailDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = dir.File("ecm.edb");
    std::filesystem::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", path);
    ASSERT_TRUE(db.Open(path)) << db.LastError();
  }
  int32_t Save(const TMailMessage& m, bool keep = false) {
    return qovra::SaveMailToDatabase(db, m, kOwn, nullptr, nullptr, keep);
  }
  Rows Recipients(int32_t id) {
    return Query(db,
                 "SELECT to_address,suid,ymbox,sent_time,received_time,read_time FROM "
                 "ecm_recipients WHERE mail_id=" +
                     std::to_string(id) + " ORDER BY id");
  }
  Rows Header(int32_t id) {
    return Query(db,
                 "SELECT uuid,from_address,subject,folder_id,priority,send_mode,mail_size,flag "
                 "FROM ecm_mails WHERE id=" +
                     std::to_string(id));
  }

  qovra::testing::ScratchDir dir;
  SqliteDb db;
};

TEST_F(MailDbTest, NewMailStoresHeaderAndOneRowPerRecipient) {
  TMailMessage m = Mail("0123456789ABCDEF0123456789ABCDEF", 0, {"a@x.uz", "b@y.uz", "c@x.uz"},
                        "FEDCBA9876543210FEDCBA9876543210");
  m.Subject = u"<b>\"Tom's\" & Ҳ</b>";
  std::vector<std::pair<int64_t, int64_t>> progress;
  const int32_t id = qovra::SaveMailToDatabase(
      db, m, kOwn,
      [](void* data, int64_t total, int64_t done) {
        static_cast<std::vector<std::pair<int64_t, int64_t>>*>(data)->emplace_back(total, done);
      },
      &progress, false);
  ASSERT_GT(id, 0) << db.LastError();
  EXPECT_EQ(Header(id), (Rows{{"0123456789ABCDEF0123456789ABCDEF", "bob@localhost",
                               "&lt;b&gt;&quot;Tom&#039;s&quot; &amp; Ҳ&lt;/b&gt;", "0", "2", "1",
                               "1234", "16"}}));
  const std::string s = "FEDCBA9876543210FEDCBA9876543210";
  const std::string z = "0000-00-00 00:00:00";
  EXPECT_EQ(Recipients(id), (Rows{{"a@x.uz", s, "7", "2024-03-05 14:07:09", z, z},
                                  {"b@y.uz", s, "7", "2024-03-05 14:07:09", z, z},
                                  {"c@x.uz", s, "7", "2024-03-05 14:07:09", z, z}}));
  EXPECT_EQ(progress, (std::vector<std::pair<int64_t, int64_t>>{
                          {100, 0}, {100, 10}, {100, 20}, {100, 40}, {100, 60}, {100, 80}}));
}

TEST_F(MailDbTest, SaveTable) {
  // Each case saves `first` (when it has a uuid), then `second`, and checks
  // the outcome for the second save.
  struct Case {
    const char* name;
    TMailMessage first;
    TMailMessage second;
    bool keep_existing;
    bool expect_existed;
    Rows expect_recipients;  // to_address only
    std::string expect_subject;
    std::string expect_size;
  };
  TMailMessage changed = Mail("U1", 2, {"x@new.uz"});
  changed.Subject = u"Changed";
  TMailMessage changed_no_size = changed;
  changed_no_size.MailSize = 0;
  TMailMessage own_sent = Mail("U1", 2, {"bob@b.uz", kOwn});
  own_sent.FromAddress = kOwn;
  TMailMessage own_inbox = Mail("U1", 0, {kOwn});
  own_inbox.FromAddress = "ALICE@localhost";
  own_inbox.Subject = u"Own copy";
  TMailMessage own_resent = Mail("U1", 2, {"carol@c.uz"});
  own_resent.FromAddress = kOwn;
  own_resent.Subject = u"Resent";
  const Case cases[] = {
      {"new",
       TMailMessage{},
       Mail("U1", 0, {"a@x", "b@x"}),
       false,
       false,
       {{"a@x"}, {"b@x"}},
       "Hello",
       "1234"},
      {"existing is updated and its recipients replaced",
       Mail("U1", 0, {"a@x", "b@x"}),
       changed,
       false,
       true,
       {{"x@new.uz"}},
       "Changed",
       "1234"},
      {"existing with size 0 keeps the stored size",
       Mail("U1", 0, {"a@x"}),
       changed_no_size,
       false,
       true,
       {{"x@new.uz"}},
       "Changed",
       "1234"},
      {"keep existing changes nothing",
       Mail("U1", 0, {"a@x", "b@x"}),
       changed,
       true,
       true,
       {{"a@x"}, {"b@x"}},
       "Hello",
       "1234"},
      {"own mail in the inbox replaces only the own row",
       own_sent,
       own_inbox,
       false,
       true,
       {{"bob@b.uz"}, {kOwn}},
       "Own copy",
       "1234"},
      {"no recipients", TMailMessage{}, Mail("U1", 0, {}), false, false, {}, "Hello", "1234"},
      {"new with keep existing stores its recipients",
       TMailMessage{},
       Mail("U1", 0, {"a@x", "b@x"}),
       true,
       false,
       {{"a@x"}, {"b@x"}},
       "Hello",
       "1234"},
      {"own mail saved again in sent replaces every row",
       own_sent,
       own_resent,
       false,
       true,
       {{"carol@c.uz"}},
       "Resent",
       "1234"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(db.Exec("DELETE FROM ecm_mails; DELETE FROM ecm_recipients"));
    int32_t first_id = 0;
    if (!c.first.Uuid.empty()) {
      first_id = Save(c.first);
      ASSERT_GT(first_id, 0) << db.LastError();
    }
    {
      // What SaveMailHeader reports, undone by the rollback at the scope's end.
      qovra::SqliteTransaction probe(db);
      bool existed = !c.expect_existed;
      EXPECT_GT(qovra::SaveMailHeader(db, c.second, nullptr, nullptr, c.keep_existing, existed), 0);
      EXPECT_EQ(existed, c.expect_existed);
    }

    const int32_t id = Save(c.second, c.keep_existing);
    ASSERT_GT(id, 0) << db.LastError();
    if (first_id != 0) {
      EXPECT_EQ(id, first_id);
    }
    Rows to =
        Query(db, "SELECT to_address FROM ecm_recipients WHERE mail_id=" + std::to_string(id) +
                      " ORDER BY id");
    EXPECT_EQ(to, c.expect_recipients);
    EXPECT_EQ(Query(db, "SELECT subject,mail_size FROM ecm_mails"),
              (Rows{{c.expect_subject, c.expect_size}}));
  }
}

TEST_F(MailDbTest, MissingServerIdGetsRandomHexPerRow) {
  const int32_t id = Save(Mail("U1", 2, {"a@x", "b@x"}));
  const Rows rows = Recipients(id);
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& r : rows) {
    ASSERT_EQ(r[1].size(), 32u);
    EXPECT_EQ(r[1].find_first_not_of("0123456789ABCDEF"), std::string::npos) << r[1];
  }
  EXPECT_NE(rows[0][1], rows[1][1]);
}

TEST_F(MailDbTest, QuotesAndSqlTextAreStoredAsGivenAndTouchNothingElse) {
  const int32_t other = Save(Mail("11111111111111111111111111111111", 0, {"keep@x"}));
  const Rows other_before = Query(db, "SELECT * FROM ecm_mails WHERE id=" + std::to_string(other));
  const Rows other_rcpt =
      Query(db, "SELECT * FROM ecm_recipients WHERE mail_id=" + std::to_string(other));

  const char* hostile[] = {"x\" OR 1=1 --", "it's", "\"; DELETE FROM ecm_mails; --",
                           "') OR ('a'='a", "id",   "uuid"};
  for (const char* h : hostile) {
    SCOPED_TRACE(h);
    TMailMessage m = Mail(h, 2, {h, std::string(h) + "@x"}, h);
    m.FromAddress = h;
    const int32_t id = Save(m);
    ASSERT_GT(id, 0) << db.LastError();
    ASSERT_NE(id, other);
    SqliteStatement q = db.Prepare("SELECT uuid,from_address FROM ecm_mails WHERE id=?");
    q.Bind(1, int64_t{id});
    ASSERT_EQ(q.Step(), SqliteStatement::StepResult::Row);
    EXPECT_EQ(q.ColumnText(0), h);
    EXPECT_EQ(q.ColumnText(1), h);
    EXPECT_EQ(Recipients(id)[0][0], h);
    EXPECT_EQ(Recipients(id)[0][1], h);
    // Saving it again finds the same row.
    bool existed = false;
    EXPECT_EQ(qovra::SaveMailHeader(db, m, nullptr, nullptr, true, existed), id);
    EXPECT_TRUE(existed);
  }
  EXPECT_EQ(Query(db, "SELECT * FROM ecm_mails WHERE id=" + std::to_string(other)), other_before);
  EXPECT_EQ(Query(db, "SELECT * FROM ecm_recipients WHERE mail_id=" + std::to_string(other)),
            other_rcpt);
  EXPECT_EQ(Query(db, "SELECT COUNT(*) FROM ecm_mails"),
            (Rows{{std::to_string(1 + std::size(hostile))}}));
}

TEST_F(MailDbTest, FailureMidSaveRollsEverythingBack) {
  ASSERT_TRUE(
      db.Exec("CREATE TRIGGER refuse BEFORE INSERT ON ecm_recipients WHEN NEW.to_address='fail@x' "
              "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
  // A new mail: no header row remains.
  EXPECT_EQ(Save(Mail("NEW", 0, {"ok1@x", "fail@x", "ok2@x"})), 0);
  EXPECT_NE(db.LastError().find("refused"), std::string::npos) << db.LastError();
  EXPECT_EQ(Query(db, "SELECT COUNT(*) FROM ecm_mails"), (Rows{{"0"}}));
  EXPECT_EQ(Query(db, "SELECT COUNT(*) FROM ecm_recipients"), (Rows{{"0"}}));

  // An existing mail: header and recipient rows stay as they were.
  const int32_t id = Save(Mail("OLD", 0, {"a@x", "b@x"}));
  ASSERT_GT(id, 0);
  const Rows header = Header(id);
  const Rows rcpt = Recipients(id);
  TMailMessage update = Mail("OLD", 3, {"c@x", "fail@x"});
  update.Subject = u"Changed";
  EXPECT_EQ(Save(update), 0);
  EXPECT_EQ(Header(id), header);
  EXPECT_EQ(Recipients(id), rcpt);

  // The database is usable afterwards (no transaction left open).
  EXPECT_GT(Save(Mail("NEXT", 0, {"a@x"})), 0);
  qovra::SqliteTransaction tx(db);
  EXPECT_TRUE(tx.Active());
  EXPECT_TRUE(tx.Commit());
}

TEST_F(MailDbTest, Counts) {
  struct Row {
    int32_t folder;
    const char* from;
    uint16_t flags;
  };
  const Row rows[] = {
      {0, "bob@localhost", 0},
      {0, "bob@localhost", qovra::mfRead},
      {0, kOwn, 0},
      {0, "ALICE@localhost", qovra::mfRead},
      {1, kOwn, 0},
      {2, kOwn, qovra::mfSent},
      {2, kOwn, qovra::mfSent},
      {3, "bob@localhost", 0},
      {4, kOwn, 0},
  };
  int n = 0;
  for (const Row& r : rows) {
    TMailMessage m = Mail("U" + std::to_string(n++), r.folder, {"x@y"});
    m.FromAddress = r.from;
    m.Flags = r.flags;
    ASSERT_GT(Save(m), 0);
  }
  EXPECT_EQ(qovra::CountFolderMails(db, 0, kOwn), 4);
  EXPECT_EQ(qovra::CountFolderMails(db, 1, kOwn), 1);
  EXPECT_EQ(qovra::CountFolderMails(db, 2, kOwn), 3);  // 2 sent + 1 to oneself in the inbox
  EXPECT_EQ(qovra::CountFolderMails(db, 3, kOwn), 1);
  EXPECT_EQ(qovra::CountFolderMails(db, 4, kOwn), 1);
  EXPECT_EQ(qovra::CountUnreadMails(db), 2);
}

TEST_F(MailDbTest, PendingReportListText) {
  const uint16_t sent = qovra::mfSent;
  auto save = [&](const std::string& uuid, uint16_t flags, std::vector<std::string> to,
                  const std::string& suid, int32_t ymbox) {
    TMailMessage m = Mail(uuid, 2, std::move(to), suid);
    m.Flags = flags;
    m.Ymbox = ymbox;
    const int32_t id = Save(m);
    EXPECT_GT(id, 0);
    return id;
  };
  const std::string s1(32, '1'), s2(32, '2'), s3(32, '3'), s4(32, '4');
  const int32_t m1 = save("M1", sent | qovra::mfReadReport, {"bob@b.uz", "carol@a.uz"}, s1, 7);
  save("M2", sent | qovra::mfDeliveryReport, {"dave@a.uz"}, s2, 12);
  save("M3", sent | qovra::mfDeliveryReport | qovra::mfReportDone, {"x@a.uz"}, s3, 5);
  save("M4", qovra::mfReadReport, {"x@a.uz"}, s3, 5);         // not sent by the user
  save("M5", sent | qovra::mfReadReport, {"y@a.uz"}, s4, 0);  // no mailbox number
  save("M6", sent | qovra::mfDeliveryReport, {}, "", 0);      // no recipient rows
  save("M7", sent, {"z@a.uz"}, s4, 3);                        // no report asked
  ASSERT_TRUE(db.Exec("INSERT INTO ecm_recipients (mail_id,suid,ymbox,to_address) VALUES (" +
                      std::to_string(m1) + ",'',9,'e@c.uz')"));  // empty suid

  const auto list = [&] {
    std::string xml = "stale";
    EXPECT_TRUE(qovra::BuildPendingReportList(db, xml)) << db.LastError();
    return xml;
  };
  EXPECT_EQ(list(), "<domain val=\"a.uz\"><suid val=\"12" + s2 + "\" /><suid val=\"7" + s1 +
                        "\"/></domain><domain val=\"b.uz\"><suid val=\"7" + s1 + "\"/></domain>");

  ASSERT_TRUE(qovra::SetMailFlag(db, m1, sent | qovra::mfReadReport | qovra::mfReportDone));
  EXPECT_EQ(list(), "<domain val=\"a.uz\"><suid val=\"12" + s2 + "\" /></domain>");
  ASSERT_TRUE(db.Exec("UPDATE ecm_mails SET flag=flag|256"));
  EXPECT_EQ(list(), "");

  // A query that fails is an error, not an empty list.
  ASSERT_TRUE(db.Exec("ALTER TABLE ecm_recipients RENAME COLUMN suid TO gone"));
  std::string xml = "stale";
  EXPECT_FALSE(qovra::BuildPendingReportList(db, xml));
  EXPECT_EQ(xml, "");
  EXPECT_NE(db.LastError().find("suid"), std::string::npos) << db.LastError();
}

TEST(MailDbClosed, EveryRoutineGivesItsEmptyResult) {
  SqliteDb db;
  TMailMessage m = Mail("U", 0, {"a@x"});
  bool existed = true;
  EXPECT_FALSE(qovra::SetMailFlag(db, 1, 1));
  EXPECT_EQ(qovra::CountFolderMails(db, 2, kOwn), 0);
  EXPECT_EQ(qovra::CountUnreadMails(db), 0);
  std::string reports = "stale";
  EXPECT_TRUE(qovra::BuildPendingReportList(db, reports));
  EXPECT_EQ(reports, "");
  EXPECT_EQ(qovra::SaveMailHeader(db, m, nullptr, nullptr, false, existed), 0);
  EXPECT_FALSE(existed);
  EXPECT_EQ(qovra::SaveMailToDatabase(db, m, kOwn, nullptr, nullptr, false), 0);
}

}  // namespace
