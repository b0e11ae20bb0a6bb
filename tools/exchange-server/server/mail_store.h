// Delivered mail: one row per recipient's copy in the server database
// (table mails, schema version 2) and the copy's files under DATA/mail/,
// named by the copy's suid: "<suid>.eme" (a secure copy's upload as sent,
// or a fast copy's plain container) and "<suid>.ems" (the signature
// container).
//
// Shares the account store's connection and its lock (every call takes
// it), so it may be used from several threads.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace exchange {

// The time text of a report not made yet.
inline constexpr const char* kZeroTime = "0000-00-00 00:00:00";

struct MailCopy {
  int64_t id = 0;
  std::string suid;   // 32 upper-case hex digits
  std::string ymbox;  // delivery month, "yyyymm"
  std::string uuid;   // the mail's id, 32 hex digits
  int64_t sender_account = 0;
  std::string sender;  // "login@domain"
  int64_t recipient_account = 0;
  int mode = 0;      // 0 secure, 1 fast
  int64_t size = 0;  // plain container size
  int64_t flag = 0;  // the sender's flag word
  int priority = 0;
  std::string sent_time, received_time = kZeroTime, read_time = kZeroTime;
  bool acknowledged = false;
};

enum class DeliverStatus {
  Ok,
  AlreadyHeld,
  Failed,
  NoSpace,  // the disk (or the database) is full
};

class MailStore {
 public:
  // Creates the mail table in db (not owned; must outlive the store, as
  // must db_mutex) and the folder dir (0700), then removes every file of
  // dir that no row names: files of a delivery cut short by a crash. False
  // with a message when any of it fails.
  [[nodiscard]] bool Open(sqlite3* db, std::mutex& db_mutex, const std::string& dir,
                          std::string& error);

  // A file for a body being received, in dir; 0600, its name ends in
  // ".part". Returns the path, or empty when it cannot be made; fd is set
  // to it open for writing. The caller removes it when done.
  std::string NewPartFile(int& fd) const;

  // Stores a new copy for copy.recipient_account: draws its suid, links the
  // finished body file (made by NewPartFile; it stays where it is) as the
  // copy's ".eme", writes the signature file, then the row. AlreadyHeld
  // when that recipient holds a copy of this uuid (nothing written; copy
  // becomes the held copy, whoever sent it). On Failed and NoSpace nothing
  // is left behind, and the cause is logged. copy.suid and copy.id are set
  // on Ok.
  [[nodiscard]] DeliverStatus Deliver(MailCopy& copy, const std::string& body_path,
                                      std::string_view signature);

  // The recipient's copies not yet acknowledged, in delivery order.
  std::vector<MailCopy> NewMails(int64_t recipient);
  // A copy sent by sender, by suid and ymbox.
  std::optional<MailCopy> FindSent(int64_t sender, const std::string& suid,
                                   const std::string& ymbox);
  // A copy held by recipient, by suid and ymbox.
  std::optional<MailCopy> FindReceived(int64_t recipient, const std::string& suid,
                                       const std::string& ymbox);
  // A copy held by recipient, by uuid (any case) and ymbox.
  std::optional<MailCopy> FindByUuid(int64_t recipient, const std::string& uuid,
                                     const std::string& ymbox);

  // The copy's two files; false when either cannot be read.
  [[nodiscard]] bool ReadFiles(const MailCopy& copy, std::string& body, std::string& signature);
  // The path of the copy's body file and its size; false when it is
  // missing.
  [[nodiscard]] bool BodyFile(const MailCopy& copy, std::string& path, uint64_t& size) const;

  // Records the recipient's report: received sets received_time (when
  // still zero) and acknowledges the copy; read sets read_time (when still
  // zero) and received_time when that is still zero. copy is updated.
  [[nodiscard]] bool Report(MailCopy& copy, bool received, bool read, const std::string& now);

 private:
  std::optional<MailCopy> FindOne(const char* where, int64_t account, const std::string& a,
                                  const std::string& b);
  std::string PathOf(const std::string& suid, const char* ext) const;
  bool RemoveOrphans(std::string& error);

  sqlite3* db_ = nullptr;
  std::mutex* mutex_ = nullptr;
  std::string dir_;
};

// Server local time as "yyyy-mm-dd hh:nn:ss", and its month as "yyyymm".
std::string NowTimeText();
std::string MonthText(const std::string& time_text);

}  // namespace exchange
