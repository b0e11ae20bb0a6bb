// The shared progress window: placement over owners, disabling and
// re-enabling the owner, silent runs, bar moves and their repaint rate.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"

using namespace qovra::ui;

namespace {

// A bar with the program's own property names, counting its paints.
class CountingBar : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int MaxValue MEMBER max_value)
  Q_PROPERTY(int Progress MEMBER progress)
  Q_PROPERTY(QColor BackColor MEMBER back_color)
  Q_PROPERTY(QColor LTColor MEMBER lt_color)
  Q_PROPERTY(QColor RBColor MEMBER rb_color)
  Q_PROPERTY(QColor AColor MEMBER a_color)
  Q_PROPERTY(QColor BColor MEMBER b_color)

 public:
  using QWidget::QWidget;
  int max_value = 1000;
  int progress = -1;
  QColor back_color, lt_color, rb_color, a_color, b_color;
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
};

QWidget* MakeCountingBar(QWidget* parent) {
  return new CountingBar(parent);
}

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SilentReceive = false;
    display_ = std::make_unique<TProgressDisplay>();
    qovra::SetProgressUi(display_.get());
  }
  void TearDown() override {
    qovra::SetProgressUi(nullptr);
    display_.reset();
    SilentReceive = false;
  }
  TfrmProgress* Form() { return display_->Form(); }

  std::unique_ptr<TProgressDisplay> display_;
};

}  // namespace

TEST_F(ProgressTest, CentresOnTheOwnerAtItsWidthRule) {
  struct Case {
    int owner_width;
    int expected_width;
  } cases[] = {{1000, 450}, {451, 450}, {450, 450}, {449, 429},
               {300, 280},  {150, 130}, {100, 120}, {40, 120}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.owner_width);
    // The rule measures the owner's whole window rectangle, frame included.
    QWidget owner;
    owner.setGeometry(33, 47, c.owner_width, 301);
    owner.show();
    owner.resize(c.owner_width - (owner.frameGeometry().width() - owner.width()), 301);
    ASSERT_EQ(owner.frameGeometry().width(), c.owner_width);
    ShowProgress(&owner, true, QStringLiteral("Title"), QStringLiteral("Status"));
    ASSERT_TRUE(Form()->isVisible());
    const QRect r = owner.frameGeometry();
    EXPECT_EQ(Form()->width(), c.expected_width);
    EXPECT_EQ(Form()->height(), 87);
    EXPECT_EQ(Form()->x(), r.x() + (r.width() - c.expected_width) / 2);
    EXPECT_EQ(Form()->y(), r.y() + (r.height() - 87) / 2);
    // Labels and bar stretch with the window.
    EXPECT_EQ(Form()->progBar->width(), c.expected_width - 30);
    EXPECT_EQ(Form()->lblStatus->width(), c.expected_width - 30);
    HideProgress(&owner, false);
  }

  // Over a narrow owner a long line widens the window (up to 450) rather
  // than being cut.
  const QString long_title = QStringLiteral("Установка защищённого соединения с сервером");
  for (int owner_width : {341, 200}) {
    SCOPED_TRACE(owner_width);
    QWidget owner;
    owner.setGeometry(33, 47, owner_width, 216);
    owner.show();
    ShowProgress(&owner, true, long_title, QStringLiteral("Status"));
    const int needed = Form()->lblTitle->fontMetrics().horizontalAdvance(long_title);
    EXPECT_GE(Form()->lblTitle->width(), std::min(needed, 450 - 30));
    EXPECT_LE(Form()->width(), 450);
    const QRect r = owner.frameGeometry();
    EXPECT_EQ(Form()->x(), r.x() + (r.width() - Form()->width()) / 2);
    HideProgress(&owner, false);
  }
}

