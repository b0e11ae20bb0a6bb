// TfrmMain: the delivery report of the selected mail and printing a mail.
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "mail/delivery_report.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/mail_commands.h"
#include "qovra/workspace/mail_list_model.h"
#include "qovra/workspace/mail_report.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/main_window.h"
#include "qovra/workspace/print_text.h"
#include "qovra/workspace/view_mail.h"
#include "store/mail_container_reader.h"
#include "store/mail_db.h"

namespace {

QString Msg(std::string_view key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

QString FromUtf16(const std::u16string& text) {
  return QString::fromStdU16String(text);
}

}  // namespace

// Delivery report -----------------------------------------------------------

bool TfrmMain::acMailReportExecute() {
  const std::vector<int> selected = SelectedRows();
  if (selected.empty()) return false;
  const qovra::ui::TMailListRow& mail = model->Row(selected.front());
  std::vector<qovra::TMailReportRow> rows;
  if (!qovra::LoadMailReportRows(qovra::MailDb, mail.Id, rows)) {
    std::fprintf(stderr, "qovra: report of mail %d: %s\n", mail.Id,
                 qovra::MailDb.LastError().c_str());
    return false;
  }
  if (rows.empty()) return false;

  const std::u16string subject = mail.Subject.toStdU16String();
  TfrmMailReport dialog(this);
  dialog.lblReportTitle->setPlainText(
      FromUtf16(qovra::MailReportHeader(mail.FromAddress, subject, mail.SentTime)));
  for (const qovra::TMailReportRow& row : rows) {
    new QTreeWidgetItem(dialog.lvReport,
                        {QString::fromStdString(row.Address),
                         QString::fromStdString(qovra::ReportTimeCell(row.ReceivedTime)),
                         QString::fromStdString(qovra::ReportTimeCell(row.ReadTime))});
  }
  dialog.ReportText =
      FromUtf16(qovra::MailReportText(mail.FromAddress, subject, mail.SentTime, rows));
  (void)dialog.exec();
  return true;
}

// Printing ------------------------------------------------------------------

bool TfrmMain::acMailPrintExecute() {
  const std::optional<TMailSource> source = CurrentSource();
  if (!source || source->Kind == TActiveFormKind::VoiceViewer) return false;
  QWidget* owner = source->Viewer ? static_cast<QWidget*>(source->Viewer) : this;
  std::u16string text;
  std::u16string title;
  if (source->Reader) {
    text = qovra::mailcmd::FormatMailAsText(*source->Reader);
    title = source->Reader->Subject();
  } else {
    if ((source->Mail.Flags & qovra::mfVoice) != 0) return false;
    // An administrative mail lies enciphered in its .eme: not printable
    // from the list.
    if (!ListMailHasContainer(source->Mail)) return false;
    const std::string path =
        qovra::MessagesDir +
        qovra::MailFileName(source->Mail.Uuid.view(), qovra::MailFileKind::Container);
    qovra::TEFileStream stream(path, /*silent=*/true, /*delete_on_free=*/false, qovra::fmOpenRead);
    if (!stream.Opened()) {
      qovra::ShowWarning(qovra::ui::HandleOf(this), "msgMailContentNotFound");
      return false;
    }
    qovra::TMailReader reader(stream);
    StatusBusy(Msg("msgParsingMail"));
    const bool parsed =
        reader.Parse(qovra::ProgressCallback, static_cast<QWidget*>(pnlStatusBar->pbStatus));
    StatusReady();
    if (!parsed) {
      std::fprintf(stderr, "qovra: %s: %s\n", path.c_str(), reader.Error().c_str());
      qovra::ShowWarning(qovra::ui::HandleOf(this), "msgMailFileCorrupted");
      return false;
    }
    text = qovra::mailcmd::FormatMailAsText(reader);
    title = reader.Subject();
  }
  if (text.empty()) return false;
  return qovra::ui::PrintText(owner, QStringLiteral("Times New Roman"), 14, FromUtf16(text),
                              FromUtf16(title));
}
