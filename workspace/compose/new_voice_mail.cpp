// TfrmNewVoiceMail: creation, the recorder and player, writing the
// container and closing.
#include "qovra/workspace/new_voice_mail.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "base/messages.h"
#include "base/secure_wipe.h"
#include "base/utf.h"
#include "platform/file_utils.h"
#include "platform/temp_files.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/audio_backend.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/compose_rules.h"
#include "qovra/workspace/new_mail_top.h"
#include "qovra/workspace/sound_tool.h"
#include "qovra/workspace/voice_position.h"
#include "seam/ui_seam.h"
#include "settings/settings.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"

using qovra::ui::TVoiceEnd;

namespace {

int64_t FileSize(const std::string& path) {
  return path.empty() ? 0 : qovra::GetFileSizeW(qovra::Utf8ToUtf16(path));
}

}  // namespace

TfrmNewVoiceMail::TfrmNewVoiceMail(const TComposeCommands& commands, QWidget* parent)
    : TNewForm(parent), commands_(commands) {
  FormCreate();
}

TfrmNewVoiceMail::~TfrmNewVoiceMail() {
  recorder_.reset();
  player_.reset();
  const bool wipe = frameNewMailTop1->chkFAU->isChecked();
  for (const std::string& file : {wave_file_, compressed_file_})
    if (!file.empty()) (void)qovra::WipeAndDeleteFile(file, wipe);
}

qovra::ui::TVoiceFormat TfrmNewVoiceMail::RecordFormat(int quality, bool stereo) {
  static constexpr int kRates[] = {8000, 22050, 44100};
  qovra::ui::TVoiceFormat format;
  format.SampleRate = kRates[std::clamp(quality, 0, 2)];
  format.Channels = stereo ? 2 : 1;
  return format;
}

void TfrmNewVoiceMail::FormCreate() {
  setFixedHeight(247);
  setMinimumWidth(445);
  resize(720, 247);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  wave_file_ = qovra::compose::NewVoiceTempFile(".wav");
  compressed_file_ = qovra::compose::NewVoiceTempFile(".mp3");

  frameNewMailTop1 = new TframeNewMailTop(this);
  BuildRecorder();
  acCancel = qovra::ui::NamedAction(this, "acCancel");
  acCancel->setShortcut(QKeySequence(Qt::Key_Escape));
  addAction(acCancel);
  connect(acCancel, &QAction::triggered, this, [this] { reject(); });
  BuildMailMenu(frameNewMailTop1, nullptr);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->setMenuBar(TntMainMenu1);
  column->addWidget(frameNewMailTop1);
  column->addWidget(pnlMailBody);
  column->addStretch(1);
  column->addWidget(pnlStatusBar);

  frameNewMailTop1->PlaceContactsList(this);
  const int mode = qovra::Options.Mail.sendmode == 1 ? 1 : 0;
  BindCommands();
  qovra::ApplyLanguage(this);
  qovra::ApplyLanguage(frameNewMailTop1, frameNewMailTop1);
  frameNewMailTop1->btnSendingMode->setText(
      QString::fromStdString(qovra::GetMsg("btnSendingMode" + std::to_string(mode))));
  frameNewMailTop1->LoadGlyphs();
  mnuNormalPriority->trigger();
  (mode == 1 ? mnuFastSend : mnuSecureSend)->trigger();
  mnuReceiveReport->setChecked(frameNewMailTop1->btnReceiveReport->isChecked());
  mnuReadReport->setChecked(frameNewMailTop1->btnReadReport->isChecked());

  auto modified = [this] { Modified = true; };
  connect(frameNewMailTop1->eTo, &QLineEdit::textChanged, this, modified);
  connect(frameNewMailTop1->eSubject, &QLineEdit::textChanged, this, modified);
}

