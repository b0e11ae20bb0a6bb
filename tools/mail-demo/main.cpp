// mail-demo: sends one mail with an attachment from the first demo user to
// the second through a running exchange server, then receives it as the
// second user and checks it, printing each step. Starts nothing itself.
//
//   mail-demo [--send-only] URL FROM CERT KEY PASSWORD TO CERT KEY PASSWORD
//
// --send-only stops once the mail is sent: it waits on the server for the
// second user, who receives it in the program.
//
//   mail-demo --write-settings FILE URL ADDRESS CERT KEY MAILDIR [REFFREQ]
//
// writes a settings file for the program that logs ADDRESS in to the
// server at URL with the key files CERT and KEY, its mail kept in MAILDIR,
// receiving automatically every REFFREQ seconds (default 0: off).
//
// URL is the server's origin ("http://127.0.0.1:8480"); FROM and TO are
// the users' addresses; PASSWORD opens the account and, when the key file
// is protected, the key file. The users' mail folders live in a temporary
// folder removed at the end. Exit status 0 when the mail arrived intact.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "base/records.h"
#include "base/stream.h"
#include "base/utf.h"
#include "commands/login_command.h"
#include "keys/random_text.h"
#include "mail/receiving.h"
#include "mail/sending.h"
#include "mail/startup.h"
#include "net/server_request.h"
#include "net/server_request_folders.h"
#include "net/xml_maker_addresses.h"
#include "platform/temp_files.h"
#include "seam/ui_seam.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"
#include "store/mail_db.h"

