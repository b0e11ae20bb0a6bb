// Storing contacts and groups, with the duplicate question.
#include "address_book_rows.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/text_utils.h"
#include "qovra/addressbook/address_book_db.h"
#include "seam/ui_seam.h"

namespace qovra {

using addrbook_detail::StoredText;

namespace {

// Parameters 1-6 of the contact statements: the three names, the address,
// the company and the job title, as stored.
SqliteStatement& BindContactFields(SqliteStatement& q, const TContact& contact) {
  return q.Bind(1, StoredText(contact.FirstName))
      .Bind(2, StoredText(contact.MiddleName))
      .Bind(3, StoredText(contact.LastName))
      .Bind(4, MaskQuotes(contact.Email))
      .Bind(5, int64_t{contact.CompanyId})
      .Bind(6, int64_t{contact.JobTitleId});
}

}  // namespace

bool LinkContact(SqliteDb& db, int32_t group_id, int32_t contact_id) {
  if (!db.IsOpen()) return false;
  SqliteStatement q =
      db.Prepare("INSERT OR IGNORE INTO eca_group_contacts (group_id,contact_id) VALUES (?,?)");
  return q.Valid() && q.Bind(1, int64_t{group_id}).Bind(2, int64_t{contact_id}).Run();
}

bool InsertContact(SqliteDb& db, TContact& contact, int32_t group_id) {
  if (!db.IsOpen()) return false;
  SqliteTransaction t(db);
  SqliteStatement q = db.Prepare(
      "INSERT INTO eca_contacts (first_name,middle_name,last_name,email,company_id,job_title_id) "
      "VALUES (?,?,?,?,?,?)");
  if (!q.Valid()) return false;
  BindContactFields(q, contact);
  if (!q.Run()) return false;
  const auto id = static_cast<int32_t>(db.LastInsertRowId());
  if (!LinkContact(db, group_id, id) || !t.Commit()) return false;
  contact.Id = id;
  return true;
}

bool UpdateContact(SqliteDb& db, const TContact& contact) {
  if (!db.IsOpen()) return false;
  SqliteStatement q = db.Prepare(
      "UPDATE eca_contacts SET first_name=?,middle_name=?,last_name=?,email=?,company_id=?,"
      "job_title_id=? WHERE id=?");
  if (!q.Valid()) return false;
  BindContactFields(q, contact).Bind(7, int64_t{contact.Id});
  return q.Run();
}

bool InsertGroup(SqliteDb& db, TContact& group) {
  if (!db.IsOpen()) return false;
  SqliteStatement q = db.Prepare("INSERT OR IGNORE INTO eca_groups (name,parent_id) VALUES (?,?)");
  if (!q.Valid()) return false;
  q.Bind(1, StoredText(group.FirstName)).Bind(2, int64_t{group.CompanyId});
  if (!q.Run()) return false;
  group.Id = static_cast<int32_t>(db.LastInsertRowId());
  return true;
}

bool UpdateGroup(SqliteDb& db, const TContact& group) {
  if (!db.IsOpen()) return false;
  SqliteStatement q = db.Prepare("UPDATE eca_groups SET name=?,parent_id=? WHERE id=?");
  return q.Valid() && q.Bind(1, StoredText(group.FirstName))
                          .Bind(2, int64_t{group.CompanyId})
                          .Bind(3, int64_t{group.Id})
                          .Run();
}

bool MoveGroup(SqliteDb& db, int32_t group_id, int32_t new_parent_id) {
  if (!db.IsOpen()) return false;
  SqliteStatement q = db.Prepare("UPDATE eca_groups SET parent_id=? WHERE id=?");
  return q.Valid() && q.Bind(1, int64_t{new_parent_id}).Bind(2, int64_t{group_id}).Run();
}

namespace {

// A company or job title as the duplicate question lists it after the
// address: ", " and the text, nothing when it is blank.
std::u16string Listed(const std::u16string& text) {
  return TrimBlanksW(text).empty() ? std::u16string() : u", " + text;
}

// The duplicate question, or the remembered answer: updates DupChoice.
// existing is the stored duplicate, incoming the contact being saved.
int AskDuplicate(const TContact& existing, const TContact& incoming) {
  if (DupChoice == 0 || DupChoice == kAbReplaced || DupChoice == kAbSkipped) {
    const std::string text = FormatMsgArgs(
        GetMsg("msgUpdateContactInfoAs"), ContactDisplayName(existing), existing.Email,
        Listed(existing.Company), Listed(existing.JobTitle), ContactDisplayName(incoming),
        incoming.Email, Listed(incoming.Company), Listed(incoming.JobTitle));
    DupChoice = DupDialogUi().ShowDupDialog(nullptr, text);
  }
  return DupChoice;
}

// The id of a company or job title text: 0 for a blank text, else the
// existing or a new row's id (the untrimmed text is looked up).
int32_t ResolveName(SqliteDb& db, std::string_view table, const std::u16string& text) {
  if (TrimBlanksW(text).empty()) return 0;
  return LookupOrInsertName(db, table, "name", /*lookup_first=*/true, StoredText(text));
}

}  // namespace

int SaveContact(SqliteDb& db, TContact& contact, int32_t group_id, std::string_view previous,
                int32_t* replaced_id) {
  if (contact.Email.empty() && ContactDisplayName(contact).empty()) return kAbRefused;
  if (!db.IsOpen()) return kAbRefused;
  SqliteTransaction t(db);
  if (!t.Active()) return kAbDbError;
  TContact c = contact;
  if (c.CompanyId == -1) c.CompanyId = ResolveName(db, "eca_companies", c.Company);
  if (c.JobTitleId == -1) c.JobTitleId = ResolveName(db, "eca_job_titles", c.JobTitle);
  if (c.CompanyId < 0 || c.JobTitleId < 0) return kAbDbError;

  int result = kAbStored;
  if (c.Id == -1 || (c.Id > 0 && c.Email != previous)) {
    TContact dup;
    dup.Email = c.Email;
    if (FindContactInGroup(db, dup, group_id)) {
      if (ContactsEqual(dup, c)) {
        contact.Id = dup.Id;
        return kAbSkipped;  // nothing written: the look-ups' inserts roll back
      }
      result = AskDuplicate(dup, c);
      if (result == kAbReplaced || result == kAbReplacedAll) {
        if (replaced_id) *replaced_id = c.Id;
        c.Id = dup.Id;
        if (!UpdateContact(db, c)) return kAbDbError;
      } else if (result == kAbSkipped || result == kAbSkippedAll) {
        c.Id = dup.Id;
      } else {
        ImportCancelled = true;
        return result;
      }
    } else if (c.Id <= 0) {
      if (!InsertContact(db, c, group_id)) return kAbDbError;
    } else if (!UpdateContact(db, c)) {
      return kAbDbError;
    }
  } else if (!UpdateContact(db, c)) {
    return kAbDbError;
  }
  if (!t.Commit()) return kAbDbError;
  contact = c;
  return result;
}

int SaveGroup(SqliteDb& db, TContact& group, int mode) {
  if (group.FirstName.empty()) return kAbRefused;
  if (!db.IsOpen()) return kAbRefused;
  TContact found = group;
  if (!FindGroup(db, found)) {
    const bool ok = group.Id == -1 ? InsertGroup(db, group) : UpdateGroup(db, group);
    return ok ? kAbStored : kAbDbError;
  }
  switch (mode) {
    case kAbRefused:
      (void)ShowMessageText(nullptr, FormatMsgArgs(GetMsg("msgGroupExists"), group.FirstName),
                            kMsgIconWarning | kMsgButtonsOk);
      return kAbRefused;
    case kAbReplacedAll:
      if (ShowMessageText(nullptr, FormatMsgArgs(GetMsg("msgUpdateGroupNameAs"), group.FirstName),
                          kMsgIconQuestion | kMsgButtonsYesNo) != kMsgResultYes) {
        return kAbRefused;
      }
      group.Id = found.Id;
      return kAbGroupMerged;
    case kAbGroupMerged:
      group.Id = found.Id;
      return kAbGroupMerged;
    default:
      return kAbRefused;
  }
}

int MoveContactToGroup(SqliteDb& db, int32_t source, int32_t target, const TContact& contact,
                       int32_t* existing_id) {
  if (!db.IsOpen()) return kAbRefused;
  if (source == target) return kAbStored;
  TContact dup;
  dup.Email = contact.Email;
  const bool found = FindContactInGroup(db, dup, target);
  // The contact itself is already in the target: it only leaves the source.
  const bool same = found && dup.Id == contact.Id;
  int result = kAbStored;
  if (found && !same) {
    result = AskDuplicate(dup, contact);
    if (result != kAbReplaced && result != kAbReplacedAll) return result;
  }
  SqliteTransaction t(db);
  SqliteStatement link =
      db.Prepare("INSERT OR IGNORE INTO eca_group_contacts (group_id,contact_id) VALUES (?,?)");
  SqliteStatement unlink =
      db.Prepare("DELETE FROM eca_group_contacts WHERE group_id=? AND contact_id=?");
  if (!t.Active() || !link.Valid() || !unlink.Valid()) return kAbDbError;
  if (!link.Bind(1, int64_t{target}).Bind(2, int64_t{contact.Id}).Run() ||
      !unlink.Bind(1, int64_t{source}).Bind(2, int64_t{contact.Id}).Run()) {
    return kAbDbError;
  }
  if (found && !same) {
    if (!DeleteContact(db, dup.Id)) return kAbDbError;
    if (existing_id) *existing_id = dup.Id;
  }
  return t.Commit() ? result : kAbDbError;
}

}  // namespace qovra
