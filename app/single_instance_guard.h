// The single-instance guard of the program: one running copy per user, and
// a second start brings the running copy to the front.
//
// The first copy holds the instance lock (qovra/single_instance.h) and
// listens on the instance socket beside it. A second copy finds the lock
// held, connects to that socket, sends the line "activate" and ends; the
// first copy then brings its windows forward. A socket file left behind by
// a killed copy is removed by the next copy that holds the lock, so it
// never blocks a restart.
//
// GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <string>

#include "platform/single_instance.h"

class QLocalServer;
class QLocalSocket;

namespace qovra::app {

// The line a second copy sends.
inline constexpr char kActivateLine[] = "activate\n";

class TSingleInstanceGuard : public QObject {
  Q_OBJECT

 public:
  enum class Outcome {
    OnlyCopy,      // this copy holds the lock and listens
    AnotherCopy,   // another copy runs; it has been asked to come forward
    LockFailed,    // no usable folder or lock file
    ListenFailed,  // the lock is ours but the socket could not be set up
  };

  explicit TSingleInstanceGuard(QObject* parent = nullptr);
  ~TSingleInstanceGuard() override;

  // Tries to become the only copy, with the lock and socket in folder
  // (with a trailing "/"; empty: InstanceFolder()). For AnotherCopy, the
  // running copy has been sent the activation (waiting at most
  // activate_timeout_ms for it to listen: it may still be starting). The
  // lock is kept while this object lives (OnlyCopy) and released otherwise.
  Outcome Check(const std::string& folder = {}, int activate_timeout_ms = 3000);

  // Activations received so far.
  int ActivationCount() const { return activations_; }
  QString SocketPath() const { return socket_path_; }

 signals:
  // A second copy asked this one to come forward (after it was brought
  // forward).
  void activated();

 private:
  void OnNewConnection();
  void OnReadyRead(QLocalSocket* socket);

  TInstanceLock lock_;
  QLocalServer* server_ = nullptr;
  QString socket_path_;
  int activations_ = 0;
};

// Connects to the copy listening at socket_path, retrying for up to
// timeout_ms while it is not listening yet, and sends the activation. True
// when the line was written.
bool SendActivation(const QString& socket_path, int timeout_ms);

// Brings the application forward: a minimised main window is restored, the
// modal window (such as the login window), else the main window, else any
// visible window, is shown, raised and activated.
void BringApplicationForward();

// Shows LockFailed and ListenFailed as error messages with the guard's
// fixed texts; nothing for the other outcomes.
void ReportGuardFailure(TSingleInstanceGuard::Outcome outcome);

// CheckSingleInstance: Check, then ReportGuardFailure. True only for
// OnlyCopy; the caller then ends the program.
bool CheckSingleInstance(TSingleInstanceGuard& guard, const std::string& folder = {});

}  // namespace qovra::app
