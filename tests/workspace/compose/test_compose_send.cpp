// Sending from the compose window through the exchange server: two users
// of two domains and one unknown address, then both receive; the fast-mode
// question at its threshold; an empty subject answered No; every recipient
// refused; one recipient failed and one sent; a mail for administrative
// use; a mail past the container limit.
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>

#include "base/address_list.h"
#include "base/file_stream.h"
#include "base/utf.h"
#include "compose_fixture.h"
#include "net/server_request_folders.h"
#include "store/mail_container_reader.h"

namespace {

namespace fs = std::filesystem;
using qovra_test::kAlice;
using qovra_test::kBob;
using qovra_test::kCarol;

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;

bool Contains(const std::vector<std::string>& texts, const std::string& part) {
  for (const std::string& t : texts)
    if (t.find(part) != std::string::npos) return true;
  return false;
}

class ComposeSendTest : public qovra_test::ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    for (const char* key : {"msgDatabaseError", "msgParsingMail", "msgMailContentNotFound",
                            "msgOpeningMail", "msgSubject", "msgDate", "msgAttachments"})
      qovra::SetMsg(key, key);
  }
  void TearDown() override {
    TfrmMain::SetSaveAsChooser({});
    ComposeFixture::TearDown();
  }

  // Runs body inside the text compose window that open shows; a window
  // still open afterwards is closed without a result.
  void InCompose(const std::function<void()>& open, const std::function<void(TfrmNewMail&)>& body) {
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      TfrmNewMail* form = Window().NewMailForm();
      ASSERT_NE(form, nullptr);
      body(*form);
      if (Window().NewMailForm() == form && form->isVisible()) {
        form->Modified = false;
        form->done(2);
      }
    });
    open();
  }

  // Chooses item of the pop-up menu that clicking button opened.
  static void ChooseFromMenu(QToolButton* button, QMenu* menu, QAction* item) {
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(menu->isVisible());
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(item).center());
  }

  // Bob or carol receive through their window; the mail's container as
  // stored for them.
  int preparing_ = 0;

  std::string Receive(const std::string& who, const std::string& uuid) {
    EXPECT_NO_FATAL_FAILURE(BecomeClient(who));
    EXPECT_TRUE(Window().acMailReceiveExecute());
    EXPECT_GE(Window().LastReceive().Stored, 1) << testing::PrintToString(Shown());
    return ReadFile(qovra::MessagesDir + uuid + ".emz");
  }
};

TEST_F(ComposeSendTest, TwoDomainsAndAnUnknownAddressThenBothReceive) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string bin(100000, '\0');
  for (size_t i = 0; i < bin.size(); ++i) bin[i] = static_cast<char>(i * 31 + 7);
  const std::string file1 = MakeFile("photo.bin", 0, bin);
  const std::string file2 = MakeFile("note.txt", 0, "Эслатма\n");
  std::string uuid;
  const int result = Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    Type(
        form,
        QString::fromStdString(std::string("Bob <") + kBob + ">; " + kCarol + ", nobody@127.0.0.1"),
        QStringLiteral("Салом"), QStringLiteral("Матн\nикки қатор"));
    form.AttachFiles({QString::fromStdString(file1), QString::fromStdString(file2)});
    Window().alMain->acMailSend->trigger();
  });
  EXPECT_EQ(result, 1) << testing::PrintToString(Shown());
  // The refused address first, then the result; never the close question.
  ASSERT_EQ(Shown().size(), 2u) << testing::PrintToString(Shown());
  EXPECT_EQ(Shown()[0], "Refused:\r  nobody@127.0.0.1 - code 3");
  EXPECT_EQ(Shown()[1], "Result:\rsent carol@127.0.0.1,\rsent bob@localhost.\r");
  // Bob and carol were offered for the book and stored.
  EXPECT_EQ(offered_, (std::vector<std::string>{kCarol, kBob}));
  EXPECT_TRUE(qovra::ContactEmailExists(qovra::AddrBookDb, kBob));
  EXPECT_TRUE(qovra::ContactEmailExists(qovra::AddrBookDb, kCarol));
  // In Sent, flagged sent, with attachments; the delivered rows flagged.
  EXPECT_EQ(MailRow(uuid), (std::vector<int64_t>{qovra::kFolderSent,
                                                 qovra::mfAttachments | qovra::mfSent |
                                                     qovra::mfDeliveryReport | qovra::mfReadReport,
                                                 0}));
  const auto flags = SendFlags(uuid);
  EXPECT_EQ(flags.at(kBob), 1);
  EXPECT_EQ(flags.at(kCarol), 1);
  EXPECT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderSent);
  ASSERT_EQ(Window().model->Count(), 1);
  EXPECT_EQ(Window().model->Row(0).Subject, QStringLiteral("Салом"));

  for (const char* who : {kBob, kCarol}) {
    SCOPED_TRACE(who);
    const std::string container = Receive(who, uuid);
    qovra::TMemoryStream source(container);
    qovra::TMailReader reader(source);
    ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
    EXPECT_EQ(reader.From(), kAlice);
    EXPECT_EQ(reader.Subject(), u"Салом");
    // The text box's line end goes out as CR LF.
    EXPECT_EQ(reader.Body(), u"Матн\r\nикки қатор");
    ASSERT_EQ(reader.Attachments().size(), 2u);
    const std::vector<std::pair<std::u16string, std::string>> want = {{u"note.txt", "Эслатма\n"},
                                                                      {u"photo.bin", bin}};
    for (size_t i = 0; i < 2; ++i) {
      const qovra::TMailAttachmentInfo& a = reader.Attachments()[i];
      EXPECT_EQ(std::u16string(a.FileName.view()), want[i].first);
      ASSERT_TRUE(reader.SeekData(a.DataOffset));
      std::string bytes(static_cast<size_t>(a.DataSize), '\0');
      EXPECT_EQ(reader.ReadData(bytes.data(), bytes.size()), bytes.size());
      EXPECT_TRUE(bytes == want[i].second) << i;
    }
  }
}

