// The message dialog: looks, sounds, buttons and results by flags; text
// layout; the slide; placement over owners; the core's message seam.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "base/messages.h"
#include "platform/temp_files.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/sound.h"
#include "qovra/ui/testing/fake_audio_backend.h"
#include "qovra/ui/widgets.h"

using namespace qovra::ui;
using qovra::ui::testing::ScopedFakeAudio;

namespace {

// Installs an answer hook for the life of a scope.
class ScopedAnswer {
 public:
  explicit ScopedAnswer(TfrmMsg::AnswerHook hook) { TfrmMsg::SetAnswerHook(std::move(hook)); }
  ~ScopedAnswer() { TfrmMsg::SetAnswerHook(nullptr); }
};

// Counts the resize events a widget receives.
class ResizeCounter : public QObject {
 public:
  explicit ResizeCounter(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize) ++count;
    return false;
  }
  int count = 0;
};

bool InView(const QWidget* dialog, const QPushButton* button) {
  return dialog->rect().contains(button->geometry());
}

class MsgDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new QTemporaryDir;
    qovra::SetTempFolder((temp_->path() + "/").toStdString());
    ExtractDialogSounds(QStringLiteral(QOVRA_BIN_DIR));
  }
  static void TearDownTestSuite() {
    DeleteDialogSounds();
    qovra::SetTempFolder("");
    delete temp_;
  }
  void SetUp() override {
    owner_.setGeometry(100, 80, 640, 400);
    owner_.show();
  }

  static QTemporaryDir* temp_;
  QWidget owner_;
  ScopedFakeAudio audio_;
};

QTemporaryDir* MsgDialogTest::temp_ = nullptr;

}  // namespace

