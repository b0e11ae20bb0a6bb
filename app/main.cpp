// qovra: the mail client.
#include <QApplication>

#include "program_main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qovra"));
  return qovra::app::ExitCodeOf(qovra::app::ProgramMain());
}
