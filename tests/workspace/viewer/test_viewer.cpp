// Opening mails in the viewer: mails sent by alice through the compose
// window and received by bob, then opened from bob's list. The signature
// status table over real containers (each spoiled in one way), the read
// receipt (once, online only), an administrative mail (received, opened,
// converted from a plain copy, reopened), saving a crafted attachment name,
// the signature details, a draft reopened on its working copy, and a mail
// sent by a session that began offline.
#include <zarvo.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "base/file_stream.h"
#include "base/time_stamp.h"
#include "base/utf.h"
#include "commands/login_command.h"
#include "compose_fixture.h"
#include "keys/crypto_binding.h"
#include "mail/signature_check.h"
#include "net/server_request_folders.h"
#include "platform/run_thread.h"
#include "qovra/account/login_window.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/controls/progress_bar_ex.h"
#include "qovra/controls/web_link.h"
#include "qovra/ui/widgets.h"
#include "qovra/workspace/attachment_rows.h"
#include "qovra/workspace/mail_list_model.h"
#include "qovra/workspace/mail_report.h"
#include "qovra/workspace/main_actions.h"
#include "qovra/workspace/main_status_bar.h"
#include "qovra/workspace/print_text.h"
#include "qovra/workspace/sign_details.h"
#include "qovra/workspace/view_mail.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"
#include "store/mail_db.h"
#include "store/sign_container.h"
#include "store/sign_container_reader.h"
#include "support/file_size_limit.h"

namespace {

namespace fs = std::filesystem;
using qovra_test::kAlice;
using qovra_test::kBob;
using qovra_test::kCarol;

constexpr auto ReadFile = qovra::testing::ScratchDir::Read;
void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// What the viewer showed.
struct Seen {
  bool shown = false;
  int status = 99;
  QString link;
  QColor colour;
  QString from, subject, body;
  int attachments = 0;
};

class ViewerTest : public qovra_test::ComposeFixture {
 protected:
  void SetUp() override {
    ComposeFixture::SetUp();
    for (const char* key :
         {"msgAuthentic", "msgUnauthentic", "msgMailSignContentNotFound", "msgMailContentNotFound",
          "msgCannotDecryptMail", "msgMailFileCorrupted", "msgSignatureFileCorrupted",
          "msgSignerCertInvalid", "msgSignerCertNotYetValid", "msgSignerCertExpired",
          "msgCouldNotEditMailForAdministrativeUse"})
      qovra::SetMsg(key, key);
    qovra::SetMsg("msgConfirmOverwrite", "overwrite %s?");
  }
  void TearDown() override {
    TfrmViewMail::SetSaveChooser({});
    TfrmViewMail::SetFolderChooser({});
    TfrmSignDetails::SetCertificateOpener({});
    ComposeFixture::TearDown();
  }

  // Alice sends one mail to bob (with attachments given as name -> bytes);
  // bob receives it. Returns its uuid.
  std::string SendToBob(const std::vector<std::pair<std::string, std::string>>& files = {},
                        bool admin = false) {
    EXPECT_NO_FATAL_FAILURE(BecomeClient(kAlice));
    QStringList paths;
    for (const auto& [name, bytes] : files)
      paths << QString::fromStdString(MakeFile(name, 0, bytes));
    std::string uuid;
    const int result = Compose([&](TfrmNewMail& form) {
      uuid = std::string(form.Mail->Uuid.view());
      Type(form, QString::fromLatin1(kBob), QStringLiteral("Салом"), QStringLiteral("Матн"));
      if (!paths.isEmpty()) form.AttachFiles(paths);
      form.frameNewMailTop1->chkFAU->setChecked(admin);
      Window().alMain->acMailSend->trigger();
    });
    EXPECT_EQ(result, 1) << testing::PrintToString(Shown());
    EXPECT_NO_FATAL_FAILURE(BecomeClient(kBob));
    EXPECT_TRUE(Window().acMailReceiveExecute());
    EXPECT_EQ(Window().LastReceive().Stored, 1) << testing::PrintToString(Shown());
    ui_->messages.clear();
    return uuid;
  }

  void SelectInbox() {
    Window().SelectFolder(qovra::kFolderInbox);
    SelectRows({0});
  }

  // Opens the selected mail and runs body inside the viewer, then closes it.
  Seen Open(const std::function<void(TfrmViewMail&)>& body = {}) {
    Seen seen;
    // The check runs inside the viewer's loop; when no viewer opens, the
    // guard's end drops it before seen and body go.
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      TfrmViewMail* form = Window().ViewMailForm();
      if (!form) return;
      seen.shown = true;
      seen.status = form->Check.Status;
      seen.link = form->frameViewMailFooter1->wlSignature->Caption();
      seen.colour = form->frameViewMailFooter1->wlSignature->FontColor();
      seen.from = form->frameViewMailTop1->eFrom->text();
      seen.subject = form->frameViewMailTop1->eSubject->text();
      seen.body = form->eMailBody->toPlainText();
      seen.attachments = form->lvFileAttachments->count();
      if (body) body(*form);
      if (Window().ViewMailForm() == form) QTest::keyClick(form, Qt::Key_Escape);
    });
    Window().alMain->acMailOpen->trigger();
    return seen;
  }

  // Opens the selected mail and runs body inside the viewer; a viewer still
  // shown afterwards is closed without a result. Returns the viewer's
  // result (0: none opened).
  int OpenViewer(const std::function<void(TfrmViewMail&)>& body) {
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      TfrmViewMail* form = Window().ViewMailForm();
      if (!form) return;
      body(*form);
      if (form->isVisible()) form->done(2);
    });
    return Window().acMailOpenExecute();
  }
  // Clicks the viewer's tool bar button of action, with the list's
  // selection gone (as a receive refilling the list leaves it).
  void ClickInViewer(TfrmViewMail& form, QAction* action) {
    Window().lvMain->selectionModel()->clearSelection();
    auto* button =
        qobject_cast<QToolButton*>(form.frameViewMailTop1->tbViewMail->widgetForAction(action));
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isEnabled());
    button->click();
  }
  std::set<std::string> MessageFiles() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(qovra::MessagesDir))
      names.insert(e.path().filename().string());
    return names;
  }
  QString NodeText(int32_t folder) { return Window().FindFolderNode(folder)->text(1); }
  // Every attachment of the container at path, by name.
  std::map<std::string, std::string> AttachmentsOf(const std::string& path) {
    std::map<std::string, std::string> files;
    qovra::TEFileStream file(path, true, false, qovra::fmOpenRead);
    qovra::TMailReader reader(file);
    EXPECT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
    const std::string out = dir_.File("attachments-" + std::to_string(++saved_sets_));
    fs::create_directories(out);
    for (size_t i = 0; i < reader.Attachments().size(); ++i)
      EXPECT_TRUE(reader.SaveAttachment(static_cast<int64_t>(i), true, nullptr, nullptr, true,
                                        qovra::Utf8ToUtf16(out + "/")));
    for (const auto& e : fs::directory_iterator(out))
      files[e.path().filename().string()] = ReadFile(e.path().string());
    return files;
  }
  int saved_sets_ = 0;

  uint16_t FlagsOf(const std::string& uuid) { return static_cast<uint16_t>(MailRow(uuid)[1]); }
  void SetFlags(const std::string& uuid, uint16_t flags) {
    qovra::SqliteStatement st = qovra::MailDb.Prepare("UPDATE ecm_mails SET flag=? WHERE uuid=?");
    st.Bind(1, flags);
    st.Bind(2, uuid);
    ASSERT_TRUE(st.Run());
  }
};

// The texts a label shows when it is painted, consecutive repeats once:
// busy work runs no event loop and repaints its status text at once.
class PaintedTexts : public QObject {
 public:
  explicit PaintedTexts(QLabel* label) : label_(label) { label_->installEventFilter(this); }
  // The texts among keys, in the order shown.
  std::vector<std::string> Among(const std::set<std::string>& keys) const {
    std::vector<std::string> shown;
    for (const std::string& t : texts_)
      if (keys.count(t)) shown.push_back(t);
    return shown;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == label_ && event->type() == QEvent::Paint) {
      const std::string text = label_->text().toStdString();
      if (texts_.empty() || texts_.back() != text) texts_.push_back(text);
    }
    return false;
  }

 private:
  QLabel* label_;
  std::vector<std::string> texts_;
};

