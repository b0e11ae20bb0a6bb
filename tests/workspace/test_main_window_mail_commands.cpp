// The main window's mail commands from the list, offscreen, on real
// containers and a copy of the real mail database: delete, reply, forward,
// save as and save to drafts from the text compose window.
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "base/file_stream.h"
#include "base/utf.h"
#include "mailcommands/mail_file_fixture.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"
#include "store/mail_container_reader.h"
#include "test_main_window_fixture.h"

namespace qovra_test {
namespace {

namespace fs = std::filesystem;

constexpr char kOwn[] = "alice@127.0.0.1";

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;

class MailCommandsTest : public MainWindowFixture {
 protected:
  void SetUp() override {
    MainWindowFixture::SetUp();
    for (const char* key : {"msgConfirmDeleteMail", "msgConfirmDeleteMails", "msgDeleting",
                            "msgSubject", "msgDate", "msgAttachments", "msgMailContentNotFound",
                            "msgMailFileCorrupted", "msgParsingMail", "msgOpening", "msgSaving",
                            "msgCannotSaveEmptyMail", "msgCouldNotSaveMailForAdministrativeUseOnly",
                            "msgCannotSaveDraft", "msgSaveToDraftsPrompt", "msgCannotSaveTextFile"})
      qovra::SetMsg(key, key);
    qovra::SetMsg("msgConfirmOverwrite", "overwrite %s?");
    ASSERT_NO_FATAL_FAILURE(MakeUser(kOwn));
    Window().show();
  }
  void TearDown() override {
    TfrmMain::SetSaveAsChooser({});
    MainWindowFixture::TearDown();
  }

  std::string UuidOf(int32_t id) {
    qovra::SqliteStatement st = qovra::MailDb.Prepare("SELECT uuid FROM ecm_mails WHERE id=?");
    st.Bind(1, id);
    return st.Step() == qovra::SqliteStatement::StepResult::Row ? st.ColumnText(0) : "";
  }
  // A stored mail with its container; returns the uuid.
  std::string StoreWithFile(int32_t folder, const MailFileSpec& spec, uint16_t flags = 0) {
    const int32_t id = Store(folder, spec.From, spec.To, spec.Subject, flags);
    const std::string uuid = UuidOf(id);
    EXPECT_TRUE(WriteMailFile(qovra::MessagesDir + uuid + ".emz", spec));
    return uuid;
  }
  std::vector<int64_t> MailRow(const std::string& uuid) {
    qovra::SqliteStatement st =
        qovra::MailDb.Prepare("SELECT folder_id,flag,priority FROM ecm_mails WHERE uuid=?");
    st.Bind(1, uuid);
    if (st.Step() != qovra::SqliteStatement::StepResult::Row) return {};
    return {st.ColumnInt(0), st.ColumnInt(1), st.ColumnInt(2)};
  }
  std::vector<std::string> EmzFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(qovra::MessagesDir))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  int DraftsCount() {
    qovra::SqliteStatement st =
        qovra::MailDb.Prepare("SELECT COUNT(*) FROM ecm_mails WHERE folder_id=4");
    return st.Step() == qovra::SqliteStatement::StepResult::Row ? st.ColumnInt(0) : -1;
  }
  void SelectAll() {
    std::vector<int> rows;
    for (int r = 0; r < Window().model->Count(); ++r) rows.push_back(r);
    SelectRows(rows);
  }
  // Runs body inside the compose window that open shows; a window still
  // open afterwards is closed without a result.
  void InCompose(const std::function<void()>& open, const std::function<void(TfrmNewMail&)>& body) {
    QTimer::singleShot(0, [&] {
      TfrmNewMail* form = Window().NewMailForm();
      ASSERT_NE(form, nullptr);
      body(*form);
      if (Window().NewMailForm() == form && form->isVisible()) form->done(2);
    });
    open();
  }
};

TEST_F(MailCommandsTest, DeleteThreeFromTheInboxThenFromTheTrash) {
  std::vector<std::string> uuids;
  for (const char16_t* subject : {u"one", u"two", u"three"}) {
    MailFileSpec spec;
    spec.Subject = subject;
    uuids.push_back(StoreWithFile(qovra::kFolderInbox, spec));
  }
  Window().SelectFolder(qovra::kFolderInbox);
  Window().RefreshFolderCounters();
  EXPECT_EQ(Window().FindFolderNode(qovra::kFolderInbox)->text(1), QStringLiteral("3/3"));
  SelectAll();
  ASSERT_TRUE(Window().alMain->acMailDelete->isEnabled());
  Window().alMain->acMailDelete->trigger();
  EXPECT_TRUE(Shown().empty()) << "no question outside the trash";
  EXPECT_EQ(Window().model->Count(), 0);
  EXPECT_EQ(Window().FindFolderNode(qovra::kFolderInbox)->text(1), QStringLiteral("0/0"));
  EXPECT_EQ(Window().FindFolderNode(qovra::kFolderTrash)->text(1), QStringLiteral("3"));
  for (const std::string& uuid : uuids) {
    EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderTrash);
    EXPECT_TRUE(fs::exists(qovra::MessagesDir + uuid + ".emz"));
  }

