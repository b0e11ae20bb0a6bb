// The settings dialog behind the core's settings seam (ISettingsDialogUi).
//
// ShowOptions builds TfrmOptions (options_dialog.h) with the pages of the
// mask, runs it modally over the owner and returns its result; the mask
// goes back to all pages afterwards. Install it with
// qovra::SetSettingsDialogUi(&qovra::account::SettingsDialogWindowUi())
// (the program's main block does so). GUI thread only.
#pragma once

#include "seam/ui_seam.h"

namespace qovra::account {

class TSettingsDialogUi : public ISettingsDialogUi {
 public:
  int ShowOptions(TWindowHandle owner, int page_mask) override;
  // Applies the current language file to window.
  void ApplyLanguageToWindow(TWindowHandle window) override;
};

// The program's one instance.
TSettingsDialogUi& SettingsDialogWindowUi();

}  // namespace qovra::account
