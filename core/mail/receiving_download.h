// A downloaded mail deciphered while it is read from the server's reply.
//
// The enciphered file of an ordinary mail is never stored: its wire bytes
// are checked against the server's signature, deciphered (under the
// session key when the server enciphered them, then under the mail key)
// and hashed for the sender's signature in one threaded pass, straight
// into a temporary file beside the mail's final name. The receiving run
// then checks that file (length, signature, container) and renames it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "keys/crypto_binding.h"
#include "net/envelope_files.h"

namespace qovra {

// The plain container of one mail, not yet checked.
struct TPlainMail {
  std::string Path;   // temporary file in MessagesDir; removed with this record
  THashValue Hash{};  // of the plain bytes, which the sender signed
  TPlainMail() = default;
  TPlainMail(const TPlainMail&) = delete;
  TPlainMail& operator=(const TPlainMail&) = delete;
  ~TPlainMail();
};

// Takes <uuid>.eme of a download (166) reply. In secure mode the mail's
// key is agreed with the sender of the certificate in <uuid>.ems, which the
// reply stores first (when a server sends it after the mail, the mail is
// taken once it is stored); in fast mode it is the session key, and the
// certificate is checked with the mail's other checks. A mail for
// administrative use only, a reply without its `rep`, (in secure mode) an
// unreadable signature container or sender certificate or a refused key
// agreement, or a file that is not the whole blocks of the announced size
// is stored as <uuid>.eme instead (StoreReplyFile), and the receiving run
// reports it as before. A failed server signature or a failed write fails
// the whole download and leaves no file.
class TMailFileTaker : public IReplyFileTaker {
 public:
  // send_mode: of the new-mails list (kSendModeSecure or kSendModeFast).
  TMailFileTaker(std::string uuid, uint8_t send_mode);

  bool Takes(const TReplyFile& file) override;
  // In fast mode the key is the session's, so the file is deciphered while
  // it arrives; in secure mode only once this reply brought the signature
  // container with the sender's certificate.
  bool TakesInPlace(const TReplyFile& file, const std::vector<TReplyFile>& stored_before) override;
  TReplyFileResult Take(TStream& reply, const TReplyFile& file, const TEnvelopeKeys& keys,
                        const pugi::xml_node& root, void* progress_data,
                        TProgressProc progress) override;

  // The plain mail once taken; null when the file was stored instead.
  std::unique_ptr<TPlainMail> Release() { return std::move(plain_); }

 private:
  std::string uuid_;
  uint8_t send_mode_;
  std::unique_ptr<TPlainMail> plain_;
};

}  // namespace qovra
