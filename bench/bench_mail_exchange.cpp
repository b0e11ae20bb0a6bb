// A 100 MiB attachment through the local exchange server over loopback:
// alice sends it in secure mode to one recipient and to three, and in fast
// mode to one, and each recipient receives it with the receiving run. Prints seconds, MB/s and
// this process's peak resident memory for every step (the server runs as
// its own process and is not counted) and what it grew by in the step.
//
//   bench_mail_exchange [MiB]
//   bench_mail_exchange MiB receives N   (N rounds of one send and one
//       receive; prints the resident memory before every receive and the
//       peak during it, and the last peak next to the first)
//   bench_mail_exchange batch N   (N small mails sent, then received in one
//       run; prints the run's time and the time per mail)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "bench_noise.h"
#include "bench_peak_memory.h"
#include "commands/login_command.h"
#include "mail/receiving.h"
#include "mail/sending.h"
#include "mail/startup.h"
#include "net/server_request.h"
#include "net/server_request_folders.h"
#include "net/xml_maker_addresses.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "server/exchange_pki.h"
#include "store/mail_container_writer.h"
#include "store/mail_db.h"
#include "support/exchange_server.h"
#include "support/scratch_dir.h"
#include "tevqa.h"

namespace {

namespace fs = std::filesystem;

constexpr char kPassword[] = "secret";
const std::vector<std::string> kUsers = {"alice@127.0.0.1", "bob@127.0.0.1", "carol@127.0.0.1",
                                         "dave@127.0.0.1"};

std::string Login(const std::string& address) {
  return address.substr(0, address.find('@'));
}

class Bench {
 public:
  Bench() {
    for (const std::string& user : kUsers) {
      const qovra_test::Party& p = pki_.AddUser(user);
      qovra_test::WriteAll(pki_.File(user + ".prk"),
                           keytool::Bytes(p.keys.priv.begin(), p.keys.priv.end()));
      fs::create_directories(dir_.File(Login(user) + "-messages"));
      fs::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", dir_.File(Login(user) + ".edb"));
    }
    fs::create_directories(dir_.File("tmp"));
    qovra::SetTempFolder(dir_.File("tmp") + "/");
    qovra::Options = qovra::TOptions{};
    qovra::Options.Conn.useiewc = 2;
  }
  ~Bench() {
    qovra::MailDb.Close();
    qovra::Session.Clear();
  }

  bool Start() {
    qovra_test::ExchangeServerOptions o = pki_.Options();
    for (const std::string& user : kUsers) o.seed_accounts.push_back(user + ":" + kPassword);
    if (!server_.Start(o)) {
      std::fprintf(stderr, "exchange server: %s\n", server_.error().c_str());
      return false;
    }
    qovra::Options.Conn.srvaddr = "127.0.0.1:" + std::to_string(server_.Port());
    qovra::Options.Conn.ServerUrl = "http://" + qovra::Options.Conn.srvaddr + "/qovra4/";
    return true;
  }

  bool BecomeClient(const std::string& address) {
    qovra::MailDb.Close();
    if (!qovra::MailDb.Open(dir_.File(Login(address) + ".edb"))) return false;
    qovra::MessagesDir = dir_.File(Login(address) + "-messages") + "/";
    qovra::Options.Keys.keyssrc = 0;
    qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(pki_.CertPath(address));
    qovra::Options.Keys.pvkpath = qovra::Utf8ToUtf16(pki_.File(address + ".prk"));
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    return qovra::LoginSession(Login(address), kPassword, {&owner_, "TfrmLogin", nullptr}) == 1;
  }

  // Writes alice's mail with one attachment of size bytes into a file;
  // returns the container's size (0 on failure).
  int64_t WriteMail(const std::string& path, int64_t size) {
    qovra::TEFileStream out(path, true, false, qovra::fmCreate);
    if (!out.Opened()) return 0;
    qovra::TMailWriter w(out);
    w.AddMailHeaders(kUsers[0], u"Large file", "bob@127.0.0.1");
    w.AddField("body", "The file is attached.");
    w.AddAttachmentHeader(u"large.bin", size);
    qovra_bench::WriteNoise(size, [&](const void* data, size_t n) { w.WriteBuffer(data, n); });
    if (!w.Finish()) return 0;
    return out.Size();
  }

