#include "seam/ui_seam.h"

#include <cstdio>

namespace qovra {
namespace {

class HeadlessMessageUi : public IMessageUi {
 public:
  int ShowMsgDialog(TWindowHandle, const std::string& text, int, const std::string&,
                    const std::string&, const std::string&) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    return kMsgResultCancel;
  }
  TWindowHandle ActiveWindow() override { return nullptr; }
  TWindowHandle ActiveFormWindow() override { return nullptr; }
};

class HeadlessProgressUi : public IProgressUi {
 public:
  void ShowProgress(TWindowHandle, bool, const std::string&, const std::string&) override {}
  void HideProgress(TWindowHandle, bool) override {}
  void ReportProgress(void*, int64_t, int64_t) override {}
};

class HeadlessTimer : public IReceiveTimer {
 public:
  bool IsEnabled() override { return false; }
  void SetEnabled(bool) override {}
};

class HeadlessPasswordPrompt : public IPasswordPromptUi {
 public:
  std::optional<std::string> AskSecret(TWindowHandle, const std::string&, const std::string&,
                                       const std::string&) override {
    return std::nullopt;
  }
  int Reauthenticate(TWindowHandle, const std::string&, const std::string&,
                     const std::string&) override {
    return 2;
  }
};

class HeadlessSettingsDialog : public ISettingsDialogUi {
 public:
  int ShowOptions(TWindowHandle, int) override { return kOptionsCancelled; }
  void ApplyLanguageToWindow(TWindowHandle) override {}
};

class HeadlessLoginDialog : public ILoginDialogUi {
 public:
  int ShowLoginWindow() override { return 2; }
};

class HeadlessReceiveNotices : public IReceiveNotices {
 public:
  bool ApplicationActive() override { return true; }
  bool MainWindowHidden() override { return false; }
  void PlaySoundFile(const std::u16string&) override {}
  void ShowTrayNotice(const std::string&, const std::string&, int) override {}
  void RefreshFolders(int32_t) override {}
};

class HeadlessDupDialog : public IDupDialogUi {
 public:
  int ShowDupDialog(TWindowHandle, const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    return kMsgResultCancel;
  }
};

HeadlessMessageUi g_headless_message;
HeadlessDupDialog g_headless_dup;
HeadlessReceiveNotices g_headless_notices;
HeadlessProgressUi g_headless_progress;
HeadlessTimer g_headless_timer;
HeadlessPasswordPrompt g_headless_password;
HeadlessSettingsDialog g_headless_settings;
HeadlessLoginDialog g_headless_login;

IMessageUi* g_message_ui = nullptr;
int g_message_dialogs_open = 0;

IMessageUi& InstalledMessageUi() {
  return g_message_ui ? *g_message_ui : g_headless_message;
}

// Counts the dialogs open in the installed implementation.
class CountingMessageUi : public IMessageUi {
 public:
  int ShowMsgDialog(TWindowHandle owner, const std::string& text, int flags,
                    const std::string& ok_caption, const std::string& no_caption,
                    const std::string& cancel_caption) override {
    struct Open {
      Open() { ++g_message_dialogs_open; }
      ~Open() { --g_message_dialogs_open; }
    } open;
    return InstalledMessageUi().ShowMsgDialog(owner, text, flags, ok_caption, no_caption,
                                              cancel_caption);
  }
  TWindowHandle ActiveWindow() override { return InstalledMessageUi().ActiveWindow(); }
  TWindowHandle ActiveFormWindow() override { return InstalledMessageUi().ActiveFormWindow(); }
};

CountingMessageUi g_counting_message;
IProgressUi* g_progress_ui = nullptr;
IReceiveTimer* g_receive_timer = nullptr;
IPasswordPromptUi* g_password_ui = nullptr;
ISettingsDialogUi* g_settings_ui = nullptr;
ILoginDialogUi* g_login_ui = nullptr;
IReceiveNotices* g_receive_notices = nullptr;
IDupDialogUi* g_dup_dialog_ui = nullptr;

}  // namespace

void SetMessageUi(IMessageUi* ui) {
  g_message_ui = ui;
}
void SetProgressUi(IProgressUi* ui) {
  g_progress_ui = ui;
}
void SetReceiveTimer(IReceiveTimer* timer) {
  g_receive_timer = timer;
}
void SetPasswordPromptUi(IPasswordPromptUi* ui) {
  g_password_ui = ui;
}
void SetSettingsDialogUi(ISettingsDialogUi* ui) {
  g_settings_ui = ui;
}
void SetLoginDialogUi(ILoginDialogUi* ui) {
  g_login_ui = ui;
}
void SetReceiveNotices(IReceiveNotices* notices) {
  g_receive_notices = notices;
}

void SetDupDialogUi(IDupDialogUi* ui) {
  g_dup_dialog_ui = ui;
}

IMessageUi& MessageUi() {
  return g_counting_message;
}

int MessageDialogsOpen() {
  return g_message_dialogs_open;
}
IProgressUi& ProgressUi() {
  return g_progress_ui ? *g_progress_ui : g_headless_progress;
}
IReceiveTimer& ReceiveTimer() {
  return g_receive_timer ? *g_receive_timer : g_headless_timer;
}
IPasswordPromptUi& PasswordPromptUi() {
  return g_password_ui ? *g_password_ui : g_headless_password;
}
ISettingsDialogUi& SettingsDialogUi() {
  return g_settings_ui ? *g_settings_ui : g_headless_settings;
}
ILoginDialogUi& LoginDialogUi() {
  return g_login_ui ? *g_login_ui : g_headless_login;
}
IReceiveNotices& ReceiveNotices() {
  return g_receive_notices ? *g_receive_notices : g_headless_notices;
}

IDupDialogUi& DupDialogUi() {
  return g_dup_dialog_ui ? *g_dup_dialog_ui : g_headless_dup;
}

void ShowProgress(TWindowHandle owner, bool show_bar, const std::string& title,
                  const std::string& status) {
  ProgressUi().ShowProgress(owner, show_bar, title, status);
}

void HideProgress(TWindowHandle owner, bool keep) {
  ProgressUi().HideProgress(owner, keep);
}

void ProgressCallback(void* data, int64_t total, int64_t done) {
  ProgressUi().ReportProgress(data, total, done);
}

TReceiveTimerPause::TReceiveTimerPause() : was_enabled_(ReceiveTimer().IsEnabled()) {
  if (was_enabled_) ReceiveTimer().SetEnabled(false);
}

TReceiveTimerPause::~TReceiveTimerPause() {
  if (was_enabled_) ReceiveTimer().SetEnabled(true);
}

}  // namespace qovra
