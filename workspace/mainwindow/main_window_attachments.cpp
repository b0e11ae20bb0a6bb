// TfrmMain: saving the attachments of the open viewer.
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <cstdio>

#include "base/messages.h"
#include "base/msg_format.h"
#include "base/utf.h"
#include "platform/file_utils.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/attachment_save.h"
#include "qovra/workspace/mail_commands.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/view_mail.h"
#include "qovra/workspace/view_voice_mail.h"
#include "seam/ui_seam.h"
#include "store/mail_container_reader.h"

namespace {

TfrmMain::TRecordingSaveChooser& RecordingSaveChooser() {
  static TfrmMain::TRecordingSaveChooser chooser;
  return chooser;
}

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

}  // namespace

void TfrmMain::SetRecordingSaveChooser(TRecordingSaveChooser chooser) {
  RecordingSaveChooser() = std::move(chooser);
}

bool TfrmMain::acMailAttachmentsSaveExecute() {
  if (active_form_kind_ == TActiveFormKind::TextViewer && frmView_) {
    frmView_->acSaveAllExecute();
    return false;
  }
  if (active_form_kind_ != TActiveFormKind::VoiceViewer || !frmViewVoice_ || !frmViewVoice_->Reader)
    return false;
  TfrmViewVoiceMail& viewer = *frmViewVoice_;
  const QString proposed =
      QString::fromStdU16String(qovra::mailcmd::SaveAsFileName(viewer.Reader->Subject(), u".mp3"));
  std::optional<QString> chosen;
  if (RecordingSaveChooser()) {
    chosen = RecordingSaveChooser()(&viewer, proposed);
  } else {
    const QString folder =
        QString::fromStdU16String(qovra::GetSpecialFolderW(qovra::kCsidlPersonal));
    const QString path = QFileDialog::getSaveFileName(
        &viewer, Msg("btnSaveVoiceCaption"),
        folder.isEmpty() ? proposed : folder + QLatin1Char('/') + proposed,
        Msg("msgMp3FilesFilter"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) chosen = path;
  }
  if (!chosen || chosen->isEmpty()) return false;
  if (QFileInfo::exists(*chosen)) {
    const std::string question =
        qovra::FormatMsgArgs(qovra::GetMsg("msgConfirmOverwrite"), chosen->toStdString());
    if (qovra::ShowMessageText(qovra::ui::HandleOf(&viewer), question,
                               qovra::kMsgIconQuestion | 4) != qovra::kMsgResultYes)
      return false;
  }
  StatusBusy(Msg("msgSavingAudioRecord"));
  std::string reason;
  const bool saved =
      qovra::ui::SaveAttachmentFile(*viewer.Reader, 0, /*by_position=*/true, *chosen,
                                    viewer.ProgressBar, qovra::ProgressCallback, reason);
  StatusReady();
  if (!saved) qovra::ui::ReportAttachmentNotSaved(&viewer, *chosen, reason);
  return saved;
}
