#include "store/mail_container_names.h"

#include "base/utf.h"

namespace qovra {
namespace {

constexpr size_t kMaxNameBytes = 255;
constexpr size_t kMaxKeptExtension = 32;

}  // namespace

std::u16string BareFileName(std::u16string_view name) {
  const size_t sep = name.find_last_of(u"/\\");
  std::u16string bare(sep == std::u16string_view::npos ? name : name.substr(sep + 1));
  for (char16_t& c : bare) {
    if (c < 0x20 || c == 0x7F) c = u'_';
  }
  if (bare.empty() || bare == u"." || bare == u"..") return {};
  if (Utf16ToUtf8(bare).size() <= kMaxNameBytes) return bare;

  const size_t dot = bare.find_last_of(u'.');
  std::u16string ext;
  if (dot != std::u16string::npos && dot > 0 && bare.size() - dot <= kMaxKeptExtension) {
    ext = bare.substr(dot);
  }
  std::u16string stem = bare.substr(0, bare.size() - ext.size());
  while (!stem.empty() && Utf16ToUtf8(stem).size() + Utf16ToUtf8(ext).size() > kMaxNameBytes) {
    stem.resize(Utf16CutLength(stem, stem.size() - 1));
  }
  std::u16string result = stem + ext;
  if (result == u"." || result == u"..") return {};
  return result;
}

std::u16string BareFileNameOr(std::u16string_view name, std::u16string_view fallback) {
  std::u16string bare = BareFileName(name);
  return bare.empty() ? std::u16string(fallback) : bare;
}

}  // namespace qovra
