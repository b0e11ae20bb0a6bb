// The login window's links: the connection test against the server up,
// down and wrong, the settings dialog, the account links, the
// certificate viewer, and the keyboard switch of the login field.
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "account/login_test_fixture.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "platform/run_thread.h"
#include "qovra/account/us_keyboard.h"
#include "qovra/controls/web_link.h"
#include "settings/language.h"
#include "support/loopback_listener.h"

namespace qovra_test {
namespace {

using qovra::testing::ProgressEvent;

class LoginLinksTest : public LoginWindowFixture {};

TEST_F(LoginLinksTest, ConnectionTestWithTheServerUpAndDown) {
  StartServer();
  for (uint8_t client : {1, 2}) {
    SCOPED_TRACE(static_cast<int>(client));
    qovra::Options.Conn.useiewc = client;
    ui_->messages.clear();
    ui_->progress.clear();
    Form().wlDomainClick();
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].text, qovra::GetMsg("msgConnectionOK"));
    EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconInformation);
    ASSERT_EQ(ui_->progress.size(), 2u);
    EXPECT_EQ(ui_->progress[0].kind, ProgressEvent::Kind::Show);
    EXPECT_EQ(ui_->progress[0].title, qovra::GetMsg("msgConnectingToServer"));
    EXPECT_EQ(ui_->progress[1].kind, ProgressEvent::Kind::Hide);
  }

  server_.Stop();
  const struct {
    uint8_t client;
    int flags;
    bool with_error_key;
  } down[] = {{1, qovra::kMsgIconWarning, true}, {2, qovra::kMsgIconError, false}};
  for (const auto& r : down) {
    SCOPED_TRACE(static_cast<int>(r.client));
    qovra::Options.Conn.useiewc = r.client;
    ui_->messages.clear();
    Form().wlDomainClick();
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].flags, r.flags);
    EXPECT_FALSE(ui_->messages[0].text.empty());
    EXPECT_EQ(ui_->messages[0].text.rfind(qovra::GetMsg("msgConnectionError"), 0) == 0,
              r.with_error_key)
        << ui_->messages[0].text;
  }
  EXPECT_EQ(Form().LoginFailures(), 0);
}

TEST_F(LoginLinksTest, ConnectionTestShowsAPageWithoutTheProductName) {
  LoopbackListener peer(ListenerScript{true, false, HttpReplyText(200, "OK", "hello there"), true});
  PointAt("127.0.0.1:" + std::to_string(peer.Port()));
  Form().RefreshFromOptions(true);
  Form().wlDomainClick();
  EXPECT_EQ(Shown(),
            std::vector<std::string>{qovra::GetMsg("msgConnectionError") + "\nhello there"});
  EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconWarning);
}

