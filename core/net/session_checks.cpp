// The settings dialog and the checks that send the user to it.
#include <sys/stat.h>

#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "net/server_request.h"
#include "net/session_setup.h"
#include "settings/language.h"
#include "settings/settings.h"

namespace qovra {
namespace {

constexpr int kPageConnection = 1;
constexpr int kPageKeys = 2;

bool IsExistingFile(const std::u16string& path) {
  struct stat st {};
  return stat(Utf16ToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// After the warning: the settings dialog at page.
int SendToSettings(TWindowHandle owner, std::string_view key, int page) {
  ShowWarning(owner, key);
  return ShowOptionsDialog(owner, page) ? kCheckCorrected : kCheckCancelled;
}

}  // namespace

bool ShowOptionsDialog(TWindowHandle owner, int page) {
  if (page == -2) {
    page = 6;
  } else if (page == -1) {
    page = 7;
  }
  const int langid_before = Options.langid;
  const int result = SettingsDialogUi().ShowOptions(owner, page);
  const bool confirmed = result == kOptionsApplied || result == kOptionsExistingData;
  if (confirmed) {
    // New server settings need a new session.
    HandshakeDone = false;
    // A failed save leaves the old file whole; the settings stay in memory.
    (void)SaveOptions();
  }
  if (Options.langid != langid_before) {
    ApplyLanguageMessages();
    SettingsDialogUi().ApplyLanguageToWindow(owner);
  }
  return confirmed;
}

int CheckKeyFiles(TWindowHandle owner) {
  const TKeysOpts& keys = Options.Keys;
  if (keys.keyssrc == 1) return kCheckOk;
  if (keys.crtpath.empty())
    return SendToSettings(owner, "msgCertificatePathNotSpecified", kPageKeys);
  if (!IsExistingFile(keys.crtpath)) {
    return SendToSettings(owner, "msgCertificatePathNotExists", kPageKeys);
  }
  if (keys.pvkpath.empty())
    return SendToSettings(owner, "msgPrivateKeyPathNotSpecified", kPageKeys);
  if (!IsExistingFile(keys.pvkpath))
    return SendToSettings(owner, "msgPrivateKeyNotExists", kPageKeys);
  return kCheckOk;
}

int CheckServerSettings(TWindowHandle owner, TUrlParts* parts) {
  if (Options.Conn.srvaddr.empty()) {
    return SendToSettings(owner, "msgServerURLNotSpecified", kPageConnection);
  }
  TUrlParts cracked;
  if (!CrackUrl(Options.Conn.ServerUrl, cracked)) {
    return SendToSettings(owner, "msgSpecifiedServerURLInvalid", kPageConnection);
  }
  const int result = CheckKeyFiles(owner);
  if (result == kCheckOk && parts) *parts = cracked;
  return result;
}

}  // namespace qovra
