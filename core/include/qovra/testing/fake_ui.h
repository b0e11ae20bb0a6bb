// Recording fakes of the window seam, for tests.
//
// FakeUi implements every seam interface, records every call and answers
// message dialogs from a queue of scripted results. ScopedFakeUi installs
// one for the life of a scope and restores the headless default after.
//
//   qovra::testing::ScopedFakeUi ui;
//   ui->QueueAnswer(qovra::kMsgResultYes);
//   RunSomething();
//   ASSERT_EQ(ui->messages.size(), 1u);
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "qovra/ui_seam.h"

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

class FakeUi : public IMessageUi, public IProgressUi, public IReceiveTimer {
 public:
  // Message dialogs answer with the queued results in order; once the queue
  // is empty, with fallback_answer (Esc, by default).
  void QueueAnswer(int result) { answers.push_back(result); }

  int ShowMsgDialog(TWindowHandle owner, const std::string& text, int flags,
                    const std::string& ok_caption, const std::string& no_caption,
                    const std::string& cancel_caption) override {
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

  std::deque<int> answers;
  int fallback_answer = kMsgResultCancel;
  TWindowHandle active_window = nullptr;
  TWindowHandle active_form_window = nullptr;
  std::vector<MessageCall> messages;
  std::vector<ProgressEvent> progress;
  bool timer_enabled = false;
  std::vector<bool> timer_changes;
};

// Installs a FakeUi for every seam while it lives.
class ScopedFakeUi {
 public:
  ScopedFakeUi() {
    SetMessageUi(&ui_);
    SetProgressUi(&ui_);
    SetReceiveTimer(&ui_);
  }
  ~ScopedFakeUi() {
    SetMessageUi(nullptr);
    SetProgressUi(nullptr);
    SetReceiveTimer(nullptr);
  }
  ScopedFakeUi(const ScopedFakeUi&) = delete;
  ScopedFakeUi& operator=(const ScopedFakeUi&) = delete;

  FakeUi* operator->() { return &ui_; }
  FakeUi& operator*() { return ui_; }

 private:
  FakeUi ui_;
};

}  // namespace qovra::testing
