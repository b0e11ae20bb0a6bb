// The contacts book window on a real eca.edb: a scripted session whose
// every step leaves the tree equal to a fresh load of the book, drops,
// search, delete, copy and the recipients of the selection.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <functional>

#include "address_book_fixture.h"
#include "platform/temp_files.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contact_dialogs.h"
#include "qovra/addressbook/contacts_file.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "qovra/ui/widgets.h"
#include "support/exchange_server.h"
#include "support/http_clients.h"
#include "support/scoped_env.h"

namespace qovra::testing {
namespace {

using addressbook::TAddrBookModel;

// Every row as "path|name,address,company,title", sorted.
std::vector<std::string> ModelLines(TAddrBookModel& model) {
  std::vector<std::string> lines;
  for (TContactNode* n = model.Tree().First(); n; n = TContactTree::Next(n)) {
    std::string path;
    for (const TContactNode* p = n->Parent; p && p->Parent; p = p->Parent)
      path = "/" + TAddrBookModel::CellText(*p, 0).toStdString() + path;
    std::string line = path + "|";
    for (int c = 0; c < 4; ++c) line += TAddrBookModel::CellText(*n, c).toStdString() + ",";
    lines.push_back(line + (n->IsGroup ? "g" : "c"));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

class AddrBookWindowTest : public AddressBookTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenTemplate()) << db_.LastError();
    SetMsg("msgAll", "All");
    SetMsg("msgUpdateContactInfoAs", "dup %s <%s> %s %s / %s <%s> %s %s");
    SetMsg("msgGroupExists", "exists %s");
    SetMsg("msgAddrBookDatabaseError", "db error");
    SetMsg("msgContactsImportFailed", "import failed");
    SetMsg("msgConfirmDeleteContact", "Confirm delete contact");
    SetMsg("msgConfirmDeleteContacts", "Confirm delete contacts");
    work_ = Group(u"Work", 0);
    home_ = Group(u"Home", 0);
    deep_ = Group(u"Deep", work_);
    ann_ = Stored(u"Ann", "ann@example.uz", work_);
    (void)Stored(u"Other Ann", "ann@example.uz", home_);
    both_ = Stored(u"Both", "both@example.uz", home_);
    ASSERT_TRUE(LinkContact(db_, deep_, both_));
    (void)Stored(u"Zed", "zed@example.uz", deep_);
    book_ = std::make_unique<TfrmAddrBook>(db_);
    tester_ = std::make_unique<QAbstractItemModelTester>(
        book_->Model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    book_->Prepare();
  }
  int32_t Group(const std::u16string& name, int32_t parent) {
    TContact g;
    g.FirstName = name;
    g.CompanyId = parent;
    g.IsContact = false;
    EXPECT_EQ(SaveGroup(db_, g, kAbRefused), kAbStored);
    return g.Id;
  }
  int32_t Stored(const std::u16string& last, const std::string& email, int32_t group) {
    TContact c;
    c.LastName = last;
    c.Email = email;
    c.CompanyId = -1;
    c.JobTitleId = -1;
    EXPECT_EQ(SaveContact(db_, c, group, ""), kAbStored) << db_.LastError();
    return c.Id;
  }
  // The window's tree equals a fresh load of the book.
  void ExpectSameAsReload(const char* step) {
    TAddrBookModel fresh;
    ASSERT_TRUE(fresh.Reload(db_));
    EXPECT_EQ(ModelLines(*book_->Model()), ModelLines(fresh)) << step;
  }
  TContactNode* Find(const std::string& name, const TContactNode* under = nullptr) {
    for (TContactNode* n = book_->Model()->Tree().First(); n; n = TContactTree::Next(n)) {
      if (TAddrBookModel::CellText(*n, 0).toStdString() != name) continue;
      if (!under || n->Parent == under) return n;
    }
    return nullptr;
  }
  // The next edit dialog gets these texts and OK.
  void AnswerContact(const QString& name, const QString& email, const QString& company = {}) {
    book_->RunDialog = [=](QDialog& d) {
      auto& c = static_cast<TfrmNewAddr&>(d);
      c.eName->setText(name);
      c.eEmail->setText(email);
      c.cbCompany->setEditText(company);
      return 1;
    };
  }
  // A contact in no group, as an old book or a repair leaves it.
  void Unlinked(const std::string& last, const std::string& email) {
    ASSERT_TRUE(db_.Exec("INSERT INTO eca_contacts (last_name,email) VALUES ('" + last + "','" +
                         email + "')"))
        << db_.LastError();
  }
  // The messages shown so far other than the delete's question.
  std::vector<std::string> Messages() {
    std::vector<std::string> texts;
    for (const MessageCall& m : ui_->messages)
      if (m.text.rfind("Confirm", 0) != 0) texts.push_back(m.text);
    return texts;
  }
  void Select(std::initializer_list<TContactNode*> nodes) {
    auto* sel = book_->vstAddrBook->selectionModel();
    sel->clearSelection();
    for (TContactNode* n : nodes)
      sel->select(book_->Model()->IndexOf(n),
                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  int32_t work_ = 0, home_ = 0, deep_ = 0, ann_ = 0, both_ = 0;
  std::unique_ptr<TfrmAddrBook> book_;
  std::unique_ptr<QAbstractItemModelTester> tester_;
};

TEST_F(AddrBookWindowTest, ScriptedSessionEqualsReloadAfterEveryStep) {
  ExpectSameAsReload("open");
  // Groups come before contacts; the root is expanded and focused.
  const TContactNode* root = book_->Model()->Tree().First();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(book_->FocusedNode(), root);
  EXPECT_TRUE(root->Children.front()->IsGroup);

  // New contact: four words, the last two the middle name.
  book_->FocusRow(Find("Home"), 0);
  AnswerContact(QStringLiteral("Ivanov Ivan Ivan Jr"), QStringLiteral("ivan@example.uz"),
                QStringLiteral("Acme"));
  book_->acContactNewExecute();
  EXPECT_EQ(Text("SELECT middle_name FROM eca_contacts WHERE email='ivan@example.uz'"), "Ivan Jr");
  ASSERT_NE(Find("Ivanov Ivan Ivan Jr"), nullptr);
  ExpectSameAsReload("new contact");

  // A new contact cancelled or left empty disappears.
  for (int result : {2, 1}) {
    book_->RunDialog = [result](QDialog&) { return result; };
    book_->acContactNewExecute();
    ExpectSameAsReload("new contact dropped");
  }

  // New group.
  book_->RunDialog = [](QDialog& d) {
    static_cast<TfrmNewGroup&>(d).eName->setText(QStringLiteral("Friends"));
    return 1;
  };
  book_->FocusRow(Find("Work"), 0);
  book_->acContactsNewGroupExecute();
  ASSERT_NE(Find("Friends"), nullptr);
  ExpectSameAsReload("new group");
  // A group of an existing name is refused and its row goes.
  book_->FocusRow(Find("Work"), 0);
  book_->acContactsNewGroupExecute();
  EXPECT_EQ(Int("SELECT COUNT(*) FROM eca_groups WHERE name='Friends'"), 1);
  ExpectSameAsReload("existing group");

  // Edit: a contact linked to two groups changes in both rows.
  book_->FocusRow(Find("Both"), 2);
  AnswerContact(QStringLiteral("Both"), QStringLiteral("both@example.uz"), QStringLiteral("NewCo"));
  book_->acContactEditExecute();
  ExpectSameAsReload("edit");

  // Duplicate in the group answered each way.
  for (int answer : {kAbSkipped, kAbSkippedAll, kAbRefused, kAbReplaced}) {
    DupChoice = 0;
    ui_->QueueDupAnswer(answer);
    book_->FocusRow(Find("Work"), 0);
    AnswerContact(QStringLiteral("Ann New") + QString::number(answer),
                  QStringLiteral("ann@example.uz"));
    book_->acContactNewExecute();
    ExpectSameAsReload("duplicate");
  }
  EXPECT_NE(Find("Ann New50"), nullptr);

  // Drag a contact into a group that has its duplicate: Replace.
  DupChoice = 0;
  ui_->QueueDupAnswer(kAbReplaced);
  book_->FocusRow(Find("Other Ann"), 0);
  EXPECT_TRUE(book_->CanDrop(Find("Work")));
  book_->DragDrop(Find("Work"));
  ExpectSameAsReload("drag with duplicate");
  EXPECT_EQ(Int("SELECT COUNT(*) FROM eca_contacts WHERE email='ann@example.uz'"), 1);

  // A group into another.
  book_->FocusRow(Find("Friends"), 0);
  book_->DragDrop(Find("Home"));
  ExpectSameAsReload("drag group");

  // Delete a group whose contact is linked elsewhere, with that contact
  // also selected: it is deleted once and no row of it remains.
  ui_->QueueAnswer(kMsgResultYes);
  TContactNode* deep = Find("Deep");
  Select({deep, Find("Both", deep)});
  book_->acContactDeleteExecute();
  EXPECT_EQ(Find("Both"), nullptr);
  EXPECT_EQ(Find("Zed"), nullptr);
  ExpectSameAsReload("delete");

  // Delete the root: the contacts in no group stay.
  (void)Stored(u"Loose", "loose@example.uz", 0);
  ASSERT_TRUE(Int("SELECT COUNT(*) FROM eca_group_contacts WHERE contact_id=(SELECT id FROM "
                  "eca_contacts WHERE email='loose@example.uz')") >= 0);
  book_->Prepare();
  ui_->QueueAnswer(kMsgResultYes);
  Select({book_->Model()->Tree().First()});
  book_->acContactDeleteExecute();
  ExpectSameAsReload("delete root");
  EXPECT_NE(book_->Model()->Tree().First(), nullptr);
}

TEST_F(AddrBookWindowTest, DropsAreRefusedOnParentSelfDescendantAndContacts) {
  book_->FocusRow(Find("Zed"), 0);
  EXPECT_FALSE(book_->CanDrop(Find("Deep")));  // its own group
  EXPECT_FALSE(book_->CanDrop(Find("Ann")));   // a contact
  EXPECT_TRUE(book_->CanDrop(Find("Home")));
  book_->FocusRow(Find("Work"), 0);
  EXPECT_FALSE(book_->CanDrop(Find("Deep")));  // its own subgroup
  EXPECT_FALSE(book_->CanDrop(Find("Work")));
  book_->FocusRow(book_->Model()->Tree().First(), 0);
  EXPECT_FALSE(book_->CanDrop(Find("Home")));  // the root stays
  // Skip leaves both trees and the book unchanged.
  DupChoice = 0;
  ui_->QueueDupAnswer(kAbSkipped);
  book_->FocusRow(Find("Other Ann"), 0);
  book_->DragDrop(Find("Work"));
  EXPECT_NE(Find("Other Ann"), nullptr);
  ExpectSameAsReload("skipped drop");
}

TEST_F(AddrBookWindowTest, SearchOpensCollapsedGroupsAndStepsWithWrapAround) {
  QTreeView* tree = book_->vstAddrBook;
  tree->collapseAll();
  book_->acContactFindExecute();
  QLineEdit* edit = book_->frameSearchEdit1->eSearch();
  edit->setText(QStringLiteral("zed"));
  TContactNode* zed = Find("Zed");
  EXPECT_EQ(book_->FocusedNode(), zed);
  EXPECT_TRUE(tree->isExpanded(book_->Model()->IndexOf(zed->Parent)));
  // By address, focused in the address column.
  edit->setText(QStringLiteral("both@"));
  EXPECT_EQ(book_->vstAddrBook->currentIndex().column(), 1);
  // Enter steps through every hit and wraps to the first.
  edit->setText(QStringLiteral("ann"));
  std::vector<TContactNode*> hits{book_->FocusedNode()};
  for (int i = 0; i < 3; ++i) {
    QTest::keyClick(edit, Qt::Key_Return);
    hits.push_back(book_->FocusedNode());
  }
  EXPECT_NE(hits[0], hits[1]);
  EXPECT_EQ(hits[2], hits[0]);
  EXPECT_EQ(hits[3], hits[1]);
}

TEST_F(AddrBookWindowTest, RecipientsCopyAndNewMail) {
  (void)Stored(u"Ann Upper", "ANN@example.uz", deep_);
  book_->Prepare();
  Select({Find("Work"), Find("Other Ann")});
  int kind = -1;
  QString to;
  book_->OnNewMail = [&](int k, const QString& r) {
    kind = k;
    to = r;
  };
  book_->acContactComposeMailVoice->trigger();
  EXPECT_EQ(kind, 1);
  // Work's contacts, depth first, then the selected contact; one per address.
  EXPECT_EQ(to,
            QStringLiteral("Ann <ann@example.uz>, Both <both@example.uz>, Zed <zed@example.uz>"));

  book_->FocusRow(Find("Zed"), 0);
  book_->mnuCopyToClipboardClick();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Zed <zed@example.uz>"));
}

TEST_F(AddrBookWindowTest, ImportRebuildsTheTargetGroup) {
  const std::string file = dir_.File("in.ecx");
  std::ofstream(file)
      << R"(<addressbook><group name="G"><group name="H"><contact lastname="Imp" email="imp@example.uz"/></group></group></addressbook>)";
  book_->FocusRow(Find("Home"), 0);
  book_->ImportFromFile(file);
  ASSERT_NE(Find("Imp"), nullptr);
  EXPECT_TRUE(book_->vstAddrBook->isExpanded(book_->Model()->IndexOf(Find("H"))));
  ExpectSameAsReload("import");
  // Exporting Home and importing it into an empty root gives it again.
  const std::string out = dir_.File("home.ecx");
  Select({Find("Home")});
  ASSERT_TRUE(book_->ExportTo(out));
  EXPECT_NE(ReadTextFile(out).find(R"(<group name="Home"><contact)"), std::string::npos);
}

// The server directory from the local exchange server, in the interface
// language, imported into the focused group; a missing directory imports
// nothing and says so, and no temporary file stays behind either way.
TEST_F(AddrBookWindowTest, ServerDirectoryFromTheExchangeServer) {
  qovra_test::ScopedProxyEnv env;
  qovra_test::ExchangeServer server;
  ASSERT_TRUE(server.Start()) << server.error();
  const std::filesystem::path client = std::filesystem::path(server.DataDir()) / "client";
  std::filesystem::create_directories(client);
  // A directory of a megabyte (most of it a comment), so that the download
  // takes many blocks.
  const std::string directory =
      R"(<?xml version="1.0" encoding="UTF-8" ?><!--)" + std::string(1 << 20, 'x') +
      R"(--><addressbook><group name="Staff">)"
      R"(<contact firstname="Olga" lastname="Petrova" email="olga@localhost"/></group></addressbook>)";
  std::ofstream(client / "contacts_ru.ecx") << directory;
  const TOptions saved = Options;
  Options.Conn.srvaddr = server.Origin().substr(std::string("http://").size());
  SetTempFolder(dir_.File("tmp") + "/");
  std::filesystem::create_directories(dir_.File("tmp"));
  SetMsg("msgCouldNotConnectToServer", "no server");
  for (int client_kind : {0, 2}) {
    SCOPED_TRACE(client_kind);
    Options.Conn.useiewc = static_cast<uint8_t>(client_kind);
    Options.langid = 0;  // contacts_uzc.ecx: not there
    ui_->messages.clear();
    const int64_t contacts = Int("SELECT COUNT(*) FROM eca_contacts");
    book_->acContactsImportFromWebExecute();
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].text, "no server");
    EXPECT_EQ(Int("SELECT COUNT(*) FROM eca_contacts"), contacts);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.File("tmp")));

