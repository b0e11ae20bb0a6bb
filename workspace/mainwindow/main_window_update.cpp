// TfrmMain: the first activation's notices, the update link and the update
// check.
#include <QUrl>
#include <cstdio>

#include "base/base64.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/records.h"
#include "base/version.h"
#include "commands/account_commands.h"
#include "commands/login_command.h"
#include "platform/run_thread.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/update_page.h"
#include "settings/settings.h"

namespace qovra::ui {

std::optional<std::string> UpdatePageAddress(const std::string& url, uint32_t version_code) {
  const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
  const QString scheme = parsed.scheme().toLower();
  if (!parsed.isValid() ||
      (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) ||
      parsed.host().isEmpty())
    return std::nullopt;
  return url + "?ver=" + std::to_string(version_code);
}

}  // namespace qovra::ui

void TfrmMain::FirstActivationNotices() {
  const int32_t days = qovra::Session.CertValidityRemain;
  if (days > 0) {
    (void)qovra::ShowMessageText(
        qovra::ui::HandleOf(this),
        qovra::FormatMsgArgs(qovra::GetMsg("msgCertIsAboutToBeExpired"), days),
        qovra::kMsgIconWarning);
  }
  if (qovra::CurrentVersionCode >= qovra::LatestVersionCode || qovra::UpdateRule.empty()) return;
  const std::string rule = qovra::Base64Decode(qovra::UpdateRule);
  if (rule.empty()) return;
  if (qovra::OfferUpdate(qovra::ui::HandleOf(this), qovra::LatestClientVersion, rule)) close();
}

void TfrmMain::wlUpdateClick() {
  if (qovra::UpdateUrl.empty()) return;
  const std::optional<std::string> address =
      qovra::ui::UpdatePageAddress(qovra::UpdateUrl, qovra::CurrentVersionCode);
  if (!address) {
    std::fprintf(stderr, "qovra: the update page is not an http or https address: %s\n",
                 qovra::UpdateUrl.c_str());
    return;
  }
  if (qovra::RunThreadList) (void)qovra::RunThreadList->OpenDocument(*address);
}

void TfrmMain::acHelpCheckUpdateExecute() {
  if (qovra::Session.State != 1) return;
  bool close_program = false;
  const qovra::TCommandOwner owner{
      qovra::ui::HandleOf(this), "TfrmMain",
      frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr};
  if (qovra::CheckForUpdate(owner, qovra::GetFileVersionString(qovra::CurrentProgramPath()),
                            close_program) &&
      close_program)
    close();
}