// Rewrites the signature container with another signing time (the same
// signature and certificate).
void Resign(const std::string& ems, qovra::TDateTime signed_utc) {
  qovra::TEFileStream in(ems, true, false, qovra::fmOpenRead);
  qovra::TSignReader reader(in);
  ASSERT_TRUE(reader.Parse());
  std::array<uint8_t, qovra::kKeyRecordSize> dh{};
  const std::string rebuilt = qovra::BuildSignatureRecord(reader.MailUID(), reader.Signature(),
                                                          reader.Certificate(), dh, signed_utc);
  WriteFile(ems + ".new", rebuilt);
  fs::rename(ems + ".new", ems);
}

TEST_F(ViewerTest, SignatureStatusTableOverRealContainers) {
  const std::string uuid = SendToBob({{"a.txt", "first"}, {"b.bin", std::string(5000, 'x')}});
  const std::string emz = qovra::MessagesDir + uuid + ".emz";
  const std::string ems = qovra::MessagesDir + uuid + ".ems";
  const std::string good_emz = ReadFile(emz);
  const std::string good_ems = ReadFile(ems);
  // The certificate's validity, for the rows at and beyond its bounds.
  int64_t from = 0, to = 0;
  {
    qovra::TMemoryStream s(good_ems);
    qovra::TSignReader r(s);
    ASSERT_TRUE(r.Parse());
    const std::string cert(r.Certificate());
    ASSERT_GT(initBCr(cert.data(), static_cast<int32_t>(cert.size()), nullptr, nullptr, &from, &to),
              0);
  }
  const auto at = [](int64_t unix_seconds) {
    return 25569.0 + static_cast<double>(unix_seconds) / 86400.0;
  };
  const QColor red(255, 0, 0), grey(128, 128, 128);
  const QColor own = qovra::ui::TWebLink().NormalFontColor();
  const uint16_t flags = FlagsOf(uuid);

  const struct {
    const char* what;
    std::function<void()> spoil;
    int status;
    const char* link;
    QColor colour;
  } rows[] = {
      {"Valid", [] {}, qovra::kSignValid, "msgAuthentic", own},
      {"FlippedBodyByte",
       [&] {
         std::string bytes = good_emz;
         const size_t at_body = bytes.find("Матн");
         ASSERT_NE(at_body, std::string::npos);
         bytes[at_body] ^= 0x01;
         WriteFile(emz, bytes);
       },
       qovra::kSignWrong, "msgUnauthentic", red},
      {"UnreadableCertificate",
       [&] {
         qovra::TMemoryStream s(good_ems);
         qovra::TSignReader r(s);
         ASSERT_TRUE(r.Parse());
         std::array<uint8_t, qovra::kKeyRecordSize> dh{};
         WriteFile(ems, qovra::BuildSignatureRecord(uuid, r.Signature(), std::string(300, 'A'), dh,
                                                    r.SignedDate()));
       },
       qovra::kSignCertUnreadable, "msgUnauthentic", red},
      {"SignedBeforeValidity", [&] { Resign(ems, at(from - 1)); }, qovra::kSignCertNotYetValid,
       "msgUnauthentic", red},
      {"SignedAtValidityStart", [&] { Resign(ems, at(from)); }, qovra::kSignValid, "msgAuthentic",
       own},
      {"SignedAtValidityEnd", [&] { Resign(ems, at(to)); }, qovra::kSignValid, "msgAuthentic", own},
      {"SignedAfterValidity", [&] { Resign(ems, at(to + 1)); }, qovra::kSignCertExpired,
       "msgUnauthentic", red},
      {"NoSignatureContainer", [&] { fs::remove(ems); }, qovra::kSignNoContainer,
       "msgMailSignContentNotFound", red},
      {"UnsignedFlag", [&] { SetFlags(uuid, flags | qovra::mfBadSignature); },
       qovra::kSignUnsignedFlag, "msgMailSignContentNotFound", grey},
  };
  for (const auto& r : rows) {
    WriteFile(emz, good_emz);
    WriteFile(ems, good_ems);
    SetFlags(uuid, flags | qovra::mfRead);  // no receipt in this table
    r.spoil();
    SelectInbox();
    ui_->messages.clear();
    const Seen seen = Open();
    ASSERT_TRUE(seen.shown) << r.what << testing::PrintToString(Shown());
    EXPECT_EQ(seen.status, r.status) << r.what;
    EXPECT_EQ(seen.link.toStdString(), r.link) << r.what;
    EXPECT_EQ(seen.colour, r.colour) << r.what;
    EXPECT_EQ(seen.from.toStdString(), kAlice) << r.what;
    EXPECT_EQ(seen.subject, QStringLiteral("Салом")) << r.what;
    EXPECT_EQ(seen.attachments, 2) << r.what;
    EXPECT_TRUE(Shown().empty()) << r.what << testing::PrintToString(Shown());
  }
}

// The status line while a mail opens: parsing, then the signature
// container when there is one, then the hash that the signature is checked
// against when it comes to that.
TEST_F(ViewerTest, StatusTextsWhileAMailOpens) {
  const std::string uuid = SendToBob();
  const std::string ems = qovra::MessagesDir + uuid + ".ems";
  const std::string good_ems = ReadFile(ems);
  const uint16_t flags = FlagsOf(uuid) | qovra::mfRead;
  const std::set<std::string> keys = {"msgParsingMail", "msgParsingSignature", "msgVerifying"};
  for (const std::string& key : keys) qovra::SetMsg(key, key);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Window()));
  const struct {
    const char* what;
    std::function<void()> spoil;
    std::vector<std::string> shown;
  } rows[] = {
      {"signed", [] {}, {"msgParsingMail", "msgParsingSignature", "msgVerifying"}},
      {"no signature container", [&] { fs::remove(ems); }, {"msgParsingMail"}},
      {"flagged unsigned",
       [&] { SetFlags(uuid, flags | qovra::mfBadSignature); },
       {"msgParsingMail"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    WriteFile(ems, good_ems);
    SetFlags(uuid, flags);
    r.spoil();
    SelectInbox();
    const PaintedTexts painted(Window().pnlStatusBar->lblStatus);
    ASSERT_TRUE(Open().shown) << testing::PrintToString(Shown());
    EXPECT_EQ(painted.Among(keys), r.shown);
  }
}

TEST_F(ViewerTest, SignatureDetailsAndCertificate) {
  const std::string uuid = SendToBob();
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  SelectInbox();
  std::vector<std::string> opened;
  TfrmSignDetails::SetCertificateOpener(
      [&](QWidget*, const std::string& file) { opened.push_back(file); });
  QString signed_by, verdict;
  Open([&](TfrmViewMail& form) {
    QTimer::singleShot(0, &form, [&] {
      auto* dialog = qobject_cast<TfrmSignDetails*>(QApplication::activeModalWidget());
      if (!dialog) return;
      signed_by = dialog->lblSignedBy->text();
      verdict = dialog->lblSignatureAuthencity->text();
      dialog->wlOpenCertificateClick();
      dialog->wlOpenCertificateClick();
      dialog->btnOK->click();
    });
    // The status link runs the main window's command.
    emit form.frameViewMailFooter1->wlSignature->OnClick();
  });
  EXPECT_TRUE(signed_by.endsWith(QString::fromLatin1(kAlice))) << signed_by.toStdString();
  EXPECT_EQ(verdict.toStdString(), "msgAuthentic");
  // Two clicks, two certificate files with different names, each the
  // container's certificate.
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_NE(opened[0], opened[1]);
  qovra::TMemoryStream s(ReadFile(qovra::MessagesDir + uuid + ".ems"));
  qovra::TSignReader r(s);
  ASSERT_TRUE(r.Parse());
  EXPECT_EQ(ReadFile(opened[0]), std::string(r.Certificate()));

  // Unsigned: a warning over the viewer, no dialog.
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfBadSignature);
  SelectInbox();
  ui_->messages.clear();
  Open([&](TfrmViewMail&) { Window().alMain->acMailSignDetails->trigger(); });
  EXPECT_EQ(Shown(), (std::vector<std::string>{"msgMailSignContentNotFound"}));
}