TEST_F(LoginLinksTest, ServerLinkWithoutServerOpensTheConnectionPage) {
  qovra::Options.Conn.srvaddr.clear();
  qovra::Options.Conn.ServerUrl.clear();
  TfrmLogin& f = Form();
  ui_->on_options = [](int) {
    qovra::Options.Conn.srvaddr = "example.org";
    qovra::Options.Conn.ServerUrl = "http://example.org/qovra4/";
    return qovra::kOptionsApplied;
  };
  f.wlDomainClick();
  ASSERT_EQ(ui_->options_calls.size(), 1u);
  EXPECT_EQ(ui_->options_calls[0].page, 1);
  EXPECT_EQ(f.wlDomain->Caption(), QStringLiteral("@example.org"));
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(LoginLinksTest, SettingsLinkPagesFollowTheOfflineBox) {
  TfrmLogin& f = Form();
  ui_->options_answers = {qovra::kOptionsCancelled, qovra::kOptionsApplied};
  f.wlSettingsClick();
  f.chkOfflineWork->setChecked(true);
  f.chkOfflineWorkClick();
  qovra::Options.Conn.srvaddr = "changed.example";
  f.wlSettingsClick();
  ASSERT_EQ(ui_->options_calls.size(), 2u);
  EXPECT_EQ(ui_->options_calls[0].page, 7) << "-1: connection, keys and interface";
  EXPECT_EQ(ui_->options_calls[1].page, 6) << "-2: keys and interface";
  EXPECT_EQ(f.wlDomain->Caption(), QStringLiteral("@changed.example"));
  EXPECT_TRUE(f.eLogin->isReadOnly());
  EXPECT_FALSE(f.wlRegister->isEnabled());
  EXPECT_FALSE(f.wlDomain->isEnabled());
  EXPECT_EQ(f.ePassword->PlaceHolder().toStdString(), qovra::GetMsg("msgOfflinePassword"));
  f.chkOfflineWork->setChecked(false);
  f.chkOfflineWorkClick();
  EXPECT_FALSE(f.eLogin->isReadOnly());
  EXPECT_TRUE(f.wlRegister->isEnabled());
  EXPECT_EQ(f.ePassword->PlaceHolder().toStdString(), qovra::GetMsg("msgPassword"));
}

// Whether edit shows its placeholder whole, measured the way QLineEdit
// paints it: the style's contents rectangle less the edit's margins.
bool ShowsPlaceholderWhole(QLineEdit* edit) {
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
  option.state |= QStyle::State_Sunken;
  const QRect contents = edit->style()
                             ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                             .marginsRemoved(edit->textMargins());
  const QFontMetrics fm = edit->fontMetrics();
  constexpr int kLineEditMargin = 2;  // QLineEdit's own, each side
  const int room = contents.width() - 2 * kLineEditMargin - std::max(0, -fm.minLeftBearing());
  return fm.elidedText(edit->placeholderText(), Qt::ElideRight, room) == edit->placeholderText();
}

// The password field's placeholder follows a language chosen in the
// settings; in either language, each of its placeholders (online, offline
// with key files, offline with the key device) shows whole.
TEST_F(LoginLinksTest, PasswordPlaceholdersFollowTheLanguageAndShowWhole) {
  const std::string saved_program_dir = qovra::ProgramDir;
  qovra::ProgramDir = std::string(QOVRA_BIN_DIR) + "/";
  qovra::ClearLanguageCache();
  qovra::ApplyLanguageMessages();
  TfrmLogin& f = Form();
  EXPECT_EQ(f.ePassword->PlaceHolder(), QStringLiteral("Пароль"));
  // Uzbek, chosen in the settings dialog.
  ui_->on_options = [](int) {
    qovra::Options.langid = 0;
    return qovra::kOptionsApplied;
  };
  QTest::mouseClick(f.wlSettings, Qt::LeftButton);
  ASSERT_EQ(ui_->options_calls.size(), 1u);
  EXPECT_EQ(f.ePassword->PlaceHolder(), QStringLiteral("Парол"));
  EXPECT_EQ(f.ePassword->toolTip(), QStringLiteral("Парол"));

  struct Row {
    int langid;
    uint8_t keyssrc;
    bool offline;
    const char* key;
  };
  const Row rows[] = {
      {0, 0, false, "msgPassword"},       {0, 0, true, "msgOfflinePassword"},
      {0, 1, true, "msgMurvexPassword"},  {1, 0, false, "msgPassword"},
      {1, 0, true, "msgOfflinePassword"}, {1, 1, true, "msgMurvexPassword"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.key) + " in language " + std::to_string(r.langid));
    qovra::Options.langid = r.langid;
    qovra::Options.Keys.keyssrc = r.keyssrc;
    qovra::ApplyLanguageMessages();
    form_.reset();
    TfrmLogin& login = Form();
    if (r.offline) {
      QTest::mouseClick(login.chkOfflineWork, Qt::LeftButton, {},
                        QPoint(8, login.chkOfflineWork->height() / 2));
    }
    ASSERT_EQ(login.chkOfflineWork->isChecked(), r.offline);
    QApplication::processEvents();  // the window takes its new size
    EXPECT_EQ(login.ePassword->PlaceHolder().toStdString(), qovra::GetMsg(r.key));
    EXPECT_TRUE(ShowsPlaceholderWhole(login.ePassword))
        << login.ePassword->PlaceHolder().toStdString() << " in " << login.ePassword->width();
  }
  qovra::ProgramDir = saved_program_dir;
  qovra::ClearLanguageCache();
}

