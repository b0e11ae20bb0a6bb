// The five pages of the settings dialog (options_dialog.h). Each page is a
// borderless form inside the dialog: Load fills it from a settings record,
// Save writes it back, and every show applies the language file to it (its
// own class element).
//
// File dialogs go through an IOpenFileChooser so that tests answer them.
// GUI thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "base/records.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace qovra::ui {
class TButtonEdit;
class TEditEx;
}  // namespace qovra::ui

namespace qovra::account {

class IOpenFileChooser {
 public:
  virtual ~IOpenFileChooser() = default;
  // The file chosen, or empty when cancelled. filter is a Qt name filter
  // such as "Sound files (*.wav)"; initial_dir may be empty.
  virtual QString ChooseFile(QWidget* owner, const QString& filter, const QString& initial_dir) = 0;
};
// Installs chooser (the caller keeps it); null restores the Qt file dialog.
void SetOpenFileChooser(IOpenFileChooser* chooser);

}  // namespace qovra::account

class TOptionsPage : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;
  virtual void Load(const qovra::TOptions& options) = 0;
  virtual void Save(qovra::TOptions& options) = 0;
  // A field whose value cannot be saved, with the message key of its
  // balloon in message_key; null when every field is fine.
  virtual qovra::ui::TEditEx* CheckFields(const char** message_key) {
    (void)message_key;
    return nullptr;
  }

 protected:
  void showEvent(QShowEvent* event) override;
  // After the language file was applied.
  virtual void TntFormShow() {}
};

class TfrmOptConnection : public TOptionsPage {
  Q_OBJECT

 public:
  explicit TfrmOptConnection(QWidget* parent = nullptr);
  void Load(const qovra::TOptions& options) override;
  void Save(qovra::TOptions& options) override;
  // With the proxy on, the port must be 1-65535.
  qovra::ui::TEditEx* CheckFields(const char** message_key) override;

  void gbProxyClick();
  void chkProxyAuthClick();
  void btnFindProxyClick();

  QLabel* lblServerAddress;
  qovra::ui::TEditEx* eServerAddress;
  QLabel* lblHttpClient;
  QRadioButton* rbIDClient;
  QRadioButton* rbIEClient;
  QRadioButton* rbCURLClient;
  QCheckBox* gbProxy;
  QWidget* pnlProxyAddress;
  QLabel* lblProxyAddress;
  qovra::ui::TEditEx* eProxyAddress;
  QLabel* lblProxyPort;
  qovra::ui::TEditEx* eProxyPort;
  QPushButton* btnFindProxy;
  QCheckBox* chkProxyAuth;
  QWidget* pnlProxyAuth;
  QLabel* lblProxyUserName;
  qovra::ui::TEditEx* eProxyUserName;
  QLabel* lblProxyPassword;
  qovra::ui::TEditEx* eProxyPassword;
};

class TfrmOptKeys : public TOptionsPage {
  Q_OBJECT

 public:
  explicit TfrmOptKeys(QWidget* parent = nullptr);
  void Load(const qovra::TOptions& options) override;
  void Save(qovra::TOptions& options) override;

  void rbKeysFromMurvexClick();
  void rbKeysFromFileSystemClick();
  // Shows or hides the key paths and names the button for what it does next.
  void btnHideKeyPathsClick();
  void beCERButtonClick();
  void bePRKButtonClick();
  void beCERChange();
  // Takes the first two of paths: files ending in ".cer" or ".prk" (any
  // case) fill their fields; folders and other files are skipped. Shows the
  // paths when something was taken; true then.
  bool TakeDroppedFiles(const QStringList& paths);

  QCheckBox* rbKeysFromMurvex;
  QCheckBox* rbKeysFromFileSystem;
  QPushButton* btnHideKeyPaths;
  QWidget* pnlKeyPaths;
  QLabel* lblCER;
  qovra::ui::TButtonEdit* beCER;
  QLabel* lblPRK;
  qovra::ui::TButtonEdit* bePRK;

 protected:
  void TntFormShow() override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void NameHideButton();
};

class TfrmOptInterface : public TOptionsPage {
  Q_OBJECT

 public:
  explicit TfrmOptInterface(QWidget* parent = nullptr);
  void Load(const qovra::TOptions& options) override;
  void Save(qovra::TOptions& options) override;

  QLabel* lblLanguage;
  QComboBox* cbLanguage;
  QCheckBox* chkMinimizeToTray;
};

class TfrmOptFolders : public TOptionsPage {
  Q_OBJECT

 public:
  explicit TfrmOptFolders(QWidget* parent = nullptr);
  void Load(const qovra::TOptions& options) override;
  void Save(qovra::TOptions& options) override;

  void eMailDirectoryButtonClick();

  QLabel* lblMailDirectory;
  qovra::ui::TButtonEdit* eMailDirectory;
};

// The mail page. A stored receive period that is none of cbRefresh's list
// (seconds, such as 20) is shown as an entry of its own (msgFreqSeconds)
// and saved back unchanged while the user picks no other.
class TfrmOptMailParameters : public TOptionsPage {
  Q_OBJECT

 public:
  explicit TfrmOptMailParameters(QWidget* parent = nullptr);
  void Load(const qovra::TOptions& options) override;
  void Save(qovra::TOptions& options) override;

  void chkPlaySoundClick();
  void cbRefreshChange();
  void eSoundFileButtonClick();
  void btnPlayClick();
  void btnStopClick();

  QLabel* lblSendingMode;
  QComboBox* cbSendingMode;
  QLabel* lblRefresh;
  QComboBox* cbRefresh;
  QCheckBox* chkPlaySound;
  QWidget* pnlSoundFile;
  qovra::ui::TButtonEdit* eSoundFile;
  QPushButton* btnPlay;
  QPushButton* btnStop;
  QCheckBox* chkDefaultShowGroups;
  QCheckBox* chkDownloadOnEnter;

 protected:
  void TntFormShow() override;

 private:
  // The period items in the current language, with other_period_ among
  // them; the selected period stays selected.
  void FillRefreshItems();

  // A loaded period that is none of the list's, shown as an entry of its own.
  std::optional<int32_t> other_period_;
};
