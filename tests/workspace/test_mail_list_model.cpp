// TMailListModel over a copy of the shipped mail template filled through
// SaveMailToDatabase: the rows of Fill, the display roles, sorting and
// searching. Every model runs under QAbstractItemModelTester.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QBrush>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QPersistentModelIndex>
#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/base64.h"
#include "base/messages.h"
#include "base/time_stamp.h"
#include "qovra/workspace/mail_list_model.h"
#include "store/mail_db.h"
#include "store/sqlite_db.h"
#include "support/scratch_dir.h"

namespace qovra::ui {
namespace {

constexpr const char* kOwn = "alice@localhost";
using Col = TMailListModel::Column;

TDateTime Time(int y, int mo, int d, int h, int mi, int s) {
  TDateTime t = 0;
  EXPECT_TRUE(TryEncodeDateTime(y, mo, d, h, mi, s, 0, t));
  return t;
}

// A mail whose uuid starts with tag (the tests name rows by it).
TMailMessage Mail(char tag, int32_t folder, const std::string& from,
                  std::vector<std::string> to = {"bob@localhost"}) {
  TMailMessage m;
  m.Uuid = std::string(1, tag) + std::string(31, '0');
  m.Suid = std::string(32, 'F');
  m.Ymbox = 3;
  m.FromAddress = from;
  m.Subject = u"Subject";
  m.FolderId = folder;
  m.Priority = kPriorityNormal;
  m.Flags = mfReceived;
  for (const std::string& a : to) m.Recipients.Add(a);
  return m;
}

class MailListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = dir.File("ecm.edb");
    std::filesystem::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", path);
    ASSERT_TRUE(db.Open(path)) << db.LastError();
  }
  int32_t Save(const TMailMessage& m) {
    const int32_t id = SaveMailToDatabase(db, m, kOwn, nullptr, nullptr, false);
    EXPECT_GT(id, 0) << db.LastError();
    return id;
  }
  void SetColumn(int32_t id, const char* column, const std::string& value) {
    SqliteStatement update =
        db.Prepare(std::string("UPDATE ecm_mails SET ") + column + "=? WHERE id=?");
    update.Bind(1, value).Bind(2, int64_t{id});
    ASSERT_TRUE(update.Run()) << db.LastError();
  }
  void Fill(int32_t folder) {
    ASSERT_TRUE(model.Fill(db, folder, kOwn)) << model.error().toStdString();
  }
  // The rows' tags (first uuid character) in list order.
  std::string Tags() const {
    std::string tags;
    for (int r = 0; r < model.Count(); ++r) tags += model.Row(r).Uuid.substr(0, 1);
    return tags;
  }
  int RowOf(char tag) const {
    for (int r = 0; r < model.Count(); ++r) {
      if (model.Row(r).Uuid[0] == tag) return r;
    }
    ADD_FAILURE() << "no row " << tag;
    return 0;
  }
  QVariant Data(char tag, int column, int role = Qt::DisplayRole) const {
    return model.data(model.index(RowOf(tag), column), role);
  }

