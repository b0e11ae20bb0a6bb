// The window-free mail commands on real containers and a copy of the real
// mail database template.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/address_list.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/stream.h"
#include "base/utf.h"
#include "mail_file_fixture.h"
#include "net/xml_maker_addresses.h"
#include "qovra/workspace/mail_commands.h"
#include "store/mail_container_reader.h"
#include "store/mail_db.h"
#include "store/sqlite_db.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using qovra::mailcmd::TDeleteTarget;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class DeleteMailsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messages_ = dir_.File("messages") + "/";
    fs::create_directories(messages_);
    const std::string db = dir_.File("ecm.edb");
    fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", db);
    ASSERT_TRUE(db_.Open(db));
  }

  // n mails in folder, each with one recipient and its three files (or
  // only the .emz past the first ten).
  std::vector<TDeleteTarget> Seed(int n, int32_t folder) {
    std::vector<TDeleteTarget> mails;
    qovra::SqliteTransaction t(db_);
    for (int i = 0; i < n; ++i) {
      qovra::TMailMessage m;
      char uuid[33];
      std::snprintf(uuid, sizeof uuid, "%032X", 0xA000 + seeded_++);
      m.Uuid = uuid;
      m.FromAddress = "bob@localhost";
      EXPECT_TRUE(qovra::SplitAddressList(m.Recipients, "alice@127.0.0.1", ';'));
      m.FolderId = folder;
      const int32_t id =
          qovra::SaveMailToDatabase(db_, m, "alice@127.0.0.1", nullptr, nullptr, false);
      EXPECT_GT(id, 0);
      mails.push_back({id, uuid});
      for (const char* ext : {".emz", ".eme", ".ems"}) {
        if (i >= 10 && std::string(ext) != ".emz") continue;
        std::ofstream(messages_ + uuid + ext) << "x";
      }
    }
    EXPECT_TRUE(t.Commit());
    return mails;
  }

  int64_t Count(const std::string& sql) {
    qovra::SqliteStatement st = db_.Prepare(sql);
    return st.Step() == qovra::SqliteStatement::StepResult::Row ? st.ColumnInt(0) : -1;
  }
  size_t Files() {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(messages_)) n += e.is_regular_file();
    return n;
  }

  qovra::testing::ScratchDir dir_;
  std::string messages_;
  qovra::SqliteDb db_;
  int seeded_ = 0;
};

TEST_F(DeleteMailsTest, ThreeFromTheInboxThenFromTheTrash) {
  std::vector<TDeleteTarget> mails = Seed(4, qovra::kFolderInbox);
  mails.pop_back();  // the fourth stays
  std::string error;
  ASSERT_TRUE(qovra::mailcmd::DeleteMails(db_, /*from_trash=*/false, mails, messages_, nullptr,
                                          nullptr, error))
      << error;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_mails WHERE folder_id=3"), 3);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_mails WHERE folder_id=0"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_recipients"), 4);
  EXPECT_EQ(Files(), 12u) << "moving to the trash keeps the files";

  ASSERT_TRUE(qovra::mailcmd::DeleteMails(db_, /*from_trash=*/true, mails, messages_, nullptr,
                                          nullptr, error))
      << error;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_mails"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_recipients"), 1);
  EXPECT_EQ(Files(), 3u) << "only the fourth mail's files remain";
}

// One statement with one term per mail fails at this size (SQLite's
// expression depth); chunks inside one transaction do not.
TEST_F(DeleteMailsTest, FiveThousandFromTheTrash) {
  const std::vector<TDeleteTarget> mails = Seed(5000, qovra::kFolderTrash);
  int64_t last_done = -1, reports = 0;
  struct Seen {
    int64_t* last;
    int64_t* reports;
  } seen{&last_done, &reports};
  std::string error;
  ASSERT_TRUE(qovra::mailcmd::DeleteMails(
      db_, /*from_trash=*/true, mails, messages_,
      [](void* data, int64_t total, int64_t done) {
        auto* s = static_cast<Seen*>(data);
        EXPECT_EQ(total, 5000);
        *s->last = done;
        ++*s->reports;
      },
      &seen, error))
      << error;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_mails"), 0);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_recipients"), 0);
  EXPECT_EQ(Files(), 0u);
  EXPECT_EQ(last_done, 5000);
}

