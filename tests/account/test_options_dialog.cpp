// The settings dialog and its pages, offscreen, with a real settings file:
// every binding round-trips through the file, the page masks of both
// callers, the rules of single fields, and the mail-folder question.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/utf.h"
#include "mail/startup.h"
#include "net/server_request.h"
#include "platform/temp_files.h"
#include "qovra/account/options_dialog.h"
#include "qovra/account/options_pages.h"
#include "qovra/account/settings_dialog_ui.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/button_edit.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/shell.h"
#include "qovra/ui/testing/fake_audio_backend.h"
#include "qovra/ui/widgets.h"
#include "seam/fake_ui.h"
#include "settings/settings.h"
#include "support/program_language.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using qovra::Options;
using namespace qovra::account;

// A click on a check box or radio button where the user clicks it: its
// indicator (the middle of a wide button is outside its hit area).
void Click(QAbstractButton* button) {
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

class OptionsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qovra::TSettingsPaths paths{dir_.File("qovra.xml"), "", true};
    qovra::InitAppSettings(dir_.File("qovra"), paths);
    qovra::ProgramDir = std::string(QOVRA_BIN_DIR) + "/";
    Options.langid = 1;
    qovra::Session.Clear();
    OptionsPageMask = kAllOptionPages;
  }
  void TearDown() override {
    dialog_.reset();
    qovra::ui::HideBalloon();
    qovra::TearDownUserData();
    qovra::SetTempFolder("");
    qovra::Session.Clear();
    OptionsPageMask = kAllOptionPages;
  }

 public:
  // A shown dialog with the pages of mask.
  TfrmOptions& Dialog(uint16_t mask = kAllOptionPages) {
    OptionsPageMask = mask;
    dialog_ = std::make_unique<TfrmOptions>();
    OptionsPageMask = kAllOptionPages;
    dialog_->show();
    return *dialog_;
  }
  // The page, made the visible one as a click on its list item does.
  template <typename Page>
  Page& P(int page) {
    auto* p = dynamic_cast<Page*>(dialog_->FindPage(page));
    EXPECT_NE(p, nullptr);
    for (int i = 0; i < dialog_->lbMenu->count(); ++i)
      if (dialog_->lbMenu->item(i)->data(Qt::UserRole).toInt() == page)
        dialog_->lbMenu->setCurrentRow(i);
    QApplication::processEvents();  // lays the page out
    return *p;
  }
  TfrmOptConnection& Conn() { return P<TfrmOptConnection>(kPageConnection); }
  TfrmOptKeys& Keys() { return P<TfrmOptKeys>(kPageKeys); }
  TfrmOptInterface& Iface() { return P<TfrmOptInterface>(kPageInterface); }
  TfrmOptFolders& Folders() { return P<TfrmOptFolders>(kPageFolders); }
  TfrmOptMailParameters& Mail() { return P<TfrmOptMailParameters>(kPageMail); }

  // Options written to the file and read back, as the program starts.
  static void ThroughTheFile() {
    ASSERT_TRUE(qovra::SaveOptions());
    Options = qovra::TOptions{};
    qovra::LoadOptions();
  }

  std::vector<int> ShownPages() const {
    std::vector<int> pages;
    for (int i = 0; i < dialog_->lbMenu->count(); ++i)
      pages.push_back(dialog_->lbMenu->item(i)->data(Qt::UserRole).toInt());
    return pages;
  }

 protected:
  qovra::testing::ScopedProgramLanguage language_{std::string(QOVRA_BIN_DIR) + "/", 1};
  qovra::testing::ScopedFakeUi ui_;
  qovra::testing::ScratchDir dir_;
  std::unique_ptr<TfrmOptions> dialog_;
};

// One binding of a control to a settings field.
struct Binding {
  const char* name;
  std::function<void(qovra::TOptions&)> stored;        // the value in the file
  std::function<void(OptionsDialogTest&)> edit;        // checks what is shown, then changes it
  std::function<void(const qovra::TOptions&)> result;  // read back from the file
};

