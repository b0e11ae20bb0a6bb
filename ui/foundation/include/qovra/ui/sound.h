// Sound files and the dialog sounds.
//
// The dialog sounds live in qelto.rcc beside the program: a binary Qt
// resource holding three zlib-compressed WAV files, 101 (information and
// other), 102 (question) and 103 (error and warning). ExtractDialogSounds
// unpacks them into temporary files at start-up; DeleteDialogSounds removes
// those files at exit. A sound that cannot be unpacked leaves its entry
// empty, and the message dialog beeps instead: a sound never stops the
// program from starting.
//
// All sounds play through the installed AudioBackend. GUI thread only.
#pragma once

#include <QString>
#include <array>

namespace qovra::ui {

constexpr int kSoundInformation = 101;
constexpr int kSoundQuestion = 102;
constexpr int kSoundError = 103;

// Plays file when it exists, without waiting for it; nothing happens (and
// nothing is reported) for a missing file.
void PlaySoundFile(const QString& file);
// Stops file when it exists; nothing happens for a missing file.
void StopSoundFile(const QString& file);

// Unpacks the three sounds of program_dir/qelto.rcc into new temporary
// files (in qovra::GetTempFolder(), mode 0600) and records their names.
// An empty program_dir means the program's folder and REQUIRES an
// application object; with a folder given it may run before one exists. Files of an earlier call
// are deleted first. Without qelto.rcc, or for an entry that is missing, corrupt or too large, the
// entry stays empty; nothing is reported.
void ExtractDialogSounds(const QString& program_dir = QString());

// Deletes the files named by the entries and empties them.
void DeleteDialogSounds();

// The unpacked files, indexed by sound id - 101; empty entries for sounds
// that were not unpacked.
const std::array<QString, 3>& DialogSoundFiles();
// The file of sound id (101, 102 or 103); empty for other ids.
QString DialogSoundFile(int id);

}  // namespace qovra::ui
