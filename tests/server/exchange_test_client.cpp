#include "exchange_test_client.h"

#include <openssl/evp.h>

#include <cstring>

#include "tevqa.h"
#include "zarvo.h"

namespace xs_test {

uint8_t NaiveCheckByte(uint8_t a_in, uint8_t b_in, uint8_t c_in) {
  const unsigned a = a_in < 3 ? 3 : a_in;
  unsigned b = b_in < 3 ? 3 : b_in;
  const unsigned c = c_in < 3 ? 3 : c_in;
  if (b % 4 == 0)
    b -= 1;
  else if (b % 4 == 1)
    b -= 2;
  else if (b % 4 == 2)
    b += 1;
  unsigned r = a;
  for (unsigned i = 1; i < b; ++i) r = (r + a + c * r % 257 * a) % 257;
  return static_cast<uint8_t>(r & 0xFF);
}

std::string Hash(std::string_view bytes) {
  uint8_t out[32];
  UZDST_HASH_data(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr, out);
  return std::string(reinterpret_cast<char*>(out), 32);
}

std::string HashHex(std::string_view password) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : Hash(password)) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

std::string Sign(const keytool::KeyPair& keys, std::string_view hash) {
  uint8_t sig[160] = {};
  if (UZDST_SIGNATURE_generate(hash.data(), keys.priv.data(), keys.pub.data(), sig) != 1) return {};
  return std::string(reinterpret_cast<char*>(sig), 160);
}

bool Verify(const uint8_t* record, std::string_view hash, std::string_view signature) {
  if (signature.size() != 160 || hash.size() != 32) return false;
  int verdict = 0;
  return UZDST_SIGNATURE_verify(hash.data(), record, signature.data(), &verdict) == 1 &&
         verdict == 1;
}

