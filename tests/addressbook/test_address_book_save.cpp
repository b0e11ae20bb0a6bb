// Storing contacts and groups, the duplicate question and moves.
#include "address_book_fixture.h"
#include "base/utf.h"
#include "qovra/addressbook/address_book_db.h"

namespace qovra::testing {
namespace {

TContact Contact(std::u16string first, std::u16string last, std::string email,
                 std::u16string company = u"", std::u16string title = u"") {
  TContact c;
  c.FirstName = std::move(first);
  c.LastName = std::move(last);
  c.Email = std::move(email);
  c.CompanyId = -1;
  c.Company = std::move(company);
  c.JobTitleId = -1;
  c.JobTitle = std::move(title);
  return c;
}

class SaveTest : public AddressBookTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenTemplate()) << db_.LastError();
    SetMsg("msgUpdateContactInfoAs", "%s <%s>%s%s / %s <%s>%s%s");
    SetMsg("msgGroupExists", "exists %s");
    SetMsg("msgUpdateGroupNameAs", "merge %s");
  }
  // Stores a new contact in group and expects it stored.
  int32_t Stored(TContact c, int32_t group) {
    EXPECT_EQ(SaveContact(db_, c, group, ""), kAbStored) << db_.LastError();
    return c.Id;
  }
};

TEST_F(SaveTest, EmptyRecordIsRefusedNameAloneIsStored) {
  TContact empty = Contact(u"", u"", "");
  EXPECT_EQ(SaveContact(db_, empty, 0, ""), kAbRefused);
  TContact blank = Contact(u" ", u"", "");  // the display name trims to nothing
  EXPECT_EQ(SaveContact(db_, blank, 0, ""), kAbRefused);
  EXPECT_EQ(Int("SELECT count(*) FROM eca_contacts"), 0);

  TContact named = Contact(u"Ivan", u"", "");
  EXPECT_EQ(SaveContact(db_, named, 0, ""), kAbStored);
  EXPECT_GT(named.Id, 0);
  EXPECT_EQ(Rows("SELECT group_id,contact_id FROM eca_group_contacts"),
            (std::vector<std::string>{"0|" + std::to_string(named.Id)}));
}

TEST_F(SaveTest, CompanyIsLookedUpUntrimmedOnlyWhenNotBlank) {
  const int32_t a = Stored(Contact(u"A", u"", "a@x.uz", u" Acme ", u"Boss"), 0);
  const int32_t b = Stored(Contact(u"B", u"", "b@x.uz", u" Acme ", u"   "), 0);
  const int32_t c = Stored(Contact(u"C", u"", "c@x.uz", u"Acme", u""), 0);
  EXPECT_EQ(Rows("SELECT id,name FROM eca_companies ORDER BY id"),
            (std::vector<std::string>{"1| Acme ", "2|Acme"}));
  EXPECT_EQ(Rows("SELECT id,company_id,job_title_id FROM eca_contacts ORDER BY id"),
            (std::vector<std::string>{std::to_string(a) + "|1|1", std::to_string(b) + "|1|0",
                                      std::to_string(c) + "|2|0"}));
}

TEST_F(SaveTest, QuotesAreStoredMaskedAndReadBackThatWay) {
  TContact c = Contact(u"D'Artagnan", u"\"Gascon\"", "d@x.uz", u"L'Oréal");
  ASSERT_EQ(SaveContact(db_, c, 0, ""), kAbStored);
  EXPECT_EQ(Text("SELECT first_name FROM eca_contacts"), "D\u02B9Artagnan");
  EXPECT_EQ(Text("SELECT last_name FROM eca_contacts"), "\u02BAGascon\u02BA");
  EXPECT_EQ(Text("SELECT name FROM eca_companies"), "L\u02B9Oréal");
  TContact found;
  found.Email = "d@x.uz";
  ASSERT_TRUE(FindContactInGroup(db_, found, 0));
  EXPECT_EQ(found.FirstName, u"D\u02B9Artagnan");
  EXPECT_EQ(found.Company, u"L\u02B9Oréal");
}

// The same six texts again: 52 without a question, also when a text holds
// an apostrophe (stored masked, typed raw).
TEST_F(SaveTest, IdenticalContactIsSkippedWithoutAQuestion) {
  for (const std::u16string& name : {std::u16string(u"Plain"), std::u16string(u"O'Brien")}) {
    const std::string email = Utf16ToUtf8(name) + "@x.uz";
    const int32_t id = Stored(Contact(u"Pat", name, email, u"Co's", u"Dev"), 0);
    TContact again = Contact(u"Pat", name, email, u"Co's", u"Dev");
    EXPECT_EQ(SaveContact(db_, again, 0, ""), kAbSkipped) << Utf16ToUtf8(name);
    EXPECT_EQ(again.Id, id);
  }
  EXPECT_TRUE(ui_->dup_dialogs.empty());
  EXPECT_EQ(Int("SELECT count(*) FROM eca_contacts"), 2);
  EXPECT_EQ(Int("SELECT count(*) FROM eca_companies"), 1);
}