// The details dialog as a keyboard user meets it: opened by a click on the
// status link, Enter closes it at once; the link is one Tab away and opens
// the certificate with Enter.
TEST_F(ViewerTest, EnterClosesTheSignatureDetails) {
  const std::string uuid = SendToBob();
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  SelectInbox();
  int opened = 0;
  TfrmSignDetails::SetCertificateOpener([&](QWidget*, const std::string&) { ++opened; });
  const struct {
    const char* what;
    int tabs;
    int certificates;
    bool closes;
  } rows[] = {
      {"Enter at once", 0, 0, true},
      {"Tab to the link, Enter", 1, 1, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    opened = 0;
    bool shown = false, closed = false;
    QString focus;
    Open([&](TfrmViewMail& form) {
      QTimer::singleShot(0, &form, [&] {
        auto* dialog = qobject_cast<TfrmSignDetails*>(QApplication::activeModalWidget());
        if (!dialog) return;
        shown = true;
        // The window manager activates a new dialog; the offscreen one does not.
        QApplication::setActiveWindow(dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
        ASSERT_NE(dialog->focusWidget(), nullptr);
        for (int i = 0; i < r.tabs; ++i) QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
        focus = dialog->focusWidget() ? dialog->focusWidget()->objectName() : QString();
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        closed = !dialog->isVisible();
        if (!closed) dialog->reject();
      });
      QWidget* link = form.frameViewMailFooter1->wlSignature;
      QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    });
    EXPECT_TRUE(shown);
    EXPECT_EQ(focus.toStdString(), r.tabs == 0 ? "btnOK" : "wlOpenCertificate");
    EXPECT_EQ(closed, r.closes);
    EXPECT_EQ(opened, r.certificates);
  }
}

TEST_F(ViewerTest, ReadReceiptOnceOnlineNoneOffline) {
  const std::string uuid = SendToBob();
  const uint16_t received = FlagsOf(uuid);
  ASSERT_TRUE(received & qovra::mfReadReport);
  ASSERT_FALSE(received & qovra::mfRead);

  // Offline: nothing is sent, the flags stay.
  qovra::Session.State = 2;
  SelectInbox();
  EXPECT_TRUE(Open().shown);
  EXPECT_EQ(FlagsOf(uuid), received);
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());

  // Online: one receipt; the flag word then holds mfRead.
  qovra::Session.State = 1;
  SelectInbox();
  EXPECT_TRUE(Open().shown);
  EXPECT_TRUE(FlagsOf(uuid) & qovra::mfRead);
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());

  // Never again: with the server gone a request would be reported.
  server_.Stop();
  SelectInbox();
  EXPECT_TRUE(Open().shown);
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
}

TEST_F(ViewerTest, ReadReceiptReachesTheSender) {
  const std::string uuid = SendToBob();
  SelectInbox();
  EXPECT_TRUE(Open().shown);
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  EXPECT_TRUE(Window().acMailReceiveExecute());
  qovra::SqliteStatement st = qovra::MailDb.Prepare(
      "SELECT r.read_time FROM ecm_recipients AS r JOIN ecm_mails AS m ON m.id=r.mail_id "
      "WHERE m.uuid=?");
  st.Bind(1, uuid);
  ASSERT_EQ(st.Step(), qovra::SqliteStatement::StepResult::Row);
  EXPECT_NE(st.ColumnText(0), std::string(qovra::kZeroTimeText));
}

// Save attachments is offered, on the viewer's tool bar and in its menu,
// only for a mail that has attachments.
TEST_F(ViewerTest, SaveAttachmentsOfferedOnlyWithAttachments) {
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    bool offered;
  } cases[] = {
      {"NoAttachments", {}, false},
      {"OneAttachment", {{"a.txt", "first"}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string uuid = SendToBob(c.files);
    Window().SelectFolder(qovra::kFolderInbox);
    for (int row = 0; row < Window().model->rowCount(); ++row)
      if (Window().model->Row(row).ToMailMessage().Uuid.view() == uuid) SelectRows({row});
    bool on_bar = false, in_menu = false;
    const int result = OpenViewer([&](TfrmViewMail& form) {
      QCoreApplication::processEvents();
      QAction* save = Window().alMain->acMailAttachmentsSave;
      const QWidget* button = form.frameViewMailTop1->tbViewMail->widgetForAction(save);
      on_bar = button && button->isVisible();
      in_menu = form.mnuMessage->actions().contains(save);
    });
    ASSERT_NE(result, 0);
    EXPECT_EQ(on_bar, c.offered);
    EXPECT_EQ(in_menu, c.offered);
  }
}

// Alice starts the program offline (the login window, her offline
// password) and later goes online through the password prompt; the mail
// she then writes and sends reaches bob, who opens it from his list: the
// sender's certificate went with it and the signature is authentic.
TEST_F(ViewerTest, MailSentAfterAnOfflineStartIsAuthentic) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));  // the online login keeps an offline password
  qovra::Options.Other.lastlgn = "alice";
  // The program starts again and logs in offline.
  window_.reset();
  qovra::Session.Clear();
  qovra::HandshakeDone = false;
  {
    TfrmLogin login;
    login.chkOfflineWork->setChecked(true);
    login.chkOfflineWorkClick();
    login.ePassword->setText(QString::fromLatin1(qovra_test::kComposePassword));
    login.btnOKClick();
    ASSERT_EQ(login.result(), TfrmLogin::kResultLoggedIn) << testing::PrintToString(Shown());
  }
  ASSERT_EQ(qovra::Session.State, 2);
  Window().show();
  // Going online: the prompt logs in again with the password typed.
  ui_->on_reauthenticate = [] {
    int owner = 0;
    return qovra::ReauthenticateSession(qovra_test::kComposePassword,
                                        {&owner, "TfrmPassword", nullptr});
  };
  Window().alMain->acWorkOffline->trigger();
  ASSERT_EQ(qovra::Session.State, 1) << testing::PrintToString(Shown());

  std::string uuid;
  const int result = Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    Type(form, QString::fromLatin1(kBob), QStringLiteral("Салом"), QStringLiteral("Матн"));
    Window().alMain->acMailSend->trigger();
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Result:\rsent bob@localhost.\r"});
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  EXPECT_TRUE(Window().acMailReceiveExecute());
  ASSERT_EQ(Window().LastReceive().Stored, 1) << testing::PrintToString(Shown());
  ui_->messages.clear();
  SelectInbox();
  const Seen seen = Open();
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.status, qovra::kSignValid);
  EXPECT_EQ(seen.link, QStringLiteral("msgAuthentic"));
}

// What a user sees of one list row.
struct RowSeen {
  bool bold = false;
  int icon = -1;  // index into the 16-pixel list icons: 0 read, 1 received
  QString read_time;
  bool operator==(const RowSeen&) const = default;
};
void PrintTo(const RowSeen& r, std::ostream* os) {
  *os << (r.bold ? "bold" : "plain") << ", icon " << r.icon << ", read \""
      << r.read_time.toStdString() << "\"";
}