namespace {

namespace fs = std::filesystem;

struct DemoUser {
  std::string address, cert, key, password;
  std::string Login() const { return address.substr(0, address.find('@')); }
};

// Messages and progress titles go to the terminal; the key file password
// is the user's password.
class ConsoleUi : public qovra::IMessageUi,
                  public qovra::IProgressUi,
                  public qovra::IPasswordPromptUi {
 public:
  std::string password;

  int ShowMsgDialog(qovra::TWindowHandle, const std::string& text, int flags, const std::string&,
                    const std::string&, const std::string&) override {
    std::printf("   [message] %s\n", text.c_str());
    // Questions (the fast-mode offer) are answered No.
    return (flags & qovra::kMsgButtonsYesNo) != 0 ? qovra::kMsgResultNo : qovra::kMsgResultOk;
  }
  qovra::TWindowHandle ActiveWindow() override { return nullptr; }
  qovra::TWindowHandle ActiveFormWindow() override { return nullptr; }

  void ShowProgress(qovra::TWindowHandle, bool, const std::string& title,
                    const std::string& status) override {
    if (title == last_title_ && status == last_status_) return;
    last_title_ = title;
    last_status_ = status;
    std::printf("   [progress] %s%s%s\n", title.c_str(), status.empty() ? "" : ": ",
                status.c_str());
  }
  void HideProgress(qovra::TWindowHandle, bool) override {}
  void ReportProgress(void*, int64_t, int64_t) override {}

  std::optional<std::string> AskSecret(qovra::TWindowHandle, const std::string&, const std::string&,
                                       const std::string&) override {
    return password;
  }
  int Reauthenticate(qovra::TWindowHandle, const std::string&, const std::string&,
                     const std::string&) override {
    return 2;
  }

 private:
  std::string last_title_, last_status_;
};

ConsoleUi g_ui;
int g_owner = 0;

std::string ProgramDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Logs user in with its own database and messages folder under work.
bool BecomeUser(const DemoUser& user, const std::string& work) {
  std::printf("-- %s logs in\n", user.address.c_str());
  const std::string db = work + "/" + user.Login() + ".edb";
  std::error_code ec;
  fs::create_directories(work + "/" + user.Login() + "-messages", ec);
  if (!fs::exists(db) && !fs::copy_file(ProgramDir() + "/ecm.edb", db, ec)) {
    std::printf("   cannot make the mail database: %s\n", ec.message().c_str());
    return false;
  }
  qovra::MailDb.Close();
  if (!qovra::MailDb.Open(db)) return false;
  qovra::MessagesDir = work + "/" + user.Login() + "-messages/";
  qovra::Options.Keys.keyssrc = 0;
  qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(user.cert);
  qovra::Options.Keys.pvkpath = qovra::Utf8ToUtf16(user.key);
  qovra::Session.Clear();
  qovra::HandshakeDone = false;
  g_ui.password = user.password;
  const int r = qovra::LoginSession(user.Login(), user.password, {&g_owner, "TfrmLogin", nullptr});
  if (r != 1) {
    std::printf("   login failed (%d)\n", r);
    return false;
  }
  if (qovra::Session.OwnContact.Email != user.address) {
    std::printf("   logged in as %s, not %s\n", qovra::Session.OwnContact.Email.c_str(),
                user.address.c_str());
    return false;
  }
  std::printf("   session open\n");
  return true;
}

int Run(const std::string& url, const DemoUser& from, const DemoUser& to, const std::string& work,
        bool send_only) {
  const std::string attachment = "Hello from the mail demo.\n" + std::string(4000, '*') + "\n";
  const std::u16string subject = u"Demo mail";
  const std::string body = "This mail went through the exchange server.";

  if (!BecomeUser(from, work)) return 1;
  std::printf("-- %s writes a mail to %s with one attachment\n", from.address.c_str(),
              to.address.c_str());
  qovra::TMemoryStream container;
  {
    qovra::TMailWriter w(container);
    w.AddMailHeaders(from.address, subject, to.address);
    w.AddField("body", body);
    w.AddAttachmentHeader(u"demo.txt", static_cast<int64_t>(attachment.size()));
    w.WriteBuffer(attachment.data(), attachment.size());
    if (!w.Finish()) return 1;
  }
  qovra::TMailMessage mail;
  const std::string uuid = qovra::RandomHexString(16);
  mail.Uuid = uuid;
  mail.FromAddress = from.address;
  if (!qovra::SplitAddressList(mail.Recipients, to.address, ';')) return 1;
  const qovra::TEMailList entries = mail.Recipients;
  mail.Subject = subject;
  mail.FolderId = qovra::kFolderOutbox;
  mail.Priority = qovra::kPriorityNormal;
  mail.Flags = qovra::mfAttachments | qovra::mfDeliveryReport;  // asks a delivery report
  mail.MailSize = container.Size();
  mail.Id = qovra::SaveMailToDatabase(qovra::MailDb, mail, from.address, nullptr, nullptr, false);
  std::printf("   mail %s, %lld bytes\n", uuid.c_str(), static_cast<long long>(mail.MailSize));

  std::printf("-- sending in secure mode to %s\n", url.c_str());
  const qovra::TSendPlace place{qovra::MessagesDir, qovra::GetTempFolder(), &qovra::MailDb};
  const qovra::TSendOutcome sent =
      qovra::RunSendSteps({&g_owner, "TfrmMain", nullptr}, place, mail, qovra::kSendModeSecure,
                          entries, container, [](std::string_view) { return true; });
  if (!sent.Sent || sent.PartialFailure) {
    std::printf("   the send did not complete\n");
    return 1;
  }
  std::printf("   sent\n");
  if (send_only) return 0;

  if (!BecomeUser(to, work)) return 1;
  std::printf("-- %s receives\n", to.address.c_str());
  qovra::TReceiveRun run;
  run.Owner = {&g_owner, "TfrmMain", nullptr};
  const qovra::TReceiveSummary got = qovra::ReceiveMails(run);
  std::printf("   %d new, %d downloaded, %d kept\n", got.NewMails, got.Downloaded, got.Stored);
  const std::string emz = ReadFile(qovra::MessagesDir + uuid + ".emz");
  if (emz.empty()) {
    std::printf("   the mail did not arrive\n");
    return 1;
  }
  std::printf("-- checking the received mail (signature already verified)\n");
  qovra::TMemoryStream source(emz);
  qovra::TMailReader reader(source);
  if (!reader.Parse(nullptr, nullptr) || reader.Attachments().size() != 1) {
    std::printf("   the container cannot be read\n");
    return 1;
  }
  const bool same = emz == container.Data();
  std::printf("   from: %s\n   subject: %s\n   body: %s\n   attachment: %s, %lld bytes\n",
              reader.From().c_str(), qovra::Utf16ToUtf8(reader.Subject()).c_str(),
              qovra::Utf16ToUtf8(reader.Body()).c_str(),
              qovra::Utf16ToUtf8(reader.Attachments()[0].FileName.str()).c_str(),
              static_cast<long long>(reader.Attachments()[0].DataSize));
  std::printf("   %s\n", same ? "identical to what was sent" : "DIFFERS from what was sent");
  if (!same) return 1;

  if (!BecomeUser(from, work)) return 1;
  std::printf("-- %s picks up the delivery report\n", from.address.c_str());
  const qovra::TReceiveSummary reports = qovra::ReceiveMails(run);
  std::printf("   %d recipient row(s) updated\n", reports.Reports);
  return 0;
}

}  // namespace

// Normalises URL to its origin without a trailing "/"; false when it is
// not "http://...".
bool ServerOrigin(std::string& url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  const std::string scheme = "http://";
  return url.rfind(scheme, 0) == 0 && url.size() > scheme.size();
}

