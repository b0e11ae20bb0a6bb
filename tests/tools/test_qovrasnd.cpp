// qovrasnd as the voice windows run it: round trips of the six recording
// formats and the ways a run fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mail/voice_length.h"
#include "platform/process_runner.h"
#include "platform/temp_files.h"
#include "sound_codec.h"
#include "support/scratch_dir.h"
#include "wave_file.h"

namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(QOVRA_BIN_DIR) + "/qovrasnd";

class QovrasndTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = qovra::MakePrivateTempFolder("qovrasnd-test-"); }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  // A tone of frames frames in format, written as a wave file.
  std::string WriteTone(const std::string& name, const qovrasnd::TWaveFormat& format,
                        uint32_t frames) {
    std::string data;
    for (uint32_t i = 0; i < frames; ++i) {
      const double t = static_cast<double>(i) / format.SampleRate;
      const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
      for (int c = 0; c < format.Channels; ++c) {
        data.push_back(static_cast<char>(v & 0xFF));
        data.push_back(static_cast<char>((v >> 8) & 0xFF));
      }
    }
    const std::string path = dir_ + name;
    std::ofstream(path, std::ios::binary) << qovrasnd::WaveHeader(format, data.size()) << data;
    return path;
  }
  static int Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    return qovra::RunProcessAndWait(argv, /*hidden=*/true);
  }
  std::string dir_;
};

struct TFormatCase {
  uint32_t Rate;
  uint16_t Channels;
};

TEST_F(QovrasndTest, SixRecordingFormatsRoundTripToTheExactSampleCount) {
  const TFormatCase cases[] = {{8000, 1},  {8000, 2},  {22050, 1},
                               {22050, 2}, {44100, 1}, {44100, 2}};
  for (const TFormatCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Rate) + " Hz, " + std::to_string(c.Channels) + " channels");
    const qovrasnd::TWaveFormat format{c.Rate, c.Channels};
    // Not a whole number of MP3 frames, so padding must be cut exactly.
    const uint32_t frames = c.Rate * 3 / 2 + 37;
    const std::string wav = WriteTone("in.wav", format, frames);
    const std::string mp3 = dir_ + "voice.mp3";
    const std::string back = dir_ + "back.wav";
    ASSERT_EQ(Run({wav, mp3}), 0);
    EXPECT_LT(fs::file_size(mp3), fs::file_size(wav));
    ASSERT_EQ(Run({"--decode", mp3, back}), 0);
    qovrasnd::TWaveInput in;
    std::string error;
    ASSERT_TRUE(qovrasnd::OpenWave(back, in, error)) << error;
    std::fclose(in.File);
    EXPECT_EQ(in.Format.SampleRate, c.Rate);
    EXPECT_EQ(in.Format.Channels, c.Channels);
    EXPECT_EQ(in.DataBytes, uint64_t{frames} * 2 * c.Channels);
    EXPECT_FALSE(fs::exists(mp3 + ".part"));
    EXPECT_FALSE(fs::exists(back + ".part"));
    // The viewer's length, read from the headers before any decoding,
    // is what decoding gives.
    std::ifstream in_mp3(mp3, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in_mp3)), {});
    const qovra::TVoiceLength length = qovra::Mp3VoiceLength(
        [&](int64_t at, size_t count, std::string& out) {
          out = bytes.substr(static_cast<size_t>(std::min<int64_t>(at, bytes.size())), count);
          return true;
        },
        static_cast<int64_t>(bytes.size()));
    ASSERT_TRUE(length.Ok) << length.Error;
    EXPECT_EQ(length.Samples, int64_t{frames});
    EXPECT_EQ(length.SampleRate, static_cast<int32_t>(c.Rate));
  }
}

