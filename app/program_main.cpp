#include "program_main.h"

#include <QApplication>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

#include "base/messages.h"
#include "base/records.h"
#include "keys/random_text.h"
#include "mail/startup.h"
#include "mail/startup_files.h"
#include "mail/startup_sweep.h"
#include "net/session_setup.h"
#include "platform/run_thread.h"
#include "platform/temp_files.h"
#include "qovra/account/login_dialog_ui.h"
#include "qovra/account/password_prompt.h"
#include "qovra/account/settings_dialog_ui.h"
#include "qovra/addressbook/dup_dialog.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/sound.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/system_tray_icon.h"
#include "refresh_timer.h"
#include "settings/language.h"
#include "single_instance_guard.h"

namespace qovra::app {
namespace {

// Runs a clean-up step when the scope ends, however it ends.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() { f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};

void ShowFailure(std::string_view key, std::string_view subject = {}) {
  std::string text = GetMsg(key);
  if (!subject.empty()) text += "\n" + std::string(subject);
  (void)ShowMessageText(nullptr, text, kMsgIconError);
}

// An exception ended the steps, and everything they had set up is down
// again: the reason goes to the log, the secrets are wiped before the user
// is asked to read the message.
void ReportUnexpectedError(const std::string& reason) {
  std::fprintf(stderr, "qovra: the program ends after an unexpected error: %s\n", reason.c_str());
  Session.Clear();
  (void)ShowMessageText(nullptr, GetMsg("msgUnexpectedError"), kMsgIconError);
}

// The steps of the main block, from the settings to the main window's end.
// Whatever they set up is taken down in reverse order when they end, also
// when an exception ends them.
ProgramEnd RunProgram(const TProgramSetup& setup) {
  RandomModuleScope random;

  const std::string program_path =
      setup.program_path.empty() ? CurrentProgramPath() : setup.program_path;

  if (setup.settings) {
    InitAppSettings(program_path, *setup.settings);
  } else {
    InitAppSettings(program_path);
  }
  ApplyLanguageMessages();

  // Every form applies the language file when it is built.
  ui::SetApplyLanguageFn([](QWidget* form) { ApplyLanguage(form); });
  ScopeExit language_hook([] { ui::SetApplyLanguageFn(nullptr); });
  // Progress windows get the program's own gradient bar.
  TfrmProgress::SetProgressBarFactory(
      [](QWidget* parent) -> QWidget* { return new ui::TProgressBarEx(parent); });
  ScopeExit bar_factory([] { TfrmProgress::SetProgressBarFactory(nullptr); });

  TPrivateTempFolder private_temp;
  if (!private_temp.Valid()) {
    ShowFailure("msgCannotCreateFolder", GetTempFolder());
    return ProgramEnd::NoTempFolder;
  }

  ui::ExtractDialogSounds(QString::fromStdString(ProgramDir));
  ScopeExit sounds([] { ui::DeleteDialogSounds(); });

  TSingleInstanceGuard guard;
  const TSingleInstanceGuard::Outcome outcome = guard.Check(setup.instance_folder);
  if (outcome == TSingleInstanceGuard::Outcome::AnotherCopy) return ProgramEnd::AnotherCopy;
  if (outcome != TSingleInstanceGuard::Outcome::OnlyCopy) {
    ReportGuardFailure(outcome);
    return ProgramEnd::GuardFailed;
  }
  // The only copy now: the private folders that killed copies left go.
  (void)SweepPrivateTempFolders(SystemTempFolder(), private_temp.Path());

  ui::TProgressDisplay progress;
  SetProgressUi(&progress);
  ScopeExit progress_ui([] { SetProgressUi(nullptr); });

  // The password prompt: the key password and PIN, and expired sessions.
  ui::TPasswordPromptUi password_prompt;
  SetPasswordPromptUi(&password_prompt);
  ScopeExit password_ui([] { SetPasswordPromptUi(nullptr); });

  TRefreshTimer timer;
  Session.CertValidityRemain = 0;
  timer.SetEnabled(false);
  RefreshTimer = &timer;
  SetReceiveTimer(&timer);
  ScopeExit timer_ui([] {
    SetReceiveTimer(nullptr);
    RefreshTimer = nullptr;
  });

  // Runs after the started programs are ended (declared before them): the
  // files they show live in the temporary folder it empties.
  ScopeExit user_data([] { TearDownUserData(); });
  TRunThreadList programs(setup.document_opener);
  RunThreadList = &programs;
  ScopeExit programs_global([] { RunThreadList = nullptr; });

  // The settings dialog, asked for by the login window and the settings checks.
  SetSettingsDialogUi(&account::SettingsDialogWindowUi());
  ScopeExit settings_ui([] { SetSettingsDialogUi(nullptr); });
  // The duplicate question of the address book's saves.
  SetDupDialogUi(&addressbook::DupDialogWindowUi());
  ScopeExit dup_ui([] { SetDupDialogUi(nullptr); });

  SetLoginDialogUi(setup.login_ui ? setup.login_ui : &account::LoginWindowUi());
  ScopeExit login_ui([] { SetLoginDialogUi(nullptr); });
  if (!ShowLoginDialog(true)) return ProgramEnd::LoginCancelled;

  if (!SetUpUserData(ProgramDir)) return ProgramEnd::UserDataFailed;

  ui::TSystemTrayIcon tray(ui::MainIcon());
  TfrmMain main_window(&tray);
  timer.Handler().SetMainWindow(&main_window);
  QObject::connect(&main_window, &TfrmMain::closed, qApp, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  main_window.show();
  main_window.activateWindow();
  if (setup.on_main_window) setup.on_main_window(main_window);
  if (main_window.isVisible()) QApplication::exec();
  return ProgramEnd::MainWindowClosed;
}

}  // namespace

int ExitCodeOf(ProgramEnd end) {
  switch (end) {
    case ProgramEnd::MainWindowClosed:
    case ProgramEnd::AnotherCopy:
    case ProgramEnd::LoginCancelled:
      return 0;
    default:
      return 1;
  }
}

ProgramEnd ProgramMain(const TProgramSetup& setup) {
  // Declared first, so run last: the session's secrets go with the program.
  ScopeExit wipe_session([] { Session.Clear(); });

  // Only the main window's close ends the event loop, not the login
  // window's or a message's.
  const bool quit_on_last = QApplication::quitOnLastWindowClosed();
  QApplication::setQuitOnLastWindowClosed(false);
  ScopeExit restore_quit([quit_on_last] { QApplication::setQuitOnLastWindowClosed(quit_on_last); });

  SetMessageUi(setup.message_ui ? setup.message_ui : &ui::MessageDialogUi());
  ScopeExit message_ui([] { SetMessageUi(nullptr); });

  // An exception from a step, or from an event handler while a window
  // runs (Qt passes it on out of its event loop), unwinds the steps first.
  try {
    return RunProgram(setup);
  } catch (const std::exception& e) {
    ReportUnexpectedError(e.what());
  } catch (...) {
    ReportUnexpectedError("an exception that is no std::exception");
  }
  return ProgramEnd::UnexpectedError;
}

}  // namespace qovra::app
