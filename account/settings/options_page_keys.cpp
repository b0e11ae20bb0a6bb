// TfrmOptKeys: key files or the key device, and the two key-file paths.
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "base/utf.h"
#include "options_page_helpers.h"
#include "qovra/controls/button_edit.h"

using qovra::account::Msg;
using qovra::account::NamedLabel;
using qovra::ui::TButtonEdit;

namespace qovra::account {

QString FolderOf(const QString& path) {
  if (path.isEmpty()) return {};
  return QFileInfo(path).absolutePath();
}

}  // namespace qovra::account

namespace {

constexpr int kDroppedFilesTaken = 2;

TButtonEdit* NamedButtonEdit(QWidget* parent, const char* name) {
  auto* edit = new TButtonEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  return edit;
}

}  // namespace

TfrmOptKeys::TfrmOptKeys(QWidget* parent) : TOptionsPage(parent) {
  setAcceptDrops(true);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);

  rbKeysFromMurvex = new QCheckBox(this);
  rbKeysFromMurvex->setObjectName(QStringLiteral("rbKeysFromMurvex"));
  rbKeysFromFileSystem = new QCheckBox(this);
  rbKeysFromFileSystem->setObjectName(QStringLiteral("rbKeysFromFileSystem"));
  column->addWidget(rbKeysFromMurvex);
  column->addWidget(rbKeysFromFileSystem);

  pnlKeyPaths = new QWidget(this);
  pnlKeyPaths->setObjectName(QStringLiteral("pnlKeyPaths"));
  auto* paths = new QVBoxLayout(pnlKeyPaths);
  paths->setContentsMargins(20, 0, 0, 0);
  beCER = NamedButtonEdit(pnlKeyPaths, "beCER");
  lblCER = NamedLabel(pnlKeyPaths, "lblCER", beCER);
  bePRK = NamedButtonEdit(pnlKeyPaths, "bePRK");
  lblPRK = NamedLabel(pnlKeyPaths, "lblPRK", bePRK);
  for (QWidget* w : {static_cast<QWidget*>(lblCER), static_cast<QWidget*>(beCER),
                     static_cast<QWidget*>(lblPRK), static_cast<QWidget*>(bePRK)})
    paths->addWidget(w);
  column->addWidget(pnlKeyPaths);

  btnHideKeyPaths = new QPushButton(this);
  btnHideKeyPaths->setObjectName(QStringLiteral("btnHideKeyPaths"));
  auto* button_row = new QHBoxLayout;
  button_row->addWidget(btnHideKeyPaths);
  button_row->addStretch(1);
  column->addLayout(button_row);
  column->addStretch(1);
  NameHideButton();

  connect(rbKeysFromMurvex, &QCheckBox::clicked, this, &TfrmOptKeys::rbKeysFromMurvexClick);
  connect(rbKeysFromFileSystem, &QCheckBox::clicked, this, &TfrmOptKeys::rbKeysFromFileSystemClick);
  connect(btnHideKeyPaths, &QPushButton::clicked, this, &TfrmOptKeys::btnHideKeyPathsClick);
  connect(beCER, &TButtonEdit::OnButtonClick, this, &TfrmOptKeys::beCERButtonClick);
  connect(bePRK, &TButtonEdit::OnButtonClick, this, &TfrmOptKeys::bePRKButtonClick);
  connect(beCER, &QLineEdit::textChanged, this, &TfrmOptKeys::beCERChange);
}

void TfrmOptKeys::rbKeysFromMurvexClick() {
  rbKeysFromMurvex->setChecked(true);
  rbKeysFromFileSystem->setChecked(false);
  pnlKeyPaths->setEnabled(false);
}

void TfrmOptKeys::rbKeysFromFileSystemClick() {
  rbKeysFromMurvex->setChecked(false);
  rbKeysFromFileSystem->setChecked(true);
  pnlKeyPaths->setEnabled(true);
}

void TfrmOptKeys::NameHideButton() {
  btnHideKeyPaths->setText(Msg(pnlKeyPaths->isHidden() ? "msgShowKeyPaths" : "msgHideKeyPaths"));
}

void TfrmOptKeys::btnHideKeyPathsClick() {
  pnlKeyPaths->setVisible(pnlKeyPaths->isHidden());
  NameHideButton();
}

void TfrmOptKeys::TntFormShow() {
  NameHideButton();
}

void TfrmOptKeys::beCERButtonClick() {
  const QString file = qovra::account::OpenFileChooser().ChooseFile(
      this, Msg("msgCertificateFileFilter"), qovra::account::FolderOf(beCER->text()));
  if (!file.isEmpty()) beCER->setText(file);
}

void TfrmOptKeys::bePRKButtonClick() {
  const QString file = qovra::account::OpenFileChooser().ChooseFile(
      this, Msg("msgPrivateKeyFileFilter"), qovra::account::FolderOf(bePRK->text()));
  if (!file.isEmpty()) bePRK->setText(file);
}

void TfrmOptKeys::beCERChange() {
  const QString cer = beCER->text();
  if (cer.isEmpty()) {
    bePRK->clear();
    return;
  }
  // The last extension of the file name is replaced; a name without one gets it.
  const QString suffix = QFileInfo(cer).suffix();
  const QString base = suffix.isEmpty() ? cer : cer.left(cer.size() - suffix.size() - 1);
  bePRK->setText(base + QStringLiteral(".prk"));
}

bool TfrmOptKeys::TakeDroppedFiles(const QStringList& paths) {
  bool taken = false;
  for (qsizetype i = 0; i < paths.size() && i < kDroppedFilesTaken; ++i) {
    const QFileInfo info(paths[i]);
    if (!info.isFile()) continue;
    const QString suffix = info.suffix().toLower();
    if (suffix == QLatin1String("cer")) {
      beCER->setText(paths[i]);
      taken = true;
    } else if (suffix == QLatin1String("prk")) {
      bePRK->setText(paths[i]);
      taken = true;
    }
  }
  if (taken && pnlKeyPaths->isHidden()) btnHideKeyPathsClick();
  return taken;
}

void TfrmOptKeys::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TfrmOptKeys::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  if (TakeDroppedFiles(paths)) event->acceptProposedAction();
}

void TfrmOptKeys::Load(const qovra::TOptions& options) {
  if (options.Keys.keyssrc == 1) {
    rbKeysFromMurvexClick();
  } else {
    rbKeysFromFileSystemClick();
  }
  beCER->setText(QString::fromStdU16String(options.Keys.crtpath));
  bePRK->setText(QString::fromStdU16String(options.Keys.pvkpath));
}

void TfrmOptKeys::Save(qovra::TOptions& options) {
  options.Keys.keyssrc = rbKeysFromMurvex->isChecked() ? 1 : 0;
  options.Keys.crtpath = beCER->text().toStdU16String();
  options.Keys.pvkpath = bePRK->text().toStdU16String();
}
