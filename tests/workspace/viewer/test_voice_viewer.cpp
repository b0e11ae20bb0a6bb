// The voice viewer over voice mails that alice records (fake audio
// backend), compresses with the real qovrasnd and sends to bob, opened from
// bob's list: playing (each Play extracts and decodes anew), the player's
// states, Esc during playback, no device, failed decodes, an administrative
// mail's files wiped on close, the signature details, and saving the
// recording (and, from the text viewer, every attachment) through the main
// window's save command.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <filesystem>
#include <fstream>
#include <optional>

#include "compose_fixture.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/controls/web_link.h"
#include "qovra/workspace/main_actions.h"
#include "qovra/workspace/new_voice_mail.h"
#include "qovra/workspace/sign_details.h"
#include "qovra/workspace/sound_tool.h"
#include "qovra/workspace/view_mail.h"
#include "qovra/workspace/view_voice_mail.h"
#include "store/mail_container_reader.h"
#include "support/file_size_limit.h"
#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;
using qovra::ui::TVoiceEnd;
using qovra_test::kAlice;
using qovra_test::kBob;

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;
void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void Pump() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// Enabled: Play, Pause, Stop.
std::vector<bool> Buttons(const TfrmViewVoiceMail& form) {
  return {form.btnPlay->isEnabled(), form.btnPause->isEnabled(), form.btnStop->isEnabled()};
}

class VoiceViewerTest : public qovra_test::ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    for (const char* key :
         {"msgNoRecordingDevice", "msgNoPlaybackDevice", "msgAudioDeviceError",
          "msgVoiceDecodeFailed", "msgAuthentic", "msgUnauthentic", "msgMailSignContentNotFound",
          "msgSavingAudioRecord", "btnSaveVoiceCaption", "btnSaveVoiceHint", "msgMp3FilesFilter"})
      qovra::SetMsg(key, key);
    qovra::SetMsg("msgConfirmOverwrite", "overwrite %s?");
    // qovrasnd through a wrapper that counts its runs.
    runs_ = dir_.File("qovrasnd-runs");
    counting_tool_ = dir_.File("counting-qovrasnd");
    WriteFile(counting_tool_, "#!/bin/sh\necho \"$1\" >> '" + runs_ + "'\nexec '" +
                                  std::string(QOVRA_BIN_DIR) + "/qovrasnd' \"$@\"\n");
    fs::permissions(counting_tool_, fs::perms::owner_all);
  }
  void TearDown() override {
    qovra::compose::SetSoundToolPathForTesting("");
    TfrmMain::SetRecordingSaveChooser({});
    TfrmViewMail::SetFolderChooser({});
    TfrmSignDetails::SetCertificateOpener({});
    ComposeFixture::TearDown();
  }

  // The decodes run so far through the counting wrapper.
  int Runs() {
    const std::string text = ReadFile(runs_);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  }

  // Alice records (the fake's tone), sends it to bob; bob receives it.
  std::string SendVoiceToBob(const QString& subject, bool admin = false) {
    EXPECT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    audio_->record_ms = 700;
    std::string uuid;
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      auto* form = qobject_cast<TfrmNewVoiceMail*>(QApplication::activeModalWidget());
      if (!form) return;
      uuid = std::string(form->Mail->Uuid.view());
      QTest::mouseClick(form->btnRecord, Qt::LeftButton);
      Pump();
      QTest::mouseClick(form->btnStop, Qt::LeftButton);
      Pump();
      form->frameNewMailTop1->eTo->setText(QString::fromLatin1(kBob));
      form->frameNewMailTop1->eSubject->setText(subject);
      form->frameNewMailTop1->chkFAU->setChecked(admin);
      Window().alMain->acMailSend->trigger();
      if (form->isVisible()) form->done(2);
    });
    EXPECT_EQ(Window().acMailNewVoiceExecute(), 1) << testing::PrintToString(Shown());
    EXPECT_NO_FATAL_FAILURE(BecomeClient(kBob));
    EXPECT_TRUE(Window().acMailReceiveExecute());
    EXPECT_EQ(Window().LastReceive().Stored, 1) << testing::PrintToString(Shown());
    ui_->messages.clear();
    Window().SelectFolder(qovra::kFolderInbox);
    SelectRows({0});
    return uuid;
  }

  // Opens the selected mail, runs body in the voice viewer, then closes it
  // with Esc when it is still open. Returns the viewer's result; shown
  // tells whether the voice viewer opened.
  int Open(const std::function<void(TfrmViewVoiceMail&)>& body, bool* shown = nullptr) {
    QObject guard;
    bool seen = false;
    QTimer::singleShot(0, &guard, [&] {
      TfrmViewVoiceMail* form = Window().ViewVoiceMailForm();
      if (!form) return;
      seen = Window().ActiveFormKind() == TActiveFormKind::VoiceViewer;
      body(*form);
      if (Window().ViewVoiceMailForm() == form && form->isVisible())
        QTest::keyClick(form, Qt::Key_Escape);
    });
    const int result = Window().acMailOpenExecute();
    if (shown) *shown = seen;
    return result;
  }

  // The bytes of the first attachment of uuid's stored container.
  std::string Recording(const std::string& uuid) {
    qovra::TMemoryStream s(ReadFile(qovra::MessagesDir + uuid + ".emz"));
    qovra::TMailReader reader(s);
    EXPECT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
    if (reader.Attachments().empty()) return {};
    const qovra::TMailAttachmentInfo& a = reader.Attachments()[0];
    std::string bytes(static_cast<size_t>(a.DataSize), '\0');
    EXPECT_TRUE(reader.SeekData(a.DataOffset));
    EXPECT_EQ(reader.ReadData(bytes.data(), bytes.size()), bytes.size());
    return bytes;
  }

  std::string runs_;
  std::string counting_tool_;
};