  testing::ScratchDir dir;
  SqliteDb db;
  TMailListModel model;
  QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(MailListTest, RecipientRowsJoinIntoOneRowPerMail) {
  const TDateTime sent = Time(2024, 3, 5, 14, 7, 9);
  TMailMessage three = Mail('A', kFolderOutbox, kOwn, {"a@x.uz", "b@y.uz", "c@z.uz"});
  three.SentTime = sent;
  three.MailSize = 4321;
  three.SendMode = kSendModeFast;
  three.Flags = mfSent | mfAttachments;
  const int32_t id = Save(three);
  Save(Mail('B', kFolderOutbox, kOwn, {}));  // no recipient rows at all
  Save(Mail('C', kFolderInbox, "bob@localhost"));
  Save(Mail('D', kFolderOutbox, kOwn, {"", " d@x.uz "}));  // blank rows are left out

  std::vector<std::pair<int64_t, int64_t>> progress;
  ASSERT_TRUE(model.Fill(db, kFolderOutbox, kOwn,
                         [&](int64_t done, int64_t total) { progress.emplace_back(done, total); }));
  ASSERT_EQ(model.Count(), 3);
  EXPECT_EQ(model.headerData(Col::kColAddress, Qt::Horizontal).toString(),
            QString::fromStdString(GetMsg("msgTo")));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), std::make_pair(int64_t{0}, int64_t{6}));  // 3 + 1 + 2 query rows
  EXPECT_EQ(progress.back(), std::make_pair(int64_t{6}, int64_t{6}));

  const int a = RowOf('A');
  const TMailListRow& row = model.Row(a);
  EXPECT_EQ(row.Id, id);
  EXPECT_EQ(row.Recipients, (std::vector<std::string>{"a@x.uz", "b@y.uz", "c@z.uz"}));
  EXPECT_EQ(model.AddressText(a), "a@x.uz; b@y.uz; c@z.uz");
  EXPECT_EQ(Data('A', Col::kColAddress).toString(), "a@x.uz; b@y.uz; c@z.uz");
  EXPECT_EQ(row.Suid, std::string(32, 'F'));
  EXPECT_EQ(row.Ymbox, 3);
  EXPECT_EQ(row.MailSize, 4321);
  EXPECT_EQ(row.SendMode, kSendModeFast);
  EXPECT_EQ(row.FolderId, kFolderOutbox);
  EXPECT_EQ(row.SentTime, sent);
  EXPECT_EQ(Data('A', Col::kColSent).toString(), "2024.03.05 14:07:09");
  EXPECT_EQ(Data('A', Col::kColReceived).toString(), "");
  EXPECT_EQ(Data('A', Col::kColRead).toString(), "");
  EXPECT_TRUE(model.Row(RowOf('B')).Recipients.empty());
  EXPECT_EQ(Data('B', Col::kColAddress).toString(), "");
  EXPECT_EQ(model.Row(RowOf('D')).Recipients, std::vector<std::string>{"d@x.uz"});

  const TMailMessage copy = row.ToMailMessage();
  EXPECT_EQ(copy.Id, id);
  EXPECT_EQ(copy.Uuid.str(), three.Uuid.str());
  ASSERT_EQ(copy.Recipients.Count(), 3u);
  EXPECT_EQ(copy.Recipients[2], "c@z.uz");
  EXPECT_EQ(copy.Subject.str(), u"Subject");
  EXPECT_EQ(copy.Flags, mfSent | mfAttachments);
}

TEST_F(MailListTest, SentFolderListsOwnInboxMailsAsSent) {
  Save(Mail('S', kFolderSent, kOwn));
  Save(Mail('O', kFolderInbox, kOwn, {kOwn}));  // sent to oneself
  Save(Mail('I', kFolderInbox, "bob@localhost", {kOwn}));
  Save(Mail('T', kFolderTrash, kOwn));

  Fill(kFolderSent);
  ASSERT_EQ(model.Count(), 2);
  EXPECT_EQ(model.Row(RowOf('S')).FolderId, kFolderSent);
  EXPECT_EQ(model.Row(RowOf('O')).FolderId, kFolderSent);
  EXPECT_EQ(Data('O', Col::kColAddress).toString(), kOwn);

  Fill(kFolderInbox);
  EXPECT_EQ(model.Count(), 2);
  EXPECT_EQ(model.Row(RowOf('O')).FolderId, kFolderInbox);
  EXPECT_EQ(Data('I', Col::kColAddress).toString(), "bob@localhost");
  EXPECT_EQ(model.headerData(Col::kColAddress, Qt::Horizontal).toString(),
            QString::fromStdString(GetMsg("msgFrom")));
}

