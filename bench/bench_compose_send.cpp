// Sending a mail with a large attachment from the text compose window to
// two recipients in secure mode (the fast-mode offer answered No through
// the seam), through the local exchange server over loopback. Prints the
// window's time and this process's peak resident memory growth, next to
// what tevqa alone needs for the same container in the same run: hashing
// it once and enciphering it once per recipient.
//
//   bench_compose_send [MiB]   (default 1024)
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/utf.h"
#include "bench_noise.h"
#include "bench_peak_memory.h"
#include "commands/login_command.h"
#include "mail/startup.h"
#include "net/server_request_folders.h"
#include "platform/temp_files.h"
#include "qovra/addressbook/address_book_db.h"
#include "qovra/workspace/mail_send.h"
#include "qovra/workspace/new_mail.h"
#include "qovra/workspace/new_mail_top.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "support/exchange_server.h"
#include "support/scratch_dir.h"
#include "tevqa.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kPassword[] = "secret";
const std::vector<std::string> kUsers = {"alice@127.0.0.1", "bob@localhost", "carol@127.0.0.1"};

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// An incompressible file of size bytes.
bool WriteAttachment(const std::string& path, int64_t size) {
  std::ofstream out(path, std::ios::binary);
  qovra_bench::WriteNoise(size, [&](const void* data, size_t n) {
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
  });
  return static_cast<bool>(out);
}

// tevqa alone over the container file: one hash, then one CBC encryption
// per recipient, through a 1 MiB buffer.
double TevqaSeconds(const std::string& path, int recipients) {
  std::vector<uint8_t> buffer(1 << 20);
  std::vector<uint8_t> out(buffer.size());
  uint8_t hash_ctx[TEVQA_HASH_CONTEXT_SIZE];
  uint8_t hash[TEVQA_HASH_SIZE];
  uint8_t key[64];
  uint8_t iv[32] = {};
  uint8_t ctx[832];
  for (int i = 0; i < 64; ++i) key[i] = static_cast<uint8_t>(i * 37 + 11);
  unsigned sink = 0;
  const Clock::time_point start = Clock::now();
  for (int pass = 0; pass <= recipients; ++pass) {
    std::ifstream in(path, std::ios::binary);
    if (pass == 0) {
      UZDST_HASH_init(hash_ctx, nullptr);
    } else if (!UZDST_CIPHER_init(ctx, key, 1)) {
      key[0] ^= 1;
      --pass;
      continue;
    }
    while (in) {
      in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
      const auto n = static_cast<uint32_t>(in.gcount());
      if (n == 0) break;
      if (pass == 0) {
        UZDST_HASH_update(hash_ctx, buffer.data(), n);
      } else {
        UZDST_CIPHER_cbc(ctx, iv, buffer.data(), out.data(), (n + 31) / 32, 1);
        sink += out[0];
      }
    }
    if (pass == 0) UZDST_HASH_final(hash_ctx, hash);
  }
  const double took = Seconds(start);
  if (sink == 12345 && hash[0] == 0) std::printf(" ");
  return took;
}

// Progress that keeps nothing (the fake records every report).
class QuietProgress : public qovra::IProgressUi {
 public:
  void ShowProgress(qovra::TWindowHandle, bool, const std::string&, const std::string&) override {}
  void HideProgress(qovra::TWindowHandle, bool) override {}
  void ReportProgress(void*, int64_t, int64_t) override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1024;
  if (mib <= 0 || mib > 4000) {
    std::fprintf(stderr, "usage: bench_compose_send [MiB 1..4000]\n");
    return 2;
  }
  qovra::testing::ScratchDir dir;
  qovra_test::ExchangePki pki;
  for (const std::string& user : kUsers) pki.AddUserWithKeyFile(user);
  qovra_test::ExchangeServerOptions o = pki.Options();
  for (const std::string& user : kUsers) o.seed_accounts.push_back(user + ":" + kPassword);
  qovra_test::ExchangeServer server;
  if (!server.Start(o)) {
    std::fprintf(stderr, "exchange server: %s\n", server.error().c_str());
    return 1;
  }
  qovra::testing::ScopedFakeUi ui;
  ui->fallback_answer = qovra::kMsgResultNo;  // stay in secure mode
  QuietProgress quiet;
  qovra::SetProgressUi(&quiet);

