// The last error code, shared by every zarvo call.
#pragma once

#include "zarvo.h"

namespace zarvo {

void SetError(int code);
int LastError();

// Runs f, turning any escaping exception into ZARVO_ERR_INTERNAL and 0, so
// nothing throws across the C interface. Resets the code first.
template <typename F>
int Guarded(F&& f) {
  SetError(0);
  try {
    return f();
  } catch (...) {
    SetError(ZARVO_ERR_INTERNAL);
    return 0;
  }
}

}  // namespace zarvo
