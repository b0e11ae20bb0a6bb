#include "qovra/workspace/system_tray_icon.h"

#include <QMenu>

namespace qovra::ui {

TSystemTrayIcon::TSystemTrayIcon(const QIcon& icon) {
  icon_.setIcon(icon);
  QObject::connect(
      &icon_, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) Open();
      });
  QObject::connect(&icon_, &QSystemTrayIcon::messageClicked, [this] { Open(); });
}

bool TSystemTrayIcon::IsAvailable() {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void TSystemTrayIcon::SetHint(const QString& hint) {
  icon_.setToolTip(hint);
}

void TSystemTrayIcon::SetVisible(bool visible) {
  icon_.setVisible(visible && IsAvailable());
}

void TSystemTrayIcon::SetMenu(QMenu* menu) {
  icon_.setContextMenu(menu);
}

void TSystemTrayIcon::ShowBalloonHint(const QString& title, const QString& text, int timeout_ms) {
  if (IsAvailable()) icon_.showMessage(title, text, QSystemTrayIcon::Information, timeout_ms);
}

void TSystemTrayIcon::Open() {
  if (open_) open_();
}

}  // namespace qovra::ui