void TfrmNewVoiceMail::BuildRecorder() {
  pnlMailBody = new QWidget(this);
  pnlMailBody->setObjectName(QStringLiteral("pnlMailBody"));
  btnRecord = qovra::ui::PictureButton(pnlMailBody, "btnRecord", "audio_record16");
  btnPlay = qovra::ui::PictureButton(pnlMailBody, "btnPlay", "audio_play16");
  btnPause = qovra::ui::PictureButton(pnlMailBody, "btnPause", "audio_pause16");
  btnStop = qovra::ui::PictureButton(pnlMailBody, "btnStop", "audio_stop16");
  btnAudioSettings = qovra::ui::PictureButton(pnlMailBody, "btnAudioSettings", "audio_ddown16");
  btnPause->setCheckable(true);
  auto* row = new QHBoxLayout(pnlMailBody);
  row->setContentsMargins(8, 8, 8, 8);
  for (QPushButton* b : {btnRecord, btnPlay, btnPause, btnStop}) row->addWidget(b);
  row->addStretch(1);
  row->addWidget(btnAudioSettings);
  // No default button: Enter in a field starts nothing (TNewForm).
  for (QPushButton* b : {btnRecord, btnPlay, btnPause, btnStop, btnAudioSettings})
    b->setAutoDefault(false);
  btnPlay->setEnabled(false);
  btnPause->setEnabled(false);
  btnStop->setEnabled(false);

  pmenuAudioSettings = new QMenu(this);
  pmenuAudioSettings->setObjectName(QStringLiteral("pmenuAudioSettings"));
  mnuAudioStereo = qovra::ui::NamedAction(this, "mnuAudioStereo");
  mnuAudioStereo->setCheckable(true);
  pmenuAudioSettings->addAction(mnuAudioStereo);
  pmenuAudioSettings->addSeparator();
  auto* qualities = new QActionGroup(this);
  mnuAudioQualityLow = qovra::ui::NamedAction(this, "mnuAudioQualityLow");
  mnuAudioQualityNormal = qovra::ui::NamedAction(this, "mnuAudioQualityNormal");
  mnuAudioQualityHigh = qovra::ui::NamedAction(this, "mnuAudioQualityHigh");
  int tag = 0;
  for (QAction* a : {mnuAudioQualityLow, mnuAudioQualityNormal, mnuAudioQualityHigh}) {
    a->setCheckable(true);
    a->setData(tag++);
    qualities->addAction(a);
    pmenuAudioSettings->addAction(a);
    connect(a, &QAction::triggered, this, [this, a] { Quality = a->data().toInt(); });
  }
  connect(mnuAudioStereo, &QAction::triggered, this, [this](bool checked) { Stereo = checked; });
  connect(pmenuAudioSettings, &QMenu::aboutToShow, this, [this] { pmenuAudioSettingsPopup(); });

  const qovra::compose::TVoicePositionBar strip = qovra::compose::BuildVoicePositionBar(this);
  pnlStatusBar = strip.Panel;
  lblPosition = strip.Label;
  progbarAudio = strip.Bar;

  timerPlayer = new QTimer(this);
  timerPlayer->setInterval(100);
  connect(timerPlayer, &QTimer::timeout, this, [this] { timerPlayerTimer(); });
  connect(btnRecord, &QPushButton::clicked, this, [this] { btnRecordClick(); });
  connect(btnPlay, &QPushButton::clicked, this, [this] { btnPlayClick(); });
  connect(btnPause, &QPushButton::clicked, this, [this] { btnPauseClick(); });
  connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });
  connect(btnAudioSettings, &QPushButton::clicked, this, [this] { btnAudioSettingsClick(); });
}

void TfrmNewVoiceMail::BindCommands() {
  QToolBar* bar = frameNewMailTop1->tbNewMail;
  auto add = [bar](QAction* action, const char* name) -> QToolButton* {
    if (!action) return nullptr;
    bar->addAction(action);
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
    if (button) button->setObjectName(QString::fromLatin1(name));
    return button;
  };
  frameNewMailTop1->btnSend = add(commands_.Send, "btnSend");
  frameNewMailTop1->btnSaveToDrafts = add(commands_.SaveToDrafts, "btnSaveToDrafts");
  BindSendCommands(commands_.Send, commands_.SaveToDrafts);
}

// Recorder and player -----------------------------------------------------

bool TfrmNewVoiceMail::WaveReady() const {
  return FileSize(wave_file_) > 44;
}

