// Recording fakes of the window seam, for tests.
//
// FakeUi implements every seam interface, records every call and answers
// message dialogs, password prompts, the settings dialog and the login
// window from queues of scripted answers (or from a hook the test sets).
// ScopedFakeUi installs one for the life of a scope and restores the
// headless default after.
//
//   qovra::testing::ScopedFakeUi ui;
//   ui->QueueAnswer(qovra::kMsgResultYes);
//   RunSomething();
//   ASSERT_EQ(ui->messages.size(), 1u);
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "seam/ui_seam.h"

namespace qovra::testing {

struct MessageCall {
  TWindowHandle owner;
  std::string text;
  int flags;
  std::string ok_caption;
  std::string no_caption;
  std::string cancel_caption;
  int result;
};

struct ProgressEvent {
  enum class Kind { Show, Hide, Report };
  Kind kind = Kind::Show;
  TWindowHandle owner = nullptr;  // Show, Hide
  bool flag = false;              // Show: show_bar; Hide: keep
  std::string title;              // Show
  std::string status;             // Show
  void* bar = nullptr;            // Report
  int64_t total = 0;              // Report
  int64_t done = 0;               // Report
};

// One opening of the password window.
struct PromptCall {
  TWindowHandle owner = nullptr;
  std::string caption;
  std::string prompt;
  std::string icon_name;
  bool reauthenticate = false;  // false: plain asking mode
};

struct TrayNoticeCall {
  std::string title;
  std::string text;
  int timeout_ms = 0;
};

struct DupDialogCall {
  TWindowHandle owner = nullptr;
  std::string text;
  int result = 0;
};

struct OptionsCall {
  TWindowHandle owner = nullptr;
  int page = 0;
};

class FakeUi : public IMessageUi,
               public IProgressUi,
               public IReceiveTimer,
               public IPasswordPromptUi,
               public ISettingsDialogUi,
               public ILoginDialogUi,
               public IReceiveNotices,
               public IDupDialogUi {
 public:
  // Message dialogs answer with the queued results in order; once the queue
  // is empty, with fallback_answer (Esc, by default).
  void QueueAnswer(int result) { answers.push_back(result); }

  int ShowMsgDialog(TWindowHandle owner, const std::string& text, int flags,
                    const std::string& ok_caption, const std::string& no_caption,
                    const std::string& cancel_caption) override {
    if (on_message) on_message(text);
    int result = fallback_answer;
    if (!answers.empty()) {
      result = answers.front();
      answers.pop_front();
    }
    messages.push_back({owner, text, flags, ok_caption, no_caption, cancel_caption, result});
    return result;
  }
  TWindowHandle ActiveWindow() override { return active_window; }
  TWindowHandle ActiveFormWindow() override { return active_form_window; }

  void ShowProgress(TWindowHandle owner, bool show_bar, const std::string& title,
                    const std::string& status) override {
    ProgressEvent e;
    e.kind = ProgressEvent::Kind::Show;
    e.owner = owner;
    e.flag = show_bar;
    e.title = title;
    e.status = status;
    progress.push_back(e);
  }
  void HideProgress(TWindowHandle owner, bool keep) override {
    ProgressEvent e;
    e.kind = ProgressEvent::Kind::Hide;
    e.owner = owner;
    e.flag = keep;
    progress.push_back(e);
  }
  void ReportProgress(void* bar, int64_t total, int64_t done) override {
    ProgressEvent e;
    e.kind = ProgressEvent::Kind::Report;
    e.bar = bar;
    e.total = total;
    e.done = done;
    progress.push_back(e);
  }

  bool IsEnabled() override { return timer_enabled; }
  void SetEnabled(bool enabled) override {
    timer_enabled = enabled;
    timer_changes.push_back(enabled);
  }

  // Plain asking mode: the queued texts in order (nothing = cancel); an
  // empty queue cancels.
  void QueueSecret(std::optional<std::string> text) { secrets.push_back(std::move(text)); }
  std::optional<std::string> AskSecret(TWindowHandle owner, const std::string& caption,
                                       const std::string& prompt,
                                       const std::string& icon_name) override {
    prompts.push_back({owner, caption, prompt, icon_name, false});
    if (secrets.empty()) return std::nullopt;
    std::optional<std::string> text = secrets.front();
    secrets.pop_front();
    return text;
  }
  // Re-authentication mode: on_reauthenticate when set (it plays the
  // window: runs the login and returns 1 or 2), else the queued results,
  // else 2.
  int Reauthenticate(TWindowHandle owner, const std::string& caption, const std::string& prompt,
                     const std::string& icon_name) override {
    prompts.push_back({owner, caption, prompt, icon_name, true});
    if (on_reauthenticate) return on_reauthenticate();
    return PopOr(reauth_answers, 2);
  }

  // Settings dialog: on_options when set (it may change Options like the
  // user would), else the queued results, else kOptionsCancelled.
  int ShowOptions(TWindowHandle owner, int page) override {
    options_calls.push_back({owner, page});
    if (on_options) return on_options(page);
    return PopOr(options_answers, kOptionsCancelled);
  }
  void ApplyLanguageToWindow(TWindowHandle window) override { language_applied.push_back(window); }

  // Login window: on_login when set, else the queued results, else 2.
  int ShowLoginWindow() override {
    ++login_windows;
    if (on_login) return on_login();
    return PopOr(login_answers, 2);
  }

  bool ApplicationActive() override { return application_active; }
  bool MainWindowHidden() override { return main_window_hidden; }
  void PlaySoundFile(const std::u16string& path) override { sounds.push_back(path); }
  void ShowTrayNotice(const std::string& title, const std::string& text, int timeout_ms) override {
    tray_notices.push_back({title, text, timeout_ms});
  }
  void RefreshFolders(int32_t folder_id) override { folder_refreshes.push_back(folder_id); }

  // Duplicate-contact question: on_dup_dialog when set, else the queued
  // answers in order, else dup_fallback_answer (cancel).
  void QueueDupAnswer(int result) { dup_answers.push_back(result); }
  int ShowDupDialog(TWindowHandle owner, const std::string& text) override {
    const int result =
        on_dup_dialog ? on_dup_dialog(text) : PopOr(dup_answers, dup_fallback_answer);
    dup_dialogs.push_back({owner, text, result});
    return result;
  }

  std::deque<int> answers;
  int fallback_answer = kMsgResultCancel;
  // Runs while a message dialog is open, before it is answered.
  std::function<void(const std::string& text)> on_message;
  std::deque<std::optional<std::string>> secrets;
  std::deque<int> reauth_answers;
  std::function<int()> on_reauthenticate;
  std::vector<PromptCall> prompts;
  std::deque<int> options_answers;
  std::function<int(int page)> on_options;
  std::vector<OptionsCall> options_calls;
  std::vector<TWindowHandle> language_applied;
  std::deque<int> login_answers;
  std::function<int()> on_login;
  int login_windows = 0;
  TWindowHandle active_window = nullptr;
  TWindowHandle active_form_window = nullptr;
  std::vector<MessageCall> messages;
  // The texts of the messages shown so far, in order.
  std::vector<std::string> ShownTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages) texts.push_back(m.text);
    return texts;
  }
  std::vector<ProgressEvent> progress;
  bool timer_enabled = false;
  std::vector<bool> timer_changes;
  bool application_active = true;
  bool main_window_hidden = false;
  std::vector<std::u16string> sounds;
  std::vector<TrayNoticeCall> tray_notices;
  std::vector<int32_t> folder_refreshes;
  std::deque<int> dup_answers;
  int dup_fallback_answer = kMsgResultCancel;
  std::function<int(const std::string& text)> on_dup_dialog;
  std::vector<DupDialogCall> dup_dialogs;

 private:
  template <typename T>
  static T PopOr(std::deque<T>& queue, T fallback) {
    if (queue.empty()) return fallback;
    T value = queue.front();
    queue.pop_front();
    return value;
  }
};

// Installs a FakeUi for every seam while it lives.
class ScopedFakeUi {
 public:
  ScopedFakeUi() {
    SetMessageUi(&ui_);
    SetProgressUi(&ui_);
    SetReceiveTimer(&ui_);
    SetPasswordPromptUi(&ui_);
    SetSettingsDialogUi(&ui_);
    SetLoginDialogUi(&ui_);
    SetReceiveNotices(&ui_);
    SetDupDialogUi(&ui_);
  }
  ~ScopedFakeUi() {
    SetMessageUi(nullptr);
    SetProgressUi(nullptr);
    SetReceiveTimer(nullptr);
    SetPasswordPromptUi(nullptr);
    SetSettingsDialogUi(nullptr);
    SetLoginDialogUi(nullptr);
    SetReceiveNotices(nullptr);
    SetDupDialogUi(nullptr);
  }
  ScopedFakeUi(const ScopedFakeUi&) = delete;
  ScopedFakeUi& operator=(const ScopedFakeUi&) = delete;

  FakeUi* operator->() { return &ui_; }
  FakeUi& operator*() { return ui_; }

 private:
  FakeUi ui_;
};

}  // namespace qovra::testing