// The offer needs a secure mail, more than one accepted recipient and a
// total strictly above 30 MiB.
TEST_F(ComposeSendTest, FastModeQuestionAtItsThreshold) {
  struct Case {
    const char* name;
    std::string to;
    int64_t container;
    bool asked;
  };
  const std::string two = std::string(kBob) + "; " + kCarol;
  const Case cases[] = {
      {"two recipients, exactly 15 MiB", two, 15728640, false},
      {"two recipients, one byte more", two, 15728641, true},
      {"one recipient, 200 MB", kBob, 200000000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    const std::string file = MakeFile("big.bin", 1000000);
    const int result = Compose([&](TfrmNewMail& form) {
      Type(form, QString::fromStdString(c.to), QStringLiteral("s"), QString());
      form.AttachFiles({QString::fromStdString(file)});
      // Size the file so that the container comes out exactly.
      qovra::TMemoryStream probe;
      ASSERT_TRUE(form.WriteMessage(probe, qovra::NormalizeAddressList(c.to), nullptr, nullptr));
      // The Content-Size line grows with the size's digits.
      const int64_t overhead = probe.Size() - 1000000;
      int64_t size = c.container - overhead;
      size -= static_cast<int64_t>(std::to_string(size).size()) - 7;
      form.acDeleteAllExecute();
      fs::resize_file(file, static_cast<uintmax_t>(size));
      form.AttachFiles({QString::fromStdString(file)});
      ui_->QueueAnswer(qovra::kMsgResultNo);
      Window().alMain->acMailSend->trigger();
      EXPECT_EQ(form.Mail->MailSize, c.container);
    });
    EXPECT_EQ(result, 1) << testing::PrintToString(Shown());
    EXPECT_EQ(Contains(Shown(), "msgMailContentTooBigSwitchToFastMode"), c.asked)
        << testing::PrintToString(Shown());
    ui_->answers.clear();
    ui_->messages.clear();
    fs::remove(file);
  }
}

TEST_F(ComposeSendTest, EmptySubjectAnsweredNoKeepsTheMailInTheOutbox) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string uuid;
  bool open_after = false;
  bool subject_focused = false;
  const int result = Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    form.activateWindow();
    Type(form, QString::fromLatin1(kBob), QString(), QStringLiteral("body"));
    ui_->QueueAnswer(qovra::kMsgResultNo);
    Window().alMain->acMailSend->trigger();
    open_after = form.isVisible();
    subject_focused = form.focusWidget() == form.frameNewMailTop1->eSubject;
  });
  EXPECT_TRUE(open_after);
  EXPECT_TRUE(subject_focused);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgConfirmEmptySubject"});
  EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderOutbox);
  EXPECT_TRUE(fs::exists(qovra::MessagesDir + uuid + ".emz"));
}

