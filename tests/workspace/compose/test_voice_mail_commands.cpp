// The main window's mail commands on voice mails, with the fake audio
// backend, the real qovrasnd and the exchange server: the voice reply, a
// voice draft saved, reopened, played and sent, and the forward of a
// voice mail with its recording.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/file_stream.h"
#include "compose_fixture.h"
#include "qovra/workspace/new_voice_mail.h"
#include "qovra/workspace/sound_tool.h"
#include "store/mail_container_reader.h"

namespace {

namespace fs = std::filesystem;
using qovra_test::kAlice;
using qovra_test::kBob;
using qovra_test::kCarol;

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;

// What a voice container holds: its subject, To, and the name and bytes of
// each attachment.
struct VoiceContainer {
  bool parsed = false;
  std::u16string subject;
  std::string to;
  std::vector<std::pair<std::u16string, std::string>> attachments;
};

VoiceContainer ReadContainer(const std::string& path) {
  VoiceContainer c;
  qovra::TEFileStream file(path, /*silent=*/true, /*delete_on_free=*/false, qovra::fmOpenRead);
  if (!file.Opened()) return c;
  qovra::TMailReader reader(file);
  if (!reader.Parse(nullptr, nullptr)) return c;
  c.parsed = true;
  c.subject = reader.Subject();
  c.to = reader.To();
  for (const qovra::TMailAttachmentInfo& a : reader.Attachments()) {
    std::string bytes(static_cast<size_t>(a.DataSize), '\0');
    if (!reader.SeekData(a.DataOffset) ||
        reader.ReadData(bytes.data(), bytes.size()) != bytes.size())
      bytes = "<unreadable>";
    c.attachments.emplace_back(std::u16string(a.FileName.view()), bytes);
  }
  return c;
}

class VoiceMailCommandsTest : public qovra_test::ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    for (const char* key :
         {"msgNoRecordingDevice", "msgNoPlaybackDevice", "msgAudioDeviceError",
          "msgVoiceRecordTooLong", "msgVoiceCompressFailed", "msgVoiceDecodeFailed",
          "msgCannotSaveEmptyMail", "msgCouldNotSaveMailForAdministrativeUseOnly",
          "msgCannotSaveDraft", "msgParsingMail", "msgOpeningMail", "msgOpening",
          "msgOpeningAttachment", "msgMailFileCorrupted", "msgMailContentNotFound",
          "msgVoiceNotRecorded"})
      qovra::SetMsg(key, key);
  }
  void TearDown() override {
    qovra::compose::SetSoundToolPathForTesting("");
    ComposeFixture::TearDown();
  }

  static void Pump() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }

  // Runs body inside the voice compose window that open shows; a window
  // still open afterwards is closed without a result. Returns open's
  // result; seen tells whether the window showed.
  int InVoice(const std::function<int()>& open, const std::function<void(TfrmNewVoiceMail&)>& body,
              bool* seen = nullptr) {
    QObject guard;
    if (seen) *seen = false;
    QTimer::singleShot(0, &guard, [&] {
      TfrmNewVoiceMail* form = Window().NewVoiceMailForm();
      if (!form) return;
      if (seen) *seen = true;
      body(*form);
      if (Window().NewVoiceMailForm() == form && form->isVisible()) form->done(2);
    });
    return open();
  }

  void RecordAndStop(TfrmNewVoiceMail& form) {
    QTest::mouseClick(form.btnRecord, Qt::LeftButton);
    Pump();
    ASSERT_NE(audio_->recording, nullptr);
    QTest::mouseClick(form.btnStop, Qt::LeftButton);
    Pump();
    ASSERT_TRUE(form.HasVoice);
  }

  // alice records a voice mail and sends it to bob; bob (the session
  // afterwards) receives it. Returns its uuid; mp3 gets its recording.
  std::string VoiceMailFromAliceToBob(std::string& mp3) {
    std::string uuid;
    EXPECT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    const int result = InVoice([&] { return Window().acMailNewVoiceExecute(); },
                               [&](TfrmNewVoiceMail& form) {
                                 uuid = std::string(form.Mail->Uuid.view());
                                 ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
                                 mp3 = ReadFile(form.CompressedFile());
                                 form.frameNewMailTop1->eTo->setText(QString::fromLatin1(kBob));
                                 form.frameNewMailTop1->eSubject->setText(QStringLiteral("Овоз"));
                                 Window().alMain->acMailSend->trigger();
                               });
    EXPECT_EQ(result, 1) << testing::PrintToString(Shown());
    EXPECT_NO_FATAL_FAILURE(BecomeClient(kBob));
    EXPECT_TRUE(Window().acMailReceiveExecute());
    Window().SelectFolder(qovra::kFolderInbox);
    EXPECT_EQ(Window().model->Count(), 1);
    SelectRows({0});
    ui_->messages.clear();
    return uuid;
  }

  // The row of the mail whose uuid is given in the folder shown selected.
  void SelectMail(const std::string& uuid) {
    for (int r = 0; r < Window().model->Count(); ++r)
      if (Window().model->Row(r).Uuid == uuid) SelectRows({r});
  }

  std::vector<std::string> Files(const std::string& prefix = {}) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(qovra::MessagesDir)) {
      const std::string name = e.path().filename().string();
      if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(VoiceMailCommandsTest, VoiceReplyFromTheListReachesTheSender) {
  std::string mp3;
  VoiceMailFromAliceToBob(mp3);
  ASSERT_TRUE(Window().alMain->acMailReplyVoice->isEnabled());
  QString to, subject;
  bool record_focus = false;
  bool contacts_shown = true;
  std::string reply_uuid;
  bool seen = false;
  const int result = InVoice(
      [&] {
        Window().alMain->acMailReplyVoice->trigger();
        return 0;
      },
      [&](TfrmNewVoiceMail& form) {
        Pump();
        EXPECT_EQ(Window().ActiveFormKind(), TActiveFormKind::VoiceCompose);
        to = form.frameNewMailTop1->eTo->text();
        subject = form.frameNewMailTop1->eSubject->text();
        record_focus = QApplication::focusWidget() == form.btnRecord;
        contacts_shown = form.frameNewMailTop1->lbContacts->isVisible();
        // Nothing of the source to play: a reply records its own.
        EXPECT_FALSE(form.btnPlay->isEnabled());
        EXPECT_FALSE(form.Recorded());
        reply_uuid = std::string(form.Mail->Uuid.view());
        ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
        Window().alMain->acMailSend->trigger();
        EXPECT_EQ(form.result(), 1) << testing::PrintToString(Shown());
      },
      &seen);
  (void)result;
  ASSERT_TRUE(seen) << testing::PrintToString(Shown());
  EXPECT_EQ(to.toStdString(), kAlice);
  EXPECT_EQ(subject, QStringLiteral("Re: Овоз"));
  EXPECT_TRUE(record_focus);
  EXPECT_FALSE(contacts_shown);
  EXPECT_EQ(Window().ActiveFormKind(), TActiveFormKind::None);
  EXPECT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderSent);

  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  const std::vector<int64_t> row = MailRow(reply_uuid);
  ASSERT_EQ(row.size(), 3u) << "the reply reached alice";
  EXPECT_EQ(row[0], qovra::kFolderInbox);
  EXPECT_TRUE(row[1] & qovra::mfVoice);
  const VoiceContainer c = ReadContainer(qovra::MessagesDir + reply_uuid + ".emz");
  ASSERT_TRUE(c.parsed);
  EXPECT_EQ(c.subject, u"Re: Овоз");
  ASSERT_EQ(c.attachments.size(), 1u);
  EXPECT_EQ(c.attachments[0].first, u"voice.mp3");
  EXPECT_TRUE(Files("~").empty());
}

