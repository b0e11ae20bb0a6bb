// TfrmViewVoiceMail: the voice viewer: header frame, a player (Play, Pause,
// Stop), a position bar and label, and the signature status line.
//
// The recording is the mail's first attachment; its length shows as soon
// as the window is filled, read from its headers. Every Play writes it anew
// to an MP3 file of this window's own in the program's temporary folder,
// has qovrasnd decode it into a wave file of its own (time-out; closing
// the window cancels it) and plays that through qovra::ui::Audio(). A
// failed extraction or decode is reported once (msgVoiceDecodeFailed) and
// the window stays usable; without an output device Play says
// msgNoPlaybackDevice and does nothing else.
//
// Closing stops playback. The window's files are deleted when a new Play
// replaces them and when the window is destroyed; wiped first for a mail
// for administrative use only (Mail.Flags has mfAdminOnly).
//
// GUI thread only.
#pragma once

#include <QIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "qovra/ui/voice_device.h"
#include "qovra/workspace/view_form.h"

class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QTimer;

namespace qovra::ui {
class TProgressBarEx;
}

class TfrmViewVoiceMail : public TViewForm {
  Q_OBJECT

 public:
  // commands.SaveAttachments is reached through this window's own entry
  // (btnSaveVoiceCaption, btnSaveVoiceHint); the others are bound as they
  // are.
  TfrmViewVoiceMail(const TViewCommands& commands, QWidget* parent = nullptr);
  ~TfrmViewVoiceMail() override;

  TframeViewMailTop* GetTopFrame() override { return frameViewMailTop1; }
  TframeViewMailFooter* GetFooterFrame() override { return frameViewMailFooter1; }

  // Header and caption from Reader; Play is enabled when the mail has an
  // attachment.
  void FillFromReader() override;
  // The picture of the save entry (the main window's image list).
  void SetSaveVoiceIcon(const QIcon& icon);

  void btnPlayClick();
  void btnPauseClick();
  void btnStopClick();
  void timerPlayerTimer();

  // Stops playback, cancels a running decode, then closes.
  void done(int result) override;

  // The files of the last Play; empty before the first.
  const std::string& WaveFile() const { return wave_file_; }
  const std::string& CompressedFile() const { return compressed_file_; }

  TframeViewMailTop* frameViewMailTop1;
  QWidget* pnlMailBody;
  QPushButton* btnPlay;
  QPushButton* btnPause;
  QPushButton* btnStop;
  QWidget* pnlStatusBar;
  QLabel* lblPosition;
  qovra::ui::TProgressBarEx* progbarAudio;
  TframeViewMailFooter* frameViewMailFooter1;
  QTimer* timerPlayer;
  QMenuBar* TntMainMenu1;
  QMenu* mnuMessage;
  QAction* mnuSaveAttachments;  // this window's save entry (tool bar and menu)
  QAction* acClose;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void audioPlayerActivate();
  void audioPlayerDeactivate(qovra::ui::TVoiceEnd reason);
  void SetIdleButtons();
  // "0 / length" in the position strip, the length read from the
  // recording's headers; the label stays as it is when they cannot be read.
  void ShowRecordingLength();
  // Extracts and decodes into fresh files; false when it failed or was
  // cancelled (cancelled set then).
  bool PrepareWave(bool& cancelled);
  void ReleaseFiles();
  bool Admin() const;

  std::string wave_file_;
  std::string compressed_file_;
  std::unique_ptr<qovra::ui::VoiceSession> player_;
  bool preparing_ = false;        // extraction or decode running
  bool cancel_decode_ = false;    // set by closing while preparing_
  bool playing_pending_ = false;  // a playback whose end is not handled yet
  bool closed_ = false;
  int64_t wave_length_ms_ = 0;
  bool centred_ = false;
};