TEST_F(ProgressTest, DisablesTheOwnerWhileShownAndEnablesItAgain) {
  QWidget owner;
  owner.setGeometry(10, 10, 800, 500);
  owner.show();
  ShowProgress(&owner, false, QStringLiteral("Sending"), QStringLiteral("Step 1"));
  EXPECT_FALSE(owner.isEnabled());
  EXPECT_EQ(display_->SavedActiveWindow(), &owner);
  EXPECT_EQ(Form()->lblTitle->text(), QStringLiteral("Sending"));
  EXPECT_FALSE(Form()->progBar->isVisible());

  // A second call while shown changes the lines only.
  const QPoint pos = Form()->pos();
  ShowProgress(&owner, true, QStringLiteral("Sending"), QStringLiteral("Step 2"));
  EXPECT_EQ(Form()->lblStatus->text(), QStringLiteral("Step 2"));
  EXPECT_TRUE(Form()->progBar->isVisible());
  EXPECT_EQ(Form()->pos(), pos);

  HideProgress(&owner, true);  // keep
  EXPECT_TRUE(Form()->isVisible());
  EXPECT_FALSE(owner.isEnabled());

  HideProgress(&owner, false);
  EXPECT_FALSE(Form()->isVisible());
  EXPECT_TRUE(owner.isEnabled());
  EXPECT_EQ(display_->SavedActiveWindow(), nullptr);

  // Hiding without naming the owner still frees the disabled window.
  ShowProgress(&owner, true, QStringLiteral("Again"), QString());
  EXPECT_FALSE(owner.isEnabled());
  HideProgress(nullptr, false);
  EXPECT_FALSE(Form()->isVisible());
  EXPECT_TRUE(owner.isEnabled());

  // Without an owner nothing is disabled.
  ShowProgress(nullptr, true, QStringLiteral("Free"), QString());
  EXPECT_TRUE(Form()->isVisible());
  EXPECT_TRUE(owner.isEnabled());
  HideProgress(nullptr, false);
  EXPECT_FALSE(Form()->isVisible());
}

// Plays a window manager that exposes a newly mapped window a second time
// shortly after the first (as when it reparents or redirects it).
class LateExposer : public QObject {
 public:
  LateExposer(QWindow* window, int delay_ms) : window_(window), delay_ms_(delay_ms) {
    window->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Expose && !scheduled_ && window_->isExposed()) {
      scheduled_ = true;
      QTimer::singleShot(delay_ms_, this, [this] {
        QExposeEvent again(QRegion(QRect(QPoint(), window_->size())));
        QCoreApplication::sendEvent(window_, &again);
        late_expose_handled = true;
      });
    }
    return false;
  }
  bool late_expose_handled = false;

 private:
  QWindow* window_;
  int delay_ms_;
  bool scheduled_ = false;
};

TEST_F(ProgressTest, FirstFrameIsPaintedBeforeTheCallerGoesBusy) {
  QWidget owner;
  owner.setGeometry(100, 100, 600, 400);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  Form()->winId();
  LateExposer wm(Form()->windowHandle(), 10);
  ShowProgress(&owner, true, QStringLiteral("Receiving"), QStringLiteral("Sending request..."));
  // Whatever exposes the window around its mapping has been handled (and
  // painted) before ShowProgress returns to work that runs no event loop.
  EXPECT_TRUE(Form()->windowHandle()->isExposed());
  EXPECT_TRUE(wm.late_expose_handled);
  HideProgress(&owner, false);
}

TEST_F(ProgressTest, ShowsNothingDuringASilentRunOrWithoutAVisibleWindow) {
  QWidget owner;
  owner.setGeometry(10, 10, 800, 500);
  owner.show();
  SilentReceive = true;
  ShowProgress(&owner, true, QStringLiteral("Receiving"), QString());
  EXPECT_FALSE(Form()->isVisible());
  EXPECT_TRUE(owner.isEnabled());
  HideProgress(&owner, false);
  SilentReceive = false;

  owner.hide();
  ShowProgress(&owner, true, QStringLiteral("Receiving"), QString());
  EXPECT_FALSE(Form()->isVisible());
  EXPECT_TRUE(owner.isEnabled());

  // The application decides what counts as visible.
  display_->SetApplicationVisibleCheck([] { return false; });
  owner.show();
  ShowProgress(&owner, true, QStringLiteral("Receiving"), QString());
  EXPECT_FALSE(Form()->isVisible());
}