  Window().SelectFolder(qovra::kFolderTrash);
  // One row asks the one-mail question; No keeps it.
  SelectRows({0});
  ui_->QueueAnswer(qovra::kMsgResultNo);
  Window().alMain->acMailDelete->trigger();
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgConfirmDeleteMail"});
  EXPECT_EQ(Window().model->Count(), 3);

  ui_->messages.clear();
  SelectAll();
  ui_->QueueAnswer(qovra::kMsgResultYes);
  Window().alMain->acMailDelete->trigger();
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgConfirmDeleteMails"});
  EXPECT_EQ(Window().model->Count(), 0);
  EXPECT_EQ(Window().FindFolderNode(qovra::kFolderTrash)->text(1), QStringLiteral("0"));
  for (const std::string& uuid : uuids) EXPECT_TRUE(MailRow(uuid).empty());
  EXPECT_TRUE(EmzFiles().empty());
}

TEST_F(MailCommandsTest, ReplyFromTheList) {
  MailFileSpec spec;
  spec.Subject = u"Re: plan";
  spec.Body = u"first\r\nsecond";
  StoreWithFile(qovra::kFolderInbox, spec);
  Window().SelectFolder(qovra::kFolderInbox);
  SelectRows({0});
  ASSERT_TRUE(Window().alMain->acMailReply->isEnabled());
  QString to, subject, body;
  bool body_focus = false;
  InCompose([&] { Window().alMain->acMailReply->trigger(); },
            [&](TfrmNewMail& form) {
              QApplication::processEvents();
              to = form.frameNewMailTop1->eTo->text();
              subject = form.frameNewMailTop1->eSubject->text();
              body = form.eMailBody->toPlainText();
              body_focus =
                  form.eMailBody->hasFocus() || QApplication::focusWidget() == form.eMailBody;
              EXPECT_EQ(form.eMailBody->textCursor().position(), 0);
            });
  EXPECT_EQ(to, QStringLiteral("bob@localhost"));
  EXPECT_EQ(subject, QStringLiteral("Re: Re: plan")) << "always prefixed";
  EXPECT_TRUE(body.startsWith(QStringLiteral("\n\n\n\n> -----"))) << body.toStdString();
  EXPECT_TRUE(body.contains(QStringLiteral("\n> first\n> second\n"))) << body.toStdString();
  EXPECT_TRUE(body.contains(QStringLiteral("\n> msgSubject: Re: plan\n"))) << body.toStdString();
  EXPECT_EQ(Window().ActiveFormKind(), TActiveFormKind::None);

  // Saved untouched: a new mail, so its content is written to Drafts.
  std::string uuid;
  InCompose([&] { Window().alMain->acMailReply->trigger(); },
            [&](TfrmNewMail& form) {
              uuid = std::string(form.Mail->Uuid.view());
              Window().alMain->acMailSaveToDrafts->trigger();
              EXPECT_EQ(form.result(), 4);
            });
  ASSERT_EQ(MailRow(uuid).size(), 3u);
  EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderDrafts);
  {
    qovra::TEFileStream file(qovra::MessagesDir + uuid + ".emz", true, false, qovra::fmOpenRead);
    qovra::TMailReader reader(file);
    ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
    EXPECT_EQ(reader.Subject(), u"Re: Re: plan");
    EXPECT_EQ(reader.To(), "bob@localhost");
  }
  Window().SelectFolder(qovra::kFolderInbox);
  SelectRows({0});

  // The mail's file gone: a warning and no window.
  fs::remove_all(qovra::MessagesDir);
  fs::create_directories(qovra::MessagesDir);
  ui_->messages.clear();
  Window().alMain->acMailReply->trigger();
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgMailContentNotFound"});
}

