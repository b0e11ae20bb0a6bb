// Writing mail containers (.emz) and other multipart containers.
//
// A container is a text header followed by sections, each announced by a
// boundary line and carrying a Content-Size, then the closing boundary line:
//
//   From: <address>\r\n
//   Subject: <Base64 of UTF-8>\r\n
//   To: <a@x;b@y>\r\n
//   Date: <dd.mm.yyyy hh:nn:ss>\r\n
//   Content-Type: multipart/form-data; boundary=<B>\r\n
//   \r\n--<B>\r\n
//   Content-Disposition: form-data; name="body"\r\n
//   Content-Size: <n>\r\n
//   \r\n
//   <n bytes>                                   (no CR LF of its own)
//   \r\n--<B>\r\n
//   Content-Disposition: form-data; name="attachment1"; filename="<Base64 of UTF-8>"\r\n
//   ...
//   \r\n--<B>--
//
// The writers never compress. They stream: attachment data passes through
// one 8192-byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/records.h"
#include "base/stream.h"
#include "store/mail_container_date.h"

namespace qovra {

// A new boundary: 16 "-" and 16 random capitals and digits.
std::string MakeContainerBoundary();

// The multipart layout shared by the mail and the signature container.
//
// The writer does not own the stream, which must outlive it. Every write
// goes straight to the stream; the first write that the stream refuses (or
// a broken promise, such as fewer attachment bytes than announced) puts the
// writer into a failed state that Ok() reports; writing goes on, but the
// container must then be thrown away.
class TMultipartWriter {
 public:
  // boundary: the boundary to use; empty makes a new one (tests pass a
  // fixed one to get exact bytes).
  explicit TMultipartWriter(TStream& stream, std::string boundary = {});
  // Writes the closing line unless Finish() already did.
  virtual ~TMultipartWriter();
  TMultipartWriter(const TMultipartWriter&) = delete;
  TMultipartWriter& operator=(const TMultipartWriter&) = delete;

  const std::string& Boundary() const { return boundary_; }

  // name, one blank, value, CR LF. name includes its colon ("From:").
  void AddHeader(std::string_view name, std::string_view value);
  // "Content-Type: multipart/form-data; boundary=" + boundary + CR LF.
  void WriteContentType();
  // A section named name (no file name) holding data. An empty name stands
  // for the next attachment number ("attachment1", ...).
  void AddField(std::string_view name, std::string_view data);
  // Raw bytes. After AddAttachmentHeader they count against the announced
  // size; writing more than announced fails the writer.
  void WriteBuffer(const void* buffer, size_t count);
  void WriteString(std::string_view bytes) { WriteBuffer(bytes.data(), bytes.size()); }

  // Writes the closing line (once). Returns Ok().
  [[nodiscard]] bool Finish();
  // True while every byte was accepted and every announced size was kept.
  bool Ok() const { return !failed_; }

 protected:
  // Opens the next section: boundary line, disposition with the name and,
  // when file_name is set, its Base64 form, and the Content-Size lines.
  // Afterwards exactly size data bytes are owed.
  void BeginSection(std::string_view name, const std::u16string* file_name, int64_t size);
  // The next attachment number's section name.
  std::string NextAttachmentName();
  void Fail() { failed_ = true; }
  TStream& stream() { return stream_; }
  // Marks count bytes of the owed section data as written.
  void CountData(int64_t count);

 private:
  void Put(std::string_view bytes);
  void CheckNothingOwed();

  TStream& stream_;
  std::string boundary_;
  int attachment_number_ = 0;
  int64_t owed_ = 0;
  bool failed_ = false;
  bool finished_ = false;
};

// Writes one mail container. Calling order: the constructor, AddMailHeaders
// (or AddHeader for From, Subject, To, Date and then WriteContentType),
// AddField("body", UTF-8 text), then per attachment AddFile, or
// AddAttachmentHeader followed by exactly that many bytes through
// WriteBuffer; finally Finish() (or the destructor) writes the closing line.
class TMailWriter : public TMultipartWriter {
 public:
  // clock gives the time of the Date header (empty: LocalNow).
  explicit TMailWriter(TStream& stream, std::string boundary = {}, TClock clock = {});

  // Writes the From, Subject, To and Date headers and the content type:
  // subject as Base64 of its UTF-8, recipients as NormalizeAddressList
  // gives them, the date from the clock.
  void AddMailHeaders(std::string_view from, std::u16string_view subject,
                      std::string_view recipients);

  // Appends the file file_name as the next attachment, named display_name
  // (the file's own name without folder when display_name is empty). The
  // data is copied in blocks of 8192 bytes with progress (size, done).
  //
  // Returns false when the file cannot be opened, is not a regular file or
  // cannot be read: then nothing is written and the attachment number is
  // not used up. Returns false as well, and the writer fails, when the file
  // changes size while it is copied (the section written so far does not
  // hold the file) or the stream refuses bytes; also false once the writer
  // has failed before.
  [[nodiscard]] bool AddFile(std::u16string_view file_name, TProgressProc progress,
                             std::u16string_view display_name, void* progress_data);

  // The header of the next attachment section, named file_name, announcing
  // size bytes that the caller then writes with WriteBuffer.
  void AddAttachmentHeader(std::u16string_view file_name, int64_t size);

 private:
  TClock clock_;
};

}  // namespace qovra