TEST_F(OptionsDialogTest, EveryBindingRoundTripsThroughTheSettingsFile) {
  using T = OptionsDialogTest;
  const Binding rows[] = {
      {"srvaddr", [](auto& o) { o.Conn.srvaddr = "old.example:81"; },
       [](T& t) {
         EXPECT_EQ(t.Conn().eServerAddress->text(), QStringLiteral("old.example:81"));
         EXPECT_FALSE(t.Conn().eServerAddress->isReadOnly());
         t.Conn().eServerAddress->setText(QStringLiteral("new.example:82"));
       },
       [](const auto& o) {
         EXPECT_EQ(o.Conn.srvaddr, "new.example:82");
         EXPECT_EQ(o.Conn.ServerUrl, "http://new.example:82/qovra4/");
       }},
      {"useiewc 0 to 2", [](auto& o) { o.Conn.useiewc = 0; },
       [](T& t) {
         EXPECT_TRUE(t.Conn().rbIDClient->isChecked());
         EXPECT_FALSE(t.Conn().rbCURLClient->isVisible());
         Click(t.Conn().rbIEClient);
       },
       [](const auto& o) { EXPECT_EQ(o.Conn.useiewc, 2); }},
      {"useiewc 2 to 0", [](auto& o) { o.Conn.useiewc = 2; },
       [](T& t) {
         EXPECT_TRUE(t.Conn().rbIEClient->isChecked());
         Click(t.Conn().rbIDClient);
       },
       [](const auto& o) { EXPECT_EQ(o.Conn.useiewc, 0); }},
      {"useprxy, prxaddr, prxport", [](auto& o) { o.Conn.useprxy = 0; },
       [](T& t) {
         EXPECT_FALSE(t.Conn().gbProxy->isChecked());
         EXPECT_FALSE(t.Conn().eProxyAddress->isEnabled());
         Click(t.Conn().gbProxy);
         EXPECT_TRUE(t.Conn().eProxyAddress->isEnabled());
         EXPECT_FALSE(t.Conn().eProxyUserName->isEnabled()) << "no authentication yet";
         t.Conn().eProxyAddress->setText(QStringLiteral("proxy.lan"));
         t.Conn().eProxyPort->setText(QStringLiteral("3128"));
       },
       [](const auto& o) {
         EXPECT_EQ(o.Conn.useprxy, 1);
         EXPECT_EQ(o.Conn.prxaddr.str(), "proxy.lan");
         EXPECT_EQ(o.Conn.prxport, 3128);
       }},
      {"prxauth, prxuser, prxpass",
       [](auto& o) {
         o.Conn.useprxy = 1;
         o.Conn.prxaddr = "proxy.lan";
         o.Conn.prxport = 8081;
       },
       [](T& t) {
         EXPECT_EQ(t.Conn().eProxyPort->text(), QStringLiteral("8081"));
         EXPECT_FALSE(t.Conn().chkProxyAuth->isChecked());
         Click(t.Conn().chkProxyAuth);
         EXPECT_TRUE(t.Conn().eProxyUserName->isEnabled());
         t.Conn().eProxyUserName->setText(QStringLiteral("u&<ser"));
         t.Conn().eProxyPassword->setText(QStringLiteral("p&<\"ss"));
       },
       [](const auto& o) {
         EXPECT_EQ(o.Conn.prxauth, 1);
         EXPECT_EQ(o.Conn.prxuser.str(), "u&<ser");
         EXPECT_EQ(o.Conn.prxpass.str(), "p&<\"ss");
       }},
      {"keyssrc 0 to 1", [](auto& o) { o.Keys.keyssrc = 0; },
       [](T& t) {
         EXPECT_TRUE(t.Keys().rbKeysFromFileSystem->isChecked());
         Click(t.Keys().rbKeysFromMurvex);
         EXPECT_FALSE(t.Keys().rbKeysFromFileSystem->isChecked()) << "kept exclusive";
         EXPECT_FALSE(t.Keys().pnlKeyPaths->isEnabled());
       },
       [](const auto& o) { EXPECT_EQ(o.Keys.keyssrc, 1); }},
      {"keyssrc 1 to 0", [](auto& o) { o.Keys.keyssrc = 1; },
       [](T& t) {
         EXPECT_TRUE(t.Keys().rbKeysFromMurvex->isChecked());
         Click(t.Keys().rbKeysFromFileSystem);
         EXPECT_TRUE(t.Keys().pnlKeyPaths->isEnabled());
       },
       [](const auto& o) { EXPECT_EQ(o.Keys.keyssrc, 0); }},
      {"crtpath, pvkpath",
       [](auto& o) {
         o.Keys.crtpath = u"/k/a.cer";
         o.Keys.pvkpath = u"/k/other.prk";
       },
       [](T& t) {
         EXPECT_EQ(t.Keys().beCER->text(), QStringLiteral("/k/a.cer"));
         EXPECT_EQ(t.Keys().bePRK->text(), QStringLiteral("/k/other.prk"));
         t.Keys().beCER->setText(QStringLiteral("/k/b.CER"));
         EXPECT_EQ(t.Keys().bePRK->text(), QStringLiteral("/k/b.prk")) << "follows the certificate";
         t.Keys().bePRK->setText(QStringLiteral("/k/c.prk"));
       },
       [](const auto& o) {
         EXPECT_EQ(o.Keys.crtpath, u"/k/b.CER");
         EXPECT_EQ(o.Keys.pvkpath, u"/k/c.prk");
       }},
      {"langid", [](auto& o) { o.langid = 1; },
       [](T& t) {
         EXPECT_EQ(t.Iface().cbLanguage->count(), 2);
         EXPECT_EQ(t.Iface().cbLanguage->currentIndex(), 1);
         t.Iface().cbLanguage->setCurrentIndex(0);
       },
       [](const auto& o) { EXPECT_EQ(o.langid, 0); }},
      {"traymin", [](auto& o) { o.Other.traymin = 0; },
       [](T& t) {
         EXPECT_FALSE(t.Iface().chkMinimizeToTray->isChecked());
         t.Iface().chkMinimizeToTray->setChecked(true);
       },
       [](const auto& o) { EXPECT_EQ(o.Other.traymin, 1); }},
      {"maildir (nobody logged in)", [](auto& o) { o.Folders.maildir = u"/m/one"; },
       [](T& t) {
         EXPECT_EQ(t.Folders().eMailDirectory->text(), QStringLiteral("/m/one"));
         t.Folders().eMailDirectory->setText(QStringLiteral("/m/two"));
       },
       [](const auto& o) { EXPECT_EQ(o.Folders.maildir, u"/m/two"); }},
      {"sendmode", [](auto& o) { o.Mail.sendmode = 0; },
       [](T& t) {
         EXPECT_EQ(t.Mail().cbSendingMode->count(), 2);
         EXPECT_EQ(t.Mail().cbSendingMode->currentIndex(), 0);
         t.Mail().cbSendingMode->setCurrentIndex(1);
       },
       [](const auto& o) { EXPECT_EQ(o.Mail.sendmode, 1); }},
      {"reffreq", [](auto& o) { o.Mail.reffreq = 600; },
       [](T& t) {
         EXPECT_EQ(t.Mail().cbRefresh->currentText().toStdString(), qovra::GetMsg("msgFreq10"));
         t.Mail().cbRefresh->setCurrentIndex(5);
       },
       [](const auto& o) { EXPECT_EQ(o.Mail.reffreq, 3600); }},
      {"playsnd, sndpath",
       [](auto& o) {
         o.Mail.reffreq = 300;
         o.Mail.sndpath = u"/s/a.wav";
       },
       [](T& t) {
         EXPECT_FALSE(t.Mail().chkPlaySound->isChecked());
         EXPECT_FALSE(t.Mail().pnlSoundFile->isEnabled());
         EXPECT_EQ(t.Mail().eSoundFile->text(), QStringLiteral("/s/a.wav"));
         Click(t.Mail().chkPlaySound);
         EXPECT_TRUE(t.Mail().pnlSoundFile->isEnabled());
         t.Mail().eSoundFile->setText(QStringLiteral("/s/b ü.wav"));
       },
       [](const auto& o) {
         EXPECT_EQ(o.Mail.playsnd, 1);
         EXPECT_EQ(o.Mail.sndpath, u"/s/b ü.wav");
       }},
      {"showgrp", [](auto& o) { o.Mail.showgrp = 1; },
       [](T& t) {
         EXPECT_TRUE(t.Mail().chkDefaultShowGroups->isChecked());
         t.Mail().chkDefaultShowGroups->setChecked(false);
       },
       [](const auto& o) { EXPECT_EQ(o.Mail.showgrp, 0); }},
      {"sdownld", [](auto& o) { o.Mail.sdownld = 0; },
       [](T& t) {
         EXPECT_FALSE(t.Mail().chkDownloadOnEnter->isChecked());
         t.Mail().chkDownloadOnEnter->setChecked(true);
       },
       [](const auto& o) { EXPECT_EQ(o.Mail.sdownld, 1); }},
  };
  for (const Binding& row : rows) {
    SCOPED_TRACE(row.name);
    Options = qovra::TOptions{};
    Options.langid = 1;
    Options.Conn.useiewc = 1;
    row.stored(Options);
    ThroughTheFile();
    Dialog();
    // Every page is shown once, as the user clicks through them.
    for (int i = 0; i < dialog_->lbMenu->count(); ++i) dialog_->lbMenu->setCurrentRow(i);
    row.edit(*this);
    dialog_->btnOKClick();
    EXPECT_EQ(dialog_->result(), qovra::kOptionsApplied);
    ThroughTheFile();
    row.result(Options);
  }
}

