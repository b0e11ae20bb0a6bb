// What the main window asks of its notification-area (tray) icon.
//
// The window creates no icon of its own: whoever creates the window passes
// an implementation (the program's TSystemTrayIcon, or a recording fake in
// tests) and keeps it alive for the window's life. Without one the window
// uses NullTrayIcon(), which does nothing and reads as unavailable.
//
// A desktop without a notification area makes the icon unavailable: it
// never shows, its balloons show nothing, and the window minimises to the
// task bar whatever MinimizeToTray says.
//
// GUI thread only.
#pragma once

#include <QString>
#include <functional>

class QMenu;

namespace qovra::ui {

class ITrayIcon {
 public:
  virtual ~ITrayIcon() = default;
  // Whether the desktop has a notification area.
  virtual bool IsAvailable() = 0;
  // The icon's tool tip: the application title.
  virtual void SetHint(const QString& hint) = 0;
  // Whether minimising the main window hides it in the tray (traymin).
  virtual void SetMinimizeToTray(bool on) = 0;
  virtual bool MinimizeToTray() = 0;
  // Shows or hides the icon.
  virtual void SetVisible(bool visible) = 0;
  // The icon's menu (pmTray); not owned, must outlive the icon's use.
  virtual void SetMenu(QMenu* menu) = 0;
  // Called when the user opens the window from the tray: the icon's
  // activation or a click on its balloon.
  virtual void SetOpenHandler(std::function<void()> open) = 0;
  // Shows a balloon with the information icon for timeout_ms.
  virtual void ShowBalloonHint(const QString& title, const QString& text, int timeout_ms) = 0;
};

// An icon that shows nothing; shared, never freed.
ITrayIcon& NullTrayIcon();

}  // namespace qovra::ui
