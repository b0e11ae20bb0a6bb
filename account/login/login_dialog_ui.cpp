#include "qovra/account/login_dialog_ui.h"

#include "qovra/account/login_window.h"

namespace qovra::account {

int TLoginDialogUi::ShowLoginWindow() {
  TfrmLogin form(nullptr);
  form.RefreshFromOptions(false);
  const int result = form.exec();
  return result == TfrmLogin::kResultLoggedIn ? TfrmLogin::kResultLoggedIn
                                              : TfrmLogin::kResultCancelled;
}

TLoginDialogUi& LoginWindowUi() {
  static TLoginDialogUi ui;
  return ui;
}

}  // namespace qovra::account
