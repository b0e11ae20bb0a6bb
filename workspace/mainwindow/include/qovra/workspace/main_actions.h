// The main window's action list alMain: every action with its object
// name, built-in caption, shortcut and toolbar icon, and the rules that
// enable them.
//
// Enabling (online: Session.State is 1; "one" means exactly one selected
// mail):
//   online only        acMailNew, acMailNewVoice, acMailSend, acMailReceive,
//                      acToolUserProfile, acHelpCheckUpdate
//   one                acMailOpen, acMailSaveAs, acMailReport, acMailPrint
//   one and online     acMailForward
//   reply rule         acMailReply, acMailReplyVoice: one, online, the mail
//                      not from the own address (case ignored) and not
//                      flagged mfBadSignature
//   at least one       acMailDelete
//   always             every other action
//
// GUI thread only.
#pragma once

#include <QAction>
#include <QList>
#include <QObject>
#include <cstdint>
#include <string_view>

#include "qovra/ui/png_resources.h"

namespace qovra::ui {

// What the enabling rules look at.
struct TActionContext {
  bool online = false;
  int selected = 0;
  // For exactly one selected mail: whether it may be replied to.
  bool single_replyable = false;
};

// The reply rule's part about the mail itself.
bool MailCanBeReplied(std::string_view from_address, uint16_t flags, std::string_view own_address);

// Indexes into the 32-pixel toolbar images (imglistMain32, imglistDisable32).
enum TToolbarImage {
  kImgMailNew = 0,
  kImgMailNewVoice,
  kImgMailReceive,
  kImgMailSend,
  kImgMailReply,
  kImgMailReplyVoice,
  kImgMailReplyAll,
  kImgMailForward,
  kImgMailFind,
  kImgMailSave,
  kImgMailDelete,
  kImgMailSign,
  kImgMailAttachSave,
  kImgMailVoiceSave,
  kImgMailDrafts,
  kImgOffline,
  kImgMailPrint,
  kImgContactsBook,
  kToolbarImageCount
};

// Fills the toolbar image lists in their fixed order: main plain, disabled
// grey and faded.
void LoadToolbarImages(TImageList& main32, TImageList& disabled32);

class TMainActions : public QObject {
  Q_OBJECT

 public:
  // Creates every action as a child of parent (the main window, which also
  // takes them, so their shortcuts work in it). Icons come from the two
  // lists, which must be filled (LoadToolbarImages).
  TMainActions(QWidget* parent, const TImageList& main32, const TImageList& disabled32);

  // Applies the rules above to every action.
  void Apply(const TActionContext& context);

  // Every action, in the order of the table above the class.
  const QList<QAction*>& All() const { return all_; }
  // The action of an object name; null when there is none.
  QAction* Find(std::string_view name) const;

  QAction* acMailNew;
  QAction* acMailNewVoice;
  QAction* acMailReceive;
  QAction* acMailOpen;
  QAction* acMailSend;
  QAction* acMailForward;
  QAction* acMailSaveAs;
  QAction* acMailReply;
  QAction* acMailReplyVoice;
  QAction* acMailDelete;
  QAction* acMailSaveToDrafts;
  QAction* acMailSignDetails;
  QAction* acMailAttachmentsSave;
  QAction* acMailReport;
  QAction* acMailPrint;
  QAction* acMailImport;
  QAction* acWorkOffline;
  QAction* acToolsContactsBook;
  QAction* acToolsChangePassword;
  QAction* acToolsOptions;
  QAction* acToolsFind;
  QAction* acToolUserProfile;
  QAction* acHelpAbout;
  QAction* acHelpCheckUpdate;
  QAction* acExit;

 private:
  QAction* Make(QWidget* parent, const char* name, const char* caption, const QKeySequence& key,
                int image);

  const TImageList& main32_;
  const TImageList& disabled32_;
  QList<QAction*> all_;
};

// The caption of an action without accelerator marks and a trailing
// ellipsis, as messages quote it.
QString PlainActionCaption(const QAction* action);

}  // namespace qovra::ui
