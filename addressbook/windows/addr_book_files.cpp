// TfrmAddrBook: export and import of contacts files, and the server
// directory.
#include <unistd.h>

#include <QFileDialog>
#include <QTreeView>
#include <cstdio>
#include <filesystem>

#include "addr_book_detail.h"
#include "base/msg_format.h"
#include "net/id_http_client.h"
#include "net/ie_http_client.h"
#include "platform/temp_files.h"
#include "qovra/addressbook/addr_book.h"
#include "qovra/addressbook/addr_book_model.h"
#include "qovra/addressbook/address_book.h"
#include "qovra/addressbook/contacts_file.h"
#include "qovra/ui/file_dialog_folder.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"
#include "seam/ui_seam.h"

using qovra::TContactNode;
using qovra::addressbook::detail::Msg;

namespace {

// While an import runs with the progress window shown: the duplicate
// question is asked over the book, with the progress window out of its
// way until it is answered.
class TImportQuestions : public qovra::IDupDialogUi {
 public:
  explicit TImportQuestions(QWidget* book) : book_(book), previous_(&qovra::DupDialogUi()) {
    qovra::SetDupDialogUi(this);
  }
  ~TImportQuestions() override { qovra::SetDupDialogUi(previous_); }
  TImportQuestions(const TImportQuestions&) = delete;
  TImportQuestions& operator=(const TImportQuestions&) = delete;

  int ShowDupDialog(qovra::TWindowHandle owner, const std::string& text) override {
    qovra::ui::HideProgress(book_, false);
    const int answer = previous_->ShowDupDialog(owner ? owner : qovra::ui::HandleOf(book_), text);
    qovra::ui::ShowProgress(book_, true, Msg("msgImporting"), Msg("msgContacts"));
    return answer;
  }

 private:
  QWidget* book_;
  qovra::IDupDialogUi* previous_;
};

}  // namespace

QString TfrmAddrBook::ChooseFile(bool save) {
  QFileDialog dialog(this);
  dialog.setObjectName(save ? QStringLiteral("saveDlg") : QStringLiteral("openDlg"));
  dialog.setNameFilter(Msg("msgContactsFileFilter"));
  dialog.setDefaultSuffix(QStringLiteral("ecx"));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDirectory(qovra::ui::FileDialogStartFolder());
  // The overwrite question is the window's own.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  const QString chosen = dialog.selectedFiles().front();
  qovra::ui::RememberFileDialogChoice(chosen);
  return chosen;
}

bool TfrmAddrBook::ExportTo(const std::string& file_name) {
  TContactNode* node = FirstSelected();
  if (!node) return false;
  const int32_t id = node->Parent && node->Parent->Parent ? node->Record.Id : 0;
  if (qovra::ExportContactsFile(db_, node->IsGroup ? id : node->Record.Id, node->IsGroup,
                                file_name))
    return true;
  if (!db_.LastError().empty()) std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
  (void)qovra::ShowMessageText(
      this, qovra::FormatMsg(qovra::GetMsg("msgContactsExportFailed"), {file_name}),
      qovra::kMsgIconWarning | qovra::kMsgButtonsOk);
  return false;
}

void TfrmAddrBook::acContactsExportExecute() {
  if (!FirstSelected()) return;
  const QString file = AskFileName(true);
  if (file.isEmpty()) return;
  const std::string path = file.toStdString();
  std::error_code ec;
  if (std::filesystem::exists(path, ec) &&
      qovra::ShowMessageText(this, qovra::FormatMsg(qovra::GetMsg("msgConfirmOverwrite"), {path}),
                             qovra::kMsgIconQuestion | qovra::kMsgButtonsYesNo) !=
          qovra::kMsgResultYes)
    return;
  (void)ExportTo(path);
}

void TfrmAddrBook::acContactsImportExecute() {
  const QString file = AskFileName(false);
  if (!file.isEmpty()) ImportFromFile(file.toStdString());
}

void TfrmAddrBook::ImportFromFile(const std::string& file_name) {
  TContactNode* target = FocusedNode();
  if (!target) target = FirstSelected();
  if (target && !target->IsGroup) target = target->Parent;
  if (!target || !target->Parent) {
    target = model_->Tree().First();
    FocusRow(target, 0);
  }
  if (!target) return;
  qovra::TImportRun run;
  qovra::TImportResult result;
  {
    qovra::ui::ShowProgress(this, true, Msg("msgImporting"), Msg("msgContacts"));
    const TImportQuestions questions(this);
    run.Progress = &qovra::ProgressCallback;
    run.ProgressData = frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr;
    result = qovra::ImportContactsFile(db_, file_name, target->Record.Id, run);
    qovra::ui::HideProgress(this, false);
  }
  if (run.Fault != qovra::TContactsFileFault::None) {
    std::fprintf(stderr, "address book: %s refused (%s): %s\n", file_name.c_str(),
                 std::string(qovra::ContactsFileFaultName(run.Fault)).c_str(), run.Detail.c_str());
  }
  if (result == qovra::TImportResult::DbError)
    std::fprintf(stderr, "address book: %s\n", db_.LastError().c_str());
  const std::string_view key = qovra::ImportResultMessage(result);
  if (!key.empty()) qovra::ShowWarning(this, key);
  if (result != qovra::TImportResult::Done || !qovra::ImportChanged) return;
  vstAddrBook->setUpdatesEnabled(false);
  const bool loaded = model_->ReloadGroup(db_, target);
  ExpandBelow(target);
  vstAddrBook->setUpdatesEnabled(true);
  FocusRow(target, 0);
  if (!loaded) ShowDatabaseError();
}

void TfrmAddrBook::acContactsImportFromWebExecute() {
  using qovra::Options;
  std::string path;
  const int fd = qovra::CreateUniqueFile(qovra::GetTempFolder(), "contacts_", ".ecx", path);
  if (fd < 0) {
    qovra::ShowWarning(this, "msgCouldNotConnectToServer");
    return;
  }
  ::close(fd);
  const std::string url = qovra::DirectoryUrl(Options.Conn.srvaddr, Options.langid);
  qovra::ui::ShowProgress(this, true, Msg("msgImporting"), Msg("msgContacts"));
  void* bar = frmProgress ? static_cast<void*>(frmProgress->progBar) : nullptr;
  bool ok;
  if (Options.Conn.useiewc == 2) {
    qovra::TIEHttpClient client(&qovra::ProgressCallback, bar, Options.Conn);
    ok = client.DownloadToFile(url, path);
  } else {
    qovra::TIdHttpClient client(&qovra::ProgressCallback, bar, Options.Conn);
    ok = client.DownloadToFile(url, path);
  }
  if (!ok) qovra::ShowWarning(this, "msgCouldNotConnectToServer");
  qovra::ui::HideProgress(this, false);
  if (ok) ImportFromFile(path);
  std::error_code ec;
  std::filesystem::remove(path, ec);
}