TEST_F(OptionsDialogTest, StoredClientKindsOutsideTheChoicesAreSavedAsZero) {
  Options.Conn.useiewc = 1;
  Dialog();
  EXPECT_TRUE(Conn().rbIDClient->isChecked());
  dialog_->btnOKClick();
  EXPECT_EQ(Options.Conn.useiewc, 0);

  Options.Conn.useiewc = 5;
  Dialog();
  EXPECT_FALSE(Conn().rbIDClient->isChecked());
  EXPECT_FALSE(Conn().rbIEClient->isChecked());
  dialog_->btnOKClick();
  EXPECT_EQ(Options.Conn.useiewc, 0);
}

// A stored receive period the list does not offer (the demo's 20 seconds)
// is an entry of its own, in order among the others, and OK keeps it
// unless the user picks another.
TEST_F(OptionsDialogTest, AReceivePeriodOutsideTheListIsKept) {
  struct Row {
    const char* name;
    int32_t stored;
    int shown_at;  // its place in the list
    int pick;      // the entry the user picks; -1 for none
    int32_t saved;
  };
  const Row rows[] = {
      {"20 seconds, untouched", 20, 1, -1, 20},
      {"2 hours, after the last", 7200, 6, -1, 7200},
      {"42 seconds, then 5 minutes picked", 42, 1, 2, 300},
      {"20 seconds, then off", 20, 1, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Options = qovra::TOptions{};
    Options.langid = 1;
    Options.Mail.reffreq = r.stored;
    ThroughTheFile();
    Dialog();
    QComboBox* periods = Mail().cbRefresh;
    const std::string own = qovra::FormatMsgArgs(qovra::GetMsg("msgFreqSeconds"), r.stored);
    ASSERT_EQ(periods->count(), 7);
    EXPECT_EQ(periods->currentIndex(), r.shown_at);
    EXPECT_EQ(periods->currentText().toStdString(), own);
    EXPECT_EQ(periods->itemText(0).toStdString(), qovra::GetMsg("msgFreqNotUsed"));
    EXPECT_TRUE(Mail().chkPlaySound->isEnabled()) << "receiving is on";
    // Away to another page and back: the page fills its list again.
    Iface();
    periods = Mail().cbRefresh;
    EXPECT_EQ(periods->count(), 7);
    EXPECT_EQ(periods->currentText().toStdString(), own);
    if (r.pick >= 0) periods->setCurrentIndex(r.pick);
    QTest::mouseClick(dialog_->btnOK, Qt::LeftButton);
    EXPECT_EQ(dialog_->result(), qovra::kOptionsApplied);
    EXPECT_EQ(Options.Mail.reffreq, r.saved);
    ThroughTheFile();
    EXPECT_EQ(Options.Mail.reffreq, r.saved);
  }
}

TEST_F(OptionsDialogTest, PageMasksOfBothCallers) {
  struct Row {
    int mask;
    std::vector<int> pages;
  };
  const Row rows[] = {
      {7, {0, 1, 2}},         // login window: -1
      {6, {1, 2}},            // login window offline: -2
      {1, {0}},               // the server link
      {-1, {0, 1, 2, 3, 4}},  // main window
      {-4, {2, 3, 4}},        // main window online
  };
  for (const Row& r : rows) {
    Dialog(static_cast<uint16_t>(r.mask));
    EXPECT_EQ(ShownPages(), r.pages) << r.mask;
    EXPECT_EQ(dialog_->CurrentPage(), 0);
    EXPECT_TRUE(dialog_->Pages()[0]->isVisible());
    // Captions and hints of the caption labels, from the language file.
    const QLabel* label = dialog_->findChild<QLabel*>(QStringList{
        "tabConnection", "tabKeys", "tabInterface", "tabFolders", "tabMail"}[r.pages[0]]);
    EXPECT_FALSE(label->text().isEmpty());
    EXPECT_EQ(dialog_->lbMenu->item(0)->text(), label->text());
    EXPECT_EQ(dialog_->lblTitle->text(), QStringLiteral("   ") + label->toolTip());
  }
  // Clicking through the list shows one page at a time.
  Dialog();
  dialog_->lbMenu->setCurrentRow(3);
  EXPECT_EQ(dialog_->CurrentPage(), 3);
  EXPECT_TRUE(dialog_->FindPage(kPageFolders)->isVisible());
  EXPECT_FALSE(dialog_->FindPage(kPageConnection)->isVisible());
}

TEST_F(OptionsDialogTest, TheSeamRunsTheDialogWithTheMaskAndPutsItBack) {
  std::vector<int> pages;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    for (int i = 0; i < d->lbMenu->count(); ++i)
      pages.push_back(d->lbMenu->item(i)->data(Qt::UserRole).toInt());
    QTest::keyClick(d, Qt::Key_Escape);
  });
  EXPECT_EQ(SettingsDialogWindowUi().ShowOptions(nullptr, 6), qovra::kOptionsCancelled);
  EXPECT_EQ(pages, (std::vector<int>{1, 2}));
  EXPECT_EQ(OptionsPageMask, kAllOptionPages);
}

