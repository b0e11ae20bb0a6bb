// The client's reply readers on arbitrary bodies: the session reply (check
// byte, length word, signature, deciphering) and the handshake reply
// (certificate parsing). No crash, no read past the body, whatever the bytes.
#include <array>
#include <cstdint>
#include <string>

#include "base/stream.h"
#include "net/envelope_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::array<uint8_t, 64> kSessionKey = [] {
    std::array<uint8_t, 64> k{};
    for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(0xA5 ^ (i * 37));
    return k;
  }();
  static const std::array<uint8_t, 32> kSessionId{1, 2, 3, 4, 5, 6, 7, 8};
  static const std::array<uint8_t, 768> kServerKey{};
  const std::string body(reinterpret_cast<const char*>(data), size);

  qovra::TMemoryStream session(body);
  std::string xml;
  const qovra::TEnvelopeKeys keys{kSessionKey, kSessionId, kServerKey};
  (void)qovra::ReadSessionEnvelope(session, keys, xml);

  qovra::TMemoryStream handshake(body);
  qovra::THandshakeReply reply;
  (void)qovra::ReadHandshakeEnvelope(handshake, reply);
  return 0;
}
