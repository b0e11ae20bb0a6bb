// The fault switch, for tests only: makes the server misbehave on purpose so
// that clients' error paths can be driven.
//
// Spec text: ["once:"] followed by one of
//   off                  no fault
//   plain:N              answer the plain reply with code N, unprocessed
//   enc:N[:TEXT]         answer a session request, once verified and
//                        deciphered, with the enciphered code N (TEXT is
//                        the registered value sent with 15 and 16)
//   checkbyte            corrupt the check byte of an envelope reply
//   payload              flip a byte of an envelope reply's payload
//   signature            flip a byte of an envelope reply's signature
//   length:N[:C]         answer a plain reply of exactly N bytes with code C
//                        (default 2), padded with spaces inside the root
//   stall                accept the request and never answer
//   drop[:N]             send the first N bytes of the reply (with -N all
//                        but the last N; without N half of it), then close
//                        the connection
// Without "once:" the fault stays until changed; with it, it ends after the
// first exchange it applied to. Faults that need an envelope reply or a
// session request wait for one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>

namespace exchange {

enum class FaultKind {
  None,
  PlainCode,
  EncipheredCode,
  CheckByte,
  PayloadByte,
  SignatureByte,
  PlainLength,
  Stall,
  Drop,
};

struct Fault {
  FaultKind kind = FaultKind::None;
  int code = 0;
  std::string registered;
  size_t length = 0;      // PlainLength: the reply's bytes; Drop: the bytes sent (0: half)
  bool from_end = false;  // Drop: length counts the bytes not sent
  bool once = false;
};

[[nodiscard]] bool ParseFault(std::string_view spec, Fault& out, std::string& error);

// The plain reply of a PlainLength fault: exactly length bytes. False when
// length is below the unpadded reply's.
[[nodiscard]] bool PaddedPlainReply(int code, size_t length, std::string& out);

// The envelope corruptions, on a reply body of at least 168 bytes whose
// header carries a length that fits the body. False (body unchanged) when
// it does not.
[[nodiscard]] bool CorruptEnvelope(FaultKind kind, std::string& body);

// The current fault. Not thread-safe; the exchange locks around it.
class FaultSwitch {
 public:
  void Set(const Fault& f) { fault_ = f; }
  const Fault& Current() const { return fault_; }
  // Called when the current fault has been applied: a one-shot fault ends.
  void Applied() {
    if (fault_.once) fault_ = Fault();
  }

 private:
  Fault fault_;
};

// Where stalled requests wait: until released at shutdown or for at most
// the limit given.
class StallGate {
 public:
  void Wait(std::chrono::seconds limit);
  void ReleaseAll();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
};

}  // namespace exchange
