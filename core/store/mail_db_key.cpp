#include "store/mail_db_key.h"

#include "base/base64.h"
#include "keys/crypto_binding.h"

namespace qovra {

std::string SealMailKey(std::string_view uuid, std::span<const uint8_t, 64> key,
                        std::span<const uint8_t, 256> private_key) {
  const THashValue iv = HashString(uuid);
  const std::string_view plain(reinterpret_cast<const char*>(key.data()), key.size());
  std::string sealed = EncryptString(plain, iv, private_key.first<kCipherKeySize>());
  if (sealed.size() != kSealedMailKeySize) return {};
  return sealed;
}

bool StoreMailKey(SqliteDb& db, const TMailMessage& mail, std::span<const uint8_t, 64> key,
                  std::span<const uint8_t, 256> private_key) {
  if (!db.IsOpen()) return false;
  const std::string sealed = SealMailKey(mail.Uuid.view(), key, private_key);
  if (sealed.empty()) return false;
  const bool with_size = mail.MailSize != 0;
  SqliteStatement update =
      db.Prepare(with_size ? "UPDATE ecm_mails SET mail_size = ?,fau_data = ? WHERE uuid = ?"
                           : "UPDATE ecm_mails SET fau_data = ? WHERE uuid = ?");
  int next = 1;
  if (with_size) update.Bind(next++, mail.MailSize);
  update.Bind(next, Base64Encode(sealed));
  update.Bind(next + 1, mail.Uuid.view());
  return update.Run() && db.Changes() > 0;
}

}  // namespace qovra
