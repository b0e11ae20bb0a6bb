// The balloon tip that points at a field: one at a time for the whole program.
//
// Field checks of every form and the refusals of TCustomEditEx show their
// message here. A balloon closes when the next key is pressed in its field,
// when the field loses the focus, is hidden or destroyed, when its window is
// hidden or deactivated, when it is clicked, when another balloon is shown,
// or after its time-out; it follows its window when that moves. All calls
// come from the interface thread.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace qovra::ui {

// The icon codes of the balloon (the edit balloon's own numbering).
enum class TBalloonIcon : int { None = 0, Info = 1, Warning = 2, Error = 3 };

// Time a balloon stays up unless something closes it first.
constexpr int kBalloonTimeoutMs = 10000;

// What the balloon shows now.
struct TBalloonState {
  QWidget* field = nullptr;
  QString title;
  QString text;
  TBalloonIcon icon = TBalloonIcon::None;
};

// Shows a balloon pointing at field, replacing any balloon shown before.
// REQUIRES: field is not null. The balloon is a tool-tip window owned by the
// field's window; it never takes the focus.
void ShowBalloon(QWidget* field, const QString& title, const QString& text, TBalloonIcon icon,
                 int timeout_ms = kBalloonTimeoutMs);

// The balloon shown now, or nothing.
std::optional<TBalloonState> CurrentBalloon();

// Closes the balloon, if one is shown.
void HideBalloon();

}  // namespace qovra::ui