TEST_F(ComposeSendTest, RecipientsThatAreNoAddressesOrAllRefused) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  struct Case {
    const char* to;
    std::vector<std::string> shown;
    bool stored;
  };
  const Case cases[] = {
      {"", {"msgEMailAddressesNotSpecified"}, false},
      {"   ", {"msgEMailAddressesIsInvalid"}, false},
      {" ; ,  ;", {"msgEMailAddressesIsInvalid"}, false},
      {"nobody@127.0.0.1; ghost@localhost",
       {"Refused:\r  nobody@127.0.0.1 - code 3\r  ghost@localhost - code 3",
        "msgEMailAddressesIsInvalid"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    ui_->messages.clear();
    std::string uuid;
    bool open_after = false;
    Compose([&](TfrmNewMail& form) {
      uuid = std::string(form.Mail->Uuid.view());
      Type(form, QString::fromLatin1(c.to), QStringLiteral("s"), QStringLiteral("b"));
      Window().alMain->acMailSend->trigger();
      open_after = form.isVisible();
    });
    EXPECT_TRUE(open_after);
    EXPECT_EQ(Shown(), c.shown);
    EXPECT_EQ(!MailRow(uuid).empty(), c.stored);
    if (c.stored) {
      EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderOutbox);
    }
  }
}

// Carol sorts first among the logins and meets the fault; bob gets the
// mail. For administrative use, the plain container goes once the send
// kept the enciphered copy, also with a recipient failed; the window stays
// modified.
TEST_F(ComposeSendTest, OneRecipientFailedOneSent) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string uuid;
  bool modified_after = false;
  const int result = Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    Type(form, QString::fromStdString(std::string(kBob) + "; " + kCarol), QStringLiteral("s"),
         QStringLiteral("b"));
    form.frameNewMailTop1->chkFAU->setChecked(true);
    form.frameNewMailTop1->mnuFastModeClick(form.frameNewMailTop1->mnuSecureMode);
    // The first msgPreparing is the container's; arm for the send's.
    hook_->on_show = [this](int, const std::string& status) {
      if (status != "msgPreparing") return;
      if (++preparing_ == 2) {
        ASSERT_TRUE(server_.SetFault("once:enc:13"));
      }
    };
    Window().alMain->acMailSend->trigger();
    modified_after = form.Modified;
  });
  EXPECT_EQ(result, 1) << testing::PrintToString(Shown());
  EXPECT_TRUE(modified_after);
  ASSERT_FALSE(Shown().empty());
  EXPECT_EQ(Shown().back(), "Result:\rfailed carol@127.0.0.1,\rsent bob@localhost.\r");
  const std::vector<int64_t> row = MailRow(uuid);
  EXPECT_EQ(row[0], qovra::kFolderOutbox);
  EXPECT_EQ(row[2], qovra::kSendModeSecure);
  const auto flags = SendFlags(uuid);
  EXPECT_EQ(flags.at(kBob), 1);
  EXPECT_EQ(flags.at(kCarol), 0);
  EXPECT_FALSE(fs::exists(qovra::MessagesDir + uuid + ".emz"));
  const std::string eme = qovra::MessagesDir + uuid + ".eme";
  ASSERT_TRUE(fs::exists(eme));
  EXPECT_EQ(fs::status(eme).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ComposeSendTest, AdministrativeUseContainerGoesAfterACompletedSend) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string uuid;
  const int result = Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    Type(form, QString::fromLatin1(kBob), QStringLiteral("s"), QStringLiteral("b"));
    form.frameNewMailTop1->chkFAU->setChecked(true);
    Window().alMain->acMailSend->trigger();
  });
  EXPECT_EQ(result, 1) << testing::PrintToString(Shown());
  EXPECT_FALSE(fs::exists(qovra::MessagesDir + uuid + ".emz"));
  EXPECT_TRUE(fs::exists(qovra::MessagesDir + uuid + ".eme"));
  EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderSent);
  EXPECT_TRUE(MailRow(uuid)[1] & qovra::mfAdminOnly);
}

// Attached files past the receiving side's 4 GiB - 1 are refused before
// anything is written; an earlier outbox copy stays.
TEST_F(ComposeSendTest, MailPastTheContainerLimitIsRefused) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  const std::string huge = MakeFile("huge.bin", qovra::compose::kMaxContainerSize);
  std::string uuid;
  bool open_after = false;
  Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    Type(form, QString::fromLatin1(kBob), QStringLiteral("s"), QStringLiteral("b"));
    form.AttachFiles({QString::fromStdString(huge), QString::fromStdString(MakeFile("a", 0, "1"))});
    Window().alMain->acMailSend->trigger();
    open_after = form.isVisible();
  });
  EXPECT_TRUE(open_after);
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgMailTooBig"});
  EXPECT_TRUE(MailRow(uuid).empty());
  EXPECT_FALSE(fs::exists(qovra::MessagesDir + uuid + ".emz"));
}

}  // namespace

