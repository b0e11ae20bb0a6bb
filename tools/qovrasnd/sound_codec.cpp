#include "sound_codec.h"

#include <fcntl.h>
#include <lame/lame.h>
#include <mpg123.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "wave_file.h"

namespace qovrasnd {
namespace {

// "<out>.part", created exclusively; removed again unless Commit ran.
class TPartFile {
 public:
  explicit TPartFile(const std::string& out) : out_(out), part_(out + ".part") {}
  ~TPartFile() {
    if (file_) std::fclose(file_);
    if (!committed_ && opened_) std::remove(part_.c_str());
  }
  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;

  bool Open(std::string& error) {
    std::remove(part_.c_str());  // a leftover of an earlier run
    const int fd = ::open(part_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = "cannot create " + part_ + ": " + std::strerror(errno);
      return false;
    }
    opened_ = true;
    file_ = fdopen(fd, "w+b");
    if (!file_) {
      ::close(fd);
      error = "cannot create " + part_;
      return false;
    }
    return true;
  }
  std::FILE* File() const { return file_; }
  bool Write(const void* data, size_t size, std::string& error) {
    if (size == 0 || std::fwrite(data, 1, size, file_) == size) return true;
    error = "cannot write " + part_ + ": " + std::strerror(errno);
    return false;
  }
  bool Commit(std::string& error) {
    const bool flushed = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) {
      error = "cannot write " + part_;
      return false;
    }
    if (std::rename(part_.c_str(), out_.c_str()) != 0) {
      error = "cannot rename to " + out_ + ": " + std::strerror(errno);
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  std::string out_;
  std::string part_;
  std::FILE* file_ = nullptr;
  bool opened_ = false;
  bool committed_ = false;
};

struct TLame {
  lame_global_flags* gf = lame_init();
  ~TLame() {
    if (gf) lame_close(gf);
  }
};

struct TMpg123 {
  mpg123_handle* mh = nullptr;
  bool open = false;
  ~TMpg123() {
    if (open) mpg123_close(mh);
    if (mh) mpg123_delete(mh);
  }
};

struct TWaveCloser {
  TWaveInput& wave;
  ~TWaveCloser() {
    if (wave.File) std::fclose(wave.File);
  }
};

}  // namespace

bool Compress(const std::string& wave_path, const std::string& mp3_path, std::string& error) {
  TWaveInput wave;
  if (!OpenWave(wave_path, wave, error)) return false;
  const TWaveCloser closer{wave};
  TLame lame;
  if (!lame.gf) {
    error = "cannot start the encoder";
    return false;
  }
  const int channels = wave.Format.Channels;
  lame_set_in_samplerate(lame.gf, static_cast<int>(wave.Format.SampleRate));
  lame_set_out_samplerate(lame.gf, static_cast<int>(wave.Format.SampleRate));
  lame_set_num_channels(lame.gf, channels);
  lame_set_mode(lame.gf, channels == 1 ? MONO : JOINT_STEREO);
  lame_set_VBR(lame.gf, vbr_default);
  lame_set_VBR_quality(lame.gf, 4);
  lame_set_quality(lame.gf, 5);
  lame_set_bWriteVbrTag(lame.gf, 1);
  if (lame_init_params(lame.gf) < 0) {
    error = "the encoder refuses the format";
    return false;
  }
  TPartFile out(mp3_path);
  if (!out.Open(error)) return false;

  constexpr size_t kFrames = 8192;
  std::vector<short> pcm(kFrames * static_cast<size_t>(channels));
  std::vector<unsigned char> mp3(kFrames * 5 / 4 + 7200);
  uint64_t left = wave.DataBytes;
  const size_t frame_bytes = 2u * static_cast<size_t>(channels);
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left / frame_bytes, kFrames));
    if (std::fread(pcm.data(), frame_bytes, want, wave.File) != want) {
      error = "cannot read " + wave_path;
      return false;
    }
    left -= want * frame_bytes;
    const int n = channels == 1
                      ? lame_encode_buffer(lame.gf, pcm.data(), nullptr, static_cast<int>(want),
                                           mp3.data(), static_cast<int>(mp3.size()))
                      : lame_encode_buffer_interleaved(lame.gf, pcm.data(), static_cast<int>(want),
                                                       mp3.data(), static_cast<int>(mp3.size()));
    if (n < 0) {
      error = "the encoder failed";
      return false;
    }
    if (!out.Write(mp3.data(), static_cast<size_t>(n), error)) return false;
  }
  const int n = lame_encode_flush(lame.gf, mp3.data(), static_cast<int>(mp3.size()));
  if (n < 0) {
    error = "the encoder failed";
    return false;
  }
  if (!out.Write(mp3.data(), static_cast<size_t>(n), error)) return false;
  // The info tag replaces the placeholder frame LAME wrote first.
  const size_t tag_size = lame_get_lametag_frame(lame.gf, mp3.data(), mp3.size());
  if (tag_size == 0 || tag_size > mp3.size()) {
    error = "the encoder made no info tag";
    return false;
  }
  if (std::fseek(out.File(), 0, SEEK_SET) != 0 || !out.Write(mp3.data(), tag_size, error)) {
    if (error.empty()) error = "cannot write the info tag";
    return false;
  }
  return out.Commit(error);
}

