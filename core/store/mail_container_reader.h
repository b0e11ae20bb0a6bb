// Reading mail containers (.emz), plain or zlib-compressed (first bytes
// 0x78 0xDA). See mail_container_writer.h for the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/bounded_text.h"
#include "base/records.h"
#include "base/stream.h"
#include "base/stream_copy.h"
#include "store/mail_container_date.h"

namespace qovra {

class TEFileStream;
class TZInflater;

// One file section of a container. The compose window uses the same record
// for its attachment rows: DataOffset 0 for a local file (FileName then
// holds the full path), else the reader's DataOffset.
struct TMailAttachmentInfo {
  BoundedWideText<259> FileName;  // decoded name, as the container gives it
  int64_t DataOffset = 0;         // position of the data in the plain container; the key
  int64_t DataSize = 0;           // Content-Size
};

// The plain form of a compressed container may be at most kMailInflateRatio
// times the container's own size, and not less than kMailInflateFloor
// whatever its size, nor more than the reader's cap (kMailInflateCap unless
// set): mail deflates far less than that, a bomb far more. Above the
// limit the container is refused before the plain bytes reach the disk.
constexpr int64_t kMailInflateRatio = 32;
constexpr int64_t kMailInflateFloor = int64_t{16} << 20;
constexpr int64_t kMailInflateCap = int64_t{4} << 30;
// Plain bytes inflated after the closing line to reach the zlib stream's
// end and check it; whatever follows is ignored uninflated.
constexpr int64_t kMailInflateTrailer = int64_t{64} << 10;

// Parses one container and keeps its plain form in a private scratch file,
// from which attachments are read and saved. A compressed container is
// inflated only as far as the parse needs: to its closing line (and the
// zlib stream's end when it lies within kMailInflateTrailer after it).
//
// The reader does not own the source stream, which must stay valid until
// Parse returns. The scratch file (mode 0600, in GetTempFolder()) has no
// name from the moment it is opened: it vanishes with the reader, and even
// when the process dies. Nothing is held in memory but the body and the
// attachment list; the header lines and the body's section header are read
// through one 64 KiB buffer (and must lie within it), every later section
// header through 8192 bytes, attachment data in chunks of 16384 bytes.
//
// Parsing is strict: header lines in the order From, Subject, To, Date,
// content type; a first section named "body"; every section announced by
// the boundary line, with a decimal Content-Size that fits what remains of
// the file; the closing line CR LF "--" boundary "--" (bytes after it are
// ignored), or a boundary line CR LF "--" boundary CR LF that ends the file.
// Sections that have a name but no file name are skipped.
class TMailReader {
 public:
  // clock stands for "now" when the Date header cannot be read (empty:
  // LocalNow).
  explicit TMailReader(TStream& source, TClock clock = {});
  ~TMailReader();
  TMailReader(const TMailReader&) = delete;
  TMailReader& operator=(const TMailReader&) = delete;

  // Cap of the plain size of a compressed container (kMailInflateCap
  // unless set); a larger one fails to parse. The ratio limit above
  // applies as well.
  void SetInflateCap(int64_t cap) { inflate_cap_ = cap; }
  // With true, a plain (not compressed) source is parsed and read where it
  // is, without the scratch copy: the source must then outlive the reader
  // and stay unchanged.
  void SetReadInPlace(bool value) { read_in_place_ = value; }

  // Copies the source (from its start) into the scratch file, or inflates
  // it there as far as the parse reads, with progress, and parses it. True on success. On failure
  // Parsed() stays false, Error() says why, and the values read before the fault stay set. Never
  // throws.
  [[nodiscard]] bool Parse(TProgressProc progress, void* progress_data);

  bool Parsed() const { return parsed_; }
  const std::string& Error() const { return error_; }

  const std::string& From() const { return from_; }
  const std::string& To() const { return to_; }
  const std::u16string& Subject() const { return subject_; }
  const std::u16string& Body() const { return body_; }
  TDateTime Date() const { return date_; }
  const std::string& Boundary() const { return boundary_; }
  // The file sections in file order.
  const std::vector<TMailAttachmentInfo>& Attachments() const { return attachments_; }

  // List position of the attachment whose DataOffset is data_offset; -1
  // when there is none or the container is not parsed.
  int IndexOfAttachment(int64_t data_offset) const;

  // Moves the scratch file to position; false when that is impossible.
  bool SeekData(int64_t position);
  // Reads up to count bytes from the scratch file; returns the bytes read.
  size_t ReadData(void* buffer, size_t count);

  // Writes one attachment to a file. by_position false: index is a
  // DataOffset; true: a list position. With append_name the file is path
  // (a folder; "/" is added when missing) joined with the attachment's bare
  // file name (BareFileName; "attachment" when none remains), so nothing is
  // written outside that folder; otherwise path names the file itself. The
  // data is copied in chunks of at most 16384 bytes with progress
  // (DataSize, done). Returns false, with no file left behind, when the
  // container is not parsed, the attachment does not exist, the file cannot
  // be created or the copy falls short; a file that cannot be created is
  // reported to the user by the file stream.
  bool SaveAttachment(int64_t index, bool by_position, void* progress_data, TProgressProc progress,
                      bool append_name, std::u16string_view path);

 private:
  bool Fail(std::string reason);
  bool LoadPlainCopy(TProgressProc progress, void* progress_data);
  // The plain bytes there are once position (or the plain form's end) is
  // reached, inflating up to there first; a failed inflation is kept in
  // inflate_status_.
  int64_t PlainSizeUpTo(int64_t position);
  // After a parse of a compressed container: its zlib stream's end, when it
  // follows closely, must check out.
  bool FinishInflating();
  bool ParseHeaderAndBody(int64_t& next);
  bool ParseSections(int64_t next);
  // Reads up to count bytes at position of the scratch file.
  std::string ReadAt(int64_t position, size_t count);

  TStream& source_;
  TClock clock_;
  std::unique_ptr<TEFileStream> scratch_;
  // What the parsed plain form is read from: the scratch file, or the
  // source itself when read in place; null until loaded.
  TStream* data_ = nullptr;
  bool read_in_place_ = false;
  int64_t scratch_size_ = 0;
  int64_t inflate_cap_ = kMailInflateCap;
  // A compressed container's inflation into the scratch file; null for a
  // plain one.
  std::unique_ptr<TZInflater> inflater_;
  ZStatus inflate_status_ = ZStatus::Ok;

  std::string from_;
  std::string to_;
  std::u16string subject_;
  std::u16string body_;
  TDateTime date_ = 0;
  std::string boundary_;
  std::vector<TMailAttachmentInfo> attachments_;
  bool parsed_ = false;
  std::string error_;
};

}  // namespace qovra
