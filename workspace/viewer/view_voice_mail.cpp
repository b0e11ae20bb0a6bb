// TfrmViewVoiceMail: creation, the player and closing.
#include "qovra/workspace/view_voice_mail.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <cstdio>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/secure_wipe.h"
#include "base/utf.h"
#include "mail/voice_length.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/controls/size_grip.h"
#include "qovra/ui/apply_language.h"
#include "qovra/ui/audio_backend.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/sound_tool.h"
#include "qovra/workspace/voice_position.h"
#include "seam/ui_seam.h"

using qovra::ui::TVoiceEnd;

namespace {

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

}  // namespace

TfrmViewVoiceMail::TfrmViewVoiceMail(const TViewCommands& commands, QWidget* parent)
    : TViewForm(parent) {
  setObjectName(QStringLiteral("frmViewVoiceMail"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setFixedHeight(271);
  setMinimumWidth(437);
  resize(560, 271);

  // The save entry is this window's own: its caption speaks of the
  // recording, while the main window's command keeps its own.
  mnuSaveAttachments = qovra::ui::NamedAction(this, "mnuSaveAttachments");
  if (commands.SaveAttachments) {
    QAction* target = commands.SaveAttachments;
    connect(mnuSaveAttachments, &QAction::triggered, target, &QAction::trigger);
    mnuSaveAttachments->setEnabled(target->isEnabled());
    connect(target, &QAction::changed, mnuSaveAttachments,
            [this, target] { mnuSaveAttachments->setEnabled(target->isEnabled()); });
  }
  TViewCommands own = commands;
  own.SaveAttachments = commands.SaveAttachments ? mnuSaveAttachments : nullptr;
  frameViewMailTop1 = new TframeViewMailTop(own, this);

  pnlMailBody = new QWidget(this);
  pnlMailBody->setObjectName(QStringLiteral("pnlMailBody"));
  btnPlay = qovra::ui::PictureButton(pnlMailBody, "btnPlay", "audio_play16");
  btnPause = qovra::ui::PictureButton(pnlMailBody, "btnPause", "audio_pause16");
  btnStop = qovra::ui::PictureButton(pnlMailBody, "btnStop", "audio_stop16");
  btnPause->setCheckable(true);
  auto* row = new QHBoxLayout(pnlMailBody);
  row->setContentsMargins(8, 8, 8, 8);
  for (QPushButton* b : {btnPlay, btnPause, btnStop}) row->addWidget(b);
  row->addStretch(1);
  btnPlay->setEnabled(false);
  btnPause->setEnabled(false);
  btnStop->setEnabled(false);

  const qovra::compose::TVoicePositionBar strip = qovra::compose::BuildVoicePositionBar(this);
  pnlStatusBar = strip.Panel;
  lblPosition = strip.Label;
  progbarAudio = strip.Bar;

  frameViewMailFooter1 = new TframeViewMailFooter(this);
  Grip = new qovra::ui::TSizeGrip(this);
  Grip->PlaceOnPanel(frameViewMailFooter1->pnlFooter);

  timerPlayer = new QTimer(this);
  timerPlayer->setObjectName(QStringLiteral("timerPlayer"));
  timerPlayer->setInterval(100);
  connect(timerPlayer, &QTimer::timeout, this, [this] { timerPlayerTimer(); });
  connect(btnPlay, &QPushButton::clicked, this, [this] { btnPlayClick(); });
  connect(btnPause, &QPushButton::clicked, this, [this] { btnPauseClick(); });
  connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });

  acClose = qovra::ui::NamedAction(this, "acClose");
  acClose->setShortcut(QKeySequence(Qt::Key_Escape));
  addAction(acClose);
  connect(acClose, &QAction::triggered, this, [this] { done(2); });

  TntMainMenu1 = new QMenuBar(this);
  TntMainMenu1->setObjectName(QStringLiteral("TntMainMenu1"));
  mnuMessage = TntMainMenu1->addMenu(QString());
  mnuMessage->setObjectName(QStringLiteral("mnuMessage"));
  for (QAction* a : {commands.Reply, commands.Forward, own.SaveAttachments, commands.SignDetails})
    if (a) mnuMessage->addAction(a);
  mnuMessage->addSeparator();
  QAction* cancel = mnuMessage->addAction(QString());
  cancel->setObjectName(QStringLiteral("mnuCancel"));
  connect(cancel, &QAction::triggered, acClose, &QAction::trigger);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->setMenuBar(TntMainMenu1);
  column->addWidget(frameViewMailTop1);
  column->addWidget(pnlMailBody);
  column->addStretch(1);
  column->addWidget(pnlStatusBar);
  column->addWidget(frameViewMailFooter1);

  qovra::ApplyLanguage(this);
  qovra::ApplyLanguage(frameViewMailTop1, frameViewMailTop1);
  mnuSaveAttachments->setText(Msg("btnSaveVoiceCaption"));
  mnuSaveAttachments->setToolTip(Msg("btnSaveVoiceHint"));
  mnuSaveAttachments->setStatusTip(Msg("btnSaveVoiceHint"));
  lblPosition->setText(qovra::ui::FormatVoiceTime(0));
}