TEST_F(OptionsDialogTest, OkForgetsTheSessionKeyAndCancelChangesNothing) {
  Options.Conn.srvaddr = "host.example";
  qovra::HandshakeDone = true;
  Dialog();
  Conn().eServerAddress->setText(QStringLiteral("other.example"));
  QTest::mouseClick(dialog_->btnCancel, Qt::LeftButton);
  EXPECT_EQ(dialog_->result(), qovra::kOptionsCancelled);
  EXPECT_EQ(Options.Conn.srvaddr, "host.example");
  EXPECT_TRUE(qovra::HandshakeDone);

  Dialog();
  QTest::mouseClick(dialog_->btnOK, Qt::LeftButton);
  EXPECT_EQ(dialog_->result(), qovra::kOptionsApplied);
  EXPECT_FALSE(qovra::HandshakeDone) << "also without any change";
}

// The receive timer: off without a shown main window or without a period;
// on when the period changed while the main window is shown.
TEST_F(OptionsDialogTest, ReceiveTimerRules) {
  struct Row {
    bool main_window;
    int stored, chosen_index;  // -1: the period left as it is
    bool expected;
  };
  const Row rows[] = {
      {false, 600, 5, false},  // the login window's dialog
      {true, 600, 5, true},    // changed: 3600
      {true, 600, 0, false},   // turned off
      {true, 600, 2, true},    // unchanged: left running
      {true, 20, -1, true},    // a period of its own, untouched: left running
  };
  for (const Row& r : rows) {
    QWidget main;
    main.setObjectName(QStringLiteral("frmMain"));
    if (r.main_window) main.show();
    ui_->timer_enabled = true;
    Options.Mail.reffreq = r.stored;
    Dialog();
    if (r.chosen_index >= 0) Mail().cbRefresh->setCurrentIndex(r.chosen_index);
    dialog_->btnOKClick();
    EXPECT_EQ(ui_->timer_enabled, r.expected)
        << r.main_window << " " << r.stored << " " << r.chosen_index;
  }
}

