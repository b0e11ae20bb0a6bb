#include "qovra/ui/sound.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QResource>
#include <string>

#include "base/stream.h"
#include "base/stream_copy.h"
#include "platform/temp_files.h"
#include "qovra/ui/audio_backend.h"

namespace qovra::ui {

namespace {

// The registration root of qelto.rcc, apart from the program's own
// resources.
const char kQeltoRoot[] = "/qovra-qelto";
// Compressed and inflated size limits of one sound.
constexpr qint64 kMaxPackedSound = 4 << 20;
constexpr int64_t kMaxSound = 32 << 20;

std::array<QString, 3> g_sound_files;

// Unpacks sound 101 + index into a new temporary file and records its
// name; on any failure the entry stays empty and no file is left behind.
void ExtractSoundResource(int index) {
  const QString path = QStringLiteral(":") + kQeltoRoot + "/qelto/" + QString::number(101 + index);
  QFile resource(path);
  if (!resource.open(QIODevice::ReadOnly)) return;
  const QByteArray packed = resource.read(kMaxPackedSound + 1);
  if (packed.isEmpty() || packed.size() > kMaxPackedSound) return;

  TMemoryStream source(std::string(packed.constData(), static_cast<size_t>(packed.size())));
  TMemoryStream sound;
  if (ZDecompressStream(source, sound, nullptr, nullptr, kMaxSound) != ZStatus::Ok) return;
  if (sound.Data().empty()) return;

  const std::string name = MakeTempFileNameA("tmp", ".wav");
  if (name.empty()) return;
  const QString file = QString::fromStdString(name);
  QFile out(file);
  const bool written = out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                       out.write(sound.Data().data(), static_cast<qint64>(sound.Data().size())) ==
                           static_cast<qint64>(sound.Data().size()) &&
                       out.flush();
  out.close();
  if (!written) {
    QFile::remove(file);
    return;
  }
  g_sound_files[static_cast<size_t>(index)] = file;
}

}  // namespace

void PlaySoundFile(const QString& file) {
  if (file.isEmpty() || !QFileInfo(file).isFile()) return;
  (void)Audio().PlayFile(file);
}

void StopSoundFile(const QString& file) {
  if (file.isEmpty() || !QFileInfo(file).isFile()) return;
  Audio().StopFile(file);
}

void ExtractDialogSounds(const QString& program_dir) {
  DeleteDialogSounds();
  const QString dir = program_dir.isEmpty() ? QCoreApplication::applicationDirPath() : program_dir;
  const QString rcc = dir + "/qelto.rcc";
  if (!QFileInfo(rcc).isFile()) return;
  if (!QResource::registerResource(rcc, QString::fromLatin1(kQeltoRoot))) return;
  for (int index = 0; index < 3; ++index) ExtractSoundResource(index);
  QResource::unregisterResource(rcc, QString::fromLatin1(kQeltoRoot));
}

void DeleteDialogSounds() {
  for (QString& file : g_sound_files) {
    if (!file.isEmpty()) QFile::remove(file);
    file.clear();
  }
}

const std::array<QString, 3>& DialogSoundFiles() {
  return g_sound_files;
}

QString DialogSoundFile(int id) {
  if (id < kSoundInformation || id > kSoundError) return QString();
  return g_sound_files[static_cast<size_t>(id - kSoundInformation)];
}

}  // namespace qovra::ui
