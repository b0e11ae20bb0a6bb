// The key-agreement handshake.
#include <tevqa.h>

#include <array>

#include "base/messages.h"
#include "base/records.h"
#include "base/secure_wipe.h"
#include "keys/crypto_binding.h"
#include "net/server_request.h"
#include "net/session_setup.h"

namespace qovra {

bool ServerHandshake(TWindowHandle owner, bool append_dh) {
  if (!LoadUserKeys(owner)) return false;
  const std::string_view public_record(reinterpret_cast<const char*>(Session.OwnPublicKey.data()),
                                       Session.OwnPublicKey.size());
  Session.CertKeyHash = HashString(public_record);
  const bool dh = append_dh && Session.OwnPublicKey != Session.OwnDhKey;

  // The reply's session id and server key reach Session only once the
  // reply's signature checked out; until then the old session stands.
  pugi::xml_document reply;
  if (ServerRequest(false, nullptr, 0, dh, nullptr, nullptr, GetMsg("msgHandshaking"), false, false,
                    owner, {}, Options.Conn.ServerUrl, reply) != 1) {
    return false;
  }

  std::array<uint8_t, 64> key{};
  const bool made = UZDST_CIPHER_KEY_generate(Session.OwnPrivateKey.data(), Session.OwnDhKey.data(),
                                              Session.ServerDhKey.data(), key.data()) == 1;
  if (!made) {
    // The new session id is of no use without its key.
    HandshakeDone = false;
    ShowWarning(owner, "msgCannotGenerateEncKey");
    return false;
  }
  Session.SessionKey = key;
  SecureWipe(key.data(), key.size());
  Session.State = 0;
  HandshakeDone = true;
  return true;
}

}  // namespace qovra