TEST_F(MsgDialogTest, FlagsChooseLookSoundButtonsAndResults) {
  const QColor kRed(162, 0, 0), kPink(255, 236, 236);
  const QColor kOlive(162, 162, 0), kYellow(255, 255, 128);
  const QColor kGreen(0, 162, 0), kMint(236, 255, 236);
  const QColor kBlue(0, 64, 128), kWhiteBlue(242, 249, 255);
  struct Row {
    int flags;
    const char* icon;
    QColor frame, back;
    int sound;
    bool no, cancel;  // buttons in view besides OK
    int ok_result;
  } rows[] = {
      {16, "ico_error48", kRed, kPink, 103, false, false, 1},
      {48, "ico_error48", kRed, kPink, 103, false, false, 1},
      {36, "ico_confirm48", kOlive, kYellow, 102, true, false, 6},
      {40, "ico_confirm48", kOlive, kYellow, 102, true, true, 6},
      {64, "ico_info48", kGreen, kMint, 101, false, false, 1},
      {0, "", kBlue, kWhiteBlue, 101, false, false, 1},
      {0x50, "ico_info48", kGreen, kMint, 103, false, false, 1},
      {0x60, "ico_info48", kGreen, kMint, 102, false, false, 1},
      {12, "", kBlue, kWhiteBlue, 101, true, true, 6},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("flags " + std::to_string(row.flags));
    const QString no = row.no ? QStringLiteral("No") : QString();
    const QString cancel = row.cancel ? QStringLiteral("Cancel") : QString();
    const QString ok = (row.flags & 12) ? QStringLiteral("Yes") : QStringLiteral("OK");

    // The look, the sound and the buttons.
    audio_->Reset();
    {
      ScopedAnswer answer([&](TfrmMsg& d) {
        EXPECT_EQ(d.IconName(), QString::fromLatin1(row.icon));
        EXPECT_EQ(d.imgLogo->pixmap().isNull(), *row.icon == 0);
        EXPECT_EQ(d.FrameColor(), row.frame);
        EXPECT_EQ(d.BackColor(), row.back);
        EXPECT_EQ(d.sbMsg->viewport()->palette().color(QPalette::Window), row.back);
        const QImage shot = d.grab().toImage();
        EXPECT_EQ(QColor(shot.pixel(0, 10)), row.frame);
        EXPECT_EQ(QColor(shot.pixel(2, d.height() - 2)), row.back);

        EXPECT_TRUE(InView(&d, d.btnOK));
        EXPECT_EQ(InView(&d, d.btnNo), row.no);
        EXPECT_EQ(InView(&d, d.btnCancel), row.cancel);
        EXPECT_EQ(d.btnOK->text(), ok);
        EXPECT_EQ(d.btnNo->text(), no);
        EXPECT_EQ(d.btnCancel->text(), cancel);
        // From the right: Cancel, No, OK, 4 pixels apart and from the edges.
        EXPECT_EQ(d.btnOK->geometry().bottom(), d.height() - 5);
        QPushButton* rightmost = row.cancel ? d.btnCancel : row.no ? d.btnNo : d.btnOK;
        EXPECT_EQ(rightmost->geometry().right(), d.width() - 5);
        if (row.no) {
          EXPECT_EQ(d.btnOK->geometry().right() + 5, d.btnNo->x());
        }
        if (row.cancel) {
          EXPECT_EQ(d.btnNo->geometry().right() + 5, d.btnCancel->x());
        }
        EXPECT_EQ((d.btnCancel->focusPolicy() & Qt::TabFocus) != 0, (row.flags & 8) != 0);
        return 0;
      });
      ShowMsgDialog(&owner_, QStringLiteral("Text"), row.flags, ok, no, cancel);
    }
    ASSERT_EQ(audio_->played.size(), 1);
    EXPECT_EQ(audio_->played[0], DialogSoundFile(row.sound));

    // Results: each button in view, Enter (the default button) and Escape.
    struct Press {
      std::function<void(TfrmMsg&)> act;
      int expected;
      bool applies;
    } presses[] = {
        {[](TfrmMsg& d) { QTest::mouseClick(d.btnOK, Qt::LeftButton); }, row.ok_result, true},
        {[](TfrmMsg& d) { QTest::mouseClick(d.btnNo, Qt::LeftButton); }, 7, row.no},
        {[](TfrmMsg& d) { QTest::mouseClick(d.btnCancel, Qt::LeftButton); }, 2, row.cancel},
        {[](TfrmMsg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 2, true},
        {[](TfrmMsg& d) {
           d.btnOK->setFocus();
           QTest::keyClick(d.btnOK, Qt::Key_Return);
         },
         row.ok_result, true},
    };
    for (const Press& press : presses) {
      if (!press.applies) continue;
      ScopedAnswer answer([&](TfrmMsg& d) {
        press.act(d);
        return d.result();
      });
      EXPECT_EQ(ShowMsgDialog(&owner_, QStringLiteral("Text"), row.flags, ok, no, cancel),
                press.expected);
    }
  }
}

TEST_F(MsgDialogTest, RealModalLoopEndsWithEscape) {
  QTimer poke;
  poke.setInterval(5);
  QObject::connect(&poke, &QTimer::timeout, [] {
    if (auto* d = qobject_cast<TfrmMsg*>(QApplication::activeModalWidget())) {
      if (d->SlideDone()) QTest::keyClick(d, Qt::Key_Escape);
    }
  });
  poke.start();
  EXPECT_EQ(ShowMsgDialog(&owner_, QStringLiteral("Question?"), 36, QStringLiteral("Yes"),
                          QStringLiteral("No"), QString()),
            2);
}

TEST_F(MsgDialogTest, TextAreaFitsOneLineAndScrollsPastTwoHundredPixels) {
  TfrmMsg one;
  one.Prepare(&owner_, QStringLiteral("One line."), 64, QStringLiteral("OK"), QString(), QString());
  EXPECT_EQ(one.MinHeight(), 56);
  EXPECT_EQ(one.sbMsg->x(), 56);
  EXPECT_EQ(one.sbMsg->width(), owner_.width() - 48 - 12);
  EXPECT_EQ(one.sbMsg->height(), one.lblPrompt->height());
  EXPECT_LT(one.sbMsg->height(), 56 - 25 - 12);
  EXPECT_EQ(one.TargetHeight(), 56);

  QStringList lines;
  for (int i = 1; i <= 40; ++i) lines << QStringLiteral("Line %1").arg(i);
  TfrmMsg many;
  many.Prepare(&owner_, lines.join('\n'), 16, QStringLiteral("OK"), QString(), QString());
  EXPECT_EQ(many.sbMsg->height(), 200);
  EXPECT_GT(many.lblPrompt->height(), 200);
  EXPECT_EQ(many.TargetHeight(), 200 + 25 + 12);
  many.show();
  many.FinishSlide();
  QApplication::processEvents();  // the scroll area lays out its bar
  EXPECT_EQ(many.height(), 237);
  EXPECT_TRUE(many.sbMsg->verticalScrollBar()->isVisible());
  EXPECT_LE(many.lblPrompt->width() + many.sbMsg->verticalScrollBar()->width(),
            many.sbMsg->width());

  // A literal backslash and "n" breaks the line; the text is never markup.
  TfrmMsg two;
  two.Prepare(&owner_, QStringLiteral("first\\nsecond <b>x</b>"), 64, QStringLiteral("OK"),
              QString(), QString());
  EXPECT_EQ(two.lblPrompt->text(), QStringLiteral("first\nsecond <b>x</b>"));
  EXPECT_EQ(two.lblPrompt->textFormat(), Qt::PlainText);
  EXPECT_GT(two.lblPrompt->height(), one.lblPrompt->height());

  // A lone CR (the server request joins its error texts with one) and CR LF
  // break the line too.
  const struct {
    QString given;
    QString shown;
  } breaks[] = {
      {QStringLiteral("connection error\rhost not found"),
       QStringLiteral("connection error\nhost not found")},
      {QStringLiteral("a\r\nb\rc\nd"), QStringLiteral("a\nb\nc\nd")},
  };
  for (const auto& b : breaks) {
    TfrmMsg d;
    d.Prepare(&owner_, b.given, 64, QStringLiteral("OK"), QString(), QString());
    EXPECT_EQ(d.lblPrompt->text(), b.shown) << b.given.toStdString();
  }
}

TEST_F(MsgDialogTest, SlidesOpenInTenPixelStepsThenPlacesTheButtons) {
  TfrmMsg d;
  d.Prepare(&owner_, QStringLiteral("Slide"), 36, QStringLiteral("Yes"), QStringLiteral("No"),
            QString());
  EXPECT_EQ(d.ClientHeight(), 0);
  const int target = d.TargetHeight();
  // The window is mapped at its full height and place; the slide only
  // uncovers it, so a window manager never sees it resized.
  EXPECT_EQ(d.height(), target);
  d.show();
  d.Timer1->stop();  // stepped by hand below
  ResizeCounter resizes(&d);
  int steps = 0;
  while (!d.SlideDone()) {
    const int before = d.ClientHeight();
    EXPECT_LT(d.btnOK->x(), 0) << "buttons stay out of view while sliding";
    EXPECT_EQ(d.mask().boundingRect(), QRect(0, 0, d.width(), std::max(before, 1)));
    d.Timer1Timer();
    ++steps;
    if (!d.SlideDone()) {
      EXPECT_EQ(d.ClientHeight(), before + 10);
    }
    ASSERT_LT(steps, 100);
  }
  EXPECT_EQ(d.ClientHeight(), target);
  EXPECT_EQ(d.height(), target);
  EXPECT_TRUE(d.mask().isEmpty()) << "the whole window shows once open";
  EXPECT_EQ(resizes.count, 0);
  EXPECT_EQ(steps, (target + 9) / 10);
  EXPECT_TRUE(InView(&d, d.btnOK));
  EXPECT_TRUE(InView(&d, d.btnNo));

  // The real timer gets there too.
  TfrmMsg timed;
  timed.Prepare(&owner_, QStringLiteral("Slide"), 64, QStringLiteral("OK"), QString(), QString());
  timed.show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return timed.SlideDone(); }, 3000));
  EXPECT_EQ(timed.height(), timed.TargetHeight());
}