TfrmViewVoiceMail::~TfrmViewVoiceMail() {
  player_.reset();
  ReleaseFiles();
}

bool TfrmViewVoiceMail::Admin() const {
  return (Mail.Flags & qovra::mfAdminOnly) != 0;
}

void TfrmViewVoiceMail::ReleaseFiles() {
  for (std::string* file : {&wave_file_, &compressed_file_}) {
    if (!file->empty()) (void)qovra::WipeAndDeleteFile(*file, Admin());
    file->clear();
  }
}

void TfrmViewVoiceMail::SetSaveVoiceIcon(const QIcon& icon) {
  mnuSaveAttachments->setIcon(icon);
}

void TfrmViewVoiceMail::FillFromReader() {
  if (!Reader) return;
  frameViewMailTop1->eFrom->setText(QString::fromStdString(Reader->From()));
  frameViewMailTop1->eTo->setText(QString::fromStdString(Reader->To()));
  frameViewMailTop1->eSubject->setText(QString::fromStdU16String(Reader->Subject()));
  // The caption is a format with one argument.
  setWindowTitle(QString::fromStdString(
      qovra::FormatMsg(windowTitle().toStdString(), {" " + Reader->From()})));
  SetIdleButtons();
  ShowRecordingLength();
}

void TfrmViewVoiceMail::ShowRecordingLength() {
  if (!Reader || Reader->Attachments().empty()) return;
  const qovra::TMailAttachmentInfo& voice = Reader->Attachments().front();
  qovra::TMailReader& reader = *Reader;
  const qovra::TVoiceLength length = qovra::Mp3VoiceLength(
      [&](int64_t position, size_t count, std::string& out) {
        out.resize(count);
        if (!reader.SeekData(voice.DataOffset + position)) return false;
        const size_t got = count == 0 ? 0 : reader.ReadData(out.data(), count);
        out.resize(got);
        return true;
      },
      voice.DataSize);
  if (!length.Ok) {
    std::fprintf(stderr, "qovra: the length of the recording: %s\n", length.Error.c_str());
    return;
  }
  wave_length_ms_ = length.Ms;
  qovra::compose::ShowVoicePosition({pnlStatusBar, lblPosition, progbarAudio}, 0, wave_length_ms_);
}

void TfrmViewVoiceMail::showEvent(QShowEvent* event) {
  if (!centred_) {
    centred_ = true;
    // Wide enough for every tool bar button.
    const int wanted = frameViewMailTop1->tbViewMail->sizeHint().width();
    if (width() < wanted) resize(wanted, height());
    if (parentWidget()) {
      const QRect owner = parentWidget()->window()->frameGeometry();
      move(owner.center() - rect().center());
    }
  }
  TViewForm::showEvent(event);
  frameViewMailFooter1->Arrange(qovra::ui::TSizeGrip::kSize);
}

void TfrmViewVoiceMail::resizeEvent(QResizeEvent* event) {
  TViewForm::resizeEvent(event);
  frameViewMailFooter1->Arrange(qovra::ui::TSizeGrip::kSize);
}

// Player ------------------------------------------------------------------

void TfrmViewVoiceMail::SetIdleButtons() {
  btnPlay->setEnabled(Reader && !Reader->Attachments().empty());
  btnPause->setEnabled(false);
  btnPause->setChecked(false);
  btnStop->setEnabled(false);
}

