#include "qovra/workspace/attachment_save.h"

#include <unistd.h>

#include <QFileInfo>
#include <cerrno>
#include <cstdio>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/utf.h"
#include "platform/temp_files.h"
#include "qovra/ui/widgets.h"
#include "seam/ui_seam.h"
#include "store/mail_container_reader.h"

namespace qovra::ui {

bool SaveAttachmentFile(TMailReader& reader, int64_t index, bool by_position, const QString& path,
                        void* progress_data, TProgressProc progress, std::string& reason) {
  reason.clear();
  const std::string target = path.toStdString();
  const std::string folder = QFileInfo(path).absolutePath().toStdString() + "/";
  // Made here, silently and exclusively, so that the reader's own creation
  // of it below cannot fail with a message of its own.
  std::string part;
  const int fd = CreateUniqueFile(folder, ".qovra-", ".part", part);
  if (fd < 0) {
    reason = SystemErrorText(errno);
    return false;
  }
  ::close(fd);
  errno = 0;
  if (!reader.SaveAttachment(index, by_position, progress_data, progress, /*append_name=*/false,
                             Utf8ToUtf16(part))) {
    const int error = errno;
    ::unlink(part.c_str());
    reason = "not written whole";
    if (error != 0) reason += " (" + SystemErrorText(error) + ")";
    return false;
  }
  if (::rename(part.c_str(), target.c_str()) != 0) {
    reason = SystemErrorText(errno);
    ::unlink(part.c_str());
    return false;
  }
  return true;
}

void ReportAttachmentNotSaved(QWidget* owner, const QString& path, const std::string& reason) {
  std::fprintf(stderr, "qovra: cannot save an attachment to %s: %s\n", qPrintable(path),
               reason.c_str());
  (void)ShowMessageText(HandleOf(owner),
                        FormatMsgArgs(GetMsg("msgCannotSaveAttachment"), path.toStdString()),
                        kMsgIconWarning);
}

}  // namespace qovra::ui