TEST_F(MailListTest, ColoursBoldAndImages) {
  struct Case {
    char tag;
    uint8_t priority;
    uint16_t flags;
    int state_image;
    int kind_image;
  };
  const Case cases[] = {
      {'a', kPriorityLow, 0, 3, -1},
      {'b', kPriorityNormal, mfReceived, 1, -1},
      {'c', kPriorityHigh, mfReceived | mfSent, 2, -1},
      {'d', kPriorityNormal, mfReceived | mfRead, 0, -1},
      {'e', kPriorityNormal, mfSent | mfRead | mfAttachments, 0, 5},
      {'f', kPriorityNormal, mfVoice, 3, 4},
      {'g', kPriorityNormal, mfVoice | mfAttachments, 3, 4},
  };
  for (const Case& c : cases) {
    TMailMessage m = Mail(c.tag, kFolderInbox, kOwn);
    m.Priority = c.priority;
    m.Flags = c.flags;
    Save(m);
  }
  const QPalette palette = QGuiApplication::palette();
  const QColor colours[] = {palette.color(QPalette::Disabled, QPalette::Text),
                            palette.color(QPalette::Active, QPalette::WindowText),
                            QColor(202, 0, 0)};
  for (int32_t folder : {kFolderInbox, kFolderSent}) {
    SCOPED_TRACE(folder);
    Fill(folder);
    ASSERT_EQ(model.Count(), 7);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.tag);
      EXPECT_EQ(Data(c.tag, Col::kColState, TMailListModel::kImageIndexRole).toInt(),
                c.state_image);
      EXPECT_EQ(Data(c.tag, Col::kColKind, TMailListModel::kImageIndexRole).toInt(), c.kind_image);
      EXPECT_FALSE(Data(c.tag, Col::kColSubject, TMailListModel::kImageIndexRole).isValid());
      EXPECT_FALSE(Data(c.tag, Col::kColState, Qt::DecorationRole).isValid());  // no images set
      const QVariant fg = Data(c.tag, Col::kColSubject, Qt::ForegroundRole);
      EXPECT_EQ(fg.value<QBrush>().color(), colours[c.priority]);
      const bool bold = folder == kFolderInbox && !(c.flags & mfRead);
      EXPECT_EQ(Data(c.tag, Col::kColAddress, Qt::FontRole).value<QFont>().bold(), bold);
    }
  }
}

TEST_F(MailListTest, SubjectAndSealedKeyAsStored) {
  const std::string key65 = [] {
    std::string k;
    for (int i = 0; i < 65; ++i) k += static_cast<char>(i * 3 + 1);
    return k;
  }();
  struct Case {
    char tag;
    std::u16string saved_subject;  // through SaveMailToDatabase
    std::string raw_subject;       // written as stored text when not empty
    QString shown;
    std::string fau_data;
    std::string key;  // expected FauKey bytes; empty: all zero
  };
  const Case cases[] = {
      {'a', u"<b>\"Tom's\" & Co</b>", "", QString::fromUtf8("<b>\"Tom's\" & Co</b>"), "", ""},
      {'b', u"Салом", "", QString::fromUtf8("Салом"), std::string(64, 'A'), ""},
      {'c', u"", std::string(1100, 'y'), QString(1023, QLatin1Char('y')), Base64Encode(key65),
       key65},
      {'d', u"", "a &amp;lt; b", QString::fromUtf8("a &lt; b"), std::string(88, '*'), ""},
      {'e', u"", std::string(1022, 'x') + "\xF0\x9F\x98\x80z", QString(1022, QLatin1Char('x')),
       std::string(65, 'A'), ""},  // over 64 characters but no Base64
  };
  for (const Case& c : cases) {
    TMailMessage m = Mail(c.tag, kFolderInbox, "bob@localhost");
    m.Subject = c.saved_subject;
    const int32_t id = Save(m);
    if (!c.raw_subject.empty()) SetColumn(id, "subject", c.raw_subject);
    SetColumn(id, "fau_data", c.fau_data);
  }
  Fill(kFolderInbox);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    EXPECT_EQ(Data(c.tag, Col::kColSubject).toString().toStdString(), c.shown.toStdString());
    std::array<uint8_t, 65> expected{};
    for (size_t i = 0; i < c.key.size(); ++i) expected[i] = static_cast<uint8_t>(c.key[i]);
    EXPECT_EQ(model.Row(RowOf(c.tag)).FauKey, expected);
  }
}

