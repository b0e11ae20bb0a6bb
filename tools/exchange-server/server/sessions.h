// Sessions made by handshakes, kept in memory, at most capacity at once.
//
// A session not used for the idle timeout is gone: looking it up removes
// it, and a sweep removes every such one and gives the memory back to the
// system. When the table is full, a new session takes the place of an
// expired one, else of the session that never logged in and was made
// first. A session that logged in goes only by its idle timeout (anything
// else would send its user to the password prompt), so a table full of
// live logged-in sessions takes no new one.
//
// Not thread-safe; the exchange holds its sessions lock around every call.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "server_crypto.h"

namespace exchange {

using SessionClock = std::chrono::steady_clock;
using SessionId = std::array<uint8_t, 32>;

struct Session {
  SessionId sid{};
  crypto::CipherKey key{};     // SK
  crypto::Hash32 cert_hash{};  // of the user's certificate record
  // Verifies the user's requests: the record of the registry's certificate,
  // which lives as long as the server.
  const crypto::Record* user_record = nullptr;
  std::optional<int64_t> account;  // set by login
  bool authenticated = false;
  SessionClock::time_point last_use{};
  std::set<crypto::Hash32> seen;  // hashes of the requests accepted so far

  Session() = default;
  ~Session() { crypto::Wipe(key.data(), key.size()); }
  Session(Session&&) = default;
  Session& operator=(Session&&) = default;
};

class SessionTable {
 public:
  // REQUIRES: capacity > 0.
  SessionTable(std::chrono::seconds idle_timeout, size_t capacity)
      : timeout_(idle_timeout), capacity_(capacity) {}

  // Stores s under its sid (the caller draws a sid not in use), making room
  // as the header says. Returns the stored session, or nullptr (s dropped)
  // when every session held is live and logged in.
  Session* Add(Session s, SessionClock::time_point now);
  bool Contains(const SessionId& sid) const { return sessions_.count(sid) != 0; }
  // The live session, its last use unchanged; nullptr when unknown or
  // idle longer than the timeout at now (then it is removed).
  Session* Find(const SessionId& sid, SessionClock::time_point now);
  // Stores what a login changed on the live session sid; a logged-in
  // session no longer gives way to new ones.
  void SetLogin(const SessionId& sid, bool authenticated, std::optional<int64_t> account,
                SessionClock::time_point now);
  // Removes every session idle too long at now and returns how many went;
  // when many went, their memory is handed back to the system. A sweep less
  // than kSweepInterval after the last one does nothing (Find still
  // refuses expired sessions), so callers may sweep often.
  size_t Sweep(SessionClock::time_point now);
  static constexpr std::chrono::seconds kSweepInterval{1};
  // Sessions removed by one sweep before memory is handed back.
  static constexpr size_t kReleaseAfter = 256;

  size_t size() const { return sessions_.size(); }
  size_t capacity() const { return capacity_; }

 private:
  struct Entry {
    Session session;
    uint64_t order = 0;  // place among the sessions that never logged in
  };

  bool Expired(const Session& s, SessionClock::time_point now) const {
    return now - s.last_use > timeout_;
  }
  void Erase(std::map<SessionId, Entry>::iterator it);
  size_t RemoveExpired(SessionClock::time_point now);

  std::chrono::seconds timeout_;
  size_t capacity_;
  std::map<SessionId, Entry> sessions_;
  // The sessions that never logged in, first made first.
  std::map<uint64_t, SessionId> waiting_;
  uint64_t next_order_ = 1;
  std::optional<SessionClock::time_point> last_sweep_;
};

// Hands memory the process freed back to the system.
void ReleaseFreedMemory();

}  // namespace exchange