TEST_F(VoiceViewerTest, EachPlayExtractsAndDecodesAgainAndTheButtonsFollowThePlayer) {
  const std::string uuid = SendVoiceToBob(QStringLiteral("Овоз"));
  ASSERT_TRUE(MailRow(uuid)[1] & qovra::mfReadReport);
  qovra::compose::SetSoundToolPathForTesting(counting_tool_);
  std::vector<std::string> first_files;
  bool shown = false;
  const int result = Open(
      [&](TfrmViewVoiceMail& form) {
        EXPECT_EQ(form.frameViewMailTop1->eSubject->text(), QStringLiteral("Овоз"));
        EXPECT_EQ(form.frameViewMailTop1->eFrom->text().toStdString(), kAlice);
        EXPECT_EQ(form.height(), 271);
        EXPECT_EQ(form.minimumWidth(), 437);
        EXPECT_EQ(form.mnuSaveAttachments->text(), QStringLiteral("btnSaveVoiceCaption"));
        EXPECT_EQ(form.frameViewMailTop1->btnSaveAttachments, form.mnuSaveAttachments);
        EXPECT_EQ(form.frameViewMailFooter1->wlSignature->Caption(),
                  QStringLiteral("msgAuthentic"));
        EXPECT_EQ(Buttons(form), (std::vector<bool>{true, false, false}));
        // The recording's length (0.7 s) before anything played or decoded.
        EXPECT_EQ(form.lblPosition->text(), QStringLiteral("0.00 / 0.70"));
        EXPECT_EQ(form.progbarAudio->Progress(), 0);
        EXPECT_EQ(Runs(), 0);

        for (int play = 1; play <= 2; ++play) {
          SCOPED_TRACE(play);
          QTest::mouseClick(form.btnPlay, Qt::LeftButton);
          Pump();
          ASSERT_NE(audio_->playing, nullptr) << testing::PrintToString(Shown());
          EXPECT_EQ(Runs(), play);
          EXPECT_EQ(audio_->voice_played.size(), play);
          EXPECT_EQ(audio_->voice_played.back(), QString::fromStdString(form.WaveFile()));
          // Files of the window's own in the temporary folder; the decoded
          // wave holds the 0.7 s tone at 22050 Hz mono.
          for (const std::string& f : {form.WaveFile(), form.CompressedFile()})
            EXPECT_EQ(f.rfind(qovra::GetTempFolder(), 0), 0u) << f;
          EXPECT_EQ(fs::file_size(form.WaveFile()), 44u + 22050u * 2u * 7u / 10u);
          EXPECT_EQ(Buttons(form), (std::vector<bool>{false, true, true}));
          EXPECT_TRUE(form.timerPlayer->isActive());
          EXPECT_EQ(form.timerPlayer->interval(), 100);

          audio_->playing->position_ms = 750;
          form.timerPlayerTimer();
          EXPECT_EQ(form.progbarAudio->Progress(), 50);
          EXPECT_EQ(form.lblPosition->text(), QStringLiteral("0.75 / 1.50"));
          QTest::mouseClick(form.btnPause, Qt::LeftButton);
          EXPECT_TRUE(audio_->playing->Paused());
          QTest::mouseClick(form.btnPause, Qt::LeftButton);
          EXPECT_FALSE(audio_->playing->Paused());

          if (play == 1) {
            first_files = {form.WaveFile(), form.CompressedFile()};
            audio_->playing->Finish(TVoiceEnd::Stopped);  // the end of the sound
          } else {
            QTest::mouseClick(form.btnStop, Qt::LeftButton);
          }
          Pump();
          EXPECT_FALSE(form.timerPlayer->isActive());
          EXPECT_EQ(form.progbarAudio->Progress(), 0);
          EXPECT_EQ(form.lblPosition->text(), QStringLiteral("0.00 / 1.50"));
          EXPECT_EQ(Buttons(form), (std::vector<bool>{true, false, false}));
        }
        // The second Play made new files and dropped the first ones.
        EXPECT_NE(form.WaveFile(), first_files[0]);
        for (const std::string& f : first_files) EXPECT_FALSE(fs::exists(f)) << f;
      },
      &shown);
  EXPECT_TRUE(shown);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(Window().ActiveFormKind(), TActiveFormKind::None);
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
  // Opened online, the read receipt went out as for a text mail.
  EXPECT_TRUE(MailRow(uuid)[1] & qovra::mfRead);
}

