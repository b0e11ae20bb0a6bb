#include "qovra/account/settings_dialog_ui.h"

#include "qovra/account/options_dialog.h"
#include "qovra/ui/widgets.h"

namespace qovra::account {

int TSettingsDialogUi::ShowOptions(TWindowHandle owner, int page_mask) {
  OptionsPageMask = static_cast<uint16_t>(page_mask);
  int result = kOptionsCancelled;
  {
    TfrmOptions dialog(ui::WidgetOf(owner));
    result = dialog.exec();
  }
  OptionsPageMask = kAllOptionPages;
  return result == kOptionsApplied || result == kOptionsExistingData ? result : kOptionsCancelled;
}

void TSettingsDialogUi::ApplyLanguageToWindow(TWindowHandle window) {
  if (QWidget* widget = ui::WidgetOf(window)) ui::ApplyLanguageToForm(widget);
}

TSettingsDialogUi& SettingsDialogWindowUi() {
  static TSettingsDialogUi ui;
  return ui;
}

}  // namespace qovra::account
