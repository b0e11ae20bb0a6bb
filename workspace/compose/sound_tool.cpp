// Running qovrasnd with a time-out and a way to cancel.
#include "qovra/workspace/sound_tool.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <cstdio>
#include <vector>

#include "platform/run_thread.h"
#include "platform/temp_files.h"

namespace qovra::compose {
namespace {

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
}

std::string& ToolOverride() {
  static std::string path;
  return path;
}

TSoundToolResult Run(const std::vector<std::string>& args, const std::string& output,
                     std::chrono::milliseconds timeout, const std::function<bool()>& cancelled) {
  std::vector<std::string> argv{SoundToolPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  TRunThread run(argv);
  if (!run.Started()) {
    std::fprintf(stderr, "qovra: cannot start %s\n", argv[0].c_str());
    return TSoundToolResult::NotStarted;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!run.WaitEnded(std::chrono::milliseconds(20))) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const bool cancel = cancelled && cancelled();
    if (cancel || std::chrono::steady_clock::now() >= deadline) {
      run.End(std::chrono::milliseconds(500));
      std::fprintf(stderr, "qovra: %s %s\n", argv[0].c_str(), cancel ? "cancelled" : "timed out");
      return cancel ? TSoundToolResult::Cancelled : TSoundToolResult::TimedOut;
    }
  }
  const int status = run.WaitStatus();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return TSoundToolResult::Failed;
  if (FileSize(output) <= 0) {
    std::fprintf(stderr, "qovra: %s made no %s\n", argv[0].c_str(), output.c_str());
    return TSoundToolResult::Failed;
  }
  return TSoundToolResult::Done;
}

}  // namespace

std::string SoundToolPath() {
  if (!ToolOverride().empty()) return ToolOverride();
  return QCoreApplication::applicationDirPath().toStdString() + "/qovrasnd";
}

void SetSoundToolPathForTesting(const std::string& path) {
  ToolOverride() = path;
}

std::chrono::milliseconds SoundToolTimeout(int64_t input_bytes) {
  return std::chrono::milliseconds(30000 +
                                   (input_bytes > 0 ? input_bytes / 1024 : 0) * 1000 / 1024);
}

std::string NewVoiceTempFile(std::string_view ext) {
  std::string path = MakeTempFileNameA("voi", ext);
  if (path.empty())
    std::fprintf(stderr, "qovra: cannot make a temporary %.*s file\n", static_cast<int>(ext.size()),
                 ext.data());
  return path;
}

TSoundToolResult CompressVoice(const std::string& wave, const std::string& mp3,
                               const std::function<bool()>& cancelled) {
  return Run({wave, mp3}, mp3, SoundToolTimeout(FileSize(wave)), cancelled);
}

TSoundToolResult DecodeVoice(const std::string& mp3, const std::string& wave,
                             const std::function<bool()>& cancelled) {
  // Decoding makes about ten times the bytes it reads.
  return Run({"--decode", mp3, wave}, wave, SoundToolTimeout(FileSize(mp3) * 10), cancelled);
}

}  // namespace qovra::compose
