// The password prompt: plain asking, cancelling, the blank-text balloon,
// the wiping of the edit, and re-authentication against the local exchange
// server (success, refusals, the settings loop, an expired session while
// the prompt is open).
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/cp1251.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "base/utf.h"
#include "commands/login_command.h"
#include "keys/crypto_binding.h"
#include "net/server_request.h"
#include "net/session_setup.h"
#include "platform/temp_files.h"
#include "qovra/account/password_prompt.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/widgets.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "support/http_clients.h"
#include "support/scratch_dir.h"
#include "support/suite_world.h"

namespace {

using qovra::testing::ScratchDir;
using Step = std::function<void(TfrmPassword&)>;

std::vector<TfrmPassword*> OpenPrompts() {
  std::vector<TfrmPassword*> open;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* form = qobject_cast<TfrmPassword*>(w); form && form->isVisible())
      open.push_back(form);
  }
  return open;
}

// Plays the user at the prompts that open while it lives: each step acts on
// the prompt that is open when its turn comes. A watchdog counts the
// prompts open at once and cancels any prompt opened over another, so that
// a nested prompt fails the test instead of hanging it.
class PromptPlayer {
 public:
  explicit PromptPlayer(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {
    QObject::connect(&step_timer_, &QTimer::timeout, [this] { RunStep(); });
    QObject::connect(&watchdog_, &QTimer::timeout, [this] { Watch(); });
    step_timer_.start(5);
    watchdog_.start(5);
  }

  int MaxOpen() const { return max_open_; }
  size_t StepsLeft() const { return steps_.size(); }

 private:
  void RunStep() {
    Watch();
    const std::vector<TfrmPassword*> open = OpenPrompts();
    if (open.size() != 1 || steps_.empty()) return;
    Step step = std::move(steps_.front());
    steps_.pop_front();
    step(*open.front());
  }
  void Watch() {
    const std::vector<TfrmPassword*> open = OpenPrompts();
    max_open_ = std::max(max_open_, static_cast<int>(open.size()));
    if (open.size() > 1) {
      if (auto* top = qobject_cast<TfrmPassword*>(QApplication::activeModalWidget())) top->reject();
    }
  }

  std::deque<Step> steps_;
  QTimer step_timer_;
  QTimer watchdog_;
  int max_open_ = 0;
};

// Types text into edit key by key (QTest::keyClicks knows ASCII only).
void TypeInto(QWidget* edit, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(edit, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(edit, &release);
  }
}

Step Type(const QString& text) {
  return [text](TfrmPassword& form) { TypeInto(form.ePassword, text); };
}
void ClickOK(TfrmPassword& form) {
  form.btnOK->click();
}
void ClickCancel(TfrmPassword& form) {
  form.btnCancel->click();
}

TEST(PasswordPrompt, PlainModesReturnTheTextAsTyped) {
  struct Case {
    uint8_t mode;
    QString text;
  };
  for (const Case& c : {Case{1, "secret"}, Case{2, "  two  blanks  "}, Case{2, "пароль 42"}}) {
    SCOPED_TRACE(c.text.toStdString());
    TfrmPassword form;
    PromptPlayer player({Type(c.text), [&c](TfrmPassword& f) {
                           // Shown as U+25CF, one per character.
                           EXPECT_EQ(f.ePassword->displayText(),
                                     QString(c.text.size(), QChar(0x25CF)));
                           ClickOK(f);
                         }});
    EXPECT_EQ(form.Execute("Key file", "Enter the password:", c.mode, "ico_lock48"), 1);
    EXPECT_EQ(form.ePassword->text(), c.text);
    EXPECT_EQ(form.Mode(), c.mode);
    EXPECT_EQ(form.windowTitle(), "Key file");
    EXPECT_EQ(form.lblPassword->text(), "Enter the password:");
    EXPECT_FALSE(form.imgLogo->pixmap().isNull());
  }
}

TEST(PasswordPrompt, CancelReturns2) {
  const std::vector<std::pair<const char*, Step>> ways = {
      {"button", ClickCancel},
      {"escape", [](TfrmPassword& f) { QTest::keyClick(&f, Qt::Key_Escape); }},
      {"close", [](TfrmPassword& f) { f.close(); }},
  };
  for (const auto& [name, cancel] : ways) {
    SCOPED_TRACE(name);
    TfrmPassword form;
    PromptPlayer player({Type("typed"), cancel});
    EXPECT_EQ(form.Execute("c", "p", 2, "ico_murvex_password48"), 2);
  }
}

TEST(PasswordPrompt, BlankTextShowsTheBalloonAndTheWindowStays) {
  qovra::testing::ScopedFakeUi ui;  // mode 0 must not reach the settings or the server
  for (uint8_t mode : {0, 2}) {
    for (const QString& text : {QString(), QString("   ")}) {
      SCOPED_TRACE(testing::Message()
                   << "mode " << int(mode) << " text '" << text.toStdString() << "'");
      TfrmPassword form;
      PromptPlayer player({Type(text), ClickOK, [](TfrmPassword& f) {
                             EXPECT_TRUE(f.isVisible());
                             const auto balloon = qovra::ui::CurrentBalloon();
                             ASSERT_TRUE(balloon.has_value());
                             EXPECT_EQ(balloon->field, f.ePassword);
                             EXPECT_EQ(balloon->title, "Caption");
                             EXPECT_EQ(balloon->text.toStdString(),
                                       qovra::GetMsg("msgPasswordNotSpecified"));
                             EXPECT_EQ(balloon->icon, qovra::ui::TBalloonIcon::Warning);
                             ClickCancel(f);
                           }});
      EXPECT_EQ(form.Execute("Caption", "p", mode, "ico_lock48"), 2);
      EXPECT_EQ(player.StepsLeft(), 0u);
      EXPECT_EQ(form.PasswordFailures(), 0);
      qovra::ui::HideBalloon();
    }
  }
  EXPECT_TRUE(ui->messages.empty());
  EXPECT_TRUE(ui->options_calls.empty());
  EXPECT_TRUE(ui->progress.empty());
}

TEST(PasswordPrompt, AskSecretThroughTheSeam) {
  qovra::ui::TPasswordPromptUi prompts;
  {
    PromptPlayer player({[](TfrmPassword& f) {
                           EXPECT_EQ(f.windowTitle(), "Устройство");
                           EXPECT_EQ(f.Mode(), 2);
                           TypeInto(f.ePassword, " PIN пин ");
                         },
                         ClickOK});
    EXPECT_EQ(prompts.AskSecret(nullptr, "Устройство", "PIN:", "ico_murvex_password48"),
              std::optional<std::string>(" PIN пин "));
  }
  PromptPlayer player({Type("x"), ClickCancel});
  EXPECT_EQ(prompts.AskSecret(nullptr, "c", "p", "ico_lock48"), std::nullopt);
}

TEST(PasswordPrompt, WipeEditTextOverwritesTheWholeBufferOnlyWhenItIsTheEditsAlone) {
  qovra::ui::TEditEx edit;
  edit.setEchoMode(QLineEdit::Password);
  TypeInto(&edit, "secret");
  EXPECT_TRUE(qovra::ui::WipeEditText(&edit));
  EXPECT_TRUE(edit.text().isEmpty());

  // Characters removed at the front leave free space before the text; the
  // whole allocation is wiped, and nothing outside it.
  TypeInto(&edit, "secretpassword");
  QTest::keyClick(&edit, Qt::Key_Home);
  QTest::keyClick(&edit, Qt::Key_Delete);
  QTest::keyClick(&edit, Qt::Key_Delete);
  ASSERT_EQ(edit.text(), QStringLiteral("cretpassword"));
  EXPECT_TRUE(qovra::ui::WipeEditText(&edit));
  EXPECT_TRUE(edit.text().isEmpty());

  // A copy the caller still holds keeps its text.
  TypeInto(&edit, "secret");
  const QString held = edit.text();
  EXPECT_FALSE(qovra::ui::WipeEditText(&edit));
  EXPECT_EQ(held, "secret");
  EXPECT_TRUE(edit.text().isEmpty());

  // Text from a literal lives in read-only memory: only cleared.
  edit.setText(QStringLiteral("literal"));
  EXPECT_FALSE(qovra::ui::WipeEditText(&edit));
  EXPECT_TRUE(edit.text().isEmpty());
}

// Typed text; the server holds its Windows-1251 bytes, blanks included.
constexpr char kPassword[] = " пароль Анны ";

// The test PKI and two servers, made once: one with the default session
// time and one whose sessions end after one idle second.
class ReauthWorld {
 public:
  bool Make() {
    pki_.AddUserWithKeyFile("ann@127.0.0.1");
    qovra_test::ExchangeServerOptions o = pki_.Options();
    o.seed_accounts = {"ann@127.0.0.1:" + qovra::Utf8ToCp1251(kPassword)};
    if (!server_.Start(o)) return false;
    o.session_timeout = 1;
    return short_lived_.Start(o);
  }
  const qovra_test::ExchangePki& pki() const { return pki_; }
  const qovra_test::ExchangeServer& server() const { return server_; }
  const qovra_test::ExchangeServer& short_lived() const { return short_lived_; }

