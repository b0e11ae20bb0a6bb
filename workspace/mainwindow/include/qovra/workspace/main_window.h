// TfrmMain, the program's main window: the folder tree, the mail list,
// the toolbar, the main menu and pop-up menus, the status bar, the hidden
// search line and the action list alMain (main_actions.h).
//
// Created once after a successful login with Session, Options, UserDir and
// MailDb set up (startup.h), alive until the program ends; closing it ends
// the program and empties the user's temporary folder. Without an open
// MailDb the window builds no folders and its list stays empty.
//
// Creation brings the mail database up to date (UpgradeMailSchema; a
// failure is shown and the window carries on) and installs the window's
// receive notices (IReceiveNotices) until it is destroyed.
//
// Receiving (acMailReceive, F5) runs ReceiveMails with the window as
// owner; one run at a time: a receive asked for while one runs, or while
// the session is offline, is refused. The first activation receives when
// Options.Mail.sdownld is set, and so does the receive timer (TimerTick,
// auto_receive.h) every reffreq seconds, silently.
//
// Offline work (acWorkOffline): checking it makes the session offline
// without a server exchange; unchecking it goes online only through the
// password prompt's re-authentication. The tray icon (tray_icon.h) hides
// the minimised window with traymin and opens it again.
//
// GUI thread only.
#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/records.h"
#include "mail/receiving.h"
#include "mail/sending.h"
#include "qovra/ui/png_resources.h"
#include "qovra/workspace/folder_tree.h"
#include "qovra/workspace/main_actions.h"

class QDialog;
class QKeyEvent;
class TfrmNewMail;
class TNewForm;
struct TComposeCommands;
class TfrmViewMail;
class TfrmViewVoiceMail;
class TViewForm;
class TfrmNewVoiceMail;
class QMenu;
class QSplitter;
class QToolBar;
class QTreeView;

namespace qovra {
class TMailReader;
class TStream;
}  // namespace qovra

namespace qovra::ui {
class ITrayIcon;
class TMailListModel;
class TMainReceiveNotices;
class TAutoReceive;
class TMainStatusBar;
class TframeSearchEdit;
}  // namespace qovra::ui

