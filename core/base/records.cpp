#include "base/records.h"

#include "base/secure_wipe.h"

namespace qovra {

TOptions Options;
TSessionInfo Session;

void TSessionInfo::ClearPrivateKeyPassword() {
  WipeString(PrivateKeyPassword);
}

void TSessionInfo::ClearDevicePin() {
  WipeString(DevicePin);
}

void TSessionInfo::Clear() {
  SecureWipe(CertKeyHash.data(), CertKeyHash.size());
  SecureWipe(OwnDhKey.data(), OwnDhKey.size());
  SecureWipe(OwnPublicKey.data(), OwnPublicKey.size());
  SecureWipe(OwnPrivateKey.data(), OwnPrivateKey.size());
  SecureWipe(SessionKey.data(), SessionKey.size());
  SecureWipe(SessionId.data(), SessionId.size());
  SecureWipe(ServerDhKey.data(), ServerDhKey.size());
  SecureWipe(ServerKey.data(), ServerKey.size());
  SecureWipe(OnlinePasswordHash.data(), OnlinePasswordHash.size());
  SecureWipe(OfflinePasswordHash.data(), OfflinePasswordHash.size());
  WipeString(PrivateKeyPassword);
  WipeString(DevicePin);
  WipeString(Certificate);
  State = 0;
  Level = 0;
  Login.clear();
  Host.clear();
  OwnContact = TContact{};
  MaxUploadSize = 0;
  CertValidityRemain = 0;
}

bool IsValidUuid(std::string_view uuid) {
  if (uuid.size() != 32) return false;
  for (char c : uuid) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

std::string MailFileName(std::string_view uuid, MailFileKind kind) {
  if (!IsValidUuid(uuid)) return {};
  std::string name(uuid);
  switch (kind) {
    case MailFileKind::Container:
      return name + ".emz";
    case MailFileKind::Enciphered:
      return name + ".eme";
    case MailFileKind::Signature:
      return name + ".ems";
    case MailFileKind::DraftCopy:
      return "~" + name + ".emz";
  }
  return {};
}

}  // namespace qovra