  // Sends the container file to recipients in mode (secure unless told);
  // false when the send did not complete for all of them.
  bool Send(const std::string& path, int n, const std::vector<std::string>& recipients,
            int mode = qovra::kSendModeSecure) {
    qovra::TEFileStream container(path, true, false, qovra::fmOpenRead);
    if (!container.Opened()) return false;
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032X", 0xBE000 + n);
    qovra::TMailMessage mail;
    mail.Uuid = uuid;
    mail.FromAddress = kUsers[0];
    std::string to;
    for (const std::string& r : recipients) to += (to.empty() ? "" : ";") + r;
    if (!qovra::SplitAddressList(mail.Recipients, to, ';')) return false;
    const qovra::TEMailList entries = mail.Recipients;
    mail.Subject = u"Large file";
    mail.FolderId = qovra::kFolderOutbox;
    mail.Flags = qovra::mfAttachments;
    mail.MailSize = container.Size();
    mail.Id = qovra::SaveMailToDatabase(qovra::MailDb, mail, kUsers[0], nullptr, nullptr, false);
    // Stay in secure mode when the fast mode is offered.
    ui_->QueueAnswer(qovra::kMsgResultNo);
    const qovra::TSendPlace place{qovra::MessagesDir, qovra::GetTempFolder(), &qovra::MailDb};
    const qovra::TSendOutcome out =
        qovra::RunSendSteps({&owner_, "TfrmMain", nullptr}, place, mail, mode, entries, container,
                            [](std::string_view) { return true; });
    ui_->answers.clear();
    return out.Sent && !out.PartialFailure && out.Mode == mode;
  }

  // One receiving run; the number of mails kept.
  int Receive() {
    qovra::TReceiveRun run;
    run.Owner = {&owner_, "TfrmMain", &bar_};
    run.StatusBar = &bar_;
    return qovra::ReceiveMails(run).Stored;
  }

  std::string File(const std::string& name) const { return dir_.File(name); }
  void ShowMessages() {
    for (const auto& m : ui_->messages) std::fprintf(stderr, "  message: %s\n", m.text.c_str());
    ui_->messages.clear();
  }
  // Also forgets what the fake window seam recorded, which would otherwise
  // grow with every step and count as this process's memory.
  void ClearMessages() {
    ui_->messages.clear();
    ui_->progress.clear();
    ui_->progress.shrink_to_fit();
    ui_->timer_changes.clear();
    ui_->folder_refreshes.clear();
  }

 private:
  qovra::testing::ScopedFakeUi ui_;
  qovra::testing::ScratchDir dir_;
  qovra_test::ExchangePki pki_;
  qovra_test::ExchangeServer server_;
  int owner_ = 0;
  int bar_ = 0;
};

struct Timer {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

// MB/s of the hash alone over the container, the reference of the ratios.
double hash_mbs = 0;

// Resident memory when the step being timed began.
long step_base_kib = 0;

// Starts the memory measurement of a step.
void StartStep() {
  qovra_bench::ResetPeakRss();
  step_base_kib = qovra_bench::RssKiB();
}

void Print(const char* step, double seconds, int64_t bytes) {
  const double mbs = static_cast<double>(bytes) / 1e6 / seconds;
  char ratio[32] = "";
  if (hash_mbs > 0) std::snprintf(ratio, sizeof ratio, "%6.2fx hash", mbs / hash_mbs);
  const long peak = qovra_bench::PeakRssKiB();
  std::printf("%-34s %8.2f s %9.1f MB/s %12s  peak %7.1f MiB (+%5.1f)\n", step, seconds, mbs, ratio,
              static_cast<double>(peak) / 1024.0,
              static_cast<double>(peak - step_base_kib) / 1024.0);
  std::fflush(stdout);
}

}  // namespace

// N mails with a 4 KiB attachment, received in one run.
int Batch(int count) {
  Bench bench;
  if (!bench.Start() || !bench.BecomeClient(kUsers[0])) return 1;
  const std::string path = bench.File("mail.emz");
  if (bench.WriteMail(path, 4096) == 0) return 1;
  for (int k = 1; k <= count; ++k) {
    if (!bench.Send(path, 1000 + k, {kUsers[1]})) {
      bench.ShowMessages();
      return 1;
    }
    bench.ClearMessages();
  }
  if (!bench.BecomeClient(kUsers[1])) return 1;
  Timer receive;
  const int stored = bench.Receive();
  const double seconds = receive.Seconds();
  if (stored != count) {
    bench.ShowMessages();
    return 1;
  }
  std::printf("receive %d mails in one run: %6.2f s, %6.2f ms per mail\n", count, seconds,
              seconds * 1000.0 / count);
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 2 && std::string_view(argv[1]) == "batch") return Batch(std::atoi(argv[2]));
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 100;
  if (mib <= 0) return 2;
  const int receives = argc > 3 && std::string_view(argv[2]) == "receives" ? std::atoi(argv[3]) : 0;
  Bench bench;
  if (!bench.Start()) return 1;
  const std::string path = bench.File("mail.emz");