 private:
  qovra_test::ExchangePki pki_;
  qovra_test::ExchangeServer server_;
  qovra_test::ExchangeServer short_lived_;
};

std::unique_ptr<ReauthWorld> g_world;

class ReauthTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { g_world = qovra_test::MakeWorld<ReauthWorld>(); }
  static void TearDownTestSuite() { g_world.reset(); }

  void SetUp() override {
    ASSERT_NE(g_world, nullptr) << "the exchange server or the test PKI could not be made";
    qovra_test::ResetClient(dir_.File("tmp"));
    qovra::Options.Other.lastlgn = "ann";
    qovra_test::UseKeyFilesOf(g_world->pki(), "ann@127.0.0.1");
    qovra_test::UseServer(g_world->server());
    qovra::SetPasswordPromptUi(&prompts_);
  }
  void TearDown() override {
    qovra::SetPasswordPromptUi(nullptr);
    qovra::SetTempFolder("");
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
  }

  std::vector<std::string> Times(int n, std::string_view key) const {
    return std::vector<std::string>(static_cast<size_t>(n), qovra::GetMsg(key));
  }

  qovra_test::ScopedProxyEnv proxy_env_;
  qovra::testing::ScopedFakeUi ui_;
  qovra::ui::TPasswordPromptUi prompts_;
  ScratchDir dir_;
};

