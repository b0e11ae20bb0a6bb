// The compose windows' window-free rules: completion fragments and
// acceptance, suggestions from a real address book, the attachment checks
// and their message, row captions, the container's safe write and the
// chunked copy of a reopened mail's attachment.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/utf.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/workspace/compose_rules.h"
#include "seam/fake_ui.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"
#include "store/sqlite_db.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace qovra::compose;
using qovra::testing::ScratchDir;

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;

// Completion: caret given by "|" in the text.
struct CompletionCase {
  const char* name;
  std::u16string text;  // with one "|" for the caret
  std::u16string fragment;
  std::u16string accepted;  // after choosing "Bobov Bob <bob@x>"
};

TEST(Completion, FragmentAndAcceptedText) {
  const std::u16string item = u"Bobov Bob <bob@x>";
  const std::vector<CompletionCase> cases = {
      {"plain letters", u"bo|", u"bo", item},
      {"second entry after semicolon and blank", u"Ann <ann@x>; bo|", u"bo",
       u"Ann <ann@x>; " + item},
      {"blanks after separator become one", u"a@x;   bo|", u"bo", u"a@x; " + item},
      {"separator first is not a separator", u",bo|", u",bo", u", " + item},
      {"fragment runs to the end, not the caret", u"a@x; b|ob", u"bob", u"a@x; " + item},
      {"separator after caret only", u"bo|b; c", u"bob; c", item},
      {"ends in separator and blanks", u"a@x;  |", u"", u"a@x; " + item},
      {"comma then semicolon: the last counts", u"a@x, b@y; c|", u"c", u"a@x, b@y; " + item},
      {"leading blanks dropped on accept", u"   bo|", u"   bo", item},
  };
  for (const CompletionCase& c : cases) {
    const size_t caret = c.text.find(u'|');
    std::u16string text = c.text;
    text.erase(caret, 1);
    EXPECT_EQ(CompletionFragment(text, caret), c.fragment) << c.name;
    EXPECT_EQ(AcceptSuggestion(text, caret, item), c.accepted) << c.name;
  }
}

TEST(Completion, MatchesAnywhereInAnyCaseButNotTheWholeText) {
  EXPECT_TRUE(SuggestionMatches(u"bo", u"Bobov Bob <bob@x>"));
  EXPECT_TRUE(SuggestionMatches(u"OB@", u"Bobov Bob <bob@x>"));
  EXPECT_TRUE(SuggestionMatches(u"иван", u"Иванов Иван <ivan@x>"));
  EXPECT_TRUE(SuggestionMatches(u"ҚОД", u"қодиров <q@x>"));
  EXPECT_FALSE(SuggestionMatches(u"bobov bob <BOB@X>", u"Bobov Bob <bob@x>"));
  EXPECT_FALSE(SuggestionMatches(u"", u"Bobov Bob <bob@x>"));
  EXPECT_FALSE(SuggestionMatches(u"zz", u"Bobov Bob <bob@x>"));
}

TEST(Completion, SuggestionsFromTheAddressBook) {
  ScratchDir dir;
  const std::string path = dir.File("eca.edb");
  fs::copy_file(std::string(QOVRA_BIN_DIR) + "/eca.edb", path);
  qovra::SqliteDb db;
  std::vector<std::u16string> found;
  EXPECT_FALSE(FillContactSuggestions(db, u"bo", found));  // closed book
  ASSERT_TRUE(db.Open(path));
  ASSERT_TRUE(qovra::UpgradeContactsSchema(db));
  qovra::testing::ScopedFakeUi ui;
  auto add = [&db](std::u16string first, std::u16string middle, std::u16string last,
                   std::string email) {
    qovra::TContact c;
    c.FirstName = std::move(first);
    c.MiddleName = std::move(middle);
    c.LastName = std::move(last);
    c.Email = std::move(email);
    ASSERT_EQ(qovra::SaveContact(db, c, 0, c.Email), qovra::kAbStored);
  };
  add(u"Bob", u"", u"Bobov", "bob@localhost");
  add(u"Ann", u"Bo", u"Annova", "ann@127.0.0.1");
  add(u"", u"", u"", "robot@127.0.0.1");
  add(u"Carol", u"", u"Carolova", "carol@127.0.0.1");
  // The same contact entered in a second group is offered once.
  qovra::TContact again;
  again.FirstName = u"Bob";
  again.LastName = u"Bobov";
  again.Email = "bob@localhost";
  ASSERT_EQ(qovra::SaveContact(db, again, 3, again.Email), qovra::kAbStored);
  ASSERT_TRUE(FillContactSuggestions(db, u"BO", found));
  EXPECT_EQ(found, (std::vector<std::u16string>{u"Annova Ann Bo <ann@127.0.0.1>",
                                                u"Bobov Bob <bob@localhost>", u"robot@127.0.0.1"}));
  ASSERT_TRUE(FillContactSuggestions(db, u"robot@127.0.0.1", found));
  EXPECT_TRUE(found.empty());  // equal to the whole display text
}