TEST_F(MsgDialogTest, CoversTheOwnerOrFallsBackToTheScreen) {
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  const QRect area = screen->availableGeometry();

  TfrmMsg over;
  over.SetPlacement(TfrmMsg::TPlacement::kTopLevel);
  over.Prepare(&owner_, QStringLiteral("Over"), 64, QStringLiteral("OK"), QString(), QString());
  EXPECT_FALSE(over.CentredOnScreen());
  EXPECT_EQ(over.pos(), owner_.mapToGlobal(QPoint(0, 0)));
  EXPECT_EQ(over.width(), owner_.width());
  // A transient of the owner's window, so that no window manager places it
  // as a window of its own.
  EXPECT_EQ(over.windowType(), Qt::Dialog);
  ASSERT_NE(over.windowHandle(), nullptr);
  EXPECT_EQ(over.windowHandle()->transientParent(), owner_.windowHandle());

  // A main window's menu bar stays free, as its title bar does.
  QMainWindow main;
  main.setGeometry(120, 90, 640, 400);
  main.menuBar()->addMenu(QStringLiteral("Mail"));
  main.setCentralWidget(new QWidget);
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  TfrmMsg below;
  below.Prepare(&main, QStringLiteral("Below"), 64, QStringLiteral("OK"), QString(), QString());
  EXPECT_GT(main.menuBar()->height(), 0);
  EXPECT_EQ(below.pos(), main.mapToGlobal(QPoint(0, main.menuBar()->geometry().bottom() + 1)));
  EXPECT_EQ(below.width(), main.width());

  QWidget wide;
  wide.setGeometry(area.x(), area.y(), area.width() + 500, 300);
  wide.show();
  TfrmMsg clipped;
  clipped.Prepare(&wide, QStringLiteral("Wide"), 64, QStringLiteral("OK"), QString(), QString());
  EXPECT_EQ(clipped.width(), area.width());

  QWidget hidden;
  hidden.setGeometry(10, 10, 600, 300);
  QWidget minimised;
  minimised.setGeometry(10, 10, 600, 300);
  minimised.showMinimized();
  QWidget narrow;
  narrow.setGeometry(10, 10, 120, 300);
  narrow.show();
  struct Case {
    const char* name;
    QWidget* owner;
  } cases[] = {
      {"none", nullptr}, {"hidden", &hidden}, {"minimised", &minimised}, {"narrow", &narrow}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TfrmMsg d;
    d.Prepare(c.owner, QStringLiteral("Fallback"), 48, QStringLiteral("OK"), QString(), QString());
    EXPECT_TRUE(d.CentredOnScreen());
    const int width = std::min(450, area.width());
    EXPECT_EQ(d.width(), width);
    EXPECT_EQ(d.x(), area.x() + (area.width() - width) / 2);
    EXPECT_EQ(d.y(), area.y() + (area.height() - d.TargetHeight()) / 2);
  }
}