// Every way a run fails: a non-zero exit, neither the output nor its
// ".part" left behind, and the reason the codec gives for it.
TEST_F(QovrasndTest, FailuresLeaveNoOutputAndSayWhy) {
  const qovrasnd::TWaveFormat format{22050, 1};
  const std::string wav = WriteTone("in.wav", format, 22050);
  const std::string text = dir_ + "text.mp3";
  std::ofstream(text) << std::string(4000, 'x') << "not a sound at all\n";
  const std::string mp3 = dir_ + "out.mp3";
  ASSERT_EQ(Run({wav, mp3}), 0);
  // A recording stopped before its first sample, and one cut inside it.
  const std::string header_only = WriteTone("header-only.wav", format, 0);
  // A rate an MP3 cannot keep: it would come back resampled.
  const std::string odd_rate = WriteTone("odd-rate.wav", {22058, 1}, 4000);
  const std::string half_frame = dir_ + "half-frame.wav";
  std::ofstream(half_frame, std::ios::binary) << qovrasnd::WaveHeader(format, 1) << 'x';
  // Junk spliced into the middle, longer than the decoder searches for the
  // next frame: decoding fails after half the sound was written.
  const std::string sound = qovra::testing::ScratchDir::Read(mp3);
  ASSERT_GT(sound.size(), 1000u);
  const std::string spliced = dir_ + "spliced.mp3";
  std::ofstream(spliced, std::ios::binary)
      << sound.substr(0, sound.size() / 2) << std::string(3 * 2048, 'J')
      << sound.substr(sound.size() / 2);
  const std::string locked = dir_ + "locked/";
  fs::create_directory(locked);
  chmod(locked.c_str(), 0500);
  const bool root_writes_anyway = access(locked.c_str(), W_OK) == 0;

  struct TCase {
    const char* What;
    std::vector<std::string> Args;
    std::string Out;
    const char* Reason;  // part of the codec's error text
  };
  const TCase cases[] = {
      {"missing wave", {dir_ + "none.wav", dir_ + "a.mp3"}, dir_ + "a.mp3", "cannot open"},
      {"missing mp3",
       {"--decode", dir_ + "none.mp3", dir_ + "a.wav"},
       dir_ + "a.wav",
       "cannot open"},
      {"wave that is text", {text, dir_ + "b.mp3"}, dir_ + "b.mp3", "not a wave file"},
      {"wave holding only its header",
       {header_only, dir_ + "e.mp3"},
       dir_ + "e.mp3",
       "no audio data"},
      {"wave with half a frame", {half_frame, dir_ + "f.mp3"}, dir_ + "f.mp3", "no audio data"},
      {"wave at a rate no MP3 keeps",
       {odd_rate, dir_ + "h.mp3"},
       dir_ + "h.mp3",
       "unsupported sample rate"},
      {"mp3 that is text", {"--decode", text, dir_ + "b.wav"}, dir_ + "b.wav", "MP3"},
      {"mp3 that is a wave", {"--decode", wav, dir_ + "c.wav"}, dir_ + "c.wav", "MP3"},
      {"mp3 with junk past the resync",
       {"--decode", spliced, dir_ + "g.wav"},
       dir_ + "g.wav",
       "cannot decode"},
      {"target under a file", {wav, text + "/d.mp3"}, text + "/d.mp3", "cannot create"},
      {"unwritable target of compress", {wav, locked + "d.mp3"}, locked + "d.mp3", "cannot create"},
      {"unwritable target of decode",
       {"--decode", mp3, locked + "d.wav"},
       locked + "d.wav",
       "cannot create"},
      {"no arguments", {}, "", nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    if (root_writes_anyway && c.Out.rfind(locked, 0) == 0) continue;
    EXPECT_NE(Run(c.Args), 0);
    if (!c.Out.empty()) {
      EXPECT_FALSE(fs::exists(c.Out));
      EXPECT_FALSE(fs::exists(c.Out + ".part"));
    }
    if (!c.Reason) continue;
    std::string error;
    const bool ok = c.Args[0] == "--decode" ? qovrasnd::Decode(c.Args[1], c.Args[2], error)
                                            : qovrasnd::Compress(c.Args[0], c.Args[1], error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find(c.Reason), std::string::npos) << error;
  }
  chmod(locked.c_str(), 0700);
}

}  // namespace