    Options.langid = 1;
    ui_->QueueAnswer(kMsgResultYes);  // the second time: merge Staff
    book_->FocusRow(Find("Home"), 0);
    ui_->progress.clear();
    book_->acContactsImportFromWebExecute();
    // Both clients move the bar as the blocks come in.
    std::vector<int64_t> moves;
    for (const ProgressEvent& e : ui_->progress)
      if (e.kind == ProgressEvent::Kind::Report &&
          e.total == static_cast<int64_t>(directory.size()))
        moves.push_back(e.done);
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.front(), 0);
    EXPECT_EQ(moves.back(), static_cast<int64_t>(directory.size()));
    EXPECT_GE(moves.size(), 16u);
    ASSERT_NE(Find("Petrova Olga"), nullptr);
    EXPECT_EQ(Find("Petrova Olga")->Parent, Find("Staff"));
    EXPECT_EQ(Find("Staff")->Parent, Find("Home"));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.File("tmp")));
    ExpectSameAsReload("directory");
  }
  SetTempFolder("");
  Options = saved;
}

// The search line remembers its last hit; each way of taking rows away
// (deleting the root, dropping a contact onto a group that already holds
// it, Replace in the duplicate dialog) frees that row, and the next Enter
// starts from the top again. Run under the sanitizers, a hit that outlived
// its row is a use after free.
struct TRemovalCase {
  const char* name;
  const char* text;    // typed into the search line
  const char* hit;     // Enter is pressed until this row is the hit
  const char* expect;  // the row Enter finds after the removal
  const char* parent;  // its group
  int column;          // the column it is focused in
};

