// A copy of the program reduced to its single-instance guard, for the
// guard's tests:
//
//   single_instance_probe <folder>
//
// Prints the guard's outcome ("only", "another", "lock-failed",
// "listen-failed"). The only copy then keeps running and prints
// "activated <n>" for every activation until it is killed; the others end
// at once (exit code 0 for "another", 1 for the failures).
#include <QApplication>
#include <cstdio>

#include "single_instance_guard.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) return 2;
  qovra::app::TSingleInstanceGuard guard;
  using Outcome = qovra::app::TSingleInstanceGuard::Outcome;
  const Outcome outcome = guard.Check(argv[1]);
  switch (outcome) {
    case Outcome::OnlyCopy:
      std::printf("only\n");
      break;
    case Outcome::AnotherCopy:
      std::printf("another\n");
      return 0;
    case Outcome::LockFailed:
      std::printf("lock-failed\n");
      return 1;
    case Outcome::ListenFailed:
      std::printf("listen-failed\n");
      return 1;
  }
  std::fflush(stdout);
  QObject::connect(&guard, &qovra::app::TSingleInstanceGuard::activated, [&guard] {
    std::printf("activated %d\n", guard.ActivationCount());
    std::fflush(stdout);
  });
  return QApplication::exec();
}
