// Command 161: the login (full form) and the re-authentication after an
// expired session (short form).
//
// Both send the login value: the string form (crypto_binding.h) of the
// login name's bytes under the 64-byte key HashString(password bytes)
// followed by the session id, with the session id as IV, Base64-encoded in
// `xln`. The full form adds the same value as `chash` and the program's
// version as `cver`. Logins and passwords are typed text (UTF-8) and become
// 8-bit text through the Windows-1251 codec (cp1251.h) before they are
// hashed or enciphered. The run-time key is wiped after use.
//
// The window checks (empty fields, password length, the server-settings
// loop, the shake and the failure count) belong to the windows; these
// routines do the rest and return ServerRequest's result (1 / 0 / server
// code), or kLoginNotSent when they stopped before the request (the server
// URL does not parse, no session could be agreed, the login value could not
// be made): the windows count that as no attempt. Everything is reported
// already. Interface thread only.
#pragma once

#include <array>
#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "keys/crypto_binding.h"
#include "seam/ui_seam.h"

namespace qovra {

// Written by the login, read by the update notice. The versions are texts
// such as "4.0.1.7"; the codes are their VersionToInt values.
extern std::string LatestClientVersion;
extern std::string UpdateUrl;
extern std::string UpdateRule;
extern uint32_t CurrentVersionCode;
extern uint32_t LatestVersionCode;

// The login stopped before its request was sent.
constexpr int kLoginNotSent = -1;

// The window a login request runs for, and the progress window's bar.
struct TLoginRequestForm {
  TWindowHandle Form = nullptr;
  std::string_view FormClass;
  void* ProgressBar = nullptr;
};

// The string form of login_bytes under password_hash followed by
// session_id, with session_id as IV; empty when the cipher refuses the key.
[[nodiscard]] std::string LoginValue(std::string_view login_bytes, const THashValue& password_hash,
                                     const std::array<uint8_t, 32>& session_id);

// The request XML of command 161. full_form adds `chash` (the same value)
// and `cver` (client_version, as it is).
[[nodiscard]] std::string LoginRequestXml(std::string_view login_value, bool full_form,
                                          std::string_view client_version);

// Takes a successful login reply's elements into Session (element names
// compared without regard to case, values from `val`): fname, lname, mname,
// company, jobtitle (Base64 of UTF-8), level, maxus; with full_form also
// cert_validity (`remain`, its low 32 bits), cert (Base64) and qovra_client
// (`ver`, `url`, `rule` into LatestClientVersion, UpdateUrl, UpdateRule; a
// missing `ver` keeps LatestClientVersion). Other elements are ignored.
void ApplyLoginReply(const pugi::xml_node& root, bool full_form);

// The login with login and password (UTF-8) under the server URL of the
// settings. It clears MaxUploadSize, makes a session unless HandshakeDone,
// sends the full form and, on 1, fills Session: the reply's fields, the
// certificate from the crtpath file when the reply had none, State 1,
// Login, Host, OwnContact.Email (login@host), OnlinePasswordHash; signs the
// password hash into the settings' offpass (and saves the settings) when
// offpass is not 160 bytes long; sets the version globals.
[[nodiscard]] int LoginSession(std::string_view login, std::string_view password,
                               const TLoginRequestForm& form);

// The re-authentication with the settings' last login name (lastlgn) and
// password: the short form; on 1 Session gets the names, level, maxus,
// State 1, Login, Host, OwnContact.Email and OnlinePasswordHash. A session
// without a certificate (one that began offline) takes the reply's cert,
// else the crtpath file's, so that the mails it signs carry it; a session
// that has one keeps it. The offline password signature is not touched.
[[nodiscard]] int ReauthenticateSession(std::string_view password, const TLoginRequestForm& form);

}  // namespace qovra