TEST_F(VoiceViewerTest, EscDuringPlaybackStopsTheSoundClosesAndDeletesTheFiles) {
  (void)SendVoiceToBob(QStringLiteral("Овоз"));
  std::vector<std::string> files;
  bool stopped = false;
  const int result = Open([&](TfrmViewVoiceMail& form) {
    QTest::mouseClick(form.btnPlay, Qt::LeftButton);
    Pump();
    ASSERT_NE(audio_->playing, nullptr);
    ASSERT_TRUE(audio_->playing->Active());
    files = {form.WaveFile(), form.CompressedFile()};
    qovra::ui::testing::FakeVoiceSession* session = audio_->playing;
    QTest::keyClick(&form, Qt::Key_Escape);
    stopped = !session->Active();
    EXPECT_FALSE(form.isVisible());
  });
  EXPECT_EQ(result, 2);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(audio_->playing, nullptr);  // the session went with the window
  ASSERT_EQ(files.size(), 2u);
  for (const std::string& f : files) EXPECT_FALSE(fs::exists(f)) << f;
}

TEST_F(VoiceViewerTest, EscWhileDecodingCancelsTheDecoderAndCloses) {
  (void)SendVoiceToBob(QStringLiteral("Овоз"));
  const std::string slow = dir_.File("slow-qovrasnd");
  WriteFile(slow, "#!/bin/sh\nexec sleep 60\n");
  fs::permissions(slow, fs::perms::owner_all);
  qovra::compose::SetSoundToolPathForTesting(slow);
  QElapsedTimer clock;
  clock.start();
  const int result = Open([&](TfrmViewVoiceMail& form) {
    QTimer::singleShot(300, &form, [&form] { QTest::keyClick(&form, Qt::Key_Escape); });
    QTest::mouseClick(form.btnPlay, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
  });
  EXPECT_EQ(result, 2);
  EXPECT_LT(clock.elapsed(), 20000);
  EXPECT_TRUE(audio_->voice_played.isEmpty());
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
}

TEST_F(VoiceViewerTest, WithoutAnOutputDevicePlaySaysSoAndDecodesNothing) {
  (void)SendVoiceToBob(QStringLiteral("Овоз"));
  qovra::compose::SetSoundToolPathForTesting(counting_tool_);
  audio_->output_devices = 0;
  bool shown = false;
  Open(
      [&](TfrmViewVoiceMail& form) {
        QTest::mouseClick(form.btnPlay, Qt::LeftButton);
        Pump();
        EXPECT_EQ(Shown(), std::vector<std::string>{"msgNoPlaybackDevice"});
        EXPECT_EQ(Buttons(form), (std::vector<bool>{true, false, false}));
      },
      &shown);
  EXPECT_TRUE(shown);
  EXPECT_EQ(Runs(), 0);
  EXPECT_TRUE(audio_->voice_played.isEmpty());
}

TEST_F(VoiceViewerTest, AFailedDecodeIsReportedOnceAndTheWindowStaysUsable) {
  (void)SendVoiceToBob(QStringLiteral("Овоз"));
  struct TCase {
    const char* what;
    std::string tool;
  };
  const TCase cases[] = {{"exits 1", "/bin/false"},
                         {"exits 0 without a file", "/bin/true"},
                         {"missing", dir_.File("no-such-qovrasnd")}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    ui_->messages.clear();
    audio_->voice_played.clear();
    Window().SelectFolder(qovra::kFolderInbox);
    SelectRows({0});
    Open([&](TfrmViewVoiceMail& form) {
      qovra::compose::SetSoundToolPathForTesting(c.tool);
      QTest::mouseClick(form.btnPlay, Qt::LeftButton);
      Pump();
      EXPECT_EQ(Shown(), std::vector<std::string>{"msgVoiceDecodeFailed"});
      EXPECT_TRUE(audio_->voice_played.isEmpty());
      EXPECT_EQ(Buttons(form), (std::vector<bool>{true, false, false}));
      // The next Play with a working decoder plays.
      qovra::compose::SetSoundToolPathForTesting("");
      QTest::mouseClick(form.btnPlay, Qt::LeftButton);
      Pump();
      EXPECT_EQ(audio_->voice_played.size(), 1);
      EXPECT_EQ(Buttons(form), (std::vector<bool>{false, true, true}));
    });
    EXPECT_EQ(Shown(), std::vector<std::string>{"msgVoiceDecodeFailed"});
  }
}

TEST_F(VoiceViewerTest, AdministrativeMailsFilesAreWipedOnClose) {
  const std::string uuid = SendVoiceToBob(QStringLiteral("Хизмат"), /*admin=*/true);
  ASSERT_TRUE(fs::exists(qovra::MessagesDir + uuid + ".eme"));
  // Second names of the window's files outside it show what closing left
  // in their blocks.
  std::vector<std::string> links;
  std::vector<std::string> files;
  Open([&](TfrmViewVoiceMail& form) {
    QTest::mouseClick(form.btnPlay, Qt::LeftButton);
    Pump();
    ASSERT_NE(audio_->playing, nullptr) << testing::PrintToString(Shown());
    files = {form.WaveFile(), form.CompressedFile()};
    for (const std::string& f : files) {
      links.push_back(dir_.File(fs::path(f).filename().string() + ".link"));
      fs::create_hard_link(f, links.back());
      EXPECT_GT(fs::file_size(f), 44u);
    }
  });
  ASSERT_EQ(links.size(), 2u);
  for (size_t i = 0; i < links.size(); ++i) {
    EXPECT_FALSE(fs::exists(files[i]));
    const std::string left = ReadFile(links[i]);
    EXPECT_FALSE(left.empty());
    EXPECT_EQ(left.find_first_not_of('\0'), std::string::npos) << files[i];
  }
}

TEST_F(VoiceViewerTest, SignatureDetailsFromTheVoiceViewer) {
  (void)SendVoiceToBob(QStringLiteral("Овоз"));
  TfrmSignDetails::SetCertificateOpener([](QWidget*, const std::string&) {});
  QString verdict;
  Open([&](TfrmViewVoiceMail& form) {
    QTimer::singleShot(0, &form, [&] {
      auto* dialog = qobject_cast<TfrmSignDetails*>(QApplication::activeModalWidget());
      if (!dialog) return;
      verdict = dialog->lblSignatureAuthencity->text();
      dialog->btnOK->click();
    });
    emit form.frameViewMailFooter1->wlSignature->OnClick();
  });
  EXPECT_EQ(verdict, QStringLiteral("msgAuthentic"));
}

// The open voice viewer is the source of forward and voice reply: the
// compose window gets its recording or its sender; a cancelled forward
// leaves the viewer open and no new file, a reply closes the viewer.
TEST_F(VoiceViewerTest, ForwardAndVoiceReplyTakeTheViewersMail) {
  const std::string uuid = SendVoiceToBob(QStringLiteral("Овоз"));
  const int64_t recording = static_cast<int64_t>(Recording(uuid).size());
  ASSERT_GT(recording, 0);
  struct TCase {
    QAction* action;
    QString subject;
    QString to;
    int64_t recorded;
    int viewer_result;
  };
  const TCase cases[] = {
      {Window().alMain->acMailForward, QStringLiteral("Fwd: Овоз"), QString(), recording, 2},
      {Window().alMain->acMailReplyVoice, QStringLiteral("Re: Овоз"), QString::fromLatin1(kAlice),
       0, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.action->objectName().toStdString());
    const auto files_before = std::distance(fs::directory_iterator(qovra::MessagesDir), {});
    QString subject;
    QString to;
    int64_t recorded = -1;
    const int result = Open([&](TfrmViewVoiceMail& form) {
      QTimer::singleShot(0, &form, [&] {
        TfrmNewVoiceMail* compose = Window().NewVoiceMailForm();
        if (!compose) return;
        subject = compose->frameNewMailTop1->eSubject->text();
        to = compose->frameNewMailTop1->eTo->text();
        recorded = compose->Recorded() ? compose->RecordedBytes() : 0;
        compose->done(2);
      });
      Window().lvMain->clearSelection();  // the viewer, not the list, is the source
      c.action->trigger();
      if (form.isVisible()) form.done(2);
    });
    EXPECT_EQ(subject, c.subject);
    EXPECT_EQ(to, c.to);
    EXPECT_EQ(recorded, c.recorded);
    EXPECT_EQ(result, c.viewer_result);
    EXPECT_EQ(std::distance(fs::directory_iterator(qovra::MessagesDir), {}), files_before);
    Window().SelectFolder(qovra::kFolderInbox);
    SelectRows({0});
  }
}

TEST_F(VoiceViewerTest, SavingTheRecordingProposesTheSubjectAndAsksBeforeReplacing) {
  const std::string uuid = SendVoiceToBob(QStringLiteral("a/b:c"));
  const std::string recording = Recording(uuid);
  ASSERT_FALSE(recording.empty());
  const std::string target = dir_.File("saved.mp3");
  std::vector<QString> proposed;
  std::vector<QWidget*> owners;
  TfrmMain::SetRecordingSaveChooser([&](QWidget* owner, const QString& name) {
    owners.push_back(owner);
    proposed.push_back(name);
    return std::optional<QString>(QString::fromStdString(target));
  });
  qovra::SetMsg("msgCannotSaveAttachment", "cannot save %s");
  const std::string overwrite = "overwrite " + target + "?";
  const std::string cannot = "cannot save " + target;
  struct TCase {
    const char* what;
    bool exists;
    int answer;  // to the overwrite question
    bool full_disk;
    bool written;
    std::vector<std::string> shown;
  };
  const TCase cases[] = {
      {"new file", false, 0, false, true, {}},
      {"existing, No", true, qovra::kMsgResultNo, false, false, {overwrite}},
      {"existing, Yes", true, qovra::kMsgResultYes, false, true, {overwrite}},
      {"disk full", false, 0, true, false, {cannot}},
      {"existing, Yes, disk full", true, qovra::kMsgResultYes, true, false, {overwrite, cannot}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    ui_->messages.clear();
    proposed.clear();
    owners.clear();
    fs::remove(target);
    if (c.exists) WriteFile(target, "mine");
    if (c.answer) ui_->QueueAnswer(c.answer);
    QWidget* viewer = nullptr;
    Window().SelectFolder(qovra::kFolderInbox);
    SelectRows({0});
    Open([&](TfrmViewVoiceMail& form) {
      viewer = &form;
      std::optional<qovra::testing::ScopedFileSizeLimit> full;
      if (c.full_disk) full.emplace(recording.size() / 2);
      // The window's own entry runs the main window's command.
      form.mnuSaveAttachments->trigger();
    });
    EXPECT_EQ(proposed, std::vector<QString>{QStringLiteral("a.b.c.mp3")});
    EXPECT_EQ(owners, std::vector<QWidget*>{viewer});
    if (c.written || c.exists) {
      EXPECT_EQ(ReadFile(target), c.written ? recording : std::string("mine"));
    }
    EXPECT_EQ(Shown(), c.shown);
    // Nothing but the chosen file in its folder: no partial or hidden copy.
    for (const auto& e : fs::directory_iterator(fs::path(target).parent_path()))
      EXPECT_FALSE(e.path().filename().string().find(".part") != std::string::npos) << e.path();
    EXPECT_EQ(fs::exists(target), c.written || c.exists);
  }
  // Cancelled: nothing written.
  fs::remove(target);
  TfrmMain::SetRecordingSaveChooser([](QWidget*, const QString&) { return std::nullopt; });
  Window().SelectFolder(qovra::kFolderInbox);
  SelectRows({0});
  Open([&](TfrmViewVoiceMail&) { Window().alMain->acMailAttachmentsSave->trigger(); });
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(VoiceViewerTest, SaveAttachmentsSavesAllFromTheTextViewerAndNothingWithoutAViewer) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  const std::string a = MakeFile("one.txt", 0, "first");
  const std::string b = MakeFile("two.bin", 0, std::string(3000, 'z'));
  const int sent = Compose([&](TfrmNewMail& form) {
    Type(form, QString::fromLatin1(kBob), QStringLiteral("Файллар"), QStringLiteral("Матн"));
    form.AttachFiles({QString::fromStdString(a), QString::fromStdString(b)});
    Window().alMain->acMailSend->trigger();
  });
  ASSERT_EQ(sent, 1) << testing::PrintToString(Shown());
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  ui_->messages.clear();

  // No viewer: the command does nothing (no "not available" either).
  Window().alMain->acMailAttachmentsSave->trigger();
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());

  const std::string folder = dir_.File("saved-all");
  fs::create_directories(folder);
  TfrmViewMail::SetFolderChooser([&](QWidget*) { return QString::fromStdString(folder); });
  Window().SelectFolder(qovra::kFolderInbox);
  SelectRows({0});
  bool shown = false;
  QObject guard;
  QTimer::singleShot(0, &guard, [&] {
    TfrmViewMail* form = Window().ViewMailForm();
    if (!form) return;
    shown = true;
    Window().alMain->acMailAttachmentsSave->trigger();
    QTest::keyClick(form, Qt::Key_Escape);
  });
  Window().alMain->acMailOpen->trigger();
  EXPECT_TRUE(shown);
  EXPECT_EQ(ReadFile(folder + "/one.txt"), "first");
  EXPECT_EQ(ReadFile(folder + "/two.bin"), std::string(3000, 'z'));
}

// What a real file dialog showed when it opened; the dialog is cancelled.
struct TShownDialog {
  bool seen = false;
  QString title;
  QString folder;
  QString file;
};

// Arms a timer that catches the next modal file dialog.
void CatchFileDialog(QObject* context, TShownDialog& out) {
  QTimer::singleShot(0, context, [&out] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    out.seen = true;
    out.title = dialog->windowTitle();
    out.folder = dialog->directory().absolutePath();
    const QStringList files = dialog->selectedFiles();
    if (!files.isEmpty()) out.file = QFileInfo(files.front()).fileName();
    dialog->reject();
  });
}

