// A recording tray icon for tests.
//
//   qovra::ui::testing::FakeTrayIcon tray;
//   TfrmMain window(&tray);
//   ...
//   ASSERT_EQ(tray.balloons.size(), 1u);
#pragma once

#include <QString>
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

  void SetHint(const QString& h) override { hint = h; }
  void SetMinimizeToTray(bool on) override { minimize_to_tray = on; }
  void ShowBalloonHint(const QString& title, const QString& text, int timeout_ms) override {
    balloons.push_back({title, text, timeout_ms});
  }

  QString hint;
  bool minimize_to_tray = false;
  std::vector<Balloon> balloons;
};

}  // namespace qovra::ui::testing
