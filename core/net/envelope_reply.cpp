#include "net/envelope_reply.h"

#include <zarvo.h>

#include "keys/crypto_binding.h"
#include "net/envelope.h"
#include "net/envelope_verify.h"

namespace qovra {
namespace {

// Reads the 8 header bytes and checks the check byte and the length word
// against the body. On success length is L and reply stands at the payload.
std::string_view ReadHead(TStream& reply, std::array<uint8_t, kEnvelopeHeaderSize>& header,
                          uint32_t& length) {
  const int64_t size = reply.Size();
  if (size < kPlainReplyLimit || !reply.SetPosition(0)) return "msgInvalidData";
  if (!reply.ReadBuffer(header.data(), header.size())) return "msgInvalidData";
  if (header[3] != EnvelopeCheckByte(header[0], header[1], header[2])) return "msgCheckSumError";
  length = EnvelopeLength(header);
  if (length == 0) return "msgConnectionError";
  const int64_t room = size - static_cast<int64_t>(kEnvelopeHeaderSize) -
                       static_cast<int64_t>(kEnvelopeSignatureSize);
  if (static_cast<int64_t>(length) > room) return "msgInvalidData";
  return {};
}

bool ReadBytes(TStream& reply, size_t count, std::string& out) {
  out.assign(count, '\0');
  return reply.ReadBuffer(out.data(), count);
}

std::string HeaderText(const std::array<uint8_t, kEnvelopeHeaderSize>& header) {
  return std::string(reinterpret_cast<const char*>(header.data()), header.size());
}

// Reads the signature that follows and checks it over signed.
std::string_view CheckSignature(TStream& reply, std::string_view signed_bytes,
                                const std::array<uint8_t, 768>& key) {
  std::array<uint8_t, kEnvelopeSignatureSize> signature{};
  if (!reply.ReadBuffer(signature.data(), signature.size())) return "msgUnauthenticSignature";
  if (!VerifyServerSignature(HashString(signed_bytes), key, signature.data())) {
    return "msgUnauthenticSignature";
  }
  return {};
}

}  // namespace

std::string_view ReadSessionEnvelope(TStream& reply, const TEnvelopeKeys& keys, std::string& xml) {
  std::array<uint8_t, kEnvelopeHeaderSize> header{};
  uint32_t length = 0;
  if (std::string_view err = ReadHead(reply, header, length); !err.empty()) return err;
  std::string signed_bytes = HeaderText(header);
  std::string payload;
  if (!ReadBytes(reply, length, payload)) return "msgInvalidData";
  signed_bytes += payload;
  if (std::string_view err = CheckSignature(reply, signed_bytes, keys.ServerKey); !err.empty()) {
    return err;
  }
  std::string plain = DecryptString(payload, keys.SessionId, keys.SessionKey);
  if (plain.empty()) return "msgInvalidData";
  xml = std::move(plain);
  return {};
}

std::string_view ReadHandshakeEnvelope(TStream& reply, THandshakeReply& out) {
  std::array<uint8_t, kEnvelopeHeaderSize> header{};
  uint32_t length = 0;
  if (std::string_view err = ReadHead(reply, header, length); !err.empty()) return err;
  if (length < kHandshakeMinPayload) return "msgConnectionError";
  const uint32_t cert_size = length - 32;
  if (cert_size > kMaxServerCertificateSize) return "msgServerCertificateInvalid";
  std::string session_id;
  std::string certificate;
  if (!ReadBytes(reply, 32, session_id) || !ReadBytes(reply, cert_size, certificate)) {
    return "msgInvalidData";
  }
  THandshakeReply parsed;
  if (initBPb(certificate.data(), static_cast<int32_t>(certificate.size()),
              parsed.ServerKey.data()) == 0) {
    return "msgServerCertificateInvalid";
  }
  std::copy(session_id.begin(), session_id.end(), parsed.SessionId.begin());
  const std::string signed_bytes = HeaderText(header) + session_id + certificate;
  if (std::string_view err = CheckSignature(reply, signed_bytes, parsed.ServerKey); !err.empty()) {
    return err;
  }
  out = parsed;
  return {};
}

}  // namespace qovra
