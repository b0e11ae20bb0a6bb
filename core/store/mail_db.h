// The mail database (ecm.edb): mail headers in ecm_mails, one row per
// recipient copy in ecm_recipients.
//
// Every routine takes the open database; when it is not open the routine
// does nothing and returns its empty result (0, false, empty text). All
// values are bound. Stored text: the subject as UTF-8 with the five XML
// entities applied (XmlEntities), addresses, uuids and suids as given,
// times as time text ("0000-00-00 00:00:00" for none). Interface thread
// only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/records.h"
#include "store/sqlite_db.h"

namespace qovra {

// Sets the flag word of the mail with row id id. False when the statement
// failed (the reason is in db.LastError()).
bool SetMailFlag(SqliteDb& db, int32_t id, uint16_t flags);

// Mails in folder_id. For the sent folder, inbox mails sent by own_address
// (mails to oneself) count as sent too.
int32_t CountFolderMails(SqliteDb& db, int32_t folder_id, std::string_view own_address);

// Inbox mails without mfRead.
int32_t CountUnreadMails(SqliteDb& db);

// The awaited delivery and read reports as sent with the new-mail request:
// for every recipient row of a mail that asked for a report, was sent by
// the user and has no complete report, with a suid and a mailbox number
// above 0, grouped by the recipient's domain (text order, case ignored):
//   <domain val="D"><suid val="<ymbox><suid>" /><suid val="..."/></domain>...
// xml is empty when nothing is awaited or the database is not open. False,
// with xml empty, when the query fails (db.LastError() says why): an
// empty list would ask the server for no reports at all.
[[nodiscard]] bool BuildPendingReportList(SqliteDb& db, std::string& xml);

// Stores the header of mail: a new row when its uuid is not stored yet,
// else (unless keep_existing) an update of every header column of that row
// (the size only when MailSize is not 0). existed tells whether the uuid
// was stored. Progress: (100, 0), (100, 10), (100, 20) after the write.
// Returns the mail's row id; 0 on failure (nothing of this call written,
// when the caller rolls back).
[[nodiscard]] int32_t SaveMailHeader(SqliteDb& db, const TMailMessage& mail, TProgressProc progress,
                                     void* progress_data, bool keep_existing, bool& existed);

// Stores header and recipients in one transaction: SaveMailHeader; for a
// stored mail with keep_existing nothing more; else the mail's recipient
// rows are replaced (for an inbox mail from own_address only the row of
// own_address) by one row per entry of Recipients, with Suid (or 32 random
// hexadecimal digits when Suid is empty), Ymbox and the three times.
// Progress up to (100, 40 + 60 * i / count). Returns the row id; 0 on any
// failure, and then nothing of the call remains in the database.
[[nodiscard]] int32_t SaveMailToDatabase(SqliteDb& db, const TMailMessage& mail,
                                         std::string_view own_address, TProgressProc progress,
                                         void* progress_data, bool keep_existing);

}  // namespace qovra
