// Look-ups of the address book: lists, single values, duplicates.
#include <array>
#include <charconv>

#include "address_book_rows.h"
#include "qovra/addressbook/address_book_db.h"

namespace qovra {

using addrbook_detail::kContactByAddressInGroup;
using addrbook_detail::ReadContactRow;
using addrbook_detail::StoredText;

namespace {

constexpr std::array<std::string_view, 5> kTables = {
    "eca_contacts", "eca_companies", "eca_job_titles", "eca_groups", "eca_group_contacts"};
constexpr std::array<std::string_view, 11> kColumns = {
    "id",         "name",         "first_name", "middle_name", "last_name", "email",
    "company_id", "job_title_id", "parent_id",  "group_id",    "contact_id"};

template <size_t N>
bool InList(const std::array<std::string_view, N>& list, std::string_view name) {
  for (std::string_view item : list) {
    if (item == name) return true;
  }
  return false;
}

}  // namespace

bool IsAddressBookTable(std::string_view table) {
  return InList(kTables, table);
}

bool IsAddressBookColumn(std::string_view column) {
  return InList(kColumns, column);
}

bool FillLookupList(SqliteDb& db, std::string_view table, TLookupList& list) {
  if (!db.IsOpen() || !IsAddressBookTable(table)) return false;
  SqliteStatement q = db.Prepare("SELECT id,name FROM " + std::string(table));
  if (!q.Valid()) return false;
  bool any = false;
  while (q.Step() == SqliteStatement::StepResult::Row) {
    list.emplace_back(Utf8ToUtf16(q.ColumnText(1)), static_cast<int32_t>(q.ColumnInt(0)));
    any = true;
  }
  return any;
}

bool LookupValue(SqliteDb& db, std::string_view column, std::string_view table, std::string& value,
                 std::string_view key_column, std::string_view key_value) {
  if (!db.IsOpen() || !IsAddressBookTable(table) || !IsAddressBookColumn(column) ||
      !IsAddressBookColumn(key_column)) {
    return false;
  }
  SqliteStatement q = db.Prepare("SELECT " + std::string(column) + " FROM " + std::string(table) +
                                 " WHERE " + std::string(key_column) + "=? LIMIT 1");
  if (!q.Valid()) return false;
  q.Bind(1, key_value);
  if (q.Step() != SqliteStatement::StepResult::Row) return false;
  value = q.ColumnText(0);
  return true;
}

int32_t LookupOrInsertName(SqliteDb& db, std::string_view table, std::string_view column,
                           bool lookup_first, std::string_view value) {
  if (!db.IsOpen()) return -1;
  if (!IsAddressBookTable(table) || !IsAddressBookColumn(column)) return -1;
  std::string id;
  if (lookup_first && LookupValue(db, "id", table, id, column, value)) {
    int32_t number = 0;
    const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), number);
    (void)end;
    return ec == std::errc() ? number : 0;
  }
  SqliteStatement ins =
      db.Prepare("INSERT INTO " + std::string(table) + " (" + std::string(column) + ") VALUES (?)");
  if (!ins.Valid()) return -1;
  ins.Bind(1, value);
  if (!ins.Run()) return -1;
  return static_cast<int32_t>(db.LastInsertRowId());
}

bool FindContactInGroup(SqliteDb& db, TContact& contact, int32_t group_id) {
  if (!db.IsOpen()) return false;
  SqliteStatement q = db.Prepare(std::string(kContactByAddressInGroup));
  if (!q.Valid()) return false;
  q.Bind(1, MaskQuotes(contact.Email)).Bind(2, int64_t{group_id});
  if (q.Step() != SqliteStatement::StepResult::Row) return false;
  contact = ReadContactRow(q);
  return true;
}

bool FindGroup(SqliteDb& db, TContact& group) {
  if (!db.IsOpen()) return false;
  SqliteStatement q =
      db.Prepare("SELECT id,name,parent_id FROM eca_groups WHERE name=? AND parent_id=?");
  if (!q.Valid()) return false;
  q.Bind(1, StoredText(group.FirstName)).Bind(2, int64_t{group.CompanyId});
  if (q.Step() != SqliteStatement::StepResult::Row) return false;
  TContact found;
  found.Id = static_cast<int32_t>(q.ColumnInt(0));
  found.FirstName = Utf8ToUtf16(q.ColumnText(1));
  found.CompanyId = static_cast<int32_t>(q.ColumnInt(2));
  found.JobTitleId = 0;
  found.IsContact = false;
  group = found;
  return true;
}

bool ContactEmailExists(SqliteDb& db, std::string_view address) {
  std::string id;
  return LookupValue(db, "id", "eca_contacts", id, "email", MaskQuotes(address));
}

}  // namespace qovra
