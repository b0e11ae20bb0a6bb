// The contacts book window on a real eca.edb: a scripted session whose
// every step leaves the tree equal to a fresh load of the book, drops,
// search, delete, copy and the recipients of the selection.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>
#include <algorithm>

#include "address_book_fixture.h"
#include "platform/temp_files.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contact_dialogs.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/search_edit_frame.h"
#include "support/exchange_server.h"
#include "support/http_clients.h"

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
  std::ofstream(client / "contacts_ru.ecx")
      << R"(<?xml version="1.0" encoding="UTF-8" ?><addressbook><group name="Staff">)"
         R"(<contact firstname="Olga" lastname="Petrova" email="olga@localhost"/></group></addressbook>)";
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
    book_->acContactsImportFromWebExecute();
    ASSERT_NE(Find("Petrova Olga"), nullptr);
    EXPECT_EQ(Find("Petrova Olga")->Parent, Find("Staff"));
    EXPECT_EQ(Find("Staff")->Parent, Find("Home"));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.File("tmp")));
    ExpectSameAsReload("directory");
  }
  SetTempFolder("");
  Options = saved;
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
}

}  // namespace
}  // namespace qovra::testing