TEST_F(VoiceMailCommandsTest, SendWithoutARecordingIsRefused) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string uuid;
  InVoice([&] { return Window().acMailNewVoiceExecute(); },
          [&](TfrmNewVoiceMail& form) {
            uuid = std::string(form.Mail->Uuid.view());
            form.frameNewMailTop1->eTo->setText(QString::fromLatin1(kBob));
            form.frameNewMailTop1->eSubject->setText(QStringLiteral("Овоз"));
            Window().alMain->acMailSend->trigger();
            EXPECT_TRUE(form.isVisible());
            form.Modified = false;
          });
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgVoiceNotRecorded"});
  EXPECT_FALSE(fs::exists(qovra::MessagesDir + uuid + ".emz"));
  EXPECT_TRUE(MailRow(uuid).empty());
}

TEST_F(VoiceMailCommandsTest, VoiceDraftSavedReopenedPlayedAndSent) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string uuid;
  std::string recorded;
  // Refusals leave the window open and write nothing.
  const std::pair<bool, std::string> refusals[] = {
      {false, "msgCannotSaveEmptyMail"},  // nothing recorded nor typed
      {true, "msgCouldNotSaveMailForAdministrativeUseOnly"}};
  for (const auto& [fau, key] : refusals) {
    SCOPED_TRACE(key);
    ui_->messages.clear();
    InVoice([&] { return Window().acMailNewVoiceExecute(); },
            [&](TfrmNewVoiceMail& form) {
              uuid = std::string(form.Mail->Uuid.view());
              if (fau) {
                ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
                form.frameNewMailTop1->chkFAU->setChecked(true);
              }
              Window().alMain->acMailSaveToDrafts->trigger();
              EXPECT_TRUE(form.isVisible());
              form.Modified = false;
            });
    EXPECT_EQ(Shown(), std::vector<std::string>{key});
    EXPECT_FALSE(fs::exists(qovra::MessagesDir + uuid + ".emz"));
    EXPECT_TRUE(MailRow(uuid).empty());
  }
  ui_->messages.clear();

  const int saved =
      InVoice([&] { return Window().acMailNewVoiceExecute(); },
              [&](TfrmNewVoiceMail& form) {
                uuid = std::string(form.Mail->Uuid.view());
                ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
                recorded = ReadFile(form.CompressedFile());
                form.frameNewMailTop1->eTo->setText(QString::fromLatin1(kBob));
                form.frameNewMailTop1->mnuLowPriorityClick(form.frameNewMailTop1->mnuHighPriority);
                Window().alMain->acMailSaveToDrafts->trigger();
              });
  ASSERT_EQ(saved, 4) << testing::PrintToString(Shown());
  ASSERT_FALSE(recorded.empty());
  const std::string emz = qovra::MessagesDir + uuid + ".emz";
  {
    const VoiceContainer c = ReadContainer(emz);
    ASSERT_TRUE(c.parsed);
    ASSERT_EQ(c.attachments.size(), 1u);
    EXPECT_EQ(c.attachments[0].first, u"voice.mp3");
    EXPECT_TRUE(c.attachments[0].second == recorded);
  }
  ASSERT_EQ(MailRow(uuid).size(), 3u);
  EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderDrafts);
  EXPECT_TRUE(MailRow(uuid)[1] & qovra::mfVoice);
  EXPECT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderDrafts);

  // Reopened: the voice window on the working copy, its recording
  // present, Play decoding it and playing it through the device.
  const std::string before = ReadFile(emz);
  SelectMail(uuid);
  bool copy_seen = false;
  bool play_enabled = false;
  QString to;
  int priority = -1;
  std::string wave;
  int64_t wave_size = 0;
  const int unchanged =
      InVoice([&] { return Window().acMailOpenExecute(); },
              [&](TfrmNewVoiceMail& form) {
                copy_seen = fs::exists(qovra::MessagesDir + "~" + uuid + ".emz");
                EXPECT_EQ(Window().ActiveFormKind(), TActiveFormKind::VoiceCompose);
                play_enabled = form.btnPlay->isEnabled();
                EXPECT_TRUE(form.Recorded());
                EXPECT_FALSE(form.HasVoice);
                to = form.frameNewMailTop1->eTo->text();
                priority = form.frameNewMailTop1->PriorityTag();
                EXPECT_TRUE(form.mnuHighPriority->isChecked());
                QTest::mouseClick(form.btnPlay, Qt::LeftButton);
                Pump();
                ASSERT_NE(audio_->playing, nullptr) << testing::PrintToString(Shown());
                wave = form.WaveFile();
                wave_size = static_cast<int64_t>(fs::file_size(wave));
                audio_->playing->Finish(qovra::ui::TVoiceEnd::Stopped);
                Pump();
                EXPECT_TRUE(form.btnPlay->isEnabled());
                // Nothing changed: nothing is written.
                Window().alMain->acMailSaveToDrafts->trigger();
              });
  EXPECT_TRUE(copy_seen);
  EXPECT_TRUE(play_enabled);
  EXPECT_EQ(to.toStdString(), kBob);
  EXPECT_EQ(priority, qovra::kPriorityHigh);
  EXPECT_EQ(audio_->voice_played, QStringList{QString::fromStdString(wave)});
  // 300 ms of 16-bit mono 22050 Hz, as recorded.
  EXPECT_EQ(wave_size, 44 + 6615 * 2);
  EXPECT_EQ(unchanged, 2);
  EXPECT_TRUE(ReadFile(emz) == before);
  EXPECT_TRUE(Files("~").empty());
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());

  // A decoder that fails says so; Play stays there.
  SelectMail(uuid);
  InVoice([&] { return Window().acMailOpenExecute(); },
          [&](TfrmNewVoiceMail& form) {
            qovra::compose::SetSoundToolPathForTesting("/bin/false");
            audio_->voice_played.clear();
            QTest::mouseClick(form.btnPlay, Qt::LeftButton);
            Pump();
            EXPECT_TRUE(audio_->voice_played.isEmpty());
            EXPECT_TRUE(form.btnPlay->isEnabled());
            qovra::compose::SetSoundToolPathForTesting("");
          });
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgVoiceDecodeFailed"});
  ui_->messages.clear();

  // Edited (a subject) and saved: the old recording stays in the file.
  SelectMail(uuid);
  const int edited = InVoice([&] { return Window().acMailOpenExecute(); },
                             [&](TfrmNewVoiceMail& form) {
                               form.frameNewMailTop1->eSubject->setText(QStringLiteral("later"));
                               Window().alMain->acMailSaveToDrafts->trigger();
                             });
  EXPECT_EQ(edited, 4);
  {
    const VoiceContainer c = ReadContainer(emz);
    ASSERT_TRUE(c.parsed);
    EXPECT_EQ(c.subject, u"later");
    ASSERT_EQ(c.attachments.size(), 1u);
    EXPECT_TRUE(c.attachments[0].second == recorded);
  }
  EXPECT_TRUE(Files("~").empty());

  // Sent from the reopened draft: bob gets the old recording.
  SelectMail(uuid);
  const int sent = InVoice([&] { return Window().acMailOpenExecute(); },
                           [&](TfrmNewVoiceMail&) { Window().alMain->acMailSend->trigger(); });
  EXPECT_EQ(sent, 1) << testing::PrintToString(Shown());
  EXPECT_TRUE(Files("~").empty());
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  ASSERT_EQ(MailRow(uuid).size(), 3u);
  EXPECT_TRUE(MailRow(uuid)[1] & qovra::mfVoice);
  const VoiceContainer got = ReadContainer(qovra::MessagesDir + uuid + ".emz");
  ASSERT_TRUE(got.parsed);
  ASSERT_EQ(got.attachments.size(), 1u);
  EXPECT_TRUE(got.attachments[0].second == recorded);
}