// Opening from the list that stays on screen, as a user does: nothing
// reloads the folder between the steps. Whatever opening stored (the read
// flag after a receipt or without one, the suid and times of the receipt,
// an administrative copy enciphered under a fresh key) reaches the row and
// the folder's counter at once, and the next opening of the same row works
// from what the row now says.
TEST_F(ViewerTest, TheListOnScreenLearnsWhatOpeningDid) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  enum Kind { kReceipt, kNoReceipt, kAdmin };
  std::map<Kind, std::string> uuid;
  for (const Kind kind : {kReceipt, kNoReceipt, kAdmin}) {
    ASSERT_EQ(Compose([&](TfrmNewMail& form) {
                uuid[kind] = std::string(form.Mail->Uuid.view());
                Type(form, QString::fromLatin1(kBob), QStringLiteral("Салом"),
                     QStringLiteral("Матн"));
                // The sender's own click on the read report button.
                if (kind != kReceipt)
                  QTest::mouseClick(form.frameNewMailTop1->btnReadReport, Qt::LeftButton);
                form.frameNewMailTop1->chkFAU->setChecked(kind == kAdmin);
                Window().alMain->acMailSend->trigger();
              }),
              1)
        << testing::PrintToString(Shown());
  }
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  ASSERT_EQ(Window().LastReceive().Stored, 3) << testing::PrintToString(Shown());
  ASSERT_FALSE(FlagsOf(uuid[kNoReceipt]) & qovra::mfReadReport);
  ASSERT_EQ(NodeText(qovra::kFolderInbox), QStringLiteral("3/3"));
  ui_->messages.clear();

  // From here on the list is the one the receive left on screen.
  TfrmMain& w = Window();
  const auto row_of = [&](const std::string& id) {
    for (int r = 0; r < w.model->Count(); ++r)
      if (w.model->Row(r).Uuid == id) return r;
    return -1;
  };
  const auto seen_row = [&](const std::string& id) {
    RowSeen seen;
    const int r = row_of(id);
    if (r < 0) return seen;
    const QModelIndex state = w.model->index(r, qovra::ui::TMailListModel::kColState);
    seen.bold = w.model->data(state, Qt::FontRole).value<QFont>().bold();
    seen.icon = w.model->data(state, qovra::ui::TMailListModel::kImageIndexRole).toInt();
    seen.read_time =
        w.model->data(w.model->index(r, qovra::ui::TMailListModel::kColRead)).toString();
    return seen;
  };
  // Double-clicks the row; returns the viewer's body (empty: none opened).
  const auto open_row = [&](const std::string& id,
                            const std::function<void(TfrmViewMail&)>& body = {}) {
    QString shown_body;
    const int r = row_of(id);
    if (r < 0) return shown_body;
    const QRect cell =
        w.lvMain->visualRect(w.model->index(r, qovra::ui::TMailListModel::kColSubject));
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      TfrmViewMail* form = w.ViewMailForm();
      if (!form) return;
      shown_body = form->eMailBody->toPlainText();
      if (body) body(*form);
      QTest::keyClick(form, Qt::Key_Escape);
    });
    QTest::mouseClick(w.lvMain->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(w.lvMain->viewport(), Qt::LeftButton, {}, cell.center());
    return shown_body;
  };
  const RowSeen unread{true, 1, QString()};

  // The sender asked a read report: one receipt, and the row says read.
  EXPECT_EQ(seen_row(uuid[kReceipt]), unread);
  EXPECT_EQ(open_row(uuid[kReceipt]), QStringLiteral("Матн"));
  EXPECT_TRUE(FlagsOf(uuid[kReceipt]) & qovra::mfRead);
  const RowSeen after_receipt = seen_row(uuid[kReceipt]);
  EXPECT_FALSE(after_receipt.bold);
  EXPECT_EQ(after_receipt.icon, 0);
  EXPECT_FALSE(after_receipt.read_time.isEmpty());
  EXPECT_EQ(NodeText(qovra::kFolderInbox), QStringLiteral("2/3"));
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());

  // No server from here on: any command would be reported.
  server_.Stop();
  EXPECT_EQ(open_row(uuid[kReceipt]), QStringLiteral("Матн"));
  EXPECT_TRUE(Shown().empty()) << "a second receipt: " << testing::PrintToString(Shown());
  EXPECT_EQ(seen_row(uuid[kReceipt]), after_receipt);

  // No read report asked: the server marked it read at download; opening
  // turns it read here, with no command.
  const RowSeen downloaded = seen_row(uuid[kNoReceipt]);
  EXPECT_TRUE(downloaded.bold);
  EXPECT_EQ(downloaded.icon, 1);
  EXPECT_FALSE(downloaded.read_time.isEmpty()) << "the server's read time";
  EXPECT_EQ(open_row(uuid[kNoReceipt]), QStringLiteral("Матн"));
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
  EXPECT_TRUE(FlagsOf(uuid[kNoReceipt]) & qovra::mfRead);
  EXPECT_FALSE(seen_row(uuid[kNoReceipt]).bold);
  EXPECT_EQ(seen_row(uuid[kNoReceipt]).icon, 0);
  EXPECT_EQ(NodeText(qovra::kFolderInbox), QStringLiteral("1/3"));

  // An administrative mail found as a plain copy (as an older folder holds
  // it): opening enciphers it under a fresh key, and the row's record
  // follows, so it opens again from the same row.
  std::string plain;
  EXPECT_EQ(open_row(uuid[kAdmin],
                     [&](TfrmViewMail& form) {
                       qovra::TStream& s = *form.MailStream;
                       (void)s.Seek(0, qovra::SeekOrigin::Beginning);
                       plain.resize(static_cast<size_t>(s.Size()));
                       s.Read(plain.data(), plain.size());
                     }),
            QStringLiteral("Матн"));
  EXPECT_EQ(NodeText(qovra::kFolderInbox), QStringLiteral("0/3"));
  const std::string eme = qovra::MessagesDir + uuid[kAdmin] + ".eme";
  const std::string emz = qovra::MessagesDir + uuid[kAdmin] + ".emz";
  fs::remove(eme);
  WriteFile(emz, plain);
  for (const char* step : {"converted", "reopened"}) {
    SCOPED_TRACE(step);
    EXPECT_EQ(open_row(uuid[kAdmin]), QStringLiteral("Матн"));
    EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
    EXPECT_FALSE(fs::exists(emz));
    EXPECT_TRUE(fs::exists(eme));
  }
  EXPECT_EQ(w.CurrentFolder().FolderId, qovra::kFolderInbox);
}

TEST_F(ViewerTest, AdministrativeMailReceivedOpenedConvertedReopened) {
  const std::string uuid = SendToBob({}, /*admin=*/true);
  const std::string eme = qovra::MessagesDir + uuid + ".eme";
  const std::string emz = qovra::MessagesDir + uuid + ".emz";
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  ASSERT_TRUE(fs::exists(eme));
  ASSERT_FALSE(fs::exists(emz));
  SelectInbox();
  Seen seen = Open();
  ASSERT_TRUE(seen.shown) << testing::PrintToString(Shown());
  EXPECT_EQ(seen.status, qovra::kSignValid);
  EXPECT_EQ(seen.body, QStringLiteral("Матн"));

  // A plain copy in place of the enciphered one (as an older folder holds):
  // opening converts it under a fresh key and removes the plain file.
  std::string plain;
  Open([&](TfrmViewMail& form) {
    qovra::TStream& s = *form.MailStream;
    (void)s.Seek(0, qovra::SeekOrigin::Beginning);
    plain.resize(static_cast<size_t>(s.Size()));
    s.Read(plain.data(), plain.size());
  });
  const std::string old_eme = ReadFile(eme);
  fs::remove(eme);
  WriteFile(emz, plain);
  SelectInbox();
  seen = Open();
  ASSERT_TRUE(seen.shown) << testing::PrintToString(Shown());
  EXPECT_EQ(seen.status, qovra::kSignValid);
  EXPECT_FALSE(fs::exists(emz));
  ASSERT_TRUE(fs::exists(eme));
  EXPECT_NE(ReadFile(eme), old_eme);  // a fresh key
  EXPECT_EQ(ReadFile(eme).find("Content-Type"), std::string::npos);

  // Reopened from the converted file.
  SelectInbox();
  seen = Open();
  EXPECT_TRUE(seen.shown);
  EXPECT_EQ(seen.body, QStringLiteral("Матн"));

  // An attachment opened from it is a 0600 file in the temporary folder,
  // wiped when the viewer closes.
  std::string extracted;
  {
    const std::string uuid2 = SendToBob({{"secret.txt", "for official use"}}, /*admin=*/true);
    SetFlags(uuid2, FlagsOf(uuid2) | qovra::mfRead);
    qovra::TRunThreadList opener("true");
    qovra::ui::SetMailWindowRunThreads(&opener);
    Window().SelectFolder(qovra::kFolderInbox);
    for (int row = 0; row < Window().model->rowCount(); ++row)
      if (Window().model->Row(row).ToMailMessage().Uuid.view() == uuid2) SelectRows({row});
    Open([&](TfrmViewMail& form) {
      ASSERT_EQ(form.lvFileAttachments->count(), 1);
      form.lvFileAttachments->item(0)->setSelected(true);
      form.acOpenExecute();
      ASSERT_EQ(form.WipeOnClose.size(), 1u);
      extracted = form.WipeOnClose[0];
      EXPECT_EQ(ReadFile(extracted), "for official use");
      EXPECT_EQ(fs::status(extracted).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write);
    });
    qovra::ui::SetMailWindowRunThreads(nullptr);
    EXPECT_FALSE(extracted.empty());
    EXPECT_FALSE(fs::exists(extracted));
  }

  // Without the own private key it cannot be read.
  qovra::Session.OwnPrivateKey.fill(0);
  SelectInbox();
  ui_->messages.clear();
  EXPECT_FALSE(Open().shown);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"msgCannotDecryptMail"}));
}

