#include "qovra/workspace/import_form.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>

#include "base/messages.h"
#include "mail/mail_import.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "net/session_setup.h"
#include "qovra/controls/button_edit.h"
#include "qovra/ui/progress.h"
#include "qovra/ui/widgets.h"

namespace {

constexpr int kButtonWidth = 80;
constexpr int kEditWidth = 360;

QString Msg(const char* key) {
  return QString::fromStdString(qovra::GetMsg(key));
}

TfrmImport::TChooser& FolderChooser() {
  static TfrmImport::TChooser chooser;
  return chooser;
}
TfrmImport::TChooser& FileChooser() {
  static TfrmImport::TChooser chooser;
  return chooser;
}

}  // namespace

QString QtNameFilter(const QString& pairs) {
  const QStringList parts = pairs.split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    const QString& description = parts[i];
    filters << (description.contains(QLatin1Char('(') + patterns + QLatin1Char(')'))
                    ? description
                    : description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
  }
  return filters.join(QStringLiteral(";;"));
}

TfrmImport::TfrmImport(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      rbImportFolder(new QRadioButton(this)),
      eImportFolder(new qovra::ui::TButtonEdit(this)),
      rbImportFile(new QRadioButton(this)),
      eImportFile(new qovra::ui::TButtonEdit(this)),
      btnImport(new QPushButton(this)),
      btnClose(new QPushButton(this)) {
  setObjectName(QStringLiteral("frmImport"));
  rbImportFolder->setObjectName(QStringLiteral("rbImportFolder"));
  eImportFolder->setObjectName(QStringLiteral("eImportFolder"));
  rbImportFile->setObjectName(QStringLiteral("rbImportFile"));
  eImportFile->setObjectName(QStringLiteral("eImportFile"));
  btnImport->setObjectName(QStringLiteral("btnImport"));
  btnClose->setObjectName(QStringLiteral("btnClose"));

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(12, 12, 12, 12);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(6);
  grid->addWidget(rbImportFolder, 0, 0);
  grid->addWidget(eImportFolder, 1, 0);
  grid->addWidget(rbImportFile, 2, 0);
  grid->addWidget(eImportFile, 3, 0);
  for (qovra::ui::TButtonEdit* edit : {eImportFolder, eImportFile})
    edit->setMinimumWidth(kEditWidth);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  buttons->addStretch(1);
  for (QPushButton* button : {btnImport, btnClose}) {
    button->setMinimumWidth(kButtonWidth);
    buttons->addWidget(button);
  }
  grid->addItem(new QSpacerItem(0, 6), 4, 0);
  grid->addLayout(buttons, 5, 0);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  rbImportFolder->setChecked(true);
  btnImport->setDefault(true);
  btnImport->setAutoDefault(true);
  btnClose->setAutoDefault(false);

  connect(btnImport, &QPushButton::clicked, this, &TfrmImport::btnImportClick);
  connect(btnClose, &QPushButton::clicked, this, &TfrmImport::reject);
  connect(eImportFolder, &QLineEdit::textEdited, this,
          [this] { rbImportFolder->setChecked(true); });
  connect(eImportFile, &QLineEdit::textEdited, this, [this] { rbImportFile->setChecked(true); });
  connect(eImportFolder, &qovra::ui::TButtonEdit::OnButtonClick, this,
          &TfrmImport::eImportFolderButtonClick);
  connect(eImportFile, &qovra::ui::TButtonEdit::OnButtonClick, this,
          &TfrmImport::eImportFileButtonClick);

  qovra::ui::ApplyLanguageToForm(this);
  file_filter_ = QtNameFilter(Msg("msgQovraMailFilesFilter"));
  eImportFolder->setFocus();
}

void TfrmImport::SetChoosersForTesting(TChooser folder, TChooser file) {
  FolderChooser() = std::move(folder);
  FileChooser() = std::move(file);
}

void TfrmImport::reject() {
  done(stored_ > 0 ? kResultImported : kResultClosed);
}

void TfrmImport::Refocus(qovra::ui::TButtonEdit* field) {
  field->setFocus();
  field->selectAll();
}

void TfrmImport::eImportFolderButtonClick() {
  const QString title = Msg("msgSelectMailFilesFolder");
  const QString chosen =
      FolderChooser() ? FolderChooser()(this, title, eImportFolder->text())
                      : QFileDialog::getExistingDirectory(this, title, eImportFolder->text());
  if (chosen.isEmpty()) return;
  eImportFolder->setText(QDir::toNativeSeparators(chosen));
  rbImportFolder->setChecked(true);
  Refocus(eImportFolder);
}

void TfrmImport::eImportFileButtonClick() {
  const QString chosen = FileChooser() ? FileChooser()(this, file_filter_, eImportFile->text())
                                       : QFileDialog::getOpenFileName(
                                             this, QString(), eImportFile->text(), file_filter_);
  if (chosen.isEmpty()) return;
  eImportFile->setText(QDir::toNativeSeparators(chosen));
  rbImportFile->setChecked(true);
  Refocus(eImportFile);
}

void TfrmImport::btnImportClick() {
  const bool folder_mode = rbImportFolder->isChecked();
  qovra::ui::TButtonEdit* field = folder_mode ? eImportFolder : eImportFile;
  const QFileInfo info(field->text());
  if (field->text().isEmpty() || !info.exists() || info.isDir() != folder_mode) {
    Refocus(field);
    return;
  }
  qovra::TImportTarget target;
  target.Db = &qovra::MailDb;
  target.MessagesDir = qovra::MessagesDir;
  target.OwnAddress = qovra::Session.OwnContact.Email;
  target.Owner = qovra::ui::HandleOf(this);
  target.ShowProgress = folder_mode;
  target.ProgressBar = ::frmProgress ? static_cast<void*>(::frmProgress->progBar) : nullptr;
  const qovra::TImportResult result =
      qovra::ImportPath(target, field->text().toStdString(), folder_mode);
  stored_ += result.Stored;
  if (result.SignMissing) qovra::ShowWarning(target.Owner, "msgMailSignContentNotFound");
  (void)qovra::ShowMessageText(target.Owner, qovra::ImportResultText(result),
                               qovra::kMsgIconInformation);
}
