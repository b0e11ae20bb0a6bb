// TfrmMain: offline and online work, automatic receiving and the tray.
#include <QWindow>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "qovra/ui/progress.h"
#include "qovra/workspace/auto_receive.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/tray_icon.h"
#include "seam/ui_seam.h"

namespace {

// Session.State.
constexpr uint8_t kStateOnline = 1;
constexpr uint8_t kStateOffline = 2;
// TfrmPassword's result when the login went through.
constexpr int kPromptAccepted = 1;

}  // namespace

void TfrmMain::acWorkOfflineExecute(bool checked) {
  if (checked) {
    // Offline needs nothing from the server.
    qovra::Session.State = kStateOffline;
  } else {
    const std::string prompt =
        qovra::FormatMsgArgs(qovra::GetMsg("msgPasswordPrompt"), qovra::Options.Other.lastlgn);
    const int result = qovra::PasswordPromptUi().Reauthenticate(
        nullptr, qovra::GetMsg("msgGoOnlineCaption"), prompt, "ico_lock48");
    // The prompt has reported any failure; the program stays offline.
    if (result != kPromptAccepted || qovra::Session.State != kStateOnline)
      alMain->acWorkOffline->setChecked(true);
  }
  UpdateOnlineActions();
  UpdateTitle();
}

void TfrmMain::TimerTick() {
  auto_receive_->TimerTick();
}

bool TfrmMain::AutoReceiveReady() const {
  // A receive inside a question's own event loop would re-enter the window
  // under it.
  return qovra::Session.State == kStateOnline && !receiving_ && qovra::MessageDialogsOpen() == 0 &&
         !(frmProgress && frmProgress->isVisible());
}

void TfrmMain::ApplyTimerAndTraySettings() {
  tray_->SetMinimizeToTray(qovra::Options.Other.traymin != 0);
  qovra::ReceiveTimer().SetEnabled(qovra::Options.Mail.reffreq > 0);
}

void TfrmMain::trayIconMinimizeToTray() {
  if (!isMinimized() || !tray_->MinimizeToTray() || !tray_->IsAvailable()) return;
  hide();
  tray_->SetVisible(true);
}

void TfrmMain::mnuTrayOpenClick() {
  tray_->SetVisible(false);
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}
