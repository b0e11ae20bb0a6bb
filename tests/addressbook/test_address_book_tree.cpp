// The tree of groups and contacts, deletes, display names and recipient
// texts.
#include "address_book_fixture.h"
#include "base/utf.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contact_tree.h"
#include "qovra/addressbook/recipients.h"

namespace qovra::testing {
namespace {

// The tree as indented lines: "G name" for groups, "C email" for contacts.
std::vector<std::string> Outline(TContactTree& tree) {
  std::vector<std::string> lines;
  for (TContactNode* n = tree.First(); n; n = TContactTree::Next(n)) {
    int depth = 0;
    for (TContactNode* p = n->Parent; p && p->Parent; p = p->Parent) ++depth;
    lines.push_back(std::string(2 * depth, ' ') + (n->IsGroup ? "G " : "C ") +
                    (n->IsGroup ? Utf16ToUtf8(n->Record.FirstName) : n->Record.Email));
  }
  return lines;
}

class TreeTest : public AddressBookTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenTemplate()) << db_.LastError();
    SetMsg("msgAll", "All");
    // Groups 3 (with subgroup 4) and 5; ann in 3 and 5, bob in 4, cy linked
    // to the root, dee without any link.
    ASSERT_TRUE(db_.Exec(
        "INSERT INTO eca_groups (id,name,parent_id) VALUES (3,'Friends',0),(4,'Close',3),"
        "(5,'Work',0);"
        "INSERT INTO eca_companies (id,name) VALUES (1,'Acme');"
        "INSERT INTO eca_contacts (id,first_name,last_name,email,company_id) VALUES "
        "(1,'Ann','Lee','ann@x.uz',1),(2,'Bob','Ray','bob@x.uz',0),(3,'Cy','Oh','cy@x.uz',0),"
        "(4,'Dee','Ng','dee@x.uz',0);"
        "INSERT INTO eca_group_contacts VALUES (3,1),(5,1),(4,2),(0,3);"))
        << db_.LastError();
  }
};

TEST_F(TreeTest, GroupsBeforeContactsSharedContactUnderBothRootWithUnlinked) {
  TContactTree tree;
  TContactNode* root = AddAllGroupNode(tree);
  ASSERT_TRUE(LoadGroupNode(db_, tree, *root)) << db_.LastError();
  EXPECT_EQ(Outline(tree),
            (std::vector<std::string>{"G All", "  G Friends", "    G Close", "      C bob@x.uz",
                                      "    C ann@x.uz", "  G Work", "    C ann@x.uz", "  C cy@x.uz",
                                      "  C dee@x.uz"}));
  const TContactNode* friends = root->Children[0].get();
  EXPECT_EQ(friends->Record.Id, 3);
  EXPECT_EQ(friends->Record.CompanyId, 0);  // the parent
  EXPECT_FALSE(friends->Record.IsContact);
  const TContactNode* ann = friends->Children[1].get();
  EXPECT_EQ(ann->Record.Company, u"Acme");
  EXPECT_EQ(ann->Record.CompanyId, 1);
  EXPECT_TRUE(ann->Record.IsContact);
}

// An old book, once repaired: its groups are top level, a contact of two
// groups shows under both, the unlinked one under the root, and new
// contacts go in.
TEST_F(AddressBookTest, RepairedOldBookLoadsAndTakesNewContacts) {
  SetMsg("msgAll", "All");
  ASSERT_TRUE(OpenOldBook()) << db_.LastError();
  ASSERT_TRUE(UpgradeContactsSchema(db_));
  TContactTree tree;
  TContactNode* root = AddAllGroupNode(tree);
  ASSERT_TRUE(LoadGroupNode(db_, tree, *root)) << db_.LastError();
  EXPECT_EQ(Outline(tree),
            (std::vector<std::string>{"G All", "  G Друзья", "    C ivan@a.uz", "  G Work",
                                      "    C ivan@a.uz", "    C olga@a.uz", "  C lone@a.uz"}));
  EXPECT_EQ(root->Children[0]->Children[0]->Record.Company, u"Ёмкость");
  TContact c;
  c.FirstName = u"New";
  c.Email = "new@a.uz";
  EXPECT_EQ(SaveContact(db_, c, 2, ""), kAbStored) << db_.LastError();
  TContact group;
  group.FirstName = u"Sub";
  group.CompanyId = 2;
  EXPECT_EQ(SaveGroup(db_, group, kAbRefused), kAbStored) << db_.LastError();
  EXPECT_EQ(Int("SELECT parent_id FROM eca_groups WHERE name='Sub'"), 2);
}

TEST_F(TreeTest, DeletingAGroupRemovesItsContactsEverywhereAndItsSubgroups) {
  ASSERT_TRUE(DeleteGroup(db_, 3)) << db_.LastError();
  EXPECT_EQ(Rows("SELECT id FROM eca_groups"), (std::vector<std::string>{"5"}));
  EXPECT_EQ(Rows("SELECT id FROM eca_contacts ORDER BY id"), (std::vector<std::string>{"3", "4"}));
  EXPECT_EQ(Rows("SELECT group_id,contact_id FROM eca_group_contacts"),
            (std::vector<std::string>{"0|3"}));
}