class SearchAfterRemovalTest : public AddrBookWindowTest,
                               public ::testing::WithParamInterface<TRemovalCase> {};

TEST_P(SearchAfterRemovalTest, EnterFindsFromTheTop) {
  const TRemovalCase& c = GetParam();
  const std::string name = c.name;
  if (name == "root deleted") {
    Unlinked("Loose", "loose@example.uz");
    book_->Prepare();
  }
  book_->acContactFindExecute();
  QLineEdit* edit = book_->frameSearchEdit1->eSearch();
  edit->setText(QString::fromUtf8(c.text));
  for (int i = 0;
       i < 8 && TAddrBookModel::CellText(*book_->FocusedNode(), 0) != QString::fromUtf8(c.hit); ++i)
    QTest::keyClick(edit, Qt::Key_Return);
  ASSERT_EQ(TAddrBookModel::CellText(*book_->FocusedNode(), 0), QString::fromUtf8(c.hit));
  const TContactNode* hit = book_->FocusedNode();

  if (name == "root deleted") {
    ui_->QueueAnswer(kMsgResultYes);
    Select({book_->Model()->Tree().First()});
    book_->acContactDeleteExecute();
  } else if (name == "dropped where it is") {
    book_->FocusRow(const_cast<TContactNode*>(hit), 0);
    book_->DragDrop(Find("Deep"));
    EXPECT_EQ(Find("Both", Find("Home")), nullptr);
  } else {
    ui_->QueueDupAnswer(kAbReplaced);
    book_->FocusRow(Find("Work"), 0);
    AnswerContact(QStringLiteral("Newer Ann"), QStringLiteral("ann@example.uz"));
    book_->acContactNewExecute();
    EXPECT_EQ(Find("Ann", Find("Work")), nullptr);
  }
  ExpectSameAsReload(c.name);

  QTest::keyClick(edit, Qt::Key_Return);
  const TContactNode* parent =
      std::string(c.parent).empty() ? book_->Model()->Tree().First() : Find(c.parent);
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(book_->FocusedNode(), Find(c.expect, parent));
  EXPECT_EQ(book_->vstAddrBook->currentIndex().column(), c.column);
}

