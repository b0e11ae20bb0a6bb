// The settings dialog behind the core's settings seam (ISettingsDialogUi).
//
// The settings dialog (TfrmOptions) is not in this build yet: asking for it
// says so, as every function not built yet does (msgFunctionNotAvailable,
// named by the text of msgSettings), and changes no setting. Install it
// with qovra::SetSettingsDialogUi(&qovra::account::SettingsDialogWindowUi())
// (the program's main block does so). GUI thread only.
#pragma once

#include "seam/ui_seam.h"

namespace qovra::account {

class TSettingsDialogUi : public ISettingsDialogUi {
 public:
  // Tells over owner that the settings dialog is not available; false:
  // nothing was confirmed.
  bool ShowOptions(TWindowHandle owner, int page) override;
  // Applies the current language file to window.
  void ApplyLanguageToWindow(TWindowHandle window) override;
};

// The program's one instance.
TSettingsDialogUi& SettingsDialogWindowUi();

}  // namespace qovra::account