TEST_F(OptionsDialogTest, ServerAddressAfterLogin) {
  for (const int state : {1, 2}) {
    qovra::Session.State = static_cast<uint8_t>(state);
    Options.Conn.srvaddr = "host.example:8080";
    Options.Conn.ServerUrl = "stale";
    Dialog();
    EXPECT_TRUE(Conn().eServerAddress->isReadOnly()) << state;
    EXPECT_EQ(Conn().eServerAddress->CharErrorText().toStdString(),
              qovra::GetMsg("msgFieldLockedAfterLogin"));
    dialog_->btnOKClick();
    EXPECT_EQ(Options.Conn.srvaddr, "host.example:8080") << state;
    // Online nothing is saved; offline the text is saved with its URL.
    EXPECT_EQ(Options.Conn.ServerUrl, state == 1 ? "stale" : "http://host.example:8080/qovra4/");
  }
}

TEST_F(OptionsDialogTest, ProxyPortMustBeAPortWhileTheProxyIsOn) {
  Options.Conn.useprxy = 1;
  Options.Conn.prxaddr = "proxy.lan";
  for (const char* port : {"0", "65536", ""}) {
    Dialog();
    dialog_->lbMenu->setCurrentRow(2);
    Conn().eProxyPort->setText(QString::fromLatin1(port));
    dialog_->btnOKClick();
    EXPECT_TRUE(dialog_->isVisible()) << port;
    EXPECT_EQ(dialog_->CurrentPage(), 0) << port;
    const auto balloon = qovra::ui::CurrentBalloon();
    ASSERT_TRUE(balloon.has_value()) << port;
    EXPECT_EQ(balloon->field, Conn().eProxyPort);
    EXPECT_EQ(balloon->text.toStdString(), qovra::GetMsg("msgProxyPortInvalid"));
    // Without the proxy the port is not asked for.
    Click(Conn().gbProxy);
    dialog_->btnOKClick();
    EXPECT_EQ(dialog_->result(), qovra::kOptionsApplied) << port;
    EXPECT_EQ(Options.Conn.prxport, 0) << port;
    Options.Conn.useprxy = 1;
  }
  Dialog();
  Conn().eProxyPort->setText(QStringLiteral("65535"));
  dialog_->btnOKClick();
  EXPECT_EQ(Options.Conn.prxport, 65535);
}

TEST_F(OptionsDialogTest, FindProxyReadsTheDesktopProxy) {
  qovra::testing::ScopedEnv all("all_proxy", std::nullopt);
  qovra::testing::ScopedEnv upper("HTTP_PROXY", std::nullopt);
  {
    qovra::testing::ScopedEnv none("http_proxy", std::nullopt);
    Dialog();
    Conn().btnFindProxyClick();
    EXPECT_FALSE(Conn().gbProxy->isChecked()) << "not found: nothing changes";
    EXPECT_EQ(Conn().eProxyPort->text(), QStringLiteral("0"));
  }
  qovra::testing::ScopedEnv env("http_proxy", "http://user:pw@proxy.example:3128/");
  Conn().btnFindProxyClick();
  EXPECT_TRUE(Conn().gbProxy->isChecked());
  EXPECT_TRUE(Conn().eProxyAddress->isEnabled());
  EXPECT_EQ(Conn().eProxyAddress->text(), QStringLiteral("proxy.example"));
  EXPECT_EQ(Conn().eProxyPort->text(), QStringLiteral("3128"));
}