namespace {

// A write that fails (an attached file gone) leaves the earlier outbox
// copy of the container as it was, says so and keeps the window.
TEST_F(ComposeSendTest, FailedWriteLeavesTheOutboxCopy) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  const std::string file = MakeFile("gone.txt", 0, "soon gone");
  std::string uuid, first;
  bool open_after = false;
  Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    Type(form, QString::fromLatin1(kBob), QString(), QStringLiteral("b"));
    form.AttachFiles({QString::fromStdString(file)});
    ui_->QueueAnswer(qovra::kMsgResultNo);  // empty subject: stays in the outbox
    Window().alMain->acMailSend->trigger();
    first = ReadFile(qovra::MessagesDir + uuid + ".emz");
    fs::remove(file);
    ui_->messages.clear();
    Window().alMain->acMailSend->trigger();
    open_after = form.isVisible();
  });
  EXPECT_TRUE(open_after);
  EXPECT_EQ(Shown(), std::vector<std::string>{"msgCannotWriteMail"});
  EXPECT_FALSE(first.empty());
  EXPECT_TRUE(ReadFile(qovra::MessagesDir + uuid + ".emz") == first);
  EXPECT_FALSE(fs::exists(qovra::MessagesDir + uuid + ".emz.part"));
  EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderOutbox);
}

// A body typed with Enter goes out with CR LF; bob, on the list his
// receive left on screen, replies (every line quoted, no completion list
// over the subject although alice is in his book) and saves it as text
// (CR LF throughout).
TEST_F(ComposeSendTest, TypedLinesAreQuotedOneByOneAndSavedWithCrLf) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string uuid;
  Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    TframeNewMailTop* top = form.frameNewMailTop1;
    QTest::keyClicks(top->eTo, QString::fromLatin1(kBob));
    QTest::keyClicks(top->eSubject, QStringLiteral("Plan"));
    QTest::keyClicks(form.eMailBody, QStringLiteral("Line one"));
    QTest::keyClick(form.eMailBody, Qt::Key_Return);
    QTest::keyClicks(form.eMailBody, QStringLiteral("Line two"));
    QTest::keyClick(form.eMailBody, Qt::Key_Return);
    QTest::keyClick(form.eMailBody, Qt::Key_Return);
    QTest::keyClicks(form.eMailBody, QStringLiteral("Line four"));
    QTest::mouseClick(top->btnSend, Qt::LeftButton);
  });
  ASSERT_FALSE(uuid.empty());

  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  qovra::TContact alice;
  alice.FirstName = u"Alice";
  alice.Email = kAlice;
  ASSERT_EQ(qovra::SaveContact(qovra::AddrBookDb, alice, 0, alice.Email), qovra::kAbStored);
  ASSERT_TRUE(Window().acMailReceiveExecute());
  const std::string container = ReadFile(qovra::MessagesDir + uuid + ".emz");
  {
    qovra::TMemoryStream source(container);
    qovra::TMailReader reader(source);
    ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
    EXPECT_EQ(qovra::Utf16ToUtf8(reader.Body()), "Line one\r\nLine two\r\n\r\nLine four");
  }
  const int row = RowOf(uuid);
  ASSERT_GE(row, 0) << "the received mail is on the list";
  ClickRow(row);

  QString quoted;
  bool contacts_shown = true;
  QString focused;
  InCompose([&] { Window().alMain->acMailReply->trigger(); },
            [&](TfrmNewMail& form) {
              QApplication::processEvents();
              quoted = form.eMailBody->toPlainText();
              contacts_shown = form.frameNewMailTop1->lbContacts->isVisible();
              if (QWidget* w = form.focusWidget()) focused = w->objectName();
              EXPECT_EQ(form.frameNewMailTop1->eTo->text().toStdString(), kAlice);
            });
  EXPECT_TRUE(quoted.contains(QStringLiteral("\n> Line one\n> Line two\n> \n> Line four\n")))
      << quoted.toStdString();
  EXPECT_FALSE(contacts_shown);
  EXPECT_EQ(focused, QStringLiteral("eMailBody"));

  const std::string target = dir_.File("plan.txt");
  TfrmMain::SetSaveAsChooser([&](QWidget*, const QString&) {
    return std::optional<QString>(QString::fromStdString(target));
  });
  ASSERT_TRUE(Window().alMain->acMailSaveAs->isEnabled());
  Window().alMain->acMailSaveAs->trigger();
  const std::string text = ReadFile(target);
  EXPECT_NE(text.find("\r\n\r\nLine one\r\nLine two\r\n\r\nLine four\r\n\r\n"), std::string::npos)
      << text;
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    ASSERT_TRUE(at > 0 && text[at - 1] == '\r') << "a bare LF at " << at << " in " << text;
}

