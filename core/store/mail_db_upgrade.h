// Bringing an older mail database up to date.
//
// UpgradeMailSchema adds, one by one, the columns that older databases
// lack: ecm_recipients.send_flag (INTEGER DEFAULT 0), ecm_mails.mail_size
// (INTEGER DEFAULT 0) and ecm_mails.fau_data (VARCHAR(128)). Each step first
// looks at the table's definition and changes nothing when the column is
// there, so running it again is harmless. Interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include "store/sqlite_db.h"

namespace qovra {

// True when every column is there afterwards. False, with the reason in
// *error (when given), when the database is not open, a table is missing or
// a statement failed; the steps done before the failure stay.
[[nodiscard]] bool UpgradeMailSchema(SqliteDb& db, std::string* error = nullptr);

}  // namespace qovra
