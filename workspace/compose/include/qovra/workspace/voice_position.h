// The position strip of the voice windows: lblPosition and progbarAudio
// side by side on pnlStatusBar, and what they show while a recording plays.
//
// GUI thread only.
#pragma once

#include <cstdint>

class QLabel;
class QWidget;

namespace qovra::ui {
class TProgressBarEx;
}  // namespace qovra::ui

namespace qovra::compose {

struct TVoicePositionBar {
  QWidget* Panel;
  QLabel* Label;
  qovra::ui::TProgressBarEx* Bar;
};

// The strip, owned by owner; the label is wide enough for the longest text.
TVoicePositionBar BuildVoicePositionBar(QWidget* owner);

// "position / length" in the label and the bar at position's share of
// length (an empty length counts as 1 ms).
void ShowVoicePosition(const TVoicePositionBar& strip, int64_t position_ms, int64_t length_ms);

}  // namespace qovra::compose
