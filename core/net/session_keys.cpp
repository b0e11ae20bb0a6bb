// Loading the user's keys from the key files or the key device.
#include <zarvo.h>

#include <array>
#include <optional>
#include <string>

#include "base/cp1251.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/secure_wipe.h"
#include "net/session_setup.h"
#include "platform/file_utils.h"

namespace qovra {
namespace {

constexpr size_t kClearKeyFileSize = 256;
// Key files and certificates are a few kilobytes; anything this big is not one.
constexpr size_t kMaxKeyFileSize = size_t{1} << 20;

// The three records while they are loaded; wiped when it goes away.
struct LoadedKeys {
  std::array<uint8_t, 256> priv{};
  std::array<uint8_t, 768> dh{};
  std::array<uint8_t, 768> pub{};
  ~LoadedKeys() {
    SecureWipe(priv.data(), priv.size());
    SecureWipe(dh.data(), dh.size());
  }
  void CommitToSession() const {
    Session.OwnPrivateKey = priv;
    Session.OwnDhKey = dh;
    Session.OwnPublicKey = pub;
  }
};

// Asks a secret in the password window's plain mode; the typed text as
// 8-bit text, or nothing when cancelled.
std::optional<std::string> AskSecret(TWindowHandle owner, std::string_view caption_key,
                                     std::string_view prompt_key, const char* icon) {
  std::optional<std::string> typed =
      PasswordPromptUi().AskSecret(owner, GetMsg(caption_key), GetMsg(prompt_key), icon);
  if (!typed) return std::nullopt;
  std::string bytes = Utf8ToCp1251(*typed);
  WipeString(*typed);
  return bytes;
}

// Closes the device on every way out.
struct DeviceCloser {
  ~DeviceCloser() { closeDev(); }
};

bool LoadFromDevice(TWindowHandle owner) {
  if (initDev() == 0) {
    closeDev();
    ShowWarning(owner, "msgMurvexNotFound");
    return false;
  }
  DeviceCloser closer;
  if (Session.DevicePin.empty()) {
    std::optional<std::string> pin = AskSecret(owner, "msgMurvexPasswordCaption",
                                               "msgMurvexPasswordPrompt", "ico_murvex_password48");
    if (!pin) return false;
    Session.DevicePin = std::move(*pin);
  }
  LoadedKeys keys;
  if (initDPr(Session.DevicePin.c_str(), keys.priv.data(), keys.dh.data(), keys.pub.data()) == 0) {
    const int code = getErr();
    Session.ClearDevicePin();
    ShowMessageText(owner, GetMsg("msgMurvexPasswordIncorrect") + std::to_string(code),
                    kMsgIconWarning);
    return false;
  }
  keys.CommitToSession();
  return true;
}

bool LoadFromFiles(TWindowHandle owner) {
  std::string key_file = LoadFileToString(Options.Keys.pvkpath);
  struct Wiper {
    std::string& s;
    ~Wiper() { WipeString(s); }
  } wipe_key_file{key_file};
  if (key_file.empty() || key_file.size() > kMaxKeyFileSize) {
    ShowWarning(owner, "msgUserPrivateKeyInvalid");
    return false;
  }
  const auto length = static_cast<int32_t>(key_file.size());
  LoadedKeys keys;
  bool loaded = false;
  if (key_file.size() > kClearKeyFileSize && Session.PrivateKeyPassword.empty()) {
    // A protected file may still open without a password.
    loaded = initBPr(key_file.data(), length, "", keys.priv.data(), keys.dh.data()) != 0;
    if (!loaded) {
      if (getErr() != ZARVO_ERR_PASSWORD) {
        ShowWarning(owner, "msgUserPrivateKeyInvalid");
        return false;
      }
      std::optional<std::string> password = AskSecret(owner, "msgPrivateKeyIsPasswordEncrypted",
                                                      "msgEnterPrivateKeyPassword", "ico_lock48");
      if (!password) return false;
      Session.PrivateKeyPassword = std::move(*password);
    }
  }
  if (!loaded && initBPr(key_file.data(), length, Session.PrivateKeyPassword.c_str(),
                         keys.priv.data(), keys.dh.data()) == 0) {
    const bool password_wrong = getErr() == ZARVO_ERR_PASSWORD;
    Session.ClearPrivateKeyPassword();
    ShowWarning(owner,
                password_wrong ? "msgUserPrivateKeyPasswordIncorrect" : "msgUserPrivateKeyInvalid");
    return false;
  }

  const std::string certificate = LoadFileToString(Options.Keys.crtpath);
  if (certificate.empty() || certificate.size() > kMaxKeyFileSize ||
      initBPb(certificate.data(), static_cast<int32_t>(certificate.size()), keys.pub.data()) == 0) {
    ShowWarning(owner, "msgUserCertificateInvalid");
    return false;
  }
  if (key_file.size() == kClearKeyFileSize) keys.dh = keys.pub;
  keys.CommitToSession();
  return true;
}

}  // namespace

bool LoadUserKeys(TWindowHandle owner) {
  if (CheckKeyFiles(owner) != kCheckOk) return false;
  if (Options.Keys.keyssrc == 1) return LoadFromDevice(owner);
  return LoadFromFiles(owner);
}

}  // namespace qovra
