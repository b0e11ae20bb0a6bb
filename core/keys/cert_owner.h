// The owner of a certificate, as the registration form reads it.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace qovra {

// Five areas of 128 UTF-16 code units (1280 bytes): the owner name, then
// areas for the company and the job title and two more. Only the name is
// ever filled; the other areas stay zero. Each area's text ends at its
// first zero unit or at the end of the area.
struct TCertificateOwner {
  static constexpr size_t kAreaUnits = 128;
  static constexpr size_t kAreas = 5;
  std::array<char16_t, kAreaUnits * kAreas> Data{};

  std::u16string Area(size_t index) const;  // REQUIRES: index < kAreas
  std::u16string Name() const { return Area(0); }
  std::u16string Company() const { return Area(1); }
  std::u16string JobTitle() const { return Area(2); }
};

// Reads the owner from certificate bytes. Fewer than 160 bytes, or bytes the
// key-device library cannot parse, return false (out is then all zero when
// the bytes were long enough, untouched otherwise).
//
// The 256-byte name from the library counts as UCS-2 big-endian when byte 0
// is 0 or 4, byte 1 is nonzero and byte 2 is 0 or 4, and is then
// byte-swapped into the name area; otherwise it is UTF-8 (up to its first
// zero byte) decoded into at most 128 code units, never ending inside a
// surrogate pair.
[[nodiscard]] bool CertificateOwnerFromData(std::string_view data, TCertificateOwner* out);

// The same for a certificate file; false when it cannot be read or holds
// more than 1 MiB.
[[nodiscard]] bool ReadCertificateOwner(std::u16string_view file_name, TCertificateOwner* out);
[[nodiscard]] bool ReadCertificateOwner(std::string_view file_name, TCertificateOwner* out);

}  // namespace qovra
