#include "commands/login_command.h"

#include <tevqa.h>

#include <charconv>

#include "base/base64.h"
#include "base/cp1251.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/secure_wipe.h"
#include "base/text_utils.h"
#include "base/utf.h"
#include "base/version.h"
#include "net/server_request.h"
#include "net/session_setup.h"
#include "net/url.h"
#include "net/xml_maker.h"
#include "platform/file_utils.h"
#include "settings/settings.h"

namespace qovra {

std::string LatestClientVersion;
std::string UpdateUrl;
std::string UpdateRule;
uint32_t CurrentVersionCode = 0;
uint32_t LatestVersionCode = 0;

namespace {

constexpr size_t kOffpassSize = 160;

template <typename T>
T NumberOr(const char* text, T fallback) {
  const std::string_view s(text);
  T value{};
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) return fallback;
  return value;
}

std::u16string DecodeName(const pugi::xml_node& node) {
  return Utf8ToUtf16(Base64Decode(node.attribute("val").value()));
}

// The certificate a login reply carries (element cert, Base64), or empty.
std::string ReplyCertificate(const pugi::xml_node& root) {
  for (const pugi::xml_node& child : root.children()) {
    if (child.type() == pugi::node_element && SameTextAscii(child.name(), "cert"))
      return Base64Decode(child.attribute("val").value());
  }
  return {};
}

// Secrets of one login attempt, wiped when it ends.
struct LoginSecrets {
  std::string password;
  THashValue hash{};
  ~LoginSecrets() {
    WipeString(password);
    SecureWipe(hash.data(), hash.size());
  }
};

// Signs the password hash as the offline password signature when the
// settings hold none of the right size.
void StoreOfflinePassword(const THashValue& hash) {
  if (Options.Keys.offpass.size() == kOffpassSize) return;
  std::string signature(kOffpassSize, '\0');
  if (UZDST_SIGNATURE_generate(hash.data(), Session.OwnPrivateKey.data(),
                               Session.OwnPublicKey.data(), signature.data()) != 1) {
    return;
  }
  Options.Keys.offpass = signature;
  // A failed save keeps the old file; the signature stays in memory.
  (void)SaveOptions();
}

int RunLogin(const std::string& login, std::string_view password_utf8, bool full_form,
             const TLoginRequestForm& form) {
  TUrlParts url;
  if (!CrackUrl(Options.Conn.ServerUrl, url)) {
    ShowWarning(form.Form, "msgSpecifiedServerURLInvalid");
    return kLoginNotSent;
  }
  LoginSecrets secrets;
  secrets.password = Utf8ToCp1251(password_utf8);
  if (!HandshakeDone && !ServerHandshake(form.Form, false)) return kLoginNotSent;

  secrets.hash = HashString(secrets.password);
  const std::string value = LoginValue(login, secrets.hash, Session.SessionId);
  if (value.empty()) {
    ShowWarning(form.Form, "msgCannotEncryptRequest");
    return kLoginNotSent;
  }
  const std::string own_version(ClientVersionString());
  if (full_form) LatestClientVersion = own_version;
  TMemoryStream request(LoginRequestXml(value, full_form, own_version));
  TRequestPart part;
  part.SetName("header");
  part.Data = &request;
  pugi::xml_document reply;
  const int result = ServerRequest(true, &part, 1, false, form.ProgressBar, ProgressCallback,
                                   GetMsg("msgAuthorizing"), false, true, form.Form, form.FormClass,
                                   Options.Conn.ServerUrl, reply);
  if (result != 1) return result;

  ApplyLoginReply(reply.document_element(), full_form);
  // A session that began offline has no certificate (the offline login
  // takes no server data); without one the mails it signs carry none.
  if (!full_form && Session.Certificate.empty())
    Session.Certificate = ReplyCertificate(reply.document_element());
  if (Session.Certificate.empty()) Session.Certificate = LoadFileToString(Options.Keys.crtpath);
  Session.State = 1;
  Session.Login = login;
  Session.Host = url.HostName;
  Session.OwnContact.Email = login + "@" + url.HostName;
  Session.OnlinePasswordHash = secrets.hash;
  if (full_form) {
    StoreOfflinePassword(secrets.hash);
    CurrentVersionCode = VersionToInt(own_version);
    LatestVersionCode = VersionToInt(LatestClientVersion);
  }
  return 1;
}

}  // namespace

std::string LoginValue(std::string_view login_bytes, const THashValue& password_hash,
                       const std::array<uint8_t, 32>& session_id) {
  std::array<uint8_t, 64> key{};
  std::copy(password_hash.begin(), password_hash.end(), key.begin());
  std::copy(session_id.begin(), session_id.end(), key.begin() + 32);
  std::string value = EncryptString(login_bytes, session_id, key);
  SecureWipe(key.data(), key.size());
  return value;
}

std::string LoginRequestXml(std::string_view login_value, bool full_form,
                            std::string_view client_version) {
  TMemoryStream out;
  TXMLMaker xml(out, "request");
  xml.OpenRoot();
  xml.AddInteger("cmd", 161, true);
  xml.AddString("xln", login_value, true, true);
  if (full_form) {
    xml.AddString("chash", login_value, true, true);
    xml.AddString("cver", client_version, false, true);
  }
  xml.CloseRoot();
  return out.Data();
}

void ApplyLoginReply(const pugi::xml_node& root, bool full_form) {
  for (const pugi::xml_node& child : root.children()) {
    if (child.type() != pugi::node_element) continue;
    const std::string_view name = child.name();
    const char* val = child.attribute("val").value();
    TContact& own = Session.OwnContact;
    if (SameTextAscii(name, "fname")) {
      own.FirstName = DecodeName(child);
    } else if (SameTextAscii(name, "lname")) {
      own.LastName = DecodeName(child);
    } else if (SameTextAscii(name, "mname")) {
      own.MiddleName = DecodeName(child);
    } else if (SameTextAscii(name, "company")) {
      own.Company = DecodeName(child);
    } else if (SameTextAscii(name, "jobtitle")) {
      own.JobTitle = DecodeName(child);
    } else if (SameTextAscii(name, "level")) {
      Session.Level = static_cast<uint8_t>(NumberOr<int32_t>(val, 0));
    } else if (SameTextAscii(name, "maxus")) {
      Session.MaxUploadSize = NumberOr<int64_t>(val, 0);
    } else if (!full_form) {
      continue;
    } else if (SameTextAscii(name, "cert_validity")) {
      const auto remain = NumberOr<int64_t>(child.attribute("remain").value(), 0);
      Session.CertValidityRemain = static_cast<int32_t>(static_cast<uint32_t>(remain));
    } else if (SameTextAscii(name, "cert")) {
      Session.Certificate = Base64Decode(val);
    } else if (SameTextAscii(name, "qovra_client")) {
      if (const pugi::xml_attribute ver = child.attribute("ver")) LatestClientVersion = ver.value();
      UpdateUrl = child.attribute("url").value();
      UpdateRule = child.attribute("rule").value();
    }
  }
}

int LoginSession(std::string_view login, std::string_view password, const TLoginRequestForm& form) {
  Session.MaxUploadSize = 0;
  return RunLogin(Utf8ToCp1251(login), password, true, form);
}

int ReauthenticateSession(std::string_view password, const TLoginRequestForm& form) {
  return RunLogin(Utf8ToCp1251(Options.Other.lastlgn), password, false, form);
}

}  // namespace qovra
