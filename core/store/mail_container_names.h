// Safe file names for attachments taken out of containers.
#pragma once

#include <string>
#include <string_view>

namespace qovra {

// The last component of name (after the last "/" or "\"), with every
// control character replaced by "_", cut (keeping a short extension) so
// that its UTF-8 form fits the 255 bytes of a file name. Empty when nothing
// usable remains: an empty name, ".", "..", or a name ending in a separator.
// A non-empty result never names anything outside the folder it is joined
// to.
std::u16string BareFileName(std::u16string_view name);

// BareFileName(name), or fallback when that is empty.
std::u16string BareFileNameOr(std::u16string_view name, std::u16string_view fallback);

}  // namespace qovra