TEST(Attachments, ChecksInOrder) {
  struct Case {
    const char* name;
    std::u16string path;
    int64_t size;
    bool attached;
    TAttachCheck want;
  };
  const std::u16string long_path = u"/" + std::u16string(259, u'a');
  const std::vector<Case> cases = {
      {"ordinary", u"/d/report.pdf", 10, false, TAttachCheck::Accepted},
      {"zero-byte exe is empty", u"/d/run.exe", 0, false, TAttachCheck::Empty},
      {"exe in capitals", u"/d/RUN.EXE", 5, false, TAttachCheck::Forbidden},
      {"cmd", u"/d/a.cmd", 5, false, TAttachCheck::Forbidden},
      {"bat", u"/d/a.Bat", 5, false, TAttachCheck::Forbidden},
      {"com", u"/d/a.com", 5, false, TAttachCheck::Forbidden},
      {"dot in folder only", u"/d.exe/readme", 5, false, TAttachCheck::Accepted},
      {"exe inside the name", u"/d/a.exe.txt", 5, false, TAttachCheck::Accepted},
      {"attached before emptiness", u"/d/a.exe", 0, true, TAttachCheck::Exists},
      {"unreadable counts as empty", u"/d/gone", 0, false, TAttachCheck::Empty},
      {"259 characters fit", long_path.substr(1), 5, false, TAttachCheck::Accepted},
      {"260 characters do not", long_path, 5, false, TAttachCheck::TooLong},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CheckAttachment(c.path, c.size, c.attached), c.want) << c.name;
}

TEST(Attachments, RefusalMessageForEveryCombination) {
  qovra::ClearMsgTable();
  const std::vector<std::pair<const char*, int>> keys = {
      {"msgAttachedFileIsExistsAndEmptyAndForbidden", 3},
      {"msgAttachedFileIsExistsAndEmpty", 2},
      {"msgAttachedFileIsExistsAndForbidden", 2},
      {"msgAttachedFileIsEmptyAndForbidden", 2},
      {"msgAttachedFileIsExists", 1},
      {"msgAttachedFileIsForbidden", 1},
      {"msgAttachedFileEmpty", 1}};
  for (const auto& [key, lists] : keys)
    qovra::SetMsg(key, std::string(key) + (lists == 3   ? "[%s|%s|%s]"
                                           : lists == 2 ? "[%s|%s]"
                                                        : "[%s]"));
  qovra::SetMsg("msgAttachedFilePathTooLong", "long[%s]");
  struct Case {
    bool exists, empty, forbidden;
    std::string want;
  };
  const std::string x = "   /x\r", e = "   /e\r", f = "   /f\r";
  const std::vector<Case> cases = {
      {true, true, true,
       "msgAttachedFileIsExistsAndEmptyAndForbidden[" + x + "|" + e + "|" + f + "]"},
      {true, true, false, "msgAttachedFileIsExistsAndEmpty[" + x + "|" + e + "]"},
      {true, false, true, "msgAttachedFileIsExistsAndForbidden[" + x + "|" + f + "]"},
      {false, true, true, "msgAttachedFileIsEmptyAndForbidden[" + e + "|" + f + "]"},
      {true, false, false, "msgAttachedFileIsExists[" + x + "]"},
      {false, false, true, "msgAttachedFileIsForbidden[" + f + "]"},
      {false, true, false, "msgAttachedFileEmpty[" + e + "]"},
      {false, false, false, ""},
  };
  for (const Case& c : cases) {
    TAttachRefusals r;
    // Added out of order: the message keeps exists, empty, forbidden.
    if (c.forbidden) r.Add(TAttachCheck::Forbidden, u"/f");
    if (c.empty) r.Add(TAttachCheck::Empty, u"/e");
    if (c.exists) r.Add(TAttachCheck::Exists, u"/x");
    r.Add(TAttachCheck::Accepted, u"/ok");
    EXPECT_EQ(r.MessageText(), c.want) << c.exists << c.empty << c.forbidden;
  }
  TAttachRefusals mixed;
  mixed.Add(TAttachCheck::TooLong, u"/l");
  EXPECT_EQ(mixed.MessageText(), "long[   /l\r]");
  mixed.Add(TAttachCheck::Empty, u"/e");
  EXPECT_EQ(mixed.MessageText(), "msgAttachedFileEmpty[" + e + "]\rlong[   /l\r]");
  qovra::ClearMsgTable();
}