TEST_F(MsgDialogTest, WaylandOpensItAsAPopupOfTheOwner) {
  struct Row {
    const char* platform;
    TfrmMsg::TPlacement placement;
  } rows[] = {
      {"wayland", TfrmMsg::TPlacement::kOwnerPopup},
      {"wayland-egl", TfrmMsg::TPlacement::kOwnerPopup},
      {"xcb", TfrmMsg::TPlacement::kTopLevel},
      {"offscreen", TfrmMsg::TPlacement::kTopLevel},
      {"", TfrmMsg::TPlacement::kTopLevel},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TfrmMsg::PlacementFor(QString::fromLatin1(row.platform)), row.placement)
        << row.platform;
  }

  // Where the client cannot place a top-level window it opens at once, at
  // full height, as a pop-up of the owner's window over its client area.
  TfrmMsg popup;
  popup.SetPlacement(TfrmMsg::TPlacement::kOwnerPopup);
  popup.Prepare(&owner_, QStringLiteral("Popup"), 36, QStringLiteral("Yes"), QStringLiteral("No"),
                QString());
  EXPECT_EQ(popup.windowType(), Qt::Popup);
  ASSERT_NE(popup.windowHandle(), nullptr);
  EXPECT_EQ(popup.windowHandle()->transientParent(), owner_.windowHandle());
  EXPECT_EQ(popup.pos(), owner_.mapToGlobal(QPoint(0, 0)));
  EXPECT_TRUE(popup.SlideDone());
  EXPECT_EQ(popup.height(), popup.TargetHeight());
  EXPECT_TRUE(InView(&popup, popup.btnOK));
  EXPECT_TRUE(InView(&popup, popup.btnNo));

  // Without an owner it stays a dialog of its own.
  TfrmMsg alone;
  alone.SetPlacement(TfrmMsg::TPlacement::kOwnerPopup);
  alone.Prepare(nullptr, QStringLiteral("Alone"), 64, QStringLiteral("OK"), QString(), QString());
  EXPECT_EQ(alone.windowType(), Qt::Dialog);
  EXPECT_TRUE(alone.CentredOnScreen());

  // The modal loop of the pop-up ends with Escape as the dialog's does.
  QTimer poke;
  poke.setInterval(5);
  QObject::connect(&poke, &QTimer::timeout, [] {
    if (auto* d = qobject_cast<TfrmMsg*>(QApplication::activePopupWidget())) {
      QTest::keyClick(d, Qt::Key_Escape);
    }
  });
  poke.start();
  TfrmMsg modal;
  modal.SetPlacement(TfrmMsg::TPlacement::kOwnerPopup);
  EXPECT_EQ(modal.Execute(&owner_, QStringLiteral("Question?"), 36, QStringLiteral("Yes"),
                          QStringLiteral("No"), QString()),
            2);
}

