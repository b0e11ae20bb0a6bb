// Voice sessions on Qt Multimedia: QAudioSource into a wave file and
// QAudioSink from one.
#include "qt_voice_device.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QFile>
#include <QMediaDevices>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qovra::ui {

namespace {

void Put32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Put16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>(v >> 8);
}

uint32_t Le32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(u[0]) | static_cast<uint32_t>(u[1]) << 8 |
         static_cast<uint32_t>(u[2]) << 16 | static_cast<uint32_t>(u[3]) << 24;
}

uint16_t Le16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(u[0] | u[1] << 8);
}

QByteArray WaveHeader(const TVoiceFormat& format, uint64_t data_bytes) {
  QByteArray h(44, '\0');
  char* p = h.data();
  const auto data = static_cast<uint32_t>(data_bytes);
  const auto block = static_cast<uint16_t>(2 * format.Channels);
  std::memcpy(p, "RIFF", 4);
  Put32(p + 4, data + 36);
  std::memcpy(p + 8, "WAVEfmt ", 8);
  Put32(p + 16, 16);
  Put16(p + 20, 1);
  Put16(p + 22, static_cast<uint16_t>(format.Channels));
  Put32(p + 24, static_cast<uint32_t>(format.SampleRate));
  Put32(p + 28, static_cast<uint32_t>(format.SampleRate) * block);
  Put16(p + 32, block);
  Put16(p + 34, 16);
  std::memcpy(p + 36, "data", 4);
  Put32(p + 40, data);
  return h;
}

QAudioFormat ToQt(const TVoiceFormat& format) {
  QAudioFormat f;
  f.setSampleRate(format.SampleRate);
  f.setChannelCount(format.Channels);
  f.setSampleFormat(QAudioFormat::Int16);
  return f;
}

int64_t BytesToMs(uint64_t bytes, const TVoiceFormat& format) {
  const uint64_t per_second =
      static_cast<uint64_t>(format.SampleRate) * 2u * static_cast<uint64_t>(format.Channels);
  return per_second ? static_cast<int64_t>(bytes * 1000 / per_second) : 0;
}

// Takes what the source pushes and writes it after the header, up to the
// limit.
class WaveWriter : public QIODevice {
 public:
  WaveWriter(QFile& file, uint64_t limit, uint64_t frame_bytes, std::function<void(int)> level,
             std::function<void()> full)
      : file_(file),
        limit_(limit - limit % frame_bytes),
        frame_(frame_bytes),
        level_(std::move(level)),
        full_(std::move(full)) {}

  uint64_t Bytes() const { return bytes_; }
  bool Failed() const { return failed_; }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 len) override {
    if (len <= 0 || full_reported_) return len;
    const uint64_t room = limit_ - bytes_;
    uint64_t take = std::min<uint64_t>(static_cast<uint64_t>(len), room);
    take -= take % frame_;
    if (take > 0 && file_.write(data, static_cast<qint64>(take)) != static_cast<qint64>(take))
      failed_ = true;
    bytes_ += take;
    int peak = 0;
    const qint64 samples = len / 2;
    for (qint64 i = 0; i < samples; ++i) {
      int16_t v;
      std::memcpy(&v, data + 2 * i, 2);
      peak = std::max(peak, v < 0 ? -static_cast<int>(v) : static_cast<int>(v));
    }
    if (level_) level_(std::min(100, peak * 100 / 32767));
    if (failed_ || take < static_cast<uint64_t>(len) || bytes_ + frame_ > limit_) {
      full_reported_ = true;
      full_();
    }
    return len;
  }

 private:
  QFile& file_;
  uint64_t limit_;
  uint64_t frame_;
  uint64_t bytes_ = 0;
  bool failed_ = false;
  bool full_reported_ = false;
  std::function<void(int)> level_;
  std::function<void()> full_;
};