INSTANTIATE_TEST_SUITE_P(
    ThreeRemovals, SearchAfterRemovalTest,
    ::testing::Values(TRemovalCase{"root deleted", "o", "Home", "Loose", "", 0},
                      TRemovalCase{"dropped where it is", "both", "Both", "Both", "Deep", 0},
                      TRemovalCase{"replaced", "ann@", "Ann", "Other Ann", "Home", 1}),
    [](const ::testing::TestParamInfo<TRemovalCase>& param) {
      std::string name = param.param.name;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

// Every change refused by the database is rolled back whole, reported in
// the user's language, and leaves the tree equal to the book.
TEST_F(AddrBookWindowTest, RefusedWritesAreShownAndTheTreeKeepsTheBook) {
  const std::string file = dir_.File("in.ecx");
  std::ofstream(file)
      << R"(<addressbook><contact lastname="Imp" email="imp@example.uz"/></addressbook>)";
  const struct {
    const char* name;
    const char* message;
    std::function<void()> act;
  } steps[] = {
      {"new contact", "db error",
       [&] {
         book_->FocusRow(Find("Home"), 0);
         AnswerContact(QStringLiteral("Newman"), QStringLiteral("new@example.uz"));
         book_->acContactNewExecute();
       }},
      {"new group", "db error",
       [&] {
         book_->RunDialog = [](QDialog& d) {
           static_cast<TfrmNewGroup&>(d).eName->setText(QStringLiteral("Friends"));
           return 1;
         };
         book_->FocusRow(Find("Work"), 0);
         book_->acContactsNewGroupExecute();
       }},
      {"renamed group", "db error",
       [&] {
         book_->RunDialog = [](QDialog& d) {
           static_cast<TfrmNewGroup&>(d).eName->setText(QStringLiteral("Deeper"));
           return 1;
         };
         book_->FocusRow(Find("Deep"), 0);
         book_->acContactEditExecute();
       }},
      {"edited contact", "db error",
       [&] {
         book_->FocusRow(Find("Both", Find("Home")), 2);
         AnswerContact(QStringLiteral("Both"), QStringLiteral("both@example.uz"),
                       QStringLiteral("NewCo"));
         book_->acContactEditExecute();
       }},
      {"dropped contact", "db error",
       [&] {
         book_->FocusRow(Find("Zed"), 0);
         book_->DragDrop(Find("Home"));
       }},
      {"dropped group", "db error",
       [&] {
         book_->FocusRow(Find("Deep"), 0);
         book_->DragDrop(Find("Home"));
       }},
      {"deleted contact", "db error",
       [&] {
         ui_->QueueAnswer(kMsgResultYes);
         Select({Find("Ann")});
         book_->acContactDeleteExecute();
       }},
      {"deleted root", "db error",
       [&] {
         ui_->QueueAnswer(kMsgResultYes);
         Select({book_->Model()->Tree().First()});
         book_->acContactDeleteExecute();
       }},
      {"import", "import failed",
       [&] {
         book_->FocusRow(Find("Home"), 0);
         book_->ImportFromFile(file);
       }},
  };
  const auto before = ModelLines(*book_->Model());
  ASSERT_TRUE(db_.Exec("PRAGMA query_only=1"));
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    ui_->messages.clear();
    step.act();
    EXPECT_EQ(Messages(), std::vector<std::string>{step.message});
    ExpectSameAsReload(step.name);
    EXPECT_EQ(ModelLines(*book_->Model()), before);
  }
  ASSERT_TRUE(db_.Exec("PRAGMA query_only=0"));

  // A delete refused half-way keeps what it had deleted before.
  ASSERT_TRUE(
      db_.Exec("CREATE TRIGGER refuse BEFORE DELETE ON eca_contacts WHEN "
               "OLD.email='zed@example.uz' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
  ui_->messages.clear();
  ui_->QueueAnswer(kMsgResultYes);
  Select({Find("Ann"), Find("Zed")});
  book_->acContactDeleteExecute();
  EXPECT_EQ(Messages(), std::vector<std::string>{"db error"});
  EXPECT_NE(Find("Ann"), nullptr);
  ExpectSameAsReload("delete refused half-way");

  // The repair of an old book that cannot be written: said once, though
  // the tree cannot load without it either.
  SqliteDb old;
  const std::string script = ReadTextFile(std::string(QOVRA_ADDRBOOK_FIXTURES) + "/eca_old.sql");
  ASSERT_TRUE(old.Open(dir_.File("old.edb"), /*create=*/true) && old.Exec(script));
  ASSERT_TRUE(old.Exec("PRAGMA query_only=1"));
  ui_->messages.clear();
  TfrmAddrBook old_book(old);
  old_book.Prepare();
  EXPECT_EQ(Messages(), std::vector<std::string>{"db error"});
  TAddrBookModel fresh;
  (void)fresh.Reload(old);
  EXPECT_EQ(ModelLines(*old_book.Model()), ModelLines(fresh));
}

// Replace while editing a stored contact: only the duplicate's row in the
// edited row's group goes; its rows elsewhere show the new values, and the
// edited contact's own record, which stays in the book, keeps its row.
TEST_F(AddrBookWindowTest, ReplaceWhileEditingKeepsTheDuplicatesOtherRows) {
  (void)Stored(u"Cee", "cee@example.uz", home_);
  book_->Prepare();
  DupChoice = 0;
  ui_->QueueDupAnswer(kAbReplaced);
  book_->FocusRow(Find("Cee", Find("Home")), 1);
  AnswerContact(QStringLiteral("Cee"), QStringLiteral("both@example.uz"), QStringLiteral("Acme"));
  book_->acContactEditExecute();
  ASSERT_EQ(ui_->dup_dialogs.size(), 1u);
  const TContactNode* deep_row = Find("Cee", Find("Deep"));
  ASSERT_NE(deep_row, nullptr);
  EXPECT_EQ(deep_row->Record.Email, "both@example.uz");
  EXPECT_EQ(TAddrBookModel::CellText(*deep_row, 2), QStringLiteral("Acme"));
  ExpectSameAsReload("replaced while editing");
}

// A selection holding the root deletes each selected row: a selected
// contact in no group goes too; one not selected stays.
TEST_F(AddrBookWindowTest, DeletingTheRootTakesTheSelectedContactsInNoGroup) {
  Unlinked("Loose", "loose@example.uz");
  Unlinked("Keep", "keep@example.uz");
  book_->Prepare();
  ui_->QueueAnswer(kMsgResultYes);
  Select({book_->Model()->Tree().First(), Find("Loose")});
  book_->acContactDeleteExecute();
  EXPECT_FALSE(ContactEmailExists(db_, "loose@example.uz"));
  EXPECT_TRUE(ContactEmailExists(db_, "keep@example.uz"));
  EXPECT_EQ(Find("Loose"), nullptr);
  EXPECT_NE(Find("Keep"), nullptr);
  ExpectSameAsReload("root and a loose contact deleted");
}

// The contact and group dialogs open laid over the edited row: each field
// over its column's cell (the name after the row's icon), on the row's
// height, in the tree's unfocused-selection colour; the buttons below the
// row, or above it when the screen ends below.
TEST_F(AddrBookWindowTest, EditDialogsLieOverTheRowInTheSelectionColour) {
  SetMsg("msgEditGroup", "A group's caption longer than its one field and two buttons");
  book_->resize(760, 420);
  book_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(book_.get()));
  QTreeView* tree = book_->vstAddrBook;
  tree->header()->resizeSection(1, 180);
  tree->header()->resizeSection(2, 90);
  tree->header()->resizeSection(3, 130);
  const QColor selection = tree->palette().color(QPalette::Inactive, QPalette::Highlight);
  const struct {
    const char* row;
    int fields;
    bool near_screen_bottom;
  } cases[] = {{"Zed", 4, false}, {"Deep", 1, false}, {"Zed", 4, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.row) + (c.near_screen_bottom ? " near the bottom" : ""));
    TContactNode* node = Find(c.row);
    book_->FocusRow(node, 0);
    const QRect row0 = tree->visualRect(book_->Model()->IndexOf(node, 0));
    if (c.near_screen_bottom) {
      const int bottom = book_->screen()->availableGeometry().bottom();
      const int row_bottom = tree->viewport()->mapToGlobal(row0.bottomLeft()).y();
      book_->move(book_->x(), book_->y() + bottom - row_bottom - 4);
      QApplication::processEvents();
    }
    std::vector<QRect> fields;
    QRect ok;
    QColor colour;
    book_->RunDialog = [&](QDialog& d) {
      const auto global = [](const QWidget* w) {
        return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
      };
      if (auto* contact = qobject_cast<TfrmNewAddr*>(&d)) {
        for (const QWidget* w : std::initializer_list<const QWidget*>{
                 contact->eName, contact->eEmail, contact->cbCompany, contact->cbJobtitle})
          fields.push_back(global(w));
        ok = global(contact->btnOK);
      } else {
        auto& group = static_cast<TfrmNewGroup&>(d);
        fields.push_back(global(group.eName));
        ok = global(group.btnOK);
      }
      colour = d.palette().color(QPalette::Window);
      // The caption fits beside the title bar's icon and buttons.
      EXPECT_GE(d.width(), QFontMetrics(d.font()).horizontalAdvance(d.windowTitle()) + 100);
      return 2;
    };
    book_->acContactEditExecute();
    ASSERT_EQ(static_cast<int>(fields.size()), c.fields);
    for (int i = 0; i < c.fields; ++i) {
      const QRect r = tree->visualRect(book_->Model()->IndexOf(node, i));
      const QRect cell(tree->viewport()->mapToGlobal(r.topLeft()), r.size());
      const QRect& field = fields[static_cast<size_t>(i)];
      EXPECT_EQ(field.right(), cell.right()) << i;
      if (i == 0) {
        EXPECT_GE(field.left(), cell.left() + 16);  // after the icon
        EXPECT_LT(field.left(), cell.left() + 32);
      } else {
        EXPECT_EQ(field.left(), cell.left()) << i;
      }
      EXPECT_LE(std::abs(field.center().y() - cell.center().y()), 1) << i;
    }
    EXPECT_EQ(colour, selection);
    if (c.near_screen_bottom) {
      EXPECT_LT(ok.bottom(), fields[0].top());
    } else {
      EXPECT_GT(ok.top(), fields[0].bottom());
    }
  }
}

// A click on a column's header sorts by it, the direction flipped with
// every click, also when the column changes.
TEST_F(AddrBookWindowTest, HeaderClicksFlipTheOrder) {
  book_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(book_.get()));
  QHeaderView* header = book_->vstAddrBook->header();
  const struct {
    int section;
    Qt::SortOrder order;
    std::vector<std::string> home;  // Home's rows: Both (both@), Other Ann (ann@)
  } clicks[] = {
      {1, Qt::DescendingOrder, {"Both", "Other Ann"}},
      {1, Qt::AscendingOrder, {"Other Ann", "Both"}},
      {0, Qt::DescendingOrder, {"Other Ann", "Both"}},
      {0, Qt::AscendingOrder, {"Both", "Other Ann"}},
  };
  for (const auto& c : clicks) {
    SCOPED_TRACE(c.section);
    QTest::mouseClick(
        header->viewport(), Qt::LeftButton, {},
        QPoint(header->sectionViewportPosition(c.section) + 10, header->height() / 2));
    EXPECT_EQ(book_->Model()->SortColumn(), c.section);
    EXPECT_EQ(book_->Model()->SortOrder(), c.order);
    EXPECT_EQ(header->sortIndicatorOrder(), c.order);
    std::vector<std::string> home;
    for (const auto& child : Find("Home")->Children)
      home.push_back(TAddrBookModel::CellText(*child, 0).toStdString());
    EXPECT_EQ(home, c.home);
  }
}

