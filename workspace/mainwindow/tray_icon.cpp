#include "qovra/workspace/tray_icon.h"

namespace qovra::ui {
namespace {

class TNullTrayIcon : public ITrayIcon {
 public:
  void SetHint(const QString&) override {}
  void SetMinimizeToTray(bool) override {}
  void ShowBalloonHint(const QString&, const QString&, int) override {}
};

}  // namespace

ITrayIcon& NullTrayIcon() {
  static TNullTrayIcon icon;
  return icon;
}

}  // namespace qovra::ui