TEST_F(MailCommandsTest, ForwardFromTheListKeepsAttachmentsAndCancelLeavesNoFile) {
  MailFileSpec spec;
  spec.Subject = u"plan";
  spec.Body = u"see attached";
  // A long recipient list makes the source longer than the forward's own
  // container: what is left over must not stay in the new file.
  for (int i = 0; i < 40; ++i) spec.To += ";user" + std::to_string(i) + "@localhost";
  std::string binary(70000, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7 + 3);
  spec.Attachments = {{u"data.bin", binary}, {u"отчёт.txt", "report"}};
  const std::string source_uuid = StoreWithFile(qovra::kFolderInbox, spec, qovra::mfAttachments);
  const std::string source_path = qovra::MessagesDir + source_uuid + ".emz";
  const std::string source_bytes = ReadFile(source_path);
  Window().SelectFolder(qovra::kFolderInbox);
  SelectRows({0});
  ASSERT_TRUE(Window().alMain->acMailForward->isEnabled());

  // Cancelled: no new file remains.
  size_t files_inside = 0;
  InCompose([&] { Window().alMain->acMailForward->trigger(); },
            [&](TfrmNewMail& form) {
              files_inside = EmzFiles().size();
              EXPECT_TRUE(form.frameNewMailTop1->eTo->text().isEmpty());
              EXPECT_EQ(form.frameNewMailTop1->eSubject->text(), QStringLiteral("Fwd: plan"));
              EXPECT_EQ(form.eMailBody->toPlainText(), QStringLiteral("see attached"));
              EXPECT_EQ(form.AttachmentCount(), 2);
            });
  EXPECT_EQ(files_inside, 2u);
  EXPECT_EQ(EmzFiles(), std::vector<std::string>{source_uuid + ".emz"});

  // Saved to drafts: the new container carries both attachments byte for
  // byte and ends with its closing line; the source is unchanged.
  std::string new_uuid;
  InCompose([&] { Window().alMain->acMailForward->trigger(); },
            [&](TfrmNewMail& form) {
              new_uuid = std::string(form.Mail->Uuid.view());
              form.frameNewMailTop1->eTo->setText(QStringLiteral("carol@127.0.0.1"));
              Window().alMain->acMailSaveToDrafts->trigger();
              EXPECT_FALSE(form.isVisible());
              EXPECT_EQ(form.result(), 4);
            });
  EXPECT_EQ(ReadFile(source_path), source_bytes);
  ASSERT_EQ(MailRow(new_uuid).size(), 3u);
  EXPECT_EQ(MailRow(new_uuid)[0], qovra::kFolderDrafts);
  EXPECT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderDrafts);
  const std::string path = qovra::MessagesDir + new_uuid + ".emz";
  const std::string bytes = ReadFile(path);
  ASSERT_LT(bytes.size(), source_bytes.size());
  qovra::TEFileStream file(path, true, false, qovra::fmOpenRead);
  qovra::TMailReader reader(file);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
  EXPECT_EQ(bytes.substr(bytes.size() - reader.Boundary().size() - 6),
            "\r\n--" + reader.Boundary() + "--")
      << "nothing after the closing line";
  EXPECT_EQ(reader.Subject(), u"Fwd: plan");
  EXPECT_EQ(reader.To(), "carol@127.0.0.1");
  ASSERT_EQ(reader.Attachments().size(), 2u);
  const std::string out = dir_.File("att");
  fs::create_directories(out);
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(
        reader.SaveAttachment(i, true, nullptr, nullptr, true, qovra::Utf8ToUtf16(out + "/")));
  EXPECT_TRUE(ReadFile(out + "/data.bin") == binary);
  EXPECT_EQ(ReadFile(out + "/" + qovra::Utf16ToUtf8(u"отчёт.txt")), "report");
}