bool ParseSeconds(std::string_view text, int32_t& seconds) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos)
    return false;
  seconds = static_cast<int32_t>(std::stoi(std::string(text)));
  return true;
}

// args: FILE URL ADDRESS CERT KEY MAILDIR [REFFREQ], null-terminated.
int WriteSettings(char** args) {
  const std::string file = args[0];
  std::string url = args[1];
  const DemoUser user{args[2], args[3], args[4], ""};
  if (!ServerOrigin(url)) {
    std::fprintf(stderr, "mail-demo: URL must start with http://\n");
    return 2;
  }
  qovra::InitAppSettings(file, qovra::TSettingsPaths{file, "", false});
  qovra::Options.langid = 1;
  qovra::Options.Conn.useiewc = 1;
  qovra::Options.Conn.srvaddr = url.substr(std::string_view("http://").size());
  qovra::Options.Conn.ServerUrl = url + "/qovra4/";
  qovra::Options.Keys.keyssrc = 0;
  qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(fs::absolute(user.cert).string());
  qovra::Options.Keys.pvkpath = qovra::Utf8ToUtf16(fs::absolute(user.key).string());
  qovra::Options.Keys.offpass.clear();
  qovra::Options.Other.lastlgn = user.Login();
  qovra::Options.Mail.sdownld = 1;  // receive when the main window first shows
  qovra::Options.Mail.reffreq = 0;
  if (args[6] && !ParseSeconds(args[6], qovra::Options.Mail.reffreq)) {
    std::fprintf(stderr, "mail-demo: REFFREQ must be a number of seconds\n");
    return 2;
  }
  qovra::Options.Folders.maildir = qovra::Utf8ToUtf16(fs::absolute(args[5]).string());
  if (!qovra::SaveOptions()) {
    std::fprintf(stderr, "mail-demo: cannot write %s\n", file.c_str());
    return 1;
  }
  std::printf("settings for %s written to %s\n", user.address.c_str(), file.c_str());
  return 0;
}

int main(int argc, char** argv) {
  if ((argc == 8 || argc == 9) && std::string_view(argv[1]) == "--write-settings")
    return WriteSettings(argv + 2);
  const bool send_only = argc > 1 && std::string_view(argv[1]) == "--send-only";
  if (send_only) {
    --argc;
    ++argv;
  }
  if (argc != 10) {
    std::fprintf(stderr,
                 "usage: mail-demo [--send-only] URL FROM CERT KEY PASSWORD TO CERT KEY PASSWORD\n"
                 "       mail-demo --write-settings FILE URL ADDRESS CERT KEY MAILDIR [REFFREQ]\n"
                 "  URL: the exchange server's origin, e.g. http://127.0.0.1:8480\n");
    return 2;
  }
  std::string url = argv[1];
  const std::string scheme = "http://";
  if (!ServerOrigin(url)) {
    std::fprintf(stderr, "mail-demo: URL must start with http://\n");
    return 2;
  }
  const DemoUser from{argv[2], argv[3], argv[4], argv[5]};
  const DemoUser to{argv[6], argv[7], argv[8], argv[9]};

  const char* tmp = std::getenv("TMPDIR");
  std::string work = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/qovra-demo-XXXXXX";
  if (!::mkdtemp(work.data())) {
    std::perror("mail-demo: mkdtemp");
    return 1;
  }
  std::error_code ec;
  fs::create_directories(work + "/tmp", ec);
  qovra::SetTempFolder(work + "/tmp/");
  qovra::SetMessageUi(&g_ui);
  qovra::SetProgressUi(&g_ui);
  qovra::SetPasswordPromptUi(&g_ui);
  qovra::Options = qovra::TOptions{};
  qovra::Options.langid = 1;
  // The program's messages (Russian language file beside the program).
  const auto messages = qovra::LoadLanguageFile(ProgramDir() + "/lang/lang.ru.xml");
  qovra::ApplyLanguageMessages(messages.get());
  qovra::Options.Conn.useiewc = 2;
  qovra::Options.Conn.srvaddr = url.substr(scheme.size());
  qovra::Options.Conn.ServerUrl = url + "/qovra4/";

  const int rc = Run(url, from, to, work, send_only);
  qovra::MailDb.Close();
  qovra::Session.Clear();
  qovra::SetMessageUi(nullptr);
  qovra::SetProgressUi(nullptr);
  qovra::SetPasswordPromptUi(nullptr);
  fs::remove_all(work, ec);
  if (send_only) {
    std::printf("%s\n", rc == 0 ? "mail sent: it waits on the server" : "sending failed");
  } else {
    std::printf("%s\n", rc == 0 ? "demo finished: the mail arrived intact" : "demo failed");
  }
  return rc;
}
