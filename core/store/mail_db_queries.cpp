// Flags, counts and the list of awaited reports.
#include <algorithm>
#include <string>
#include <vector>

#include "base/address_list.h"
#include "base/quoting.h"
#include "base/text_utils.h"
#include "store/mail_db.h"

namespace qovra {
namespace {

int32_t CountOf(SqliteStatement& query) {
  if (query.Step() != SqliteStatement::StepResult::Row) return 0;
  return static_cast<int32_t>(query.ColumnInt(0));
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

struct PendingReport {
  std::string domain;
  std::string value;  // mailbox number followed by the suid
  std::string key;    // domain "=" value, lower-case, for sorting
};

}  // namespace

bool SetMailFlag(SqliteDb& db, int32_t id, uint16_t flags) {
  if (!db.IsOpen()) return false;
  SqliteStatement update = db.Prepare("UPDATE ecm_mails SET flag=? WHERE id=?");
  update.Bind(1, int64_t{flags}).Bind(2, int64_t{id});
  return update.Run();
}

int32_t CountFolderMails(SqliteDb& db, int32_t folder_id, std::string_view own_address) {
  if (!db.IsOpen()) return 0;
  if (folder_id == kFolderSent) {
    SqliteStatement query = db.Prepare(
        "SELECT COUNT(*) FROM ecm_mails WHERE folder_id=? OR (from_address=? AND folder_id=0)");
    query.Bind(1, int64_t{folder_id}).Bind(2, own_address);
    return CountOf(query);
  }
  SqliteStatement query = db.Prepare("SELECT COUNT(*) FROM ecm_mails WHERE folder_id=?");
  query.Bind(1, int64_t{folder_id});
  return CountOf(query);
}

int32_t CountUnreadMails(SqliteDb& db) {
  if (!db.IsOpen()) return 0;
  SqliteStatement query =
      db.Prepare("SELECT COUNT(*) FROM ecm_mails WHERE folder_id=0 AND (flag & ?)=0");
  query.Bind(1, int64_t{mfRead});
  return CountOf(query);
}

bool BuildPendingReportList(SqliteDb& db, std::string& xml) {
  xml.clear();
  if (!db.IsOpen()) return true;
  SqliteStatement query = db.Prepare(
      "SELECT r.to_address,r.ymbox,r.suid FROM ecm_mails AS m LEFT JOIN ecm_recipients AS r "
      "ON m.id=r.mail_id WHERE (((m.flag & ?1)=?1) OR ((m.flag & ?2)=?2)) AND "
      "((m.flag & ?3)=?3) AND ((m.flag & ?4)!=?4)");
  query.Bind(1, int64_t{mfDeliveryReport})
      .Bind(2, int64_t{mfReadReport})
      .Bind(3, int64_t{mfSent})
      .Bind(4, int64_t{mfReportDone});
  std::vector<PendingReport> reports;
  for (;;) {
    const SqliteStatement::StepResult step = query.Step();
    if (step == SqliteStatement::StepResult::Error) return false;
    if (step == SqliteStatement::StepResult::Done) break;
    const std::string suid = query.ColumnText(2);
    const int32_t ymbox = VarToIntDef(query.ColumnText(1), 0);
    if (suid.empty() || ymbox <= 0) continue;
    PendingReport r;
    r.domain = SplitMailAddress(query.ColumnText(0)).Domain;
    r.value = std::to_string(ymbox) + suid;
    r.key = LowerAscii(r.domain + "=" + r.value);
    reports.push_back(std::move(r));
  }
  std::stable_sort(reports.begin(), reports.end(),
                   [](const PendingReport& a, const PendingReport& b) { return a.key < b.key; });

  for (size_t i = 0; i < reports.size(); ++i) {
    const std::string domain = XmlEntities(reports[i].domain, true);
    const std::string value = XmlEntities(reports[i].value, true);
    if (i == 0) {
      xml += "<domain val=\"" + domain + "\"><suid val=\"" + value + "\" />";
    } else if (SameTextAscii(reports[i].domain, reports[i - 1].domain)) {
      xml += "<suid val=\"" + value + "\"/>";
    } else {
      xml += "</domain><domain val=\"" + domain + "\"><suid val=\"" + value + "\"/>";
    }
  }
  if (!xml.empty()) xml += "</domain>";
  return true;
}

}  // namespace qovra
