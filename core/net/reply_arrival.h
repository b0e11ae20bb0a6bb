// A reply body read while it still arrives.
//
// An HTTP client writes the body to a spool file as it comes (the reply
// ".dat" of ServerRequest); a reader goes through TArrivingReply over a
// stream of its own on that file, whose reads run the transfer (on the
// calling thread) until the bytes they want are in. So a read comes up
// short only when the transfer ended without them: the reply was cut off.
//
// Interface thread only, like the clients.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/stream.h"

namespace qovra {

class IReplyArrival {
 public:
  virtual ~IReplyArrival() = default;
  // Runs the transfer until the body holds at least end bytes or the
  // transfer has ended. True when it holds them; false only when the reply
  // was cut off (end beyond Length() reads as cut off too).
  [[nodiscard]] virtual bool Await(int64_t end) = 0;
  // True once the transfer ended without a whole reply with status 200.
  [[nodiscard]] virtual bool Failed() const = 0;
  // The body's length as the reply's Content-Length announced it.
  [[nodiscard]] virtual int64_t Length() const = 0;
};

// Reads the arriving body through spool, a stream of its own on the spool
// file (not the one the transfer writes with). Size() is the announced
// length; writing is refused.
class TArrivingReply : public TStream {
 public:
  TArrivingReply(TStream& spool, IReplyArrival& arrival) : spool_(spool), arrival_(arrival) {}

  size_t Read(void* buffer, size_t count) override;
  size_t Write(const void*, size_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return arrival_.Length(); }
  bool SetSize(int64_t) override { return false; }

 private:
  TStream& spool_;
  IReplyArrival& arrival_;
};

}  // namespace qovra
