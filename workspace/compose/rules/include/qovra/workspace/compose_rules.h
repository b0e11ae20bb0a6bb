// The compose windows' rules that need no window: completion of the
// recipients field, the checks on attached files and their captions, the
// size limit of a mail container and its safe writing.
//
// Texts are UTF-16 as the windows hold them; carets are UTF-16 positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "base/stream.h"

namespace qovra {
class SqliteDb;
class TEFileStream;
class TMailReader;
class TMailWriter;
}  // namespace qovra

namespace qovra::compose {

// Completion ------------------------------------------------------------

// The part of the recipients text that suggestions are looked up for, the
// caret at caret: the whole text, or, when a "," or ";" before the caret
// follows the first character, the text after it (blanks and separators
// skipped) up to the end of the whole text.
std::u16string CompletionFragment(std::u16string_view text, size_t caret);

// The recipients text after choosing item with the caret at caret: the text
// before the caret (leading blanks dropped) up to and with its last "," or
// ";", one blank and item; item alone when there is no separator. The
// caret goes to its end.
std::u16string AcceptSuggestion(std::u16string_view text, size_t caret, std::u16string_view item);

// A contact's completion text: "last first middle <email>", or the bare
// address when the name is empty.
std::u16string SuggestionText(const TContact& contact);

// Whether display is offered for fragment: fragment occurs anywhere in it
// without regard to case and is not the whole of it. Empty never matches.
bool SuggestionMatches(std::u16string_view fragment, std::u16string_view display);

// Every contact of the address book db offered for fragment, sorted as the
// completion list shows them, each text once. False when the book is closed or cannot be
// read (suggestions then stay empty).
bool FillContactSuggestions(SqliteDb& db, std::u16string_view fragment,
                            std::vector<std::u16string>& suggestions);

// Attachments -----------------------------------------------------------

// The longest path an attachment row holds (its record's FileName).
constexpr size_t kMaxAttachmentPathChars = 259;

// Why a file is not attached; the order is the order of the checks.
enum class TAttachCheck { Accepted, TooLong, Exists, Empty, Forbidden };

// ".exe", ".cmd", ".bat" or ".com" in any letter case.
bool IsForbiddenAttachment(std::u16string_view path);

// The check of one chosen or dropped path: too long for the row's record,
// already attached, empty (size 0, also when unreadable), forbidden type.
TAttachCheck CheckAttachment(std::u16string_view path, int64_t size, bool already_attached);

// The refusals of one batch, each list made of three blanks, the path and
// a carriage return per file.
struct TAttachRefusals {
  std::string Exists;
  std::string Empty;
  std::string Forbidden;
  std::string TooLong;

  void Add(TAttachCheck check, std::u16string_view path);
  // The message key for the three lists exists, empty and forbidden; empty
  // when none of them holds a file.
  std::string MessageKey() const;
  // That key's text filled with the lists, then "msgAttachedFilePathTooLong"
  // with its list when paths were too long; empty when nothing was refused.
  std::string MessageText() const;
};

// A row's caption: the bare file name and its size in brackets
// (FormatByteSize).
std::u16string AttachmentCaption(std::u16string_view path, int64_t size);

// Containers ------------------------------------------------------------

// The largest container the receiving side can take (its size field).
constexpr int64_t kMaxContainerSize = 0xFFFFFFFFll;

enum class TContainerWrite {
  Written,     // the file holds the new container; stream is open on it
  NotCreated,  // the temporary file could not be created (shown by the stream)
  Failed,      // writing failed; the old file is unchanged
  TooBig,      // the container would pass the cap; the old file is unchanged
};

// Writes a container to path through a temporary file beside it (0600),
// renamed over path only after write returned true for a complete write
// within cap bytes. On Written stream is left open on the file (position
// unspecified); otherwise stream is empty and the temporary file is gone.
TContainerWrite WriteContainerFile(const std::string& path,
                                   const std::function<bool(TStream&)>& write,
                                   std::unique_ptr<TEFileStream>& stream,
                                   int64_t cap = kMaxContainerSize);

// Copies the attachment at data_offset of reader into writer as its next
// attachment, through chunks of 8192 bytes with progress (size, done) after
// each. False when the reader has no such attachment (nothing written) or
// the copy falls short.
bool CopyReaderAttachment(TMailReader& reader, int64_t data_offset, TMailWriter& writer,
                          void* progress_data, TProgressProc progress);

}  // namespace qovra::compose