TEST_F(MailListTest, DatabaseWithoutTablesFailsWithAnError) {
  Save(Mail('A', kFolderInbox, "bob@localhost"));
  Fill(kFolderInbox);
  ASSERT_EQ(model.Count(), 1);

  // The message comes from the language file; SQLite's reason goes to the log.
  SqliteDb empty;
  ASSERT_TRUE(empty.Open(dir.File("empty.edb"), true));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(model.Fill(empty, kFolderInbox, kOwn));
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(model.Count(), 0);
  EXPECT_EQ(model.error().toStdString(), qovra::GetMsg("msgDatabaseError"));
  EXPECT_NE(log.find("no such table: ecm_mails"), std::string::npos) << log;
  EXPECT_EQ(model.FindNext("bob", 0), -1);
  model.sort(Col::kColSubject, Qt::AscendingOrder);

  SqliteDb closed;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(model.Fill(closed, kFolderSent, kOwn));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("not open"), std::string::npos);
  EXPECT_EQ(model.error().toStdString(), qovra::GetMsg("msgDatabaseError"));
  EXPECT_EQ(model.Folder(), kFolderSent);

  Fill(kFolderInbox);  // a good fill afterwards clears the error
  EXPECT_EQ(model.Count(), 1);
  EXPECT_TRUE(model.error().isEmpty());
}

// Inbox mails for sorting: tag, sender, subject, sent, received, read (days).
class MailListSortTest : public MailListTest {
 protected:
  void SetUp() override {
    MailListTest::SetUp();
    struct Seed {
      char tag;
      const char* from;
      const char16_t* subject;
      int sent, received, read;
    };
    const Seed seeds[] = {
        {'A', "bob@x.uz", u"beta", 3, 1, 0},
        {'B', "Alice@x.uz", u"Alpha", 1, 2, 5},
        {'C', "_carl@x.uz", u"alpha", 2, 2, 0},
        {'D', "dave@x.uz", u"Gamma", 4, 3, 6},
    };
    const TDateTime base = Time(2024, 1, 1, 0, 0, 0);
    for (const Seed& s : seeds) {
      TMailMessage m = Mail(s.tag, kFolderInbox, s.from);
      m.Subject = s.subject;
      m.SentTime = base + s.sent;
      m.ReceivedTime = base + s.received;
      m.ReadTime = s.read ? base + s.read : 0;
      Save(m);
    }
  }
};

TEST_F(MailListSortTest, SortTable) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, Qt::SortOrder>> clicks;
    std::string expected;
    int sort_column;
  };
  constexpr auto kAsc = Qt::AscendingOrder;
  constexpr auto kDesc = Qt::DescendingOrder;
  const Case cases[] = {
      {"fill sorts by sent time, newest first", {}, "DACB", Col::kColSent},
      {"column 1 does nothing", {{Col::kColKind, kAsc}}, "DACB", Col::kColSent},
      {"column 0 does nothing", {{Col::kColState, kAsc}}, "DACB", Col::kColSent},
      {"subject, equal keys keep their order",
       {{Col::kColSubject, kAsc}},
       "CBAD",
       Col::kColSubject},
      {"subject twice flips",
       {{Col::kColSubject, kAsc}, {Col::kColSubject, kDesc}},
       "DACB",
       Col::kColSubject},
      {"subject after sent ascending",
       {{Col::kColSent, kAsc}, {Col::kColSubject, kAsc}},
       "BCAD",
       Col::kColSubject},
      {"sent ascending", {{Col::kColSent, kAsc}}, "BCAD", Col::kColSent},
      {"received, ties stay", {{Col::kColReceived, kAsc}}, "ACBD", Col::kColReceived},
      {"read, unread first", {{Col::kColRead, kAsc}}, "ACBD", Col::kColRead},
      {"sender ignores case, _ after letters",
       {{Col::kColAddress, kAsc}},
       "BADC",
       Col::kColAddress},
      {"sender descending", {{Col::kColAddress, kDesc}}, "CDAB", Col::kColAddress},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model.sort(Col::kColSent, Qt::DescendingOrder);
    Fill(kFolderInbox);
    for (const auto& [column, order] : c.clicks) model.sort(column, order);
    EXPECT_EQ(Tags(), c.expected);
    EXPECT_EQ(model.SortColumn(), c.sort_column);
  }
}

