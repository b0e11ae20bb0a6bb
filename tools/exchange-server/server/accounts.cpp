#include "accounts.h"

#include <sys/stat.h>

#include <algorithm>

#include "write_failure.h"

namespace exchange {

namespace {

// 2: the mail table (mail_store.cpp), made when the mail store opens.
constexpr int kSchemaVersion = 2;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS accounts ("
    " id INTEGER PRIMARY KEY,"
    " login TEXT NOT NULL COLLATE NOCASE,"
    " domain TEXT NOT NULL COLLATE NOCASE,"
    " password_hash BLOB NOT NULL,"
    " cert_hash BLOB NOT NULL UNIQUE,"
    " certificate BLOB NOT NULL,"
    " dhkey BLOB,"
    " fname TEXT NOT NULL DEFAULT '',"
    " mname TEXT NOT NULL DEFAULT '',"
    " lname TEXT NOT NULL DEFAULT '',"
    " company TEXT NOT NULL DEFAULT '',"
    " jobtitle TEXT NOT NULL DEFAULT '',"
    " question INTEGER NOT NULL DEFAULT 0,"
    " answer TEXT NOT NULL DEFAULT '',"
    " recovery_count INTEGER NOT NULL DEFAULT 0,"
    " level INTEGER NOT NULL DEFAULT 0,"
    " upload_limit INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE (login, domain));";

constexpr const char* kColumns =
    "id, login, domain, password_hash, cert_hash, certificate, dhkey, fname, mname, lname,"
    " company, jobtitle, question, answer, recovery_count, level, upload_limit";

// A prepared statement, finalised when it goes out of scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  void Text(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Blob(int i, const void* p, size_t n) {
    sqlite3_bind_blob(stmt_, i, p, static_cast<int>(n), SQLITE_TRANSIENT);
  }
  std::string ColumnBytes(int i) const {
    const void* p = sqlite3_column_blob(stmt_, i);
    const int n = sqlite3_column_bytes(stmt_, i);
    return p && n > 0 ? std::string(static_cast<const char*>(p), static_cast<size_t>(n))
                      : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) {
    began_ = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~Transaction() {
    if (began_ && !done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  bool began() const { return began_; }
  bool Commit() {
    done_ = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    return done_;
  }

 private:
  sqlite3* db_;
  bool began_ = false;
  bool done_ = false;
};

void CopyHash(const std::string& bytes, crypto::Hash32& out) {
  out.fill(0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), out.size()), out.begin());
}

}  // namespace

AccountStore::~AccountStore() {
  if (db_) sqlite3_close(db_);
  for (sqlite3* r : readers_) sqlite3_close(r);
}

sqlite3* AccountStore::TakeReader() {
  {
    std::lock_guard<std::mutex> lock(readers_mutex_);
    if (!readers_.empty()) {
      sqlite3* r = readers_.back();
      readers_.pop_back();
      return r;
    }
  }
  sqlite3* r = nullptr;
  if (sqlite3_open_v2(path_.c_str(), &r, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(r);
    return nullptr;
  }
  sqlite3_busy_timeout(r, 5000);
  return r;
}

void AccountStore::GiveBackReader(sqlite3* r) {
  std::lock_guard<std::mutex> lock(readers_mutex_);
  readers_.push_back(r);
}

bool AccountStore::Exec(const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = std::string("database: ") + (message ? message : sqlite3_errmsg(db_));
  sqlite3_free(message);
  return false;
}

bool AccountStore::Open(const std::string& path, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  path_ = path;
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    error = "cannot open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  // It holds password equivalents and recovery answers.
  if (::chmod(path.c_str(), 0600) != 0) {
    error = "cannot restrict " + path;
    return false;
  }
  Statement version(db_, "PRAGMA user_version");
  if (!version.ok() || sqlite3_step(version.get()) != SQLITE_ROW) {
    error = "cannot read " + path;
    return false;
  }
  const int have = sqlite3_column_int(version.get(), 0);
  if (have > kSchemaVersion) {
    error = path + " was written by a newer server";
    return false;
  }
  Transaction t(db_);
  if (!t.began() || !Exec(kSchema, error) ||
      !Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str(), error))
    return false;
  if (!t.Commit()) {
    error = std::string("database: ") + sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

bool AccountStore::Seed(const std::vector<SeedAccount>& accounts, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Transaction t(db_);
  if (!t.began()) {
    error = std::string("database: ") + sqlite3_errmsg(db_);
    return false;
  }
  for (const SeedAccount& a : accounts) {
    Statement s(db_,
                "INSERT INTO accounts (login, domain, password_hash, cert_hash, certificate,"
                " upload_limit) VALUES (?1, ?2, ?3, ?4, ?5, ?6)"
                " ON CONFLICT (login, domain) DO UPDATE SET password_hash = excluded.password_hash,"
                " cert_hash = excluded.cert_hash, certificate = excluded.certificate,"
                " upload_limit = excluded.upload_limit");
    if (s.ok()) {
      s.Text(1, a.login);
      s.Text(2, a.domain);
      s.Blob(3, a.password_hash.data(), a.password_hash.size());
      s.Blob(4, a.cert_hash.data(), a.cert_hash.size());
      s.Blob(5, a.certificate.data(), a.certificate.size());
      sqlite3_bind_int64(s.get(), 6, a.upload_limit);
    }
    if (!s.ok() || sqlite3_step(s.get()) != SQLITE_DONE) {
      error = "cannot seed " + a.login + "@" + a.domain + ": " + sqlite3_errmsg(db_);
      return false;
    }
  }
  if (t.Commit()) return true;
  error = std::string("database: ") + sqlite3_errmsg(db_);
  return false;
}

std::optional<Account> AccountStore::FindWhere(const char* where,
                                               const std::vector<std::string>& args, bool as_text) {
  // Lookups run on connections of their own, so they neither wait for each
  // other nor for the lock of the writing connection.
  sqlite3* reader = TakeReader();
  if (!reader) return std::nullopt;
  std::optional<Account> found = FindOn(reader, where, args, as_text);
  GiveBackReader(reader);
  return found;
}

std::optional<Account> AccountStore::FindOn(sqlite3* db, const char* where,
                                            const std::vector<std::string>& args, bool as_text) {
  const std::string sql = std::string("SELECT ") + kColumns + " FROM accounts WHERE " + where;
  Statement s(db, sql.c_str());
  if (!s.ok()) return std::nullopt;
  for (size_t i = 0; i < args.size(); ++i) {
    if (as_text)
      s.Text(static_cast<int>(i + 1), args[i]);
    else
      s.Blob(static_cast<int>(i + 1), args[i].data(), args[i].size());
  }
  if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  sqlite3_stmt* st = s.get();
  auto text = [st](int i) {
    const unsigned char* p = sqlite3_column_text(st, i);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<size_t>(sqlite3_column_bytes(st, i)))
             : std::string();
  };
  Account a;
  a.id = sqlite3_column_int64(st, 0);
  a.login = text(1);
  a.domain = text(2);
  CopyHash(s.ColumnBytes(3), a.password_hash);
  CopyHash(s.ColumnBytes(4), a.cert_hash);
  a.certificate = s.ColumnBytes(5);
  a.dhkey = s.ColumnBytes(6);
  a.fname = text(7);
  a.mname = text(8);
  a.lname = text(9);
  a.company = text(10);
  a.jobtitle = text(11);
  a.question = sqlite3_column_int(st, 12);
  a.answer = text(13);
  a.recovery_count = sqlite3_column_int(st, 14);
  a.level = sqlite3_column_int(st, 15);
  a.upload_limit = sqlite3_column_int64(st, 16);
  return a;
}

std::optional<Account> AccountStore::FindByCertificate(const crypto::Hash32& cert_hash) {
  return FindWhere("cert_hash = ?1", {std::string(crypto::View(cert_hash))}, false);
}

std::optional<Account> AccountStore::FindByLogin(const std::string& login,
                                                 const std::string& domain) {
  return FindWhere("login = ?1 AND domain = ?2", {login, domain}, true);
}

bool AccountStore::Create(const Account& a) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_,
              "INSERT INTO accounts (login, domain, password_hash, cert_hash, certificate, dhkey,"
              " fname, mname, lname, company, jobtitle, question, answer)"
              " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
  if (!s.ok()) return false;
  s.Text(1, a.login);
  s.Text(2, a.domain);
  s.Blob(3, a.password_hash.data(), a.password_hash.size());
  s.Blob(4, a.cert_hash.data(), a.cert_hash.size());
  s.Blob(5, a.certificate.data(), a.certificate.size());
  s.Blob(6, a.dhkey.data(), a.dhkey.size());
  s.Text(7, a.fname);
  s.Text(8, a.mname);
  s.Text(9, a.lname);
  s.Text(10, a.company);
  s.Text(11, a.jobtitle);
  sqlite3_bind_int(s.get(), 12, a.question);
  s.Text(13, a.answer);
  return StepWrite(s.get(), "cannot store the new account " + a.login + "@" + a.domain);
}

bool AccountStore::SetPassword(int64_t id, const crypto::Hash32& password_hash) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_, "UPDATE accounts SET password_hash = ?1 WHERE id = ?2");
  if (!s.ok()) return false;
  s.Blob(1, password_hash.data(), password_hash.size());
  sqlite3_bind_int64(s.get(), 2, id);
  return StepWrite(s.get(), "cannot store the password of account " + std::to_string(id)) &&
         sqlite3_changes(db_) == 1;
}

