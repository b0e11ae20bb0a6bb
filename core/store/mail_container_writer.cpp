#include "store/mail_container_writer.h"

#include <sys/stat.h>

#include <vector>

#include "base/address_list.h"
#include "base/base64.h"
#include "base/file_stream.h"
#include "base/utf.h"
#include "keys/random_text.h"

namespace qovra {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr size_t kFileBlock = 8192;

// The part of path after its last "/" (the whole path when there is none).
std::u16string_view NameWithoutFolder(std::u16string_view path) {
  const size_t slash = path.find_last_of(u'/');
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string MakeContainerBoundary() {
  return std::string(16, '-') + RandomString(16, kRandomUpperNum);
}

TMultipartWriter::TMultipartWriter(TStream& stream, std::string boundary)
    : stream_(stream),
      boundary_(boundary.empty() ? MakeContainerBoundary() : std::move(boundary)) {}

TMultipartWriter::~TMultipartWriter() {
  if (!finished_) (void)Finish();
}

void TMultipartWriter::Put(std::string_view bytes) {
  if (!bytes.empty() && !stream_.WriteBuffer(bytes.data(), bytes.size())) failed_ = true;
}

void TMultipartWriter::CheckNothingOwed() {
  if (owed_ != 0) failed_ = true;
  owed_ = 0;
}

void TMultipartWriter::CountData(int64_t count) {
  if (count > owed_) {
    failed_ = true;
    owed_ = 0;
  } else {
    owed_ -= count;
  }
}

void TMultipartWriter::AddHeader(std::string_view name, std::string_view value) {
  std::string line(name);
  line += ' ';
  line += value;
  line += kCrLf;
  Put(line);
}

void TMultipartWriter::WriteContentType() {
  Put("Content-Type: multipart/form-data; boundary=" + boundary_ + std::string(kCrLf));
}

std::string TMultipartWriter::NextAttachmentName() {
  return "attachment" + std::to_string(++attachment_number_);
}

void TMultipartWriter::BeginSection(std::string_view name, const std::u16string* file_name,
                                    int64_t size) {
  CheckNothingOwed();
  std::string head = "\r\n--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"";
  head += name;
  head += '"';
  if (file_name) {
    head += "; filename=\"" + Base64Encode(Utf16ToUtf8(*file_name)) + "\"";
  }
  head += "\r\nContent-Size: " + std::to_string(size) + "\r\n\r\n";
  Put(head);
  owed_ = size < 0 ? 0 : size;
  if (size < 0) failed_ = true;
}

void TMultipartWriter::AddField(std::string_view name, std::string_view data) {
  const std::string section = name.empty() ? NextAttachmentName() : std::string(name);
  BeginSection(section, nullptr, static_cast<int64_t>(data.size()));
  WriteBuffer(data.data(), data.size());
}

void TMultipartWriter::WriteBuffer(const void* buffer, size_t count) {
  if (count == 0) return;
  if (owed_ > 0) CountData(static_cast<int64_t>(count));
  Put(std::string_view(static_cast<const char*>(buffer), count));
}

bool TMultipartWriter::Finish() {
  if (!finished_) {
    finished_ = true;
    CheckNothingOwed();
    Put("\r\n--" + boundary_ + "--");
  }
  return Ok();
}

TMailWriter::TMailWriter(TStream& stream, std::string boundary, TClock clock)
    : TMultipartWriter(stream, std::move(boundary)), clock_(std::move(clock)) {}

void TMailWriter::AddMailHeaders(std::string_view from, std::u16string_view subject,
                                 std::string_view recipients) {
  AddHeader("From:", from);
  AddHeader("Subject:", Base64Encode(Utf16ToUtf8(subject)));
  AddHeader("To:", NormalizeAddressList(recipients));
  AddHeader("Date:", MailDateText(clock_ ? clock_() : LocalNow()));
  WriteContentType();
}

void TMailWriter::AddAttachmentHeader(std::u16string_view file_name, int64_t size) {
  const std::u16string name(file_name);
  BeginSection(NextAttachmentName(), &name, size);
}

bool TMailWriter::AddFile(std::u16string_view file_name, TProgressProc progress,
                          std::u16string_view display_name, void* progress_data) {
  TEWFileStream file(file_name, true, false, fmOpenRead | fmShareDenyWrite);
  if (!file.Opened()) return false;
  struct stat st {};
  if (fstat(file.Handle(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int64_t size = file.Size();
  if (size < 0) return false;
  // Read the first block before anything is written, so that a file that
  // opens but cannot be read leaves the container untouched.
  std::vector<char> block(kFileBlock);
  size_t n = file.Read(block.data(), static_cast<size_t>(std::min<int64_t>(size, kFileBlock)));
  if (size > 0 && n == 0) return false;

  const std::u16string name(display_name.empty() ? NameWithoutFolder(file_name) : display_name);
  BeginSection(NextAttachmentName(), &name, size);
  ReportProgress(progress, progress_data, size, 0);
  int64_t done = 0;
  while (n > 0) {
    WriteBuffer(block.data(), n);
    done += static_cast<int64_t>(n);
    ReportProgress(progress, progress_data, size, done);
    if (done >= size) break;
    n = file.Read(block.data(), static_cast<size_t>(std::min<int64_t>(size - done, kFileBlock)));
  }
  // The file must have kept its size: no bytes missing and none left over.
  char extra = 0;
  if (done != size || file.Read(&extra, 1) != 0) {
    Fail();
    return false;
  }
  return Ok();
}

}  // namespace qovra
