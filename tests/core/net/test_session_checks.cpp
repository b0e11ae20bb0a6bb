// The settings checks, the settings dialog and the login driver.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/msg_format.h"
#include "core/net/session_test_fixture.h"
#include "net/session_setup.h"
#include "settings/settings.h"

namespace {

class SessionChecksTest : public qovra_test::SessionFixture {};

TEST_F(SessionChecksTest, KeyFileChecks) {
  struct Row {
    const char* name;
    std::u16string crt;
    std::u16string pvk;
    const char* key;
  };
  const std::u16string crt = qovra::Utf8ToUtf16(CertFile());
  const std::u16string pvk = qovra::Utf8ToUtf16(KeyFile());
  const std::u16string missing = qovra::Utf8ToUtf16(dir_.File("missing"));
  const std::u16string folder = qovra::Utf8ToUtf16(dir_.path());
  const Row rows[] = {
      {"NoCertificatePath", u"", pvk, "msgCertificatePathNotSpecified"},
      {"NoCertificate", missing, pvk, "msgCertificatePathNotExists"},
      {"CertificateIsAFolder", folder, pvk, "msgCertificatePathNotExists"},
      {"NoKeyPath", crt, u"", "msgPrivateKeyPathNotSpecified"},
      {"NoKeyFile", crt, missing, "msgPrivateKeyNotExists"},
  };
  for (const Row& r : rows) {
    for (bool confirm : {true, false}) {
      ui_->messages.clear();
      ui_->options_calls.clear();
      ui_->options_answers = {confirm ? qovra::kOptionsApplied : qovra::kOptionsCancelled};
      qovra::Options.Keys.crtpath = r.crt;
      qovra::Options.Keys.pvkpath = r.pvk;
      EXPECT_EQ(qovra::CheckKeyFiles(owner_),
                confirm ? qovra::kCheckCorrected : qovra::kCheckCancelled)
          << r.name;
      EXPECT_EQ(Shown(), Only(r.key)) << r.name;
      ASSERT_EQ(ui_->options_calls.size(), 1u) << r.name;
      EXPECT_EQ(ui_->options_calls[0].page, 2) << r.name;
      EXPECT_EQ(ui_->options_calls[0].owner, owner_) << r.name;
    }
  }
  ui_->messages.clear();
  qovra::Options.Keys.crtpath = crt;
  qovra::Options.Keys.pvkpath = pvk;
  EXPECT_EQ(qovra::CheckKeyFiles(owner_), qovra::kCheckOk);
  // Keys from the device are not checked here.
  qovra::Options.Keys.keyssrc = 1;
  qovra::Options.Keys.crtpath.clear();
  EXPECT_EQ(qovra::CheckKeyFiles(owner_), qovra::kCheckOk);
  EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(SessionChecksTest, ServerSettingsChecks) {
  struct Row {
    const char* name;
    std::string srvaddr;
    const char* key;
  };
  const Row rows[] = {{"NoAddress", "", "msgServerURLNotSpecified"},
                      {"BadAddress", "bad host", "msgSpecifiedServerURLInvalid"},
                      {"BadPort", "host:99999", "msgSpecifiedServerURLInvalid"}};
  for (const Row& r : rows) {
    ui_->messages.clear();
    ui_->options_calls.clear();
    qovra::Options.Conn.srvaddr = r.srvaddr;
    qovra::Options.Conn.ServerUrl = "http://" + r.srvaddr + "/qovra4/";
    qovra::TUrlParts parts;
    EXPECT_EQ(qovra::CheckServerSettings(owner_, &parts), qovra::kCheckCancelled) << r.name;
    EXPECT_EQ(Shown(), Only(r.key)) << r.name;
    ASSERT_EQ(ui_->options_calls.size(), 1u) << r.name;
    EXPECT_EQ(ui_->options_calls[0].page, 1) << r.name;
    EXPECT_TRUE(parts.HostName.empty()) << r.name;
  }

  ui_->messages.clear();
  qovra::Options.Conn.srvaddr = "127.0.0.1:8080";
  qovra::Options.Conn.ServerUrl = "http://127.0.0.1:8080/qovra4/";
  qovra::TUrlParts parts;
  EXPECT_EQ(qovra::CheckServerSettings(owner_, &parts), qovra::kCheckOk);
  EXPECT_EQ(parts.HostName, "127.0.0.1");
  EXPECT_EQ(parts.Port, 8080);
  // Then the key files are checked.
  qovra::Options.Keys.pvkpath.clear();
  EXPECT_EQ(qovra::CheckServerSettings(owner_, &parts), qovra::kCheckCancelled);
  EXPECT_EQ(Shown(), Only("msgPrivateKeyPathNotSpecified"));
}

TEST_F(SessionChecksTest, OptionsDialogPagesSavingAndLanguage) {
  qovra::TSettingsPaths paths;
  paths.file = dir_.File("qovra.xml");
  qovra::InitAppSettings(dir_.File("qovra"), paths);
  ASSERT_TRUE(std::filesystem::exists(paths.file));

  for (const auto& [asked, shown] : {std::pair{-2, 6}, {-1, 7}, {1, 1}, {2, 2}}) {
    ui_->options_calls.clear();
    EXPECT_FALSE(qovra::ShowOptionsDialog(owner_, asked));
    ASSERT_EQ(ui_->options_calls.size(), 1u);
    EXPECT_EQ(ui_->options_calls[0].page, shown);
  }

  // Cancelled: the settings file is not written.
  const std::string before = qovra::testing::ScratchDir::Read(paths.file);
  ui_->on_options = [](int) {
    qovra::Options.Conn.srvaddr = "mail.example.org";
    return qovra::kOptionsCancelled;
  };
  qovra::HandshakeDone = true;
  EXPECT_FALSE(qovra::ShowOptionsDialog(owner_, 1));
  EXPECT_EQ(qovra::testing::ScratchDir::Read(paths.file), before);
  EXPECT_TRUE(qovra::HandshakeDone);

  // Confirmed: saved at once, and the session must be made again.
  ui_->on_options = [](int) {
    qovra::Options.Conn.srvaddr = "mail.example.org";
    return qovra::kOptionsApplied;
  };
  qovra::HandshakeDone = true;
  EXPECT_TRUE(qovra::ShowOptionsDialog(owner_, 1));
  EXPECT_FALSE(qovra::HandshakeDone);
  EXPECT_NE(qovra::testing::ScratchDir::Read(paths.file).find("mail.example.org"),
            std::string::npos);
  EXPECT_TRUE(ui_->language_applied.empty());

  // A dialog that switched to the data of another mail folder was confirmed too.
  ui_->on_options = [](int) { return qovra::kOptionsExistingData; };
  qovra::HandshakeDone = true;
  EXPECT_TRUE(qovra::ShowOptionsDialog(owner_, 1));
  EXPECT_FALSE(qovra::HandshakeDone);

  // A changed language is applied to the owner.
  ui_->on_options = [](int) {
    qovra::Options.langid = qovra::Options.langid == 0 ? 1 : 0;
    return qovra::kOptionsApplied;
  };
  EXPECT_TRUE(qovra::ShowOptionsDialog(owner_, 7));
  EXPECT_EQ(ui_->language_applied, std::vector<qovra::TWindowHandle>{owner_});
}

TEST_F(SessionChecksTest, LoginDriver) {
  struct Row {
    bool startup;
    int window_result;
    uint8_t state;
    bool expected;
  };
  const Row rows[] = {{true, 1, 1, true},  {true, 1, 2, true},  {true, 1, 0, false},
                      {true, 2, 1, false}, {false, 1, 1, true}, {false, 1, 2, false},
                      {false, 2, 1, false}};
  qovra::SetMsg("msgPasswordPrompt", "Password of %s:");
  qovra::Options.Other.lastlgn = "alice";
  for (const Row& r : rows) {
    ui_->prompts.clear();
    ui_->login_windows = 0;
    const auto window = [&] {
      qovra::Session.State = r.state;
      return r.window_result;
    };
    ui_->on_login = window;
    ui_->on_reauthenticate = window;
    EXPECT_EQ(qovra::ShowLoginDialog(r.startup), r.expected)
        << r.startup << " " << r.window_result << " " << int{r.state};
    if (r.startup) {
      EXPECT_EQ(ui_->login_windows, 1);
      EXPECT_TRUE(ui_->prompts.empty());
    } else {
      EXPECT_EQ(ui_->login_windows, 0);
      ASSERT_EQ(ui_->prompts.size(), 1u);
      EXPECT_TRUE(ui_->prompts[0].reauthenticate);
      EXPECT_EQ(ui_->prompts[0].prompt, "Password of alice:");
      EXPECT_EQ(ui_->prompts[0].caption, qovra::GetMsg("msgPasswordCaption"));
      EXPECT_EQ(ui_->prompts[0].icon_name, "ico_lock48");
    }
  }
}

TEST_F(SessionChecksTest, NoPromptOverAnOpenLoginWindow) {
  bool nested = true;
  ui_->on_login = [&] {
    nested = qovra::ShowLoginDialog(false);
    qovra::Session.State = 1;
    return 1;
  };
  EXPECT_TRUE(qovra::ShowLoginDialog(true));
  EXPECT_FALSE(nested);
  EXPECT_TRUE(ui_->prompts.empty());
  // Closed again: the prompt opens.
  ui_->reauth_answers = {2};
  EXPECT_FALSE(qovra::ShowLoginDialog(false));
  EXPECT_EQ(ui_->prompts.size(), 1u);
}

}  // namespace