void TfrmNewVoiceMail::SetIdleButtons() {
  btnRecord->setEnabled(true);
  btnPlay->setEnabled(WaveReady() || reader_voice_ != 0);
  btnPause->setEnabled(false);
  btnPause->setChecked(false);
  btnStop->setEnabled(false);
}

void TfrmNewVoiceMail::btnAudioSettingsClick() {
  pmenuAudioSettings->popup(btnAudioSettings->mapToGlobal(QPoint(0, btnAudioSettings->height())));
}

void TfrmNewVoiceMail::pmenuAudioSettingsPopup() {
  mnuAudioStereo->setChecked(Stereo);
  (Quality == 0   ? mnuAudioQualityLow
   : Quality == 2 ? mnuAudioQualityHigh
                  : mnuAudioQualityNormal)
      ->setChecked(true);
}

void TfrmNewVoiceMail::btnRecordClick() {
  if (Busy() || recording_pending_ || playing_pending_ || wave_file_.empty()) return;
  Modified = true;
  player_.reset();
  qovra::ui::TVoiceEvents events;
  events.Activate = [this] { audioRecorderActivate(); };
  events.Deactivate = [this](TVoiceEnd reason) { audioRecorderDeactivate(reason); };
  events.Level = [this](int level) { audioRecorderLevel(level); };
  recorder_ =
      qovra::ui::Audio().Record(QString::fromStdString(wave_file_), RecordFormat(Quality, Stereo),
                                qovra::ui::kVoiceRecordLimitBytes, std::move(events));
  if (!recorder_) {
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgNoRecordingDevice");
    return;
  }
  // The new recording replaces the old one, whatever its compression does.
  HasVoice = false;
  reader_voice_ = 0;
  recording_pending_ = true;
  btnRecord->setEnabled(false);
  btnPlay->setEnabled(false);
}

void TfrmNewVoiceMail::audioRecorderActivate() {
  if (!recording_pending_) return;
  btnPause->setEnabled(true);
  btnStop->setEnabled(true);
  btnRecord->setEnabled(false);
  btnPlay->setEnabled(false);
  timerPlayer->start();
}

void TfrmNewVoiceMail::audioRecorderLevel(int level) {
  progbarAudio->SetProgress(std::clamp(level * 3, 0, 100));
}

void TfrmNewVoiceMail::audioRecorderDeactivate(TVoiceEnd reason) {
  if (!recording_pending_) return;
  recording_pending_ = false;
  timerPlayer->stop();
  progbarAudio->SetProgress(0);
  if (recorder_) lblPosition->setText(qovra::ui::FormatVoiceTime(recorder_->LengthMs()));
  btnRecord->setEnabled(false);
  btnPlay->setEnabled(false);
  btnPause->setEnabled(false);
  btnStop->setEnabled(false);
  const qovra::TWindowHandle owner = qovra::ui::HandleOf(this);
  if (reason == TVoiceEnd::SizeLimit) qovra::ShowInfo(owner, "msgVoiceRecordTooLong");
  if (reason == TVoiceEnd::DeviceError) qovra::ShowWarning(owner, "msgAudioDeviceError");
  if (WaveReady()) {
    // Never cancelled: the recording exists only here until it is
    // compressed.
    BeginSoundTool(TSoundToolRun::Compress);
    const qovra::compose::TSoundToolResult result =
        qovra::compose::CompressVoice(wave_file_, compressed_file_, nullptr);
    EndSoundTool();
    HasVoice = result == qovra::compose::TSoundToolResult::Done;
    SetIdleButtons();
    if (!HasVoice) qovra::ShowWarning(owner, "msgVoiceCompressFailed");
  } else {
    SetIdleButtons();
  }
  CloseIfAsked();
}

void TfrmNewVoiceMail::btnStopClick() {
  if (recorder_ && recorder_->Active())
    recorder_->Stop();
  else if (player_ && player_->Active())
    player_->Stop();
}

void TfrmNewVoiceMail::btnPauseClick() {
  qovra::ui::VoiceSession* session = nullptr;
  if (recorder_ && recorder_->Active())
    session = recorder_.get();
  else if (player_ && player_->Active())
    session = player_.get();
  if (session) session->SetPaused(!session->Paused());
  btnPause->setChecked(session && session->Paused());
}

