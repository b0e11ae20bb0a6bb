#include "net/reply_arrival.h"

#include <algorithm>

namespace qovra {

size_t TArrivingReply::Read(void* buffer, size_t count) {
  const int64_t at = spool_.Position();
  if (at < 0 || count == 0) return 0;
  const int64_t want = std::min(at + static_cast<int64_t>(count), arrival_.Length());
  // What arrived is read even when the rest was cut off.
  (void)arrival_.Await(want);
  return spool_.Read(buffer, static_cast<size_t>(std::max<int64_t>(want - at, 0)));
}

int64_t TArrivingReply::Seek(int64_t offset, SeekOrigin origin) {
  if (origin == SeekOrigin::End) return spool_.Seek(Size() + offset, SeekOrigin::Beginning);
  return spool_.Seek(offset, origin);
}

}  // namespace qovra
