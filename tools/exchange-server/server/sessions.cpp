#include "sessions.h"

#include <malloc.h>

namespace exchange {

void ReleaseFreedMemory() {
  // Freed sessions lie between live ones; only a trim returns those pages.
  malloc_trim(0);
}

void SessionTable::Erase(std::map<SessionId, Entry>::iterator it) {
  if (it->second.order != 0) waiting_.erase(it->second.order);
  sessions_.erase(it);
}

Session* SessionTable::Add(Session s, SessionClock::time_point now) {
  if (sessions_.size() >= capacity_) {
    Sweep(now);
    if (sessions_.size() >= capacity_ && !waiting_.empty())
      Erase(sessions_.find(waiting_.begin()->second));
    // Only live logged-in sessions left: one may have expired since the
    // last sweep.
    if (sessions_.size() >= capacity_ && RemoveExpired(now) == 0) return nullptr;
  }
  const SessionId sid = s.sid;
  const auto old = sessions_.find(sid);
  if (old != sessions_.end()) Erase(old);
  Entry e;
  e.session = std::move(s);
  if (!e.session.authenticated) {
    e.order = next_order_++;
    waiting_.emplace(e.order, sid);
  }
  return &sessions_.emplace(sid, std::move(e)).first->second.session;
}

Session* SessionTable::Find(const SessionId& sid, SessionClock::time_point now) {
  const auto it = sessions_.find(sid);
  if (it == sessions_.end()) return nullptr;
  if (Expired(it->second.session, now)) {
    Erase(it);
    return nullptr;
  }
  return &it->second.session;
}

void SessionTable::SetLogin(const SessionId& sid, bool authenticated,
                            std::optional<int64_t> account, SessionClock::time_point now) {
  const auto it = sessions_.find(sid);
  if (it == sessions_.end() || Expired(it->second.session, now)) return;
  Entry& e = it->second;
  e.session.authenticated = authenticated;
  e.session.account = account;
  if (authenticated && e.order != 0) {
    waiting_.erase(e.order);
    e.order = 0;
  }
}

size_t SessionTable::RemoveExpired(SessionClock::time_point now) {
  size_t removed = 0;
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (Expired(it->second.session, now)) {
      Erase(it++);
      ++removed;
    } else {
      ++it;
    }
  }
  last_sweep_ = now;
  if (removed >= kReleaseAfter || (removed > 0 && sessions_.empty())) ReleaseFreedMemory();
  return removed;
}

size_t SessionTable::Sweep(SessionClock::time_point now) {
  if (last_sweep_ && now - *last_sweep_ < kSweepInterval) return 0;
  return RemoveExpired(now);
}

}  // namespace exchange