TEST_F(ReauthTest, ExpiredSessionPromptLogsInAgain) {
  PromptPlayer player({[](TfrmPassword& f) {
                         EXPECT_EQ(f.Mode(), 0);
                         EXPECT_EQ(f.windowTitle().toStdString(),
                                   qovra::GetMsg("msgPasswordCaption"));
                         EXPECT_EQ(f.lblPassword->text().toStdString(),
                                   qovra::FormatMsg(qovra::GetMsg("msgPasswordPrompt"), {"ann"}));
                         TypeInto(f.ePassword, kPassword);
                       },
                       ClickOK});
  ASSERT_TRUE(qovra::ShowLoginDialog(false)) << testing::PrintToString(ui_->ShownTexts());
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_TRUE(qovra::HandshakeDone);
  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_EQ(qovra::Session.Login.str(), "ann");
  EXPECT_EQ(qovra::Session.Host.str(), "127.0.0.1");
  EXPECT_EQ(qovra::Session.OwnContact.Email, "ann@127.0.0.1");
  EXPECT_EQ(qovra::Session.OnlinePasswordHash, qovra::HashString(qovra::Utf8ToCp1251(kPassword)));
  EXPECT_TRUE(qovra::Options.Keys.offpass.empty());  // not touched by the short form
}

TEST_F(ReauthTest, RefusalsCountAndTheThirdCloses) {
  struct Case {
    const char* name;
    std::vector<QString> attempts;
    int result;
    int failures;
  };
  const QString right = QString::fromUtf8(kPassword);
  const std::vector<Case> cases = {
      {"three refusals", {"wrong", "wrong again", right.trimmed()}, 2, 3},
      {"two refusals, then the password", {"wrong", "wrong again", right}, 1, 2},
      {"first time right", {right}, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    ui_->messages.clear();
    std::vector<Step> steps;
    for (size_t i = 0; i < c.attempts.size(); ++i) {
      steps.push_back([&c, i](TfrmPassword& f) {
        if (i > 0) {
          // A refused text stays, selected and focused, for correction.
          EXPECT_EQ(f.ePassword->selectedText(), c.attempts[i - 1]);
          EXPECT_EQ(f.focusWidget(), f.ePassword);
          EXPECT_EQ(f.PasswordFailures(), static_cast<int>(i));
        }
        TypeInto(f.ePassword, c.attempts[i]);
        ClickOK(f);
      });
    }
    TfrmPassword form;
    PromptPlayer player(steps);
    EXPECT_EQ(form.Execute("c", "p", 0, "ico_lock48"), c.result);
    EXPECT_EQ(player.StepsLeft(), 0u);
    EXPECT_EQ(form.PasswordFailures(), c.failures);
    EXPECT_EQ(ui_->ShownTexts(), Times(c.failures, "msgServerError3"));
    EXPECT_EQ(qovra::Session.State, c.result == 1 ? 1 : 0);
  }
}

TEST_F(ReauthTest, SettingsLoopRunsBeforeTheRequest) {
  qovra::Options.Conn.srvaddr.clear();
  bool fix = false;
  ui_->on_options = [&fix](int) {
    if (fix) qovra_test::UseServer(g_world->server());
    return fix ? qovra::kOptionsApplied : qovra::kOptionsCancelled;
  };
  TfrmPassword form;
  PromptPlayer player({Type(kPassword), ClickOK, [&](TfrmPassword& f) {
                         // Settings cancelled: nothing sent, nothing counted.
                         EXPECT_TRUE(f.isVisible());
                         EXPECT_EQ(ui_->ShownTexts(), Times(1, "msgServerURLNotSpecified"));
                         ASSERT_EQ(ui_->options_calls.size(), 1u);
                         EXPECT_EQ(ui_->options_calls[0].page, 1);
                         EXPECT_EQ(f.PasswordFailures(), 0);
                         EXPECT_EQ(qovra::Session.State, 0);
                         fix = true;
                         ClickOK(f);
                       }});
  EXPECT_EQ(form.Execute("c", "p", 0, "ico_lock48"), 1);
  EXPECT_EQ(ui_->options_calls.size(), 2u);
  EXPECT_EQ(qovra::Session.State, 1);
}

TEST_F(ReauthTest, ExpiredSessionAtThePromptCountsAsAFailure) {
  // Logged in, then idle past the session's end, as when going online
  // again: the prompt is opened directly, not by the envelope.
  qovra_test::UseServer(g_world->short_lived());
  ASSERT_EQ(qovra::LoginSession("ann", kPassword, {nullptr, "TfrmLogin", nullptr}), 1)
      << testing::PrintToString(ui_->ShownTexts());
  const std::array<uint8_t, 32> old_id = qovra::Session.SessionId;
  qovra::Session.State = 2;
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));

  PromptPlayer player({Type(kPassword), ClickOK, [&](TfrmPassword& f) {
                         // Code 6 to the prompt's own request: shown once, one
                         // failure, no prompt inside the prompt.
                         EXPECT_TRUE(f.isVisible());
                         EXPECT_EQ(ui_->ShownTexts(), Times(1, "msgSessionIsExpired"));
                         EXPECT_EQ(f.PasswordFailures(), 1);
                         EXPECT_FALSE(qovra::HandshakeDone);
                         ClickOK(f);
                       }});
  EXPECT_EQ(prompts_.Reauthenticate(nullptr, "c", "p", "ico_lock48"), 1);
  EXPECT_EQ(player.MaxOpen(), 1);
  EXPECT_EQ(player.StepsLeft(), 0u);
  EXPECT_EQ(qovra::Session.State, 1);
  EXPECT_NE(qovra::Session.SessionId, old_id);
}

}  // namespace
