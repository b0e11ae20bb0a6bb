#include "qovra/ui/file_dialog_folder.h"

#include <QFileInfo>

#include "platform/file_utils.h"

namespace qovra::ui {

namespace {

QString& Remembered() {
  static QString folder;
  return folder;
}

}  // namespace

QString FileDialogStartFolder() {
  const QString& folder = Remembered();
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
  return QString::fromStdU16String(GetSpecialFolderW(kCsidlPersonal));
}

void RememberFileDialogChoice(const QString& chosen) {
  if (chosen.isEmpty()) return;
  Remembered() = QFileInfo(chosen).absolutePath();
}

}  // namespace qovra::ui