std::string B64(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string UnB64(std::string_view text) {
  if (text.size() % 4 != 0) return {};
  std::string out(text.size() / 4 * 3 + 1, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return {};
  size_t len = static_cast<size_t>(n);
  if (!text.empty() && text.back() == '=') --len;
  if (text.size() > 1 && text[text.size() - 2] == '=') --len;
  out.resize(len);
  return out;
}

static std::string Cbc(const uint8_t* key, const uint8_t* iv, std::string_view data, int enc) {
  uint8_t ctx[TEVQA_CIPHER_CONTEXT_SIZE];
  if (data.size() % 32 != 0 || UZDST_CIPHER_init(ctx, key, enc) != 1) return {};
  std::string out(data);
  UZDST_CIPHER_cbc(ctx, iv, out.data(), out.data(), static_cast<uint32_t>(out.size() / 32), enc);
  return out;
}

std::string Seal(const uint8_t* key, const uint8_t* iv, std::string_view text) {
  std::string padded(text);
  padded.resize((text.size() + 31) / 32 * 32, '\0');
  const std::string body = Cbc(key, iv, padded, 1);
  if (body.empty()) return {};
  return std::string(1, static_cast<char>(text.size() % 32)) + body;
}

std::string Unseal(const uint8_t* key, const uint8_t* iv, std::string_view sealed) {
  if (sealed.size() < 33 || (sealed.size() - 1) % 32 != 0) return {};
  const unsigned tail = static_cast<uint8_t>(sealed[0]);
  if (tail > 31) return {};
  std::string plain = Cbc(key, iv, sealed.substr(1), 0);
  if (plain.empty()) return {};
  plain.resize(plain.size() - 32 + (tail == 0 ? 32 : tail));
  return plain;
}

std::string CbcDecrypt(const uint8_t* key, const uint8_t* iv, std::string_view data) {
  return Cbc(key, iv, data, 0);
}

std::string CbcEncrypt(const uint8_t* key, const uint8_t* iv, std::string_view data) {
  std::string padded(data);
  padded.resize((padded.size() + 31) / 32 * 32, '\0');
  return Cbc(key, iv, padded, 1);
}

uint32_t ReadLength(std::string_view h) {
  auto le = [&h](size_t i) {
    return uint32_t{static_cast<uint8_t>(h[i])} | uint32_t{static_cast<uint8_t>(h[i + 1])} << 8 |
           uint32_t{static_cast<uint8_t>(h[i + 2])} << 16 |
           uint32_t{static_cast<uint8_t>(h[i + 3])} << 24;
  };
  const uint32_t d0 = le(0);
  const uint32_t m = ~(2 * d0);
  const uint32_t swapped = (m >> 24) | ((m >> 8) & 0xFF00) | ((m << 8) & 0xFF0000) | (m << 24);
  return le(4) ^ swapped;
}

static std::string HeaderBytes(uint8_t flags, bool bad_check) {
  uint8_t h[8];
  std::string r = Hash(std::to_string(std::rand()));  // any bytes will do
  std::memcpy(h, r.data(), 8);
  h[2] = flags;
  h[3] = NaiveCheckByte(h[0], h[1], h[2]);
  if (bad_check) h[3] ^= 0x21;
  return std::string(reinterpret_cast<char*>(h), 8);
}

std::string HandshakePart(const HandshakeSpec& spec) {
  std::string material = spec.cert_key_hash;
  // Bits 0-2 and 6 stand for the random ones; 3, 4 and 5 clear.
  uint8_t flags = static_cast<uint8_t>(0x47 | spec.extra_flags);
  if (spec.dh) {
    material += *spec.dh;
    flags |= 0x08;
  }
  const std::string mask = Hash("mask" + std::to_string(std::rand()));
  std::string part = HeaderBytes(flags, spec.bad_check_byte);
  for (size_t i = 0; i < material.size(); ++i)
    part += static_cast<char>(material[i] ^ mask[i % 32]);
  part += mask;
  return part + Sign(*spec.signer, Hash(part));
}

std::string SessionPart(const keytool::KeyPair& signer, std::string_view sid,
                        std::string_view sealed, uint8_t extra_flags) {
  std::string part = HeaderBytes(static_cast<uint8_t>(0x1B | extra_flags), false);
  part += sid;
  part += sealed;
  return part + Sign(signer, Hash(part));
}

std::string MultipartBody(std::string_view header, const std::string* content) {
  std::string b = "--";
  b += kBoundary;
  b += "\r\nContent-Disposition: form-data; name=\"header\"; filename=\"-\"\r\n";
  b += "Content-Type: qovra/enc-data\r\n\r\n";
  b += header;
  if (content) {
    b += "\r\n--";
    b += kBoundary;
    b += "\r\nContent-Disposition: form-data; name=\"content\"; filename=\"-\"\r\n";
    b += "Content-Type: qovra/enc-data\r\n\r\n";
    b += *content;
  }
  b += "\r\n--";
  b += kBoundary;
  b += "--";
  return b;
}

HandshakeReply ReadHandshakeReply(const std::string& body) {
  HandshakeReply r;
  if (body.size() < 168) {
    r.plain = body;
    return r;
  }
  if (static_cast<uint8_t>(body[3]) != NaiveCheckByte(static_cast<uint8_t>(body[0]),
                                                      static_cast<uint8_t>(body[1]),
                                                      static_cast<uint8_t>(body[2]))) {
    r.error = "check byte";
    return r;
  }
  const uint64_t length = ReadLength(body);
  if (length < 352 || 8 + length + 160 != body.size()) {
    r.error = "length " + std::to_string(length);
    return r;
  }
  r.sid = body.substr(8, 32);
  r.certificate = body.substr(40, length - 32);
  std::string der(r.certificate);
  if (initBPb(der.data(), static_cast<int32_t>(der.size()), r.server_record.data()) == 0) {
    r.error = "certificate";
    return r;
  }
  if (!Verify(r.server_record.data(), Hash(body.substr(0, 8 + length)), body.substr(8 + length))) {
    r.error = "signature";
    return r;
  }
  return r;
}

std::string SessionReply::Attr(const char* name, const char* attr) const {
  return doc.document_element().child(name).attribute(attr).as_string();
}

void ReadSessionReply(const std::string& body, const uint8_t* server_record, const uint8_t* key,
                      const uint8_t* sid, SessionReply& out) {
  out.plain.clear();
  out.error.clear();
  out.files.clear();
  out.file_attrs.clear();
  out.res = 0;
  if (body.size() < 168) {
    out.plain = body;
    return;
  }
  if (static_cast<uint8_t>(body[3]) != NaiveCheckByte(static_cast<uint8_t>(body[0]),
                                                      static_cast<uint8_t>(body[1]),
                                                      static_cast<uint8_t>(body[2]))) {
    out.error = "check byte";
    return;
  }
  const uint64_t length = ReadLength(body);
  if (length == 0 || 8 + length + 160 > body.size()) {
    out.error = "length";
    return;
  }
  if (!Verify(server_record, Hash(body.substr(0, 8 + length)), body.substr(8 + length, 160))) {
    out.error = "signature";
    return;
  }
  out.xml = Unseal(key, sid, body.substr(8, length));
  if (out.xml.empty()) {
    out.error = "payload";
    return;
  }
  if (!out.doc.load_buffer(out.xml.data(), out.xml.size())) {
    out.error = "xml";
    return;
  }
  size_t pos = 8 + length + 160;
  bool good = false;
  for (pugi::xml_node n = out.doc.document_element().first_child(); n; n = n.next_sibling()) {
    if (std::string_view(n.name()) == "res") {
      out.res = n.attribute("val").as_int();
      good = out.res == 1;
      if (!good) break;
      continue;
    }
    if (std::string_view(n.name()) != "file" || !good) continue;
    ReplyFileAttrs a;
    a.size = n.attribute("size").as_ullong();
    a.skip = std::string_view(n.attribute("skip").as_string()) == "1";
    a.name = n.attribute("name").as_string();
    a.type = n.attribute("type").as_int();
    out.file_attrs.push_back(a);
    if (a.size == 0) continue;
    const uint64_t wire = a.skip ? a.size : (a.size + 31) / 32 * 32;
    if (pos + wire + 160 > body.size()) {
      out.error = "file truncated";
      return;
    }
    const std::string bytes = body.substr(pos, wire);
    if (!Verify(server_record, Hash(bytes), body.substr(pos + wire, 160))) {
      out.error = "file signature";
      return;
    }
    std::string plain = a.skip ? bytes : CbcDecrypt(key, sid, bytes);
    plain.resize(a.size);
    out.files.push_back(plain);
    pos += wire + 160;
  }
  out.trailing = body.size() - pos;
}

std::string PlainText(int code) {
  return "<reply><res val=\"" + std::to_string(code) + "\"/></reply>";
}

qovra_test::RawHttpResult TestClient::PostPart(const std::string& part, int timeout_ms,
                                               const std::string* content) {
  return qovra_test::RawHttpPost(port_, "/qovra4/",
                                 std::string("multipart/form-data; boundary=") + kBoundary,
                                 MultipartBody(part, content), timeout_ms);
}

bool TestClient::Handshake(bool append_dh, std::string* why) {
  HandshakeSpec spec;
  spec.signer = &keys_;
  spec.cert_key_hash = Hash(std::string_view(reinterpret_cast<const char*>(keys_.pub.data()), 768));
  if (append_dh) spec.dh = std::string(reinterpret_cast<const char*>(keys_.pub.data()) + 288, 128);
  return Handshake(spec, keys_, why);
}

bool TestClient::Handshake(const HandshakeSpec& spec, const keytool::KeyPair& agree_with,
                           std::string* why) {
  const qovra_test::RawHttpResult http = PostPart(HandshakePart(spec));
  if (!http.complete || http.status != 200) {
    if (why) *why = "http";
    return false;
  }
  const HandshakeReply r = ReadHandshakeReply(http.body);
  if (!r.plain.empty() || !r.error.empty()) {
    if (why) *why = r.plain.empty() ? r.error : r.plain;
    return false;
  }
  sid_ = r.sid;
  server_record_ = r.server_record;
  if (UZDST_CIPHER_KEY_generate(agree_with.priv.data(), agree_with.pub.data(),
                                server_record_.data(), key_.data()) != 1) {
    if (why) *why = "key agreement";
    return false;
  }
  return true;
}

std::string TestClient::Part(const std::string& xml, uint8_t extra_flags) const {
  const auto* sid = reinterpret_cast<const uint8_t*>(sid_.data());
  return SessionPart(keys_, sid_, Seal(key_.data(), sid, xml), extra_flags);
}

void TestClient::Send(const std::string& part, SessionReply& out, const std::string* content) {
  const qovra_test::RawHttpResult http = PostPart(part, 10000, content);
  if (!http.complete || http.status != 200) {
    out.error = "http";
    return;
  }
  ReadSessionReply(http.body, server_record_.data(), key_.data(),
                   reinterpret_cast<const uint8_t*>(sid_.data()), out);
}

void TestClient::Request(const std::string& xml, SessionReply& out, const std::string* content) {
  Send(Part(xml), out, content);
}

std::string TestClient::LoginXml(const std::string& login, const std::string& password,
                                 bool full) const {
  uint8_t key[64];
  const std::string h = Hash(password);
  std::memcpy(key, h.data(), 32);
  std::memcpy(key + 32, sid_.data(), 32);
  const std::string lv = B64(Seal(key, reinterpret_cast<const uint8_t*>(sid_.data()), login));
  std::string xml = "<request><cmd val=\"161\"/><xln val=\"" + lv + "\"/>";
  if (full) xml += "<chash val=\"" + lv + "\"/><cver val=\"4.0.0.0\"/>";
  return xml + "</request>";
}

}  // namespace xs_test
