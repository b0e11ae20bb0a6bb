#include "error_state.h"

#include "zarvo.h"

namespace zarvo {
namespace {
int g_last_error = ZARVO_OK;
}  // namespace

void SetError(int code) {
  g_last_error = code;
}
int LastError() {
  return g_last_error;
}

}  // namespace zarvo

extern "C" int getErr(void) {
  return zarvo::LastError();
}