bool Decode(const std::string& mp3_path, const std::string& wave_path, std::string& error) {
  TMpg123 dec;
  int err = MPG123_OK;
  dec.mh = mpg123_new(nullptr, &err);
  if (!dec.mh) {
    error = "cannot start the decoder";
    return false;
  }
  mpg123_param(dec.mh, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
  // Garbage is not searched through for something that looks like a frame.
  mpg123_param(dec.mh, MPG123_RESYNC_LIMIT, 2048, 0.0);
  mpg123_format_none(dec.mh);
  const long* rates = nullptr;
  size_t rate_count = 0;
  mpg123_rates(&rates, &rate_count);
  for (size_t i = 0; i < rate_count; ++i)
    mpg123_format(dec.mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(dec.mh, mp3_path.c_str()) != MPG123_OK) {
    error = "cannot open " + mp3_path + ": " + mpg123_strerror(dec.mh);
    return false;
  }
  dec.open = true;
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_getformat(dec.mh, &rate, &channels, &encoding) != MPG123_OK ||
      encoding != MPG123_ENC_SIGNED_16 || (channels != 1 && channels != 2)) {
    error = "not an MP3 file";
    return false;
  }
  TWaveFormat format;
  format.SampleRate = static_cast<uint32_t>(rate);
  format.Channels = static_cast<uint16_t>(channels);

  TPartFile out(wave_path);
  if (!out.Open(error)) return false;
  std::string header = WaveHeader(format, 0);
  if (!out.Write(header.data(), header.size(), error)) return false;
  std::vector<unsigned char> buffer(mpg123_outblock(dec.mh));
  uint64_t data_bytes = 0;
  for (;;) {
    size_t done = 0;
    const int r = mpg123_read(dec.mh, buffer.data(), buffer.size(), &done);
    if (done > 0) {
      data_bytes += done;
      if (data_bytes > kMaxWaveDataBytes) {
        error = "the decoded sound is too long for a wave file";
        return false;
      }
      if (!out.Write(buffer.data(), done, error)) return false;
    }
    if (r == MPG123_DONE) break;
    if (r == MPG123_NEW_FORMAT) {
      long r2 = 0;
      int c2 = 0;
      int e2 = 0;
      (void)mpg123_getformat(dec.mh, &r2, &c2, &e2);
      if (r2 != rate || c2 != channels) {
        error = "the sound changes its format";
        return false;
      }
      continue;
    }
    if (r != MPG123_OK) {
      error = std::string("cannot decode: ") + mpg123_strerror(dec.mh);
      return false;
    }
  }
  if (data_bytes == 0) {
    error = "not an MP3 file";
    return false;
  }
  header = WaveHeader(format, data_bytes);
  if (std::fseek(out.File(), 0, SEEK_SET) != 0 || !out.Write(header.data(), header.size(), error)) {
    if (error.empty()) error = "cannot write " + wave_path;
    return false;
  }
  return out.Commit(error);
}

}  // namespace qovrasnd