TEST_F(MailCommandsTest, SaveAsWithASlashInTheSubject) {
  MailFileSpec spec;
  spec.Subject = u"plan/budget";
  StoreWithFile(qovra::kFolderInbox, spec);
  Window().SelectFolder(qovra::kFolderInbox);
  SelectRows({0});
  const std::string target = dir_.File("saved.txt");
  QString proposed;
  TfrmMain::SetSaveAsChooser([&](QWidget*, const QString& name) {
    proposed = name;
    return std::optional<QString>(QString::fromStdString(target));
  });
  Window().alMain->acMailSaveAs->trigger();
  EXPECT_EQ(proposed, QStringLiteral("plan.budget.txt"));
  const std::string text = ReadFile(target);
  ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(text.find("msgSubject: plan/budget\r\n"), std::string::npos) << text;
  EXPECT_TRUE(Shown().empty());

  // An existing file is replaced only after Yes.
  std::ofstream(target, std::ios::trunc) << "mine";
  ui_->QueueAnswer(qovra::kMsgResultNo);
  Window().alMain->acMailSaveAs->trigger();
  EXPECT_EQ(Shown(), std::vector<std::string>{"overwrite saved.txt?"});
  EXPECT_EQ(ReadFile(target), "mine");
  ui_->QueueAnswer(qovra::kMsgResultYes);
  Window().alMain->acMailSaveAs->trigger();
  EXPECT_EQ(ReadFile(target), text);

  // A voice mail gives nothing to save.
  ui_->messages.clear();
  proposed.clear();
  MailFileSpec voice;
  voice.Subject = u"voice";
  StoreWithFile(qovra::kFolderInbox, voice, qovra::mfVoice);
  Window().SelectFolder(qovra::kFolderInbox);
  for (int r = 0; r < Window().model->Count(); ++r)
    if (Window().model->Row(r).Flags & qovra::mfVoice) SelectRows({r});
  Window().alMain->acMailSaveAs->trigger();
  EXPECT_TRUE(proposed.isEmpty());
  EXPECT_TRUE(Shown().empty());
}