TEST_F(OptionsDialogTest, KeyPathsStartHiddenAndDroppedFilesFillThem) {
  const std::string prk = dir_.Write("b.PRK", "k");
  const std::string cer = dir_.Write("a.cer", "c");
  const std::string other = dir_.Write("c.txt", "t");
  Dialog();
  dialog_->lbMenu->setCurrentRow(1);
  EXPECT_TRUE(Keys().pnlKeyPaths->isHidden());
  EXPECT_EQ(Keys().btnHideKeyPaths->text().toStdString(), qovra::GetMsg("msgShowKeyPaths"));
  QTest::mouseClick(Keys().btnHideKeyPaths, Qt::LeftButton);
  EXPECT_TRUE(Keys().pnlKeyPaths->isVisible());
  EXPECT_EQ(Keys().btnHideKeyPaths->text().toStdString(), qovra::GetMsg("msgHideKeyPaths"));
  QTest::mouseClick(Keys().btnHideKeyPaths, Qt::LeftButton);

  // A folder and a ".prk" file: only the key path.
  EXPECT_TRUE(
      Keys().TakeDroppedFiles({QString::fromStdString(dir_.path()), QString::fromStdString(prk)}));
  EXPECT_EQ(Keys().beCER->text(), QString());
  EXPECT_EQ(Keys().bePRK->text(), QString::fromStdString(prk));
  EXPECT_TRUE(Keys().pnlKeyPaths->isVisible()) << "shown when something was taken";
  // A certificate fills both; a later key file overrides; a third is ignored.
  EXPECT_TRUE(Keys().TakeDroppedFiles({QString::fromStdString(cer), QString::fromStdString(prk),
                                       QString::fromStdString(cer + "x")}));
  EXPECT_EQ(Keys().beCER->text(), QString::fromStdString(cer));
  EXPECT_EQ(Keys().bePRK->text(), QString::fromStdString(prk));
  EXPECT_FALSE(Keys().TakeDroppedFiles({QString::fromStdString(other)}));
}

TEST_F(OptionsDialogTest, PlayAndStopTheSoundFile) {
  qovra::ui::testing::ScopedFakeAudio audio;
  const QString wav = QString::fromStdString(dir_.Write("ring.wav", "RIFF"));
  Options.Mail.reffreq = 300;
  Options.Mail.playsnd = 1;
  Options.Mail.sndpath = wav.toStdU16String();
  Dialog();
  QTest::mouseClick(Mail().btnPlay, Qt::LeftButton);
  QTest::mouseClick(Mail().btnStop, Qt::LeftButton);
  EXPECT_EQ(audio->played, QStringList{wav});
  EXPECT_EQ(audio->stopped, QStringList{wav});
  // A file that is not there plays nothing.
  Mail().eSoundFile->setText(wav + QStringLiteral(".gone"));
  QTest::mouseClick(Mail().btnPlay, Qt::LeftButton);
  EXPECT_EQ(audio->played.size(), 1);
}

TEST_F(OptionsDialogTest, SoundControlsFollowThePeriod) {
  Options.Mail.reffreq = 0;
  Options.Mail.playsnd = 1;
  Dialog();
  EXPECT_FALSE(Mail().chkPlaySound->isEnabled());
  EXPECT_FALSE(Mail().pnlSoundFile->isEnabled());
  Mail().cbRefresh->setCurrentIndex(1);
  EXPECT_TRUE(Mail().chkPlaySound->isEnabled());
  EXPECT_TRUE(Mail().pnlSoundFile->isEnabled());
}

// The file and folder choosers: the filter of each field, where they
// start, and that a cancelled choice keeps the text.
TEST_F(OptionsDialogTest, ChoosersFillTheirFields) {
  struct Chooser : IOpenFileChooser, qovra::ui::IFolderChooser {
    QString ChooseFile(QWidget*, const QString& filter, const QString& initial_dir) override {
      asked.push_back((filter + QLatin1Char('|') + initial_dir).toStdString());
      return answer;
    }
    QString ChooseFolder(QWidget*, const QString& title, const QString& initial_dir) override {
      asked.push_back((title + QLatin1Char('|') + initial_dir).toStdString());
      return answer;
    }
    std::vector<std::string> asked;
    QString answer;
  } chooser;
  SetOpenFileChooser(&chooser);
  qovra::ui::SetFolderChooser(&chooser);
  Options.Keys.crtpath = u"/k/a.cer";
  Options.Mail.sndpath = u"/s/ring.wav";
  Options.Folders.maildir = u"/m";
  Dialog();
  const QString cer = QString::fromStdString(dir_.Write("b.cer", "c"));
  chooser.answer = cer;
  Keys().beCERButtonClick();
  EXPECT_EQ(Keys().beCER->text(), cer);
  EXPECT_EQ(Keys().bePRK->text(), QString::fromStdString(dir_.File("b.prk")));
  chooser.answer.clear();
  Keys().bePRKButtonClick();
  Mail().eSoundFileButtonClick();
  EXPECT_EQ(Mail().eSoundFile->text(), QStringLiteral("/s/ring.wav"));
  chooser.answer = QString::fromStdString(dir_.path());
  Folders().eMailDirectoryButtonClick();
  EXPECT_EQ(Folders().eMailDirectory->text(), QString::fromStdString(dir_.path()));
  SetOpenFileChooser(nullptr);
  qovra::ui::SetFolderChooser(nullptr);

  const auto msg = [](const char* key) { return qovra::GetMsg(key); };
  EXPECT_EQ(chooser.asked,
            (std::vector<std::string>{msg("msgCertificateFileFilter") + "|/k",
                                      msg("msgPrivateKeyFileFilter") + "|" + dir_.path(),
                                      msg("msgSoundFileFilter") + "|/s",
                                      msg("msgSelectMailDirectory") + "|/m"}));
}

