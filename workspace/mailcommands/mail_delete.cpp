// Deleting mails (mail_commands.h).
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "qovra/workspace/mail_commands.h"
#include "store/sqlite_db.h"

namespace qovra::mailcmd {

namespace {

bool IsUuid(std::string_view uuid) {
  return uuid.size() == 32 && std::all_of(uuid.begin(), uuid.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

// "?,?,...,?" for n values.
std::string Placeholders(size_t n) {
  std::string text;
  text.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) text += i ? ",?" : "?";
  return text;
}

bool RunChunk(SqliteDb& db, const std::string& sql, const std::vector<TDeleteTarget>& mails,
              size_t first, size_t count, std::string& error) {
  SqliteStatement st = db.Prepare(sql);
  if (!st.Valid()) {
    error = db.LastError();
    return false;
  }
  for (size_t i = 0; i < count; ++i) st.Bind(static_cast<int>(i + 1), mails[first + i].Id);
  if (!st.Run()) {
    error = db.LastError();
    return false;
  }
  return true;
}

}  // namespace

bool DeleteMails(SqliteDb& db, bool from_trash, const std::vector<TDeleteTarget>& mails,
                 const std::string& messages_dir, TProgressProc progress, void* progress_data,
                 std::string& error) {
  error.clear();
  if (!db.IsOpen()) {
    error = "mail database not open";
    return false;
  }
  if (mails.empty()) return true;
  const int64_t total = static_cast<int64_t>(mails.size());
  ReportProgress(progress, progress_data, total, 0);
  {
    SqliteTransaction transaction(db);
    if (!transaction.Active()) {
      error = db.LastError();
      return false;
    }
    for (size_t first = 0; first < mails.size(); first += kDeleteChunk) {
      const size_t count = std::min(kDeleteChunk, mails.size() - first);
      const std::string in = "(" + Placeholders(count) + ")";
      if (from_trash) {
        if (!RunChunk(db, "DELETE FROM ecm_mails WHERE id IN " + in, mails, first, count, error) ||
            !RunChunk(db, "DELETE FROM ecm_recipients WHERE mail_id IN " + in, mails, first, count,
                      error))
          return false;
      } else if (!RunChunk(db, "UPDATE ecm_mails SET folder_id=3 WHERE id IN " + in, mails, first,
                           count, error)) {
        return false;
      }
      if (!from_trash) ReportProgress(progress, progress_data, total, first + count);
    }
    if (!transaction.Commit()) {
      error = db.LastError();
      return false;
    }
  }
  if (!from_trash) return true;
  int64_t done = 0;
  for (const TDeleteTarget& mail : mails) {
    if (IsUuid(mail.Uuid)) {
      for (const char* ext : {".eme", ".emz", ".ems"})
        (void)::unlink((messages_dir + mail.Uuid + ext).c_str());
    }
    ReportProgress(progress, progress_data, total, ++done);
  }
  return true;
}

}  // namespace qovra::mailcmd