// Exporting the whole book of a repaired old book takes the contact that
// is in no group, and importing the file elsewhere gives the same book.
TEST_F(AddrBookWindowTest, ExportOfTheWholeBookTakesContactsInNoGroup) {
  SqliteDb old;
  const std::string script = ReadTextFile(std::string(QOVRA_ADDRBOOK_FIXTURES) + "/eca_old.sql");
  ASSERT_TRUE(old.Open(dir_.File("old.edb"), /*create=*/true) && old.Exec(script));
  TfrmAddrBook old_book(old);
  old_book.Prepare();
  const std::string file = dir_.File("all.ecx");
  old_book.AskFileName = [&](bool save) {
    EXPECT_TRUE(save);
    return QString::fromStdString(file);
  };
  old_book.vstAddrBook->selectionModel()->select(
      old_book.Model()->IndexOf(old_book.Model()->Tree().First()),
      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  old_book.acContactsExportExecute();
  EXPECT_NE(ReadTextFile(file).find(R"(lastname="Wolf" email="lone@a.uz")"), std::string::npos);

  // Into an empty book's root: the same tree.
  ASSERT_TRUE(
      db_.Exec("DELETE FROM eca_contacts; DELETE FROM eca_group_contacts; "
               "DELETE FROM eca_groups"));
  book_->Prepare();
  book_->ImportFromFile(file);
  TAddrBookModel from_old;
  ASSERT_TRUE(from_old.Reload(old));
  EXPECT_EQ(ModelLines(*book_->Model()), ModelLines(from_old));
}

// The contacts file dialogs start in the documents folder, then in the
// folder of the file last chosen; a cancelled dialog changes nothing.
TEST_F(AddrBookWindowTest, FileDialogsStartInTheFolderLastUsed) {
  const std::string home = dir_.File("home");
  std::filesystem::create_directories(home + "/.config");
  std::filesystem::create_directories(home + "/Documents");
  std::filesystem::create_directories(dir_.File("chosen"));
  std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n";
  const ScopedEnv home_env("HOME", home);
  const ScopedEnv config_env("XDG_CONFIG_HOME", home + "/.config");
  const std::string out = dir_.File("chosen") + "/home.ecx";
  const auto canonical = [](const std::string& path) {
    return QDir(QString::fromStdString(path)).canonicalPath();
  };
  const struct {
    const char* step;
    std::string start;   // where the dialog must start
    std::string choose;  // the file chosen; empty: cancelled
  } steps[] = {
      {"export", home + "/Documents", out},
      {"import", dir_.File("chosen"), ""},
      {"import again", dir_.File("chosen"), out},
  };
  book_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(book_.get()));
  Select({Find("Home")});
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    QString started;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      started = dialog->directory().canonicalPath();
      if (s.choose.empty()) {
        dialog->reject();
      } else {
        dialog->selectFile(QString::fromStdString(s.choose));
        static_cast<QDialog*>(dialog)->accept();  // as the Save or Open button does
      }
    });
    if (std::string(s.step) == "export") {
      book_->acContactsExportExecute();
      EXPECT_TRUE(std::filesystem::exists(out));
    } else {
      ui_->QueueAnswer(kMsgResultYes);  // merge Home into Home's own content
      book_->acContactsImportExecute();
    }
    EXPECT_EQ(started, canonical(s.start));
  }
}