// Save to drafts from the text compose window: new mails, and unsent mails
// reopened on their working copy from the drafts or from the trash.
TEST_F(MailCommandsTest, SaveToDraftsEdgeCases) {
  enum class Start { New, Drafts, Trash };
  enum class Edit { Nothing, Subject, Priority, FauAndSubject, CloseYes };
  struct Case {
    const char* name;
    Start start;
    Edit edit;
    std::vector<std::string> shown;
    int result;            // -1: the window stayed open
    int folder;            // the row's folder afterwards; -1: no row and no file
    int priority;          // the row's priority afterwards; -1: not looked at
    bool file_kept;        // a reopened mail's file keeps its bytes
    bool refused = false;  // the database refuses new mail rows
  };
  const Case cases[] = {
      {"nothing typed", Start::New, Edit::Nothing, {"msgCannotSaveEmptyMail"}, -1, -1, -1, false},
      {"only a subject", Start::New, Edit::Subject, {}, 4, qovra::kFolderDrafts, -1, false},
      {"new, only the priority",
       Start::New,
       Edit::Priority,
       {"msgCannotSaveEmptyMail"},
       -1,
       -1,
       -1,
       false},
      {"administrative use",
       Start::New,
       Edit::FauAndSubject,
       {"msgCouldNotSaveMailForAdministrativeUseOnly"},
       -1,
       -1,
       -1,
       false},
      {"close question, yes",
       Start::New,
       Edit::CloseYes,
       {"msgSaveToDraftsPrompt"},
       4,
       qovra::kFolderDrafts,
       -1,
       false},
      {"reopened, only the priority",
       Start::Drafts,
       Edit::Priority,
       {},
       4,
       qovra::kFolderDrafts,
       qovra::kPriorityHigh,
       true},
      {"reopened, nothing changed",
       Start::Drafts,
       Edit::Nothing,
       {},
       2,
       qovra::kFolderDrafts,
       qovra::kPriorityNormal,
       true},
      {"reopened from the trash",
       Start::Trash,
       Edit::Nothing,
       {},
       4,
       qovra::kFolderDrafts,
       qovra::kPriorityNormal,
       true},
      {"reopened, subject typed",
       Start::Drafts,
       Edit::Subject,
       {},
       4,
       qovra::kFolderDrafts,
       qovra::kPriorityNormal,
       false},
      // No container (nor its .part) stays without its row.
      {"new, its row refused",
       Start::New,
       Edit::Subject,
       {"msgCannotSaveDraft"},
       -1,
       -1,
       -1,
       false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string uuid;
    std::string old_bytes;
    if (c.start != Start::New) {
      MailFileSpec spec;
      spec.Subject = u"kept draft";
      const int32_t folder = c.start == Start::Trash ? qovra::kFolderTrash : qovra::kFolderDrafts;
      uuid = StoreWithFile(folder, spec);
      old_bytes = ReadFile(qovra::MessagesDir + uuid + ".emz");
      Window().SelectFolder(folder);
      for (int r = 0; r < Window().model->Count(); ++r)
        if (Window().model->Row(r).Uuid == uuid) SelectRows({r});
    }
    ui_->messages.clear();
    if (c.refused) {
      ASSERT_TRUE(qovra::MailDb.Exec(
          "CREATE TRIGGER refuse BEFORE INSERT ON ecm_mails BEGIN SELECT RAISE(ABORT, "
          "'refused'); END;"));
    }
    bool open_after = false;
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      TfrmNewMail* form = Window().NewMailForm();
      ASSERT_NE(form, nullptr);
      uuid = std::string(form->Mail->Uuid.view());
      TframeNewMailTop& top = *form->frameNewMailTop1;
      switch (c.edit) {
        case Edit::Nothing:
          break;
        case Edit::Subject:
          top.eSubject->setText(QStringLiteral("Only a subject"));
          break;
        case Edit::Priority:
          top.mnuLowPriorityClick(top.mnuHighPriority);
          break;
        case Edit::FauAndSubject:
          top.eSubject->setText(QStringLiteral("secret"));
          top.chkFAU->setChecked(true);
          break;
        case Edit::CloseYes:
          top.eSubject->setText(QStringLiteral("asked"));
          ui_->QueueAnswer(qovra::kMsgResultYes);
          form->close();
          break;
      }
      if (c.edit != Edit::CloseYes) Window().alMain->acMailSaveToDrafts->trigger();
      open_after = form->isVisible();
      if (open_after) form->done(2);
    });
    const int result =
        c.start == Start::New ? Window().acMailNewExecute() : Window().acMailOpenExecute();
    if (c.refused) {
      ASSERT_TRUE(qovra::MailDb.Exec("DROP TRIGGER refuse;"));
    }
    EXPECT_EQ(Shown(), c.shown);
    EXPECT_EQ(open_after, c.result == -1);
    if (c.result != -1) {
      EXPECT_EQ(result, c.result);
    }
    const std::string path = qovra::MessagesDir + uuid + ".emz";
    const std::vector<int64_t> row = MailRow(uuid);
    EXPECT_EQ(fs::exists(path), c.folder != -1);
    ASSERT_EQ(row.empty(), c.folder == -1);
    if (c.folder != -1) {
      EXPECT_EQ(row[0], c.folder);
      if (c.priority != -1) {
        EXPECT_EQ(row[2], c.priority);
      }
      EXPECT_EQ(row[1] & (qovra::mfDeliveryReport | qovra::mfReadReport),
                c.start == Start::New ? qovra::mfDeliveryReport | qovra::mfReadReport : 0);
    }
    if (c.result == 4) {
      EXPECT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderDrafts);
      EXPECT_EQ(Window().FindFolderNode(qovra::kFolderDrafts)->text(1),
                QString::number(DraftsCount()));
    }
    if (c.start != Start::New) {
      EXPECT_EQ(ReadFile(path) == old_bytes, c.file_kept);
      if (!c.file_kept) {
        qovra::TEFileStream file(path, true, false, qovra::fmOpenRead);
        qovra::TMailReader reader(file);
        ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
        EXPECT_EQ(reader.Subject(), u"Only a subject");
      }
    }
    for (const std::string& name : EmzFiles()) {
      EXPECT_NE(name[0], '~') << name;
      EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }
  }
}

