// The Qt Multimedia voice sessions behind the Qt audio backend.
#pragma once

#include <memory>

#include "qovra/ui/voice_device.h"

namespace qovra::ui {

std::unique_ptr<VoiceSession> StartQtRecording(const QString& wave_file, const TVoiceFormat& format,
                                               uint64_t limit_bytes, TVoiceEvents events);
std::unique_ptr<VoiceSession> StartQtPlayback(const QString& wave_file, TVoiceEvents events);

}  // namespace qovra::ui
