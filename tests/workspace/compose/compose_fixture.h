// Shared set-up of the compose window tests: the main window fixture with
// an exchange server serving alice@127.0.0.1, bob@localhost and
// carol@127.0.0.1, an address book per user, message texts named after
// their keys, and a way to run test code inside the modal compose window.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "commands/login_command.h"
#include "mail/startup.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/addressbook/contacts_list.h"
#include "qovra/workspace/compose_rules.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"
#include "server/exchange_pki.h"
#include "support/client_settings.h"
#include "support/exchange_server.h"
#include "test_main_window_fixture.h"

namespace qovra_test {

inline constexpr char kComposePassword[] = "secret";
inline constexpr char kAlice[] = "alice@127.0.0.1";
inline constexpr char kBob[] = "bob@localhost";
inline constexpr char kCarol[] = "carol@127.0.0.1";

// Forwards the progress seam to the fake and runs a hook on every
// ShowProgress (tests inject a server fault just before the send).
class HookedProgress : public qovra::IProgressUi {
 public:
  explicit HookedProgress(qovra::IProgressUi& inner) : inner_(inner) {}
  void ShowProgress(qovra::TWindowHandle owner, bool show_bar, const std::string& title,
                    const std::string& status) override {
    ++shows;
    if (on_show) on_show(shows, status);
    inner_.ShowProgress(owner, show_bar, title, status);
  }
  void HideProgress(qovra::TWindowHandle owner, bool keep) override {
    inner_.HideProgress(owner, keep);
  }
  void ReportProgress(void* bar, int64_t total, int64_t done) override {
    inner_.ReportProgress(bar, total, done);
  }
  int shows = 0;
  std::function<void(int, const std::string&)> on_show;

 private:
  qovra::IProgressUi& inner_;
};

class ComposeFixture : public MainWindowFixture {
 protected:
  static void SetUpTestSuite() {
    pki_ = new ExchangePki;
    for (const char* user : {kAlice, kBob, kCarol}) pki_->AddUserWithKeyFile(user);
  }
  static void TearDownTestSuite() {
    delete pki_;
    pki_ = nullptr;
  }

  void SetUp() override {
    MainWindowFixture::SetUp();
    qovra::HandshakeDone = false;
    for (const char* key :
         {"msgEMailAddressesNotSpecified", "msgEMailAddressesIsInvalid", "msgConfirmEmptySubject",
          "msgMailContentTooBigSwitchToFastMode", "msgMailSended", "msgSaveToDraftsPrompt",
          "msgMailTooBig", "msgCannotWriteMail", "msgSendingMailMessage", "msgPreparing",
          "msgSaving", "msgInvalidEmail4", "msgInvalidEmail5", "btnCheckAll"})
      qovra::SetMsg(key, key);
    qovra::SetMsg("msgInvalidEmailsSpecified", "Refused:");
    for (int code = 0; code < 40; ++code)
      qovra::SetMsg("msgInvalidEmail" + std::to_string(code), "code " + std::to_string(code));
    qovra::SetMsg("msgLoginMailSended", "sent %s@%s,\r");
    qovra::SetMsg("msgLoginMailSendingSkipped", "skipped %s@%s,\r");
    qovra::SetMsg("msgLoginMailSendError", "failed %s@%s,\r");
    qovra::SetMsg("msgDomainMailSendError", "domain %s failed,\r");
    qovra::SetMsg("msgMailSendResult", "Result:\r");
    ExchangeServerOptions o = pki_->Options();
    for (const char* user : {kAlice, kBob, kCarol})
      o.seed_accounts.push_back(std::string(user) + ":" + kComposePassword);
    o.test_commands = true;  // faults set while running
    ASSERT_TRUE(server_.Start(o)) << server_.error();
    hook_ = std::make_unique<HookedProgress>(*ui_);
    qovra::SetProgressUi(hook_.get());
    AcceptPickers();
  }
  void TearDown() override {
    picker_timer_.reset();
    TfrmNewMail::SetAttachChooser({});
    qovra::SetProgressUi(&*ui_);
    qovra::AddrBookDb.Close();
    MainWindowFixture::TearDown();
    qovra::HandshakeDone = false;
  }

  static std::string Login(const std::string& address) {
    return address.substr(0, address.find('@'));
  }
  static std::string Domain(const std::string& address) {
    return address.substr(address.find('@') + 1);
  }