// A failed write never reports success: the old file and row stay, the
// half-written file is gone, the window stays open and says so.
TEST_F(MailCommandsTest, FailedDraftWriteKeepsTheOldFileAndTheWindow) {
  MailFileSpec spec;
  spec.Subject = u"old draft";
  const std::string uuid = StoreWithFile(qovra::kFolderDrafts, spec);
  const std::string path = qovra::MessagesDir + uuid + ".emz";
  const std::string old_bytes = ReadFile(path);
  const std::string attached = dir_.File("gone.txt");
  std::ofstream(attached) << "soon gone";
  bool open_after = false;
  bool still_modified = false;
  QTimer::singleShot(0, [&] {
    TfrmNewMail& form = *Window().NewMailForm();
    form.Mail->Uuid = uuid;
    form.frameNewMailTop1->eSubject->setText(QStringLiteral("new text"));
    form.AttachFiles({QString::fromStdString(attached)});
    fs::remove(attached);
    ui_->messages.clear();
    Window().alMain->acMailSaveToDrafts->trigger();
    open_after = form.isVisible();
    still_modified = form.Modified;
    form.Modified = false;
    form.done(2);
  });
  EXPECT_EQ(Window().acMailNewExecute(), 2);
  EXPECT_TRUE(open_after);
  EXPECT_TRUE(still_modified);
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgCannotSaveDraft"});
  EXPECT_TRUE(ReadFile(path) == old_bytes);
  EXPECT_FALSE(fs::exists(path + ".part"));
  EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderDrafts);
}

// A mail for administrative use lies enciphered; a plain copy beside it (as
// an earlier send kept one) is never what reply, forward or save as read
// from the list.
TEST_F(MailCommandsTest, AdministrativeMailHasNoContainerForTheListsCommands) {
  MailFileSpec spec;
  spec.Subject = u"secret";
  spec.Body = u"in the clear";
  const std::string uuid =
      StoreWithFile(qovra::kFolderInbox, spec, qovra::mfReceived | qovra::mfAdminOnly);
  ASSERT_TRUE(WriteMailFile(qovra::MessagesDir + uuid + ".eme", spec));
  const std::vector<std::string> files = EmzFiles();
  bool chooser_asked = false;
  TfrmMain::SetSaveAsChooser([&](QWidget*, const QString&) {
    chooser_asked = true;
    return std::optional<QString>(QString::fromStdString(dir_.File("secret.txt")));
  });
  const struct {
    const char* name;
    QAction* action;
  } cases[] = {
      {"reply", Window().alMain->acMailReply},
      {"forward", Window().alMain->acMailForward},
      {"save as", Window().alMain->acMailSaveAs},
  };
  Window().SelectFolder(qovra::kFolderInbox);  // the list shows the mail stored above
  ASSERT_EQ(Window().model->Count(), 1);
  ClickRow(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ui_->messages.clear();
    bool window_shown = false;
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      if (TfrmNewMail* form = Window().NewMailForm()) {
        window_shown = true;
        form->Modified = false;
        form->done(2);
      }
    });
    ASSERT_TRUE(c.action->isEnabled());
    c.action->trigger();
    EXPECT_EQ(Shown(), std::vector<std::string>{"msgMailContentNotFound"});
    EXPECT_FALSE(window_shown);
    EXPECT_FALSE(chooser_asked);
    EXPECT_EQ(EmzFiles(), files);
  }
}

