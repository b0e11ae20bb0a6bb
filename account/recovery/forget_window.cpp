// TfrmForget: the wizard's window, its pages and texts, and the steps of
// its Next button.
#include "qovra/account/forget_window.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <string>

#include "base/base64.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "base/secure_wipe.h"
#include "base/text_utils.h"
#include "commands/account_commands.h"
#include "net/server_request.h"
#include "net/session_setup.h"
#include "qovra/controls/balloon_tip.h"
#include "qovra/controls/char_set.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"

using qovra::ui::HandleOf;
using qovra::ui::TEditEx;

namespace {

constexpr int kAnswerMaxLength = 32;
constexpr int kCaptchaMaxLength = 32;
constexpr int kMinPasswordLength = 4;
constexpr int kFirstQuestion = 1;
constexpr int kLastQuestion = 5;
constexpr int kBalloonWarning = 2, kBalloonError = 3;

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

qovra::TCommandOwner CommandOwner(QWidget* form) {
  return {HandleOf(form), "TfrmForget",
          frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr};
}

}  // namespace

TfrmForget::TfrmForget(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmForget"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                 Qt::WindowTitleHint);
  setWindowIcon(qovra::ui::MainIcon());
  BuildLayout();

  // TntFormCreate.
  imgLogo->setPixmap(
      QPixmap::fromImage(qovra::ui::LoadPngResource(QStringLiteral("ico_wizard48"))));
  ApplyTexts();
  qovra::ui::ApplyLanguageToForm(this);
  pgForget->setCurrentIndex(kPageLogin);
  lblTop->setText(pgForget->tabText(kPageLogin));
  captcha_ = QImage(imgCaptcha->size(), QImage::Format_RGB32);
  captcha_.fill(palette().color(QPalette::Window));
  imgCaptcha->setPixmap(QPixmap::fromImage(captcha_));
  expected_answer_.clear();
  question_number_ = 0;
  for (TEditEx* e : {eNewPassword, eConfirmPassword}) {
    e->setEchoMode(QLineEdit::Password);
    e->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 9679; }"));
  }
  eLogin->setFocus();
  request_failures_ = 0;

  // pgForgetChanging: only the wizard itself turns the pages.
  connect(pgForget, &QTabWidget::currentChanged, this, [this](int index) {
    if (!page_change_allowed_ && index != current_page_) pgForget->setCurrentIndex(current_page_);
  });
  connect(eCaptcha, &QLineEdit::textEdited, this, [this](const QString& text) {
    const QString lower = text.toLower();
    if (lower == text) return;
    const int cursor = eCaptcha->cursorPosition();
    eCaptcha->setText(lower);
    eCaptcha->setCursorPosition(cursor);
  });
  connect(btnNext, &QPushButton::clicked, this, &TfrmForget::btnNextClick);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmForget::reject);
  imgCaptcha->installEventFilter(this);
}

TfrmForget::~TfrmForget() {
  for (TEditEx* e : {eNewPassword, eConfirmPassword}) qovra::ui::WipeEditText(e);
  qovra::WipeString(expected_answer_);
  if (const auto balloon = qovra::ui::CurrentBalloon()) {
    if (balloon->field && isAncestorOf(balloon->field)) qovra::ui::HideBalloon();
  }
}

