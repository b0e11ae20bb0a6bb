// TfrmNewVoiceMail: the compose window of a voice message: the header
// frame above a recorder (Record, Play, Pause, Stop, the audio-settings
// menu), a level and position bar and a position label.
//
// Recording and playback go through qovra::ui::Audio(). A recording goes
// into this window's own wave file in the program's temporary folder; when
// it ends it is compressed by qovrasnd into the window's own MP3 file,
// which becomes the mail's only attachment, "voice.mp3". HasVoice is set
// only when the compression made a file; a failed one is reported.
// Recording stops by itself below 4 GiB of samples, with a message.
//
// A window opened on an existing mail (a reopened voice draft, a forwarded
// voice mail) takes the reader's first attachment as its recording
// (UseReaderVoice): it counts as recorded, Play extracts it into the
// window's MP3 file, decodes it into the wave file and plays that, and
// writing the mail copies it from the reader, until a new recording
// replaces it.
//
// While qovrasnd runs (Busy) the window takes no clicks: its frame, the
// recorder and the menu are disabled, and the main window's Send and Save
// to drafts do nothing for it. A close asked meanwhile (the close button,
// Escape, Cancel) runs once qovrasnd has ended, with the usual question; a
// decoding is given up for it, a compression never is, so a recording is
// never lost to a click.
//
// Closing without a result first stops recording and playback (the wave
// file is complete, closed and compressed), then, while Modified and
// something is there to keep (HasVoice, recipients or subject), asks
// msgSaveToDraftsPrompt. The window's wave and MP3 files are deleted when
// it is destroyed, wiped first for a mail for administrative use only.
//
// GUI thread only.
#pragma once

#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "qovra/ui/voice_device.h"
#include "qovra/workspace/new_form.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QTimer;
class QWidget;

namespace qovra::ui {
class TProgressBarEx;
}

class TfrmNewVoiceMail : public TNewForm {
  Q_OBJECT

 public:
  explicit TfrmNewVoiceMail(const TComposeCommands& commands, QWidget* parent = nullptr);
  ~TfrmNewVoiceMail() override;

  [[nodiscard]] bool WriteMessage(qovra::TStream& stream, std::string_view recipients,
                                  void* progress_data, qovra::TProgressProc progress) override;
  TframeNewMailTop* GetTopFrame() override { return frameNewMailTop1; }
  bool ConfirmClose() override;

  // Takes the first attachment of reader (not owned; it must outlive the
  // window) as the recording and enables Play; Reader := reader. Nothing
  // is recorded when reader has no attachment.
  void UseReaderVoice(qovra::TMailReader& reader);
  // A new recording compressed (HasVoice) or the reader's recording.
  bool Recorded() const;
  // qovrasnd runs (compressing or decoding): the window takes no commands.
  bool Busy() const { return sound_tool_ != TSoundToolRun::None; }
  // The bytes of the recording that writing the mail attaches.
  int64_t RecordedBytes() const;

  // The main window's status line and its progress bar, for extracting
  // the reader's recording (may be empty).
  std::function<void(const QString&)> StatusBusy;
  std::function<void()> StatusReady;
  void* ProgressBar = nullptr;

  // The recording format of a Quality (0 low, 1 normal, 2 high) and Stereo.
  static qovra::ui::TVoiceFormat RecordFormat(int quality, bool stereo);

  void btnRecordClick();
  void btnStopClick();
  void btnPauseClick();
  void btnPlayClick();
  void btnAudioSettingsClick();
  void pmenuAudioSettingsPopup();
  void audioRecorderLevel(int level);
  void timerPlayerTimer();

  // Stops recording and playback now; a recording is then compressed.
  void StopAll();

  const std::string& WaveFile() const { return wave_file_; }
  const std::string& CompressedFile() const { return compressed_file_; }
  bool HasVoice = false;
  bool Stereo = false;
  int Quality = 1;

  TframeNewMailTop* frameNewMailTop1;
  QWidget* pnlMailBody;
  QPushButton* btnRecord;
  QPushButton* btnPlay;
  QPushButton* btnPause;
  QPushButton* btnStop;
  QPushButton* btnAudioSettings;
  QMenu* pmenuAudioSettings;
  QAction* mnuAudioStereo;
  QAction* mnuAudioQualityLow;
  QAction* mnuAudioQualityNormal;
  QAction* mnuAudioQualityHigh;
  QWidget* pnlStatusBar;
  QLabel* lblPosition;
  qovra::ui::TProgressBarEx* progbarAudio;
  QTimer* timerPlayer;
  QAction* acCancel;

 protected:
 private:
  void FormCreate();
  void BuildRecorder();
  void BindCommands();
  void audioRecorderActivate();
  void audioRecorderDeactivate(qovra::ui::TVoiceEnd reason);
  void audioPlayerActivate();
  void audioPlayerDeactivate(qovra::ui::TVoiceEnd reason);
  void SetIdleButtons();
  bool WaveReady() const;
  // Extracts and decodes the reader's recording into the wave file; false
  // after a warning (or when cancelled).
  bool PrepareReaderVoice();
  enum class TSoundToolRun : uint8_t { None, Compress, Decode };
  // Around a run of qovrasnd: the window disabled (but for its status
  // strip) with a busy cursor, then enabled again with its focus back.
  void BeginSoundTool(TSoundToolRun run);
  void EndSoundTool();
  // Closes the window (reject) from the event loop when a close was asked
  // while qovrasnd ran.
  void CloseIfAsked();

  TComposeCommands commands_;
  std::string wave_file_;
  std::string compressed_file_;
  std::unique_ptr<qovra::ui::VoiceSession> recorder_;
  std::unique_ptr<qovra::ui::VoiceSession> player_;
  bool recording_pending_ = false;  // a recording whose end is not handled yet
  bool playing_pending_ = false;
  TSoundToolRun sound_tool_ = TSoundToolRun::None;
  bool cancel_decode_ = false;
  bool close_asked_ = false;  // a close asked while qovrasnd ran
  QPointer<QWidget> focus_before_tool_;
  int64_t reader_voice_ = 0;  // DataOffset of the reader's recording; 0: none
  int64_t wave_length_ms_ = 0;
};
