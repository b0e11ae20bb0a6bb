#include "qovra/workspace/tray_icon.h"

namespace qovra::ui {
namespace {

class TNullTrayIcon : public ITrayIcon {
 public:
  bool IsAvailable() override { return false; }
  void SetHint(const QString&) override {}
  void SetMinimizeToTray(bool) override {}
  bool MinimizeToTray() override { return false; }
  void SetVisible(bool) override {}
  void SetMenu(QMenu*) override {}
  void SetOpenHandler(std::function<void()>) override {}
  void ShowBalloonHint(const QString&, const QString&, int) override {}
};

}  // namespace

ITrayIcon& NullTrayIcon() {
  static TNullTrayIcon icon;
  return icon;
}

}  // namespace qovra::ui
