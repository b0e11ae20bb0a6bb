// The sealed mail key kept in ecm_mails.fau_data.
//
// One 64-byte cipher key of a mail is sealed with the first 64 bytes of the
// user's private record as cipher key and the hash of the 32 uuid
// characters as initialisation vector (EncryptString: a length byte, here
// 0, and 64 enciphered bytes), and stored as the Base64 of those 65 bytes
// (88 characters). Only the owner of the private record can unseal it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/records.h"
#include "store/sqlite_db.h"

namespace qovra {

constexpr size_t kSealedMailKeySize = 65;

// The 65-byte sealed form of key for the mail uuid; empty when the cipher
// refuses the private record's key.
std::string SealMailKey(std::string_view uuid, std::span<const uint8_t, 64> key,
                        std::span<const uint8_t, 256> private_key);

// Seals key and stores it in the row of mail.Uuid (also the size when
// MailSize is not 0). False when the database is not open, the key cannot
// be sealed, the statement fails or no row has that uuid.
[[nodiscard]] bool StoreMailKey(SqliteDb& db, const TMailMessage& mail,
                                std::span<const uint8_t, 64> key,
                                std::span<const uint8_t, 256> private_key);

}  // namespace qovra
