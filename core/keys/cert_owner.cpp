#include "keys/cert_owner.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "base/file_stream.h"
#include "base/utf.h"
#include "zarvo.h"

namespace qovra {
namespace {

constexpr size_t kMinCertificateSize = 160;
constexpr size_t kOwnerNameBytes = 256;
constexpr int64_t kMaxCertificateFile = 1 << 20;

bool IsUcs2(const uint8_t* name) {
  return (name[0] == 0 || name[0] == 4) && name[1] != 0 && (name[2] == 0 || name[2] == 4);
}

bool ReadWhole(THandleStream& stream, std::string* out) {
  const int64_t size = stream.Size();
  if (size < 0 || size > kMaxCertificateFile) return false;
  out->assign(static_cast<size_t>(size), '\0');
  return stream.ReadBuffer(out->data(), out->size());
}

}  // namespace

std::u16string TCertificateOwner::Area(size_t index) const {
  const char16_t* p = Data.data() + index * kAreaUnits;
  size_t n = 0;
  while (n < kAreaUnits && p[n] != 0) ++n;
  return std::u16string(p, n);
}

bool CertificateOwnerFromData(std::string_view data, TCertificateOwner* out) {
  if (data.size() < kMinCertificateSize ||
      data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    return false;
  out->Data.fill(0);
  uint8_t name[kOwnerNameBytes] = {};
  if (initBCr(data.data(), static_cast<int32_t>(data.size()), nullptr, name, nullptr, nullptr) <= 0)
    return false;
  char16_t* area = out->Data.data();
  if (IsUcs2(name)) {
    for (size_t i = 0; i < TCertificateOwner::kAreaUnits; ++i)
      area[i] = static_cast<char16_t>((name[2 * i] << 8) | name[2 * i + 1]);
    return true;
  }
  size_t len = 0;
  while (len < kOwnerNameBytes && name[len] != 0) ++len;
  const std::u16string text = Utf8ToUtf16(std::string_view(reinterpret_cast<char*>(name), len));
  const size_t n = Utf16CutLength(text, TCertificateOwner::kAreaUnits);
  std::memcpy(area, text.data(), n * sizeof(char16_t));
  return true;
}

bool ReadCertificateOwner(std::u16string_view file_name, TCertificateOwner* out) {
  TEWFileStream stream(file_name, true, false, fmOpenRead);
  std::string data;
  return stream.Opened() && ReadWhole(stream, &data) && CertificateOwnerFromData(data, out);
}

bool ReadCertificateOwner(std::string_view file_name, TCertificateOwner* out) {
  TEFileStream stream(file_name, true, false, fmOpenRead);
  std::string data;
  return stream.Opened() && ReadWhole(stream, &data) && CertificateOwnerFromData(data, out);
}

}  // namespace qovra