// Exporting over an existing file asks first; only Yes replaces it (No and
// Escape keep the file as it was).
TEST_F(AddrBookWindowTest, ExportReplacesAFileOnlyOnYes) {
  SetMsg("msgConfirmOverwrite", "Replace %s?");
  const std::string file = dir_.File("kept.ecx");
  book_->AskFileName = [&](bool) { return QString::fromStdString(file); };
  Select({Find("Home")});
  const struct {
    int answer;
    bool replaced;
  } answers[] = {{kMsgResultNo, false}, {kMsgResultCancel, false}, {kMsgResultYes, true}};
  for (const auto& a : answers) {
    SCOPED_TRACE(a.answer);
    std::ofstream(file, std::ios::trunc) << "old";
    ui_->messages.clear();
    ui_->QueueAnswer(a.answer);
    book_->acContactsExportExecute();
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].text, "Replace " + file + "?");
    EXPECT_EQ(ReadTextFile(file) != "old", a.replaced);
  }
}

// An import shows the progress window and moves its bar over the file's
// contacts and groups.
TEST_F(AddrBookWindowTest, ImportReportsItsProgress) {
  std::string text(kContactsFileOpening);
  AppendGroupOpening(text, "Many");
  for (int i = 0; i < 300; ++i) {
    const std::string address = "many" + std::to_string(i) + "@example.uz";
    AppendContactElement(text, {"", "", "Many", address, "", ""});
  }
  text += std::string(kGroupClosing) + std::string(kContactsFileClosing);
  const std::string file = dir_.File("many.ecx");
  std::ofstream(file) << text;
  ui_->progress.clear();
  book_->FocusRow(Find("Home"), 0);
  book_->ImportFromFile(file);
  ASSERT_FALSE(ui_->progress.empty());
  EXPECT_EQ(ui_->progress.front().kind, ProgressEvent::Kind::Show);
  EXPECT_EQ(ui_->progress.back().kind, ProgressEvent::Kind::Hide);
  std::vector<int64_t> done;
  for (const ProgressEvent& e : ui_->progress) {
    if (e.kind != ProgressEvent::Kind::Report) continue;
    EXPECT_EQ(e.total, 301);
    done.push_back(e.done);
  }
  ASSERT_GE(done.size(), 4u);
  EXPECT_EQ(done.front(), 0);
  EXPECT_EQ(done.back(), 301);
  EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
  EXPECT_EQ(Find("Many")->Children.size(), 300u);
  ExpectSameAsReload("imported with progress");

  // A duplicate's question is asked over the book, the progress window
  // hidden until it is answered.
  const std::string dup = dir_.File("dup.ecx");
  std::ofstream(dup) << R"(<addressbook><contact lastname="Zed Two" email="zed@example.uz"/>)"
                        R"(<contact lastname="After" email="after@example.uz"/></addressbook>)";
  ui_->progress.clear();
  std::vector<ProgressEvent::Kind> at_question;
  ui_->on_dup_dialog = [&](const std::string&) {
    for (const ProgressEvent& e : ui_->progress)
      if (e.kind != ProgressEvent::Kind::Report) at_question.push_back(e.kind);
    return kAbSkipped;
  };
  book_->FocusRow(Find("Deep"), 0);
  book_->ImportFromFile(dup);
  ui_->on_dup_dialog = nullptr;
  ASSERT_EQ(ui_->dup_dialogs.size(), 1u);
  EXPECT_EQ(ui_->dup_dialogs[0].owner, ui::HandleOf(book_.get()));
  EXPECT_EQ(at_question, (std::vector<ProgressEvent::Kind>{ProgressEvent::Kind::Show,
                                                           ProgressEvent::Kind::Hide}));
  EXPECT_EQ(ui_->progress.back().kind, ProgressEvent::Kind::Hide);
  EXPECT_NE(Find("After"), nullptr);
}

}  // namespace
}  // namespace qovra::testing

