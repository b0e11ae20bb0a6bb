// jorvik, the certificate viewer.
//
//   jorvik [/h<window>] <certificate file> [--render <out.png>]
//
// /h names the window (decimal handle) the viewer belongs to; on X11 the
// viewer stays above it. --render draws the window into a PNG file, prints
// the shown texts on standard output and ends (tests, screenshots).
// Exit codes: 0 shown (or rendered), 1 the file could not be shown, 2 a bad
// command line.
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTextStream>
#include <QWindow>
#include <cstdio>

#include "cert_info.h"
#include "cert_window.h"

namespace {

struct Arguments {
  quint64 owner = 0;
  QString file;
  QString render;
};

bool ParseArguments(const QStringList& args, Arguments* out) {
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--render")) {
      if (++i >= args.size()) return false;
      out->render = args[i];
    } else if (a.startsWith(QLatin1String("/h"))) {
      bool ok = false;
      out->owner = a.mid(2).toULongLong(&ok, 10);
      if (!ok) return false;
    } else if (out->file.isEmpty()) {
      out->file = a;
    } else {
      return false;
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
    std::fprintf(stderr, "usage: jorvik [/h<window>] <certificate file> [--render <out.png>]\n");
    return 2;
  }

  jorvik::TCertificateInfo info;
  std::string error;
  if (!jorvik::ReadCertificateFile(args.file.toStdString(), &info, &error)) {
    const QString text = QStringLiteral("The certificate cannot be shown:\n%1\n(%2)")
                             .arg(args.file, QString::fromStdString(error));
    std::fprintf(stderr, "jorvik: %s\n", qPrintable(text));
    if (args.render.isEmpty()) QMessageBox::critical(nullptr, QStringLiteral("Certificate"), text);
    return 1;
  }

  TfrmCertificate window(info);
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
  window.show();
  return QApplication::exec();
}
