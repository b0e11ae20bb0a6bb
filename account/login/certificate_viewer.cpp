#include "qovra/account/certificate_viewer.h"

#include <QWidget>
#include <filesystem>

#include "base/records.h"
#include "platform/run_thread.h"
#include "settings/settings.h"

namespace qovra::account {

void OpenCertificateViewer(QWidget* owner, const std::string& cert_file) {
  const std::string viewer = qovra::ProgramDir + "jorvik";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(viewer, ec) || !qovra::RunThreadList) return;
  // The viewer shows its texts in the program's language.
  (void)qovra::RunThreadList->Run(
      viewer, {"/h" + std::to_string(owner->winId()), "/l" + std::to_string(qovra::Options.langid),
               cert_file});
}

}  // namespace qovra::account
