// The address-book database (eca.edb): contacts, their companies and job
// titles, groups and the links between groups and contacts.
//
// Tables: eca_contacts (id, first_name, middle_name, last_name, email,
// company_id, job_title_id), eca_companies (id, name), eca_job_titles (id,
// name), eca_groups (id, name, parent_id), eca_group_contacts (group_id,
// contact_id). Group 0 is the root: it has no row; top-level groups have
// parent_id 0. A contact belongs to every group it has a link to; the root
// also holds every contact without any link.
//
// Stored text: names, companies, titles and group names as UTF-8 with every
// '"' replaced by U+02BA and every "'" by U+02B9 (MaskQuotes); addresses as
// typed, masked the same way. Every value is bound as a parameter.
//
// Every routine takes the database; when it is not open a routine does
// nothing and returns its empty result (false, 0 or as stated). A failed
// statement makes a routine return false (or kAbDbError) with the reason in
// db.LastError(); multi-statement writes then leave nothing behind.
//
// Questions go through the core's window seam: the duplicate question
// (DupDialogUi) and the message dialog. Interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/records.h"
#include "qovra/addressbook/address_book.h"
#include "store/sqlite_db.h"

namespace qovra {

// Repairs an old book in place: when the unique index igroup_id_contact_id
// is missing, the links are reduced to distinct pairs (first-met order) and
// the index is made, in one transaction that rolls back on any failure; a
// groups table without "[parent_id] INTEGER DEFAULT 0" gets that column
// (an error of this step is ignored); the look-up indexes on
// eca_contacts(email), eca_group_contacts(contact_id) and
// eca_groups(parent_id,name) are made when missing. Running it again changes nothing. False when a
// statement of the link repair failed (the book is as it was before).
[[nodiscard]] bool UpgradeContactsSchema(SqliteDb& db);

// Tables and columns that LookupValue, FillLookupList and
// LookupOrInsertName accept; any other name is refused.
bool IsAddressBookTable(std::string_view table);
bool IsAddressBookColumn(std::string_view column);

// One entry of a look-up list: the decoded name and the row id.
using TLookupList = std::vector<std::pair<std::u16string, int32_t>>;

// Every row of table (eca_companies or eca_job_titles) in the order the
// table returns them, names decoded. False when there is no database, the
// table is empty or unknown, or the query fails.
bool FillLookupList(SqliteDb& db, std::string_view table, TLookupList& list);

// The first field of column in the first row of table whose key_column
// equals key_value (bound, compared as stored). False when no row matched.
bool LookupValue(SqliteDb& db, std::string_view column, std::string_view table, std::string& value,
                 std::string_view key_column, std::string_view key_value);

// The id of value (already UTF-8 and masked) in table.column: with
// lookup_first an existing row's id (0 when the stored id is not a number),
// else, or when none matches, the id of a newly inserted row. -1 when there
// is no database or a statement failed.
int32_t LookupOrInsertName(SqliteDb& db, std::string_view table, std::string_view column,
                           bool lookup_first, std::string_view value);

// Looks up contact.Email in group group_id (linked rows only: the root's
// unlinked contacts are not found in group 0). True, with contact filled
// from the row (IsContact true), when found.
bool FindContactInGroup(SqliteDb& db, TContact& contact, int32_t group_id);

// Looks up a group named group.FirstName under parent group.CompanyId.
// True, with Id, name and parent filled, the other texts empty, JobTitleId 0
// and IsContact false, when found.
bool FindGroup(SqliteDb& db, TContact& group);

// Stores contact in group_id (see the codes in address_book.h). previous is
// the address the contact had before this edit (for a stored contact).
// A duplicate of the address in the group is asked about through the
// duplicate dialog unless DupChoice remembers kAbReplacedAll or
// kAbSkippedAll; its answer becomes DupChoice. replaced_id (when given)
// receives the contact's own earlier id when a duplicate was replaced.
// CompanyId or JobTitleId -1 are resolved from the Company and JobTitle
// texts (inserted when new; 0 when the trimmed text is empty).
[[nodiscard]] int SaveContact(SqliteDb& db, TContact& contact, int32_t group_id,
                              std::string_view previous, int32_t* replaced_id = nullptr);

// Stores a group (name in FirstName, parent in CompanyId). A group of the
// same name under the same parent: mode kAbRefused warns (msgGroupExists)
// and refuses; kAbReplacedAll asks (msgUpdateGroupNameAs) and on Yes takes
// the existing group's id and returns kAbGroupMerged; kAbGroupMerged does so
// without asking; any other mode refuses.
[[nodiscard]] int SaveGroup(SqliteDb& db, TContact& group, int mode);

// Moves contact from group source to group target. When target already
// holds another contact with the same address, the duplicate dialog asks
// (as in SaveContact); on Replace the move happens, existing_id receives
// the duplicate's id and the duplicate is deleted. A contact already linked
// to target just leaves source; a contact without any link (one of the
// root's) is linked to target. Returns the codes of address_book.h.
[[nodiscard]] int MoveContactToGroup(SqliteDb& db, int32_t source, int32_t target,
                                     const TContact& contact, int32_t* existing_id = nullptr);

// Single statements.
[[nodiscard]] bool MoveGroup(SqliteDb& db, int32_t group_id, int32_t new_parent_id);
[[nodiscard]] bool LinkContact(SqliteDb& db, int32_t group_id, int32_t contact_id);
// Inserts contact (Id := the new row id) and links it to group_id.
[[nodiscard]] bool InsertContact(SqliteDb& db, TContact& contact, int32_t group_id);
[[nodiscard]] bool UpdateContact(SqliteDb& db, const TContact& contact);
// Inserts group (Id := the new row id).
[[nodiscard]] bool InsertGroup(SqliteDb& db, TContact& group);
[[nodiscard]] bool UpdateGroup(SqliteDb& db, const TContact& group);

// Removes a contact with all its links, in one transaction.
[[nodiscard]] bool DeleteContact(SqliteDb& db, int32_t id);
// Removes a group, every contact linked to it (from the whole book) and
// every group below it with their contacts, in one transaction. Group 0:
// every contact linked to 0 and every top-level group with its subtree;
// contacts without any link stay. Runs without recursion and enters each
// group once, so a parent_id cycle of a damaged book ends.
[[nodiscard]] bool DeleteGroup(SqliteDb& db, int32_t id);

// True when a contact with exactly this address (as stored, masked) exists.
bool ContactEmailExists(SqliteDb& db, std::string_view address);

}  // namespace qovra
