// TfrmMain: the settings dialog and what the window does after it.
#include "base/records.h"
#include "mail/startup.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/auto_receive.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/tray_icon.h"
#include "seam/ui_seam.h"
#include "settings/settings.h"

namespace {

constexpr int kAllPages = -1;
constexpr int kPagesWhileOnline = -4;  // interface, folders and mail

}  // namespace

void TfrmMain::acToolsOptionsExecute() {
  const int32_t langid = qovra::Options.langid;
  const int32_t reffreq = qovra::Options.Mail.reffreq;
  const std::string user_dir = qovra::UserDir;
  const int result = qovra::SettingsDialogUi().ShowOptions(
      qovra::ui::HandleOf(this), qovra::Session.State == 1 ? kPagesWhileOnline : kAllPages);
  if (result == qovra::kOptionsApplied || result == qovra::kOptionsExistingData) {
    // A failed save leaves the old file whole; the settings stay in memory.
    (void)qovra::SaveOptions();
  }
  // The mail folder switched (to data that was there, or to a copy or a
  // new start): the folders and the list come from the new database.
  if (result == qovra::kOptionsExistingData || qovra::UserDir != user_dir) {
    RefreshFolderCounters();
    tvMainChange();
  }
  if (qovra::Options.langid != langid) {
    qovra::ApplyLanguage(this);
    ApplyFolderCaptions();
    UpdateTitle();
    StatusReady();
  }
  tray_->SetMinimizeToTray(qovra::Options.Other.traymin != 0);
  // A new period counts from now.
  if (qovra::Options.Mail.reffreq != 0 && qovra::Options.Mail.reffreq != reffreq && isVisible())
    auto_receive_->Restart();
  qovra::ReceiveTimer().SetEnabled(qovra::Options.Mail.reffreq != 0);
}
