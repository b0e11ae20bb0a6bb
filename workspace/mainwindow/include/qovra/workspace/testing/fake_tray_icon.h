// A recording tray icon for tests.
//
//   qovra::ui::testing::FakeTrayIcon tray;
//   TfrmMain window(&tray);
//   ...
//   ASSERT_EQ(tray.balloons.size(), 1u);
//   tray.ClickBalloon();  // what a click on the balloon does
#pragma once

#include <QString>
#include <functional>
#include <utility>
#include <vector>

#include "qovra/workspace/tray_icon.h"

namespace qovra::ui::testing {

class FakeTrayIcon : public ITrayIcon {
 public:
  struct Balloon {
    QString title;
    QString text;
    int timeout_ms = 0;
  };

  bool IsAvailable() override { return available; }
  void SetHint(const QString& h) override { hint = h; }
  void SetMinimizeToTray(bool on) override { minimize_to_tray = on; }
  bool MinimizeToTray() override { return minimize_to_tray; }
  void SetVisible(bool on) override { visible = available && on; }
  void SetMenu(QMenu* m) override { menu = m; }
  void SetOpenHandler(std::function<void()> open) override { open_ = std::move(open); }
  void ShowBalloonHint(const QString& title, const QString& text, int timeout_ms) override {
    if (available) balloons.push_back({title, text, timeout_ms});
  }

  // The user clicks the balloon (or activates the icon).
  void ClickBalloon() {
    if (open_) open_();
  }

  // false: a desktop without a notification area.
  bool available = true;
  QString hint;
  bool minimize_to_tray = false;
  bool visible = false;
  QMenu* menu = nullptr;
  std::vector<Balloon> balloons;

 private:
  std::function<void()> open_;
};

}  // namespace qovra::ui::testing
