// Sessions made by handshakes, kept in memory. A session not used for the
// idle timeout is gone: looking it up removes it. Not thread-safe; the
// exchange holds its sessions lock around every call.
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
  crypto::CipherKey key{};         // SK
  crypto::Hash32 cert_hash{};      // of the user's certificate record
  crypto::Record user_record{};    // verifies the user's requests
  std::array<uint8_t, 128> y{};    // the user's key-agreement value
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
  explicit SessionTable(std::chrono::seconds idle_timeout) : timeout_(idle_timeout) {}

  // Stores s under its sid (replacing nothing: the caller draws a sid not
  // in use) and returns it.
  Session& Add(Session s);
  bool Contains(const SessionId& sid) const { return sessions_.count(sid) != 0; }
  // The live session, its last use unchanged; nullptr when unknown or
  // idle longer than the timeout at now (then it is removed).
  Session* Find(const SessionId& sid, SessionClock::time_point now);
  // Removes every session idle too long at now; a sweep less than
  // kSweepInterval after the last one does nothing (Find still refuses
  // expired sessions), so handshakes do not walk the table each time.
  void Sweep(SessionClock::time_point now);
  static constexpr std::chrono::seconds kSweepInterval{1};
  size_t size() const { return sessions_.size(); }

 private:
  bool Expired(const Session& s, SessionClock::time_point now) const {
    return now - s.last_use > timeout_;
  }

  std::chrono::seconds timeout_;
  std::map<SessionId, Session> sessions_;
  std::optional<SessionClock::time_point> last_sweep_;
};

}  // namespace exchange