void TfrmForget::BuildLayout() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 12);
  root->setSpacing(10);

  // The heading band: the page's caption beside the logo.
  auto* band = new QWidget(this);
  band->setObjectName(QStringLiteral("pnlTop"));
  band->setAutoFillBackground(true);
  QPalette band_palette = band->palette();
  band_palette.setColor(QPalette::Window, palette().color(QPalette::Base));
  band->setPalette(band_palette);
  auto* head = new QHBoxLayout(band);
  head->setContentsMargins(16, 10, 16, 10);
  lblTop = new QLabel(band);
  lblTop->setObjectName(QStringLiteral("lblTop"));
  QFont big = lblTop->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.2);
  lblTop->setFont(big);
  imgLogo = new QLabel(band);
  imgLogo->setObjectName(QStringLiteral("imgLogo"));
  imgLogo->setFixedSize(48, 48);
  head->addWidget(lblTop, 1);
  head->addWidget(imgLogo);
  root->addWidget(band);

  pgForget = new QTabWidget(this);
  pgForget->setObjectName(QStringLiteral("pgForget"));
  pgForget->tabBar()->hide();
  pgForget->setDocumentMode(true);
  auto page = [this](const char* name) {
    auto* w = new QWidget(pgForget);
    w->setObjectName(QLatin1String(name));
    pgForget->addTab(w, QString());
    return w;
  };
  auto label = [](QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    return l;
  };
  auto edit = [](QWidget* parent, const char* name, int max_length) {
    auto* e = new TEditEx(parent);
    e->setObjectName(QLatin1String(name));
    if (max_length > 0) e->setMaxLength(max_length);
    e->setMinimumWidth(200);
    return e;
  };

  tabLogin = page("tabLogin");
  auto* login = new QGridLayout(tabLogin);
  login->setContentsMargins(16, 8, 16, 8);
  lblLogin = label(tabLogin, "lblLogin");
  eLogin = edit(tabLogin, "eLogin", 32);
  eLogin->SetAcceptableChars(qovra::ui::LoginCharSet());
  login->addWidget(lblLogin, 0, 0);
  login->addWidget(eLogin, 0, 1);
  login->setRowStretch(1, 1);
  login->setColumnStretch(1, 1);

  tabQuestion = page("tabQuestion");
  auto* question = new QGridLayout(tabQuestion);
  question->setContentsMargins(16, 8, 16, 8);
  lblQuestionCaption = label(tabQuestion, "lblQuestionCaption");
  lblQuestion = label(tabQuestion, "lblQuestion");
  QFont bold = lblQuestion->font();
  bold.setBold(true);
  lblQuestion->setFont(bold);
  lblQuestion->setWordWrap(true);
  lblAnswer = label(tabQuestion, "lblAnswer");
  eAnswer = edit(tabQuestion, "eAnswer", kAnswerMaxLength);
  lblCaptcha = label(tabQuestion, "lblCaptcha");
  imgCaptcha = new QLabel(tabQuestion);
  imgCaptcha->setObjectName(QStringLiteral("imgCaptcha"));
  imgCaptcha->setFixedSize(145, 45);
  imgCaptcha->setCursor(Qt::PointingHandCursor);
  eCaptcha = edit(tabQuestion, "eCaptcha", kCaptchaMaxLength);
  question->addWidget(lblQuestionCaption, 0, 0);
  question->addWidget(lblQuestion, 0, 1);
  question->addWidget(lblAnswer, 1, 0);
  question->addWidget(eAnswer, 1, 1);
  question->addWidget(lblCaptcha, 2, 0);
  question->addWidget(imgCaptcha, 2, 1);
  question->addWidget(eCaptcha, 3, 1);
  question->setRowStretch(4, 1);
  question->setColumnStretch(1, 1);

  tabNewPassword = page("tabNewPassword");
  auto* fresh = new QGridLayout(tabNewPassword);
  fresh->setContentsMargins(16, 8, 16, 8);
  lblNewPassword = label(tabNewPassword, "lblNewPassword");
  eNewPassword = edit(tabNewPassword, "eNewPassword", 64);
  lblConfirmPassword = label(tabNewPassword, "lblConfirmPassword");
  eConfirmPassword = edit(tabNewPassword, "eConfirmPassword", 64);
  fresh->addWidget(lblNewPassword, 0, 0);
  fresh->addWidget(eNewPassword, 0, 1);
  fresh->addWidget(lblConfirmPassword, 1, 0);
  fresh->addWidget(eConfirmPassword, 1, 1);
  fresh->setRowStretch(2, 1);
  fresh->setColumnStretch(1, 1);

  tabFinish = page("tabFinish");
  auto* finish = new QVBoxLayout(tabFinish);
  finish->setContentsMargins(16, 8, 16, 8);
  lblCongratulations = label(tabFinish, "lblCongratulations");
  lblCongratulations->setWordWrap(true);
  finish->addWidget(lblCongratulations);
  finish->addStretch(1);
  pgForget->setMinimumSize(440, 170);
  root->addWidget(pgForget, 1);

  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(16, 0, 16, 0);
  buttons->addStretch(1);
  btnNext = new QPushButton(this);
  btnNext->setObjectName(QStringLiteral("btnNext"));
  btnNext->setDefault(true);
  btnCancel = new QPushButton(this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setAutoDefault(false);
  buttons->addWidget(btnNext);
  buttons->addWidget(btnCancel);
  root->addLayout(buttons);
  root->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmForget::ApplyTexts() {
  // Built-in defaults; the language file replaces them.
  setWindowTitle(QStringLiteral("Password recovery"));
  pgForget->setTabText(kPageLogin, QStringLiteral("Account"));
  pgForget->setTabText(kPageQuestion, QStringLiteral("Security question"));
  pgForget->setTabText(kPageNewPassword, QStringLiteral("New password"));
  pgForget->setTabText(kPageFinish, QStringLiteral("Done"));
  lblLogin->setText(QStringLiteral("Login"));
  lblQuestionCaption->setText(QStringLiteral("Question"));
  lblAnswer->setText(QStringLiteral("Answer"));
  lblCaptcha->setText(QStringLiteral("Characters in the picture"));
  lblNewPassword->setText(QStringLiteral("New password"));
  lblConfirmPassword->setText(QStringLiteral("Confirm password"));
  btnNext->setText(QStringLiteral("Next >"));
  btnCancel->setText(QStringLiteral("Cancel"));
}

void TfrmForget::reject() {
  done(kResultCancelled);
}

bool TfrmForget::eventFilter(QObject* watched, QEvent* e) {
  if (watched == imgCaptcha && e->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    imgCaptchaClick();
    return true;
  }
  return QDialog::eventFilter(watched, e);
}

void TfrmForget::imgCaptchaClick() {
  NewCaptcha();
  eCaptcha->setFocus();
}

void TfrmForget::Balloon(TEditEx* field, const QString& title, const char* key, int icon) {
  field->setFocus();
  field->ShowBalloonTip(title, Msg(key), static_cast<uint8_t>(icon));
}

void TfrmForget::btnNextClick() {
  switch (pgForget->currentIndex()) {
    case kPageLogin:
      LoginStep();
      break;
    case kPageQuestion:
      QuestionStep();
      break;
    case kPageNewPassword:
      NewPasswordStep();
      break;
    default:
      done(kResultPasswordSet);
      break;
  }
}

void TfrmForget::LoginStep() {
  if (!qovra::HandshakeDone && !qovra::ServerHandshake(HandleOf(this), /*append_dh=*/false)) {
    return;
  }
  int count = used_chances_;
  std::string answer = expected_answer_;
  int question = question_number_;
  if (!qovra::GetControlQuestion(CommandOwner(this), eLogin->text().toLatin1().toStdString(), count,
                                 answer, question)) {
    if (++request_failures_ >= kMaxRequestFailures) {
      // The box's text is the language file's: its own language is langid's.
      qovra::ShowMessageText(HandleOf(this), qovra::GetMsg("msgAllRecoveryRequestsFailed"),
                             qovra::kMsgIconWarning);
      done(kResultChancesUsed);
    }
    return;
  }
  used_chances_ = count;
  expected_answer_ = std::move(answer);
  question_number_ = question;
  if (static_cast<unsigned>(used_chances_) >= static_cast<unsigned>(kChances)) {
    qovra::ShowWarning(HandleOf(this), "msgAllChancesUsed");
    done(kResultChancesUsed);
    return;
  }
  if (question_number_ < kFirstQuestion || question_number_ > kLastQuestion ||
      expected_answer_.empty()) {
    return;
  }
  lblQuestion->setText(Msg(("strQuestion" + std::to_string(question_number_)).c_str()));
  NextPage();
}

void TfrmForget::QuestionStep() {
  const QString title = lblTop->text();
  if (eCaptcha->text().isEmpty()) {
    Balloon(eCaptcha, title, "msgEnterCaptcha", kBalloonError);
    return;
  }
  if (!EqualIgnoringAsciiCase(eCaptcha->text().toStdString(), captcha_text_.toStdString())) {
    NewCaptcha();
    eCaptcha->clear();
    Balloon(eCaptcha, title, "msgIncorrectCaptcha", kBalloonError);
    return;
  }
  const std::string typed = qovra::Base64Encode(eAnswer->text().toStdString());
  if (EqualIgnoringAsciiCase(typed, expected_answer_)) {
    NextPage();
    return;
  }
  NewCaptcha();
  eCaptcha->clear();
  Balloon(eAnswer, title, "msgIncorrectAnswer", kBalloonError);
}

void TfrmForget::NewPasswordStep() {
  const QString title = windowTitle();
  if (eNewPassword->text().isEmpty()) {
    Balloon(eNewPassword, title, "msgEnterNewPassword", kBalloonWarning);
    return;
  }
  // Exact: a confirmation that differs in letter case is a mistyped password.
  if (eConfirmPassword->text() != eNewPassword->text()) {
    Balloon(eConfirmPassword, title, "msgPasswordNotConfirmed", kBalloonWarning);
    return;
  }
  if (eNewPassword->text().size() < kMinPasswordLength) {
    Balloon(eNewPassword, title, "msgPasswordLengthMismatch", kBalloonWarning);
    return;
  }
  std::string password = eNewPassword->text().toStdString();
  const bool set =
      qovra::SetNewPassword(CommandOwner(this), eLogin->text().toLatin1().toStdString(), password);
  qovra::WipeString(password);
  if (set) NextPage();
}

void TfrmForget::NextPage() {
  page_change_allowed_ = true;
  current_page_ = std::min(pgForget->currentIndex() + 1, static_cast<int>(kPageFinish));
  pgForget->setCurrentIndex(current_page_);
  if (current_page_ == kPageQuestion) {
    NewCaptcha();
    eAnswer->setFocus();
  } else if (current_page_ == kPageNewPassword) {
    eNewPassword->setFocus();
  } else if (current_page_ == kPageFinish) {
    btnNext->setText(Msg("btnFinish"));
    btnCancel->hide();
    lblCongratulations->setText(QString::fromStdString(qovra::FormatMsg(
        qovra::GetMsg("msgPasswordSetButRemains"), {used_chances_ + 1, kChances})));
    btnNext->setFocus();
  }
  lblTop->setText(pgForget->tabText(current_page_));
  page_change_allowed_ = false;
}
