// The login window behind the core's login seam (ILoginDialogUi).
//
// Install it with qovra::SetLoginDialogUi(&qovra::account::LoginWindowUi())
// (the program's main block does so). GUI thread only.
#pragma once

#include "seam/ui_seam.h"

namespace qovra::account {

class TLoginDialogUi : public ILoginDialogUi {
 public:
  // Creates TfrmLogin with no owner, fills it from the settings
  // (RefreshFromOptions without keeping the login), runs it modally and
  // frees it. Returns 1 when it closed with a session, else 2.
  int ShowLoginWindow() override;
};

// The program's one instance.
TLoginDialogUi& LoginWindowUi();

}  // namespace qovra::account
