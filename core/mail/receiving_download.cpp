#include "mail/receiving_download.h"

#include <unistd.h>
#include <zarvo.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string_view>

#include "base/file_stream.h"
#include "base/records.h"
#include "base/secure_wipe.h"
#include "base/text_utils.h"
#include "keys/crypto_pipeline.h"
#include "net/envelope.h"
#include "net/envelope_verify.h"
#include "net/server_request_folders.h"
#include "platform/temp_files.h"
#include "settings/settings.h"
#include "store/sign_container_reader.h"
#include "tevqa.h"

namespace qovra {

namespace {

constexpr int kMessagesFolderType = 1;

pugi::xml_node RepElement(const pugi::xml_node& root) {
  for (pugi::xml_node n : root.children())
    if (SameTextAscii(n.name(), "rep")) return n;
  return {};
}

// The key of a mail: in fast mode the session's; in secure mode agreed
// with the owner of the certificate in the signature container at
// ems_path. False when there is none. (A fast-mode mail's certificate is
// checked when the mail is, before anything is kept.)
bool MailKey(uint8_t send_mode, const std::string& ems_path,
             std::array<uint8_t, kCipherKeySize>& key) {
  if (send_mode != kSendModeSecure) {
    key = Session.SessionKey;
    return true;
  }
  TEFileStream ems(ems_path, true, false, fmOpenRead);
  if (!ems.Opened()) return false;
  TSignReader reader(ems);
  if (!reader.Parse()) return false;
  const std::string_view cert = reader.Certificate();
  std::array<uint8_t, kKeyRecordSize> sender{};
  if (cert.empty() || cert.size() > INT32_MAX ||
      initBPb(cert.data(), static_cast<int32_t>(cert.size()), sender.data()) == 0)
    return false;
  return UZDST_CIPHER_KEY_generate(Session.OwnPrivateKey.data(), Session.OwnDhKey.data(),
                                   sender.data(), key.data()) == 1;
}

}  // namespace

TPlainMail::~TPlainMail() {
  if (!Path.empty()) ::unlink(Path.c_str());
}

TMailFileTaker::TMailFileTaker(std::string uuid, uint8_t send_mode)
    : uuid_(std::move(uuid)), send_mode_(send_mode) {}

bool TMailFileTaker::Takes(const TReplyFile& file) {
  return file.Type == kMessagesFolderType && file.Name == uuid_ + ".eme";
}

bool TMailFileTaker::TakesInPlace(const TReplyFile& file,
                                  const std::vector<TReplyFile>& stored_before) {
  if (!Takes(file)) return false;
  // The key is at hand: the session's, or agreed with the sender of the
  // signature container this reply brought already.
  if (send_mode_ != kSendModeSecure) return true;
  return std::any_of(stored_before.begin(), stored_before.end(), [this](const TReplyFile& f) {
    return f.Type == kMessagesFolderType && f.Name == uuid_ + ".ems";
  });
}

TReplyFileResult TMailFileTaker::Take(TStream& reply, const TReplyFile& file,
                                      const TEnvelopeKeys& keys, const pugi::xml_node& root,
                                      void* progress_data, TProgressProc progress) {
  const auto store = [&] { return StoreReplyFile(reply, file, keys, progress_data, progress); };
  const pugi::xml_node rep = RepElement(root);
  const int64_t mail_size = rep.attribute("size").as_llong(0);
  const auto flags = static_cast<uint16_t>(rep.attribute("flag").as_llong(0) & 0xFFFF);
  if (!rep || (flags & mfAdminOnly) || mail_size <= 0 ||
      file.Size != PaddedBlockLength(mail_size) || MessagesDir.empty())
    return store();
  std::array<uint8_t, kCipherKeySize> key{};
  struct Wipe {
    std::array<uint8_t, kCipherKeySize>& k;
    ~Wipe() { SecureWipe(k.data(), k.size()); }
  } wipe{key};
  if (!MailKey(send_mode_, MessagesDir + uuid_ + ".ems", key)) return store();

  auto plain = std::make_unique<TPlainMail>();
  const int fd = CreateUniqueFile(MessagesDir, uuid_ + ".", ".part", plain->Path);
  if (fd < 0) {
    ShowFileError(MessagesDir + file.Name, errno);
    return {false, {}};
  }
  ::close(fd);
  const THashValue iv = HashString(uuid_);
  TDecipherLayers layers;
  if (!file.Skip) {
    layers.OuterKey = keys.SessionKey.data();
    layers.OuterIv = keys.SessionId.data();
  }
  layers.Key = key.data();
  layers.Iv = iv.data();
  layers.LastLength = static_cast<uint8_t>(mail_size % 32);
  THashValue wire_hash{};
  {
    TEFileStream out(plain->Path, true, false, fmOpenReadWrite);
    if (!out.Opened()) {
      ShowFileError(MessagesDir + file.Name, EIO);
      return {false, {}};
    }
    if (!DecipherStreamWithHashes(reply, file.Size, out, progress_data, progress, &wire_hash,
                                  &plain->Hash, layers)) {
      // A failed write: the user learns why (a full disk in their
      // language). Otherwise the reply ended early (cut off while it
      // arrived).
      if (out.LastWriteError() == 0) return {false, "msgInvalidData"};
      ShowFileError(MessagesDir + file.Name, out.LastWriteError());
      return {false, {}};
    }
  }
  std::array<uint8_t, kEnvelopeSignatureSize> signature{};
  if (!reply.ReadBuffer(signature.data(), signature.size()) ||
      !VerifyServerSignature(wire_hash, keys.ServerKey, signature.data()))
    return {false, "msgUnauthenticSignature"};
  plain_ = std::move(plain);
  return {true, {}};
}

}  // namespace qovra