// A statement that fails in a later chunk rolls back the earlier chunks
// and removes no file.
TEST_F(DeleteMailsTest, FailureInALaterChunkChangesNothing) {
  const std::vector<TDeleteTarget> mails = Seed(1200, qovra::kFolderTrash);
  ASSERT_TRUE(db_.Exec("CREATE TRIGGER refuse BEFORE DELETE ON ecm_recipients WHEN old.mail_id=" +
                       std::to_string(mails[1100].Id) +
                       " BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
  std::string error;
  EXPECT_FALSE(qovra::mailcmd::DeleteMails(db_, /*from_trash=*/true, mails, messages_, nullptr,
                                           nullptr, error));
  EXPECT_NE(error.find("refused"), std::string::npos) << error;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_mails"), 1200);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_recipients"), 1200);
  EXPECT_EQ(Files(), 1200u + 20u);
}

// A uuid that is not 32 hexadecimal digits names no file to remove.
TEST_F(DeleteMailsTest, ABadUuidRemovesNoFile) {
  std::vector<TDeleteTarget> mails = Seed(1, qovra::kFolderTrash);
  std::ofstream(dir_.File("x.emz")) << "keep";
  mails[0].Uuid = "../x";
  std::string error;
  ASSERT_TRUE(qovra::mailcmd::DeleteMails(db_, true, mails, messages_, nullptr, nullptr, error));
  EXPECT_TRUE(fs::exists(dir_.File("x.emz")));
  EXPECT_EQ(Count("SELECT COUNT(*) FROM ecm_mails"), 0);
}

class MailTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qovra::ClearMsgTable();
    qovra::SetMsg("msgFrom", "From");
    qovra::SetMsg("msgTo", "To");
    qovra::SetMsg("msgSubject", "Subject");
    qovra::SetMsg("msgDate", "Date");
    qovra::SetMsg("msgAttachments", "Attachments");
  }
  void TearDown() override { qovra::ClearMsgTable(); }
  qovra::testing::ScratchDir dir_;
};