namespace qovra::testing {
namespace {

// Left and Right on the tree: collapse, go to the parent, expand, and step
// to the next row from the last column.
TEST_F(AddrBookWindowTest, LeftAndRightKeys) {
  QTreeView* tree = book_->vstAddrBook;
  TContactNode* work = Find("Work");
  const QModelIndex work_index = book_->Model()->IndexOf(work);
  book_->FocusRow(work, 0);
  QTest::keyClick(tree, Qt::Key_Left);  // expanded: collapses
  EXPECT_FALSE(tree->isExpanded(work_index));
  QTest::keyClick(tree, Qt::Key_Right);  // collapsed with children: expands
  EXPECT_TRUE(tree->isExpanded(work_index));
  EXPECT_EQ(book_->FocusedNode(), work);
  QTest::keyClick(tree, Qt::Key_Right);  // expanded: the next row
  EXPECT_EQ(book_->FocusedNode(), TContactTree::Next(work));
  TContactNode* zed = Find("Zed");
  book_->FocusRow(zed, 0);
  QTest::keyClick(tree, Qt::Key_Left);  // a contact in column 0: its group
  EXPECT_EQ(book_->FocusedNode(), zed->Parent);
  book_->FocusRow(zed, 3);
  QTest::keyClick(tree, Qt::Key_Right);  // the last column: the next row
  EXPECT_EQ(book_->FocusedNode(), TContactTree::Next(zed));
  EXPECT_EQ(tree->currentIndex().column(), 0);
  // Between a contact's cells: Right to the next column, Left back.
  const struct {
    int key;
    int column;
  } steps[] = {{Qt::Key_Right, 1}, {Qt::Key_Right, 2}, {Qt::Key_Right, 3},
               {Qt::Key_Left, 2},  {Qt::Key_Left, 1},  {Qt::Key_Left, 0}};
  book_->FocusRow(zed, 0);
  for (const auto& step : steps) {
    QTest::keyClick(tree, static_cast<Qt::Key>(step.key));
    EXPECT_EQ(book_->FocusedNode(), zed);
    EXPECT_EQ(tree->currentIndex().column(), step.column);
    EXPECT_TRUE(tree->selectionModel()->isRowSelected(tree->currentIndex().row(),
                                                      tree->currentIndex().parent()));
  }
}

}  // namespace
}  // namespace qovra::testing
