#include "qovra/workspace/voice_position.h"

#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>

#include "qovra/controls/progress_bar_ex.h"
#include "qovra/ui/voice_device.h"

namespace qovra::compose {

TVoicePositionBar BuildVoicePositionBar(QWidget* owner) {
  TVoicePositionBar strip;
  strip.Panel = new QWidget(owner);
  strip.Panel->setObjectName(QStringLiteral("pnlStatusBar"));
  strip.Label = new QLabel(strip.Panel);
  strip.Label->setObjectName(QStringLiteral("lblPosition"));
  strip.Label->setMinimumWidth(
      owner->fontMetrics().horizontalAdvance(QStringLiteral("0:00:00.00 / 0:00:00.00")) + 8);
  strip.Bar = new qovra::ui::TProgressBarEx(strip.Panel);
  strip.Bar->setObjectName(QStringLiteral("progbarAudio"));
  strip.Bar->setFixedHeight(14);
  auto* row = new QHBoxLayout(strip.Panel);
  row->setContentsMargins(8, 2, 8, 6);
  row->addWidget(strip.Label);
  row->addWidget(strip.Bar, 1);
  return strip;
}

void ShowVoicePosition(const TVoicePositionBar& strip, int64_t position_ms, int64_t length_ms) {
  const int64_t length = length_ms > 0 ? length_ms : 1;
  strip.Bar->SetProgress(static_cast<int>(std::clamp<int64_t>(position_ms, 0, length) *
                                          strip.Bar->MaxValue() / length));
  strip.Label->setText(qovra::ui::FormatVoiceTime(position_ms) + QStringLiteral(" / ") +
                       qovra::ui::FormatVoiceTime(length_ms));
}

}  // namespace qovra::compose
