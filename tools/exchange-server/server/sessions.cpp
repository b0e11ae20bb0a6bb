#include "sessions.h"

namespace exchange {

Session& SessionTable::Add(Session s) {
  const SessionId sid = s.sid;
  return sessions_.insert_or_assign(sid, std::move(s)).first->second;
}

Session* SessionTable::Find(const SessionId& sid, SessionClock::time_point now) {
  const auto it = sessions_.find(sid);
  if (it == sessions_.end()) return nullptr;
  if (Expired(it->second, now)) {
    sessions_.erase(it);
    return nullptr;
  }
  return &it->second;
}

void SessionTable::Sweep(SessionClock::time_point now) {
  if (last_sweep_ && now - *last_sweep_ < kSweepInterval) return;
  last_sweep_ = now;
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (Expired(it->second, now))
      it = sessions_.erase(it);
    else
      ++it;
  }
}

}  // namespace exchange