TEST_F(MailListSortTest, FillKeepsSortAndPersistentIndexesFollowRows) {
  model.sort(Col::kColSubject, Qt::DescendingOrder);
  Fill(kFolderInbox);
  EXPECT_EQ(Tags(), "DABC");
  const QPersistentModelIndex a(model.index(RowOf('A'), Col::kColSubject));
  model.sort(Col::kColSent, Qt::AscendingOrder);
  ASSERT_TRUE(a.isValid());
  EXPECT_EQ(a.row(), RowOf('A'));
  EXPECT_EQ(a.data().toString(), "beta");
}

TEST_F(MailListSortTest, UpdateRowRepaintsInPlace) {
  Fill(kFolderInbox);
  const int row = RowOf('C');
  TMailListRow changed = model.Row(row);
  changed.Flags |= mfRead;
  changed.Subject = QStringLiteral("Zeta");
  changed.FolderId = kFolderTrash;
  EXPECT_TRUE(model.UpdateRow(changed));
  EXPECT_EQ(model.Row(row).Flags & mfRead, mfRead);
  EXPECT_EQ(model.Row(row).FolderId, kFolderInbox);
  EXPECT_EQ(model.FindNext("zeta", 0), row);
  model.sort(Col::kColSubject, Qt::AscendingOrder);
  EXPECT_EQ(Tags(), "BADC");

  changed.Id = 999999;
  EXPECT_FALSE(model.UpdateRow(changed));
  EXPECT_EQ(model.RowOfId(999999), -1);
}

