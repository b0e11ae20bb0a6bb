// What the main window asks of its notification-area (tray) icon.
//
// The window creates no icon of its own: whoever creates the window passes
// an implementation (the program's tray icon, or a recording fake in
// tests) and keeps it alive for the window's life. Without one the window
// uses NullTrayIcon(), which does nothing.
//
// GUI thread only.
#pragma once

#include <QString>

namespace qovra::ui {

class ITrayIcon {
 public:
  virtual ~ITrayIcon() = default;
  // The icon's tool tip: the application title.
  virtual void SetHint(const QString& hint) = 0;
  // Whether minimising the main window hides it in the tray (traymin).
  virtual void SetMinimizeToTray(bool on) = 0;
  // Shows a balloon with the information icon for timeout_ms.
  virtual void ShowBalloonHint(const QString& title, const QString& text, int timeout_ms) = 0;
};

// An icon that shows nothing; shared, never freed.
ITrayIcon& NullTrayIcon();

}  // namespace qovra::ui
