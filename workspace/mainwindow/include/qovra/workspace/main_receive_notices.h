// What a receiving run signals to the main window (IReceiveNotices): the
// new-mail sound through the audio backend, the new-mail balloon through
// the tray icon, and the refreshed folders.
//
// GUI thread only.
#pragma once

#include <functional>

#include "seam/ui_seam.h"

class TfrmMain;

namespace qovra::ui {

class ITrayIcon;

class TMainReceiveNotices : public IReceiveNotices {
 public:
  // form and tray must outlive the notices.
  TMainReceiveNotices(TfrmMain& form, ITrayIcon& tray);

  // The application is active while one of its windows has the focus
  // (QGuiApplication::applicationState()), unless a check is set here.
  void SetApplicationActiveCheck(std::function<bool()> check) { active_check_ = std::move(check); }

  bool ApplicationActive() override;
  // True while the main window is not visible (hidden in the tray).
  bool MainWindowHidden() override;
  // Plays path through the installed audio backend (nothing for a file
  // that does not exist).
  void PlaySoundFile(const std::u16string& path) override;
  void ShowTrayNotice(const std::string& title, const std::string& text, int timeout_ms) override;
  // RefreshFolderCounters, then SelectFolder(folder_id).
  void RefreshFolders(int32_t folder_id) override;

 private:
  TfrmMain& form_;
  ITrayIcon& tray_;
  std::function<bool()> active_check_;
};

}  // namespace qovra::ui
