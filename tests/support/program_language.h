// The program's language in a window test, set up as the program does it:
// the program folder and langid set, the message table loaded from that
// folder's language file, and every new form applying the file. All is put
// back when the helper goes.
#pragma once

#include <string>

#include "base/messages.h"
#include "base/records.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/widgets.h"
#include "settings/language.h"
#include "settings/settings.h"

namespace qovra::testing {

class ScopedProgramLanguage {
 public:
  // program_dir ends with "/"; its lang/ holds the file of langid.
  ScopedProgramLanguage(const std::string& program_dir, int langid) : saved_dir_(ProgramDir) {
    ProgramDir = program_dir;
    Options = TOptions{};
    Options.langid = langid;
    Session.Clear();
    ClearMsgTable();
    ClearLanguageCache();
    ApplyLanguageMessages();
    ui::SetApplyLanguageFn([](QWidget* form) { ApplyLanguage(form); });
  }
  ~ScopedProgramLanguage() {
    ui::SetApplyLanguageFn(nullptr);
    ProgramDir = saved_dir_;
    Options = TOptions{};
    ClearMsgTable();
    ClearLanguageCache();
  }
  ScopedProgramLanguage(const ScopedProgramLanguage&) = delete;
  ScopedProgramLanguage& operator=(const ScopedProgramLanguage&) = delete;

 private:
  std::string saved_dir_;
};

}  // namespace qovra::testing
