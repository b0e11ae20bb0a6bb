// The delivery report's rows and text.
#include "mail/delivery_report.h"

#include <cstdio>

#include "base/messages.h"
#include "base/time_stamp.h"
#include "base/utf.h"

namespace qovra {

namespace {

constexpr char16_t kCrLf[] = u"\r\n";
constexpr char kZeroTime[] = "0000-00-00 00:00:00";

std::u16string Rule() {
  return std::u16string(kReportRuleWidth, u'-');
}

std::u16string Msg(std::string_view key) {
  return Utf8ToUtf16(GetMsg(key));
}

std::u16string SentTimeText(TDateTime time) {
  TDateTimeParts p{};
  if (!DecodeDateTime(time, p)) p = {1899, 12, 30, 0, 0, 0, 0};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d.%02d.%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return Utf8ToUtf16(buf);
}

}  // namespace

bool LoadMailReportRows(SqliteDb& db, int32_t mail_id, std::vector<TMailReportRow>& rows) {
  rows.clear();
  if (!db.IsOpen()) return false;
  SqliteStatement q = db.Prepare(
      "SELECT to_address,sent_time,received_time,read_time FROM ecm_recipients "
      "WHERE mail_id=? ORDER BY to_address");
  if (!q.Valid()) return false;
  q.Bind(1, int64_t{mail_id});
  for (;;) {
    const SqliteStatement::StepResult step = q.Step();
    if (step == SqliteStatement::StepResult::Done) return true;
    if (step != SqliteStatement::StepResult::Row) {
      rows.clear();
      return false;
    }
    rows.push_back({q.ColumnText(0), q.ColumnText(1), q.ColumnText(2), q.ColumnText(3)});
  }
}

std::string ReportTimeCell(std::string_view stored) {
  if (stored.empty() || stored == kZeroTime) return "-";
  return std::string(stored);
}

std::u16string PadReportCell(std::u16string_view text, size_t width) {
  std::u16string cell;
  if (width >= 2 && text.size() > width) {
    cell = text.substr(0, Utf16CutLength(text, width - 2));
    cell += u'\u2026';
  } else {
    cell = text;
  }
  if (cell.size() < width) cell.append(width - cell.size(), u' ');
  return cell;
}

std::u16string MailReportHeader(std::string_view from, std::u16string_view subject,
                                TDateTime sent_time) {
  std::u16string text = Msg("msgSender") + u": " + Utf8ToUtf16(from) + kCrLf;
  text += Msg("msgMailSubject") + u": " + std::u16string(subject) + kCrLf;
  text += Msg("msgSendTime") + u": " + SentTimeText(sent_time);
  return text;
}

std::u16string MailReportText(std::string_view from, std::u16string_view subject,
                              TDateTime sent_time, const std::vector<TMailReportRow>& rows) {
  std::u16string text = Msg("msgMailReportTitle") + kCrLf + kCrLf;
  text += MailReportHeader(from, subject, sent_time);
  text += kCrLf + Rule() + kCrLf;
  text += PadReportCell(Msg("msgRecipients"), kReportAddressWidth) +
          PadReportCell(Msg("msgReceived"), kReportTimeWidth) + Msg("msgRead") + kCrLf;
  text += Rule() + kCrLf;
  for (const TMailReportRow& row : rows) {
    text += PadReportCell(Utf8ToUtf16(row.Address), kReportAddressWidth) +
            PadReportCell(Utf8ToUtf16(ReportTimeCell(row.ReceivedTime)), kReportTimeWidth) +
            Utf8ToUtf16(ReportTimeCell(row.ReadTime)) + kCrLf;
  }
  text += Rule();
  return text;
}

}  // namespace qovra