TEST_F(ViewerTest, CraftedAttachmentNameIsSavedAsABareName) {
  const std::string uuid = SendToBob({{"a.txt", "first"}});
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  // The stored container rewritten with a name that climbs out.
  const std::string emz = qovra::MessagesDir + uuid + ".emz";
  {
    qovra::TMemoryStream s;
    qovra::TMailWriter w(s, "", [] { return 46000.5; });
    w.AddMailHeaders(kAlice, u"s", kBob);
    w.AddField("body", "b");
    w.AddAttachmentHeader(u"../../x", 7);
    w.WriteBuffer("escaped", 7);
    ASSERT_TRUE(w.Finish());
    WriteFile(emz, s.Data());
  }
  const std::string folder = dir_.File("save/inner");
  fs::create_directories(folder);
  TfrmViewMail::SetFolderChooser([&](QWidget*) { return QString::fromStdString(folder); });
  SelectInbox();
  Open([&](TfrmViewMail& form) { form.acSaveAllExecute(); });
  EXPECT_EQ(ReadFile(folder + "/x"), "escaped");
  EXPECT_FALSE(fs::exists(dir_.File("x")));
  EXPECT_FALSE(fs::exists(dir_.File("save/x")));

  // Saving again asks before overwriting; No keeps the file.
  WriteFile(folder + "/x", "mine");
  ui_->QueueAnswer(qovra::kMsgResultNo);
  SelectInbox();
  Open([&](TfrmViewMail& form) { form.acSaveAllExecute(); });
  EXPECT_EQ(ReadFile(folder + "/x"), "mine");
  EXPECT_EQ(Shown(), (std::vector<std::string>{"overwrite " + folder + "/x?"}));
}

// A save that fails (a full disk, a folder that is gone) says so with the
// file's name and leaves nothing in the folder: no partial file, no
// temporary one, and a file the user agreed to replace stays as it was.
// "Save all" stops at its first failure.
TEST_F(ViewerTest, AFailedSaveSaysSoAndLeavesNoPartialFile) {
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13 + 1);
  const std::string uuid = SendToBob({{"big.bin", big}, {"small.txt", "small"}});
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  qovra::SetMsg("msgCannotSaveAttachment", "cannot save %s");
  const std::string folder = dir_.File("saves");
  enum class How { Selected, All };
  const struct {
    const char* what;
    How how;
    const char* target;   // the chosen file (Selected) or folder (All)
    const char* present;  // a file already there, replaced after Yes
    bool full_disk;
    std::vector<std::string> shown;
    std::map<std::string, std::string> left;  // the folder afterwards
  } rows[] = {
      {"disk full",
       How::Selected,
       "saves/big.bin",
       nullptr,
       true,
       {"cannot save " + folder + "/big.bin"},
       {}},
      {"disk full, replacing",
       How::Selected,
       "saves/big.bin",
       "mine",
       true,
       {"overwrite " + folder + "/big.bin?", "cannot save " + folder + "/big.bin"},
       {{"big.bin", "mine"}}},
      {"folder gone",
       How::Selected,
       "saves/gone/big.bin",
       nullptr,
       false,
       {"cannot save " + folder + "/gone/big.bin"},
       {}},
      {"save all, disk full",
       How::All,
       "saves",
       nullptr,
       true,
       {"cannot save " + folder + "/big.bin"},
       {}},
      {"saved", How::Selected, "saves/big.bin", nullptr, false, {}, {{"big.bin", big}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (r.present) WriteFile(folder + "/big.bin", r.present);
    if (r.present) ui_->QueueAnswer(qovra::kMsgResultYes);
    const QString target = QString::fromStdString(dir_.File(r.target));
    TfrmViewMail::SetSaveChooser([&](QWidget*, const QString&) { return target; });
    TfrmViewMail::SetFolderChooser([&](QWidget*) { return target; });
    ui_->messages.clear();
    SelectInbox();
    OpenViewer([&](TfrmViewMail& form) {
      ASSERT_EQ(form.lvFileAttachments->count(), 2);
      QListWidgetItem* item = form.lvFileAttachments->item(0);
      ASSERT_TRUE(item->text().startsWith(QStringLiteral("big.bin")));
      const QRect at = form.lvFileAttachments->visualItemRect(item);
      QTest::mouseClick(form.lvFileAttachments->viewport(), Qt::LeftButton, {}, at.center());
      std::optional<qovra::testing::ScopedFileSizeLimit> full;
      if (r.full_disk) full.emplace(65536);
      (r.how == How::All ? form.acSaveAll : form.acSaveSelected)->trigger();
    });
    EXPECT_EQ(Shown(), r.shown);
    std::map<std::string, std::string> left;
    for (const auto& e : fs::directory_iterator(folder))
      left[e.path().filename().string()] = ReadFile(e.path().string());
    EXPECT_TRUE(left == r.left) << testing::PrintToString(left).substr(0, 300);
  }
}

// Opening an attachment hands it to the desktop's opener; a machine
// without one, or an opener that finds no program for the file (xdg-open
// ends with 3 or 4 then), is told so rather than left with nothing
// happening; the message comes on the interface thread, over the viewer.
TEST_F(ViewerTest, OpeningAnAttachmentWithoutAnOpenerSaysSo) {
  const std::string uuid = SendToBob({{"a.txt", "first"}});
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  qovra::SetMsg("msgCannotOpenAttachment", "msgCannotOpenAttachment");
  qovra::SetMsg("msgAttachmentNotOpened", "not opened: %s");
  const auto opener = [&](const std::string& name, int code) {
    const std::string path = dir_.File(name);
    WriteFile(path, "#!/bin/sh\nexit " + std::to_string(code) + "\n");
    fs::permissions(path, fs::perms::owner_all);
    return path;
  };
  const struct {
    const char* what;
    std::string opener;
    std::vector<std::string> shown;
  } rows[] = {
      {"opened", opener("opens.sh", 0), {}},
      {"no opener", dir_.File("no-such-opener"), {"msgCannotOpenAttachment"}},
      {"no program fits", opener("none-fits.sh", 3), {"not opened: a.txt"}},
      {"the action failed", opener("fails.sh", 4), {"not opened: a.txt"}},
  };
  bool off_thread = false;
  ui_->on_message = [&](const std::string&) {
    off_thread = off_thread || QThread::currentThread() != qApp->thread();
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    qovra::TRunThreadList programs(r.opener);
    qovra::ui::SetMailWindowRunThreads(&programs);
    ui_->messages.clear();
    SelectInbox();
    std::vector<qovra::TWindowHandle> owners;
    qovra::TWindowHandle viewer = nullptr;
    OpenViewer([&](TfrmViewMail& form) {
      viewer = qovra::ui::HandleOf(&form);
      ASSERT_EQ(form.lvFileAttachments->count(), 1);
      const QRect at = form.lvFileAttachments->visualItemRect(form.lvFileAttachments->item(0));
      QTest::mouseClick(form.lvFileAttachments->viewport(), Qt::LeftButton, {}, at.center());
      QTest::mouseDClick(form.lvFileAttachments->viewport(), Qt::LeftButton, {}, at.center());
      // The opener's end arrives while the viewer is open.
      (void)QTest::qWaitFor([&] { return Shown().size() >= r.shown.size(); }, 5000);
      programs.EndAll();
      QCoreApplication::processEvents();
      for (const auto& m : ui_->messages) owners.push_back(m.owner);
    });
    qovra::ui::SetMailWindowRunThreads(nullptr);
    EXPECT_EQ(Shown(), r.shown);
    for (qovra::TWindowHandle owner : owners) EXPECT_EQ(owner, viewer);
  }
  ui_->on_message = {};
  EXPECT_FALSE(off_thread);
}

TEST_F(ViewerTest, MissingOrCorruptMailFileOpensNothing) {
  const std::string uuid = SendToBob();
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  const std::string emz = qovra::MessagesDir + uuid + ".emz";
  WriteFile(emz, "not a container");
  SelectInbox();
  EXPECT_FALSE(Open().shown);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"msgMailFileCorrupted"}));
  fs::remove(emz);
  ui_->messages.clear();
  SelectInbox();
  EXPECT_FALSE(Open().shown);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"msgMailContentNotFound"}));
}

