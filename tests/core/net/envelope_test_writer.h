// The server's half of the envelope for client tests: reply envelopes,
// enciphered payloads and files, written straight on tevqa (not through the
// client's crypto binding), and the keys of a test client and test server.
#pragma once

#include <gtest/gtest.h>
#include <tevqa.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "keys/random_text.h"
#include "zarvo/pki_fixtures.h"

namespace qovra_test {

inline std::string Bytes(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}
template <size_t N>
std::string Bytes(const std::array<uint8_t, N>& a) {
  return Bytes(a.data(), N);
}

inline std::string Hash(std::string_view bytes) {
  uint8_t h[32];
  UZDST_HASH_data(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr, h);
  return Bytes(h, 32);
}

// A key pair with its certificate, and the signatures it makes.
struct TestParty {
  Party party;
  explicit TestParty(const std::string& name) : party(MakeParty(name)) {}
  const std::array<uint8_t, 768>& Pub() const { return party.keys.pub; }
  const std::array<uint8_t, 256>& Priv() const { return party.keys.priv; }
  std::string Cert() const { return ToString(party.cert); }
  std::string Sign(std::string_view bytes) const {
    const std::string h = Hash(bytes);
    uint8_t sig[160];
    EXPECT_EQ(UZDST_SIGNATURE_generate(h.data(), Priv().data(), Pub().data(), sig), 1);
    return Bytes(sig, 160);
  }
  bool Verifies(std::string_view bytes, std::string_view sig) const {
    const std::string h = Hash(bytes);
    int verdict = 0;
    return sig.size() == 160 &&
           UZDST_SIGNATURE_verify(h.data(), Pub().data(), sig.data(), &verdict) == 1 &&
           verdict == 1;
  }
};

// One client and one server per test program (key pairs take a moment).
inline const TestParty& ClientParty() {
  static const TestParty p("Test Client");
  return p;
}
inline const TestParty& ServerParty() {
  static const TestParty p("Test Exchange Server");
  return p;
}

// CBC under key from iv over plain zero-padded to whole blocks.
inline std::string Cbc(const std::array<uint8_t, 64>& key, const std::array<uint8_t, 32>& iv,
                       std::string plain, bool encrypt) {
  plain.resize((plain.size() + 31) / 32 * 32, '\0');
  uint8_t ctx[TEVQA_CIPHER_CONTEXT_SIZE];
  EXPECT_EQ(UZDST_CIPHER_init(ctx, key.data(), encrypt ? 1 : 0), 1);
  UZDST_CIPHER_cbc(ctx, iv.data(), plain.data(), plain.data(),
                   static_cast<uint32_t>(plain.size() / 32), encrypt ? 1 : 0);
  return plain;
}

// The string form: one byte of length mod 32, then the CBC bytes.
inline std::string StringForm(const std::array<uint8_t, 64>& key, const std::array<uint8_t, 32>& iv,
                              const std::string& plain) {
  return std::string(1, static_cast<char>(plain.size() % 32)) + Cbc(key, iv, plain, true);
}

// 8 header bytes: b0..b2, the check byte, and the length word for length.
inline std::string EnvelopeHead(uint32_t length, uint8_t b0 = 3, uint8_t b1 = 3, uint8_t b2 = 3) {
  uint8_t h[8] = {b0, b1, b2, qovra::CheckByte(b0, b1, b2), 0, 0, 0, 0};
  const uint32_t d0 =
      uint32_t{h[0]} | uint32_t{h[1]} << 8 | uint32_t{h[2]} << 16 | uint32_t{h[3]} << 24;
  const uint32_t n = ~(d0 * 2u);
  const uint32_t mask = (n >> 24) | ((n >> 8) & 0xFF00u) | ((n << 8) & 0xFF0000u) | (n << 24);
  const uint32_t d1 = length ^ mask;
  for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<uint8_t>(d1 >> (8 * i));
  return Bytes(h, 8);
}

// The session a reply is written for.
struct TestSession {
  std::array<uint8_t, 64> key{};
  std::array<uint8_t, 32> id{};
};

// A session between the test client and the test server: a random id and
// the agreed key (as both sides derive it).
inline TestSession MakeTestSession() {
  TestSession s;
  std::string id = qovra::RandomHexString(16);
  for (size_t i = 0; i < 32; ++i) s.id[i] = static_cast<uint8_t>(id[i] | 1);
  EXPECT_EQ(UZDST_CIPHER_KEY_generate(ServerParty().Priv().data(), ServerParty().Pub().data(),
                                      ClientParty().Pub().data(), s.key.data()),
            1);
  return s;
}

// A file on the wire: its bytes as sent (enciphered unless skip).
inline std::string WireFile(const TestSession& s, const std::string& content, bool skip) {
  return skip ? content : Cbc(s.key, s.id, content, true);
}

// A session reply: head, enciphered XML, signature, then each wire file
// followed by its signature.
inline std::string SessionReply(const TestSession& s, const std::string& xml,
                                const std::vector<std::string>& wire_files = {}) {
  const std::string payload = StringForm(s.key, s.id, xml);
  std::string body = EnvelopeHead(static_cast<uint32_t>(payload.size())) + payload;
  body += ServerParty().Sign(body);
  for (const std::string& f : wire_files) body += f + ServerParty().Sign(f);
  return body;
}

// A reply with any payload bytes, signed as the server signs.
inline std::string SignedEnvelope(const std::string& payload, uint32_t length) {
  std::string body = EnvelopeHead(length) + payload;
  return body + ServerParty().Sign(body);
}

// A handshake reply: head, session id, certificate, signature.
inline std::string HandshakeReply(const std::array<uint8_t, 32>& session_id,
                                  const std::string& certificate) {
  const std::string payload = Bytes(session_id) + certificate;
  return SignedEnvelope(payload, static_cast<uint32_t>(payload.size()));
}

// Puts the client's keys and s into the global Session.
inline void InstallSession(const TestSession& s) {
  qovra::Session.OwnPrivateKey = ClientParty().Priv();
  qovra::Session.OwnPublicKey = ClientParty().Pub();
  qovra::Session.OwnDhKey = ClientParty().Pub();
  qovra::Session.ServerKey = ServerParty().Pub();
  qovra::Session.ServerDhKey = ServerParty().Pub();
  qovra::Session.SessionId = s.id;
  qovra::Session.SessionKey = s.key;
}

}  // namespace qovra_test
