// Opening a received mail with a large attachment in the text viewer: the
// container (plain, as the sending path writes it) and its signature
// container are made on disk, then opened the way the main window's Open
// command does (read in place, the signature check with its one hash pass,
// the viewer filled and shown). Prints the time until the viewer shows and
// the peak resident memory growth, next to one hash pass over the same
// file in the same run.
//
//   bench_open_mail [MiB]   (default 1024)
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/time_stamp.h"
#include "bench_noise.h"
#include "bench_peak_memory.h"
#include "keys/crypto_binding.h"
#include "mail/signature_check.h"
#include "platform/temp_files.h"
#include "qovra/workspace/view_mail.h"
#include "store/mail_container_writer.h"
#include "store/sign_container.h"
#include "support/scratch_dir.h"
#include "tevqa.h"
#include "zarvo/pki_fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// A plain container from alice with one incompressible attachment of size
// bytes, written straight to path.
bool WriteContainer(const std::string& path, int64_t size) {
  qovra::TEFileStream out(path, true, false, qovra::fmCreate);
  if (!out.Opened()) return false;
  qovra::TMailWriter w(out, "", [] { return 46000.5; });
  w.AddMailHeaders("alice@127.0.0.1", u"Large", "bob@localhost");
  w.AddField("body", "A large attachment.");
  w.AddAttachmentHeader(u"large.bin", size);
  qovra_bench::WriteNoise(size, [&](const void* data, size_t n) { w.WriteBuffer(data, n); });
  return w.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  qovra::testing::ScratchDir dir;
  const std::string emz = dir.File("mail.emz");
  const std::string ems = dir.File("mail.ems");
  if (!WriteContainer(emz, mib << 20)) {
    std::fprintf(stderr, "bench_open_mail: cannot write the container\n");
    return 1;
  }
  const qovra_test::Party alice = qovra_test::MakeParty("alice@127.0.0.1");
  qovra::THashValue hash{};
  {
    qovra::TEFileStream in(emz, true, false, qovra::fmOpenRead);
    const Clock::time_point t0 = Clock::now();
    (void)qovra::HashStream(in, nullptr, &hash, nullptr, nullptr);
    std::printf("one hash pass:        %.3f s\n", Seconds(t0));
  }
  std::array<uint8_t, qovra::kSignatureSize> sig{};
  if (UZDST_SIGNATURE_generate(hash.data(), alice.keys.priv.data(), alice.keys.pub.data(),
                               sig.data()) != 1)
    return 1;
  std::array<uint8_t, qovra::kKeyRecordSize> dh{};
  {
    const std::string text =
        qovra::BuildSignatureRecord("0123456789ABCDEF0123456789ABCDEF", sig,
                                    qovra_test::ToString(alice.cert), dh, qovra::NowUTC());
    qovra::TEFileStream out(ems, true, false, qovra::fmCreate);
    out.Write(text.data(), text.size());
  }

  // Hash pass again so that both runs meet the same page cache.
  {
    qovra::TEFileStream in(emz, true, false, qovra::fmOpenRead);
    const Clock::time_point t0 = Clock::now();
    (void)qovra::HashStream(in, nullptr, &hash, nullptr, nullptr);
    std::printf("one hash pass (warm): %.3f s\n", Seconds(t0));
  }
  // In the program the main window has set Qt up already: one empty viewer
  // first, so that Qt's one-time costs stay out of the figure.
  {
    TfrmViewMail warm(TViewCommands{});
    warm.show();
    QApplication::processEvents();
  }
  QApplication::processEvents();
  qovra_bench::ResetPeakRss();
  const long rss0 = qovra_bench::RssKiB();
  const Clock::time_point t0 = Clock::now();
  TfrmViewMail form(TViewCommands{});
  form.MailStream = std::make_unique<qovra::TEFileStream>(emz, true, false, qovra::fmOpenRead);
  form.Reader = std::make_unique<qovra::TMailReader>(*form.MailStream);
  form.Reader->SetReadInPlace(true);
  if (!form.Reader->Parse(nullptr, nullptr)) {
    std::fprintf(stderr, "bench_open_mail: %s\n", form.Reader->Error().c_str());
    return 1;
  }
  form.FillFromReader();
  form.Signature = qovra::ReadMailSignature(ems, true);
  qovra::TStream& stream = *form.MailStream;
  form.Check = qovra::CheckMailSignature(form.Signature, {}, [&](qovra::THashValue* out) {
    return stream.Seek(0, qovra::SeekOrigin::Beginning) == 0 &&
           qovra::HashStream(stream, nullptr, out, nullptr, nullptr) > 0;
  });
  form.ShowSignatureStatus();
  form.show();
  QApplication::processEvents();
  const double shown = Seconds(t0);
  std::printf("viewer shown:         %.3f s (verdict %d)\n", shown, form.Check.Status);
  std::printf("peak memory growth:   %.1f MiB\n",
              static_cast<double>(qovra_bench::PeakRssKiB() - rss0) / 1024.0);
  return form.Check.Status == qovra::kSignValid ? 0 : 1;
}
