#include "qovra/ui/msg_dialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>

#include "base/messages.h"
#include "base/msg_format.h"
#include "qovra/ui/audio_backend.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/sound.h"
#include "qovra/ui/widgets.h"

namespace {

constexpr int kIconSize = 48;
constexpr int kMaxTextHeight = 200;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kOutOfView = -1006;
// Owners narrower than this cannot carry a readable dialog.
constexpr int kMinOwnerWidth = 300;
constexpr int kScreenDialogWidth = 450;

const QColor kFormColor(242, 249, 255);
const QColor kFormFrame(0, 64, 128);

TfrmMsg::AnswerHook g_answer_hook;

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(kOutOfView, 0, kButtonWidth, kButtonHeight);
  return button;
}

}  // namespace

TfrmMsg::TfrmMsg(QWidget* parent)
    : TSlideDialog(parent, {.min_owner_width = kMinOwnerWidth, .screen_width = kScreenDialogWidth}),
      imgLogo(new QLabel(this)),
      sbMsg(new QScrollArea(this)),
      lblPrompt(new QLabel),
      btnOK(MakeButton(this, "btnOK", QStringLiteral("OK"))),
      btnNo(MakeButton(this, "btnNo", QStringLiteral("No"))),
      btnCancel(MakeButton(this, "btnCancel", QStringLiteral("Cancel"))) {
  setObjectName(QStringLiteral("frmMsg"));
  SetColors(kFormColor, kFormFrame);
  resize(141, 64);

  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  imgLogo->setGeometry(4, 4, kIconSize, kIconSize);
  imgLogo->setAttribute(Qt::WA_TranslucentBackground);

  sbMsg->setObjectName(QStringLiteral("sbMsg"));
  sbMsg->setFrameShape(QFrame::NoFrame);
  sbMsg->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  sbMsg->setFocusPolicy(Qt::NoFocus);
  sbMsg->move(kIconSize + 8, 4);
  lblPrompt->setObjectName(QStringLiteral("lblPrompt"));
  lblPrompt->setWordWrap(true);
  lblPrompt->setTextFormat(Qt::PlainText);
  lblPrompt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lblPrompt->setAutoFillBackground(true);
  sbMsg->setWidget(lblPrompt);
  sbMsg->setWidgetResizable(false);

  btnOK->setDefault(true);
  btnOK->setFocusPolicy(Qt::StrongFocus);
  btnNo->setFocusPolicy(Qt::ClickFocus);
  btnCancel->setFocusPolicy(Qt::ClickFocus);
  setTabOrder(btnOK, btnNo);
  setTabOrder(btnNo, btnCancel);
  connect(btnOK, &QPushButton::clicked, this, [this] { done(ok_result_); });
  connect(btnNo, &QPushButton::clicked, this, [this] { done(qovra::kMsgResultNo); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { done(qovra::kMsgResultCancel); });

  min_height_ = kIconSize + 8;
}

void TfrmMsg::SetAnswerHook(AnswerHook hook) {
  g_answer_hook = std::move(hook);
}

int TfrmMsg::Execute(QWidget* owner, const QString& text, int flags, const QString& ok_caption,
                     const QString& no_caption, const QString& cancel_caption) {
  Prepare(owner, text, flags, ok_caption, no_caption, cancel_caption);
  if (g_answer_hook) {
    setResult(qovra::kMsgResultCancel);
    show();
    FinishSlide();
    const int answer = g_answer_hook(*this);
    hide();
    return answer;
  }
  return exec();
}

void TfrmMsg::Prepare(QWidget* owner, const QString& text, int flags, const QString& ok_caption,
                      const QString& no_caption, const QString& cancel_caption) {
  PlaySound(flags);
  PlaceOverOwner(owner);
  // A written "\n", CR LF and a lone CR all break the line.
  QString shown = text;
  shown.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  lblPrompt->setText(shown);
  btnOK->setText(ok_caption);
  btnNo->setText(no_caption);
  btnCancel->setText(cancel_caption);
  for (QPushButton* button : {btnOK, btnNo, btnCancel}) {
    button->resize(std::max(kButtonWidth, button->sizeHint().width()), kButtonHeight);
  }
  LayoutText();
  ApplyLook(flags);
  if (flags & 8) {
    ok_result_ = qovra::kMsgResultYes;
  } else if (flags & 4) {
    ok_result_ = qovra::kMsgResultYes;
  } else {
    ok_result_ = qovra::kMsgResultOk;
  }
  flags_ = flags;
  StartSlide(std::max(sbMsg->height() + btnOK->height() + 12, min_height_));
}

void TfrmMsg::LayoutText() {
  const int box_width = std::max(0, width() - kIconSize - 12);
  int label_height = lblPrompt->heightForWidth(box_width);
  if (label_height < 0) label_height = lblPrompt->sizeHint().height();
  const int box_height = std::min(label_height, kMaxTextHeight);
  sbMsg->setGeometry(kIconSize + 8, 4, box_width, box_height);
  if (label_height > kMaxTextHeight) {
    // The scroll bar takes its width from the text, which wraps again.
    const int bar = sbMsg->verticalScrollBar()->sizeHint().width();
    const int inner = std::max(0, box_width - bar);
    lblPrompt->resize(inner, lblPrompt->heightForWidth(inner));
  } else {
    lblPrompt->resize(box_width, label_height);
  }
}

void TfrmMsg::ApplyLook(int flags) {
  icon_name_.clear();
  QColor back = kFormColor;
  QColor frame = kFormFrame;
  auto look = [&](const char* icon, QColor frame_color, QColor back_color) {
    icon_name_ = QString::fromLatin1(icon);
    frame = frame_color;
    back = back_color;
  };
  if (flags & 0x20) look("ico_confirm48", QColor(162, 162, 0), QColor(255, 255, 128));
  if ((flags & 0x30) == 0x30) look("ico_error48", QColor(162, 0, 0), QColor(255, 236, 236));
  if (flags & 0x10) look("ico_error48", QColor(162, 0, 0), QColor(255, 236, 236));
  if (flags & 0x40) look("ico_info48", QColor(0, 162, 0), QColor(236, 255, 236));

  if (icon_name_.isEmpty()) {
    imgLogo->clear();
  } else {
    imgLogo->setPixmap(qovra::ui::WhiteAsTransparent(qovra::ui::AssignPngResource(icon_name_)));
  }
  SetColors(back, frame);
  QPalette palette = sbMsg->palette();
  palette.setColor(QPalette::Window, back);
  sbMsg->setPalette(palette);
  sbMsg->viewport()->setPalette(palette);
  sbMsg->viewport()->setAutoFillBackground(true);
  lblPrompt->setPalette(palette);
}

void TfrmMsg::PlaySound(int flags) {
  qovra::ui::AudioBackend& audio = qovra::ui::Audio();
  if (audio.OutputDeviceCount() < 1) {
    audio.Beep(flags);
    return;
  }
  int id = qovra::ui::kSoundInformation;
  if (flags & 0x10) {
    id = qovra::ui::kSoundError;
  } else if (flags & 0x20) {
    id = qovra::ui::kSoundQuestion;
  }
  const QString file = qovra::ui::DialogSoundFile(id);
  const QFileInfo info(file);
  if (!file.isEmpty() && info.isFile() && info.size() > 0 && audio.PlayFile(file)) return;
  audio.Beep(flags);
}

void TfrmMsg::LayoutButtons() {
  QList<QPushButton*> order;
  if (flags_ & 8) {
    order = {btnCancel, btnNo, btnOK};
    btnCancel->setFocusPolicy(Qt::StrongFocus);
  } else if (flags_ & 4) {
    order = {btnNo, btnOK};
  } else {
    order = {btnOK};
  }
  int right = width() - 4;
  for (QPushButton* button : order) {
    button->move(right - button->width(), ClientHeight() - 4 - button->height());
    right -= button->width() + 4;
  }
}

void TfrmMsg::reject() {
  done(qovra::kMsgResultCancel);
}

int ShowMsgDialog(QWidget* owner, const QString& text, int flags, const QString& ok_caption,
                  const QString& no_caption, const QString& cancel_caption) {
  TfrmMsg dialog;
  return dialog.Execute(owner, text, flags, ok_caption, no_caption, cancel_caption);
}

namespace qovra::ui {

int TMsgDialogUi::ShowMsgDialog(TWindowHandle owner, const std::string& text, int flags,
                                const std::string& ok_caption, const std::string& no_caption,
                                const std::string& cancel_caption) {
  return ::ShowMsgDialog(WidgetOf(owner), QString::fromStdString(text), flags,
                         QString::fromStdString(ok_caption), QString::fromStdString(no_caption),
                         QString::fromStdString(cancel_caption));
}

TWindowHandle TMsgDialogUi::ActiveWindow() {
  return HandleOf(QApplication::activeWindow());
}

TWindowHandle TMsgDialogUi::ActiveFormWindow() {
  QWidget* modal = QApplication::activeModalWidget();
  return HandleOf(modal ? modal : QApplication::activeWindow());
}

TMsgDialogUi& MessageDialogUi() {
  static TMsgDialogUi ui;
  return ui;
}

void ShowNotAvailable(QWidget* owner, const QString& caption) {
  (void)qovra::ShowMessageText(
      HandleOf(owner),
      qovra::FormatMsgArgs(qovra::GetMsg("msgFunctionNotAvailable"), caption.toStdString()),
      qovra::kMsgIconInformation);
}

}  // namespace qovra::ui