void TfrmNewVoiceMail::UseReaderVoice(qovra::TMailReader& reader) {
  Reader = &reader;
  reader_voice_ = reader.Attachments().empty() ? 0 : reader.Attachments().front().DataOffset;
  SetIdleButtons();
}

bool TfrmNewVoiceMail::Recorded() const {
  return HasVoice || (Reader && reader_voice_ != 0);
}

int64_t TfrmNewVoiceMail::RecordedBytes() const {
  if (HasVoice) return FileSize(compressed_file_);
  if (!Reader || reader_voice_ == 0) return 0;
  const int index = Reader->IndexOfAttachment(reader_voice_);
  return index < 0 ? 0 : Reader->Attachments()[static_cast<size_t>(index)].DataSize;
}

bool TfrmNewVoiceMail::PrepareReaderVoice() {
  const qovra::TWindowHandle owner = qovra::ui::HandleOf(this);
  if (StatusBusy) StatusBusy(QString::fromStdString(qovra::GetMsg("msgOpeningAttachment")));
  const bool extracted = Reader->SaveAttachment(reader_voice_, /*by_position=*/false, ProgressBar,
                                                qovra::ProgressCallback, /*append_name=*/false,
                                                qovra::Utf8ToUtf16(compressed_file_));
  if (StatusReady) StatusReady();
  if (!extracted) {
    std::fprintf(stderr, "qovra: cannot extract the recording to %s\n", compressed_file_.c_str());
    qovra::ShowWarning(owner, "msgVoiceDecodeFailed");
    return false;
  }
  btnRecord->setEnabled(false);
  btnPlay->setEnabled(false);
  BeginSoundTool(TSoundToolRun::Decode);
  const qovra::compose::TSoundToolResult result =
      qovra::compose::DecodeVoice(compressed_file_, wave_file_, [this] { return cancel_decode_; });
  EndSoundTool();
  SetIdleButtons();
  if (result == qovra::compose::TSoundToolResult::Done && WaveReady()) return true;
  if (result != qovra::compose::TSoundToolResult::Cancelled)
    qovra::ShowWarning(owner, "msgVoiceDecodeFailed");
  CloseIfAsked();
  return false;
}

void TfrmNewVoiceMail::BeginSoundTool(TSoundToolRun run) {
  sound_tool_ = run;
  cancel_decode_ = false;
  focus_before_tool_ = focusWidget();
  // Nothing of the window takes a click meanwhile; the status strip stays
  // as it is.
  for (QWidget* w :
       {static_cast<QWidget*>(frameNewMailTop1), pnlMailBody, static_cast<QWidget*>(TntMainMenu1)})
    w->setEnabled(false);
  setCursor(Qt::BusyCursor);
}

void TfrmNewVoiceMail::EndSoundTool() {
  sound_tool_ = TSoundToolRun::None;
  for (QWidget* w :
       {static_cast<QWidget*>(frameNewMailTop1), pnlMailBody, static_cast<QWidget*>(TntMainMenu1)})
    w->setEnabled(true);
  unsetCursor();
  if (focus_before_tool_ && focus_before_tool_->isEnabled()) focus_before_tool_->setFocus();
  focus_before_tool_ = nullptr;
}

void TfrmNewVoiceMail::CloseIfAsked() {
  if (!close_asked_) return;
  // After the caller's own messages, from the event loop.
  QTimer::singleShot(0, this, [this] {
    if (std::exchange(close_asked_, false)) reject();
  });
}

void TfrmNewVoiceMail::btnPlayClick() {
  if (Busy() || recording_pending_ || playing_pending_) return;
  // A window on a mail's recording decodes it on the first Play.
  if (!WaveReady() && !(Reader && reader_voice_ != 0 && PrepareReaderVoice())) return;
  qovra::ui::TVoiceEvents events;
  events.Activate = [this] { audioPlayerActivate(); };
  events.Deactivate = [this](TVoiceEnd reason) { audioPlayerDeactivate(reason); };
  player_ = qovra::ui::Audio().Play(QString::fromStdString(wave_file_), std::move(events));
  if (!player_) {
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgNoPlaybackDevice");
    return;
  }
  playing_pending_ = true;
  btnRecord->setEnabled(false);
  btnPlay->setEnabled(false);
}