// A row read again from the database shows what a refill would show, and
// takes its place under the current sort; a persistent index (the view's
// selection) follows it.
TEST_F(MailListSortTest, ReloadRowShowsTheStoredMailInItsSortedPlace) {
  struct Case {
    const char* name;
    int sort_column;
    const char* read_time;  // written into A's recipient row
    std::string before, after;
  };
  const Case cases[] = {
      {"read time now latest", Col::kColRead, "2024-01-09 00:00:00", "ACBD", "CBDA"},
      {"sort key unchanged", Col::kColSubject, "2024-01-09 00:00:00", "BCAD", "BCAD"},
      {"read time cleared again", Col::kColRead, "0000-00-00 00:00:00", "CBDA", "ACBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model.sort(c.sort_column, Qt::AscendingOrder);
    Fill(kFolderInbox);
    EXPECT_EQ(Tags(), c.before);
    const int32_t id = model.Row(RowOf('A')).Id;
    const QPersistentModelIndex selected(model.index(RowOf('A'), Col::kColSubject));
    SqliteStatement update = db.Prepare("UPDATE ecm_recipients SET read_time=? WHERE mail_id=?");
    update.Bind(1, std::string(c.read_time)).Bind(2, int64_t{id});
    ASSERT_TRUE(update.Run()) << db.LastError();
    SetColumn(id, "flag", std::to_string(mfReceived | mfRead));
    EXPECT_TRUE(model.ReloadRow(db, id));
    EXPECT_EQ(Tags(), c.after);
    ASSERT_TRUE(selected.isValid());
    EXPECT_EQ(selected.row(), RowOf('A'));
    EXPECT_EQ(model.Row(RowOf('A')).Flags, mfReceived | mfRead);
    EXPECT_EQ(Data('A', Col::kColRead).toString().isEmpty(),
              std::string(c.read_time) == "0000-00-00 00:00:00");
    EXPECT_EQ(model.Row(RowOf('A')).FolderId, kFolderInbox);
  }
  EXPECT_FALSE(model.ReloadRow(db, 999999));
  // A listed mail whose row is gone keeps what the list shows.
  const int32_t gone = model.Row(RowOf('B')).Id;
  ASSERT_TRUE(db.Exec("DELETE FROM ecm_mails WHERE id=" + std::to_string(gone)));
  EXPECT_FALSE(model.ReloadRow(db, gone));
  EXPECT_EQ(model.Row(RowOf('B')).Id, gone);
}

TEST_F(MailListTest, SearchTable) {
  struct Seed {
    char tag;
    std::vector<std::string> to;
    const char16_t* subject;
  };
  const Seed seeds[] = {
      {'0', {"x@a.uz", "y@b.uz"}, u"Report ABC"},
      {'1', {"zed@c.uz"}, u"Привет мир"},
      {'2', {"ABC.team@d.uz"}, u"misc"},
      {'3', {"q@e.uz"}, u"abcdef"},
  };
  const TDateTime base = Time(2024, 1, 1, 0, 0, 0);
  for (const Seed& s : seeds) {
    TMailMessage m = Mail(s.tag, kFolderOutbox, kOwn, s.to);
    m.Subject = s.subject;
    m.SentTime = base + (s.tag - '0');
    Save(m);
  }
  Fill(kFolderOutbox);
  model.sort(Col::kColSent, Qt::AscendingOrder);
  ASSERT_EQ(Tags(), "0123");

  struct Case {
    const char* needle;
    int from;
    int expected;
  };
  const Case cases[] = {
      {"abc", 0, 2},                      // recipients before any subject
      {"ABC", 0, 2},     {"abc", 3, 3},   // no recipient hit from row 3: the subject
      {"abc", -5, 2},    {"abc", 4, -1},  // past the end, no wrap
      {"report", 1, -1}, {"; y@", 0, 0},  // the recipients as shown, joined by "; "
      {"МИР", 0, 1},     {"nothing", 0, -1}, {"", 0, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(model.FindNext(QString::fromUtf8(c.needle), c.from), c.expected)
        << c.needle << " from " << c.from;
  }
}

}  // namespace
}  // namespace qovra::ui

namespace qovra::ui {
namespace {

// Enough mails that a search step goes past its first few rows into the
// scan of all keys, with keys that share long prefixes so the sort looks
// at several 8-byte chunks of them.
class MailListLargeTest : public MailListTest {
 protected:
  static constexpr int kMails = 600;

  void SetUp() override {
    MailListTest::SetUp();
    const std::u16string parts[] = {u"Report ", u"report ", u"REPORT_", u"Отчёт ", u"отчёт", u""};
    const char* senders[] = {"a", "A", "_", "Z", "z"};
    const TDateTime base = Time(2024, 1, 1, 0, 0, 0);
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 16) % n;
    };
    SqliteTransaction transaction(db);
    for (int i = 0; i < kMails; ++i) {
      std::u16string subject;
      for (uint32_t k = next(4); k > 0; --k) subject += parts[next(6)];
      subject += u"#" + std::u16string(1, static_cast<char16_t>(u'0' + next(3)));
      std::string from = "sender.";
      for (uint32_t k = next(5); k > 0; --k) from += senders[next(5)];
      from += "@x.uz";
      TMailMessage m = Mail('m', kFolderInbox, from);
      const std::string number = std::to_string(i);
      m.Uuid = std::string(32 - number.size(), '0') + number;
      m.Subject = subject;
      m.SentTime = base + next(50);
      ids.push_back(Save(m));
      keys[ids.back()] = {MailListLowerKeyForTest(from),
                          QString::fromStdU16String(subject).toLower().toStdString()};
    }
    ASSERT_TRUE(transaction.Commit());
  }
  static std::string MailListLowerKeyForTest(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }
  std::vector<int32_t> Ids() const {
    std::vector<int32_t> out;
    for (int r = 0; r < model.Count(); ++r) out.push_back(model.Row(r).Id);
    return out;
  }

