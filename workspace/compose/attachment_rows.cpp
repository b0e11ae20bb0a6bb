#include "qovra/workspace/attachment_rows.h"

#include <sys/wait.h>

#include <QCoreApplication>
#include <QListWidget>
#include <QPointer>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/utf.h"
#include "platform/run_thread.h"
#include "platform/temp_files.h"
#include "qovra/ui/shell.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/compose_rules.h"
#include "seam/ui_seam.h"
#include "store/mail_container_names.h"

namespace qovra::ui {

namespace {
constexpr int kRoleOffset = Qt::UserRole + 1;
constexpr int kRoleSize = Qt::UserRole + 2;
}  // namespace

QListWidgetItem* AddAttachmentRow(QListWidget* list, const TMailAttachmentInfo& info) {
  const std::u16string path(info.FileName.view());
  const QString qpath = QString::fromStdU16String(path);
  auto* item = new QListWidgetItem(
      QString::fromStdU16String(qovra::compose::AttachmentCaption(path, info.DataSize)));
  item->setData(Qt::UserRole, qpath);
  item->setData(kRoleOffset, static_cast<qlonglong>(info.DataOffset));
  item->setData(kRoleSize, static_cast<qlonglong>(info.DataSize));
  item->setIcon(SystemImageIcon(GetFileIconIndex(qpath)));
  item->setToolTip(qpath);
  list->addItem(item);
  return item;
}

TMailAttachmentInfo AttachmentOfRow(const QListWidgetItem* item) {
  TMailAttachmentInfo info;
  info.FileName = item->data(Qt::UserRole).toString().toStdU16String();
  info.DataOffset = item->data(kRoleOffset).toLongLong();
  info.DataSize = item->data(kRoleSize).toLongLong();
  return info;
}

QListWidgetItem* SelectedAttachmentRow(QListWidget* list) {
  QListWidgetItem* item = list->currentItem();
  if (item && item->isSelected()) return item;
  const QList<QListWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? nullptr : selected.front();
}

std::string ExtractToTemp(TMailReader& reader, int64_t data_offset, void* progress_data,
                          TProgressProc progress) {
  const int index = reader.IndexOfAttachment(data_offset);
  if (index < 0) return {};
  const std::string folder = GetTempFolder();
  if (!reader.SaveAttachment(data_offset, /*by_position=*/false, progress_data, progress,
                             /*append_name=*/true, Utf8ToUtf16(folder)))
    return {};
  // The name SaveAttachment used: never a path, never "..".
  const std::u16string bare = BareFileNameOr(
      reader.Attachments()[static_cast<size_t>(index)].FileName.view(), u"attachment");
  return folder + Utf16ToUtf8(bare);
}

namespace {
TRunThreadList* run_threads_override = nullptr;
}  // namespace

TRunThreadList& MailWindowRunThreads() {
  if (run_threads_override) return *run_threads_override;
  // The program's list ends its programs before the application object goes.
  if (RunThreadList) return *RunThreadList;
  static TRunThreadList list;
  return list;
}

void SetMailWindowRunThreads(TRunThreadList* list) {
  run_threads_override = list;
}

bool OpenAttachmentFile(QWidget* owner, const std::string& file) {
  // The opener's end is learnt on its waiting thread; a failure is told on
  // the interface thread, over owner while it lives.
  const QPointer<QWidget> guard(owner);
  QObject* const app = QCoreApplication::instance();
  auto on_end = [guard, file, app](int status) {
    if (!app || !WIFEXITED(status) || WEXITSTATUS(status) == 0) return;
    const int code = WEXITSTATUS(status);
    QMetaObject::invokeMethod(
        app,
        [guard, file, code] {
          std::fprintf(stderr, "qovra: the document opener could not open %s (exit status %d)\n",
                       file.c_str(), code);
          const std::string name = std::filesystem::path(file).filename().string();
          (void)ShowMessageText(HandleOf(guard.data()),
                                FormatMsgArgs(GetMsg("msgAttachmentNotOpened"), name),
                                kMsgIconWarning);
        },
        Qt::QueuedConnection);
  };
  if (MailWindowRunThreads().OpenDocument(file, std::move(on_end)).Started()) return true;
  std::fprintf(stderr, "qovra: no program could be started to open %s\n", file.c_str());
  ShowWarning(HandleOf(owner), "msgCannotOpenAttachment");
  return false;
}

}  // namespace qovra::ui