TEST_F(ViewerTest, OutboxMailReopensInTheComposeWindowOnAWorkingCopy) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  const std::string att = MakeFile("keep.txt", 0, "kept");
  std::string uuid;
  // An empty subject answered No: the mail stays in the outbox.
  Compose([&](TfrmNewMail& form) {
    uuid = std::string(form.Mail->Uuid.view());
    Type(form, QString::fromLatin1(kBob), QString(), QStringLiteral("Матн"));
    form.AttachFiles({QString::fromStdString(att)});
    ui_->QueueAnswer(qovra::kMsgResultNo);
    Window().alMain->acMailSend->trigger();
  });
  const std::string emz = qovra::MessagesDir + uuid + ".emz";
  ASSERT_TRUE(fs::exists(emz)) << testing::PrintToString(Shown());
  ASSERT_EQ(MailRow(uuid)[0], qovra::kFolderOutbox);
  const std::string before = ReadFile(emz);
  ui_->messages.clear();
  Window().SelectFolder(qovra::kFolderOutbox);
  SelectRows({0});
  bool copy_seen = false;
  QString to, subject, body;
  int rows = 0;
  QObject guard;
  QTimer::singleShot(0, &guard, [&] {
    TfrmNewMail* form = Window().NewMailForm();
    if (!form) return;
    copy_seen = fs::exists(qovra::MessagesDir + "~" + uuid + ".emz");
    to = form->frameNewMailTop1->eTo->text();
    subject = form->frameNewMailTop1->eSubject->text();
    body = form->eMailBody->toPlainText();
    rows = form->AttachmentCount();
    form->done(2);
  });
  Window().alMain->acMailOpen->trigger();
  EXPECT_TRUE(copy_seen);
  EXPECT_EQ(to.toStdString(), kBob);
  EXPECT_TRUE(subject.isEmpty());
  EXPECT_EQ(body, QStringLiteral("Матн"));
  EXPECT_EQ(rows, 1);
  // The working copy is gone, the mail file unchanged.
  EXPECT_FALSE(fs::exists(qovra::MessagesDir + "~" + uuid + ".emz"));
  EXPECT_EQ(ReadFile(emz), before);
}

// The progress reports that reach the main window's status-bar bar, with
// the status text shown at the time.
class StatusBarReports : public qovra::IProgressUi {
 public:
  StatusBarReports(qovra::IProgressUi& inner, TfrmMain& window) : inner_(inner), window_(window) {
    qovra::SetProgressUi(this);
  }
  ~StatusBarReports() override { qovra::SetProgressUi(&inner_); }
  void ShowProgress(qovra::TWindowHandle owner, bool show_bar, const std::string& title,
                    const std::string& status) override {
    inner_.ShowProgress(owner, show_bar, title, status);
  }
  void HideProgress(qovra::TWindowHandle owner, bool keep) override {
    inner_.HideProgress(owner, keep);
  }
  void ReportProgress(void* bar, int64_t total, int64_t done) override {
    if (bar == static_cast<QWidget*>(window_.pnlStatusBar->pbStatus) && done == total)
      finished.push_back(window_.pnlStatusBar->lblStatus->text().toStdString() + " " +
                         std::to_string(total));
    inner_.ReportProgress(bar, total, done);
  }
  // "status text, total" of every bar that reached its end.
  std::vector<std::string> finished;

 private:
  qovra::IProgressUi& inner_;
  TfrmMain& window_;
};

// A draft reopened from the list on screen: its working copy is made with
// the status text and the bar, and a copy that fails (a full disk) says so
// and opens nothing; an attachment opened from the compose window shows
// its status text and bar like any other.
TEST_F(ViewerTest, ReopenedDraftCopiesAndOpensAttachmentsWithProgress) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  for (const char* key :
       {"msgOpeningMail", "msgOpeningAttachment", "msgParsingMail", "msgCannotCopyMailForEditing"})
    qovra::SetMsg(key, key);
  const std::string attachment = std::string(150000, 'q');
  const std::string att = MakeFile("keep.bin", 0, attachment);
  std::string uuid;
  ASSERT_EQ(Compose([&](TfrmNewMail& form) {
              uuid = std::string(form.Mail->Uuid.view());
              Type(form, QString::fromLatin1(kBob), QStringLiteral("Тема"), QStringLiteral("Матн"));
              form.AttachFiles({QString::fromStdString(att)});
              Window().alMain->acMailSaveToDrafts->trigger();
            }),
            4)
      << testing::PrintToString(Shown());
  const std::string emz = qovra::MessagesDir + uuid + ".emz";
  const std::string copy = qovra::MessagesDir + "~" + uuid + ".emz";
  const std::string before = ReadFile(emz);
  ASSERT_GT(before.size(), attachment.size());
  // The Drafts folder the save left on screen.
  ASSERT_EQ(Window().CurrentFolder().FolderId, qovra::kFolderDrafts);
  ASSERT_EQ(Window().model->Count(), 1);
  const QRect cell =
      Window().lvMain->visualRect(Window().model->index(0, qovra::ui::TMailListModel::kColSubject));
  qovra::TRunThreadList opener("true");
  qovra::ui::SetMailWindowRunThreads(&opener);
  const struct {
    const char* what;
    bool full_disk;
    bool composed;
    std::vector<std::string> shown;
    std::vector<std::string> finished;
  } rows[] = {
      {"disk full", true, false, {"msgCannotCopyMailForEditing"}, {}},
      {"copied",
       false,
       true,
       {},
       {"msgOpeningMail " + std::to_string(before.size()),
        "msgOpeningAttachment " + std::to_string(attachment.size())}},
  };
  // In a compose window just opened: a click and a double click on its one
  // attachment, as a user opens it; then the window closes.
  const auto OpenOnlyAttachmentAndClose = [](TfrmNewMail* form) {
    ASSERT_EQ(form->AttachmentCount(), 1);
    QListWidget* list = form->lvFileAttachments;
    const QRect at = list->visualItemRect(list->item(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at.center());
    form->done(2);
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    ui_->messages.clear();
    StatusBarReports reports(*hook_, Window());
    bool composed = false;
    std::vector<std::string> finished_in_compose;
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      TfrmNewMail* form = Window().NewMailForm();
      if (!form) return;
      composed = true;
      EXPECT_TRUE(fs::exists(copy));
      OpenOnlyAttachmentAndClose(form);
    });
    {
      std::optional<qovra::testing::ScopedFileSizeLimit> full;
      if (r.full_disk) full.emplace(65536);
      QTest::mouseClick(Window().lvMain->viewport(), Qt::LeftButton, {}, cell.center());
      QTest::mouseDClick(Window().lvMain->viewport(), Qt::LeftButton, {}, cell.center());
    }
    EXPECT_EQ(composed, r.composed);
    EXPECT_EQ(Shown(), r.shown);
    // Only what the working copy and the attachment reported; parsing
    // reports through the same bar.
    std::vector<std::string> finished;
    for (const std::string& f : reports.finished)
      if (f.rfind("msgParsingMail", 0) != 0) finished.push_back(f);
    EXPECT_EQ(finished, r.finished);
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(ReadFile(emz) == before);
  }
  // A forward of the same row opens its attachment the same way.
  {
    SCOPED_TRACE("forward");
    ui_->messages.clear();
    QTest::mouseClick(Window().lvMain->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(Window().alMain->acMailForward->isEnabled());
    StatusBarReports reports(*hook_, Window());
    bool composed = false;
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      TfrmNewMail* form = Window().NewMailForm();
      if (!form) return;
      composed = true;
      OpenOnlyAttachmentAndClose(form);
    });
    Window().alMain->acMailForward->trigger();
    EXPECT_TRUE(composed);
    EXPECT_EQ(Shown(), std::vector<std::string>{});
    std::vector<std::string> opened;
    for (const std::string& f : reports.finished)
      if (f.rfind("msgOpeningAttachment", 0) == 0) opened.push_back(f);
    EXPECT_EQ(opened, std::vector<std::string>{"msgOpeningAttachment " +
                                               std::to_string(attachment.size())});
  }
  opener.EndAll();
  qovra::ui::SetMailWindowRunThreads(nullptr);
}

