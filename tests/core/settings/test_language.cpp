// Loading language files into the message table, the parsed-file cache and
// the entries that windows take their texts from.
#include <gtest/gtest.h>

#include <filesystem>
#include <pugixml.hpp>
#include <string>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "support/scratch_dir.h"

namespace qovra {
namespace {

using testing::ScratchDir;

std::string LangFile(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<language>\n" + body + "\n</language>\n";
}

class Language : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    std::filesystem::create_directories(dir_.File("lang"));
    saved_dir_ = ProgramDir;
    ProgramDir = dir_.path() + "/";
    Options = TOptions{};
    ClearMsgTable();
    ClearLanguageCache();
  }
  void TearDown() override {
    ProgramDir = saved_dir_;
    Options = TOptions{};
    ClearMsgTable();
    ClearLanguageCache();
  }
  void CopyShippedFiles() {
    for (const char* name : {"lang.uzc.xml", "lang.ru.xml"}) {
      std::filesystem::copy_file(std::string(QOVRA_LANG_DIR) + "/" + name,
                                 dir_.File(std::string("lang/") + name));
    }
  }
  void WriteLang(const char* code, const std::string& body) {
    dir_.Write(std::string("lang/lang.") + code + ".xml", LangFile(body));
  }

  ScratchDir dir_;
  std::string saved_dir_;
};

// The text of a message as the shipped file holds it, read on its own.
std::string ShippedText(const char* file, const char* key) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_file((std::string(QOVRA_LANG_DIR) + "/" + file).c_str()));
  return doc.document_element().child("Messages").child(key).child_value();
}

TEST_F(Language, ShippedFilesFillTheTableAndLangid2LeavesKeyTexts) {
  CopyShippedFiles();
  struct Case {
    int langid;
    const char* file;  // null: no file
  } const cases[] = {{0, "lang.uzc.xml"}, {1, "lang.ru.xml"}, {2, nullptr}};
  for (const Case& c : cases) {
    ClearMsgTable();
    Options.langid = c.langid;
    ApplyLanguageMessages();
    for (const char* key : {"msgConnectionError", "btnYes", "msgServerError12"}) {
      if (c.file) {
        const std::string text = ShippedText(c.file, key);
        ASSERT_FALSE(text.empty()) << key;
        EXPECT_EQ(GetMsg(key), text) << c.langid << " " << key;
      }
    }
    if (!c.file) {
      EXPECT_EQ(GetMsg("msgConnectionError"), "Connection error");
      EXPECT_EQ(GetMsg("btnYes"), "Yes");
      EXPECT_EQ(GetMsg("msgServerError12"), "Server error 12");
      EXPECT_EQ(CurrentLanguageFile(), nullptr);
    }
  }
  EXPECT_EQ(LanguageFilePath(0), dir_.path() + "/lang/lang.uzc.xml");
  EXPECT_EQ(LanguageFilePath(1), dir_.path() + "/lang/lang.ru.xml");
  EXPECT_EQ(LanguageFilePath(5), "");
}

TEST_F(Language, AnotherFileReplacesTheWholeTable) {
  WriteLang("uzc",
            "<Messages><msgOnlyUz>uz</msgOnlyUz><msgShared>s-uz</msgShared>"
            "<msgEmpty></msgEmpty></Messages>");
  WriteLang("ru", "<Messages><msgShared>s-ru</msgShared></Messages>");
  Options.langid = 0;
  ApplyLanguageMessages();
  EXPECT_EQ(GetMsg("msgOnlyUz"), "uz");
  EXPECT_EQ(GetMsg("msgEmpty"), "");  // present and empty: empty

  Options.langid = 1;
  ApplyLanguageMessages();
  EXPECT_EQ(GetMsg("msgShared"), "s-ru");
  EXPECT_EQ(GetMsg("msgOnlyUz"), "Only uz");  // gone with the old table

  // Two Messages elements: the last one in file order holds, whole.
  WriteLang("ru",
            "<Messages><msgFirst>1</msgFirst><msgShared>first</msgShared></Messages>"
            "<TfrmMain/><Messages><msgShared>last</msgShared></Messages>");
  ClearLanguageCache();
  ApplyLanguageMessages();
  EXPECT_EQ(GetMsg("msgShared"), "last");
  EXPECT_EQ(GetMsg("msgFirst"), "First");
}