// The mail folder of a logged-in user, with data in it.
class OptionsFolderTest : public OptionsDialogTest {
 protected:
  void SetUp() override {
    OptionsDialogTest::SetUp();
    old_mail_ = dir_.File("old");
    new_mail_ = dir_.File("new");
    fs::create_directories(old_mail_);
    qovra::Session.State = 1;
    qovra::Session.OwnContact.Email = kAddress;
    Options.Folders.maildir = qovra::Utf8ToUtf16(old_mail_);
    ASSERT_TRUE(qovra::MakeUserFolders(old_mail_, kAddress));
    ASSERT_TRUE(qovra::OpenUserDatabases(qovra::ProgramDir));
  }
  static constexpr char kAddress[] = "alice@127.0.0.1";
  std::string old_mail_, new_mail_;
};

TEST_F(OptionsFolderTest, CancelAtTheQuestionKeepsTheDialogOpenOnTheFolder) {
  Dialog();
  Iface().chkMinimizeToTray->setChecked(true);
  Folders().eMailDirectory->setText(QString::fromStdString(new_mail_));
  ui_->QueueAnswer(qovra::kMsgResultCancel);
  dialog_->btnOKClick();
  EXPECT_EQ(ui_->ShownTexts(), std::vector<std::string>{qovra::GetMsg("msgMailDirectoryChanged")});
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(dialog_->CurrentPage(), 3);
  EXPECT_TRUE(Folders().isVisible());
  EXPECT_EQ(Folders().eMailDirectory->selectedText(), QString::fromStdString(new_mail_));
  EXPECT_EQ(Options.Folders.maildir, qovra::Utf8ToUtf16(old_mail_));
  EXPECT_EQ(Options.Other.traymin, 0) << "nothing applied";
  EXPECT_FALSE(fs::exists(new_mail_));
}

TEST_F(OptionsFolderTest, UsingDataThatIsThereGivesEight) {
  const std::string new_dir = new_mail_ + "/" + kAddress + "/";
  fs::create_directories(new_dir);
  fs::copy_file(qovra::ProgramDir + "ecm.edb", new_dir + "ecm.edb");
  Dialog();
  Folders().eMailDirectory->setText(QString::fromStdString(new_mail_));
  ui_->QueueAnswer(qovra::kMsgResultYes);
  ui_->QueueAnswer(qovra::kMsgResultYes);
  dialog_->btnOKClick();
  EXPECT_EQ(dialog_->result(), qovra::kOptionsExistingData);
  EXPECT_EQ(Options.Folders.maildir, qovra::Utf8ToUtf16(new_mail_));
  EXPECT_EQ(qovra::UserDir, new_dir);
  EXPECT_TRUE(fs::exists(new_dir + "eca.edb"));
}

TEST_F(OptionsFolderTest, AFolderInsideTheUserFolderKeepsTheDialogOpenOnTheFolder) {
  const std::string inside = old_mail_ + "/" + kAddress + "/messages";
  Dialog();
  Iface().chkMinimizeToTray->setChecked(true);
  Folders().eMailDirectory->setText(QString::fromStdString(inside));
  QTest::mouseClick(dialog_->btnOK, Qt::LeftButton);
  EXPECT_EQ(ui_->ShownTexts(),
            std::vector<std::string>{qovra::GetMsg("msgMailDirectoryInsideUserFolder") + "\n" +
                                     inside + "/" + kAddress + "/"});
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(dialog_->result(), 0);
  EXPECT_TRUE(Folders().isVisible());
  EXPECT_EQ(Folders().eMailDirectory->selectedText(), QString::fromStdString(inside));
  EXPECT_EQ(Options.Folders.maildir, qovra::Utf8ToUtf16(old_mail_));
  EXPECT_EQ(Options.Other.traymin, 0) << "nothing applied";
  EXPECT_FALSE(fs::exists(inside + "/" + kAddress));
}