// Reply and forward through the open viewer's tool bar: the compose window
// takes the viewer's mail; the viewer closes after a reply whatever its
// result, after a forward only when it was sent or saved; the folder nodes
// count what was stored.
TEST_F(ViewerTest, ReplyAndForwardFromTheViewer) {
  std::string binary(70000, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7 + 3);
  const std::string uuid = SendToBob({{"a.txt", "first"}, {"b.bin", binary}});
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  for (const char* key : {"msgSubject", "msgDate", "msgAttachments"}) qovra::SetMsg(key, key);
  const std::map<std::string, std::string> attached = {{"a.txt", "first"}, {"b.bin", binary}};

  enum class Command { Reply, Forward };
  enum class Then { Cancel, Save, Send };
  const struct {
    const char* name;
    Command command;
    Then then;
    bool viewer_closes;
    int32_t folder;  // where the new mail is stored; -1: nowhere
  } cases[] = {
      {"reply cancelled", Command::Reply, Then::Cancel, true, -1},
      {"reply sent", Command::Reply, Then::Send, true, qovra::kFolderSent},
      {"forward cancelled", Command::Forward, Then::Cancel, false, -1},
      {"forward saved", Command::Forward, Then::Save, true, qovra::kFolderDrafts},
      {"forward sent", Command::Forward, Then::Send, true, qovra::kFolderSent},
  };
  std::string forwarded_uuid;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SelectInbox();
    Window().RefreshFolderCounters();
    const std::set<std::string> files_before = MessageFiles();
    const int count_before = c.folder < 0 ? 0 : NodeText(c.folder).toInt();
    ui_->messages.clear();
    bool composed = false;
    bool viewer_shown_after = false;
    QString to, subject, body;
    int rows = -1;
    std::string new_uuid;
    const int result = OpenViewer([&](TfrmViewMail& viewer) {
      QTimer::singleShot(0, &viewer, [&] {
        TfrmNewMail* form = Window().NewMailForm();
        if (!form) return;
        composed = true;
        EXPECT_EQ(Window().ActiveFormKind(), TActiveFormKind::TextCompose);
        new_uuid = std::string(form->Mail->Uuid.view());
        to = form->frameNewMailTop1->eTo->text();
        subject = form->frameNewMailTop1->eSubject->text();
        body = form->eMailBody->toPlainText();
        rows = form->AttachmentCount();
        if (c.then == Then::Cancel) {
          form->done(2);
          return;
        }
        if (c.command == Command::Forward)
          form->frameNewMailTop1->eTo->setText(QString::fromLatin1(qovra_test::kCarol));
        (c.then == Then::Save ? Window().alMain->acMailSaveToDrafts : Window().alMain->acMailSend)
            ->trigger();
        EXPECT_FALSE(form->isVisible()) << testing::PrintToString(Shown());
      });
      ClickInViewer(viewer, c.command == Command::Reply ? Window().alMain->acMailReply
                                                        : Window().alMain->acMailForward);
      viewer_shown_after = viewer.isVisible();
      if (viewer_shown_after) {
        // The forward read the viewer's stream: its attachments still save whole.
        const std::string saved = dir_.File("after-forward.bin");
        TfrmViewMail::SetSaveChooser([&](QWidget*, const QString&) {
          return std::optional<QString>(QString::fromStdString(saved));
        });
        for (int i = 0; i < viewer.lvFileAttachments->count(); ++i)
          viewer.lvFileAttachments->item(i)->setSelected(
              viewer.lvFileAttachments->item(i)->text().startsWith(QStringLiteral("b.bin")));
        viewer.acSaveSelectedExecute();
        EXPECT_TRUE(ReadFile(saved) == binary);
        fs::remove(saved);
      }
      EXPECT_EQ(Window().ActiveFormKind(), TActiveFormKind::TextViewer);
    });
    ASSERT_TRUE(composed);
    EXPECT_EQ(viewer_shown_after, !c.viewer_closes);
    EXPECT_EQ(result, c.viewer_closes ? 1 : 2);
    EXPECT_EQ(Window().ActiveFormKind(), TActiveFormKind::None);
    if (c.command == Command::Reply) {
      EXPECT_EQ(to.toStdString(), qovra_test::kAlice);
      EXPECT_EQ(subject, QStringLiteral("Re: Салом"));
      EXPECT_TRUE(body.startsWith(QStringLiteral("\n\n\n\n> -----"))) << body.toStdString();
      EXPECT_TRUE(body.contains(QStringLiteral("\n> Матн\n"))) << body.toStdString();
      EXPECT_TRUE(body.contains(QStringLiteral("\n> msgAttachments: a.txt, b.bin\n")))
          << body.toStdString();
      EXPECT_EQ(rows, 0);
    } else {
      EXPECT_TRUE(to.isEmpty());
      EXPECT_EQ(subject, QStringLiteral("Fwd: Салом"));
      EXPECT_EQ(body, QStringLiteral("Матн"));
      EXPECT_EQ(rows, 2);
    }
    if (c.folder < 0) {
      EXPECT_EQ(MessageFiles(), files_before) << "nothing new is left behind";
      continue;
    }
    ASSERT_FALSE(MailRow(new_uuid).empty());
    EXPECT_EQ(MailRow(new_uuid)[0], c.folder);
    EXPECT_EQ(Window().CurrentFolder().FolderId, c.folder);
    EXPECT_EQ(NodeText(c.folder).toInt(), count_before + 1);
    EXPECT_EQ(NodeText(qovra::kFolderInbox), QStringLiteral("0/1"));
    if (c.command == Command::Forward && c.then == Then::Save) {
      EXPECT_EQ(AttachmentsOf(qovra::MessagesDir + new_uuid + ".emz"), attached);
    }
    if (c.command == Command::Forward && c.then == Then::Send) forwarded_uuid = new_uuid;
  }

  // What carol receives carries both attachments byte for byte.
  ASSERT_FALSE(forwarded_uuid.empty());
  ASSERT_NO_FATAL_FAILURE(BecomeClient(qovra_test::kCarol));
  EXPECT_TRUE(Window().acMailReceiveExecute());
  EXPECT_EQ(Window().LastReceive().Stored, 1) << testing::PrintToString(Shown());
  EXPECT_EQ(AttachmentsOf(qovra::MessagesDir + forwarded_uuid + ".emz"), attached);
}