  // The session of address with its own folder, mail database and address
  // book; its main window is made anew.
  void BecomeClient(const std::string& address) {
    namespace fs = std::filesystem;
    window_.reset();
    qovra::AddrBookDb.Close();
    qovra::Options.Conn.useiewc = 2;
    UseServerAddress(Domain(address), server_.Port());
    UseKeyFilesOf(*pki_, address);
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    ASSERT_NO_FATAL_FAILURE(MakeUser(address));
    const std::string book = qovra::UserDir + "eca.edb";
    if (!fs::exists(book)) fs::copy_file(std::string(QOVRA_BIN_DIR) + "/eca.edb", book);
    ASSERT_TRUE(qovra::AddrBookDb.Open(book));
    ASSERT_TRUE(qovra::UpgradeContactsSchema(qovra::AddrBookDb));
    int owner = 0;
    ASSERT_EQ(qovra::LoginSession(Login(address), kComposePassword, {&owner, "TfrmLogin", nullptr}),
              1)
        << testing::PrintToString(Shown());
    ui_->messages.clear();
    Window().show();
  }

  // Opens the compose window with acMailNew and runs body inside its modal
  // run; a window still open afterwards is closed without a result.
  // Returns the window's result.
  int Compose(const std::function<void(TfrmNewMail&)>& body) {
    int result = -1;
    QTimer::singleShot(0, [&] {
      TfrmNewMail* form = Window().NewMailForm();
      if (!form) return;
      body(*form);
      if (Window().NewMailForm() == form && form->isVisible()) {
        closing_result_ = form->result();
        form->done(2);
      }
    });
    result = Window().acMailNewExecute();
    return result;
  }

  // Accepts the unknown-recipients picker whenever it shows, with the
  // checked rows it offered recorded.
  void AcceptPickers() {
    picker_timer_ = std::make_unique<QTimer>();
    picker_timer_->setInterval(10);
    QObject::connect(picker_timer_.get(), &QTimer::timeout, [this] {
      auto* picker = qobject_cast<TfrmContactsList*>(QApplication::activeModalWidget());
      if (!picker) return;
      for (const qovra::TContact& c : picker->CheckedContacts()) offered_.push_back(c.Email);
      picker->btnOK->click();
    });
    picker_timer_->start();
  }

  // Presses Enter in field, as a user ending a line does, and returns the
  // class names of the windows that opened over the field's window, joined
  // by blanks (each is closed at once).
  std::string WindowsOpenedByEnter(QWidget* field) {
    picker_timer_->stop();
    QStringList opened;
    QWidget* own = field->window();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal == own) return;
      opened << QString::fromLatin1(modal->metaObject()->className());
      modal->close();
    });
    watch.start(0);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::processEvents();
    watch.stop();
    picker_timer_->start();
    return opened.join(QLatin1Char(' ')).toStdString();
  }

  static void Type(TfrmNewMail& form, const QString& to, const QString& subject,
                   const QString& body) {
    form.frameNewMailTop1->eTo->setText(to);
    form.frameNewMailTop1->eSubject->setText(subject);
    form.eMailBody->setPlainText(body);
  }

  // A file of size bytes (sparse zeros unless content is given).
  std::string MakeFile(const std::string& name, int64_t size, const std::string& content = {}) {
    const std::string path = dir_.File(name);
    {
      std::ofstream out(path, std::ios::binary);
      out << content;
    }
    if (content.empty()) std::filesystem::resize_file(path, static_cast<uintmax_t>(size));
    return path;
  }

  // The mail row of uuid: folder, flag, send_mode; empty when absent.
  std::vector<int64_t> MailRow(const std::string& uuid) {
    qovra::SqliteStatement st =
        qovra::MailDb.Prepare("SELECT folder_id,flag,send_mode FROM ecm_mails WHERE uuid=?");
    st.Bind(1, uuid);
    if (st.Step() != qovra::SqliteStatement::StepResult::Row) return {};
    return {st.ColumnInt(0), st.ColumnInt(1), st.ColumnInt(2)};
  }
  // address -> send_flag of the mail's recipient rows.
  std::map<std::string, int64_t> SendFlags(const std::string& uuid) {
    std::map<std::string, int64_t> flags;
    qovra::SqliteStatement st = qovra::MailDb.Prepare(
        "SELECT r.to_address,r.send_flag FROM ecm_recipients AS r JOIN ecm_mails AS m ON "
        "m.id=r.mail_id WHERE m.uuid=?");
    st.Bind(1, uuid);
    while (st.Step() == qovra::SqliteStatement::StepResult::Row)
      flags[st.ColumnText(0)] = st.ColumnInt(1);
    return flags;
  }

  static inline ExchangePki* pki_ = nullptr;
  ExchangeServer server_;
  std::unique_ptr<HookedProgress> hook_;
  std::unique_ptr<QTimer> picker_timer_;
  std::vector<std::string> offered_;
  int closing_result_ = -1;
};

}  // namespace qovra_test
