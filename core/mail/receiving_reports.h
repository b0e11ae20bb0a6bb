// The report section of the new-mails reply.
#pragma once

#include <pugixml.hpp>

#include "store/sqlite_db.h"

namespace qovra {

// Writes the delivery and read times of report (the `mails_report`
// element) to the recipient rows of db named by each child's suid, in one
// transaction. A child is skipped when its suid is not a server copy id
// (IsServerCopyId, the form a send stores), a time is not a time text, or
// its received time is the zero time; a zero read time leaves read_time
// alone. bar is moved once per child. Returns the entries applied; 0 when
// the database is not open or the transaction failed (then nothing was
// written).
int ApplyMailReports(SqliteDb& db, const pugi::xml_node& report, void* bar);

}  // namespace qovra
