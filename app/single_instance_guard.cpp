#include "single_instance_guard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QThread>
#include <QWidget>
#include <cstring>

#include "base/messages.h"

namespace qovra::app {
namespace {

// A client sends one short line; anything longer is dropped.
constexpr qint64 kMaxLine = 64;

QWidget* MainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMainWindow*>(w) && w->isVisible()) return w;
  }
  return nullptr;
}

}  // namespace

TSingleInstanceGuard::TSingleInstanceGuard(QObject* parent) : QObject(parent) {}

TSingleInstanceGuard::~TSingleInstanceGuard() {
  if (server_) {
    server_->close();  // removes the socket file while the lock is still ours
    delete server_;
  }
}

TSingleInstanceGuard::Outcome TSingleInstanceGuard::Check(const std::string& folder,
                                                          int activate_timeout_ms) {
  const std::string dir = folder.empty() ? InstanceFolder() : folder;
  if (dir.empty()) return Outcome::LockFailed;
  socket_path_ = QString::fromStdString(InstanceSocketPath(dir));
  switch (lock_.Acquire(dir)) {
    case TInstanceLock::Result::Failed:
      return Outcome::LockFailed;
    case TInstanceLock::Result::HeldElsewhere:
      SendActivation(socket_path_, activate_timeout_ms);
      return Outcome::AnotherCopy;
    case TInstanceLock::Result::Acquired:
      break;
  }
  // The lock is ours: whatever socket file is there was left by a copy
  // that is gone.
  QLocalServer::removeServer(socket_path_);
  server_ = new QLocalServer;
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(socket_path_)) {
    delete server_;
    server_ = nullptr;
    lock_.Release();
    return Outcome::ListenFailed;
  }
  connect(server_, &QLocalServer::newConnection, this, &TSingleInstanceGuard::OnNewConnection);
  return Outcome::OnlyCopy;
}

void TSingleInstanceGuard::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    if (socket->bytesAvailable() > 0) OnReadyRead(socket);
  }
}

void TSingleInstanceGuard::OnReadyRead(QLocalSocket* socket) {
  if (!socket->canReadLine()) {
    if (socket->bytesAvailable() > kMaxLine) socket->abort();
    return;
  }
  const QByteArray line = socket->readLine(kMaxLine + 1);
  socket->disconnectFromServer();
  if (line != QByteArray(kActivateLine)) return;
  ++activations_;
  BringApplicationForward();
  emit activated();
}

bool SendActivation(const QString& socket_path, int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  do {
    QLocalSocket socket;
    socket.connectToServer(socket_path);
    if (socket.waitForConnected(200)) {
      socket.write(kActivateLine, static_cast<qint64>(std::strlen(kActivateLine)));
      const bool written = socket.waitForBytesWritten(1000);
      socket.disconnectFromServer();
      if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(200);
      return written;
    }
    QThread::msleep(50);
  } while (clock.elapsed() < timeout_ms);
  return false;
}

void BringApplicationForward() {
  QWidget* main = MainWindow();
  if (main && main->isMinimized()) main->showNormal();
  QWidget* target = QApplication::activeModalWidget();
  if (!target) target = main;
  if (!target) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      const Qt::WindowType type = w->windowType();
      if (w->isVisible() && (type == Qt::Window || type == Qt::Dialog)) {
        target = w;
        break;
      }
    }
  }
  if (!target) return;
  if (target->isMinimized()) {
    target->showNormal();
  } else {
    target->show();
  }
  target->raise();
  target->activateWindow();
}

void ReportGuardFailure(TSingleInstanceGuard::Outcome outcome) {
  if (outcome == TSingleInstanceGuard::Outcome::LockFailed) {
    (void)ShowMessageText(nullptr, GetMsg("msgInstanceLockError"), kMsgIconError);
  } else if (outcome == TSingleInstanceGuard::Outcome::ListenFailed) {
    (void)ShowMessageText(nullptr, GetMsg("msgInstanceListenError"), kMsgIconError);
  }
}

bool CheckSingleInstance(TSingleInstanceGuard& guard, const std::string& folder) {
  const TSingleInstanceGuard::Outcome outcome = guard.Check(folder);
  ReportGuardFailure(outcome);
  return outcome == TSingleInstanceGuard::Outcome::OnlyCopy;
}

}  // namespace qovra::app
