#include "qovra/addressbook/dup_dialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "qovra/addressbook/address_book.h"
#include "qovra/ui/audio_backend.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/sound.h"
#include "qovra/ui/widgets.h"
#include "seam/ui_seam.h"

namespace {

constexpr int kLogoSize = 48;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 25;
constexpr int kOutOfView = -1000;
// Without an owner the dialog stands in the screen's centre this wide.
constexpr int kScreenWidth = 450;

const QColor kFrame(162, 162, 0);
const QColor kBack(255, 255, 128);

QPushButton* MakeButton(QWidget* parent, const char* name, int result, QDialog* dialog) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  button->setGeometry(kOutOfView, 0, kButtonWidth, kButtonHeight);
  QObject::connect(button, &QPushButton::clicked, dialog,
                   [dialog, result] { dialog->done(result); });
  return button;
}

}  // namespace

TfrmDupMsg::TfrmDupMsg(QWidget* parent)
    : TSlideDialog(parent, {.min_owner_width = 0, .screen_width = kScreenWidth}),
      imgLogo(new QLabel(this)),
      lblPrompt(new QLabel(this)),
      btnReplace(MakeButton(this, "btnReplace", qovra::kAbReplaced, this)),
      btnReplaceAll(MakeButton(this, "btnReplaceAll", qovra::kAbReplacedAll, this)),
      btnSkip(MakeButton(this, "btnSkip", qovra::kAbSkipped, this)),
      btnSkipAll(MakeButton(this, "btnSkipAll", qovra::kAbSkippedAll, this)),
      btnCancel(MakeButton(this, "btnCancel", qovra::kAbRefused, this)) {
  setObjectName(QStringLiteral("frmDupMsg"));
  SetColors(kBack, kFrame);

  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  imgLogo->setGeometry(4, 4, kLogoSize, kLogoSize);
  imgLogo->setAttribute(Qt::WA_TranslucentBackground);
  imgLogo->setPixmap(
      qovra::ui::WhiteAsTransparent(qovra::ui::AssignPngResource(QStringLiteral("ico_confirm48"))));

  lblPrompt->setObjectName(QStringLiteral("lblPrompt"));
  lblPrompt->setWordWrap(true);
  lblPrompt->setTextFormat(Qt::PlainText);
  lblPrompt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lblPrompt->move(kLogoSize + 8, 4);

  btnReplace->setDefault(true);
  setTabOrder(btnReplace, btnReplaceAll);
  setTabOrder(btnReplaceAll, btnSkip);
  setTabOrder(btnSkip, btnSkipAll);
  setTabOrder(btnSkipAll, btnCancel);

  min_height_ = kLogoSize + 8;
  qovra::ui::ApplyLanguageToForm(this);
}

int TfrmDupMsg::Execute(QWidget* owner, const QString& text) {
  Prepare(owner, text);
  return exec();
}

void TfrmDupMsg::Prepare(QWidget* owner, const QString& text) {
  PlayQuestionSound();
  PlaceOverOwner(owner);
  const int label_width = std::max(0, width() - kLogoSize - 8 - 4);
  lblPrompt->setMaximumWidth(label_width);
  lblPrompt->setText(text);
  lblPrompt->resize(label_width, lblPrompt->heightForWidth(label_width));
  // One width for all five, wide enough for the longest caption.
  int button_width = kButtonWidth;
  for (QPushButton* b : {btnReplace, btnReplaceAll, btnSkip, btnSkipAll, btnCancel}) {
    button_width = std::max(button_width, b->sizeHint().width());
  }
  for (QPushButton* b : {btnReplace, btnReplaceAll, btnSkip, btnSkipAll, btnCancel}) {
    b->resize(button_width, kButtonHeight);
  }
  StartSlide(std::max(lblPrompt->height() + 3 * btnReplace->height() + 20, min_height_));
}

void TfrmDupMsg::PlayQuestionSound() {
  qovra::ui::AudioBackend& audio = qovra::ui::Audio();
  if (audio.OutputDeviceCount() < 1) {
    audio.Beep(qovra::kMsgIconQuestion);
    return;
  }
  const QString file = qovra::ui::DialogSoundFile(qovra::ui::kSoundQuestion);
  if (!file.isEmpty() && QFileInfo(file).isFile()) (void)audio.PlayFile(file);
}

void TfrmDupMsg::LayoutButtons() {
  const int w = width();
  const int h = height();
  const int bw = btnReplace->width();
  const int bh = btnReplace->height();
  btnReplace->move(w - 2 * bw - 8, h - 3 * bh - 12);
  btnReplaceAll->move(w - bw - 4, h - 3 * bh - 12);
  btnSkip->move(w - 2 * bw - 8, h - 2 * bh - 8);
  btnSkipAll->move(w - bw - 4, h - 2 * bh - 8);
  btnCancel->move(w - bw - 4, h - bh - 4);
  btnReplace->setFocus();
}

void TfrmDupMsg::reject() {
  done(qovra::kAbRefused);
}

int ShowDupDialog(QWidget* owner, const QString& text) {
  TfrmDupMsg dialog;
  return dialog.Execute(owner ? owner : QApplication::activeWindow(), text);
}

namespace qovra::addressbook {

int TDupDialogUi::ShowDupDialog(TWindowHandle owner, const std::string& text) {
  return ::ShowDupDialog(ui::WidgetOf(owner), QString::fromStdString(text));
}

TDupDialogUi& DupDialogWindowUi() {
  static TDupDialogUi ui;
  return ui;
}

}  // namespace qovra::addressbook