// The priority and the two report buttons go out as the window shows them:
// each report alone, and a reopened draft sent unedited after its priority
// and read report were changed. The sender's row and what bob receives
// agree.
TEST_F(ComposeSendTest, PriorityAndReportsAsTheWindowShowsThem) {
  const struct {
    const char* name;
    bool draft;           // saved first, then reopened from the Drafts list
    bool click_delivery;  // untick the delivery report
    bool click_read;      // untick the read report
    bool high;            // choose high priority
    uint16_t reports;
    int priority;
  } cases[] = {
      {"only the delivery report", false, false, true, false, qovra::mfDeliveryReport,
       qovra::kPriorityNormal},
      {"only the read report", false, true, false, false, qovra::mfReadReport,
       qovra::kPriorityNormal},
      {"reopened draft, high and no read report", true, false, true, true, qovra::mfDeliveryReport,
       qovra::kPriorityHigh},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    ui_->messages.clear();
    auto choose = [&](TfrmNewMail& form) {
      TframeNewMailTop* top = form.frameNewMailTop1;
      if (c.click_delivery) QTest::mouseClick(top->btnReceiveReport, Qt::LeftButton);
      if (c.click_read) QTest::mouseClick(top->btnReadReport, Qt::LeftButton);
      if (c.high) ChooseFromMenu(top->btnPriority, top->pmPriority, top->mnuHighPriority);
    };
    auto type = [](TfrmNewMail& form) {
      QTest::keyClicks(form.frameNewMailTop1->eTo, QString::fromLatin1(kBob));
      QTest::keyClicks(form.frameNewMailTop1->eSubject, QStringLiteral("Choices"));
      QTest::keyClicks(form.eMailBody, QStringLiteral("text"));
    };
    std::string uuid;
    if (c.draft) {
      Compose([&](TfrmNewMail& form) {
        uuid = std::string(form.Mail->Uuid.view());
        type(form);
        QTest::mouseClick(form.frameNewMailTop1->btnSaveToDrafts, Qt::LeftButton);
      });
      ASSERT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderDrafts);
      const int row = RowOf(uuid);
      ASSERT_GE(row, 0);
      ClickRow(row);
      InCompose([&] { Window().alMain->acMailOpen->trigger(); },
                [&](TfrmNewMail& form) {
                  choose(form);
                  QTest::mouseClick(form.frameNewMailTop1->btnSend, Qt::LeftButton);
                  EXPECT_EQ(form.result(), 1) << testing::PrintToString(Shown());
                });
    } else {
      Compose([&](TfrmNewMail& form) {
        uuid = std::string(form.Mail->Uuid.view());
        type(form);
        choose(form);
        QTest::mouseClick(form.frameNewMailTop1->btnSend, Qt::LeftButton);
        EXPECT_EQ(form.result(), 1) << testing::PrintToString(Shown());
      });
    }
    const uint16_t both = qovra::mfDeliveryReport | qovra::mfReadReport;
    std::vector<int64_t> row = MailRow(uuid);
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[0], qovra::kFolderSent);
    EXPECT_EQ(row[1] & both, c.reports) << "the sender's row";
    qovra::SqliteStatement priority =
        qovra::MailDb.Prepare("SELECT priority FROM ecm_mails WHERE uuid=?");
    priority.Bind(1, uuid);
    ASSERT_EQ(priority.Step(), qovra::SqliteStatement::StepResult::Row);
    EXPECT_EQ(priority.ColumnInt(0), c.priority);

    ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
    ASSERT_TRUE(Window().acMailReceiveExecute());
    const int got = RowOf(uuid);
    ASSERT_GE(got, 0) << "bob received it";
    EXPECT_EQ(Window().model->Row(got).Flags & both, c.reports) << "what bob received";
    EXPECT_EQ(Window().model->Row(got).Priority, c.priority);
  }
}