TEST_F(Language, MissingOrMalformedFilesChangeNothing) {
  SetMsg("msgKept", "kept");
  Options.langid = 1;  // no file at all
  ApplyLanguageMessages();
  EXPECT_EQ(GetMsg("msgKept"), "kept");

  dir_.Write("lang/lang.ru.xml", "<language><Messages><msgX>x</Messages>");
  ApplyLanguageMessages();
  EXPECT_EQ(GetMsg("msgKept"), "kept");
  EXPECT_EQ(CurrentLanguageFile(), nullptr);

  WriteLang("ru", "<TfrmMain><lblA>a</lblA></TfrmMain>");  // no Messages element
  ApplyLanguageMessages();
  EXPECT_EQ(GetMsg("msgKept"), "kept");
}

TEST_F(Language, CacheParsesAFileOnceUntilItChanges) {
  WriteLang("ru", "<Messages><msgA>one</msgA></Messages>");
  Options.langid = 1;
  const auto first = CurrentLanguageFile();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(CurrentLanguageFile(), first);

  WriteLang("ru", "<Messages><msgA>changed</msgA></Messages>");
  const auto second = CurrentLanguageFile();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  ApplyLanguageMessages(second.get());
  EXPECT_EQ(GetMsg("msgA"), "changed");
}

TEST_F(Language, EntriesOfAWindowClass) {
  TLanguageFile file;
  ASSERT_TRUE(file.Parse(LangFile(R"(
  <TfrmMain>
    <Caption>Main &amp; more</Caption>
    <lblName hint="Name hint">Name</lblName>
    <cbKind>Ignored<item>One</item><item>Two</item></cbKind>
  </TfrmMain>
  <Other><x>y</x></Other>
  <TFRMMAIN><btnOk hint="">OK</btnOk></TFRMMAIN>
  <Messages><msgA>A</msgA><msgB>B &#1202;</msgB></Messages>)")));

  const auto& e = file.Entries("tfrmmain");
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].name, "Caption");
  EXPECT_EQ(e[0].text, "Main & more");
  EXPECT_EQ(e[1].name, "lblName");
  EXPECT_TRUE(e[1].has_hint);
  EXPECT_EQ(e[1].hint, "Name hint");
  EXPECT_EQ(e[2].text, "Ignored");
  EXPECT_EQ(e[2].items, (std::vector<std::string>{"One", "Two"}));
  EXPECT_EQ(e[3].name, "btnOk");  // a repeated class element adds its entries
  EXPECT_TRUE(e[3].has_hint);
  EXPECT_TRUE(e[3].hint.empty());
  EXPECT_FALSE(e[0].has_hint);
  EXPECT_TRUE(file.Entries("TfrmAbout").empty());

  ASSERT_TRUE(file.HasMessages());
  ASSERT_EQ(file.Messages().size(), 2u);
  EXPECT_EQ(file.Messages()[1].second, "B \u04B2");
}

TEST_F(Language, NoDtdIsRead) {
  TLanguageFile file;
  ASSERT_TRUE(
      file.Parse("<!DOCTYPE language [<!ENTITY x \"EXPANDED\"><!ENTITY e SYSTEM \"/etc/passwd\">]>"
                 "<language><Messages><msgA>&x;&e;</msgA></Messages></language>"));
  ASSERT_EQ(file.Messages().size(), 1u);
  EXPECT_EQ(file.Messages()[0].second, "&x;&e;");
}

TEST_F(Language, WrongPlaceholdersInATextNeverCrash) {
  WriteLang("ru",
            "<Messages><msgUnreachableHost>%d %q %s %s %</msgUnreachableHost>"
            "<msgNewMailNotice>%s</msgNewMailNotice></Messages>");
  Options.langid = 1;
  ApplyLanguageMessages();
  const std::string host = FormatMsgArgs(GetMsg("msgUnreachableHost"), "mail.uz");
  EXPECT_NE(host.find("%!d(text=mail.uz)"), std::string::npos) << host;
  EXPECT_NE(host.find("%!s(missing)"), std::string::npos) << host;
  EXPECT_EQ(FormatMsgArgs(GetMsg("msgNewMailNotice"), 3), "%!s(number=3)");
}

}  // namespace
}  // namespace qovra
