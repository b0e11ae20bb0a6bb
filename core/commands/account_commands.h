// The account commands and the update check: password change (162),
// registration (167), recovery question (168), new password after recovery
// (169), profile change (171) and the check for a newer client (172).
//
// Each routine writes its request XML, sends it through ServerRequest in
// session mode (server URL of the settings) and reads what it needs of the
// reply (element names compared without regard to ASCII case). Result: true
// only for result 1; any other result has already been shown to the user
// and leaves every output parameter untouched.
//
// Text parameters are UTF-8. Passwords never travel: they become Windows-
// 1251 bytes (cp1251.h), are hashed and sent as 64 upper-case hexadecimal
// digits; the bytes are wiped after use. Interface thread only.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "seam/ui_seam.h"

namespace qovra {

// The window a command runs for: owner of its messages and of the progress
// window, its class name, and the progress window's bar.
struct TCommandOwner {
  TWindowHandle Form = nullptr;
  std::string_view FormClass;
  void* ProgressBar = nullptr;
};

// The hash-hex form: HashString(bytes) as 64 upper-case hexadecimal digits.
[[nodiscard]] std::string HashHex(std::string_view bytes);

// 162. login as it is; current and fresh are the passwords.
[[nodiscard]] bool ChangePassword(const TCommandOwner& owner, std::string_view login,
                                  std::string_view current, std::string_view fresh);

// 167. question is the number of the chosen control question; the names
// and the answer travel as Base64 of their UTF-8; dhkey is bytes 288-415 of
// Session.OwnDhKey. The caller has run the handshake with the key-agreement
// value appended.
[[nodiscard]] bool RegisterUser(const TCommandOwner& owner, std::string_view login,
                                std::string_view domain, int question, std::string_view answer,
                                std::string_view job_title, std::string_view company,
                                std::string_view last_name, std::string_view middle_name,
                                std::string_view first_name, std::string_view password);

// 168. On result 1 each value the reply carries is copied: question (not a
// number gives 0), answer (the text of `answer`, Base64 as sent), count
// (missing or not a number gives -1); a missing element leaves its output
// as it was.
[[nodiscard]] bool GetControlQuestion(const TCommandOwner& owner, std::string_view login,
                                      int& count, std::string& answer, int& question);

// 169.
[[nodiscard]] bool SetNewPassword(const TCommandOwner& owner, std::string_view login,
                                  std::string_view new_password);

// 171. login is Session.Login; the five names travel as Base64 of UTF-8.
[[nodiscard]] bool ChangeUserProfile(const TCommandOwner& owner, const TContact& contact);

// Starts the updater with its argument vector; returns the child's pid or
// -1 when it did not start. The default is StartProcess.
using TUpdaterStarter = std::function<pid_t(const std::vector<std::string>& argv)>;

// The updater program: ProgramDir + "qovraupd".
[[nodiscard]] std::string UpdaterPath();

// Asks "msgNewVersionAvailable2" (filled with version) over owner; on Yes
// writes rule (the decoded rule, not empty) to a new temporary file
// ("tmp*.xml", 0600, in the system's temporary folder: it must outlive the
// program, the updater deletes it) and starts the updater (UpdaterPath(),
// never searched in PATH) with the arguments: that file name and
// "-DELETERULE". True only when the updater really started; the caller
// then ends the program. An updater that does not start is the warning
// "msgUpdaterNotStarted", the rule file is removed and the program stays.
[[nodiscard]] bool OfferUpdate(TWindowHandle owner, std::string_view version,
                               const std::string& rule, const TUpdaterStarter& start = {});

// 172 with the program's version text. On result 1: a newer version
// (VersionToInt) with a rule that decodes to something is offered
// (OfferUpdate); close_program becomes true only when the updater really
// started. A newer version whose rule is there but decodes to nothing shows
// nothing. Anything else (no `qovra_client`, not newer, an absent or empty
// rule) is the information "msgNoNeedUpdate". Returns true on result 1
// whatever followed; close_program is untouched otherwise.
[[nodiscard]] bool CheckForUpdate(const TCommandOwner& owner, std::string_view current_version,
                                  bool& close_program, const TUpdaterStarter& start = {});

}  // namespace qovra
