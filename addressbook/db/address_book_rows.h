// Statement pieces and row readers shared by the address-book sources.
#pragma once

#include <string>
#include <string_view>

#include "base/quoting.h"
#include "base/records.h"
#include "base/utf.h"
#include "store/sqlite_db.h"

namespace qovra::addrbook_detail {

// The contact select list with its joins; a WHERE clause follows.
inline constexpr std::string_view kContactSelect =
    "SELECT c.id,c.first_name,c.middle_name,c.last_name,c.email,c.company_id,o.name,"
    "c.job_title_id,j.name FROM eca_contacts AS c "
    "LEFT JOIN eca_companies AS o ON c.company_id=o.id "
    "LEFT JOIN eca_job_titles AS j ON c.job_title_id=j.id "
    "LEFT JOIN eca_group_contacts AS g ON c.id=g.contact_id ";

// The contact of an address in a group (address, group id), found by its
// address first: a group may hold the whole book.
inline constexpr std::string_view kContactByAddressInGroup =
    "SELECT c.id,c.first_name,c.middle_name,c.last_name,c.email,c.company_id,o.name,"
    "c.job_title_id,j.name FROM eca_contacts AS c "
    "CROSS JOIN eca_group_contacts AS g ON g.contact_id=c.id "
    "LEFT JOIN eca_companies AS o ON c.company_id=o.id "
    "LEFT JOIN eca_job_titles AS j ON c.job_title_id=j.id "
    "WHERE c.email=? AND g.group_id=? LIMIT 1";

// A wide text as stored: UTF-8 with its quotes masked.
inline std::string StoredText(std::u16string_view text) {
  return MaskQuotes(Utf16ToUtf8(text));
}

// A row of kContactSelect as a contact record; a missing company or title
// reads as an empty text.
inline TContact ReadContactRow(const SqliteStatement& row) {
  TContact c;
  c.Id = static_cast<int32_t>(row.ColumnInt(0));
  c.FirstName = Utf8ToUtf16(row.ColumnText(1));
  c.MiddleName = Utf8ToUtf16(row.ColumnText(2));
  c.LastName = Utf8ToUtf16(row.ColumnText(3));
  c.Email = row.ColumnText(4);
  c.CompanyId = static_cast<int32_t>(row.ColumnInt(5));
  c.Company = Utf8ToUtf16(row.ColumnText(6));
  c.JobTitleId = static_cast<int32_t>(row.ColumnInt(7));
  c.JobTitle = Utf8ToUtf16(row.ColumnText(8));
  c.IsContact = true;
  return c;
}

}  // namespace qovra::addrbook_detail
