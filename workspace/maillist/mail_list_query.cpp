// One folder's mails with their recipient rows, read in a single query.
#include "mail_list_query.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/base64.h"
#include "base/quoting.h"
#include "base/text_utils.h"
#include "base/time_stamp.h"
#include "mail_list_store.h"

namespace qovra::ui {
namespace {

// Column order of the list query.
enum QueryColumn {
  kId = 0,
  kUuid,
  kFromAddress,
  kSubject,
  kSentTime,
  kReceivedTime,
  kReadTime,
  kFlag,
  kSendMode,
  kToAddress,
  kSuid,
  kYmbox,
  kPriority,
  kMailSize,
  kFauData
};

constexpr const char* kSelect =
    "SELECT m.id,m.uuid,m.from_address,m.subject,r.sent_time,r.received_time,r.read_time,"
    "m.flag,m.send_mode,r.to_address,r.suid,r.ymbox,m.priority,m.mail_size,m.fau_data "
    "FROM ecm_mails AS m LEFT JOIN ecm_recipients AS r ON m.id=r.mail_id ";
// The sent folder's condition would make SQLite merge two index ranges and
// sort every result row; a plain scan of the mails keeps the id order.
constexpr const char* kSelectSent =
    "SELECT m.id,m.uuid,m.from_address,m.subject,r.sent_time,r.received_time,r.read_time,"
    "m.flag,m.send_mode,r.to_address,r.suid,r.ymbox,m.priority,m.mail_size,m.fau_data "
    "FROM ecm_mails AS m NOT INDEXED LEFT JOIN ecm_recipients AS r ON m.id=r.mail_id ";
constexpr const char* kCountRows =
    "SELECT COUNT(*) FROM ecm_mails AS m LEFT JOIN ecm_recipients AS r ON m.id=r.mail_id ";
constexpr const char* kCountMails = "SELECT COUNT(*) FROM ecm_mails AS m ";
// ?1 the folder, ?2 the own address (sent folder only).
constexpr const char* kWhereFolder = "WHERE m.folder_id=?1";
constexpr const char* kWhereSent = "WHERE m.folder_id=?1 OR (m.from_address=?2 AND m.folder_id=0)";
constexpr const char* kWhereId = "WHERE m.id=?1";
constexpr const char* kOrder = " ORDER BY m.id,r.id";

constexpr size_t kMaxSubjectUnits = 1023;
constexpr size_t kUuidLen = 32;

// A decimal integer filling the whole text; 0 for anything else.
int64_t IntOrZero(const SqliteStatement& query, int column) {
  const std::string text = query.ColumnText(column);
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end ? value : 0;
}

SqliteStatement PrepareWith(SqliteDb& db, std::string head, int32_t folder,
                            std::string_view own_address, const char* tail) {
  head += folder == kFolderSent ? kWhereSent : kWhereFolder;
  head += tail;
  SqliteStatement query = db.Prepare(head);
  query.Bind(1, int64_t{folder});
  if (folder == kFolderSent) query.Bind(2, own_address);
  return query;
}

// The single value of a COUNT(*) query; -1 on failure.
int64_t CountOf(SqliteStatement query) {
  if (!query.Valid() || query.Step() != SqliteStatement::StepResult::Row) return -1;
  return query.ColumnInt(0);
}

void AddRecipient(TMailListRow& row, std::string address) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  if (!address.empty() && (blank(address.front()) || blank(address.back())))
    address = TrimBlanks(address);
  if (!address.empty()) row.Recipients.push_back(std::move(address));
}

void FillRow(const SqliteStatement& query, int32_t folder, TMailListRow& row) {
  row.Id = static_cast<int32_t>(query.ColumnInt(kId));
  row.Uuid = query.ColumnText(kUuid).substr(0, kUuidLen);
  row.Suid = query.ColumnText(kSuid).substr(0, kUuidLen);
  row.FromAddress = query.ColumnText(kFromAddress);
  row.Subject = MailListSubject(query.ColumnText(kSubject));
  row.FolderId = folder;
  row.SentTime = StampToDateTime(query.ColumnText(kSentTime));
  row.ReceivedTime = StampToDateTime(query.ColumnText(kReceivedTime));
  row.ReadTime = StampToDateTime(query.ColumnText(kReadTime));
  row.Flags = static_cast<uint16_t>(IntOrZero(query, kFlag));
  row.SendMode = static_cast<uint8_t>(IntOrZero(query, kSendMode));
  row.Ymbox = static_cast<int32_t>(IntOrZero(query, kYmbox));
  row.Priority = static_cast<uint8_t>(IntOrZero(query, kPriority));
  row.MailSize = IntOrZero(query, kMailSize);
  row.FauKey = MailListFauKey(query.ColumnText(kFauData));
  AddRecipient(row, query.ColumnText(kToAddress));
}

bool Fail(SqliteDb& db, TMailListStore& rows, std::string& error) {
  rows.Clear();
  error = db.LastError();
  return false;
}

}  // namespace

