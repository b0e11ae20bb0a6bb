// A downloaded mail deciphered straight from the reply: the plain bytes and
// their hash equal the one-thread path at the chunk boundaries, with and
// without the session layer, in both send modes; a corrupt chunk or a cut
// reply fails the whole download and leaves no file; the files it cannot
// decipher this way are stored as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/file_stream.h"
#include "base/records.h"
#include "core/net/envelope_test_fixture.h"
#include "keys/crypto_binding.h"
#include "keys/crypto_pipeline.h"
#include "mail/receiving_download.h"
#include "net/reply_arrival.h"
#include "net/server_request_reply.h"
#include "store/sign_container.h"
#include "support/noise_bytes.h"
#include "tevqa.h"

namespace {

using qovra_test::ClientParty;
using qovra_test::FolderEntries;
using qovra_test::WireFile;

constexpr char kUuid[] = "0123456789ABCDEF0123456789ABCDEF";

std::string Content(size_t n) { return qovra_test::NoiseBytes(n); }

class MailFileTakerTest : public qovra_test::EnvelopeFixture {
 protected:
  // The mail enciphered under the key of mode, as the sender stores it.
  std::string Eme(const std::string& plain, uint8_t mode) {
    std::array<uint8_t, 64> key = qovra::Session.SessionKey;
    if (mode == qovra::kSendModeSecure) {
      // The client's own certificate signs these mails: a mail to oneself.
      EXPECT_EQ(UZDST_CIPHER_KEY_generate(ClientParty().Priv().data(), ClientParty().Pub().data(),
                                          ClientParty().Pub().data(), key.data()),
                1);
    }
    qovra::TMemoryStream in(plain), out;
    EXPECT_TRUE(qovra::CryptStream(in, in.Size(), out, nullptr, nullptr, key,
                                   qovra::HashString(kUuid), {}, qovra::csEncrypt));
    return out.Data();
  }
  static std::string Ems() {
    const std::array<uint8_t, qovra::kSignatureSize> signature{};
    const std::array<uint8_t, qovra::kKeyRecordSize> dh{};
    return qovra::BuildSignatureRecord(kUuid, signature, ClientParty().Cert(), dh, 45000.0);
  }
  // A download reply: rep, then the .eme and the .ems (a server may send
  // them in either order; ours sends the .ems first).
  std::string Body(int64_t mail_size, int flag, const std::string& eme, bool skip,
                   bool ems_first = false) {
    const std::string eme_element = "<file size=\"" + std::to_string(eme.size()) + "\" skip=\"" +
                                    (skip ? "1" : "0") + "\" name=\"" + kUuid +
                                    ".eme\" type=\"1\"/>";
    const std::string ems_element = "<file size=\"" + std::to_string(ems_.size()) +
                                    "\" skip=\"1\" name=\"" + kUuid + ".ems\" type=\"1\"/>";
    const std::string xml = "<reply><res val=\"1\"/><rep size=\"" + std::to_string(mail_size) +
                            "\" flag=\"" + std::to_string(flag) + "\"/>" +
                            (ems_first ? ems_element + eme_element : eme_element + ems_element) +
                            "</reply>";
    const std::string eme_wire = WireFile(session_, eme, skip);
    const std::string ems_wire = WireFile(session_, ems_, true);
    return qovra_test::SessionReply(session_, xml,
                                    ems_first ? std::vector<std::string>{ems_wire, eme_wire}
                                              : std::vector<std::string>{eme_wire, ems_wire});
  }
  int Run(const std::string& body, qovra::TMailFileTaker& taker) {
    qovra::TMemoryStream reply(body);
    qovra::TReplyContext ctx;
    ctx.Form = form_;
    ctx.FormClass = "TfrmMain";
    ctx.Title = "title";
    ctx.Taker = &taker;
    return qovra::ProcessServerReply(reply, ctx, doc_);
  }
  // As Run with body arriving piece bytes at a time, and no further than
  // arrives (a shorter reply: cut off there), as a client spools a reply.
  int RunArriving(const std::string& body, size_t arrives, size_t piece,
                  qovra::TMailFileTaker& taker) {
    const std::string spool_name = spool_dir_.File("reply.dat");
    qovra::TEFileStream writer(spool_name, true, true, qovra::fmCreate);
    qovra::TEFileStream reader(spool_name, true, false, qovra::fmOpenRead);
    EXPECT_TRUE(writer.Opened() && reader.Opened());
    PiecewiseArrival arrival(body, arrives, piece, writer);
    qovra::TArrivingReply reply(reader, arrival);
    qovra::TReplyContext ctx;
    ctx.Form = form_;
    ctx.FormClass = "TfrmMain";
    ctx.Title = "title";
    ctx.Taker = &taker;
    ctx.Arrival = &arrival;
    return qovra::ProcessServerReply(reply, ctx, doc_);
  }
  // Writes body to the spool piece bytes at each step, as far as arrives.
  class PiecewiseArrival : public qovra::IReplyArrival {
   public:
    PiecewiseArrival(const std::string& body, size_t arrives, size_t piece, qovra::TStream& spool)
        : body_(body), arrives_(std::min(arrives, body.size())), piece_(piece), spool_(spool) {}
    bool Await(int64_t end) override {
      while (written_ < end && written_ < static_cast<int64_t>(arrives_)) {
        const size_t n = std::min(piece_, arrives_ - static_cast<size_t>(written_));
        EXPECT_TRUE(spool_.WriteBuffer(body_.data() + written_, n));
        written_ += static_cast<int64_t>(n);
      }
      return written_ >= end;
    }
    bool Failed() const override {
      return arrives_ < body_.size() && written_ == static_cast<int64_t>(arrives_);
    }
    int64_t Length() const override { return static_cast<int64_t>(body_.size()); }

