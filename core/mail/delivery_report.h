// The delivery report of a sent mail: its recipient rows from the mail
// database and the fixed-width text the report dialog shows and prints.
//
// Text layout (CR LF line ends): the title and an empty line; sender,
// subject and sending time; a rule of 83 "-"; the column heads; a rule;
// one line per recipient (address in 35 characters, received time in 24,
// read time); a closing rule without a line end. The zero time shows as
// "-". A cell text as wide as its column fills it, right up to the next
// column; a longer one is cut and ends in "…" and a blank, so every row
// keeps its columns. Widths count UTF-16 code units. Interface thread only
// (the labels come from GetMsg).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "store/sqlite_db.h"

namespace qovra {

// One row of ecm_recipients, times as stored ("yyyy-mm-dd hh:nn:ss").
struct TMailReportRow {
  std::string Address;
  std::string SentTime;
  std::string ReceivedTime;
  std::string ReadTime;
};

constexpr size_t kReportRuleWidth = 83;
constexpr size_t kReportAddressWidth = 35;
constexpr size_t kReportTimeWidth = 24;

// The recipient rows of mail mail_id, ordered by address. False, with rows
// empty, when the database is not open or the query failed (db.LastError()
// says why).
[[nodiscard]] bool LoadMailReportRows(SqliteDb& db, int32_t mail_id,
                                      std::vector<TMailReportRow>& rows);

// A stored time as the report shows it: "-" for the zero time (or an
// empty text), else the text as stored.
std::string ReportTimeCell(std::string_view stored);

// text padded with blanks to width; a text longer than width is cut to
// width - 2 units followed by "…" and a blank.
std::u16string PadReportCell(std::u16string_view text, size_t width);

// The three header lines (sender, subject, sending time as
// "yyyy.mm.dd hh:nn:ss"), joined by CR LF, without a final line end.
std::u16string MailReportHeader(std::string_view from, std::u16string_view subject,
                                TDateTime sent_time);

// The whole report text.
std::u16string MailReportText(std::string_view from, std::u16string_view subject,
                              TDateTime sent_time, const std::vector<TMailReportRow>& rows);

}  // namespace qovra
