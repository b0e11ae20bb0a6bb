// TfrmForget: the four-page wizard that sets a new password for an account
// whose password is forgotten.
//
// Page 0 asks the server for the account's security question (command 168,
// after a handshake unless one is done); page 1 checks the typed answer
// against the server's and a drawn captcha, on this side; page 2 sets the
// new password (command 169); page 3 tells how many of the three recovery
// chances are used. Results: 1 the password was set and the finish page
// confirmed, 2 cancelled, 3 the chances are used up or three question
// requests failed. The user cannot switch pages; only the wizard does.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <string>

class QLabel;
class QPushButton;
class QTabWidget;
class QWidget;

namespace qovra::ui {
class TEditEx;
}

class TfrmForget : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kResultPasswordSet = 1;
  static constexpr int kResultCancelled = 2;
  static constexpr int kResultChancesUsed = 3;
  // Pages of pgForget.
  static constexpr int kPageLogin = 0;
  static constexpr int kPageQuestion = 1;
  static constexpr int kPageNewPassword = 2;
  static constexpr int kPageFinish = 3;
  // Recovery chances of an account; question requests allowed to fail.
  static constexpr int kChances = 3;
  static constexpr int kMaxRequestFailures = 3;

  explicit TfrmForget(QWidget* owner = nullptr);
  ~TfrmForget() override;

  void btnNextClick();
  // Draws a new captcha and focuses eCaptcha (the image's click).
  void imgCaptchaClick();
  // The wizard's own page turn (at most to the finish page), run by the
  // steps of btnNextClick; public for the screenshot tool.
  void NextPage();

  // Wizard state.
  int QuestionNumber() const { return question_number_; }
  int UsedChances() const { return used_chances_; }
  int RequestFailures() const { return request_failures_; }
  const QString& CaptchaText() const { return captcha_text_; }
  const QImage& CaptchaImage() const { return captcha_; }

  QTabWidget* pgForget = nullptr;
  QWidget* tabLogin = nullptr;
  QWidget* tabQuestion = nullptr;
  QWidget* tabNewPassword = nullptr;
  QWidget* tabFinish = nullptr;
  QLabel* lblTop = nullptr;
  QLabel* imgLogo = nullptr;
  QLabel* lblLogin = nullptr;
  qovra::ui::TEditEx* eLogin = nullptr;
  QLabel* lblQuestionCaption = nullptr;
  QLabel* lblQuestion = nullptr;
  QLabel* lblAnswer = nullptr;
  qovra::ui::TEditEx* eAnswer = nullptr;
  QLabel* lblCaptcha = nullptr;
  QLabel* imgCaptcha = nullptr;
  qovra::ui::TEditEx* eCaptcha = nullptr;
  QLabel* lblNewPassword = nullptr;
  qovra::ui::TEditEx* eNewPassword = nullptr;
  QLabel* lblConfirmPassword = nullptr;
  qovra::ui::TEditEx* eConfirmPassword = nullptr;
  QLabel* lblCongratulations = nullptr;
  QPushButton* btnNext = nullptr;
  QPushButton* btnCancel = nullptr;

 public slots:
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void ApplyTexts();
  void LoginStep();
  void QuestionStep();
  void NewPasswordStep();
  void NewCaptcha();
  void PaintCaptcha();
  void Balloon(qovra::ui::TEditEx* field, const QString& title, const char* key, int icon);

  int question_number_ = 0;
  std::string expected_answer_;
  int used_chances_ = 0;
  QString captcha_text_;
  int request_failures_ = 0;
  bool page_change_allowed_ = false;
  int current_page_ = kPageLogin;
  QImage captcha_;
};