TEST_F(LoginLinksTest, OfflineRecoveryLinkExplainsTheOfflinePassword) {
  TfrmLogin& f = Form();
  f.chkOfflineWork->setChecked(true);
  f.chkOfflineWorkClick();
  f.wlForgetPasswordClick();
  ASSERT_EQ(ui_->messages.size(), 1u);
  EXPECT_EQ(ui_->messages[0].text, qovra::GetMsg("msgOfflinePasswordRecovery"));
  EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconInformation);
}

TEST_F(LoginLinksTest, AccountLinksStopWhenTheServerSettingsAreCancelled) {
  qovra::Options.Conn.srvaddr.clear();
  qovra::Options.Conn.ServerUrl.clear();
  TfrmLogin& f = Form();
  ui_->on_options = [](int) { return false; };
  f.wlRegisterClick();
  f.wlForgetPasswordClick();
  EXPECT_EQ(ui_->options_calls.size(), 2u);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(LoginLinksTest, LogoStartsTheCertificateViewerWithoutAShell) {
  // A stand-in viewer in the program folder that records its arguments.
  const std::string prog = dir_.File("prog") + "/";
  std::filesystem::create_directories(prog);
  const std::string args = dir_.File("viewer-args");
  {
    std::ofstream viewer(prog + "jorvik");
    viewer << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << args << "'\n";
  }
  std::filesystem::permissions(prog + "jorvik", std::filesystem::perms::owner_all);
  qovra::InitAppSettings(prog + "qovra", SettingsPaths());
  const std::string cert = dir_.File("my cert $(x).cer");
  std::filesystem::copy_file(pki_->CertPath(kAlice), cert);
  qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(cert);
  qovra::TRunThreadList programs("true");
  qovra::RunThreadList = &programs;

  TfrmLogin& f = Form();
  f.imgLogoClick();
  ASSERT_EQ(programs.Count(), 1u);
  const std::string expected = "/h" + std::to_string(f.winId()) + "\n/l" +
                               std::to_string(qovra::Options.langid) + "\n" + cert + "\n";
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return qovra::testing::ScratchDir::Read(args) == expected; }, 5000))
      << qovra::testing::ScratchDir::Read(args);
  programs.EndAll();
  qovra::RunThreadList = nullptr;
  EXPECT_TRUE(ui_->messages.empty());

  const struct {
    std::u16string path;
    const char* key;
  } faults[] = {{u"", "msgCertificatePathNotSpecified"},
                {qovra::Utf8ToUtf16(dir_.File("missing.cer")), "msgCertificatePathNotExists"}};
  for (const auto& r : faults) {
    ui_->messages.clear();
    qovra::Options.Keys.crtpath = r.path;
    f.imgLogoClick();
    EXPECT_EQ(Shown(), std::vector<std::string>{qovra::GetMsg(r.key)});
    EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconWarning);
  }
}

TEST_F(LoginLinksTest, LoginFieldSwitchesTheKeyboardWhenEntered) {
  TfrmLogin& f = Form();
  f.activateWindow();
  f.ePassword->setFocus();
  const int before = layout_switches_;
  f.eLogin->setFocus();
  EXPECT_TRUE(QTest::qWaitFor([&] { return layout_switches_ == before + 1; }, 1000));
}

TEST(UsKeyboard, GroupOfTheUsLayout) {
  const struct {
    const char* symbols;
    int group;  // -1: none
  } rows[] = {
      {"pc+us+inet(evdev)", 0},
      {"pc+ru+us:2+inet(evdev)+group(alt_shift_toggle)", 1},
      {"pc+uz(cyrillic)+ru:2+us(intl):3+inet(evdev)", 2},
      {"pc+ru+inet(evdev)", -1},
      {"pc+ru+usa:2", -1},
      {"", -1},
      {"pc+de+inet(evdev)+us", -1},  // an unnumbered part after the first layout is no group
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.symbols);
    const std::optional<int> group = qovra::account::UsGroupFromSymbols(r.symbols);
    EXPECT_EQ(group.value_or(-1), r.group);
  }
  // Not an X11 display here: nothing is switched.
  EXPECT_FALSE(qovra::account::SwitchToUsKeyboardLayout());
}

}  // namespace
}  // namespace qovra_test
