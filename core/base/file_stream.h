// File streams over a POSIX file descriptor.
//
// TEFileStream (8-bit name) and TEWFileStream (UTF-16 name) open or create a
// file when constructed, tell the user when that fails unless told to stay
// silent, and can delete their file when destroyed. Construction never
// throws: every caller tests Opened() before using the stream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/stream.h"

namespace qovra {

// Open modes. The low two bits choose the access; the share bits are
// accepted for compatibility and have no effect (no mandatory locks).
constexpr uint32_t fmOpenRead = 0x0000;
constexpr uint32_t fmOpenWrite = 0x0001;
constexpr uint32_t fmOpenReadWrite = 0x0002;
constexpr uint32_t fmShareCompat = 0x0000;
constexpr uint32_t fmShareExclusive = 0x0010;
constexpr uint32_t fmShareDenyWrite = 0x0020;
constexpr uint32_t fmShareDenyNone = 0x0040;
// Create the file, replacing an existing one, for reading and writing. The
// file gets mode 0600 (it may hold mail or keys); a symbolic link at the
// name is not followed.
constexpr uint32_t fmCreate = 0xFFFF;

// A stream over an owned file descriptor. The descriptor is closed when the
// stream is destroyed. A stream whose descriptor is invalid fails every read,
// write and seek.
class THandleStream : public TStream {
 public:
  THandleStream(const THandleStream&) = delete;
  THandleStream& operator=(const THandleStream&) = delete;
  ~THandleStream() override;

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;
  bool SetSize(int64_t size) override;

  int Handle() const { return fd_; }
  // The errno of the last write that fell short (EIO when the system gave
  // none); 0 while every write went through.
  int LastWriteError() const { return write_error_; }

 protected:
  THandleStream() = default;
  // Opens path with mode; on failure returns false and leaves errno set.
  bool OpenPath(const std::string& path, uint32_t mode);
  void CloseHandle();

 private:
  int fd_ = -1;
  int write_error_ = 0;
};

class TEFileStream : public THandleStream {
 public:
  // Opens file_name with mode (fm* above), or creates it when mode is
  // fmCreate. When that fails, Opened() is false and, unless silent, the
  // user is shown the system's error text together with the file name.
  // With delete_on_free the file is deleted when the stream is destroyed.
  TEFileStream(std::string_view file_name, bool silent, bool delete_on_free, uint32_t mode);
  ~TEFileStream() override;

  bool Opened() const { return opened_; }
  // The file's name; empty when the stream never opened.
  const std::string& FileName() const { return file_name_; }
  bool DeleteOnFree() const { return delete_on_free_; }
  // Has no effect on a stream that never opened.
  void SetDeleteOnFree(bool value) { delete_on_free_ = opened_ && value; }

 private:
  std::string file_name_;
  bool opened_ = false;
  bool delete_on_free_ = false;
};

class TEWFileStream : public THandleStream {
 public:
  // As TEFileStream; the UTF-16 name is turned into a UTF-8 path.
  TEWFileStream(std::u16string_view file_name, bool silent, bool delete_on_free, uint32_t mode);
  ~TEWFileStream() override;

  bool Opened() const { return opened_; }
  const std::u16string& FileName() const { return file_name_; }
  bool DeleteOnFree() const { return delete_on_free_; }
  void SetDeleteOnFree(bool value) { delete_on_free_ = opened_ && value; }

 private:
  std::u16string file_name_;
  bool opened_ = false;
  bool delete_on_free_ = false;
};

// The system's text for an errno value.
std::string SystemErrorText(int error);

// Shows the system's error text for error together with file_name as a
// warning; a full disk or quota (ENOSPC, EDQUOT) is said in the user's
// language ("msgDiskFull").
void ShowFileError(std::string_view file_name, int error);

}  // namespace qovra
