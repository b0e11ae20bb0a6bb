// qovrasnd WAV MP3            compresses a 16-bit PCM wave file
// qovrasnd --decode MP3 WAV   decodes it back into a wave file
// Exit 0 on success; otherwise 1 (2 for a wrong command line), no output
// file, and one line on stderr.
#include <cstdio>
#include <string>

#include "sound_codec.h"

int main(int argc, char** argv) {
  std::string error;
  bool ok = false;
  if (argc == 3 && std::string(argv[1]) != "--decode") {
    ok = qovrasnd::Compress(argv[1], argv[2], error);
  } else if (argc == 4 && std::string(argv[1]) == "--decode") {
    ok = qovrasnd::Decode(argv[2], argv[3], error);
  } else {
    std::fprintf(stderr, "usage: qovrasnd WAV MP3 | qovrasnd --decode MP3 WAV\n");
    return 2;
  }
  if (ok) return 0;
  std::fprintf(stderr, "qovrasnd: %s\n", error.c_str());
  return 1;
}
