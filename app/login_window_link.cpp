#include "login_window_link.h"

namespace qovra::app {

ILoginDialogUi* ProgramLoginWindow() {
  return nullptr;  // no login window is linked into this build
}

}  // namespace qovra::app
