// TfrmMain: the mail import action.
#include "base/records.h"
#include "qovra/workspace/import_form.h"
#include "qovra/workspace/main_window.h"

void TfrmMain::acMailImportExecute() {
  TfrmImport dialog(this);
  if (dialog.exec() != TfrmImport::kResultImported) return;
  RefreshFolderCounters();
  SelectFolder(qovra::kFolderInbox);
}
