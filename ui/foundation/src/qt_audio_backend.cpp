// The Qt Multimedia audio backend.
#include <QApplication>
#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QHash>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPointer>
#include <QUrl>

#include "qovra/ui/audio_backend.h"
#include "qt_voice_device.h"

namespace qovra::ui {

namespace {

// One player per file, so that a file can be stopped by its name. The
// players belong to this object, which belongs to the application.
class QtAudioBackend : public QObject, public AudioBackend {
 public:
  explicit QtAudioBackend(QObject* parent) : QObject(parent) {}

  int OutputDeviceCount() override {
    return static_cast<int>(QMediaDevices::audioOutputs().size());
  }
  int InputDeviceCount() override { return static_cast<int>(QMediaDevices::audioInputs().size()); }

  bool PlayFile(const QString& file) override {
    if (QMediaDevices::audioOutputs().isEmpty()) return false;
    const QString key = QFileInfo(file).absoluteFilePath();
    QMediaPlayer* player = players_.value(key);
    if (!player) {
      player = new QMediaPlayer(this);
      if (!player->isAvailable()) {
        delete player;
        return false;
      }
      player->setAudioOutput(new QAudioOutput(QMediaDevices::defaultAudioOutput(), player));
      players_.insert(key, player);
    }
    player->stop();
    player->setSource(QUrl::fromLocalFile(key));
    player->play();
    return true;
  }

  void StopFile(const QString& file) override {
    QMediaPlayer* player = players_.value(QFileInfo(file).absoluteFilePath());
    if (player) player->stop();
  }

  void Beep(int /*flags*/) override { QApplication::beep(); }

  std::unique_ptr<VoiceSession> Record(const QString& wave_file, const TVoiceFormat& format,
                                       uint64_t limit_bytes, TVoiceEvents events) override {
    return StartQtRecording(wave_file, format, limit_bytes, std::move(events));
  }
  std::unique_ptr<VoiceSession> Play(const QString& wave_file, TVoiceEvents events) override {
    return StartQtPlayback(wave_file, std::move(events));
  }

 private:
  QHash<QString, QMediaPlayer*> players_;
};

// Used when the application is gone: silent.
class SilentBackend : public AudioBackend {
 public:
  int OutputDeviceCount() override { return 0; }
  int InputDeviceCount() override { return 0; }
  bool PlayFile(const QString&) override { return false; }
  void StopFile(const QString&) override {}
  void Beep(int) override {}
};

AudioBackend* g_installed = nullptr;
QPointer<QtAudioBackend> g_qt_backend;

}  // namespace

AudioBackend& Audio() {
  if (g_installed) return *g_installed;
  if (!g_qt_backend) {
    if (!qApp) {
      static SilentBackend silent;
      return silent;
    }
    // Qt 6.4's GStreamer media backend crashes when GStreamer elements are
    // missing; the FFmpeg backend needs nothing beyond Qt. A backend chosen
    // in the environment is left alone.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    g_qt_backend = new QtAudioBackend(qApp);
  }
  return *g_qt_backend;
}

void SetAudioBackend(AudioBackend* backend) {
  g_installed = backend;
}

}  // namespace qovra::ui