TEST_F(VoiceMailCommandsTest, ANewRecordingReplacesTheReopenedOne) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string uuid;
  std::string old_mp3;
  InVoice([&] { return Window().acMailNewVoiceExecute(); },
          [&](TfrmNewVoiceMail& form) {
            uuid = std::string(form.Mail->Uuid.view());
            ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
            old_mp3 = ReadFile(form.CompressedFile());
            Window().alMain->acMailSaveToDrafts->trigger();
          });
  // Reopened unchanged, with no recipients and no subject: the recording
  // alone is enough, so it is not refused as empty.
  SelectMail(uuid);
  EXPECT_EQ(InVoice([&] { return Window().acMailOpenExecute(); },
                    [&](TfrmNewVoiceMail&) { Window().alMain->acMailSaveToDrafts->trigger(); }),
            2);
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
  SelectMail(uuid);
  audio_->record_ms = 900;
  std::string new_mp3;
  const int result = InVoice([&] { return Window().acMailOpenExecute(); },
                             [&](TfrmNewVoiceMail& form) {
                               ASSERT_NO_FATAL_FAILURE(RecordAndStop(form));
                               new_mp3 = ReadFile(form.CompressedFile());
                               Window().alMain->acMailSaveToDrafts->trigger();
                             });
  EXPECT_EQ(result, 4);
  ASSERT_NE(new_mp3, old_mp3);
  const VoiceContainer c = ReadContainer(qovra::MessagesDir + uuid + ".emz");
  ASSERT_TRUE(c.parsed);
  ASSERT_EQ(c.attachments.size(), 1u);
  EXPECT_EQ(c.attachments[0].first, u"voice.mp3");
  EXPECT_TRUE(c.attachments[0].second == new_mp3);
  EXPECT_TRUE(Files("~").empty());
}