TEST(Attachments, CaptionSizes) {
  EXPECT_EQ(AttachmentCaption(u"/d/a.txt", 1023), u"a.txt (1023 B)");
  EXPECT_EQ(AttachmentCaption(u"/d/a.txt", 1024), u"a.txt (1 KB)");
  EXPECT_EQ(AttachmentCaption(u"/d/a.txt", 1048575), u"a.txt (1023 KB)");
  EXPECT_EQ(AttachmentCaption(u"/d/a.txt", 1048576), u"a.txt (1 MB)");
  EXPECT_EQ(AttachmentCaption(u"b.txt", 5), u"b.txt (5 B)");
}

class ContainerWriteTest : public ::testing::Test {
 protected:
  qovra::testing::ScopedFakeUi ui_;
  ScratchDir dir_;
};

TEST_F(ContainerWriteTest, RenamedOnlyAfterACompleteWrite) {
  const std::string path = dir_.File("m.emz");
  std::ofstream(path) << "old copy";
  std::unique_ptr<qovra::TEFileStream> stream;
  // A failed write and a write past the cap leave the old copy.
  EXPECT_EQ(WriteContainerFile(
                path, [](qovra::TStream& s) { return s.WriteString("half") && false; }, stream),
            TContainerWrite::Failed);
  EXPECT_EQ(
      WriteContainerFile(
          path, [](qovra::TStream& s) { return s.WriteString(std::string(11, 'x')); }, stream, 10),
      TContainerWrite::TooBig);
  EXPECT_FALSE(stream);
  EXPECT_EQ(ReadFile(path), "old copy");
  EXPECT_FALSE(fs::exists(path + ".part"));
  // Exactly the cap is fine; the stream stays open on the new file, 0600.
  ASSERT_EQ(
      WriteContainerFile(
          path, [](qovra::TStream& s) { return s.WriteString(std::string(10, 'y')); }, stream, 10),
      TContainerWrite::Written);
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->Size(), 10);
  EXPECT_EQ(ReadFile(path), std::string(10, 'y'));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  stream.reset();
  EXPECT_TRUE(fs::exists(path));
  // A folder that cannot take the file.
  EXPECT_EQ(WriteContainerFile(
                dir_.File("none/m.emz"), [](qovra::TStream&) { return true; }, stream),
            TContainerWrite::NotCreated);
  EXPECT_EQ(kMaxContainerSize, 4294967295);
}

// Reader rows are copied in chunks of at most 8192 bytes with progress.
TEST_F(ContainerWriteTest, ReaderAttachmentCopiedInChunks) {
  std::string data(20000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  qovra::TMemoryStream original;
  {
    qovra::TMailWriter w(original);
    w.AddMailHeaders("a@x", u"s", "b@y");
    w.AddField("body", "text");
    w.AddAttachmentHeader(u"data.bin", static_cast<int64_t>(data.size()));
    w.WriteString(data);
    ASSERT_TRUE(w.Finish());
  }
  qovra::TMailReader reader(original);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
  ASSERT_EQ(reader.Attachments().size(), 1u);
  const int64_t offset = reader.Attachments()[0].DataOffset;

  struct Steps {
    std::vector<int64_t> done;
  } steps;
  auto progress = [](void* p, int64_t, int64_t done) {
    static_cast<Steps*>(p)->done.push_back(done);
  };
  qovra::TMemoryStream copy;
  {
    qovra::TMailWriter w(copy);
    w.AddMailHeaders("a@x", u"s", "b@y");
    w.AddField("body", "text");
    EXPECT_FALSE(CopyReaderAttachment(reader, offset + 1, w, &steps, progress));
    ASSERT_TRUE(CopyReaderAttachment(reader, offset, w, &steps, progress));
    ASSERT_TRUE(w.Finish());
  }
  EXPECT_EQ(steps.done, (std::vector<int64_t>{0, 8192, 16384, 20000}));
  qovra::TMailReader again(copy);
  ASSERT_TRUE(again.Parse(nullptr, nullptr)) << again.Error();
  ASSERT_EQ(again.Attachments().size(), 1u);
  EXPECT_EQ(std::u16string(again.Attachments()[0].FileName.view()), u"data.bin");
  ASSERT_TRUE(again.SeekData(again.Attachments()[0].DataOffset));
  std::string back(data.size(), '\0');
  EXPECT_EQ(again.ReadData(back.data(), back.size()), data.size());
  EXPECT_EQ(back, data);
}

}  // namespace
