// Contacts files: export, import with groups and duplicates, bad files and
// the server directory's name.
#include <chrono>
#include <fstream>

#include "address_book_fixture.h"
#include "base/cp1251.h"
#include "base/utf.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contact_tree.h"
#include "qovra/addressbook/contacts_file.h"

namespace qovra::testing {
namespace {

// The whole book as sorted lines: "group path|name,address,company,title".
std::vector<std::string> BookLines(SqliteDb& db) {
  TContactTree tree;
  TContactNode* root = AddAllGroupNode(tree);
  EXPECT_TRUE(LoadGroupNode(db, tree, *root)) << db.LastError();
  std::vector<std::string> lines;
  struct TItem {
    const TContactNode* node;
    std::string path;
  };
  std::vector<TItem> pending{{root, ""}};
  while (!pending.empty()) {
    const TItem item = pending.back();
    pending.pop_back();
    for (const auto& child : item.node->Children) {
      const TContact& r = child->Record;
      if (child->IsGroup) {
        const std::string path = item.path + "/" + Utf16ToUtf8(r.FirstName);
        lines.push_back(path);
        pending.push_back({child.get(), path});
      } else {
        lines.push_back(item.path + "|" + Utf16ToUtf8(ContactDisplayName(r)) + "," + r.Email + "," +
                        Utf16ToUtf8(r.Company) + "," + Utf16ToUtf8(r.JobTitle));
      }
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TContact Contact(std::u16string last, std::string email, std::u16string company = u"") {
  TContact c;
  c.LastName = std::move(last);
  c.Email = std::move(email);
  c.CompanyId = -1;
  c.JobTitleId = -1;
  c.Company = std::move(company);
  return c;
}

class ContactsFileTest : public AddressBookTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenTemplate()) << db_.LastError();
    SetMsg("msgUpdateContactInfoAs", "dup %s <%s> %s %s / %s <%s> %s %s");
    SetMsg("msgGroupExists", "exists %s");
    SetMsg("msgUpdateGroupNameAs", "merge %s");
  }
  int32_t Group(const std::u16string& name, int32_t parent) {
    TContact g;
    g.FirstName = name;
    g.CompanyId = parent;
    g.IsContact = false;
    EXPECT_EQ(SaveGroup(db_, g, kAbRefused), kAbStored);
    return g.Id;
  }
  int32_t Stored(TContact c, int32_t group) {
    EXPECT_EQ(SaveContact(db_, c, group, ""), kAbStored) << db_.LastError();
    return c.Id;
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir_.File(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  static std::string Book(const std::string& inner) {
    return R"(<?xml version="1.0" encoding="UTF-8" ?><addressbook>)" + inner + "</addressbook>";
  }
};

TEST_F(ContactsFileTest, ExportWritesTheFormatEscaped) {
  const int32_t work = Group(u"Work & <Co>", 0);
  const int32_t sub = Group(u"Sub", work);
  const int32_t ann = Stored(Contact(u"Ann", "ann@example.uz", u"A&B"), work);
  (void)Stored(Contact(u"Bob", "bob@example.uz"), sub);
  (void)Stored(Contact(u"Root", "root@example.uz"), 0);

  std::string text;
  ASSERT_TRUE(ExportContactsText(db_, ann, /*is_group=*/false, text));
  EXPECT_EQ(
      text,
      Book(
          R"(<contact firstname="" middlename="" lastname="Ann" email="ann@example.uz" company="A&amp;B" jobtitle=""/>)"));

  ASSERT_TRUE(ExportContactsText(db_, work, /*is_group=*/true, text));
  EXPECT_EQ(
      text,
      Book(
          R"(<group name="Work &amp; &lt;Co&gt;"><contact firstname="" middlename="" lastname="Ann" email="ann@example.uz" company="A&amp;B" jobtitle=""/>)"
          R"(<group name="Sub"><contact firstname="" middlename="" lastname="Bob" email="bob@example.uz" company="" jobtitle=""/></group></group>)"));

  // The root: its own contacts, then the top-level groups, no element.
  ASSERT_TRUE(ExportContactsText(db_, 0, /*is_group=*/true, text));
  EXPECT_EQ(text.find("<addressbook><contact"), text.find("<addressbook>"));
  EXPECT_EQ(text.find("<group name=\"All"), std::string::npos);
}

TEST_F(ContactsFileTest, ExportThenImportIntoAnEmptyBookGivesTheSameBook) {
  const int32_t work = Group(u"Work", 0);
  const int32_t sub = Group(u"Sub", work);
  (void)Group(u"Empty", sub);
  (void)Stored(Contact(u"Ann \"Q\" & <x>", "ann@example.uz", u"Acme"), work);
  (void)Stored(Contact(u"Дилноза", "dilnoza@example.uz", u"Ташкилот"), sub);
  (void)Stored(Contact(u"Root", "root@example.uz"), 0);
  const std::string path = dir_.File("all.ecx");
  ASSERT_TRUE(ExportContactsFile(db_, 0, true, path));
  const auto before = BookLines(db_);

  SqliteDb other;
  ASSERT_TRUE(
      std::filesystem::copy_file(std::string(QOVRA_BIN_DIR) + "/eca.edb", dir_.File("b.edb")));
  ASSERT_TRUE(other.Open(dir_.File("b.edb")));
  EXPECT_EQ(ImportContactsFile(other, path, 0), TImportResult::Done);
  EXPECT_TRUE(ImportChanged);
  EXPECT_EQ(BookLines(other), before);
  // A second import changes nothing and asks nothing about contacts.
  ui_->QueueAnswer(kMsgResultYes);  // merge the existing top-level group
  EXPECT_EQ(ImportContactsFile(other, path, 0), TImportResult::Done);
  EXPECT_EQ(BookLines(other), before);
  EXPECT_TRUE(ui_->dup_dialogs.empty());
}

TEST_F(ContactsFileTest, NestedGroupsAndDuplicates) {
  const int32_t work = Group(u"Work", 0);
  (void)Stored(Contact(u"Old1", "one@example.uz"), work);
  (void)Stored(Contact(u"Old2", "two@example.uz"), work);
  (void)Stored(Contact(u"Old3", "three@example.uz"), work);
  const std::string file = Write(
      "nested.ecx",
      Book(
          R"(<Group name="Work"><contact lastname="New1" email="one@example.uz"/>)"
          R"(<contact lastname="New2" email="two@example.uz"/><contact lastname="New3" email="three@example.uz"/>)"
          R"(<group name="A"><group name="B"><group name="C"><contact lastname="Deep" email="deep@example.uz"/></group></group></group></Group>)"
          R"(<CONTACT lastname="x" email="a@b.uz"/><contact lastname="Short" email="ab@c.u"/><contact lastname="Edge" Email="ed@example.uz"/>)"));
  // Merge Work; Replace the first duplicate, Skip all the rest.
  ui_->QueueAnswer(kMsgResultYes);
  ui_->QueueDupAnswer(kAbReplaced);
  ui_->QueueDupAnswer(kAbSkippedAll);
  EXPECT_EQ(ImportContactsFile(db_, file, 0), TImportResult::Done);
  EXPECT_EQ(ui_->dup_dialogs.size(), 2u);
  EXPECT_EQ(BookLines(db_), (std::vector<std::string>{
                                "/Work", "/Work/A", "/Work/A/B", "/Work/A/B/C",
                                "/Work/A/B/C|Deep,deep@example.uz,,", "/Work|New1,one@example.uz,,",
                                "/Work|Old2,two@example.uz,,", "/Work|Old3,three@example.uz,,"}));

  // A second import starts without the remembered answer: Replace all.
  ui_->QueueAnswer(kMsgResultYes);
  ui_->QueueDupAnswer(kAbReplacedAll);
  const std::string again = Write(
      "again.ecx",
      Book(
          R"(<group name="Work"><contact lastname="R2" email="two@example.uz"/><contact lastname="R3" email="three@example.uz"/></group>)"));
  EXPECT_EQ(ImportContactsFile(db_, again, 0), TImportResult::Done);
  EXPECT_EQ(ui_->dup_dialogs.size(), 3u);
  EXPECT_EQ(Int("SELECT COUNT(*) FROM eca_contacts WHERE last_name IN ('R2','R3')"), 2);
}

TEST_F(ContactsFileTest, AddressBounds) {
  const struct {
    std::string email;
    bool taken;
  } cases[] = {{"ab@cdef", true},
               {"a@cdef.uz", false},
               {"ab@cde", false},
               {std::string(32, 'u') + "@example.uz", true},
               {std::string(33, 'u') + "@example.uz", false},
               {"ab@" + std::string(64, 'd'), true},
               {"ab@" + std::string(65, 'd'), false}};
  for (const auto& c : cases) {
    const std::string file =
        Write("one.ecx", Book(R"(<contact lastname="X" email=")" + c.email + R"("/>)"));
    EXPECT_EQ(ImportContactsFile(db_, file, 0), TImportResult::Done);
    EXPECT_EQ(ContactEmailExists(db_, c.email), c.taken) << c.email;
  }
}

TEST_F(ContactsFileTest, SiblingGroupAfterANewOneIsStillAsked) {
  (void)Group(u"Old", 0);
  const std::string file = Write(
      "sib.ecx",
      Book(
          R"(<group name="New"/><group name="Old"><contact lastname="In" email="in@example.uz"/></group>)"));
  ui_->QueueAnswer(kMsgResultNo);
  EXPECT_EQ(ImportContactsFile(db_, file, 0), TImportResult::Done);
  ASSERT_EQ(ui_->messages.size(), 1u);
  EXPECT_EQ(ui_->messages[0].text, "merge Old");
  EXPECT_FALSE(ContactEmailExists(db_, "in@example.uz"));  // No skips its content
  ui_->QueueAnswer(kMsgResultYes);
  EXPECT_EQ(ImportContactsFile(db_, file, 0), TImportResult::Done);
  EXPECT_TRUE(ContactEmailExists(db_, "in@example.uz"));
}

// One row per way a file can be wrong, named after what is wrong: each is
// refused as a whole for its own reason, and the book stays as it was.
TEST_F(ContactsFileTest, BadFilesChangeNothing) {
  (void)Stored(Contact(u"Keep", "keep@example.uz"), 0);
  const auto before = BookLines(db_);
  const std::string long_value(kMaxContactsValueBytes + 1, 'x');
  using F = TContactsFileFault;
  struct TCase {
    std::string name;
    std::string text;
    TImportResult result;
    TContactsFileFault fault;
  };
  std::vector<TCase> cases = {
      {"bare_ampersand_in_value", Book(R"(<contact lastname="A & B" email="amp@example.uz"/>)"),
       TImportResult::BadFile, F::BareMarkup},
      {"ampersand_without_semicolon",
       Book(R"(<contact lastname="A &amp B" email="amp@example.uz"/>)"), TImportResult::BadFile,
       F::BareMarkup},
      {"bare_less_than_in_value", Book(R"(<contact lastname="A < B" email="lt@example.uz"/>)"),
       TImportResult::BadFile, F::BareMarkup},
      {"bare_ampersand_in_ignored_element",
       Book(R"(<contact lastname="A" email="ok@example.uz"/><note text="x & y"/>)"),
       TImportResult::BadFile, F::BareMarkup},
      {"bare_ampersand_in_text", Book(R"(<contact lastname="A" email="ok@example.uz"/>R & D)"),
       TImportResult::BadFile, F::BareMarkup},
      {"reference_to_a_control_character",
       Book(R"(<contact lastname="A&#1;" email="ok@example.uz"/>)"), TImportResult::BadFile,
       F::NotWellFormed},
      {"raw_control_character", Book("<contact lastname=\"A\x01\" email=\"ok@example.uz\"/>"),
       TImportResult::BadFile, F::NotWellFormed},
      {"value_over_the_limit",
       Book(R"(<contact lastname="A" email="ok@example.uz"/><contact lastname=")" + long_value +
            R"(" email="long@example.uz"/>)"),
       TImportResult::BadFile, F::ValueTooLong},
      {"group_name_over_the_limit", Book(R"(<group name=")" + long_value + R"("/>)"),
       TImportResult::BadFile, F::ValueTooLong},
      {"cut", Book(R"(<contact lastname="A" email="ab@example.uz"/>)").substr(0, 60),
       TImportResult::BadFile, F::NotWellFormed},
      {"root", R"(<book><contact lastname="A" email="ab@example.uz"/></book>)",
       TImportResult::BadFile, F::NotAddressBook},
      {"empty", Book(""), TImportResult::EmptyFile, F::Empty},
      {"not_utf8", Book("<contact lastname=\"\xC0\xAF\" email=\"ok@example.uz\"/>"),
       TImportResult::BadFile, F::Undecodable},
      {"unknown_encoding",
       R"(<?xml version="1.0" encoding="x-no-such-code"?><addressbook><contact lastname="A" email="ok@example.uz"/></addressbook>)",
       TImportResult::BadFile, F::UnknownEncoding},
      {"encoding_name_with_options",
       R"(<?xml version="1.0" encoding="UTF-8//IGNORE"?><addressbook><contact lastname="A" email="ok@example.uz"/></addressbook>)",
       TImportResult::BadFile, F::UnknownEncoding},
      {"utf16_declared_in_8_bits",
       R"(<?xml version="1.0" encoding="UTF-16"?><addressbook><contact lastname="A" email="ok@example.uz"/></addressbook>)",
       TImportResult::BadFile, F::Undecodable},
      {"utf16_odd_length", std::string("\xFF\xFE<\0a\0b", 7), TImportResult::BadFile,
       F::Undecodable},
      {"utf16_lone_surrogate", std::string("\xFF\xFE<\0\x00\xD8>\0", 8), TImportResult::BadFile,
       F::Undecodable},
      {"utf32", std::string("\xFF\xFE\0\0<\0\0\0", 8), TImportResult::BadFile, F::UnknownEncoding},
  };
  const auto nested = [](int depth) {
    std::string inner;
    for (int i = 0; i < depth; ++i) inner += R"(<group name="g">)";
    for (int i = 0; i < depth; ++i) inner += "</group>";
    return Book(inner);
  };
  cases.push_back({"groups_nested_too_deep", nested(kMaxContactsGroupDepth + 1),
                   TImportResult::BadFile, F::TooDeep});
  for (const auto& c : cases) {
    TImportRun run;
    EXPECT_EQ(ImportContactsFile(db_, Write(c.name + ".ecx", c.text), 0, run), c.result) << c.name;
    EXPECT_EQ(ContactsFileFaultName(run.Fault), ContactsFileFaultName(c.fault)) << c.name;
    EXPECT_FALSE(run.Detail.empty()) << c.name;
    EXPECT_FALSE(ImportChanged) << c.name;
  }
  EXPECT_EQ(BookLines(db_), before);

  // Taken as they are: an entity of the DTD is not expanded, the names of
  // the root and the elements are matched in any case, and a value at the
  // limit is stored.
  const std::string at_limit(kMaxContactsValueBytes, 'y');
  const struct {
    std::string name;
    std::string text;
  } taken[] = {
      {"entity",
       R"(<?xml version="1.0"?><!DOCTYPE addressbook [<!ENTITY x "xx@example.uz">]><addressbook><contact lastname="E" email="&x;"/></addressbook>)"},
      {"upper", R"(<AddressBook><Contact lastname="U" email="up@example.uz"/></AddressBook>)"},
      {"at_limit", Book(R"(<contact lastname=")" + at_limit + R"(" email="lim@example.uz"/>)")},
      {"nested_to_the_limit", nested(kMaxContactsGroupDepth)},
  };
  for (const auto& c : taken) {
    TImportRun run;
    EXPECT_EQ(ImportContactsFile(db_, Write(c.name + ".ecx", c.text), 0, run), TImportResult::Done)
        << c.name << ": " << run.Detail;
  }
  EXPECT_FALSE(ContactEmailExists(db_, "xx@example.uz"));  // the entity is not expanded
  EXPECT_TRUE(ContactEmailExists(db_, "up@example.uz"));
  EXPECT_EQ(Text("SELECT last_name FROM eca_contacts WHERE email='lim@example.uz'"), at_limit);
  EXPECT_EQ(Int("SELECT COUNT(*) FROM eca_groups WHERE name='g'"), kMaxContactsGroupDepth);
  EXPECT_EQ(ImportContactsFile(db_, dir_.File("none.ecx"), 0), TImportResult::NoFile);

  // Over 64 MiB: refused before it is read.
  const std::string big = dir_.File("big.ecx");
  {
    std::ofstream out(big, std::ios::binary);
    out << Book("");
  }
  std::filesystem::resize_file(big, static_cast<uintmax_t>(kMaxContactsFileSize) + 1);
  TImportRun run;
  EXPECT_EQ(ImportContactsFile(db_, big, 0, run), TImportResult::TooLarge);
  EXPECT_EQ(run.Fault, TContactsFileFault::TooLarge);
  EXPECT_EQ(ImportResultMessage(TImportResult::TooLarge), "msgContactsFileTooLarge");
  EXPECT_EQ(ImportResultMessage(TImportResult::BadFile), "msgIncorrectQovraContactsFile");
}

// UTF-16 with either byte order, with and without its mark.
std::string Utf16Bytes(std::string_view utf8, bool big_endian, bool mark) {
  std::string out = mark ? (big_endian ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (const char16_t u : Utf8ToUtf16(utf8)) {
    const char hi = static_cast<char>(u >> 8);
    const char lo = static_cast<char>(u & 0xFF);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  }
  return out;
}

// A file is read in the encoding it declares, Cyrillic names intact.
TEST_F(ContactsFileTest, FilesAreReadInTheirEncoding) {
  const std::string name = "Иванов";  // UTF-8
  const auto file = [&](std::string_view encoding, std::string_view name_bytes) {
    return R"(<?xml version="1.0" encoding=")" + std::string(encoding) +
           R"(" ?><addressbook><contact lastname=")" + std::string(name_bytes) +
           R"(" firstname="&#1040;&#x411;" email="ivan@example.uz" company="&amp;Co"/></addressbook>)";
  };
  const std::string utf16_text = file("UTF-16", name);
  const struct {
    std::string label;
    std::string bytes;
  } cases[] = {
      {"windows-1251", file("windows-1251", Utf8ToCp1251(name))},
      {"cp1251 in capitals", file("CP1251", Utf8ToCp1251(name))},
      // Иванов in KOI8-R, read through iconv
      {"koi8-r", file("KOI8-R", "\xE9\xD7\xC1\xCE\xCF\xD7")},
      {"utf-8 declared", file("UTF-8", name)},
      {"utf-8 with its mark", "\xEF\xBB\xBF" + file("windows-1251", name)},
      {"utf-16 little-endian with its mark", Utf16Bytes(utf16_text, false, true)},
      {"utf-16 big-endian with its mark", Utf16Bytes(utf16_text, true, true)},
      {"utf-16 little-endian without a mark", Utf16Bytes(utf16_text, false, false)},
      {"no declaration",
       Book(R"(<contact lastname=")" + name +
            R"(" firstname="&#1040;&#x411;" email="ivan@example.uz" company="&amp;Co"/>)")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(db_.Exec("DELETE FROM eca_contacts; DELETE FROM eca_group_contacts"));
    TImportRun run;
    ASSERT_EQ(ImportContactsFile(db_, Write("enc.ecx", c.bytes), 0, run), TImportResult::Done)
        << run.Detail;
    EXPECT_EQ(BookLines(db_), std::vector<std::string>{"|Иванов АБ,ivan@example.uz,&Co,"});
  }
}

TEST_F(ContactsFileTest, DirectoryNames) {
  EXPECT_EQ(DirectoryUrl("127.0.0.1:8080", 1), "http://127.0.0.1:8080/client/contacts_ru.ecx");
  EXPECT_EQ(DirectoryUrl("srv", 0), "http://srv/client/contacts_uzc.ecx");
  EXPECT_EQ(DirectoryFileName(2), "contacts_ru.ecx");
}

}  // namespace
}  // namespace qovra::testing