// Save as through the viewer's tool bar: the viewer's mail as text, the
// chooser over the viewer, which stays open.
TEST_F(ViewerTest, SaveAsFromTheViewer) {
  const std::string uuid = SendToBob({{"a.txt", "first"}});
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  for (const char* key : {"msgSubject", "msgDate", "msgAttachments"}) qovra::SetMsg(key, key);
  const std::string target = dir_.File("saved.txt");
  QWidget* owner = nullptr;
  QString proposed;
  TfrmMain::SetSaveAsChooser([&](QWidget* parent, const QString& name) {
    owner = parent;
    proposed = name;
    return std::optional<QString>(QString::fromStdString(target));
  });
  SelectInbox();
  QWidget* viewer_seen = nullptr;
  bool open_after = false;
  const int result = OpenViewer([&](TfrmViewMail& viewer) {
    viewer_seen = &viewer;
    ClickInViewer(viewer, Window().alMain->acMailSaveAs);
    open_after = viewer.isVisible();
  });
  TfrmMain::SetSaveAsChooser({});
  EXPECT_TRUE(open_after);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(owner, viewer_seen);
  EXPECT_EQ(proposed, QStringLiteral("Салом.txt"));
  const std::string text = ReadFile(target);
  ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(text.find("msgSubject: Салом\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("msgAttachments: a.txt\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n\r\nМатн\r\n\r\n"), std::string::npos) << text;
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
}

// The main window's shortcuts reach their commands from the viewer's
// read-only fields, whose own bindings would otherwise take the key (on X11
// Ctrl+E is the edits' end of line). Ctrl+Right is claimed by the edits
// under every keyboard scheme, so it stands in for such a key here.
TEST_F(ViewerTest, ShortcutsWorkFromTheViewersReadOnlyFields) {
  (void)SendToBob();
  SelectInbox();
  QAction* forward = Window().alMain->acMailForward;
  const QKeySequence shortcut = forward->shortcut();
  forward->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Right));
  QString subject;
  bool viewer_seen = false;
  OpenViewer([&](TfrmViewMail& viewer) {
    viewer_seen = true;
    for (QWidget* field :
         std::initializer_list<QWidget*>{viewer.frameViewMailTop1->eFrom, viewer.eMailBody}) {
      SCOPED_TRACE(field->objectName().toStdString());
      QApplication::setActiveWindow(&viewer);
      field->setFocus();
      subject.clear();
      QTimer::singleShot(0, &viewer, [&] {
        if (TfrmNewMail* compose = Window().NewMailForm()) {
          subject = compose->frameNewMailTop1->eSubject->text();
          compose->done(2);
        }
      });
      QTest::keyClick(field, Qt::Key_Right, Qt::ControlModifier);
      EXPECT_EQ(subject, QStringLiteral("Fwd: Салом"));
    }
  });
  forward->setShortcut(shortcut);
  EXPECT_TRUE(viewer_seen);
}

// A draft reopened and sent for administrative use keeps only the
// enciphered copy: its plain working copy is wiped, not put back as the
// mail file; checking the box alone is enough to send it so.
TEST_F(ViewerTest, ReopenedDraftSentForAdministrativeUseLeavesNoPlainCopy) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(qovra_test::kAlice));
  for (const bool edited : {true, false}) {
    SCOPED_TRACE(edited ? "subject typed" : "only the box checked");
    std::string uuid;
    Compose([&](TfrmNewMail& form) {
      uuid = std::string(form.Mail->Uuid.view());
      Type(form, QString::fromLatin1(kBob), QStringLiteral("Тема"), QStringLiteral("Матн"));
      Window().alMain->acMailSaveToDrafts->trigger();
    });
    const std::string emz = qovra::MessagesDir + uuid + ".emz";
    ASSERT_TRUE(fs::exists(emz)) << testing::PrintToString(Shown());
    Window().SelectFolder(qovra::kFolderDrafts);
    for (int r = 0; r < Window().model->Count(); ++r)
      if (Window().model->Row(r).Uuid == uuid) SelectRows({r});
    ui_->messages.clear();
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      TfrmNewMail* form = Window().NewMailForm();
      if (!form) return;
      if (edited) form->frameNewMailTop1->eSubject->setText(QStringLiteral("Хизмат учун"));
      form->frameNewMailTop1->chkFAU->setChecked(true);
      Window().alMain->acMailSend->trigger();
      if (form->isVisible()) form->done(2);
    });
    EXPECT_EQ(Window().acMailOpenExecute(), 1) << testing::PrintToString(Shown());
    ASSERT_FALSE(MailRow(uuid).empty());
    EXPECT_EQ(MailRow(uuid)[0], qovra::kFolderSent);
    EXPECT_TRUE(FlagsOf(uuid) & qovra::mfAdminOnly);
    EXPECT_TRUE(fs::exists(qovra::MessagesDir + uuid + ".eme"));
    EXPECT_FALSE(fs::exists(emz)) << "a plain container is left";
    EXPECT_FALSE(fs::exists(qovra::MessagesDir + "~" + uuid + ".emz"));
  }
}

TEST_F(ViewerTest, PrintFromTheViewerAndStatusTextsInItsFooter) {
  qovra::SetMsg("msgReady", "msgReady");
  const std::string uuid = SendToBob();
  SetFlags(uuid, FlagsOf(uuid) | qovra::mfRead);
  const std::string pdf = dir_.File("viewer.pdf");
  struct {
    int jobs = 0;
    QWidget* owner = nullptr;
    QString title;
  } job;
  qovra::ui::SetPrintDialogHookForTesting([&](QPrinter& printer, QWidget* owner) {
    ++job.jobs;
    job.owner = owner;
    job.title = printer.docName();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    return true;
  });
  QLabel* main_label = Window().pnlStatusBar->lblStatus;
  const QString main_before = main_label->text();
  QWidget* viewer = nullptr;
  QString footer_busy, footer_ready;
  SelectInbox();
  const Seen seen = Open([&](TfrmViewMail& form) {
    viewer = &form;
    // Printed from the viewer's own reading: the list's file is not needed.
    fs::remove(qovra::MessagesDir + uuid + ".emz");
    Window().alMain->acMailPrint->trigger();
    QLabel* footer = form.frameViewMailFooter1->lblStatus;
    Window().StatusBusy(QStringLiteral("busy"));
    footer_busy = footer->text();
    EXPECT_EQ(main_label->text().toStdString(), main_before.toStdString());
    Window().StatusReady();
    footer_ready = footer->text();
  });
  qovra::ui::SetPrintDialogHookForTesting({});
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(job.jobs, 1);
  EXPECT_EQ(job.owner, viewer);
  EXPECT_EQ(job.title, QStringLiteral("Салом"));
  EXPECT_TRUE(fs::exists(pdf));
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
  EXPECT_EQ(footer_busy.toStdString(), "busy");
  EXPECT_EQ(footer_ready.toStdString(), "msgReady");
  // Closed: the main status bar again.
  Window().StatusBusy(QStringLiteral("after"));
  EXPECT_EQ(main_label->text().toStdString(), "after");
  Window().StatusReady();
  EXPECT_EQ(main_label->text().toStdString(), "msgReady");
}

// The sender's report after bob read the mail and carol has not fetched it.
TEST_F(ViewerTest, DeliveryReportAfterOneRecipientRead) {
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  std::string uuid;
  ASSERT_EQ(Compose([&](TfrmNewMail& form) {
              uuid = std::string(form.Mail->Uuid.view());
              Type(form, QString::fromStdString(std::string(kCarol) + "; " + kBob),
                   QStringLiteral("Салом"), QStringLiteral("Матн"));
              Window().alMain->acMailSend->trigger();
            }),
            1)
      << testing::PrintToString(Shown());
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kBob));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  SelectInbox();
  ASSERT_TRUE(Open().shown);
  ASSERT_NO_FATAL_FAILURE(BecomeClient(kAlice));
  ASSERT_TRUE(Window().acMailReceiveExecute());
  ui_->messages.clear();

  Window().SelectFolder(qovra::kFolderSent);
  for (int row = 0; row < Window().model->rowCount(); ++row)
    if (Window().model->Row(row).Uuid == uuid) SelectRows({row});
  std::vector<QStringList> rows;
  QObject guard;
  QTimer::singleShot(0, &guard, [&] {
    auto* dialog = qobject_cast<TfrmMailReport*>(QApplication::activeModalWidget());
    if (!dialog) return;
    for (int i = 0; i < dialog->lvReport->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = dialog->lvReport->topLevelItem(i);
      rows.push_back({item->text(0), item->text(1), item->text(2)});
    }
    dialog->btnOK->click();
  });
  Window().alMain->acMailReport->trigger();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].toStdString(), kBob);
  EXPECT_NE(rows[0][1], QStringLiteral("-"));
  EXPECT_NE(rows[0][2], QStringLiteral("-"));
  EXPECT_LE(rows[0][1], rows[0][2]) << "received before read";
  EXPECT_EQ(rows[1],
            (QStringList{QString::fromLatin1(kCarol), QStringLiteral("-"), QStringLiteral("-")}));
  EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
}

}  // namespace
