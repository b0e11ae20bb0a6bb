// Mail import: folder walk, the record of each container, the copies.
#include "mail/mail_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/text_utils.h"
#include "base/time_stamp.h"
#include "net/xml_maker_addresses.h"
#include "platform/file_place.h"
#include "platform/file_utils.h"
#include "store/mail_container_reader.h"
#include "store/mail_db.h"

namespace qovra {

namespace fs = std::filesystem;

namespace {

constexpr size_t kUuidLength = 32;

// The file's birth time (its modification time where the file system keeps
// none) as a local date-time; 0 when it cannot be converted.
TDateTime FileCreationLocalTime(const std::string& path) {
  struct statx sx {};
  time_t seconds = 0;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0) return 0;
  seconds = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
  struct tm local {};
  if (!localtime_r(&seconds, &local)) return 0;
  TDateTime result = 0;
  if (!TryEncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, std::min(local.tm_sec, 59), 0, result))
    return 0;
  return result;
}

// Copies source to target through a temporary name in target's folder;
// never replaces target, also where the file system has no hard links.
// Returns true when target was created; exists tells whether it was there
// already.
bool CopyNoReplace(const std::string& source, const std::string& target, bool& exists) {
  std::error_code ec;
  exists = fs::exists(target, ec);
  if (exists) return false;
  const std::string temp = target + ".import-" + std::to_string(::getpid()) + ".tmp";
  fs::remove(temp, ec);
  if (!fs::copy_file(source, temp, ec)) {
    fs::remove(temp, ec);
    return false;
  }
  ::chmod(temp.c_str(), 0600);
  const int placed = PlaceFileNoReplace(temp, target);
  if (placed == EEXIST) exists = true;
  fs::remove(temp, ec);
  return placed == 0;
}

// The signature container beside a mail file: the same name with the
// extension's last letter "s" in the case of its "z" (X.EMZ gives X.EMS),
// else with ".ems".
std::string SignatureBeside(const std::string& path) {
  const std::string stem = path.substr(0, path.size() - 4);
  std::string ext = path.substr(path.size() - 4);
  ext.back() = ext.back() == 'Z' ? 'S' : 's';
  std::error_code ec;
  if (fs::exists(stem + ext, ec)) return stem + ext;
  return stem + ".ems";
}

enum class TFileOutcome { Stored, Present, Skipped };

TFileOutcome ImportMailFile(const TImportTarget& target, const std::string& path,
                            bool& sign_copied) {
  sign_copied = false;
  const std::string name = fs::path(path).filename().string();
  if (!IsMailFileName(name)) return TFileOutcome::Skipped;
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) return TFileOutcome::Skipped;

  TEFileStream source(path, /*silent=*/true, /*delete_on_free=*/false, fmOpenRead);
  if (!source.Opened()) return TFileOutcome::Skipped;
  TMailReader reader(source);
  if (!reader.Parse(nullptr, nullptr)) {
    std::fprintf(stderr, "import: %s: %s\n", name.c_str(), reader.Error().c_str());
    return TFileOutcome::Skipped;
  }

  TMailMessage mail;
  mail.Id = 0;
  mail.Uuid = name.substr(0, kUuidLength);
  mail.FromAddress = reader.From().substr(0, 64);
  (void)SplitAddressList(mail.Recipients, reader.To(), ';');
  mail.Subject = reader.Subject();
  mail.SentTime = reader.Date();
  const bool own = SameTextAscii(reader.From(), target.OwnAddress);
  mail.ReceivedTime = own ? reader.Date() : FileCreationLocalTime(path);
  mail.ReadTime = 0;
  mail.FolderId = own ? kFolderSent : kFolderInbox;
  mail.Flags = own ? (mfSent | mfReportDone) : (mfReceived | mfRead | mfReportDone);
  if (!reader.Attachments().empty()) mail.Flags |= mfAttachments;
  mail.Ymbox = 0;
  mail.MailSize = static_cast<int64_t>(size);
  mail.SendMode = kSendModeFast;
  mail.Priority = kPriorityNormal;

  // The container first, so that no row points at a missing file.
  const std::string stem = target.MessagesDir + std::string(mail.Uuid);
  bool emz_existed = false;
  const bool emz_created = CopyNoReplace(path, stem + ".emz", emz_existed);
  if (!emz_created && !emz_existed) return TFileOutcome::Skipped;

  bool row_existed = false;
  {
    SqliteStatement q = target.Db->Prepare("SELECT 1 FROM ecm_mails WHERE uuid=?");
    if (q.Valid()) {
      q.Bind(1, std::string_view(mail.Uuid));
      row_existed = q.Step() == SqliteStatement::StepResult::Row;
    }
  }
  if (SaveMailToDatabase(*target.Db, mail, target.OwnAddress, nullptr, nullptr,
                         /*keep_existing=*/true) == 0) {
    std::fprintf(stderr, "import: %s: %s\n", name.c_str(), target.Db->LastError().c_str());
    if (emz_created) fs::remove(stem + ".emz", ec);
    return TFileOutcome::Skipped;
  }

  const std::string sign_source = SignatureBeside(path);
  bool ems_existed = false;
  sign_copied = CopyNoReplace(sign_source, stem + ".ems", ems_existed) || ems_existed;
  return row_existed ? TFileOutcome::Present : TFileOutcome::Stored;
}

void Count(TImportResult& result, TFileOutcome outcome, const std::string& name) {
  switch (outcome) {
    case TFileOutcome::Stored:
      ++result.Stored;
      break;
    case TFileOutcome::Present:
      ++result.Present;
      break;
    case TFileOutcome::Skipped:
      result.Skipped.push_back(name);
      break;
  }
}

bool HasEmzExtension(std::string_view name) {
  return name.size() >= 4 && SameTextAscii(name.substr(name.size() - 4), ".emz");
}

}  // namespace

bool IsMailFileName(std::string_view name) {
  if (name.size() != kUuidLength + 4 || !HasEmzExtension(name)) return false;
  return std::all_of(name.begin(), name.begin() + kUuidLength,
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

TImportResult ImportPath(const TImportTarget& target, const std::string& path, bool is_folder) {
  TImportResult result;
  if (!is_folder) {
    result.Found = 1;
    bool sign_copied = false;
    const TFileOutcome outcome = ImportMailFile(target, path, sign_copied);
    Count(result, outcome, fs::path(path).filename().string());
    result.SignMissing = outcome != TFileOutcome::Skipped && !sign_copied;
    return result;
  }

  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (HasEmzExtension(name) && !it->is_directory(type_ec)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  result.Found = static_cast<int>(names.size());
  const std::string folder = IncludeTrailingBackslashA(path);
  for (size_t i = 0; i < names.size(); ++i) {
    if (target.ShowProgress)
      qovra::ShowProgress(target.Owner, true, GetMsg("msgImporting"), names[i]);
    bool sign_copied = false;
    Count(result, ImportMailFile(target, folder + names[i], sign_copied), names[i]);
    if (target.ShowProgress)
      ProgressCallback(target.ProgressBar, result.Found, static_cast<int64_t>(i) + 1);
  }
  if (target.ShowProgress) HideProgress(target.Owner, false);
  return result;
}

std::string ImportResultText(const TImportResult& result) {
  std::string text = FormatMsg(GetMsg("msgMailsImported"), {result.Stored});
  if (!result.Skipped.empty()) {
    std::string names;
    for (const std::string& name : result.Skipped) names += "\n" + name;
    text += "\n\n" + FormatMsg(GetMsg("msgMailsNotImported"), {names.substr(1)});
  }
  return text;
}

}  // namespace qovra
