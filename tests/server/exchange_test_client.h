// A small client of the exchange protocol for the server's tests, written
// from the protocol description on its own: it shares no envelope code
// with the server (nor with the client core), only tevqa, so a misreading
// on either side shows up as a failed exchange.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "keygen.h"
#include "support/exchange_server.h"

namespace xs_test {

// ---- primitives ------------------------------------------------------------
// The check byte by plain repetition of x o y = x + y + c*x*y (mod 257).
uint8_t NaiveCheckByte(uint8_t a, uint8_t b, uint8_t c);
std::string Hash(std::string_view bytes);  // 32 bytes
// The hash of a password as the account commands carry it: 64 upper-case
// hexadecimal digits.
std::string HashHex(std::string_view password);
std::string Sign(const keytool::KeyPair& keys, std::string_view hash);
bool Verify(const uint8_t* record, std::string_view hash, std::string_view signature);
std::string B64(std::string_view bytes);
std::string UnB64(std::string_view text);
// String form: one byte n mod 32, then CBC of the zero-padded text.
std::string Seal(const uint8_t* key, const uint8_t* iv, std::string_view text);
// Empty on any malformation.
std::string Unseal(const uint8_t* key, const uint8_t* iv, std::string_view sealed);
std::string CbcDecrypt(const uint8_t* key, const uint8_t* iv, std::string_view data);
// CBC of data zero-padded to whole blocks.
std::string CbcEncrypt(const uint8_t* key, const uint8_t* iv, std::string_view data);
uint32_t ReadLength(std::string_view header8);

// ---- request parts ---------------------------------------------------------
struct HandshakeSpec {
  const keytool::KeyPair* signer = nullptr;
  std::string cert_key_hash;      // 32 bytes
  std::optional<std::string> dh;  // 128 bytes appended (sets flag bit 3)
  uint8_t extra_flags = 0;        // OR'ed into byte 2 before the check byte
  bool bad_check_byte = false;
};
std::string HandshakePart(const HandshakeSpec& spec);
// A session request part around already sealed XML.
std::string SessionPart(const keytool::KeyPair& signer, std::string_view sid,
                        std::string_view sealed, uint8_t extra_flags = 0);
// The WinINet-style multipart body with the header part and, when given,
// the content part.
std::string MultipartBody(std::string_view header, const std::string* content = nullptr);
inline constexpr const char* kBoundary = "------------240102030405006";

// ---- replies -----------------------------------------------------------------
struct HandshakeReply {
  std::string plain;  // the body when it is a plain reply
  std::string error;  // why an envelope was refused
  std::string sid;
  std::string certificate;
  std::array<uint8_t, 768> server_record{};
};
HandshakeReply ReadHandshakeReply(const std::string& body);

struct ReplyFileAttrs {
  uint64_t size = 0;
  bool skip = false;
  std::string name;
  int type = 0;
};

struct SessionReply {
  std::string plain;  // the body when it is a plain reply
  std::string error;  // why an envelope was refused
  std::string xml;    // deciphered reply XML
  pugi::xml_document doc;
  int res = 0;
  std::vector<ReplyFileAttrs> file_attrs;  // every file element after res
  std::vector<std::string> files;          // bytes of those with size > 0
  size_t trailing = 0;                     // bytes left over after the files

  // The attribute of the first child element of the root called name.
  std::string Attr(const char* name, const char* attr = "val") const;
};
void ReadSessionReply(const std::string& body, const uint8_t* server_record, const uint8_t* key,
                      const uint8_t* sid, SessionReply& out);

std::string PlainText(int code);

// ---- a session ---------------------------------------------------------------
class TestClient {
 public:
  TestClient(uint16_t port, const keytool::KeyPair& keys) : port_(port), keys_(keys) {}

  qovra_test::RawHttpResult PostPart(const std::string& part, int timeout_ms = 10000,
                                     const std::string* content = nullptr);

  // A handshake with the key-agreement value appended or not; on success
  // the session id, server record and session key are set. Otherwise
  // false, with the plain reply or error in *why.
  bool Handshake(bool append_dh, std::string* why = nullptr);
  // A handshake with a prepared part; the session key is agreed with the
  // private and public records of agree_with.
  bool Handshake(const HandshakeSpec& spec, const keytool::KeyPair& agree_with,
                 std::string* why = nullptr);

  // A session request with xml (and a content part when given); the reply
  // read into out.
  void Request(const std::string& xml, SessionReply& out, const std::string* content = nullptr);
  // Sends a prepared part and reads the reply as a session reply.
  void Send(const std::string& part, SessionReply& out, const std::string* content = nullptr);
  // The part of a session request for xml (signed with the client's keys).
  std::string Part(const std::string& xml, uint8_t extra_flags = 0) const;

  // The login request: full form or xln only.
  std::string LoginXml(const std::string& login, const std::string& password, bool full) const;

  const std::string& sid() const { return sid_; }
  const std::array<uint8_t, 64>& key() const { return key_; }
  const std::array<uint8_t, 768>& server_record() const { return server_record_; }

 private:
  uint16_t port_;
  const keytool::KeyPair& keys_;
  std::string sid_;
  std::array<uint8_t, 64> key_{};
  std::array<uint8_t, 768> server_record_{};
};

}  // namespace xs_test