TEST_F(MsgDialogTest, ServesTheCoreMessageSeam) {
  qovra::SetMessageUi(&MessageDialogUi());
  std::vector<int> flags;
  std::vector<QStringList> captions;
  ScopedAnswer answer([&](TfrmMsg& d) {
    flags.push_back(d.Flags());
    captions.push_back(
        {d.lblPrompt->text(), d.btnOK->text(), d.btnNo->text(), d.btnCancel->text()});
    QTest::mouseClick(d.btnOK, Qt::LeftButton);
    return d.result();
  });
  EXPECT_TRUE(qovra::AskYesNo(HandleOf(&owner_), "msgConnectionError"));
  EXPECT_EQ(qovra::AskYesNoCancel(HandleOf(&owner_), "msgConnectionError"), qovra::kMsgResultYes);
  qovra::ShowWarning(HandleOf(&owner_), "msgConnectionError");
  EXPECT_EQ(qovra::ShowMessageText(HandleOf(&owner_), "Plain text", 64), qovra::kMsgResultOk);
  qovra::SetMessageUi(nullptr);

  ASSERT_EQ(flags, (std::vector<int>{36, 40, 48, 64}));
  const QString text = QString::fromStdString(qovra::GetMsg("msgConnectionError"));
  EXPECT_EQ(captions[0][0], text);
  EXPECT_EQ(captions[0][1], QString::fromStdString(qovra::GetMsg("btnYes")));
  EXPECT_EQ(captions[0][2], QString::fromStdString(qovra::GetMsg("btnNo")));
  EXPECT_EQ(captions[1][3], QString::fromStdString(qovra::GetMsg("btnCancel")));
  EXPECT_EQ(captions[2][1], QStringLiteral("OK"));
  EXPECT_EQ(captions[3][0], QStringLiteral("Plain text"));
}

TEST_F(MsgDialogTest, KeepsTheNamesTheLanguageFilesAddress) {
  TfrmMsg d;
  EXPECT_STREQ(d.metaObject()->className(), "TfrmMsg");
  for (const char* name : {"imgLogo", "sbMsg", "lblPrompt", "btnOK", "btnNo", "btnCancel"}) {
    EXPECT_NE(d.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  }
}