// HOME (and with it the documents folder) moved to a folder of the test.
class ScopedDocumentsHome {
 public:
  explicit ScopedDocumentsHome(const std::string& home)
      : home_("HOME", home), config_("XDG_CONFIG_HOME", home + "/.config") {
    fs::create_directories(home);
  }
  static std::string Folder(const std::string& home) {
    return QDir(QString::fromStdString(home)).absolutePath().toStdString();
  }

 private:
  qovra::testing::ScopedEnv home_;
  qovra::testing::ScopedEnv config_;
};

TEST_F(VoiceViewerTest, TheRecordingSaveDialogIsCaptionedAndStartsInTheDocumentsFolder) {
  const std::string home = dir_.File("home");
  const ScopedDocumentsHome documents(home);
  SendVoiceToBob(QStringLiteral("a/b:c"));
  TShownDialog voice;
  Open([&](TfrmViewVoiceMail& form) {
    CatchFileDialog(&form, voice);
    form.mnuSaveAttachments->trigger();
  });
  ASSERT_TRUE(voice.seen);
  EXPECT_EQ(voice.title.toStdString(), qovra::GetMsg("btnSaveVoiceCaption"));
  EXPECT_EQ(voice.folder.toStdString(), ScopedDocumentsHome::Folder(home));
  EXPECT_EQ(voice.file.toStdString(), "a.b.c.mp3");
}

