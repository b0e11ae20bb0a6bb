// One part of a multipart request body, as the caller hands it over.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "base/stream.h"

namespace qovra {

struct TRequestPart {
  // The part's name, NUL-padded. The text up to the first NUL is the name;
  // 16 characters without a NUL are used whole.
  std::array<char, 16> Name{};
  // The part's bytes, posted from position 0. Not owned: it must outlive
  // every client the part is given to.
  TStream* Data = nullptr;
  // True: the stream goes out unchanged and stays the caller's. False: the
  // request routine posts an enciphered copy of it.
  bool SendAsIs = false;

  // Stores name, cut to 16 characters, NUL-padded.
  void SetName(std::string_view name) {
    Name.fill('\0');
    name.copy(Name.data(), Name.size());
  }
  // The text up to the first NUL.
  std::string NameText() const {
    size_t n = 0;
    while (n < Name.size() && Name[n] != '\0') ++n;
    return std::string(Name.data(), n);
  }
};

}  // namespace qovra