TEST_F(TreeTest, DeletingTheRootKeepsUnlinkedContacts) {
  ASSERT_TRUE(DeleteGroup(db_, 0)) << db_.LastError();
  EXPECT_EQ(Int("SELECT count(*) FROM eca_groups"), 0);
  EXPECT_EQ(Rows("SELECT id FROM eca_contacts"), (std::vector<std::string>{"4"}));
  EXPECT_EQ(Int("SELECT count(*) FROM eca_group_contacts"), 0);
}

// 3,000 levels of groups go without recursion; a parent_id cycle ends.
TEST_F(TreeTest, DeepSubtreesAndCyclesAreDeletedIteratively) {
  ASSERT_TRUE(
      db_.Exec("DELETE FROM eca_groups; DELETE FROM eca_contacts; "
               "DELETE FROM eca_group_contacts"));
  ASSERT_TRUE(
      db_.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<3000) "
               "INSERT INTO eca_groups (id,name,parent_id) SELECT i,'g'||i,i-1 FROM n;"
               "INSERT INTO eca_contacts (id,email) VALUES (1,'deep@x.uz');"
               "INSERT INTO eca_group_contacts VALUES (3000,1);"
               "INSERT INTO eca_groups (id,name,parent_id) VALUES (9001,'a',9002),"
               "(9002,'b',9001),(9003,'self',9003)"));
  TContactTree tree;
  TContactNode* root = AddAllGroupNode(tree);
  ASSERT_TRUE(LoadGroupNode(db_, tree, *root));
  EXPECT_EQ(Outline(tree).size(), 3002u);
  ASSERT_TRUE(DeleteGroup(db_, 0));
  EXPECT_EQ(Int("SELECT count(*) FROM eca_contacts"), 0);
  EXPECT_EQ(Int("SELECT count(*) FROM eca_groups"), 3);
  // A cycle loads and deletes in finite time.
  TContact group;
  group.Id = 9001;
  group.CompanyId = 9002;
  group.IsContact = false;
  TContactNode* a = tree.AddNode(tree.Top(), group, /*is_group=*/true);
  ASSERT_TRUE(LoadGroupNode(db_, tree, *a));
  EXPECT_EQ(a->Children.size(), 1u);
  ASSERT_TRUE(DeleteGroup(db_, 9001));
  ASSERT_TRUE(DeleteGroup(db_, 9003));
  EXPECT_EQ(Int("SELECT count(*) FROM eca_groups"), 0);
}

// A delete that fails part-way leaves the book as it was.
TEST_F(TreeTest, FailedDeleteRollsBack) {
  ASSERT_TRUE(
      db_.Exec("CREATE TRIGGER refuse BEFORE DELETE ON eca_contacts WHEN OLD.id = 2 "
               "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
  const auto groups = Rows("SELECT * FROM eca_groups");
  const auto links = Rows("SELECT * FROM eca_group_contacts");
  EXPECT_FALSE(DeleteGroup(db_, 3));
  EXPECT_EQ(Rows("SELECT * FROM eca_groups"), groups);
  EXPECT_EQ(Rows("SELECT * FROM eca_group_contacts"), links);
  EXPECT_EQ(Int("SELECT count(*) FROM eca_contacts"), 4);
}

TEST(ContactNames, DisplayName) {
  const struct {
    const char16_t* first;
    const char16_t* middle;
    const char16_t* last;
    const char16_t* shown;
  } cases[] = {
      {u"A", u"", u"B", u"B A"}, {u"A", u"C", u"B", u"B A C"}, {u"", u"", u"B", u"B"},
      {u"A", u"", u"", u"A"},    {u"", u"C", u"", u"C"},       {u" A ", u"", u"B ", u"B   A"},
      {u"", u"", u"", u""},
  };
  for (const auto& c : cases) {
    TContact t;
    t.FirstName = c.first;
    t.MiddleName = c.middle;
    t.LastName = c.last;
    EXPECT_EQ(ContactDisplayName(t), c.shown) << Utf16ToUtf8(c.shown);
  }
}

// A name never carries a second recipient into a recipient text.
TEST(Recipients, NamesLoseAddressCharacters) {
  TContact c;
  c.FirstName = u"Eve, <evil@x.uz>; \"boss\"";
  c.LastName = u"Mallory";
  c.Email = "eve@x.uz";
  const TRecipientEntry e = RecipientEntryOf(c);
  EXPECT_EQ(e.Text, "Mallory Eve evilx.uz boss <eve@x.uz>");
  EXPECT_EQ(e.Address, "eve@x.uz");
  EXPECT_EQ(AddressSetOf(e.Text), (std::unordered_set<std::string>{"eve@x.uz"}));
}

TEST(Recipients, DedupAndJoin) {
  std::vector<TRecipientEntry> list = {{"A <a@x.uz>", "a@x.uz"},
                                       {"  ", "blank@x.uz"},
                                       {"B <b@x.uz>", "b@x.uz"},
                                       {"A2 <A@X.UZ>", "A@X.UZ"}};
  DedupRecipients(list);
  EXPECT_EQ(JoinRecipientTexts(list), "A <a@x.uz>, B <b@x.uz>");
  EXPECT_EQ(JoinRecipientAddresses(list), "a@x.uz,b@x.uz");
  EXPECT_EQ(AddressSetOf("Ann <Ann@X.uz>; bob@x.uz, ann@x.uz"),
            (std::unordered_set<std::string>{"ann@x.uz", "bob@x.uz"}));
}

}  // namespace
}  // namespace qovra::testing