QString MailListSubject(std::string_view stored) {
  QString subject = stored.find('&') == std::string_view::npos
                        ? QString::fromUtf8(stored.data(), static_cast<qsizetype>(stored.size()))
                        : QString::fromStdString(XmlEntities(stored, false));
  if (static_cast<size_t>(subject.size()) > kMaxSubjectUnits) {
    qsizetype keep = static_cast<qsizetype>(kMaxSubjectUnits);
    if (subject.at(keep - 1).isHighSurrogate()) --keep;
    subject.truncate(keep);
  }
  return subject;
}

std::array<uint8_t, 65> MailListFauKey(std::string_view fau_data) {
  std::array<uint8_t, 65> key{};
  if (fau_data.size() <= 64) return key;
  const std::string bytes = Base64Decode(fau_data);
  std::memcpy(key.data(), bytes.data(), std::min(bytes.size(), key.size()));
  return key;
}

bool LoadMailListRows(SqliteDb& db, int32_t folder, std::string_view own_address,
                      const std::function<void(int64_t, int64_t)>& progress, TMailListStore& rows,
                      std::string& error) {
  rows.Clear();
  error.clear();
  if (!db.IsOpen()) return false;
  SqliteTransaction transaction(db);
  if (!transaction.Active()) return Fail(db, rows, error);

  const int64_t mails = CountOf(PrepareWith(db, kCountMails, folder, own_address, ""));
  if (mails < 0) return Fail(db, rows, error);
  rows.Reserve(static_cast<size_t>(mails));
  int64_t total = 0;
  if (progress) {
    total = CountOf(PrepareWith(db, kCountRows, folder, own_address, ""));
    if (total < 0) return Fail(db, rows, error);
    if (total > 0) progress(0, total);
  }
  const int64_t step = std::max<int64_t>(1, total / 100);
  int64_t next_report = step;

  SqliteStatement query =
      PrepareWith(db, folder == kFolderSent ? kSelectSent : kSelect, folder, own_address, kOrder);
  if (!query.Valid()) return Fail(db, rows, error);
  int64_t done = 0;
  // One mail spans consecutive query rows; it is stored once complete.
  TMailListRow pending;
  bool have_pending = false;
  for (;;) {
    const SqliteStatement::StepResult result = query.Step();
    if (result == SqliteStatement::StepResult::Error) return Fail(db, rows, error);
    if (result == SqliteStatement::StepResult::Done) break;
    const int32_t id = static_cast<int32_t>(query.ColumnInt(kId));
    if (have_pending && pending.Id == id) {
      AddRecipient(pending, query.ColumnText(kToAddress));
    } else {
      if (have_pending) rows.Append(pending, folder);
      pending = TMailListRow();
      FillRow(query, folder, pending);
      have_pending = true;
    }
    ++done;
    if (progress && (done >= next_report || done == total)) {
      progress(std::min(done, total), total);
      next_report = done + step;
    }
  }
  if (have_pending) rows.Append(pending, folder);
  if (!transaction.Commit()) return Fail(db, rows, error);
  rows.Shrink();
  return true;
}

bool LoadMailListRow(SqliteDb& db, int32_t folder, int32_t id, TMailListRow& row,
                     std::string& error) {
  error.clear();
  if (!db.IsOpen()) return false;
  SqliteStatement query = db.Prepare(std::string(kSelect) + kWhereId + kOrder);
  if (!query.Valid()) {
    error = db.LastError();
    return false;
  }
  query.Bind(1, int64_t{id});
  TMailListRow read;
  bool found = false;
  for (;;) {
    const SqliteStatement::StepResult result = query.Step();
    if (result == SqliteStatement::StepResult::Error) {
      error = db.LastError();
      return false;
    }
    if (result == SqliteStatement::StepResult::Done) break;
    if (found) {
      AddRecipient(read, query.ColumnText(kToAddress));
    } else {
      FillRow(query, folder, read);
      found = true;
    }
  }
  if (found) row = std::move(read);
  return found;
}

}  // namespace qovra::ui
