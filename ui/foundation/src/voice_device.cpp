// The voice part of AudioBackend: the base has no devices; the time text.
#include "qovra/ui/voice_device.h"

#include <QLocale>

#include "qovra/ui/audio_backend.h"

namespace qovra::ui {

std::unique_ptr<VoiceSession> AudioBackend::Record(const QString&, const TVoiceFormat&, uint64_t,
                                                   TVoiceEvents) {
  return nullptr;
}

std::unique_ptr<VoiceSession> AudioBackend::Play(const QString&, TVoiceEvents) {
  return nullptr;
}

QString FormatVoiceTime(int64_t ms) {
  if (ms < 0) ms = 0;
  const int64_t hundredths = (ms / 10) % 100;
  const int64_t seconds = ms / 1000;
  const int64_t s = seconds % 60;
  const int64_t m = (seconds / 60) % 60;
  const int64_t h = seconds / 3600;
  // The system's separator, not the program language's locale.
  const QString decimal = QLocale::system().decimalPoint();
  const QString time_sep = QStringLiteral(":");
  auto two = [](int64_t v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
  const QString tail = decimal + two(hundredths);
  if (h > 0) return QString::number(h) + time_sep + two(m) + time_sep + two(s) + tail;
  if (m > 0) return QString::number(m) + time_sep + two(s) + tail;
  return QString::number(s) + tail;
}

}  // namespace qovra::ui