   private:
    const std::string& body_;
    size_t arrives_, piece_;
    qovra::TStream& spool_;
    int64_t written_ = 0;
  };
  std::vector<std::string> Files() {
    std::vector<std::string> names = FolderEntries(MessagesFolder());
    std::sort(names.begin(), names.end());
    return names;
  }
  void Clean() {
    for (const std::string& f : Files()) std::filesystem::remove(MessagesFolder() + f);
    ui_->messages.clear();
  }

  qovra::testing::ScratchDir spool_dir_;
  const std::string ems_ = Ems();
  const std::string ems_name_ = std::string(kUuid) + ".ems";
  const std::string eme_name_ = std::string(kUuid) + ".eme";
};

TEST_F(MailFileTakerTest, PlainBytesAndHashAtEveryChunkBoundary) {
  const size_t chunk = qovra::TPipelineShape{}.ChunkSize;
  const size_t sizes[] = {1, 33, chunk - 1, chunk, chunk + 1, 2 * chunk + 33};
  for (const size_t size : sizes) {
    for (const bool skip : {true, false}) {
      for (const uint8_t mode : {qovra::kSendModeSecure, qovra::kSendModeFast}) {
        SCOPED_TRACE(testing::Message()
                     << size << " bytes, skip " << skip << ", mode " << int{mode});
        const std::string plain = Content(size);
        qovra::TMailFileTaker taker(kUuid, mode);
        ASSERT_EQ(Run(Body(static_cast<int64_t>(size), 0, Eme(plain, mode), skip), taker), 1)
            << testing::PrintToString(Shown());
        std::unique_ptr<qovra::TPlainMail> got = taker.Release();
        ASSERT_TRUE(got);
        EXPECT_EQ(qovra::testing::ScratchDir::Read(got->Path), plain);
        EXPECT_EQ(got->Hash, qovra::HashString(plain));
        // Never stored enciphered; the plain file is the only other one.
        const std::string part = std::filesystem::path(got->Path).filename().string();
        EXPECT_EQ(Files(), (std::vector<std::string>{part, ems_name_}));
        got.reset();
        EXPECT_EQ(Files(), std::vector<std::string>{ems_name_});
        Clean();
      }
    }
  }
}

// A reply read while it arrives, in pieces that fall anywhere against the
// chunks: a fast-mode mail, or one whose signature container came first,
// is deciphered as it comes (its container is not there yet, or is the
// only other file); otherwise once the rest is in. The bytes and hash are
// those of the whole reply.
TEST_F(MailFileTakerTest, PlainBytesAndHashWhileTheReplyArrives) {
  const size_t chunk = qovra::TPipelineShape{}.ChunkSize;
  for (const size_t size : {size_t{33}, chunk - 1, chunk + 1, 2 * chunk + 33}) {
    for (const size_t piece : {size_t{4093}, chunk + 7}) {
      for (const uint8_t mode : {qovra::kSendModeSecure, qovra::kSendModeFast}) {
        for (const bool ems_first : {false, true}) {
          SCOPED_TRACE(testing::Message() << size << " bytes in pieces of " << piece << ", mode "
                                          << int{mode} << (ems_first ? ", .ems first" : ""));
          const std::string plain = Content(size);
          const std::string body =
              Body(static_cast<int64_t>(size), 0, Eme(plain, mode), true, ems_first);
          struct InPlace : qovra::TMailFileTaker {
            using TMailFileTaker::TMailFileTaker;
            bool asked = false, in_place = false;
            bool TakesInPlace(const qovra::TReplyFile& f,
                              const std::vector<qovra::TReplyFile>& before) override {
              asked = true;
              in_place = TMailFileTaker::TakesInPlace(f, before);
              return in_place;
            }
          } taker(kUuid, mode);
          ASSERT_EQ(RunArriving(body, body.size(), piece, taker), 1)
              << testing::PrintToString(Shown());
          EXPECT_TRUE(taker.asked);
          EXPECT_EQ(taker.in_place, mode == qovra::kSendModeFast || ems_first);
          std::unique_ptr<qovra::TPlainMail> got = taker.Release();
          ASSERT_TRUE(got);
          EXPECT_EQ(qovra::testing::ScratchDir::Read(got->Path), plain);
          EXPECT_EQ(got->Hash, qovra::HashString(plain));
          const std::string part = std::filesystem::path(got->Path).filename().string();
          std::vector<std::string> files{part, ems_name_};
          std::sort(files.begin(), files.end());
          EXPECT_EQ(Files(), files);
          got.reset();
          Clean();
        }
      }
    }
  }
}

// A reply cut off while it arrives, wherever: the result says so with
// nothing shown (the caller reports the connection), and no file stays
// once the taker goes.
TEST_F(MailFileTakerTest, ReplyCutOffWhileItArrivesLeavesNoFile) {
  const size_t size = 2 * qovra::TPipelineShape{}.ChunkSize + 100;
  const std::string plain = Content(size);
  for (const uint8_t mode : {qovra::kSendModeSecure, qovra::kSendModeFast}) {
    const std::string body = Body(static_cast<int64_t>(size), 0, Eme(plain, mode), true);
    const size_t eme_at = body.size() - 160 - ems_.size() - 160 - qovra::PaddedBlockLength(size);
    for (const size_t arrives :
         {size_t{50}, eme_at + 1000, eme_at + size / 2, body.size() - 200, body.size() - 1}) {
      SCOPED_TRACE(testing::Message() << "mode " << int{mode} << ", cut at " << arrives);
      {
        // A mail taken before the cut goes with its taker, as the failed
        // download drops it.
        qovra::TMailFileTaker taker(kUuid, mode);
        EXPECT_EQ(RunArriving(body, arrives, 4093, taker), qovra::kReplyCutOff);
      }
      EXPECT_TRUE(Shown().empty()) << testing::PrintToString(Shown());
      EXPECT_TRUE(Files().empty()) << testing::PrintToString(Files());
      Clean();
    }
  }
}

TEST_F(MailFileTakerTest, CorruptOrCutReplyFailsTheWholeMailAndLeavesNoFile) {
  const size_t size = 2 * qovra::TPipelineShape{}.ChunkSize + 100;
  const std::string plain = Content(size);
  const std::string body = Body(static_cast<int64_t>(size), 0, Eme(plain, 0), true);
  // The .eme's bytes follow the payload's signature; the .ems closes the body.
  const size_t eme_at = body.size() - 160 - ems_.size() - 160 - qovra::PaddedBlockLength(size);
  struct Case {
    const char* name;
    std::string body;
    const char* shown;
  };
  std::string second_chunk = body;
  second_chunk[eme_at + qovra::TPipelineShape{}.ChunkSize + 5] ^= 0x10;
  std::string last_block = body;
  last_block[eme_at + qovra::PaddedBlockLength(size) - 1] ^= 0x01;
  const Case cases[] = {
      {"byte of the second chunk", second_chunk, "msgUnauthenticSignature"},
      {"byte of the last block", last_block, "msgUnauthenticSignature"},
      {"reply cut inside the mail", body.substr(0, eme_at + 1000), "msgInvalidData"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qovra::TMailFileTaker taker(kUuid, qovra::kSendModeSecure);
    EXPECT_EQ(Run(c.body, taker), 0);
    EXPECT_EQ(Shown(), Only(c.shown));
    EXPECT_FALSE(taker.Release());
    for (const std::string& f : Files()) EXPECT_NE(f, eme_name_) << f;
    for (const std::string& f : Files()) EXPECT_EQ(f.find(".part"), std::string::npos) << f;
    Clean();
  }
}

TEST_F(MailFileTakerTest, FilesItCannotDecipherAreStoredAsBefore) {
  const std::string plain = Content(1000);
  const std::string eme = Eme(plain, 0);
  struct Case {
    const char* name;
    int64_t mail_size;
    int flag;
    bool spoil_ems;
  };
  const Case cases[] = {
      {"for administrative use only", 1000, qovra::mfAdminOnly, false},
      {"size of another mail", 1100, 0, false},
      {"unreadable signature container", 1000, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string body = Body(c.mail_size, c.flag, eme, true);
    if (c.spoil_ems) {
      // A different container of the same length, signed as the server signs.
      const std::string bad(ems_.size(), 'x');
      body = body.substr(0, body.size() - ems_.size() - 160) + bad +
             qovra_test::ServerParty().Sign(bad);
    }
    qovra::TMailFileTaker taker(kUuid, qovra::kSendModeSecure);
    EXPECT_EQ(Run(body, taker), 1) << testing::PrintToString(Shown());
    EXPECT_FALSE(taker.Release());
    EXPECT_EQ(qovra::testing::ScratchDir::Read(MessagesFolder() + eme_name_), eme);
    EXPECT_EQ(Files(), (std::vector<std::string>{eme_name_, ems_name_}));
    Clean();
  }
}

}  // namespace
