#include "mail_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <set>
#include <vector>

#include "body_range.h"
#include "identity.h"
#include "server_crypto.h"
#include "write_failure.h"

namespace exchange {

namespace {

constexpr const char* kMailSchema =
    "CREATE TABLE IF NOT EXISTS mails ("
    " id INTEGER PRIMARY KEY,"
    " suid TEXT NOT NULL UNIQUE,"
    " ymbox TEXT NOT NULL,"
    " uuid TEXT NOT NULL COLLATE NOCASE,"
    " sender_account INTEGER NOT NULL,"
    " sender TEXT NOT NULL,"
    " recipient_account INTEGER NOT NULL,"
    " mode INTEGER NOT NULL,"
    " size INTEGER NOT NULL,"
    " flag INTEGER NOT NULL,"
    " priority INTEGER NOT NULL,"
    " sent_time TEXT NOT NULL,"
    " received_time TEXT NOT NULL,"
    " read_time TEXT NOT NULL,"
    " acknowledged INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE (recipient_account, uuid));";

constexpr const char* kColumns =
    "id, suid, ymbox, uuid, sender_account, sender, recipient_account, mode, size, flag,"
    " priority, sent_time, received_time, read_time, acknowledged";

class Stmt {
 public:
  Stmt(sqlite3* db, const std::string& sql) {
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
  }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  void Text(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Int(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  std::string ColText(int i) const {
    const unsigned char* p = sqlite3_column_text(stmt_, i);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<size_t>(sqlite3_column_bytes(stmt_, i)))
             : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

MailCopy ReadRow(const Stmt& s) {
  sqlite3_stmt* st = s.get();
  MailCopy c;
  c.id = sqlite3_column_int64(st, 0);
  c.suid = s.ColText(1);
  c.ymbox = s.ColText(2);
  c.uuid = s.ColText(3);
  c.sender_account = sqlite3_column_int64(st, 4);
  c.sender = s.ColText(5);
  c.recipient_account = sqlite3_column_int64(st, 6);
  c.mode = sqlite3_column_int(st, 7);
  c.size = sqlite3_column_int64(st, 8);
  c.flag = sqlite3_column_int64(st, 9);
  c.priority = sqlite3_column_int(st, 10);
  c.sent_time = s.ColText(11);
  c.received_time = s.ColText(12);
  c.read_time = s.ColText(13);
  c.acknowledged = sqlite3_column_int(st, 14) != 0;
  return c;
}

// Written to a temporary name and renamed, so a reader never sees half;
// only the server's user may read it.
bool WriteFileAtomic(const std::string& path, std::string_view bytes) {
  const std::string tmp = path + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = WriteAllFd(fd, bytes.data(), bytes.size());
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    std::remove(tmp.c_str());
    errno = error;  // the cause, for the caller's log
    return false;
  }
  return true;
}

std::string NewSuid() {
  static constexpr char kHex[] = "0123456789ABCDEF";
  uint8_t raw[16];
  crypto::RandomBytes(raw, sizeof raw);
  std::string s;
  for (uint8_t b : raw) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

}  // namespace

std::string NowTimeText() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string MonthText(const std::string& time_text) {
  return time_text.substr(0, 4) + time_text.substr(5, 2);
}

bool MailStore::Open(sqlite3* db, std::mutex& db_mutex, const std::string& dir,
                     std::string& error) {
  db_ = db;
  mutex_ = &db_mutex;
  dir_ = dir;
  if ((mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) || chmod(dir.c_str(), 0700) != 0) {
    error = "cannot create " + dir;
    return false;
  }
  std::lock_guard<std::mutex> lock(*mutex_);
  char* message = nullptr;
  if (!db_ || sqlite3_exec(db_, kMailSchema, nullptr, nullptr, &message) != SQLITE_OK) {
    error = std::string("database: ") + (message ? message : "no connection");
    sqlite3_free(message);
    return false;
  }
  return RemoveOrphans(error);
}

bool MailStore::RemoveOrphans(std::string& error) {
  std::set<std::string> named;
  Stmt s(db_, "SELECT suid FROM mails");
  if (!s.ok()) {
    error = std::string("database: ") + sqlite3_errmsg(db_);
    return false;
  }
  while (sqlite3_step(s.get()) == SQLITE_ROW) named.insert(s.ColText(0));
  DIR* d = opendir(dir_.c_str());
  if (!d) {
    error = "cannot read " + dir_;
    return false;
  }
  std::vector<std::string> orphans;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const bool copy_file =
        name.size() == 36 && (name.compare(32, 4, ".eme") == 0 || name.compare(32, 4, ".ems") == 0);
    if (copy_file && named.count(name.substr(0, 32)) != 0) continue;
    orphans.push_back(name);
  }
  closedir(d);
  for (const std::string& name : orphans) {
    const std::string path = dir_ + "/" + name;
    if (std::remove(path.c_str()) != 0) {
      error = "cannot remove " + path;
      return false;
    }
  }
  return true;
}

std::string MailStore::NewPartFile(int& fd) const {
  std::string path = dir_ + "/body-XXXXXX.part";
  fd = mkostemps(path.data(), 5, O_CLOEXEC);
  if (fd < 0) return {};
  return path;
}

bool MailStore::BodyFile(const MailCopy& copy, std::string& path, uint64_t& size) const {
  path = PathOf(copy.suid, ".eme");
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

std::string MailStore::PathOf(const std::string& suid, const char* ext) const {
  return dir_ + "/" + suid + ext;
}

DeliverStatus MailStore::Deliver(MailCopy& copy, const std::string& body_path,
                                 std::string_view signature) {
  // Why a copy could not be kept, in the log; the disk being full is a
  // status of its own.
  const auto what = [&copy](const char* step) {
    return "cannot keep mail " + copy.uuid + " for account " +
           std::to_string(copy.recipient_account) + (step[0] ? ": " : "") + step;
  };
  const auto failed = [&what](const char* step, int error) {
    return ReportWriteFailure(what(step), error) ? DeliverStatus::NoSpace : DeliverStatus::Failed;
  };
  std::lock_guard<std::mutex> lock(*mutex_);
  // Whether the recipient holds a copy of this uuid (copy then becomes
  // it); nothing when the database cannot be asked.
  const auto held = [this, &copy]() -> std::optional<bool> {
    Stmt s(db_, std::string("SELECT ") + kColumns +
                    " FROM mails WHERE recipient_account = ?1 AND uuid = ?2");
    if (!s.ok()) return std::nullopt;
    s.Int(1, copy.recipient_account);
    s.Text(2, copy.uuid);
    if (sqlite3_step(s.get()) != SQLITE_ROW) return false;
    copy = ReadRow(s);
    return true;
  };
  const std::optional<bool> before = held();
  if (!before) return DeliverStatus::Failed;
  if (*before) return DeliverStatus::AlreadyHeld;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const std::string suid = NewSuid();
    const std::string eme = PathOf(suid, ".eme"), ems = PathOf(suid, ".ems");
    struct stat st {};
    if (stat(eme.c_str(), &st) == 0) continue;
    // The finished body is never written again, so copies share it.
    if (link(body_path.c_str(), eme.c_str()) != 0) return failed("link", errno);
    if (!WriteFileAtomic(ems, signature)) {
      const int error = errno;
      std::remove(eme.c_str());
      return failed("signature file", error);
    }
    Stmt s(db_,
           "INSERT INTO mails (suid, ymbox, uuid, sender_account, sender, recipient_account,"
           " mode, size, flag, priority, sent_time, received_time, read_time)"
           " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
    int rc = SQLITE_ERROR;
    if (s.ok()) {
      s.Text(1, suid);
      s.Text(2, copy.ymbox);
      s.Text(3, copy.uuid);
      s.Int(4, copy.sender_account);
      s.Text(5, copy.sender);
      s.Int(6, copy.recipient_account);
      s.Int(7, copy.mode);
      s.Int(8, copy.size);
      s.Int(9, copy.flag);
      s.Int(10, copy.priority);
      s.Text(11, copy.sent_time);
      s.Text(12, kZeroTime);
      s.Text(13, kZeroTime);
      rc = sqlite3_step(s.get());
    }
    if (rc == SQLITE_DONE) {
      copy.suid = suid;
      copy.id = sqlite3_last_insert_rowid(db_);
      copy.received_time = copy.read_time = kZeroTime;
      copy.acknowledged = false;
      return DeliverStatus::Ok;
    }
    std::remove(eme.c_str());
    std::remove(ems.c_str());
    // A suid drawn twice is drawn again; anything else is a failure.
    if (sqlite3_extended_errcode(db_) != SQLITE_CONSTRAINT_UNIQUE)
      return ReportDatabaseFailure(db_, what("")) ? DeliverStatus::NoSpace : DeliverStatus::Failed;
    const std::optional<bool> now = held();
    if (!now) return DeliverStatus::Failed;
    if (*now) return DeliverStatus::AlreadyHeld;
  }
  return DeliverStatus::Failed;
}

std::vector<MailCopy> MailStore::NewMails(int64_t recipient) {
  std::lock_guard<std::mutex> lock(*mutex_);
  std::vector<MailCopy> out;
  Stmt s(db_, std::string("SELECT ") + kColumns +
                  " FROM mails WHERE recipient_account = ?1 AND acknowledged = 0 ORDER BY id");
  if (!s.ok()) return out;
  s.Int(1, recipient);
  while (sqlite3_step(s.get()) == SQLITE_ROW) out.push_back(ReadRow(s));
  return out;
}

std::optional<MailCopy> MailStore::FindOne(const char* where, int64_t account, const std::string& a,
                                           const std::string& b) {
  std::lock_guard<std::mutex> lock(*mutex_);
  Stmt s(db_, std::string("SELECT ") + kColumns + " FROM mails WHERE " + where);
  if (!s.ok()) return std::nullopt;
  s.Int(1, account);
  s.Text(2, a);
  s.Text(3, b);
  if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  return ReadRow(s);
}

std::optional<MailCopy> MailStore::FindSent(int64_t sender, const std::string& suid,
                                            const std::string& ymbox) {
  return FindOne("sender_account = ?1 AND suid = ?2 AND ymbox = ?3", sender, suid, ymbox);
}

std::optional<MailCopy> MailStore::FindReceived(int64_t recipient, const std::string& suid,
                                                const std::string& ymbox) {
  return FindOne("recipient_account = ?1 AND suid = ?2 AND ymbox = ?3", recipient, suid, ymbox);
}

std::optional<MailCopy> MailStore::FindByUuid(int64_t recipient, const std::string& uuid,
                                              const std::string& ymbox) {
  return FindOne("recipient_account = ?1 AND uuid = ?2 AND ymbox = ?3", recipient, uuid, ymbox);
}

bool MailStore::ReadFiles(const MailCopy& copy, std::string& body, std::string& signature) {
  return ReadWholeFile(PathOf(copy.suid, ".eme"), body) &&
         ReadWholeFile(PathOf(copy.suid, ".ems"), signature);
}

bool MailStore::Report(MailCopy& copy, bool received, bool read, const std::string& now) {
  std::lock_guard<std::mutex> lock(*mutex_);
  MailCopy next = copy;
  if ((received || read) && next.received_time == kZeroTime) next.received_time = now;
  if (read && next.read_time == kZeroTime) next.read_time = now;
  if (received) next.acknowledged = true;
  Stmt s(db_,
         "UPDATE mails SET received_time = ?1, read_time = ?2, acknowledged = ?3 WHERE id = ?4");
  if (!s.ok()) return false;
  s.Text(1, next.received_time);
  s.Text(2, next.read_time);
  s.Int(3, next.acknowledged ? 1 : 0);
  s.Int(4, next.id);
  if (!StepWrite(s.get(), "cannot store the report on mail " + copy.uuid + " of account " +
                              std::to_string(copy.recipient_account)))
    return false;
  copy = next;
  return true;
}

}  // namespace exchange
