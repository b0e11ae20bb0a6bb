#include "fault.h"

#include "envelope.h"
#include "reply.h"

namespace exchange {

namespace {

bool ParseNumber(std::string_view text, int64_t max, int64_t& out) {
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > max) return false;
  out = v;
  return true;
}

// Splits "a:b:c" at the first colon.
std::string_view Head(std::string_view text, std::string_view& rest, bool& more) {
  const size_t colon = text.find(':');
  more = colon != std::string_view::npos;
  rest = more ? text.substr(colon + 1) : std::string_view();
  return text.substr(0, colon);
}

}  // namespace

bool ParseFault(std::string_view spec, Fault& out, std::string& error) {
  Fault f;
  if (spec.substr(0, 5) == "once:") {
    f.once = true;
    spec.remove_prefix(5);
  }
  std::string_view rest;
  bool more = false;
  const std::string_view kind = Head(spec, rest, more);
  int64_t n = 0;
  if (kind == "off" && !more) {
    f = Fault();
  } else if (kind == "plain" && more && ParseNumber(rest, 999999, n)) {
    f.kind = FaultKind::PlainCode;
    f.code = static_cast<int>(n);
  } else if (kind == "enc" && more) {
    std::string_view text;
    bool has_text = false;
    const std::string_view code = Head(rest, text, has_text);
    if (!ParseNumber(code, 999999, n)) {
      error = "enc takes a code";
      return false;
    }
    f.kind = FaultKind::EncipheredCode;
    f.code = static_cast<int>(n);
    f.registered = std::string(text);
  } else if (kind == "checkbyte" && !more) {
    f.kind = FaultKind::CheckByte;
  } else if (kind == "payload" && !more) {
    f.kind = FaultKind::PayloadByte;
  } else if (kind == "signature" && !more) {
    f.kind = FaultKind::SignatureByte;
  } else if (kind == "length" && more) {
    std::string_view code_text;
    bool has_code = false;
    const std::string_view length = Head(rest, code_text, has_code);
    int64_t code = kResMalformed;
    if (!ParseNumber(length, 1 << 20, n) || (has_code && !ParseNumber(code_text, 999999, code))) {
      error = "length takes a byte count and an optional code";
      return false;
    }
    f.kind = FaultKind::PlainLength;
    f.length = static_cast<size_t>(n);
    f.code = static_cast<int>(code);
    std::string probe;
    if (!PaddedPlainReply(f.code, f.length, probe)) {
      error = "length " + std::to_string(n) + " is shorter than the reply";
      return false;
    }
  } else if (kind == "stall" && !more) {
    f.kind = FaultKind::Stall;
  } else if (kind == "drop" &&
             (!more || ParseNumber(rest.substr(rest.starts_with('-') ? 1 : 0), 1 << 30, n))) {
    f.kind = FaultKind::Drop;
    f.length = more ? static_cast<size_t>(n) : 0;
    f.from_end = more && rest.starts_with('-');
  } else {
    error = "unknown fault: " + std::string(spec);
    return false;
  }
  out = f;
  return true;
}

bool PaddedPlainReply(int code, size_t length, std::string& out) {
  const std::string head = "<reply><res val=\"" + std::to_string(code) + "\"/>";
  const std::string tail = "</reply>";
  if (length < head.size() + tail.size()) return false;
  out = head + std::string(length - head.size() - tail.size(), ' ') + tail;
  return true;
}

bool CorruptEnvelope(FaultKind kind, std::string& body) {
  if (body.size() < kEnvelopeMinReplySize) return false;
  auto* p = reinterpret_cast<uint8_t*>(body.data());
  const uint64_t length = DecodeLength(p);
  if (length == 0 || kEnvelopeHeaderSize + length + kEnvelopeSignatureSize > body.size())
    return false;
  switch (kind) {
    case FaultKind::CheckByte:
      p[3] ^= 0x5A;
      return true;
    case FaultKind::PayloadByte:
      p[kEnvelopeHeaderSize + length - 1] ^= 0x01;
      return true;
    case FaultKind::SignatureByte:
      p[kEnvelopeHeaderSize + length + kEnvelopeSignatureSize / 2] ^= 0x01;
      return true;
    default:
      return false;
  }
}

void StallGate::Wait(std::chrono::seconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait_for(lock, limit, [this] { return released_; });
}

void StallGate::ReleaseAll() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  cv_.notify_all();
}

}  // namespace exchange