  if (!bench.BecomeClient(kUsers[0])) return 1;
  StartStep();
  Timer write;
  const int64_t size = bench.WriteMail(path, mib << 20);
  if (size == 0) return 1;
  std::printf("attachment %lld MiB, container %lld bytes\n", static_cast<long long>(mib),
              static_cast<long long>(size));
  Print("write container", write.Seconds(), size);
  {  // tevqa's hash alone over the container, read in 1 MiB pieces.
    qovra::TEFileStream in(path, true, false, qovra::fmOpenRead);
    std::vector<uint8_t> piece(1 << 20);
    uint8_t ctx[TEVQA_HASH_CONTEXT_SIZE];
    uint8_t hash[TEVQA_HASH_SIZE];
    Timer t;
    UZDST_HASH_init(ctx, nullptr);
    for (size_t n; (n = in.Read(piece.data(), piece.size())) > 0;)
      UZDST_HASH_update(ctx, piece.data(), static_cast<uint32_t>(n));
    UZDST_HASH_final(ctx, hash);
    hash_mbs = static_cast<double>(size) / 1e6 / t.Seconds();
    Print("hash alone (reference)", t.Seconds(), size);
  }

  if (receives > 0) {
    long first_peak = 0;
    long last_peak = 0;
    for (int k = 1; k <= receives; ++k) {
      if (!bench.BecomeClient(kUsers[0]) || !bench.Send(path, 100 + k, {kUsers[1]})) {
        bench.ShowMessages();
        return 1;
      }
      bench.ClearMessages();
      if (!bench.BecomeClient(kUsers[1])) return 1;
      const long before = qovra_bench::RssKiB();
      qovra_bench::ResetPeakRss();
      Timer receive;
      if (bench.Receive() != 1) {
        bench.ShowMessages();
        return 1;
      }
      last_peak = qovra_bench::PeakRssKiB();
      if (k == 1) first_peak = last_peak;
      std::printf("receive %2d: %6.2f s  resident before %6.1f MiB, peak %6.1f MiB\n", k,
                  receive.Seconds(), static_cast<double>(before) / 1024.0,
                  static_cast<double>(last_peak) / 1024.0);
      std::fflush(stdout);
      bench.ClearMessages();
    }
    std::printf("peak of receive %d next to the first: %+.1f MiB\n", receives,
                static_cast<double>(last_peak - first_peak) / 1024.0);
    return 0;
  }

  // Secure mode to one recipient and to three, then fast mode to one,
  // whose mail is deciphered under the session key while it downloads.
  const struct {
    const char* name;
    std::vector<std::string> to;
    int mode;
  } rounds[] = {{"secure, 1 recipient", {kUsers[1]}, qovra::kSendModeSecure},
                {"secure, 3 recipients", {kUsers[1], kUsers[2], kUsers[3]}, qovra::kSendModeSecure},
                {"fast, 1 recipient", {kUsers[1]}, qovra::kSendModeFast}};
  int n = 0;
  for (const auto& round : rounds) {
    if (!bench.BecomeClient(kUsers[0])) return 1;
    StartStep();
    Timer send;
    if (!bench.Send(path, ++n, round.to, round.mode)) {
      std::fprintf(stderr, "send %s failed\n", round.name);
      bench.ShowMessages();
      return 1;
    }
    const std::string step = std::string("send ") + round.name;
    Print(step.c_str(), send.Seconds(), size * static_cast<int64_t>(round.to.size()));
    bench.ClearMessages();
    for (const std::string& who : round.to) {
      if (!bench.BecomeClient(who)) return 1;
      StartStep();
      Timer receive;
      if (bench.Receive() != 1) {
        std::fprintf(stderr, "%s did not receive the mail\n", who.c_str());
        bench.ShowMessages();
        return 1;
      }
      Print(((round.mode == qovra::kSendModeFast ? "receive fast, " : "receive, ") + who).c_str(),
            receive.Seconds(), size);
      bench.ClearMessages();
    }
  }
  return 0;
}
