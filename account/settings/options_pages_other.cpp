// TfrmOptInterface, TfrmOptFolders and TfrmOptMailParameters.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "base/msg_format.h"
#include "options_page_helpers.h"
#include "qovra/controls/button_edit.h"
#include "qovra/ui/shell.h"
#include "qovra/ui/sound.h"

using qovra::account::Msg;
using qovra::account::NamedLabel;
using qovra::ui::TButtonEdit;

namespace {

QCheckBox* NamedCheckBox(QWidget* parent, const char* name) {
  auto* box = new QCheckBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

QComboBox* NamedCombo(QWidget* parent, const char* name) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  return combo;
}

// The automatic receiving periods: message key and seconds.
struct TRefreshPeriod {
  const char* key;
  int seconds;
};
constexpr TRefreshPeriod kRefreshPeriods[] = {
    {"msgFreqNotUsed", 0}, {"msgFreq5", 300},   {"msgFreq10", 600},
    {"msgFreq15", 900},    {"msgFreq30", 1800}, {"msgFreq60", 3600},
};

QVBoxLayout* PageColumn(QWidget* page) {
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  return column;
}

}  // namespace

// Interface.

TfrmOptInterface::TfrmOptInterface(QWidget* parent) : TOptionsPage(parent) {
  auto* column = PageColumn(this);
  cbLanguage = NamedCombo(this, "cbLanguage");
  lblLanguage = NamedLabel(this, "lblLanguage", cbLanguage);
  chkMinimizeToTray = NamedCheckBox(this, "chkMinimizeToTray");
  auto* row = new QHBoxLayout;
  row->addWidget(cbLanguage);
  row->addStretch(1);
  column->addWidget(lblLanguage);
  column->addLayout(row);
  column->addSpacing(6);
  column->addWidget(chkMinimizeToTray);
  column->addStretch(1);
}

void TfrmOptInterface::Load(const qovra::TOptions& options) {
  cbLanguage->setCurrentIndex(options.langid < cbLanguage->count() ? options.langid : -1);
  chkMinimizeToTray->setChecked(options.Other.traymin != 0);
}

void TfrmOptInterface::Save(qovra::TOptions& options) {
  // Without a choice the language stays as it was.
  if (cbLanguage->currentIndex() >= 0) options.langid = cbLanguage->currentIndex();
  options.Other.traymin = chkMinimizeToTray->isChecked() ? 1 : 0;
}

// Folders.

TfrmOptFolders::TfrmOptFolders(QWidget* parent) : TOptionsPage(parent) {
  auto* column = PageColumn(this);
  eMailDirectory = new TButtonEdit(this);
  eMailDirectory->setObjectName(QStringLiteral("eMailDirectory"));
  lblMailDirectory = NamedLabel(this, "lblMailDirectory", eMailDirectory);
  column->addWidget(lblMailDirectory);
  column->addWidget(eMailDirectory);
  column->addStretch(1);
  connect(eMailDirectory, &TButtonEdit::OnButtonClick, this,
          &TfrmOptFolders::eMailDirectoryButtonClick);
}

void TfrmOptFolders::eMailDirectoryButtonClick() {
  const QString folder =
      qovra::ui::BrowseForFolderW(this, Msg("msgSelectMailDirectory"), eMailDirectory->text());
  if (!folder.isEmpty()) eMailDirectory->setText(folder);
}

void TfrmOptFolders::Load(const qovra::TOptions& options) {
  eMailDirectory->setText(QString::fromStdU16String(options.Folders.maildir));
}

void TfrmOptFolders::Save(qovra::TOptions& options) {
  options.Folders.maildir = eMailDirectory->text().toStdU16String();
}

// Mail.

