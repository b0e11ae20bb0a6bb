// Compressing a 16-bit PCM wave file to MP3 and decoding it back.
//
// Both write the output to "<out>.part" and rename it to out only when
// everything succeeded; on failure no file named out or "<out>.part" is
// left behind (an existing out is left as it was) and error holds one line.
//
// Compress keeps the sample rate and the channels and writes LAME's info
// tag (encoder delay and padding), so Decode gives back exactly as many
// samples as the wave had.
#pragma once

#include <string>

namespace qovrasnd {

[[nodiscard]] bool Compress(const std::string& wave_path, const std::string& mp3_path,
                            std::string& error);
[[nodiscard]] bool Decode(const std::string& mp3_path, const std::string& wave_path,
                          std::string& error);

}  // namespace qovrasnd
