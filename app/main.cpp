// qovra: the mail client.
#include <QApplication>
#include <cstdio>
#include <exception>

#include "program_main.h"

int main(int argc, char** argv) {
  // The main block reports what escapes its steps; this catches what is
  // left, such as a failure of the message dialog itself.
  try {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qovra"));
    return qovra::app::ExitCodeOf(qovra::app::ProgramMain());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qovra: the program ends after an unexpected error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "qovra: the program ends after an unexpected error\n");
  }
  return 1;
}
