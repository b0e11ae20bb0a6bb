#include "qovra/account/settings_dialog_ui.h"

#include <QString>

#include "base/messages.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/widgets.h"

namespace qovra::account {

bool TSettingsDialogUi::ShowOptions(TWindowHandle owner, int /*page*/) {
  ui::ShowNotAvailable(ui::WidgetOf(owner), QString::fromStdString(GetMsg("msgSettings")));
  return false;
}

void TSettingsDialogUi::ApplyLanguageToWindow(TWindowHandle window) {
  if (QWidget* widget = ui::WidgetOf(window)) ui::ApplyLanguageToForm(widget);
}

TSettingsDialogUi& SettingsDialogWindowUi() {
  static TSettingsDialogUi ui;
  return ui;
}

}  // namespace qovra::account
