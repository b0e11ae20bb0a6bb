// The login driver: the login window at start-up, the password prompt when
// the session expired.
#include "qovra/messages.h"
#include "qovra/msg_format.h"
#include "qovra/records.h"
#include "qovra/session_setup.h"

namespace qovra {
namespace {

// True while a login window or a re-authentication prompt is open.
bool g_login_open = false;

class LoginOpenMark {
 public:
  LoginOpenMark() { g_login_open = true; }
  ~LoginOpenMark() { g_login_open = false; }
  LoginOpenMark(const LoginOpenMark&) = delete;
  LoginOpenMark& operator=(const LoginOpenMark&) = delete;
};

}  // namespace

bool ShowLoginDialog(bool startup) {
  if (g_login_open) return false;
  LoginOpenMark mark;
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
