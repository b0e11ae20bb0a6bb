// Saving mail headers and recipient rows.
#include <cmath>
#include <limits>
#include <string>

#include "base/quoting.h"
#include "base/text_utils.h"
#include "base/time_stamp.h"
#include "base/utf.h"
#include "keys/random_text.h"
#include "store/mail_db.h"

namespace qovra {
namespace {

constexpr int64_t kProgressTotal = 100;

std::string StoredSubject(const TMailMessage& mail) {
  return XmlEntities(Utf16ToUtf8(mail.Subject.view()), true);
}

// A row id as the 32-bit Id of TMailMessage; 0 when it does not fit.
int32_t ToMailId(int64_t id) {
  return id > 0 && id <= std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(id) : 0;
}

int32_t InsertHeader(SqliteDb& db, const TMailMessage& mail) {
  SqliteStatement insert = db.Prepare(
      "INSERT INTO ecm_mails (uuid,from_address,subject,folder_id,priority,send_mode,mail_size,"
      "flag) VALUES (?,?,?,?,?,?,?,?)");
  insert.Bind(1, mail.Uuid.view())
      .Bind(2, mail.FromAddress.view())
      .Bind(3, StoredSubject(mail))
      .Bind(4, int64_t{mail.FolderId})
      .Bind(5, int64_t{mail.Priority})
      .Bind(6, int64_t{mail.SendMode})
      .Bind(7, mail.MailSize)
      .Bind(8, int64_t{mail.Flags});
  if (!insert.Run()) return 0;
  return ToMailId(db.LastInsertRowId());
}

bool UpdateHeader(SqliteDb& db, const TMailMessage& mail, int32_t id) {
  const bool with_size = mail.MailSize != 0;
  SqliteStatement update = db.Prepare(
      with_size ? "UPDATE ecm_mails SET uuid = ?,from_address=?,subject=?,folder_id=?,flag=?,"
                  "priority=?,send_mode=? ,mail_size=? WHERE id=?"
                : "UPDATE ecm_mails SET uuid = ?,from_address=?,subject=?,folder_id=?,flag=?,"
                  "priority=?,send_mode=? WHERE id=?");
  update.Bind(1, mail.Uuid.view())
      .Bind(2, mail.FromAddress.view())
      .Bind(3, StoredSubject(mail))
      .Bind(4, int64_t{mail.FolderId})
      .Bind(5, int64_t{mail.Flags})
      .Bind(6, int64_t{mail.Priority})
      .Bind(7, int64_t{mail.SendMode});
  int next = 8;
  if (with_size) update.Bind(next++, mail.MailSize);
  update.Bind(next, int64_t{id});
  return update.Run();
}

bool DeleteRecipients(SqliteDb& db, const TMailMessage& mail, int32_t id,
                      std::string_view own_address) {
  const bool own_copy_only =
      mail.FolderId == kFolderInbox && SameTextAscii(mail.FromAddress.view(), own_address);
  SqliteStatement del = db.Prepare(
      own_copy_only ? "DELETE FROM ecm_recipients WHERE mail_id=? AND to_address=? COLLATE NOCASE"
                    : "DELETE FROM ecm_recipients WHERE mail_id=?");
  del.Bind(1, int64_t{id});
  if (own_copy_only) del.Bind(2, own_address);
  return del.Run();
}

bool InsertRecipients(SqliteDb& db, const TMailMessage& mail, int32_t id, TProgressProc progress,
                      void* progress_data) {
  SqliteStatement insert = db.Prepare(
      "INSERT INTO ecm_recipients (mail_id,suid,ymbox,sent_time,received_time,read_time,"
      "to_address) VALUES (?,?,?,?,?,?,?)");
  if (!insert.Valid()) return false;
  const std::string sent = DateTimeToStamp(true, mail.SentTime);
  const std::string received = DateTimeToStamp(true, mail.ReceivedTime);
  const std::string read = DateTimeToStamp(true, mail.ReadTime);
  const size_t count = mail.Recipients.Count();
  for (size_t i = 0; i < count; ++i) {
    const std::string suid = mail.Suid.empty() ? RandomHexString(16) : mail.Suid.str();
    insert.Reset();
    insert.Bind(1, int64_t{id})
        .Bind(2, suid)
        .Bind(3, int64_t{mail.Ymbox})
        .Bind(4, sent)
        .Bind(5, received)
        .Bind(6, read)
        .Bind(7, mail.Recipients[i]);
    if (!insert.Run()) return false;
    const auto step = std::lround(60.0 * static_cast<double>(i) / static_cast<double>(count));
    ReportProgress(progress, progress_data, kProgressTotal, 40 + step);
  }
  return true;
}

}  // namespace

int32_t SaveMailHeader(SqliteDb& db, const TMailMessage& mail, TProgressProc progress,
                       void* progress_data, bool keep_existing, bool& existed) {
  existed = false;
  if (!db.IsOpen()) return 0;
  ReportProgress(progress, progress_data, kProgressTotal, 0);
  SqliteStatement lookup = db.Prepare("SELECT id FROM ecm_mails WHERE uuid=?");
  lookup.Bind(1, mail.Uuid.view());
  const SqliteStatement::StepResult found = lookup.Step();
  if (found == SqliteStatement::StepResult::Error) return 0;
  ReportProgress(progress, progress_data, kProgressTotal, 10);

  if (found == SqliteStatement::StepResult::Done) {
    const int32_t id = InsertHeader(db, mail);
    if (id != 0) ReportProgress(progress, progress_data, kProgressTotal, 20);
    return id;
  }
  const int32_t id = ToMailId(lookup.ColumnInt(0));
  if (id == 0) return 0;
  if (keep_existing) {
    existed = true;
    return id;
  }
  if (!UpdateHeader(db, mail, id)) return 0;
  ReportProgress(progress, progress_data, kProgressTotal, 20);
  existed = true;
  return id;
}

int32_t SaveMailToDatabase(SqliteDb& db, const TMailMessage& mail, std::string_view own_address,
                           TProgressProc progress, void* progress_data, bool keep_existing) {
  if (!db.IsOpen()) return 0;
  SqliteTransaction transaction(db);
  if (!transaction.Active()) return 0;
  bool existed = false;
  const int32_t id = SaveMailHeader(db, mail, progress, progress_data, keep_existing, existed);
  if (id == 0) return 0;
  if (existed && keep_existing) return transaction.Commit() ? id : 0;
  if (existed) {
    if (!DeleteRecipients(db, mail, id, own_address)) return 0;
    ReportProgress(progress, progress_data, kProgressTotal, 40);
  }
  if (!InsertRecipients(db, mail, id, progress, progress_data)) return 0;
  return transaction.Commit() ? id : 0;
}

}  // namespace qovra
