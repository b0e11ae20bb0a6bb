#include "net/envelope_files.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "base/file_stream.h"
#include "base/utf.h"
#include "keys/crypto_binding.h"
#include "keys/random_text.h"
#include "net/envelope.h"
#include "net/envelope_verify.h"
#include "net/server_request_folders.h"
#include "platform/file_utils.h"

namespace qovra {
namespace {

constexpr size_t kMaxReplyFileNameLen = 255;

TReplyFileResult Failed(std::string_view key) {
  return {false, key};
}

// The folder for type, created when it is the data folder and missing.
std::string TargetFolder(int type) {
  std::string folder = ReplyFileFolder(type);
  if (folder.empty()) return {};
  if (type == 2 && !ForceDirectoriesW(Utf8ToUtf16(folder))) return {};
  return folder;
}

}  // namespace

bool IsSafeReplyFileName(std::string_view name) {
  if (name.empty() || name.size() > kMaxReplyFileNameLen) return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
  }
  if (name == ".") return false;
  // Well-formed UTF-8 survives the round trip unchanged.
  return Utf16ToUtf8(Utf8ToUtf16(name)) == name;
}

int64_t ReplyFileSpan(const TReplyFile& file) {
  return (file.Skip ? file.Size : PaddedBlockLength(file.Size)) +
         static_cast<int64_t>(kEnvelopeSignatureSize);
}

TReplyFileResult StoreReplyFile(TStream& reply, const TReplyFile& file, const TEnvelopeKeys& keys,
                                void* progress_data, TProgressProc progress) {
  if (!IsSafeReplyFileName(file.Name) || file.Size <= 0) return Failed("msgInvalidData");
  const std::string folder = TargetFolder(file.Type);
  if (folder.empty()) return Failed("msgInvalidData");

  const int64_t remaining = reply.Size() - reply.Position();
  if (file.Size > remaining) return Failed("msgInvalidData");
  const int64_t wire_size = file.Skip ? file.Size : PaddedBlockLength(file.Size);
  if (wire_size > remaining) return Failed("msgInvalidData");

  const std::string target = folder + file.Name;
  const std::string temp_name = folder + "~" + RandomHexString(8) + ".part";
  auto out = std::make_unique<TEFileStream>(temp_name, true, true, fmCreate);
  if (!out->Opened()) {
    ShowFileError(target, errno);
    return Failed({});
  }

  THashValue hash{};
  bool copied;
  if (file.Skip) {
    copied = CopyStreamWithHash(reply, file.Size, *out, progress_data, progress, &hash, nullptr) ==
             file.Size;
  } else {
    const auto last = static_cast<uint8_t>(file.Size % 32);
    copied =
        CryptStreamWithHash(reply, wire_size, *out, progress_data, progress, &hash, keys.SessionKey,
                            keys.SessionId, CryptLastLengthFlags(last) | csHashInput);
  }
  if (!copied) {
    // A write that failed is the user's to know; otherwise the reply came
    // up short (it was cut off while it arrived).
    if (out->LastWriteError() == 0) return Failed("msgInvalidData");
    ShowFileError(target, out->LastWriteError());
    return Failed({});
  }

  std::array<uint8_t, kEnvelopeSignatureSize> signature{};
  if (!reply.ReadBuffer(signature.data(), signature.size()) ||
      !VerifyServerSignature(hash, keys.ServerKey, signature.data())) {
    return Failed("msgUnauthenticSignature");
  }

  out->SetDeleteOnFree(false);
  out.reset();
  if (std::rename(temp_name.c_str(), target.c_str()) != 0) {
    const int err = errno;
    std::remove(temp_name.c_str());
    ShowFileError(target, err);
    return Failed({});
  }
  return {true, {}};
}

}  // namespace qovra
