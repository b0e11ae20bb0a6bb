#include "commands/account_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <pugixml.hpp>

#include "base/base64.h"
#include "base/cp1251.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/secure_wipe.h"
#include "base/stream.h"
#include "base/text_utils.h"
#include "base/utf.h"
#include "base/version.h"
#include "keys/crypto_binding.h"
#include "net/server_request.h"
#include "net/xml_maker.h"
#include "platform/process_start.h"
#include "platform/temp_files.h"
#include "settings/settings.h"

namespace qovra {

namespace {

// Question with Yes and No.
constexpr int kAskFlags = kMsgIconQuestion | kMsgButtonsYesNo;

// A request XML being written: root "request", cmd first.
class Request {
 public:
  explicit Request(int cmd) : xml_(out_, "request") {
    xml_.OpenRoot();
    xml_.AddInteger("cmd", cmd, true);
  }
  void Plain(std::string_view name, std::string_view value) {
    xml_.AddString(name, value, false, true);
  }
  void Base64(std::string_view name, std::string_view value) {
    xml_.AddString(name, value, true, true);
  }
  void Integer(std::string_view name, int32_t value) { xml_.AddInteger(name, value, true); }
  // The hash-hex of a typed password; its 8-bit bytes are wiped.
  void Password(std::string_view name, std::string_view utf8) {
    std::string bytes = Utf8ToCp1251(utf8);
    Plain(name, HashHex(bytes));
    WipeString(bytes);
  }

  // Sends the request; 1 / 0 / the server's code as ServerRequest gives it.
  int Send(const TCommandOwner& owner, std::string_view title_key, pugi::xml_document& reply) {
    xml_.CloseRoot();
    TMemoryStream stream(out_.Data());
    TRequestPart part;
    part.SetName("header");
    part.Data = &stream;
    return ServerRequest(true, &part, 1, false, owner.ProgressBar, ProgressCallback,
                         GetMsg(title_key), false, true, owner.Form, owner.FormClass,
                         Options.Conn.ServerUrl, reply);
  }
  bool SendForResult(const TCommandOwner& owner, std::string_view title_key) {
    pugi::xml_document reply;
    return Send(owner, title_key, reply) == 1;
  }