  std::vector<int32_t> ids;
  std::map<int32_t, std::pair<std::string, std::string>> keys;  // id -> sender, subject key
};

// The upper-casing ANSI comparison of the sender column, written out.
bool SenderLess(const std::string& a, const std::string& b) {
  auto up = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
    return up(static_cast<unsigned char>(x)) < up(static_cast<unsigned char>(y));
  });
}

TEST_F(MailListLargeTest, TextSortsMatchAStableSortOfTheKeys) {
  Fill(kFolderInbox);
  ASSERT_EQ(model.Count(), kMails);
  for (int column : {Col::kColAddress, Col::kColSubject}) {
    for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
      SCOPED_TRACE(::testing::Message() << "column " << column << " order " << order);
      model.sort(Col::kColSent, Qt::AscendingOrder);  // ties then keep this order
      std::vector<int32_t> expected = Ids();
      auto less = [&](int32_t a, int32_t b) {
        return column == Col::kColAddress ? SenderLess(keys[a].first, keys[b].first)
                                          : keys[a].second < keys[b].second;
      };
      if (order == Qt::AscendingOrder) {
        std::stable_sort(expected.begin(), expected.end(), less);
      } else {
        std::stable_sort(expected.begin(), expected.end(),
                         [&](int32_t a, int32_t b) { return less(b, a); });
      }
      model.sort(column, order);
      EXPECT_EQ(Ids(), expected);
    }
  }
}

TEST_F(MailListLargeTest, SearchBeyondTheFirstRowsTakesTheFirstHitAtOrAfterFrom) {
  Fill(kFolderInbox);
  model.sort(Col::kColSubject, Qt::AscendingOrder);
  // The expected answer by a plain walk over the rows as shown.
  auto walk = [&](const std::string& needle, int from) {
    for (bool subject : {false, true}) {
      for (int r = std::max(from, 0); r < model.Count(); ++r) {
        const auto& k = keys[model.Row(r).Id];
        if ((subject ? k.second : k.first).find(needle) != std::string::npos) return r;
      }
    }
    return -1;
  };
  const std::string needles[] = {"отчёт#1", "report_report", "sender.z_", "sender.aaaa",
                                 "#2",      "uzsender",      "x.uz",      "_a@"};
  for (const std::string& needle : needles) {
    for (int from : {0, 255, 256, 300, 599, 600}) {
      EXPECT_EQ(model.FindNext(QString::fromStdString(needle), from), walk(needle, from))
          << needle << " from " << from;
    }
  }
  // "uzsender" would only run from one sender into the next one's key.
  EXPECT_EQ(model.FindNext(QStringLiteral("uzsender"), 300), -1);

  // A changed subject is found under its new text and no more under the old.
  const int row = 500;
  TMailListRow changed = model.Row(row);
  const QString old_subject = changed.Subject;
  changed.Subject = QStringLiteral("Unique Needle");
  ASSERT_TRUE(model.UpdateRow(changed));
  EXPECT_EQ(model.FindNext(QStringLiteral("unique needle"), 300), row);
  EXPECT_EQ(model.Row(row).Subject, QStringLiteral("Unique Needle"));
  EXPECT_EQ(model.Row(row).Id, changed.Id);
}

}  // namespace
}  // namespace qovra::ui
