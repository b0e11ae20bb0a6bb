// Renders chosen windows with fixture data into PNG files, for review.
//
//   screenshots --out <folder> [window ...]
//
// Windows: msg-error, msg-question, msg-info, msg-plain, progress, about,
// menu (all of them when none is named). Each window is shown over an owner
// window and saved twice: <name>.png holds the window alone, and
// <name>-screen.png the part of the screen around the owner, showing where
// the window sits. Run it under Xvfb (scripts/screenshots.sh).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QThread>
#include <QWindow>
#include <cstdio>
#include <functional>
#include <map>

#include "qovra/records.h"
#include "qovra/ui/about_box.h"
#include "qovra/ui/menu_style.h"
#include "qovra/ui/msg_dialog.h"
#include "qovra/ui/png_resources.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/testing/fake_audio_backend.h"
#include "qovra/ui/widgets.h"

namespace {

// Lets the window system map, expose and paint what was shown.
void Settle(int ms = 150) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

class OwnerWindow : public QWidget {
 public:
  OwnerWindow() {
    setWindowTitle(QStringLiteral("Qovra"));
    setGeometry(60, 60, 760, 440);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(214, 219, 228));
    setPalette(p);
    setAutoFillBackground(true);
    auto* label = new QLabel(QStringLiteral("Owner window"), this);
    label->setGeometry(20, 380, 300, 30);
  }
};

bool Save(const QPixmap& pixmap, const QString& file) {
  if (pixmap.isNull() || !pixmap.save(file, "PNG")) {
    std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(file));
    return false;
  }
  std::printf("%s\n", qPrintable(file));
  return true;
}

bool SaveBoth(QWidget* window, QWidget* owner, const QString& dir, const QString& name) {
  bool ok = Save(window->grab(), dir + "/" + name + ".png");
  QScreen* screen = owner->screen();
  if (screen) {
    const QRect around = owner->frameGeometry().adjusted(-20, -20, 20, 20);
    ok = Save(screen->grabWindow(0, around.x(), around.y(), around.width(), around.height()),
              dir + "/" + name + "-screen.png") &&
         ok;
  }
  return ok;
}

bool ShootMessage(const QString& dir, const QString& name, int flags, const QString& text,
                  const QString& ok, const QString& no, const QString& cancel) {
  OwnerWindow owner;
  owner.show();
  Settle();
  TfrmMsg dialog;
  dialog.Prepare(&owner, text, flags, ok, no, cancel);
  dialog.show();
  Settle(400);  // the slide runs on its timer
  dialog.FinishSlide();
  Settle();
  return SaveBoth(&dialog, &owner, dir, name);
}

bool ShootProgress(const QString& dir) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::ui::TProgressDisplay display;
  qovra::SetProgressUi(&display);
  qovra::ui::ShowProgress(&owner, true, QStringLiteral("Sending mail"),
                          QStringLiteral("Encrypting attachment report.pdf..."));
  // The GUI thread stays busy from here on, as in a server request: the
  // screen must show the window and its bar without any event processing.
  for (int done = 0; done <= 450; done += 15) {
    qovra::ProgressCallback(display.Form()->progBar, 1000, done);
    QThread::msleep(10);
  }
  const bool ok = SaveBoth(display.Form(), &owner, dir, QStringLiteral("progress"));
  qovra::ui::HideProgress(&owner, false);
  qovra::SetProgressUi(nullptr);
  return ok;
}

bool ShootAbout(const QString& dir) {
  OwnerWindow owner;
  owner.show();
  Settle();
  qovra::Options.langid = 1;
  TfrmAbout box(&owner);
  box.show();
  Settle();
  return SaveBoth(&box, &owner, dir, QStringLiteral("about"));
}

bool ShootMenu(const QString& dir) {
  OwnerWindow owner;
  auto* bar = new QMenuBar(&owner);
  bar->setGeometry(0, 0, owner.width(), 24);
  QMenu* mail = bar->addMenu(QStringLiteral("&Mail"));
  bar->addMenu(QStringLiteral("&Tools"));
  bar->addMenu(QStringLiteral("&Help"));
  mail->addAction(QStringLiteral("&New mail"))->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
  mail->addAction(qovra::ui::MainIcon(), QStringLiteral("&Receive"))
      ->setShortcut(QKeySequence(QStringLiteral("F5")));
  QMenu* reply = mail->addMenu(QStringLiteral("Re&ply"));
  reply->addAction(QStringLiteral("Reply"));
  mail->addSeparator();
  mail->addAction(QStringLiteral("&Print"))->setEnabled(false);
  QAction* offline = mail->addAction(QStringLiteral("Work &offline"));
  offline->setCheckable(true);
  offline->setChecked(true);
  mail->addSeparator();
  mail->addAction(QStringLiteral("E&xit"));
  qovra::ui::ApplyMenuStyle(bar);
  owner.show();
  Settle();
  mail->popup(owner.mapToGlobal(QPoint(0, 24)));
  Settle();
  mail->setActiveAction(mail->actions().at(1));
  Settle();
  const bool ok = SaveBoth(mail, &owner, dir, QStringLiteral("menu"));
  mail->hide();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  const int out_at = static_cast<int>(args.indexOf(QStringLiteral("--out")));
  if (out_at < 0 || out_at + 1 >= args.size()) {
    std::fprintf(stderr, "usage: screenshots --out <folder> [window ...]\n");
    return 2;
  }
  const QString dir = args[out_at + 1];
  args.remove(out_at, 2);
  if (!QDir().mkpath(dir)) {
    std::fprintf(stderr, "screenshots: cannot create %s\n", qPrintable(dir));
    return 1;
  }
  // No sound while rendering.
  qovra::ui::testing::ScopedFakeAudio audio;
  audio->output_devices = 0;

  const QString long_text = QStringLiteral(
      "The server did not answer in time. Check the connection settings and the proxy, "
      "then try again.\\nThe mail stays in the outbox and will be sent later.");
  std::map<QString, std::function<bool()>> shots = {
      {QStringLiteral("msg-error"),
       [&] {
         return ShootMessage(dir, QStringLiteral("msg-error"), 48, long_text, QStringLiteral("OK"),
                             QString(), QString());
       }},
      {QStringLiteral("msg-question"),
       [&] {
         return ShootMessage(dir, QStringLiteral("msg-question"), 40,
                             QStringLiteral("Save the changes to this mail in the drafts folder?"),
                             QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel"));
       }},
      {QStringLiteral("msg-info"),
       [&] {
         return ShootMessage(dir, QStringLiteral("msg-info"), 64,
                             QStringLiteral("Письмо отправлено в защищённом режиме."),
                             QStringLiteral("OK"), QString(), QString());
       }},
      {QStringLiteral("msg-plain"),
       [&] {
         return ShootMessage(dir, QStringLiteral("msg-plain"), 0,
                             QStringLiteral("A message without an icon."), QStringLiteral("OK"),
                             QString(), QString());
       }},
      {QStringLiteral("progress"), [&] { return ShootProgress(dir); }},
      {QStringLiteral("about"), [&] { return ShootAbout(dir); }},
      {QStringLiteral("menu"), [&] { return ShootMenu(dir); }},
  };
  if (args.isEmpty()) {
    for (const auto& shot : shots) args << shot.first;
  }
  bool ok = true;
  for (const QString& name : args) {
    const auto found = shots.find(name);
    if (found == shots.end()) {
      std::fprintf(stderr, "screenshots: unknown window %s\n", qPrintable(name));
      ok = false;
      continue;
    }
    ok = found->second() && ok;
  }
  return ok ? 0 : 1;
}
