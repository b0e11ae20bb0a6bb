// The schema repair and the look-ups of the address book.
#include "address_book_fixture.h"
#include "qovra/addressbook/address_book_db.h"

namespace qovra::testing {
namespace {

using UpgradeTest = AddressBookTest;

TEST_F(UpgradeTest, OldBookGetsDistinctLinksIndexAndParentColumn) {
  ASSERT_TRUE(OpenOldBook()) << db_.LastError();
  ASSERT_EQ(Int("SELECT count(*) FROM eca_group_contacts"), 6);

  ASSERT_TRUE(UpgradeContactsSchema(db_)) << db_.LastError();
  // Distinct pairs in the order first met.
  EXPECT_EQ(Rows("SELECT group_id,contact_id FROM eca_group_contacts ORDER BY rowid"),
            (std::vector<std::string>{"1|1", "2|2", "2|1"}));
  EXPECT_EQ(Int("SELECT count(*) FROM sqlite_master WHERE name='igroup_id_contact_id'"), 1);
  EXPECT_NE(Text("SELECT sql FROM sqlite_master WHERE name='eca_groups'")
                .find("[parent_id] INTEGER DEFAULT 0"),
            std::string::npos);
  // Every old group is now top level.
  EXPECT_EQ(Rows("SELECT id,parent_id FROM eca_groups ORDER BY id"),
            (std::vector<std::string>{"1|0", "2|0"}));
  EXPECT_EQ(Int("SELECT count(*) FROM sqlite_master WHERE name='ieca_contacts_email'"), 1);
  // The index holds: a repeated link is refused.
  EXPECT_FALSE(db_.Exec("INSERT INTO eca_group_contacts VALUES (1, 1)"));

  // The second opening changes nothing.
  const auto schema = Rows("SELECT type,name,sql FROM sqlite_master ORDER BY name");
  const auto links = Rows("SELECT rowid,group_id,contact_id FROM eca_group_contacts");
  ASSERT_TRUE(UpgradeContactsSchema(db_)) << db_.LastError();
  EXPECT_EQ(Rows("SELECT type,name,sql FROM sqlite_master ORDER BY name"), schema);
  EXPECT_EQ(Rows("SELECT rowid,group_id,contact_id FROM eca_group_contacts"), links);
}

TEST_F(UpgradeTest, TemplateIsLeftAsItIs) {
  ASSERT_TRUE(OpenTemplate()) << db_.LastError();
  const auto schema = Rows("SELECT type,name,sql FROM sqlite_master ORDER BY name");
  ASSERT_TRUE(UpgradeContactsSchema(db_)) << db_.LastError();
  EXPECT_EQ(Rows("SELECT type,name,sql FROM sqlite_master ORDER BY name"), schema);
}

// A statement of the link repair that fails leaves the links as they were,
// never a table emptied of its links.
TEST_F(UpgradeTest, FailedLinkRepairRollsBack) {
  ASSERT_TRUE(OpenOldBook()) << db_.LastError();
  ASSERT_TRUE(
      db_.Exec("CREATE TRIGGER refuse AFTER INSERT ON eca_group_contacts "
               "WHEN NEW.contact_id = 2 BEGIN SELECT RAISE(ABORT, 'refused'); END"));
  const auto before = Rows("SELECT rowid,group_id,contact_id FROM eca_group_contacts");
  EXPECT_FALSE(UpgradeContactsSchema(db_));
  EXPECT_EQ(Rows("SELECT rowid,group_id,contact_id FROM eca_group_contacts"), before);
  EXPECT_EQ(Int("SELECT count(*) FROM sqlite_master WHERE name='igroup_id_contact_id'"), 0);
}

TEST_F(UpgradeTest, NoDatabaseDoesNothing) {
  EXPECT_FALSE(UpgradeContactsSchema(db_));
  TLookupList list;
  EXPECT_FALSE(FillLookupList(db_, "eca_companies", list));
  EXPECT_EQ(LookupOrInsertName(db_, "eca_companies", "name", true, "x"), -1);
  EXPECT_FALSE(ContactEmailExists(db_, "a@b"));
  EXPECT_FALSE(DeleteGroup(db_, 0));
}

// The address is a bound value: an address spelled like a column name
// matches only itself (between double quotes it would name the column and
// match every row).
TEST_F(UpgradeTest, ContactEmailExistsComparesTheValue) {
  ASSERT_TRUE(OpenTemplate());
  ASSERT_TRUE(
      db_.Exec("INSERT INTO eca_contacts (first_name,email) VALUES ('A','a@b.uz'),"
               "('B','it' || char(697) || 's@b.uz')"));
  const struct {
    const char* address;
    bool exists;
  } cases[] = {
      {"a@b.uz", true}, {"A@B.UZ", false},  // as stored, case counts
      {"email", false}, {"first_name", false},
      {"id", false},    {"it's@b.uz", true},  // masked like the stored one
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ContactEmailExists(db_, c.address), c.exists) << c.address;
  }
  // Names outside the fixed list are refused.
  std::string value;
  EXPECT_FALSE(LookupValue(db_, "id", "sqlite_master", value, "name", "x"));
  EXPECT_FALSE(LookupValue(db_, "id; DROP TABLE eca_contacts", "eca_contacts", value, "id", "1"));
  EXPECT_TRUE(LookupValue(db_, "first_name", "eca_contacts", value, "email", "a@b.uz"));
  EXPECT_EQ(value, "A");
}

TEST_F(UpgradeTest, LookupListsKeepEveryStoredName) {
  ASSERT_TRUE(OpenTemplate());
  TLookupList list;
  EXPECT_FALSE(FillLookupList(db_, "eca_companies", list));  // empty table
  EXPECT_EQ(LookupOrInsertName(db_, "eca_companies", "name", true, "Acme"), 1);
  EXPECT_EQ(LookupOrInsertName(db_, "eca_companies", "name", true, "Ёлка"), 2);
  EXPECT_EQ(LookupOrInsertName(db_, "eca_companies", "name", true, "Acme"), 1);
  EXPECT_EQ(LookupOrInsertName(db_, "eca_companies", "name", false, "Acme"), 3);
  ASSERT_TRUE(FillLookupList(db_, "eca_companies", list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1].first, u"Ёлка");
  EXPECT_EQ(list[1].second, 2);
  EXPECT_FALSE(FillLookupList(db_, "eca_unknown", list));
}

}  // namespace
}  // namespace qovra::testing