void TfrmNewVoiceMail::audioPlayerActivate() {
  if (!playing_pending_) return;
  btnPause->setEnabled(true);
  btnStop->setEnabled(true);
  btnRecord->setEnabled(false);
  btnPlay->setEnabled(false);
  wave_length_ms_ = player_ ? player_->LengthMs() : 0;
  timerPlayer->start();
}

void TfrmNewVoiceMail::audioPlayerDeactivate(TVoiceEnd reason) {
  if (!playing_pending_) return;
  playing_pending_ = false;
  timerPlayer->stop();
  qovra::compose::ShowVoicePosition({pnlStatusBar, lblPosition, progbarAudio}, 0, wave_length_ms_);
  SetIdleButtons();
  if (reason == TVoiceEnd::DeviceError)
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgAudioDeviceError");
}

void TfrmNewVoiceMail::timerPlayerTimer() {
  if (recorder_ && recorder_->Active()) {
    lblPosition->setText(qovra::ui::FormatVoiceTime(recorder_->PositionMs()));
  } else if (player_ && player_->Active()) {
    qovra::compose::ShowVoicePosition({pnlStatusBar, lblPosition, progbarAudio},
                                      player_->PositionMs(), wave_length_ms_);
  }
}

void TfrmNewVoiceMail::StopAll() {
  // The ends are handled here, not later from the queue, so the wave file
  // is closed and compressed before anything asks about it.
  if (recorder_ && recorder_->Active()) {
    recorder_->Stop();
    audioRecorderDeactivate(TVoiceEnd::Stopped);
  }
  if (player_ && player_->Active()) {
    player_->Stop();
    audioPlayerDeactivate(TVoiceEnd::Stopped);
  }
  timerPlayer->stop();
}

// Container and closing ---------------------------------------------------

bool TfrmNewVoiceMail::WriteMessage(qovra::TStream& stream, std::string_view recipients,
                                    void* progress_data, qovra::TProgressProc progress) {
  qovra::TMailWriter writer(stream);
  writer.AddMailHeaders(qovra::Session.OwnContact.Email,
                        frameNewMailTop1->eSubject->text().toStdU16String(), recipients);
  writer.AddField("body", "");
  if (HasVoice) {
    if (!writer.AddFile(qovra::Utf8ToUtf16(compressed_file_), progress, u"voice.mp3",
                        progress_data)) {
      std::fprintf(stderr, "qovra: cannot attach %s\n", compressed_file_.c_str());
      return false;
    }
    // The recording is in the mail now; Play has nothing left.
    (void)qovra::WipeAndDeleteFile(wave_file_, frameNewMailTop1->chkFAU->isChecked());
    btnPlay->setEnabled(false);
  } else if (Reader && reader_voice_ != 0) {
    if (!qovra::compose::CopyReaderAttachment(*Reader, reader_voice_, writer, progress_data,
                                              progress))
      return false;
  }
  return writer.Finish();
}

bool TfrmNewVoiceMail::ConfirmClose() {
  if (Busy()) {
    // Runs once qovrasnd has ended. A decoding is given up (the mail holds
    // the recording); a compression never is.
    close_asked_ = true;
    if (sound_tool_ == TSoundToolRun::Decode) cancel_decode_ = true;
    return false;
  }
  StopAll();
  // A close asked while StopAll compressed is this one.
  close_asked_ = false;
  const bool something = Recorded() || !frameNewMailTop1->eTo->text().isEmpty() ||
                         !frameNewMailTop1->eSubject->text().isEmpty();
  if (!Modified || !something) return true;
  const int answer = qovra::AskYesNoCancel(qovra::ui::HandleOf(this), "msgSaveToDraftsPrompt");
  if (answer == qovra::kMsgResultNo) return true;
  if (answer == qovra::kMsgResultYes) {
    if (commands_.SaveToDrafts)
      commands_.SaveToDrafts->trigger();
    else
      qovra::ui::ShowNotAvailable(this, QString());
  }
  return false;
}
