#include "qovra/workspace/main_receive_notices.h"

#include <QGuiApplication>

#include "qovra/ui/sound.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/tray_icon.h"

namespace qovra::ui {

TMainReceiveNotices::TMainReceiveNotices(TfrmMain& form, ITrayIcon& tray)
    : form_(form), tray_(tray) {}

bool TMainReceiveNotices::ApplicationActive() {
  if (active_check_) return active_check_();
  return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

bool TMainReceiveNotices::MainWindowHidden() {
  return !form_.isVisible();
}

void TMainReceiveNotices::PlaySoundFile(const std::u16string& path) {
  qovra::ui::PlaySoundFile(QString::fromStdU16String(path));
}

void TMainReceiveNotices::ShowTrayNotice(const std::string& title, const std::string& text,
                                         int timeout_ms) {
  tray_.ShowBalloonHint(QString::fromStdString(title), QString::fromStdString(text), timeout_ms);
}

void TMainReceiveNotices::RefreshFolders(int32_t folder_id) {
  form_.RefreshFolderCounters();
  form_.SelectFolder(folder_id);
}

}  // namespace qovra::ui
