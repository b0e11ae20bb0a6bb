// The server's accounts, in SQLite (DATA/server.db).
//
// One connection, used by one thread at a time: the exchange holds its own
// lock around every call. Every value is bound as a parameter; writes of
// more than one statement run in a transaction that rolls back on failure.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server_crypto.h"

namespace exchange {

struct Account {
  int64_t id = 0;
  std::string login;
  std::string domain;
  crypto::Hash32 password_hash{};                      // HASH of the password bytes
  crypto::Hash32 cert_hash{};                          // HASH of the bound certificate's record
  std::string certificate;                             // its bytes
  std::string dhkey;                                   // 128 bytes from registration; empty = none
  std::string fname, mname, lname, company, jobtitle;  // UTF-8
  int question = 0;
  std::string answer;  // Base64 of the UTF-8 answer, as sent
  int recovery_count = 0;
  int level = 0;
  int64_t upload_limit = 0;  // bytes; 0 = no limit
};

// An account to create or refresh at start: login and domain name it; the
// password hash and certificate are set, everything else stays as stored
// (or empty for a new account).
struct SeedAccount {
  std::string login;
  std::string domain;
  crypto::Hash32 password_hash{};
  crypto::Hash32 cert_hash{};
  std::string certificate;
  int64_t upload_limit = 0;  // bytes; 0 = no limit
};

// Every change is serialised on Mutex(), shared with the mail store, so the
// store may be used from several threads; lookups run on a pool of
// read-only connections of their own.
class AccountStore {
 public:
  AccountStore() = default;
  ~AccountStore();
  AccountStore(const AccountStore&) = delete;
  AccountStore& operator=(const AccountStore&) = delete;

  // Opens (creating when missing) the database file and its tables.
  [[nodiscard]] bool Open(const std::string& path, std::string& error);

  // Creates or refreshes every account in one transaction; nothing changes
  // when one of them fails (for example a certificate bound elsewhere).
  [[nodiscard]] bool Seed(const std::vector<SeedAccount>& accounts, std::string& error);

  // The account bound to a certificate, or by login and domain (both
  // compared without case).
  std::optional<Account> FindByCertificate(const crypto::Hash32& cert_hash);
  std::optional<Account> FindByLogin(const std::string& login, const std::string& domain);

  // Creates an account from login, domain, password_hash, cert_hash,
  // certificate, dhkey, the names, question and answer (id, level, the
  // recovery count and the upload limit start at their defaults). False
  // when the database refuses it (login or certificate taken).
  [[nodiscard]] bool Create(const Account& a);
  // Replaces the password hash of account id.
  [[nodiscard]] bool SetPassword(int64_t id, const crypto::Hash32& password_hash);
  // Replaces the password hash and counts one recovery, only while fewer
  // than max_recoveries were made; false otherwise.
  [[nodiscard]] bool RecoverPassword(int64_t id, const crypto::Hash32& password_hash,
                                     int max_recoveries);
  // Replaces the names, company and job title (UTF-8) of account id.
  [[nodiscard]] bool SetProfile(int64_t id, const Account& names);

  // The open connection, shared by the mail store (mail_store.h) under the
  // same lock; nullptr before Open.
  sqlite3* Database() const { return db_; }
  // Held around every use of the connection.
  std::mutex& Mutex() { return mutex_; }

 private:
  // args bound in order, as text or as blobs; on a reading connection.
  std::optional<Account> FindWhere(const char* where, const std::vector<std::string>& args,
                                   bool as_text);
  static std::optional<Account> FindOn(sqlite3* db, const char* where,
                                       const std::vector<std::string>& args, bool as_text);
  // A read-only connection of the pool (opened when none is free), or
  // nullptr; given back when done.
  sqlite3* TakeReader();
  void GiveBackReader(sqlite3* reader);
  bool Exec(const char* sql, std::string& error);

  sqlite3* db_ = nullptr;
  std::mutex mutex_;
  std::string path_;
  std::mutex readers_mutex_;
  std::vector<sqlite3*> readers_;  // free reading connections
};

}  // namespace exchange