TEST_F(ProgressTest, ProgressCallbackScalesDoneOfTotalToTheBar) {
  struct Case {
    int64_t done, total;
    int expected;
  } cases[] = {{0, 200, 0}, {50, 200, 25},   {1, 3, 33},
               {2, 3, 67},  {200, 200, 100}, {300, 200, 100},
               {5, 0, 0},   {-5, 10, 0},     {int64_t{1} << 50, int64_t{1} << 51, 50}};
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleProgress(c.done, c.total, 100), c.expected) << c.done << "/" << c.total;
  }
  QWidget owner;
  owner.setGeometry(10, 10, 800, 500);
  owner.show();
  ShowProgress(&owner, true, QStringLiteral("Copying"), QString());
  auto* bar = qobject_cast<QProgressBar*>(Form()->progBar);
  ASSERT_NE(bar, nullptr);
  qovra::ProgressCallback(Form()->progBar, 400, 100);
  EXPECT_EQ(bar->value(), 25);
  // A new show resets the bar.
  ShowProgress(&owner, true, QStringLiteral("Copying"), QStringLiteral("next"));
  EXPECT_EQ(bar->value(), 0);
  qovra::ProgressCallback(nullptr, 10, 5);  // no bar: nothing happens
  HideProgress(&owner, false);
}

TEST_F(ProgressTest, BarsWithTheProgramsPropertiesAreColouredAndThrottled) {
  TfrmProgress::SetProgressBarFactory(MakeCountingBar);
  TProgressDisplay display;
  TfrmProgress::SetProgressBarFactory(nullptr);
  qovra::SetProgressUi(&display);
  auto* bar = qobject_cast<CountingBar*>(display.Form()->progBar);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->back_color, TfrmProgress::BackColor());
  EXPECT_EQ(bar->lt_color, TfrmProgress::FrameColor());
  EXPECT_EQ(bar->rb_color, TfrmProgress::FrameColor());
  EXPECT_EQ(bar->a_color, QColor(158, 180, 194));
  EXPECT_EQ(bar->b_color, QColor(92, 124, 148));

  QWidget owner;
  owner.setGeometry(10, 10, 800, 500);
  owner.show();
  ShowProgress(&owner, true, QStringLiteral("Encrypting"), QString());
  EXPECT_EQ(bar->progress, 0);
  QThread::msleep(40);

  // A busy GUI thread reporting 4000 steps: the bar follows every step but
  // repaints at most about 30 times a second, and always at the end.
  const int before = bar->paints;
  QElapsedTimer clock;
  clock.start();
  const int64_t total = 4000;
  for (int64_t done = 1; done <= total; ++done) {
    qovra::ProgressCallback(display.Form()->progBar, total, done);
    if (done == 2000) {
      EXPECT_EQ(bar->progress, 500);
    }
    if (done % 100 == 0) QThread::usleep(500);
  }
  const qint64 elapsed = clock.elapsed();
  const int paints = bar->paints - before;
  EXPECT_EQ(bar->progress, 1000);
  EXPECT_GE(paints, 1);
  EXPECT_LE(paints, elapsed / 33 + 2) << "elapsed " << elapsed << " ms";
  HideProgress(&owner, false);
  qovra::SetProgressUi(display_.get());
}

TEST_F(ProgressTest, KeepsTheNamesTheLanguageFilesAddress) {
  EXPECT_STREQ(Form()->metaObject()->className(), "TfrmProgress");
  EXPECT_EQ(frmProgress, Form());
  for (const char* name : {"lblTitle", "lblStatus", "progBar"}) {
    EXPECT_NE(Form()->findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  }
}

#include "test_progress_window.moc"