// Gives the sink the data chunk of a wave file and then ends.
class WaveReader : public QIODevice {
 public:
  WaveReader(QFile& file, uint64_t bytes) : file_(file), left_(bytes) {}
  bool isSequential() const override { return true; }
  bool atEnd() const override { return left_ == 0; }
  qint64 bytesAvailable() const override {
    return static_cast<qint64>(std::min<uint64_t>(left_, 1u << 30)) + QIODevice::bytesAvailable();
  }

 protected:
  qint64 readData(char* data, qint64 max) override {
    const qint64 want = static_cast<qint64>(std::min<uint64_t>(left_, static_cast<uint64_t>(max)));
    if (want <= 0) return 0;
    const qint64 got = file_.read(data, want);
    if (got <= 0) {
      left_ = 0;
      return 0;
    }
    left_ -= static_cast<uint64_t>(got);
    return got;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QFile& file_;
  uint64_t left_;
};

// Common end handling: the end is reported once, queued.
class SessionBase : public QObject, public VoiceSession {
 public:
  explicit SessionBase(TVoiceEvents events) : events_(std::move(events)) {}
  bool Active() const override { return active_; }
  bool Paused() const override { return paused_; }

 protected:
  void ReportActivate() {
    QTimer::singleShot(0, this, [this] {
      if (events_.Activate) events_.Activate();
    });
  }
  // Closes the device and the file, then queues Deactivate.
  void End(TVoiceEnd reason) {
    if (!active_) return;
    active_ = false;
    paused_ = false;
    Close();
    QTimer::singleShot(0, this, [this, reason] {
      if (events_.Deactivate) events_.Deactivate(reason);
    });
  }
  virtual void Close() = 0;

  TVoiceEvents events_;
  bool active_ = false;
  bool paused_ = false;
};

class RecordSession : public SessionBase {
 public:
  RecordSession(const TVoiceFormat& format, TVoiceEvents events)
      : SessionBase(std::move(events)), format_(format) {}
  ~RecordSession() override {
    if (active_) {
      active_ = false;
      Close();
    }
  }

  bool Start(const QString& path, uint64_t limit) {
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    const QAudioFormat qformat = ToQt(format_);
    if (device.isNull() || !device.isFormatSupported(qformat)) return false;
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    if (file_.write(WaveHeader(format_, 0)) != 44) return false;
    writer_ = std::make_unique<WaveWriter>(
        file_, limit, 2u * static_cast<uint64_t>(format_.Channels), events_.Level, [this] {
          // Ended from inside the source's push: stop once it returned.
          QTimer::singleShot(0, this, [this] {
            End(writer_ && writer_->Failed() ? TVoiceEnd::DeviceError : TVoiceEnd::SizeLimit);
          });
        });
    writer_->open(QIODevice::WriteOnly);
    source_ = new QAudioSource(device, qformat, this);
    source_->setBufferSize(static_cast<qsizetype>(qformat.bytesForDuration(100000)));
    connect(source_, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
      if (state == QAudio::StoppedState && source_->error() != QAudio::NoError)
        End(TVoiceEnd::DeviceError);
    });
    active_ = true;
    source_->start(writer_.get());
    if (source_->error() != QAudio::NoError) {
      active_ = false;
      Close();
      return false;
    }
    ReportActivate();
    return true;
  }

  void SetPaused(bool paused) override {
    if (!active_ || paused == paused_) return;
    paused_ = paused;
    if (paused)
      source_->suspend();
    else
      source_->resume();
  }
  void Stop() override { End(TVoiceEnd::Stopped); }
  int64_t PositionMs() const override { return BytesToMs(writer_ ? writer_->Bytes() : 0, format_); }
  int64_t LengthMs() const override { return PositionMs(); }

 private:
  void Close() override {
    if (source_) {
      source_->disconnect(this);
      source_->stop();
    }
    if (file_.isOpen()) {
      const uint64_t bytes = writer_ ? writer_->Bytes() : 0;
      if (file_.seek(0)) file_.write(WaveHeader(format_, bytes));
      file_.close();
    }
  }

  TVoiceFormat format_;
  QFile file_;
  std::unique_ptr<WaveWriter> writer_;
  QAudioSource* source_ = nullptr;
};

