// Session set-up: the settings checks, the loading of the user's keys, the
// key-agreement handshake and the login driver.
//
// Every routine runs on the interface thread, may show warnings and open
// windows through the seam (ui_seam.h), and reports its own failures: a
// caller never reports them again. owner is the window the messages and
// dialogs belong to (null: the active one).
#pragma once

#include "net/url.h"
#include "seam/ui_seam.h"

namespace qovra {

// Results of CheckKeyFiles and CheckServerSettings.
constexpr int kCheckOk = 1;         // settings usable
constexpr int kCheckCorrected = 0;  // the user confirmed the settings dialog: check again
constexpr int kCheckCancelled = 2;  // the user cancelled the settings dialog

// Shows the settings dialog at page (-2 means page 6, -1 page 7). On OK the
// settings are saved and HandshakeDone is cleared. When the interface language changed, the message
// texts are reloaded and the language is applied to owner. True on OK.
bool ShowOptionsDialog(TWindowHandle owner, int page);

// With key files (keyssrc 0): the certificate and private-key paths must be
// set and name existing files; otherwise a warning names the first fault and
// the settings dialog opens at its keys page. Keys from the device are not
// checked here.
[[nodiscard]] int CheckKeyFiles(TWindowHandle owner);

// The server address must be set and its URL must split into host, port and
// path (else a warning and the settings dialog at its connection page);
// then CheckKeyFiles. When the result is kCheckOk and parts is given, it
// holds the parts of the server URL.
[[nodiscard]] int CheckServerSettings(TWindowHandle owner, TUrlParts* parts = nullptr);

// Loads the user's keys into Session: OwnPrivateKey, OwnDhKey and
// OwnPublicKey from the key files or the key device, asking for the
// key-file password or the device PIN when none is cached. A wrong
// password or PIN is forgotten. On failure Session's key records are left
// as they were. The device is closed again before this returns.
[[nodiscard]] bool LoadUserKeys(TWindowHandle owner);

// Agrees a new session with the server: loads the keys, sends the
// handshake (with the key-agreement value when append_dh is set and the
// key-agreement record differs from the public one) and derives the session
// key. On success SessionId, ServerKey, ServerDhKey and SessionKey are the
// new session's, Session.State is 0 and HandshakeDone is set. On failure the
// old session id, server key and session key and Session.State are kept
// (HandshakeDone is cleared only when the new session id could be taken
// but no session key came of it).
[[nodiscard]] bool ServerHandshake(TWindowHandle owner, bool append_dh);

// startup true: the login window; true when it closed with the session
// online or offline. startup false (the session expired): the password
// prompt in its re-authentication mode with the last login name; true when
// it closed with the session online again. While a login window or such a
// prompt is open, a second one is never opened: the call returns false.
bool ShowLoginDialog(bool startup);

// Marks a login window or re-authentication prompt as open while it lives
// (marks nest). ShowLoginDialog holds one itself; a prompt opened another
// way holds its own, so that an expired session met by its own request
// never opens a second prompt.
class TLoginOpenMark {
 public:
  TLoginOpenMark();
  ~TLoginOpenMark();
  TLoginOpenMark(const TLoginOpenMark&) = delete;
  TLoginOpenMark& operator=(const TLoginOpenMark&) = delete;
  // Whether any mark lives.
  static bool AnyOpen();
};

}  // namespace qovra
