// jorvik, the certificate viewer.
//
//   jorvik [/h<window>] [/l<langid>] <certificate file> [--render <out.png>]
//
// /h names the window (decimal handle) the viewer belongs to; on X11 the
// viewer stays above it. /l is the language of the program that starts the
// viewer (0 Uzbek, 1 Russian, 2 or more none); without it the viewer takes
// the language of the settings file of the program beside it. The texts
// come from lang/ beside the viewer. The options come before the file and
// are only "/h" or "/l" followed by digits, so a path such as "/home/..."
// is a file. --render draws the window into a PNG file, prints the shown
// texts on standard output and ends (tests, screenshots).
// The viewer ends when its window closes. Exit codes: 0 shown (or
// rendered), 1 the file could not be shown, 2 a bad command line.
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTextStream>
#include <QWindow>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "base/messages.h"
#include "cert_info.h"
#include "cert_window.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "viewer_language.h"

namespace {

struct Arguments {
  quint64 owner = 0;
  int langid = -1;  // -1: not given
  QString file;
  QString render;
};

// The number after prefix when arg is prefix followed by decimal digits
// only.
bool NumberOption(const QString& arg, QLatin1String prefix, quint64* value) {
  if (!arg.startsWith(prefix) || arg.size() == prefix.size()) return false;
  for (qsizetype i = prefix.size(); i < arg.size(); ++i) {
    if (arg[i] < QLatin1Char('0') || arg[i] > QLatin1Char('9')) return false;
  }
  bool ok = false;
  *value = arg.mid(prefix.size()).toULongLong(&ok, 10);
  return ok;
}

bool ParseArguments(const QStringList& args, Arguments* out) {
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    quint64 number = 0;
    if (a == QLatin1String("--render")) {
      if (++i >= args.size()) return false;
      out->render = args[i];
    } else if (!out->file.isEmpty()) {
      return false;
    } else if (NumberOption(a, QLatin1String("/h"), &number)) {
      out->owner = number;
    } else if (NumberOption(a, QLatin1String("/l"), &number)) {
      out->langid = static_cast<int>(std::min<quint64>(number, INT_MAX));
    } else {
      out->file = a;
    }
  }
  return !out->file.isEmpty();
}

// Keeps window above the owner window when the window system knows it.
void AttachToOwner(QWidget& window, quint64 owner) {
  if (owner == 0 || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  QWindow* parent = QWindow::fromWinId(static_cast<WId>(owner));
  window.winId();  // creates the native window
  if (parent && window.windowHandle()) window.windowHandle()->setTransientParent(parent);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("jorvik"));
  Arguments args;
  if (!ParseArguments(QApplication::arguments(), &args)) {
    std::fprintf(stderr,
                 "usage: jorvik [/h<window>] [/l<langid>] <certificate file> "
                 "[--render <out.png>]\n");
    return 2;
  }

  const std::string program = qovra::CurrentProgramPath();
  qovra::ProgramDir = program.substr(0, program.rfind('/') + 1);
  const auto language = qovra::LoadLanguageFile(
      qovra::LanguageFilePath(jorvik::ViewerLanguage(args.langid, qovra::ProgramDir)));
  qovra::ApplyLanguageMessages(language.get());

  jorvik::TCertificateInfo info;
  std::string error;
  if (!jorvik::ReadCertificateFile(args.file.toStdString(), &info, &error)) {
    std::fprintf(stderr, "jorvik: %s: %s\n", qPrintable(args.file), error.c_str());
    const QString text =
        QString::fromStdString(qovra::GetMsg("msgUserCertificateInvalid")) + u'\n' + args.file;
    if (args.render.isEmpty()) {
      QMessageBox::critical(nullptr, CertificateWindowCaption(language.get()), text);
    } else {
      std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    return 1;
  }

  TfrmCertificate window(info, language.get());
  if (!args.render.isEmpty()) {
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(args.render, "PNG")) {
      std::fprintf(stderr, "jorvik: cannot write %s\n", qPrintable(args.render));
      return 1;
    }
    QTextStream out(stdout);
    for (const QString& line : window.ShownTexts()) out << line << '\n';
    return 0;
  }
  AttachToOwner(window, args.owner);
  // A window with an owner does not count as the program's last window, so
  // its close alone would not end the program: its end does.
  QObject::connect(&window, &QDialog::finished, &app, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  window.show();
  return QApplication::exec();
}