  // Alice's session, folders and a book that knows both recipients.
  qovra::Options = qovra::TOptions{};
  qovra::Options.Conn.useiewc = 2;
  qovra::Options.Conn.srvaddr = "127.0.0.1:" + std::to_string(server.Port());
  qovra::Options.Conn.ServerUrl = "http://" + qovra::Options.Conn.srvaddr + "/qovra4/";
  qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(pki.CertPath(kUsers[0]));
  qovra::Options.Keys.pvkpath = qovra::Utf8ToUtf16(pki.File(kUsers[0] + ".prk"));
  qovra::UserDir = dir.File("alice") + "/";
  fs::create_directories(qovra::UserDir + "messages");
  fs::create_directories(qovra::UserDir + "temp");
  qovra::MessagesDir = qovra::UserDir + "messages/";
  qovra::SetTempFolder(qovra::UserDir + "temp/");
  fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", qovra::UserDir + "ecm.edb");
  fs::copy_file(std::string(QOVRA_BIN_DIR) + "/eca.edb", qovra::UserDir + "eca.edb");
  if (!qovra::MailDb.Open(qovra::UserDir + "ecm.edb") ||
      !qovra::AddrBookDb.Open(qovra::UserDir + "eca.edb") ||
      !qovra::UpgradeContactsSchema(qovra::AddrBookDb))
    return 1;
  for (size_t i = 1; i < kUsers.size(); ++i) {
    qovra::TContact c;
    c.Email = kUsers[i];
    c.FirstName = qovra::Utf8ToUtf16(kUsers[i].substr(0, kUsers[i].find('@')));
    (void)qovra::SaveContact(qovra::AddrBookDb, c, 0, c.Email);
  }
  int owner = 0;
  if (qovra::LoginSession("alice", kPassword, {&owner, "TfrmLogin", nullptr}) != 1) {
    std::fprintf(stderr, "login failed\n");
    return 1;
  }

  const std::string attachment = dir.File("large.bin");
  const int64_t size = static_cast<int64_t>(mib) << 20;
  if (!WriteAttachment(attachment, size)) return 1;

  qovra::TMailMessage mail;
  mail.Uuid = "0123456789ABCDEF0123456789ABCDEF";
  mail.FolderId = qovra::kFolderOutbox;
  mail.Flags = qovra::mfDeliveryReport | qovra::mfReadReport;
  TfrmNewMail form(TComposeCommands{});
  form.Mail = &mail;
  form.WriteContent = true;
  form.frameNewMailTop1->eTo->setText(QString::fromStdString(kUsers[1] + "; " + kUsers[2]));
  form.frameNewMailTop1->eSubject->setText(QStringLiteral("Large file"));
  form.eMailBody->setPlainText(QStringLiteral("The file is attached."));
  form.AttachFiles({QString::fromStdString(attachment)});
  form.show();
  QApplication::processEvents();

  // The window's container writer alone, for the memory it needs.
  {
    qovra_bench::ResetPeakRss();
    const long before = qovra_bench::RssKiB();
    const Clock::time_point at = Clock::now();
    qovra::TEFileStream probe(dir.File("probe.emz"), true, true, qovra::fmCreate);
    const bool ok = form.WriteMessage(probe, "bob@localhost;carol@127.0.0.1", nullptr, nullptr);
    std::printf("container write alone: %s, %.2f s, peak memory growth %.1f MiB\n",
                ok ? "written" : "FAILED", Seconds(at),
                static_cast<double>(qovra_bench::PeakRssKiB() - before) / 1024.0);
  }

  qovra_bench::ResetPeakRss();
  const long rss_before = qovra_bench::RssKiB();
  const Clock::time_point start = Clock::now();
  qovra::compose::TSendSource source;
  source.AttachmentRows = form.AttachmentCount();
  source.AttachmentBytes = form.AttachmentBytes();
  const bool sent = qovra::compose::SendComposedMail(form, source);
  const double window_s = Seconds(start);
  const long peak_growth = qovra_bench::PeakRssKiB() - rss_before;
  std::printf(
      "window send, %ld MiB to 2 recipients (secure): %s, %.2f s, peak memory growth %.1f "
      "MiB\n",
      mib, sent ? "sent" : "NOT SENT", window_s, static_cast<double>(peak_growth) / 1024.0);
  for (const qovra::testing::MessageCall& m : ui->messages)
    std::printf("  message: %s\n", m.text.c_str());

  const std::string container = qovra::MessagesDir + std::string(mail.Uuid.view()) + ".emz";
  const double tevqa_s = TevqaSeconds(container, 2);
  std::printf("tevqa alone, hash once + encipher twice: %.2f s\n", tevqa_s);
  std::printf("ratio window / tevqa: %.2f\n", window_s / tevqa_s);
  qovra::SetProgressUi(&*ui);
  qovra::MailDb.Close();
  qovra::AddrBookDb.Close();
  qovra::Session.Clear();
  return sent ? 0 : 1;
}