// Each answer of the duplicate dialog.
TEST_F(SaveTest, DuplicateAnsweredWithEachButton) {
  const struct {
    int answer;
    int result;
    bool replaced;
    bool cancelled;
  } cases[] = {
      {kAbReplaced, kAbReplaced, true, false}, {kAbReplacedAll, kAbReplacedAll, true, false},
      {kAbSkipped, kAbSkipped, false, false},  {kAbSkippedAll, kAbSkippedAll, false, false},
      {kAbRefused, kAbRefused, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_TRUE(db_.Exec("DELETE FROM eca_contacts; DELETE FROM eca_group_contacts"));
    ScopedAddressBookGlobals::Reset();
    ui_->dup_dialogs.clear();
    const int32_t old_id = Stored(Contact(u"Ivan", u"Petrov", "ivan@x.uz", u"Old"), 4);
    ui_->QueueDupAnswer(c.answer);
    TContact incoming = Contact(u"Ivan", u"Petrov", "ivan@x.uz", u"New", u"Chief");
    int32_t replaced = -7;
    EXPECT_EQ(SaveContact(db_, incoming, 4, "", &replaced), c.result);
    ASSERT_EQ(ui_->dup_dialogs.size(), 1u);
    EXPECT_EQ(ui_->dup_dialogs[0].text,
              "Petrov Ivan <ivan@x.uz>, Old / Petrov Ivan <ivan@x.uz>, New, Chief");
    EXPECT_EQ(DupChoice, c.answer);
    EXPECT_EQ(ImportCancelled, c.cancelled);
    EXPECT_EQ(Int("SELECT count(*) FROM eca_contacts"), 1);
    EXPECT_EQ(Text("SELECT o.name FROM eca_contacts c JOIN eca_companies o ON c.company_id=o.id"),
              c.replaced ? "New" : "Old");
    EXPECT_EQ(replaced, c.replaced ? -1 : -7);  // the new contact's own id (it had none)
    if (!c.cancelled) {
      EXPECT_EQ(incoming.Id, old_id);
    }
  }
}

// A remembered Replace all or Skip all is applied without asking; an
// answer of Replace or Skip asks again next time.
TEST_F(SaveTest, RememberedAnswersAreNotAskedAgain) {
  const struct {
    int answer;
    size_t questions;
    const char* company;
  } cases[] = {
      {kAbReplacedAll, 1, "N3"},
      {kAbSkippedAll, 1, "Old"},
      {kAbReplaced, 3, "N3"},
      {kAbSkipped, 3, "Old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_TRUE(db_.Exec("DELETE FROM eca_contacts; DELETE FROM eca_group_contacts"));
    ScopedAddressBookGlobals::Reset();
    ui_->dup_dialogs.clear();
    ui_->dup_fallback_answer = c.answer;
    Stored(Contact(u"A", u"", "a@x.uz", u"Old"), 0);
    for (const char16_t* company : {u"N1", u"N2", u"N3"}) {
      TContact again = Contact(u"A", u"", "a@x.uz", company);
      EXPECT_EQ(SaveContact(db_, again, 0, ""), c.answer);
    }
    EXPECT_EQ(ui_->dup_dialogs.size(), c.questions);
    EXPECT_EQ(Text("SELECT o.name FROM eca_contacts c JOIN eca_companies o ON c.company_id=o.id"),
              c.company);
  }
}

TEST_F(SaveTest, DuplicateIsLookedForInTheGroupOnly) {
  Stored(Contact(u"A", u"", "a@x.uz"), 3);
  Stored(Contact(u"A2", u"", "a@x.uz"), 5);
  EXPECT_TRUE(ui_->dup_dialogs.empty());
  EXPECT_EQ(Int("SELECT count(*) FROM eca_contacts"), 2);
}

TEST_F(SaveTest, EditedContactIsUpdatedAndCheckedOnlyWhenItsAddressChanged) {
  const int32_t a = Stored(Contact(u"A", u"", "a@x.uz"), 0);
  Stored(Contact(u"B", u"", "b@x.uz"), 0);
  TContact edit = Contact(u"Anna", u"", "a@x.uz");
  edit.Id = a;
  EXPECT_EQ(SaveContact(db_, edit, 0, "a@x.uz"), kAbStored);
  EXPECT_EQ(Text("SELECT first_name FROM eca_contacts WHERE id=" + std::to_string(a)), "Anna");
  // Moving A onto B's address asks; Skip stores nothing.
  ui_->QueueDupAnswer(kAbSkipped);
  edit.Email = "b@x.uz";
  EXPECT_EQ(SaveContact(db_, edit, 0, "a@x.uz"), kAbSkipped);
  EXPECT_EQ(ui_->dup_dialogs.size(), 1u);
  EXPECT_EQ(Text("SELECT email FROM eca_contacts WHERE id=" + std::to_string(a)), "a@x.uz");
}

TEST_F(SaveTest, GroupModes) {
  TContact top;
  top.FirstName = u"Work";
  top.CompanyId = 0;
  ASSERT_EQ(SaveGroup(db_, top, kAbRefused), kAbStored);
  ASSERT_GT(top.Id, 0);
  TContact empty;
  EXPECT_EQ(SaveGroup(db_, empty, kAbRefused), kAbRefused);

  const struct {
    int mode;
    int answer;
    int result;
    const char* message;
    int flags;
  } cases[] = {
      {kAbRefused, 0, kAbRefused, "exists Work", kMsgIconWarning},
      {kAbReplacedAll, kMsgResultYes, kAbGroupMerged, "merge Work", 36},
      {kAbReplacedAll, kMsgResultNo, kAbRefused, "merge Work", 36},
      {kAbGroupMerged, 0, kAbGroupMerged, nullptr, 0},
      {1, 0, kAbRefused, nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    ui_->messages.clear();
    if (c.answer) ui_->QueueAnswer(c.answer);
    TContact again;
    again.FirstName = u"Work";
    again.CompanyId = 0;
    EXPECT_EQ(SaveGroup(db_, again, c.mode), c.result);
    EXPECT_EQ(again.Id, c.result == kAbGroupMerged ? top.Id : -1);
    if (c.message) {
      ASSERT_EQ(ui_->messages.size(), 1u);
      EXPECT_EQ(ui_->messages[0].text, c.message);
      EXPECT_EQ(ui_->messages[0].flags, c.flags);
    } else {
      EXPECT_TRUE(ui_->messages.empty());
    }
  }
  // The same name under another parent is another group.
  TContact sub;
  sub.FirstName = u"Work";
  sub.CompanyId = top.Id;
  EXPECT_EQ(SaveGroup(db_, sub, kAbRefused), kAbStored);
  EXPECT_EQ(Int("SELECT count(*) FROM eca_groups"), 2);
}

class MoveTest : public SaveTest {};

// A contact already linked to the target only leaves the source; it is
// never taken for a duplicate of itself and deleted.
TEST_F(MoveTest, ContactAlreadyInTargetOnlyLeavesSource) {
  TContact c = Contact(u"A", u"", "a@x.uz");
  ASSERT_EQ(SaveContact(db_, c, 3, ""), kAbStored);
  ASSERT_TRUE(LinkContact(db_, 5, c.Id));
  EXPECT_EQ(MoveContactToGroup(db_, 3, 5, c), kAbStored);
  EXPECT_TRUE(ui_->dup_dialogs.empty());
  EXPECT_EQ(Int("SELECT count(*) FROM eca_contacts"), 1);
  EXPECT_EQ(Rows("SELECT group_id FROM eca_group_contacts"), (std::vector<std::string>{"5"}));
  // Onto its own group: nothing changes.
  EXPECT_EQ(MoveContactToGroup(db_, 5, 5, c), kAbStored);
  EXPECT_EQ(Rows("SELECT group_id FROM eca_group_contacts"), (std::vector<std::string>{"5"}));
}

// One of the root's contacts without any link is linked to the target.
TEST_F(MoveTest, UnlinkedContactIsLinked) {
  ASSERT_TRUE(db_.Exec("INSERT INTO eca_contacts (first_name,email) VALUES ('L','l@x.uz')"));
  TContact c;
  c.Email = "l@x.uz";
  c.Id = static_cast<int32_t>(db_.LastInsertRowId());
  EXPECT_EQ(MoveContactToGroup(db_, 0, 7, c), kAbStored);
  EXPECT_EQ(Rows("SELECT group_id,contact_id FROM eca_group_contacts"),
            (std::vector<std::string>{"7|" + std::to_string(c.Id)}));
}

TEST_F(MoveTest, DuplicateInTarget) {
  const struct {
    int answer;
    bool moved;
  } cases[] = {{kAbReplaced, true},
               {kAbReplacedAll, true},
               {kAbSkipped, false},
               {kAbSkippedAll, false},
               {kAbRefused, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_TRUE(db_.Exec("DELETE FROM eca_contacts; DELETE FROM eca_group_contacts"));
    ScopedAddressBookGlobals::Reset();
    TContact mover = Contact(u"M", u"", "m@x.uz");
    TContact there = Contact(u"T", u"", "m@x.uz");
    ASSERT_EQ(SaveContact(db_, mover, 3, ""), kAbStored);
    ASSERT_EQ(SaveContact(db_, there, 5, ""), kAbStored);
    ui_->QueueDupAnswer(c.answer);
    int32_t existing = -7;
    EXPECT_EQ(MoveContactToGroup(db_, 3, 5, mover, &existing), c.answer);
    const std::string m = std::to_string(mover.Id);
    if (c.moved) {
      EXPECT_EQ(existing, there.Id);
      EXPECT_EQ(Rows("SELECT group_id,contact_id FROM eca_group_contacts"),
                (std::vector<std::string>{"5|" + m}));
      EXPECT_EQ(Rows("SELECT id FROM eca_contacts"), (std::vector<std::string>{m}));
    } else {
      EXPECT_EQ(existing, -7);
      EXPECT_EQ(Int("SELECT count(*) FROM eca_contacts"), 2);
      EXPECT_EQ(Int("SELECT group_id FROM eca_group_contacts WHERE contact_id=" + m), 3);
    }
  }
}

}  // namespace
}  // namespace qovra::testing