 private:
  TMemoryStream out_;
  TXMLMaker xml_;
};

// The first child element of parent named name, compared without case.
pugi::xml_node ChildNamed(const pugi::xml_node& parent, std::string_view name) {
  for (const pugi::xml_node& child : parent.children()) {
    if (child.type() == pugi::node_element && SameTextAscii(child.name(), name)) return child;
  }
  return {};
}

bool ParseInt(const char* text, int& out) {
  const std::string_view s(text);
  int value = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) return false;
  out = value;
  return true;
}

// The system's temporary folder: the rule file must outlive the program's
// private folder, which goes when the program ends.
std::string SystemTempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp && tmp[0] ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

// Writes rule to a new temporary file; its name, or empty on failure (no
// file left behind).
std::string WriteRuleFile(const std::string& rule) {
  std::string path;
  const int fd = CreateUniqueFile(SystemTempFolder(), "tmp", ".xml", path);
  if (fd < 0) return {};
  size_t done = 0;
  while (done < rule.size()) {
    const ssize_t n = ::write(fd, rule.data() + done, rule.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (done != rule.size() || !closed) {
    ::unlink(path.c_str());
    return {};
  }
  return path;
}

}  // namespace

std::string HashHex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  THashValue hash = HashString(bytes);
  std::string out;
  out.reserve(hash.size() * 2);
  for (uint8_t b : hash) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  SecureWipe(hash.data(), hash.size());
  return out;
}

bool ChangePassword(const TCommandOwner& owner, std::string_view login, std::string_view current,
                    std::string_view fresh) {
  Request rq(162);
  rq.Plain("login", login);
  rq.Password("curp", current);
  rq.Password("newp", fresh);
  return rq.SendForResult(owner, "msgChangingPassword");
}

bool RegisterUser(const TCommandOwner& owner, std::string_view login, std::string_view domain,
                  int question, std::string_view answer, std::string_view job_title,
                  std::string_view company, std::string_view last_name,
                  std::string_view middle_name, std::string_view first_name,
                  std::string_view password) {
  Request rq(167);
  rq.Plain("login", login);
  rq.Plain("domain", domain);
  rq.Password("passcode", password);
  rq.Base64("fname", first_name);
  rq.Base64("mname", middle_name);
  rq.Base64("lname", last_name);
  rq.Base64("company", company);
  rq.Base64("jobtitle", job_title);
  rq.Integer("question", question);
  rq.Base64("answer", answer);
  rq.Integer("level", 0);
  const auto* dh = reinterpret_cast<const char*>(Session.OwnDhKey.data()) + 288;
  rq.Base64("dhkey", std::string_view(dh, 128));
  return rq.SendForResult(owner, "msgRegisteringUser");
}

bool GetControlQuestion(const TCommandOwner& owner, std::string_view login, int& count,
                        std::string& answer, int& question) {
  Request rq(168);
  rq.Plain("login", login);
  pugi::xml_document reply;
  if (rq.Send(owner, "msgGetControlQuestion", reply) != 1) return false;
  const pugi::xml_node root = reply.document_element();
  if (const pugi::xml_node q = ChildNamed(root, "question")) {
    int value = 0;
    question = ParseInt(q.attribute("val").value(), value) ? value : 0;
  }
  if (const pugi::xml_node a = ChildNamed(root, "answer")) answer = a.attribute("val").value();
  int value = 0;
  const pugi::xml_node c = ChildNamed(root, "count");
  count = c && ParseInt(c.attribute("val").value(), value) ? value : -1;
  return true;
}

bool SetNewPassword(const TCommandOwner& owner, std::string_view login,
                    std::string_view new_password) {
  Request rq(169);
  rq.Plain("login", login);
  rq.Password("newp", new_password);
  return rq.SendForResult(owner, "msgSetPassword");
}

bool ChangeUserProfile(const TCommandOwner& owner, const TContact& contact) {
  Request rq(171);
  rq.Plain("login", Session.Login.view());
  rq.Base64("fname", Utf16ToUtf8(contact.FirstName));
  rq.Base64("mname", Utf16ToUtf8(contact.MiddleName));
  rq.Base64("lname", Utf16ToUtf8(contact.LastName));
  rq.Base64("company", Utf16ToUtf8(contact.Company));
  rq.Base64("jobtitle", Utf16ToUtf8(contact.JobTitle));
  return rq.SendForResult(owner, "msgChangingProfile");
}

std::string UpdaterPath() {
  return ProgramDir + "qovraupd";
}

bool OfferUpdate(TWindowHandle owner, std::string_view version, const std::string& rule,
                 const TUpdaterStarter& start) {
  const std::string question = FormatMsg(GetMsg("msgNewVersionAvailable2"), {std::string(version)});
  if (ShowMessageText(owner, question, kAskFlags) != kMsgResultYes) return false;

  const std::string rule_file = WriteRuleFile(rule);
  const std::vector<std::string> argv{UpdaterPath(), rule_file, "-DELETERULE"};
  const pid_t pid = rule_file.empty() ? -1 : (start ? start(argv) : StartProcess(argv));
  if (pid < 0) {
    if (!rule_file.empty()) ::unlink(rule_file.c_str());
    ShowWarning(owner, "msgUpdaterNotStarted");
    return false;
  }
  return true;
}

bool CheckForUpdate(const TCommandOwner& owner, std::string_view current_version,
                    bool& close_program, const TUpdaterStarter& start) {
  Request rq(172);
  rq.Plain("cver", current_version);
  pugi::xml_document reply;
  if (rq.Send(owner, "msgCheckingUpdate", reply) != 1) return false;

  const pugi::xml_node client = ChildNamed(reply.document_element(), "qovra_client");
  std::string version(current_version);
  if (const pugi::xml_attribute ver = client.attribute("ver")) version = ver.value();
  const std::string_view rule_text = client.attribute("rule").value();
  if (!client || VersionToInt(version) <= VersionToInt(current_version) || rule_text.empty()) {
    ShowInfo(owner.Form, "msgNoNeedUpdate");
    return true;
  }
  // A rule that is there but decodes to nothing cannot be offered.
  const std::string rule = Base64Decode(rule_text);
  if (rule.empty()) return true;
  if (OfferUpdate(owner.Form, version, rule, start)) close_program = true;
  return true;
}

}  // namespace qovra
