// The window-free part of the main window's mail commands: deleting mails,
// the plain-text rendering of a mail and its save-as file, and the copy a
// forward starts from.
//
// Interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "base/stream.h"

namespace qovra {
class SqliteDb;
class TMailReader;
}  // namespace qovra

namespace qovra::mailcmd {

// Delete ----------------------------------------------------------------

// One mail to delete: its row id and the uuid that names its files.
struct TDeleteTarget {
  int32_t Id = 0;
  std::string Uuid;
};

// Ids per statement: a statement never holds one term per selected mail.
constexpr size_t kDeleteChunk = 500;

// Deletes mails. from_trash false: moves them to the trash (folder 3),
// files kept. from_trash true: removes their ecm_mails and ecm_recipients
// rows for good, then their three files <uuid>.eme, .emz and .ems in
// messages_dir (missing files ignored; a uuid that is not 32 hexadecimal
// digits names no file). All statements run in chunks of kDeleteChunk ids
// inside one transaction; files are removed only after the commit.
// Progress (count, done) after each chunk and each mail's files. False
// when a statement or the commit failed: then nothing changed (rows and
// files as before) and error says why.
[[nodiscard]] bool DeleteMails(SqliteDb& db, bool from_trash,
                               const std::vector<TDeleteTarget>& mails,
                               const std::string& messages_dir, TProgressProc progress,
                               void* progress_data, std::string& error);

// Text rendering and save as --------------------------------------------

// text with every line end made CR LF: a CR LF, a lone LF and a lone CR
// each count as one (bodies of other writers may end lines with LF).
std::u16string WithCrLf(std::u16string_view text);

// The mail as plain text, every line ending in CR LF (the body's own line
// ends too, whatever form they had): a rule of 61 "-", the From, To,
// Subject and Date lines (labels msgFrom, msgTo, msgSubject, msgDate; the
// date as "yyyy.mm.dd hh:mm:ss"), the msgAttachments line with the names
// joined by ", " when there are any, the rule, an empty line, the body, an
// empty line and the rule.
std::u16string FormatMailAsText(const TMailReader& reader);

// The body of a reply to text: four line ends, then text with "> " before
// its first line and after every line end (any form, as WithCrLf reads
// them); every line end of the result is CR LF.
std::u16string QuoteForReply(std::u16string_view text);

// The proposed save-as name: subject + ext, every character that cannot
// stand in a file name or could lead out of the folder replaced by ".":
// "<>:\/*?|" and the double quote, control characters; a name that would
// start with "." (a hidden file, "..") gets "_" in front. Cut to 255 bytes
// of UTF-8 with the extension. REQUIRES: ext is ASCII.
std::u16string SaveAsFileName(std::u16string_view subject, std::u16string_view ext = u".txt");

// Writes EF BB BF and the UTF-8 of text to path, through a temporary file
// beside it (path + ".part", the name cut to fit 255 bytes) renamed over
// path. False (path unchanged, no temporary file left) when writing fails;
// error says why.
[[nodiscard]] bool WriteMailTextFile(const std::string& path, std::u16string_view text,
                                     std::string& error);

// Forward ---------------------------------------------------------------

// Copies the whole of source (from its start) into dest from its start and
// truncates dest to the bytes written; source is only read. False when the
// copy falls short or the size cannot be set.
[[nodiscard]] bool CopyMailInto(TStream& source, TStream& dest, TProgressProc progress,
                                void* progress_data);

// Whether a row of ecm_mails in db refers to uuid (whose file must then
// stay). True also when it cannot be told (the query fails), so that a
// file is never removed under its row; false when db is not open.
[[nodiscard]] bool MailRowRefersTo(SqliteDb& db, std::string_view uuid);

}  // namespace qovra::mailcmd
