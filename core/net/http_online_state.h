// The connected state of the HTTP layer.
//
// The desktop has no separate "work offline" switch for HTTP, so the layer
// always reads as online and going online has nothing to do. Callers still
// ask, so that a platform with such a switch needs no change above here.
#pragma once

namespace qovra {

// True when HTTP was switched offline by the user. Always false here.
[[nodiscard]] bool IsHttpOffline();

// Switches HTTP back online. Returns true when the layer is online after.
bool SetHttpOnline();

}  // namespace qovra