TEST_F(VoiceMailCommandsTest, ForwardOfAVoiceMailCarriesTheRecording) {
  std::string mp3;
  const std::string source_uuid = VoiceMailFromAliceToBob(mp3);
  const std::string source_path = qovra::MessagesDir + source_uuid + ".emz";
  const std::string source_bytes = ReadFile(source_path);
  const std::vector<std::string> files_before = Files();
  ASSERT_TRUE(Window().alMain->acMailForward->isEnabled());

  // Cancelled: no new file is left and the source is untouched.
  bool seen = false;
  InVoice(
      [&] {
        Window().alMain->acMailForward->trigger();
        return 0;
      },
      [&](TfrmNewVoiceMail& form) {
        EXPECT_EQ(Window().ActiveFormKind(), TActiveFormKind::VoiceCompose);
        EXPECT_TRUE(form.frameNewMailTop1->eTo->text().isEmpty());
        EXPECT_EQ(form.frameNewMailTop1->eSubject->text(), QStringLiteral("Fwd: Овоз"));
        EXPECT_TRUE(form.Recorded());
        EXPECT_TRUE(form.btnPlay->isEnabled());
        EXPECT_EQ(Files().size(), files_before.size() + 1);
      },
      &seen);
  ASSERT_TRUE(seen) << testing::PrintToString(Shown());
  EXPECT_EQ(Files(), files_before);
  EXPECT_TRUE(ReadFile(source_path) == source_bytes);

  // Sent to carol: she gets the same voice.mp3 bytes.
  std::string uuid;
  InVoice(
      [&] {
        Window().alMain->acMailForward->trigger();
        return 0;
      },
      [&](TfrmNewVoiceMail& form) {
        uuid = std::string(form.Mail->Uuid.view());
        form.frameNewMailTop1->eTo->setText(QString::fromLatin1(kCarol));
        Window().alMain->acMailSend->trigger();
        EXPECT_EQ(form.result(), 1) << testing::PrintToString(Shown());
      });
  ASSERT_FALSE(uuid.empty());
  EXPECT_TRUE(ReadFile(source_path) == source_bytes);
  EXPECT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderSent);
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kCarol));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  ASSERT_EQ(MailRow(uuid).size(), 3u);
  EXPECT_TRUE(MailRow(uuid)[1] & qovra::mfVoice);
  const VoiceContainer c = ReadContainer(qovra::MessagesDir + uuid + ".emz");
  ASSERT_TRUE(c.parsed);
  EXPECT_EQ(c.subject, u"Fwd: Овоз");
  ASSERT_EQ(c.attachments.size(), 1u);
  EXPECT_EQ(c.attachments[0].first, u"voice.mp3");
  EXPECT_TRUE(c.attachments[0].second == mp3);
  EXPECT_TRUE(Files("~").empty());
}

}  // namespace
