// The program's tray icon: a QSystemTrayIcon with the 16-pixel program
// icon. Unavailable (see tray_icon.h) when the desktop has no system tray
// (QSystemTrayIcon::isSystemTrayAvailable()).
//
// GUI thread only; create it after the QApplication.
#pragma once

#include <QIcon>
#include <QSystemTrayIcon>

#include "qovra/workspace/tray_icon.h"

namespace qovra::ui {

class TSystemTrayIcon : public ITrayIcon {
 public:
  explicit TSystemTrayIcon(const QIcon& icon);

  bool IsAvailable() override;
  void SetHint(const QString& hint) override;
  void SetMinimizeToTray(bool on) override { minimize_to_tray_ = on; }
  bool MinimizeToTray() override { return minimize_to_tray_; }
  void SetVisible(bool visible) override;
  void SetMenu(QMenu* menu) override;
  void SetOpenHandler(std::function<void()> open) override { open_ = std::move(open); }
  void ShowBalloonHint(const QString& title, const QString& text, int timeout_ms) override;

 private:
  void Open();

  QSystemTrayIcon icon_;
  bool minimize_to_tray_ = false;
  std::function<void()> open_;
};

}  // namespace qovra::ui
