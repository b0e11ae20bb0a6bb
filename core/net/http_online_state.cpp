#include "net/http_online_state.h"

namespace qovra {

bool IsHttpOffline() {
  return false;
}

bool SetHttpOnline() {
  return true;
}

}  // namespace qovra