// Once the send began, the recipients the book does not know are offered
// even when the send itself failed (the window stays open, the mail in the
// outbox).
TEST_F(ComposeSendTest, UnknownRecipientsAreOfferedAlsoAfterAFailedSend) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string uuid;
  bool open_after = false;
  Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    TframeNewMailTop* top = form.frameNewMailTop1;
    QTest::keyClicks(top->eTo, QString::fromLatin1(kBob));
    QTest::keyClicks(top->eSubject, QStringLiteral("s"));
    ChooseFromMenu(top->btnSendingMode, top->pmSendingMode, top->mnuFastMode);
    hook_->on_show = [this](int, const std::string& status) {
      if (status == "msgPreparing" && ++preparing_ == 2) {
        ASSERT_TRUE(server_.SetFault("once:enc:13"));
      }
    };
    QTest::mouseClick(top->btnSend, Qt::LeftButton);
    open_after = form.isVisible();
  });
  EXPECT_TRUE(open_after);
  EXPECT_TRUE(Contains(Shown(), "13")) << testing::PrintToString(Shown());
  EXPECT_EQ(offered_, std::vector<std::string>{kBob});
  EXPECT_TRUE(qovra::ContactEmailExists(qovra::AddrBookDb, kBob));
  EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderOutbox);
}

// A row the database refuses before sending stops the send: nothing goes
// out, and a new mail leaves no file behind.
TEST_F(ComposeSendTest, ARefusedRowStopsTheSendBeforeAnythingGoesOut) {
  const struct {
    const char* name;
    bool draft;  // a reopened draft sent unedited, its priority changed
    const char* trigger;
  } cases[] = {
      {"new mail", false, "BEFORE INSERT ON ecm_mails"},
      {"reopened draft", true, "BEFORE UPDATE ON ecm_mails"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    std::string uuid;
    auto type = [](TfrmNewMail& form) {
      QTest::keyClicks(form.frameNewMailTop1->eTo, QString::fromLatin1(kBob));
      QTest::keyClicks(form.frameNewMailTop1->eSubject, QStringLiteral("s"));
    };
    std::string stored;
    if (c.draft) {
      Compose([&](TfrmNewMail& form) {
        uuid = std::string(form.Mail->Uuid.view());
        type(form);
        QTest::mouseClick(form.frameNewMailTop1->btnSaveToDrafts, Qt::LeftButton);
      });
      stored = ReadFile(qovra::MessagesDir + uuid + ".emz");
      ASSERT_FALSE(stored.empty());
    }
    ASSERT_TRUE(qovra::MailDb.Exec(std::string("CREATE TRIGGER refuse ") + c.trigger +
                                   " BEGIN SELECT RAISE(ABORT, 'refused'); END;"));
    ui_->messages.clear();
    bool open_after = false;
    auto send = [&](TfrmNewMail& form) {
      if (c.draft) {
        ChooseFromMenu(form.frameNewMailTop1->btnPriority, form.frameNewMailTop1->pmPriority,
                       form.frameNewMailTop1->mnuLowPriority);
      } else {
        uuid = std::string(form.Mail->Uuid.view());
        type(form);
      }
      QTest::mouseClick(form.frameNewMailTop1->btnSend, Qt::LeftButton);
      open_after = form.isVisible();
    };
    if (c.draft) {
      ClickRow(RowOf(uuid));
      InCompose([&] { Window().alMain->acMailOpen->trigger(); }, send);
    } else {
      Compose(send);
    }
    ASSERT_TRUE(qovra::MailDb.Exec("DROP TRIGGER refuse;"));
    EXPECT_TRUE(open_after);
    EXPECT_EQ(Shown(), std::vector<std::string>{"msgDatabaseError"});
    const std::string emz = qovra::MessagesDir + uuid + ".emz";
    EXPECT_EQ(fs::exists(emz), c.draft);
    EXPECT_FALSE(fs::exists(emz + ".part"));
    if (c.draft) {
      EXPECT_TRUE(ReadFile(emz) == stored);
      EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderDrafts);
    } else {
      EXPECT_TRUE(MailRow(uuid).empty());
    }
    ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
    ASSERT_TRUE(Window().acMailReceiveExecute());
    EXPECT_EQ(RowOf(uuid), -1) << "nothing reached bob";
  }
}

}  // namespace
