// The login driver: the login window at start-up, the password prompt when
// the session expired.
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "net/session_setup.h"

namespace qovra {
namespace {

// Login windows and re-authentication prompts open now.
int g_login_open = 0;

}  // namespace

TLoginOpenMark::TLoginOpenMark() {
  ++g_login_open;
}
TLoginOpenMark::~TLoginOpenMark() {
  --g_login_open;
}
bool TLoginOpenMark::AnyOpen() {
  return g_login_open > 0;
}

bool ShowLoginDialog(bool startup) {
  if (TLoginOpenMark::AnyOpen()) return false;
  TLoginOpenMark mark;
  if (startup) {
    const int result = LoginDialogUi().ShowLoginWindow();
    return result == 1 && (Session.State == 1 || Session.State == 2);
  }
  const std::string prompt =
      FormatMsg(GetMsg("msgPasswordPrompt"), {std::string(Options.Other.lastlgn)});
  const int result = PasswordPromptUi().Reauthenticate(nullptr, GetMsg("msgPasswordCaption"),
                                                       prompt, "ico_lock48");
  return result == 1 && Session.State == 1;
}

}  // namespace qovra