TEST_F(VoiceViewerTest, TheSaveAllFolderDialogStartsInTheDocumentsFolder) {
  const std::string home = dir_.File("home");
  const ScopedDocumentsHome documents(home);
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  const std::string a = MakeFile("one.txt", 0, "first");
  const int sent = Compose([&](TfrmNewMail& form) {
    Type(form, QString::fromLatin1(kBob), QStringLiteral("Files"), QStringLiteral("Text"));
    form.AttachFiles({QString::fromStdString(a)});
    Window().alMain->acMailSend->trigger();
  });
  ASSERT_EQ(sent, 1) << testing::PrintToString(Shown());
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  Window().SelectFolder(qovra::kFolderInbox);
  SelectRows({0});
  TShownDialog all;
  QObject guard;
  QTimer::singleShot(0, &guard, [&] {
    TfrmViewMail* form = Window().ViewMailForm();
    if (!form) return;
    CatchFileDialog(form, all);
    Window().alMain->acMailAttachmentsSave->trigger();
    QTest::keyClick(form, Qt::Key_Escape);
  });
  Window().alMain->acMailOpen->trigger();
  ASSERT_TRUE(all.seen);
  EXPECT_EQ(all.title.toStdString(), qovra::GetMsg("msgSaveAttachedFiles"));
  EXPECT_EQ(all.folder.toStdString(), ScopedDocumentsHome::Folder(home));
}

}  // namespace