bool TfrmViewVoiceMail::PrepareWave(bool& cancelled) {
  cancelled = false;
  player_.reset();  // the last playback has ended; its file goes next
  ReleaseFiles();
  compressed_file_ = qovra::compose::NewVoiceTempFile(".mp3");
  wave_file_ = qovra::compose::NewVoiceTempFile(".wav");
  if (compressed_file_.empty() || wave_file_.empty()) return false;
  Busy("msgOpeningAttachment");
  const bool extracted =
      Reader->SaveAttachment(0, /*by_position=*/true, ProgressBar, qovra::ProgressCallback,
                             /*append_name=*/false, qovra::Utf8ToUtf16(compressed_file_));
  Ready();
  if (!extracted) {
    std::fprintf(stderr, "qovra: cannot extract the recording to %s\n", compressed_file_.c_str());
    return false;
  }
  cancel_decode_ = false;
  const qovra::compose::TSoundToolResult result =
      qovra::compose::DecodeVoice(compressed_file_, wave_file_, [this] { return cancel_decode_; });
  cancelled = result == qovra::compose::TSoundToolResult::Cancelled;
  return result == qovra::compose::TSoundToolResult::Done;
}

void TfrmViewVoiceMail::btnPlayClick() {
  if (!Reader || Reader->Attachments().empty() || preparing_ || playing_pending_ || closed_) return;
  const qovra::TWindowHandle owner = qovra::ui::HandleOf(this);
  if (qovra::ui::Audio().OutputDeviceCount() < 1) {
    qovra::ShowWarning(owner, "msgNoPlaybackDevice");
    return;
  }
  preparing_ = true;
  btnPlay->setEnabled(false);
  bool cancelled = false;
  const bool ready = PrepareWave(cancelled);
  preparing_ = false;
  if (cancelled || closed_) return;
  if (!ready) {
    qovra::ShowWarning(owner, "msgVoiceDecodeFailed");
    SetIdleButtons();
    return;
  }
  qovra::ui::TVoiceEvents events;
  events.Activate = [this] { audioPlayerActivate(); };
  events.Deactivate = [this](TVoiceEnd reason) { audioPlayerDeactivate(reason); };
  player_ = qovra::ui::Audio().Play(QString::fromStdString(wave_file_), std::move(events));
  if (!player_) {
    qovra::ShowWarning(owner, "msgNoPlaybackDevice");
    SetIdleButtons();
    return;
  }
  playing_pending_ = true;
}

void TfrmViewVoiceMail::btnPauseClick() {
  const bool active = player_ && player_->Active();
  if (active) player_->SetPaused(!player_->Paused());
  btnPause->setChecked(active && player_->Paused());
}

void TfrmViewVoiceMail::btnStopClick() {
  if (player_ && player_->Active()) player_->Stop();
}

void TfrmViewVoiceMail::audioPlayerActivate() {
  if (!playing_pending_) return;
  btnPlay->setEnabled(false);
  btnPause->setEnabled(true);
  btnStop->setEnabled(true);
  wave_length_ms_ = player_ ? player_->LengthMs() : 0;
  timerPlayer->start();
}

void TfrmViewVoiceMail::audioPlayerDeactivate(TVoiceEnd reason) {
  if (!playing_pending_) return;
  playing_pending_ = false;
  timerPlayer->stop();
  qovra::compose::ShowVoicePosition({pnlStatusBar, lblPosition, progbarAudio}, 0, wave_length_ms_);
  SetIdleButtons();
  if (reason == TVoiceEnd::DeviceError && !closed_)
    qovra::ShowWarning(qovra::ui::HandleOf(this), "msgAudioDeviceError");
}

void TfrmViewVoiceMail::timerPlayerTimer() {
  if (!player_ || !player_->Active()) return;
  qovra::compose::ShowVoicePosition({pnlStatusBar, lblPosition, progbarAudio},
                                    player_->PositionMs(), wave_length_ms_);
}

void TfrmViewVoiceMail::done(int result) {
  closed_ = true;
  cancel_decode_ = true;
  if (player_ && player_->Active()) {
    player_->Stop();
    audioPlayerDeactivate(TVoiceEnd::Stopped);
  }
  timerPlayer->stop();
  TViewForm::done(result);
}
