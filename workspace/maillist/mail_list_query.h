// Reading one folder's mails for the mail list.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "qovra/workspace/mail_list_model.h"
#include "store/sqlite_db.h"

namespace qovra::ui {

class TMailListStore;

// Reads the mails of folder from db in one transaction, in id order, into
// rows: one row per mail with the recipients of all its recipient rows. For
// the sent folder the inbox mails from own_address are read too; column 2
// of the list follows folder. progress, when set, is called with (done, total)
// query rows: once with done 0, then now and then, last with done = total.
//
// rows is cleared first. On failure rows is left empty and error holds
// SQLite's reason for the log (a missing table, a failed step), empty when
// the database is not open.
[[nodiscard]] bool LoadMailListRows(SqliteDb& db, int32_t folder, std::string_view own_address,
                                    const std::function<void(int64_t, int64_t)>& progress,
                                    TMailListStore& rows, std::string& error);

// Reads the one mail id from db as LoadMailListRows would list it in
// folder (its recipients in row order; column 2 follows folder). False when
// the database is not open, the query failed (error says why) or no mail has
// that id (error empty); row is then unchanged.
[[nodiscard]] bool LoadMailListRow(SqliteDb& db, int32_t folder, int32_t id, TMailListRow& row,
                                   std::string& error);

// The subject as the list shows it: the stored text with its XML entities
// decoded, read as UTF-8, cut to 1023 UTF-16 units (a surrogate pair is
// never split).
QString MailListSubject(std::string_view stored);

// The sealed key from fau_data: zero when the text has 64 characters or
// fewer, else the first 65 bytes of its Base64 decoding (zero-padded; all
// zero when it does not decode).
std::array<uint8_t, 65> MailListFauKey(std::string_view fau_data);

}  // namespace qovra::ui
