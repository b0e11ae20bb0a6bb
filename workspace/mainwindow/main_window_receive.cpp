// TfrmMain: receiving from the main window and the first activation.
#include "base/records.h"
#include "mail/receiving.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/main_window.h"

bool TfrmMain::acMailReceiveExecute() {
  // One run at a time: a receive asked for from inside a running one (a
  // shortcut or a timer tick while a message shows) is refused.
  // Offline, nothing may reach the server.
  if (receiving_ || qovra::Session.State != 1) return false;
  receiving_ = true;
  ++receive_runs_;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{receiving_};

  qovra::TReceiveRun run;
  run.Owner = {qovra::ui::HandleOf(this), "TfrmMain",
               frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr};
  run.StatusBar = static_cast<QWidget*>(pnlStatusBar->pbStatus);
  run.Silent = qovra::ui::SilentReceive;
  run.FirstActivationDone = first_activation_done_;
  last_receive_ = qovra::ReceiveMails(run);
  return true;
}

void TfrmMain::FormActivate() {
  if (first_activation_done_ || activating_) return;
  activating_ = true;
  showMaximized();
  // Only an online session has a server to receive from.
  if (qovra::Options.Mail.sdownld && qovra::Session.State == 1) {
    repaint();
    (void)acMailReceiveExecute();
  }
  first_activation_done_ = true;
  activating_ = false;
  FirstActivationNotices();
}