// Which modal mail window is open.
enum class TActiveFormKind : uint8_t {
  None = 0,
  TextCompose = 1,
  VoiceCompose = 2,
  TextViewer = 3,
  VoiceViewer = 4,
};

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // tray: the notification-area icon (not owned; must outlive the window);
  // null: none.
  explicit TfrmMain(qovra::ui::ITrayIcon* tray = nullptr, QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Folders.
  void BuildFolderTree();
  void RefreshFolderCounters();
  QTreeWidgetItem* FindFolderNode(int32_t folder_id) const;
  // Selects the folder's node and refills the list for it.
  void SelectFolder(int32_t folder_id);
  qovra::ui::TFolderNodeData CurrentFolder() const;
  // Refills the list from MailDb; a failed query is shown and leaves the
  // list empty.
  void FillMailList(int32_t folder, bool show_progress);
  // Re-reads the folder and column captions and the search line's
  // placeholder from the message table (after a language change).
  void ApplyFolderCaptions();

  // Status bar.
  void StatusBusy(const QString& text);
  void StatusReady();

  // Enables the online-only actions and applies the selection rules.
  void UpdateOnlineActions();
  // The window title for the session's state (online: the user's name and
  // address in brackets, the address alone when the name is empty;
  // offline: msgOfflineMode).
  void UpdateTitle();

  // The recipient rows of a mail with their send flags.
  qovra::TSendFlags LoadRecipientSendFlags(int32_t mail_id) const;

  // The selected mails' list rows, in list order.
  std::vector<int> SelectedRows() const;
  // A copy of the only selected mail, for a mail window; nothing unless
  // exactly one mail is selected.
  std::optional<qovra::TMailMessage> SelectedMailCopy() const;

  // A new text mail in the compose window (modal); afterwards the folder
  // counters are refreshed and, when sent, the Sent folder selected.
  // Returns the window's result (1 sent, 4 saved to drafts, 2 cancelled).
  int acMailNewExecute();
  // The import dialog (modal); when it stored mails, the folder counters
  // are refreshed and the inbox selected.
  void acMailImportExecute();
  // A new voice mail in the voice compose window (modal); as acMailNewExecute.
  int acMailNewVoiceExecute();
  // Sends the open compose window's mail (text or voice); false when
  // nothing was sent (also while the voice window is Busy).
  bool acMailSendExecute();
  // The text compose window while it is open; null otherwise.
  TfrmNewMail* NewMailForm() const { return frmNewMail_; }
  // The voice compose window while it is open; null otherwise.
  TfrmNewVoiceMail* NewVoiceMailForm() const { return frmNewVoiceMail_; }
  // A new mail to recipients ("Name <address>, ..."): kind 0 opens the text
  // compose window with them in To, kind 1 the voice compose window; the
  // subject takes the focus.
  int NewMailTo(int kind, const QString& recipients);
  // The contacts book (modal); once at a time.
  void acToolsContactsBookExecute();

  // Opens the selected mail: a mail never sent or received in the compose
  // window on a working copy (~<uuid>.emz), any other in the viewer with
  // its signature verdict (and its read receipt when due). Returns the
  // window's result; 0 when nothing opened.
  int acMailOpenExecute();
  // The signature details of the open viewer; nothing when none is open.
  void acMailSignDetailsExecute();
  // The text viewer while it is open; null otherwise.
  TfrmViewMail* ViewMailForm() const { return frmView_; }
  // The voice viewer while it is open; null otherwise.
  TfrmViewVoiceMail* ViewVoiceMailForm() const { return frmViewVoice_; }
  // Save attachments: with the voice viewer open, its recording to an MP3
  // file the user chooses (proposed from the subject; an existing file is
  // replaced only after msgConfirmOverwrite); with the text viewer open,
  // its "save all"; nothing otherwise. True when a recording was written.
  bool acMailAttachmentsSaveExecute();
  // The chooser of the recording's file: the chosen path, or nothing when
  // cancelled. Tests install one; null restores the file dialog.
  using TRecordingSaveChooser =
      std::function<std::optional<QString>(QWidget* owner, const QString& proposed)>;
  static void SetRecordingSaveChooser(TRecordingSaveChooser chooser);
  // Mail commands (main_window_mail_commands.cpp) ---------------------
  // Where reply, forward and save as take their mail from: the list's
  // record, whose file is read from the messages folder; or an open
  // viewer's parsed reader and deciphered stream (not owned), closed with
  // result 1 when a reply is done or a forward sent or saved.
  struct TMailSource {
    qovra::TMailMessage Mail;
    qovra::TMailReader* Reader = nullptr;
    qovra::TStream* Stream = nullptr;
    QDialog* Viewer = nullptr;
    TActiveFormKind Kind = TActiveFormKind::None;
  };
  // The only selected mail as a source; nothing unless exactly one.
  std::optional<TMailSource> ListSource() const;
  // The open viewer's mail while ActiveFormKind names that viewer (3 text,
  // 4 voice); nothing otherwise (also while a compose window opened from it
  // runs).
  std::optional<TMailSource> ViewerSource() const;
  // The viewer that ActiveFormKind names while it is open, else null.
  TViewForm* OpenViewer() const;
  // The source of reply, forward, save as and print: ViewerSource when
  // there is one, else ListSource.
  std::optional<TMailSource> CurrentSource() const;
  // Whether the list's commands (reply, forward, save as, print) may read
  // mail's container: a mail for administrative use has none there (it is
  // read deciphered in its viewer only); then msgMailContentNotFound is
  // shown and the result is false.
  bool ListMailHasContainer(const qovra::TMailMessage& mail);
  // Delete: the selected mails to the trash, or from the trash for good
  // after msgConfirmDeleteMail(s); false when nothing was deleted.
  bool acMailDeleteExecute();
  // Reply in the text compose window, or with voice in the voice compose
  // window (To the sender, "Re: " subject, Record focused). Returns the
  // window's result (0 when none was shown).
  int ReplyToMail(const TMailSource& source, bool voice);
  // Forward: a new <uuid>.emz filled with a copy of the source, edited in
  // the text compose window, or for a voice source in the voice compose
  // window with the source's recording; removed again unless sent (1),
  // saved (4) or stored by a send that stopped (its outbox row keeps it).
  // Returns the window's result (0 when none was shown).
  int ForwardMail(const TMailSource& source);
  // Save as: the source as UTF-8 text with a BOM in a file the user
  // chooses; true when written.
  bool SaveMailAs(const TMailSource& source);
  // Delivery report and printing (main_window_report.cpp) --------------
  // The delivery report of the first selected mail: its recipient rows in
  // the report dialog (modal). False when nothing was shown (no selection,
  // no rows).
  bool acMailReportExecute();
  // Prints the text form of the open text viewer's mail, else of the first
  // selected list mail (a voice mail or an open voice viewer: nothing);
  // the list mail's missing or unreadable file is reported. True when
  // something was printed.
  bool acMailPrintExecute();
  // Save to drafts for the open voice compose window, else the open text
  // compose window; false when nothing was saved (also while the voice
  // window is Busy).
  bool acMailSaveToDraftsExecute();
  // The save-as chooser: the chosen path, or nothing when cancelled. Tests
  // install one; null restores the file dialog.
  using TSaveAsChooser =
      std::function<std::optional<QString>(QWidget* owner, const QString& proposed)>;
  static void SetSaveAsChooser(TSaveAsChooser chooser);

  // Receiving: false when refused because a receive runs already or the
  // session is not online.
  bool acMailReceiveExecute();
  bool Receiving() const { return receiving_; }
  // Receives started so far.
  int ReceiveRuns() const { return receive_runs_; }

  // Automatic receiving: one tick of the receive timer (TTimerClass).
  void TimerTick();
  // Whether the timer may start a receive now: online, no receive running,
  // no message dialog and no progress window up. Mail windows (compose,
  // viewers) do not stop it: they work on their own copies of the mails.
  bool AutoReceiveReady() const;
  const qovra::ui::TAutoReceive& AutoReceive() const { return *auto_receive_; }
  // After the settings dialog: minimise to the tray by traymin; the
  // receive timer enabled when reffreq is not 0, else disabled.
  void ApplyTimerAndTraySettings();

  // Offline work: checked makes the session offline; unchecked goes online
  // through the password prompt (the action is checked again on failure).
  // Then the online actions and the title follow the session's state.
  void acWorkOfflineExecute(bool checked);

  // The tray: Open (and the balloon's click) shows the window again and
  // hides the icon; minimised with traymin on a desktop with a tray, the
  // window hides and the icon shows.
  void mnuTrayOpenClick();
  void trayIconMinimizeToTray();

  // The update link: opens UpdateUrl + "?ver=" + CurrentVersionCode when
  // UpdateUrl is an http or https address.
  void wlUpdateClick();
  // The update check with the program's version (online only).
  void acHelpCheckUpdateExecute();
  // The window's receive notices (tests set the activity check there).
  qovra::ui::TMainReceiveNotices& ReceiveNotices() { return *notices_; }
  // What the last receive did.
  const qovra::TReceiveSummary& LastReceive() const { return last_receive_; }

  // The first activation (also run from the window's activation).
  void FormActivate();
  bool FirstActivationDone() const { return first_activation_done_; }

  // The search line.
  void SearchNext();

  TActiveFormKind ActiveFormKind() const { return active_form_kind_; }
  // Marks a mail window open while it lives; resets ActiveFormKind to None
  // when it ends, however the window closed, and applies the list's
  // selection rules to the actions again (while a viewer is open they
  // follow the viewer's mail).
  class TActiveFormScope {
   public:
    TActiveFormScope(TfrmMain& form, TActiveFormKind kind);
    ~TActiveFormScope();
    TActiveFormScope(const TActiveFormScope&) = delete;
    TActiveFormScope& operator=(const TActiveFormScope&) = delete;

   private:
    TfrmMain& form_;
  };

  // Components.
  qovra::ui::TMainActions* alMain;
  QToolBar* tbMain;
  qovra::ui::TFolderTree* tvMain;
  QTreeView* lvMain;
  qovra::ui::TMailListModel* model;
  qovra::ui::TframeSearchEdit* frameSearchEdit1;
  qovra::ui::TMainStatusBar* pnlStatusBar;
  QMenu* pmList;
  QMenu* pmNew;
  QMenu* pmReply;
  QMenu* pmEdit;
  QMenu* pmTray;
  qovra::ui::TImageList imglistMain32;
  qovra::ui::TImageList imglistDisable32;
  qovra::ui::TImageList imgFolders24;
  qovra::ui::TImageList imgListMain16;

 signals:
  // The window has closed: the program's event loop ends.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Hints of menus and actions show in the status text (AppHint); an empty
  // hint brings msgReady back. Not while a list operation is busy.
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void LoadImages();
  void BuildActions();
  void BuildMenus();
  void BuildToolbar();
  void BuildCentre();
  void ConnectActions();
  void FormShow();
  void tvMainChange();
  void lvMainHeaderClick(int column);
  void lvMainContextPopup(const QPoint& pos);
  void UpdateSelectionActions();
  // One search step from the top, or after the last hit when Enter asked
  // for the next one.
  void eSearchChange();
  // The search line's text changed (typed, pasted or cleared).
  void eSearchTextChanged();
  // Plain Enter searches again, Esc on an empty line hides it; true when
  // the key was taken.
  bool eSearchKeyPress(const QKeyEvent& event);
  // Without Ctrl, Alt or Meta (Shift and the keypad allowed): Ctrl+Enter
  // and Alt+Enter belong to Send and Report, not to Enter.
  static bool IsPlainKey(const QKeyEvent& event);
  void acToolsFindExecute(bool checked);
  // The first activation's notices after its receive: the certificate's
  // remaining days and the offer of a newer version.
  void FirstActivationNotices();
  void acToolsChangePasswordExecute();
  // The profile dialog preset from the own contact; the titles follow a change.
  void acToolUserProfileExecute();
  // The settings dialog (main_window_options.cpp).
  void acToolsOptionsExecute();
  int ShowMailViewer(qovra::TMailMessage& mail, const std::string& file);
  // Loads the mail into form (either viewer), checks its signature, sends
  // the read receipt when due and shows it modally as kind.
  int RunMailViewer(TViewForm& form, qovra::TMailMessage& mail, const std::string& file,
                    TActiveFormKind kind);
  int ReopenUnsentMail(qovra::TMailMessage& mail);
  // What opening stored for mail id reaches its list row at once.
  void RefreshMailRow(int32_t id);
  // Shows form modally as frmNewMail_ and selects the Sent (1) or Drafts
  // (4) folder afterwards; returns its result.
  // Gives a text compose window the status bar's texts and progress (for
  // opening its attachments).
  void BindComposeStatus(TfrmNewMail& form);
  int RunComposeForm(TfrmNewMail& form);
  // The same for the voice window (as frmNewVoiceMail_).
  int RunVoiceComposeForm(TfrmNewVoiceMail& form);
  // A voice window on reader's recording, extracting it with the status
  // line and bar.
  void UseReaderVoice(TfrmNewVoiceMail& form, qovra::TMailReader& reader);
  // A reopened unsent mail's header frame, menu and fields (To, subject,
  // reports, mode, priority; Reader, Mail, MailStream) before it shows.
  void PresetReopenedForm(TNewForm& form, qovra::TMailMessage& mail, qovra::TMailReader& reader,
                          qovra::TStream& stream);
  // A new mail's record and the form's fields before it shows (To from
  // NewMailTo); the folders after a compose window closed with result.
  void PresetNewMail(TNewForm& form, qovra::TMailMessage& mail);
  int AfterCompose(int result);
  TComposeCommands ComposeCommands() const;
  // Delete, reply, forward, save as and save to drafts.
  void ConnectMailCommands();
  void SetColumnCaption();
  std::string OwnAddress() const;

  qovra::ui::ITrayIcon* tray_;
  std::unique_ptr<qovra::ui::TMainReceiveNotices> notices_;
  std::unique_ptr<qovra::ui::TAutoReceive> auto_receive_;
  bool receiving_ = false;
  int receive_runs_ = 0;
  bool first_activation_done_ = false;
  bool activating_ = false;
  bool search_again_ = false;
  bool tree_sized_ = false;        // the folder tree fitted its captions once
  QSplitter* splitter_ = nullptr;  // between the folder tree and the list
  int32_t last_found_id_ = 0;      // the mail the last search hit; 0: none
  TActiveFormKind active_form_kind_ = TActiveFormKind::None;
  TfrmNewMail* frmNewMail_ = nullptr;  // while acMailNewExecute shows it
  TfrmViewMail* frmView_ = nullptr;    // while acMailOpenExecute shows it
  QString new_mail_to_;                // To of the next acMailNewExecute
  bool contacts_book_open_ = false;
  TfrmNewVoiceMail* frmNewVoiceMail_ = nullptr;  // while acMailNewVoiceExecute shows it
  TfrmViewVoiceMail* frmViewVoice_ = nullptr;    // while acMailOpenExecute shows it
  qovra::TReceiveSummary last_receive_;
};