// While the mail data is copied, the progress window shows over the
// dialog and the dialog is painted when it needs it.
TEST_F(OptionsFolderTest, TheCopyShowsProgressAndKeepsTheDialogPainted) {
  for (int i = 0; i < 40; ++i)
    dir_.Write("old/" + std::string(kAddress) + "/messages/" + std::to_string(i) + ".emz",
               std::string(32 * 1024, 'm'));
  Dialog();
  Folders().eMailDirectory->setText(QString::fromStdString(new_mail_));
  // Paints that arrive while the progress window is up.
  struct PaintWatch : QObject {
    explicit PaintWatch(const qovra::testing::FakeUi& ui) : ui_(ui) {}
    bool eventFilter(QObject*, QEvent* event) override {
      using Kind = qovra::testing::ProgressEvent::Kind;
      if (event->type() == QEvent::Paint && !ui_.progress.empty() &&
          ui_.progress.back().kind != Kind::Hide)
        ++paints;
      return false;
    }
    const qovra::testing::FakeUi& ui_;
    int paints = 0;
  } watch(*ui_);
  dialog_->installEventFilter(&watch);
  // The question covered the dialog: it needs painting when it goes.
  ui_->on_message = [this](const std::string&) { dialog_->update(); };
  ui_->QueueAnswer(qovra::kMsgResultYes);
  QTest::mouseClick(dialog_->btnOK, Qt::LeftButton);
  dialog_->removeEventFilter(&watch);
  EXPECT_EQ(dialog_->result(), qovra::kOptionsApplied);
  EXPECT_EQ(qovra::UserDir, new_mail_ + "/" + kAddress + "/");
  EXPECT_GE(watch.paints, 1) << "painted while the data was copied";

  using Kind = qovra::testing::ProgressEvent::Kind;
  ASSERT_GE(ui_->progress.size(), 3u);
  EXPECT_EQ(ui_->progress.front().kind, Kind::Show);
  EXPECT_EQ(ui_->progress.front().owner, qovra::ui::HandleOf(dialog_.get()));
  EXPECT_EQ(ui_->progress.front().title, qovra::GetMsg("msgMovingMailData"));
  EXPECT_EQ(ui_->progress.back().kind, Kind::Hide);
  EXPECT_EQ(ui_->progress[ui_->progress.size() - 2].done,
            ui_->progress[ui_->progress.size() - 2].total)
      << "the bar ends full";
}

// A copy that fails keeps the old mail folder and applies the rest; the
// message says so.
TEST_F(OptionsFolderTest, AFailedCopyKeepsTheFolderAndAppliesTheRest) {
  const std::string new_dir = new_mail_ + "/" + kAddress + "/";
  fs::create_directories(new_dir);
  dir_.Write("new/" + std::string(kAddress) + "/messages", "in the way");
  Dialog();
  Iface().chkMinimizeToTray->setChecked(true);
  Mail().cbRefresh->setCurrentIndex(3);
  Folders().eMailDirectory->setText(QString::fromStdString(new_mail_));
  ui_->QueueAnswer(qovra::kMsgResultYes);
  QTest::mouseClick(dialog_->btnOK, Qt::LeftButton);
  EXPECT_EQ(dialog_->result(), qovra::kOptionsApplied);
  ASSERT_EQ(ui_->messages.size(), 2u);
  EXPECT_EQ(ui_->messages[1].text,
            qovra::GetMsg("msgMailDataCopyFailed") + "\n" + new_dir + "messages/");
  EXPECT_EQ(Options.Folders.maildir, qovra::Utf8ToUtf16(old_mail_));
  EXPECT_EQ(qovra::UserDir, old_mail_ + "/" + kAddress + "/");
  EXPECT_EQ(Options.Other.traymin, 1);
  EXPECT_EQ(Options.Mail.reffreq, 900);
  EXPECT_FALSE(fs::exists(new_dir + "ecm.edb"));
}

TEST_F(OptionsFolderTest, AFailedMoveSavesTheOldFolder) {
  fs::create_directories(new_mail_);
  dir_.Write("new/" + std::string(kAddress), "a file where the user folder goes");
  Dialog();
  Iface().chkMinimizeToTray->setChecked(true);
  Folders().eMailDirectory->setText(QString::fromStdString(new_mail_));
  ui_->QueueAnswer(qovra::kMsgResultNo);
  dialog_->btnOKClick();
  EXPECT_EQ(dialog_->result(), qovra::kOptionsApplied);
  EXPECT_EQ(Options.Folders.maildir, qovra::Utf8ToUtf16(old_mail_));
  EXPECT_EQ(Options.Other.traymin, 1) << "the other changes apply";
  EXPECT_EQ(qovra::UserDir, old_mail_ + "/" + kAddress + "/");
  EXPECT_TRUE(qovra::MailDb.IsOpen());
}

}  // namespace