class PlaySession : public SessionBase {
 public:
  explicit PlaySession(TVoiceEvents events) : SessionBase(std::move(events)) {}
  ~PlaySession() override {
    if (active_) {
      active_ = false;
      Close();
    }
  }

  bool Start(const QString& path) {
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly)) return false;
    uint64_t bytes = 0;
    if (!ReadHeader(bytes)) return false;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    const QAudioFormat qformat = ToQt(format_);
    if (device.isNull()) return false;
    length_ms_ = BytesToMs(bytes, format_);
    reader_ = std::make_unique<WaveReader>(file_, bytes);
    reader_->open(QIODevice::ReadOnly);
    sink_ = new QAudioSink(device, qformat, this);
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
      if (state == QAudio::IdleState && reader_->atEnd()) End(TVoiceEnd::Stopped);
      if (state == QAudio::StoppedState && sink_->error() != QAudio::NoError &&
          sink_->error() != QAudio::UnderrunError)
        End(TVoiceEnd::DeviceError);
    });
    active_ = true;
    sink_->start(reader_.get());
    if (sink_->error() != QAudio::NoError && sink_->error() != QAudio::UnderrunError) {
      active_ = false;
      Close();
      return false;
    }
    ReportActivate();
    return true;
  }

  void SetPaused(bool paused) override {
    if (!active_ || paused == paused_) return;
    paused_ = paused;
    if (paused)
      sink_->suspend();
    else
      sink_->resume();
  }
  void Stop() override { End(TVoiceEnd::Stopped); }
  int64_t PositionMs() const override {
    return sink_ ? std::min<int64_t>(sink_->processedUSecs() / 1000, length_ms_) : 0;
  }
  int64_t LengthMs() const override { return length_ms_; }

 private:
  bool ReadHeader(uint64_t& bytes) {
    const QByteArray riff = file_.read(12);
    if (riff.size() != 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE") return false;
    bool have_format = false;
    for (;;) {
      const QByteArray head = file_.read(8);
      if (head.size() != 8) return false;
      const uint32_t size = Le32(head.constData() + 4);
      const qint64 next = file_.pos() + size + (size & 1);
      if (head.startsWith("fmt ")) {
        const QByteArray fmt = file_.read(16);
        if (size < 16 || fmt.size() != 16) return false;
        if (Le16(fmt.constData()) != 1 || Le16(fmt.constData() + 14) != 16) return false;
        format_.Channels = Le16(fmt.constData() + 2);
        format_.SampleRate = static_cast<int>(Le32(fmt.constData() + 4));
        if (format_.Channels < 1 || format_.Channels > 2 || format_.SampleRate < 1) return false;
        have_format = true;
      } else if (head.startsWith("data")) {
        if (!have_format) return false;
        const uint64_t remaining = static_cast<uint64_t>(file_.size() - file_.pos());
        bytes = std::min<uint64_t>(size, remaining);
        bytes -= bytes % (2u * static_cast<uint64_t>(format_.Channels));
        return true;
      }
      if (!file_.seek(next)) return false;
    }
  }
  void Close() override {
    if (sink_) {
      sink_->disconnect(this);
      sink_->stop();
    }
    file_.close();
  }

  TVoiceFormat format_;
  QFile file_;
  std::unique_ptr<WaveReader> reader_;
  QAudioSink* sink_ = nullptr;
  int64_t length_ms_ = 0;
};

}  // namespace

std::unique_ptr<VoiceSession> StartQtRecording(const QString& wave_file, const TVoiceFormat& format,
                                               uint64_t limit_bytes, TVoiceEvents events) {
  auto session = std::make_unique<RecordSession>(format, std::move(events));
  if (!session->Start(wave_file, std::min(limit_bytes, kVoiceRecordLimitBytes))) return nullptr;
  return session;
}

std::unique_ptr<VoiceSession> StartQtPlayback(const QString& wave_file, TVoiceEvents events) {
  auto session = std::make_unique<PlaySession>(std::move(events));
  if (!session->Start(wave_file)) return nullptr;
  return session;
}

}  // namespace qovra::ui