TfrmOptMailParameters::TfrmOptMailParameters(QWidget* parent) : TOptionsPage(parent) {
  auto* column = PageColumn(this);
  auto* grid = new QGridLayout;
  cbSendingMode = NamedCombo(this, "cbSendingMode");
  lblSendingMode = NamedLabel(this, "lblSendingMode", cbSendingMode);
  cbRefresh = NamedCombo(this, "cbRefresh");
  lblRefresh = NamedLabel(this, "lblRefresh", cbRefresh);
  grid->addWidget(lblSendingMode, 0, 0);
  grid->addWidget(cbSendingMode, 0, 1);
  grid->addWidget(lblRefresh, 1, 0);
  grid->addWidget(cbRefresh, 1, 1);
  grid->setColumnStretch(2, 1);
  column->addLayout(grid);

  chkPlaySound = NamedCheckBox(this, "chkPlaySound");
  column->addSpacing(6);
  column->addWidget(chkPlaySound);
  pnlSoundFile = new QWidget(this);
  pnlSoundFile->setObjectName(QStringLiteral("pnlSoundFile"));
  auto* sound = new QHBoxLayout(pnlSoundFile);
  sound->setContentsMargins(20, 0, 0, 0);
  eSoundFile = new TButtonEdit(pnlSoundFile);
  eSoundFile->setObjectName(QStringLiteral("eSoundFile"));
  btnPlay = new QPushButton(pnlSoundFile);
  btnPlay->setObjectName(QStringLiteral("btnPlay"));
  btnStop = new QPushButton(pnlSoundFile);
  btnStop->setObjectName(QStringLiteral("btnStop"));
  sound->addWidget(eSoundFile, 1);
  sound->addWidget(btnPlay);
  sound->addWidget(btnStop);
  column->addWidget(pnlSoundFile);

  chkDefaultShowGroups = NamedCheckBox(this, "chkDefaultShowGroups");
  chkDownloadOnEnter = NamedCheckBox(this, "chkDownloadOnEnter");
  column->addSpacing(6);
  column->addWidget(chkDefaultShowGroups);
  column->addWidget(chkDownloadOnEnter);
  column->addStretch(1);

  FillRefreshItems();
  connect(chkPlaySound, &QCheckBox::clicked, this, &TfrmOptMailParameters::chkPlaySoundClick);
  connect(cbRefresh, &QComboBox::currentIndexChanged, this,
          &TfrmOptMailParameters::cbRefreshChange);
  connect(eSoundFile, &TButtonEdit::OnButtonClick, this,
          &TfrmOptMailParameters::eSoundFileButtonClick);
  connect(btnPlay, &QPushButton::clicked, this, &TfrmOptMailParameters::btnPlayClick);
  connect(btnStop, &QPushButton::clicked, this, &TfrmOptMailParameters::btnStopClick);
  cbRefreshChange();
}

void TfrmOptMailParameters::FillRefreshItems() {
  const QVariant selected = cbRefresh->currentData();
  cbRefresh->clear();
  for (const TRefreshPeriod& period : kRefreshPeriods)
    cbRefresh->addItem(Msg(period.key), period.seconds);
  // A stored period the list does not offer is an entry of its own, in
  // order, so that OK keeps it.
  if (other_period_ && cbRefresh->findData(*other_period_) < 0) {
    int at = 0;
    while (at < cbRefresh->count() && cbRefresh->itemData(at).toInt() < *other_period_) ++at;
    const std::string text = qovra::FormatMsgArgs(qovra::GetMsg("msgFreqSeconds"), *other_period_);
    cbRefresh->insertItem(at, QString::fromStdString(text), *other_period_);
  }
  cbRefresh->setCurrentIndex(selected.isValid() ? cbRefresh->findData(selected) : -1);
}

void TfrmOptMailParameters::TntFormShow() {
  // The period texts follow the message table of the current language.
  FillRefreshItems();
}

void TfrmOptMailParameters::chkPlaySoundClick() {
  pnlSoundFile->setEnabled(chkPlaySound->isEnabled() && chkPlaySound->isChecked());
}

void TfrmOptMailParameters::cbRefreshChange() {
  chkPlaySound->setEnabled(cbRefresh->currentIndex() > 0);
  chkPlaySoundClick();
}

void TfrmOptMailParameters::eSoundFileButtonClick() {
  const QString file = qovra::account::OpenFileChooser().ChooseFile(
      this, Msg("msgSoundFileFilter"), qovra::account::FolderOf(eSoundFile->text()));
  if (!file.isEmpty()) eSoundFile->setText(file);
}

void TfrmOptMailParameters::btnPlayClick() {
  qovra::ui::PlaySoundFile(eSoundFile->text());
}

void TfrmOptMailParameters::btnStopClick() {
  qovra::ui::StopSoundFile(eSoundFile->text());
}

void TfrmOptMailParameters::Load(const qovra::TOptions& options) {
  const qovra::TMailOpts& m = options.Mail;
  cbSendingMode->setCurrentIndex(m.sendmode < cbSendingMode->count() ? m.sendmode : -1);
  const bool listed =
      std::any_of(std::begin(kRefreshPeriods), std::end(kRefreshPeriods),
                  [&m](const TRefreshPeriod& period) { return period.seconds == m.reffreq; });
  other_period_.reset();
  if (!listed) other_period_ = m.reffreq;
  FillRefreshItems();
  cbRefresh->setCurrentIndex(cbRefresh->findData(m.reffreq));
  chkPlaySound->setChecked(m.playsnd != 0);
  eSoundFile->setText(QString::fromStdU16String(m.sndpath));
  chkDefaultShowGroups->setChecked(m.showgrp != 0);
  chkDownloadOnEnter->setChecked(m.sdownld != 0);
  cbRefreshChange();
}

void TfrmOptMailParameters::Save(qovra::TOptions& options) {
  qovra::TMailOpts& m = options.Mail;
  m.sendmode = cbSendingMode->currentIndex() < 0 ? 0 : cbSendingMode->currentIndex();
  // Without a choice the period stays as it was.
  if (cbRefresh->currentIndex() >= 0) m.reffreq = cbRefresh->currentData().toInt();
  m.playsnd = chkPlaySound->isChecked() ? 1 : 0;
  m.sndpath = eSoundFile->text().toStdU16String();
  m.showgrp = chkDefaultShowGroups->isChecked() ? 1 : 0;
  m.sdownld = chkDownloadOnEnter->isChecked() ? 1 : 0;
}