TEST_F(MailTextTest, FormatMailAsTextWithTwoAttachmentsAndWithout) {
  const std::string rule(61, '-');
  struct Case {
    const char* name;
    std::vector<std::pair<std::u16string, std::string>> attachments;
    std::string attachments_line;
    std::u16string body;
  };
  const Case cases[] = {
      {"two attachments",
       {{u"a.txt", "AAA"}, {u"отчёт.pdf", "BB"}},
       "\r\nAttachments: a.txt, отчёт.pdf",
       u"line one\r\nline two"},
      {"none", {}, "", u"line one\r\nline two"},
      // Another writer's line ends come out as CR LF, never mixed.
      {"body with LF", {}, "", u"line one\nline two"},
      {"body with CR", {}, "", u"line one\rline two"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qovra_test::MailFileSpec spec;
    spec.Subject = u"Re: план";
    spec.Attachments = c.attachments;
    spec.Body = c.body;
    const std::string path = dir_.File("m.emz");
    ASSERT_TRUE(qovra_test::WriteMailFile(path, spec));
    qovra::TEFileStream file(path, true, false, qovra::fmOpenRead);
    qovra::TMailReader reader(file);
    ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
    const std::string expected = rule + "\r\nFrom: bob@localhost\r\nTo: alice@127.0.0.1\r\n" +
                                 "Subject: Re: план\r\nDate: 2025.12.09 12:00:00" +
                                 c.attachments_line + "\r\n" + rule +
                                 "\r\n\r\nline one\r\nline two\r\n\r\n" + rule;
    EXPECT_EQ(qovra::Utf16ToUtf8(qovra::mailcmd::FormatMailAsText(reader)), expected);
  }
}

// Every line of the quoted text gets "> ", whatever its line ends.
TEST(MailCommandsText, QuoteForReply) {
  const struct {
    const char* name;
    std::u16string text;
    std::u16string quoted;
  } cases[] = {
      {"CR LF", u"a\r\nb\r\n", u"\r\n\r\n\r\n\r\n> a\r\n> b\r\n> "},
      {"empty", u"", u"\r\n\r\n\r\n\r\n> "},
      {"LF", u"a\nb\n", u"\r\n\r\n\r\n\r\n> a\r\n> b\r\n> "},
      {"CR", u"a\rb", u"\r\n\r\n\r\n\r\n> a\r\n> b"},
      {"mixed, an empty line", u"a\n\r\nb\r\rc", u"\r\n\r\n\r\n\r\n> a\r\n> \r\n> b\r\n> \r\n> c"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(qovra::Utf16ToUtf8(qovra::mailcmd::QuoteForReply(c.text)),
              qovra::Utf16ToUtf8(c.quoted))
        << c.name;
}

TEST(MailCommandsText, SaveAsFileNameNeverLeavesTheFolder) {
  const struct {
    std::u16string subject;
    std::u16string name;
  } cases[] = {
      {u"plan/budget", u"plan.budget.txt"},
      {u"a<b>c:d\\e*f?g|h\"i", u"a.b.c.d.e.f.g.h.i.txt"},
      {u"../../etc/passwd", u"_......etc.passwd.txt"},
      {u"..", u"_...txt"},
      {u"", u"_.txt"},
      {u"tab\there\nnew", u"tab.here.new.txt"},
      {u"Отчёт за май", u"Отчёт за май.txt"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(qovra::Utf16ToUtf8(qovra::mailcmd::SaveAsFileName(c.subject)),
              qovra::Utf16ToUtf8(c.name));
  // A long subject is cut so the name fits 255 bytes, never inside a
  // character.
  const std::u16string name = qovra::mailcmd::SaveAsFileName(std::u16string(300, u'ж'));
  EXPECT_LE(qovra::Utf16ToUtf8(name).size(), 255u);
  EXPECT_EQ(name, std::u16string(125, u'ж') + u".txt");
}

// A subject of 300 ASCII letters proposes the longest name the limit
// allows (251 letters and ".txt", 255 bytes), and that file is saved: its
// temporary name must fit the limit too.
TEST_F(MailTextTest, TheLongestProposedNameIsSaved) {
  const std::u16string name = qovra::mailcmd::SaveAsFileName(std::u16string(300, u'a'));
  ASSERT_EQ(qovra::Utf16ToUtf8(name), std::string(251, 'a') + ".txt");
  const std::string path = dir_.File(qovra::Utf16ToUtf8(name));
  std::string error;
  ASSERT_TRUE(qovra::mailcmd::WriteMailTextFile(path, u"text\r\n", error)) << error;
  EXPECT_EQ(ReadAll(path), "\xEF\xBB\xBFtext\r\n");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_.path())) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{qovra::Utf16ToUtf8(name)}) << "no .part left";
}

TEST_F(MailTextTest, WriteMailTextFileHasABomAndReplacesTheFile) {
  const std::string path = dir_.File("out.txt");
  std::ofstream(path) << "old content that is longer";
  std::string error;
  ASSERT_TRUE(qovra::mailcmd::WriteMailTextFile(path, u"Привет\r\n", error)) << error;
  EXPECT_EQ(ReadAll(path), "\xEF\xBB\xBF" + qovra::Utf16ToUtf8(u"Привет\r\n"));
  EXPECT_FALSE(fs::exists(path + ".part"));
  EXPECT_FALSE(qovra::mailcmd::WriteMailTextFile(dir_.File("no/such/dir.txt"), u"x", error));
  EXPECT_FALSE(error.empty());
}

// The copy a forward starts from: dest cut to the source's length, the
// source unchanged.
TEST(MailCommandsCopy, CopyMailIntoTruncatesAndKeepsTheSource) {
  qovra::TMemoryStream source, dest;
  const std::string data = "short container";
  ASSERT_EQ(source.Write(data.data(), data.size()), data.size());
  const std::string old(100, 'Z');
  ASSERT_EQ(dest.Write(old.data(), old.size()), old.size());
  ASSERT_TRUE(qovra::mailcmd::CopyMailInto(source, dest, nullptr, nullptr));
  EXPECT_EQ(dest.Size(), static_cast<int64_t>(data.size()));
  EXPECT_EQ(source.Size(), static_cast<int64_t>(data.size()));
}

}  // namespace