// Send stored the forward in the outbox before it stopped (an empty subject
// answered No); the window then cancelled keeps the file its row needs, and
// the outbox mail opens from the list.
TEST_F(MailCommandsTest, ForwardCancelledAfterAStoppedSendKeepsItsFile) {
  qovra::SetMsg("msgConfirmEmptySubject", "msgConfirmEmptySubject");
  MailFileSpec spec;
  spec.Subject = u"plan";
  spec.Body = u"see attached";
  spec.Attachments = {{u"data.bin", "0123456789"}};
  StoreWithFile(qovra::kFolderInbox, spec, qovra::mfReceived | qovra::mfAttachments);
  Window().SelectFolder(qovra::kFolderInbox);  // the list shows the mail stored above
  ClickRow(0);
  std::string uuid;
  bool open_after_send = false;
  InCompose([&] { Window().alMain->acMailForward->trigger(); },
            [&](TfrmNewMail& form) {
              uuid = std::string(form.Mail->Uuid.view());
              TframeNewMailTop* top = form.frameNewMailTop1;
              QTest::keyClicks(top->eTo, QStringLiteral("carol@127.0.0.1"));
              QTest::keyClick(top->eSubject, Qt::Key_A, Qt::ControlModifier);
              QTest::keyClick(top->eSubject, Qt::Key_Delete);
              ASSERT_TRUE(top->eSubject->text().isEmpty());
              ui_->QueueAnswer(qovra::kMsgResultNo);
              QTest::mouseClick(top->btnSend, Qt::LeftButton);
              open_after_send = form.isVisible();
              ui_->QueueAnswer(qovra::kMsgResultNo);
              QTest::keyClick(form.eMailBody, Qt::Key_Escape);
              EXPECT_FALSE(form.isVisible());
            });
  EXPECT_TRUE(open_after_send);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"msgConfirmEmptySubject", "msgSaveToDraftsPrompt"}));
  ASSERT_FALSE(uuid.empty());
  EXPECT_TRUE(fs::exists(qovra::MessagesDir + uuid + ".emz"));

  // The user finds it in the outbox and opens it.
  ClickFolder(qovra::kFolderOutbox);
  const int row = RowOf(uuid);
  ASSERT_GE(row, 0);
  ClickRow(row);
  ui_->messages.clear();
  QString body;
  int attachments = -1;
  InCompose([&] { Window().alMain->acMailOpen->trigger(); },
            [&](TfrmNewMail& form) {
              body = form.eMailBody->toPlainText();
              attachments = form.AttachmentCount();
              form.Modified = false;
            });
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
  EXPECT_EQ(body, QStringLiteral("see attached"));
  EXPECT_EQ(attachments, 1);
}

// A new mail to an address chosen elsewhere (the contacts book) goes on
// with its subject.
TEST_F(MailCommandsTest, NewMailToOneAddressFocusesTheSubject) {
  QString focused;
  QString to;
  QObject guard;
  QTimer::singleShot(0, &guard, [&] {
    TfrmNewMail* form = Window().NewMailForm();
    ASSERT_NE(form, nullptr);
    QApplication::processEvents();
    if (QWidget* w = QApplication::focusWidget()) focused = w->objectName();
    to = form->frameNewMailTop1->eTo->text();
    EXPECT_EQ(form->focusWidget(), form->frameNewMailTop1->eSubject);
    form->Modified = false;
    form->done(2);
  });
  Window().NewMailTo(0, QStringLiteral("Bob <bob@localhost>"));
  EXPECT_EQ(to, QStringLiteral("Bob <bob@localhost>"));
  EXPECT_EQ(focused, QStringLiteral("eSubject"));
}

// A reopened draft whose attachments were all removed is stored without
// the attachments flag: its row no longer shows a paperclip.
TEST_F(MailCommandsTest, DraftWithItsAttachmentsRemovedLosesTheFlag) {
  MailFileSpec spec;
  spec.Subject = u"with a file";
  spec.Attachments = {{u"a.txt", "abc"}};
  const std::string uuid = StoreWithFile(qovra::kFolderDrafts, spec, qovra::mfAttachments);
  Window().SelectFolder(qovra::kFolderDrafts);  // the list shows the draft stored above
  ClickRow(RowOf(uuid));
  InCompose([&] { Window().alMain->acMailOpen->trigger(); },
            [&](TfrmNewMail& form) {
              ASSERT_EQ(form.AttachmentCount(), 1);
              form.lvFileAttachments->item(0)->setSelected(true);
              QTest::keyClick(form.lvFileAttachments, Qt::Key_Delete);
              ASSERT_EQ(form.AttachmentCount(), 0);
              QTest::mouseClick(form.frameNewMailTop1->btnSaveToDrafts, Qt::LeftButton);
            });
  const int row = RowOf(uuid);
  ASSERT_GE(row, 0);
  EXPECT_EQ(Window().model->Row(row).Flags & qovra::mfAttachments, 0);
  EXPECT_EQ(MailRow(uuid)[1] & qovra::mfAttachments, 0);
}

}  // namespace
}  // namespace qovra_test