bool AccountStore::RecoverPassword(int64_t id, const crypto::Hash32& password_hash,
                                   int max_recoveries) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_,
              "UPDATE accounts SET password_hash = ?1, recovery_count = recovery_count + 1"
              " WHERE id = ?2 AND recovery_count < ?3");
  if (!s.ok()) return false;
  s.Blob(1, password_hash.data(), password_hash.size());
  sqlite3_bind_int64(s.get(), 2, id);
  sqlite3_bind_int(s.get(), 3, max_recoveries);
  return StepWrite(s.get(),
                   "cannot store the recovered password of account " + std::to_string(id)) &&
         sqlite3_changes(db_) == 1;
}

bool AccountStore::SetProfile(int64_t id, const Account& names) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s(db_,
              "UPDATE accounts SET fname = ?1, mname = ?2, lname = ?3, company = ?4, jobtitle = ?5"
              " WHERE id = ?6");
  if (!s.ok()) return false;
  s.Text(1, names.fname);
  s.Text(2, names.mname);
  s.Text(3, names.lname);
  s.Text(4, names.company);
  s.Text(5, names.jobtitle);
  sqlite3_bind_int64(s.get(), 6, id);
  return StepWrite(s.get(), "cannot store the profile of account " + std::to_string(id)) &&
         sqlite3_changes(db_) == 1;
}

}  // namespace exchange
