// The sealed mail key in ecm_mails.fau_data.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include "base/base64.h"
#include "keys/crypto_binding.h"
#include "store/mail_db.h"
#include "store/mail_db_key.h"
#include "support/scratch_dir.h"

namespace {

using qovra::SqliteDb;
using qovra::SqliteStatement;
using qovra::testing::ScratchDir;

constexpr const char* kUuid = "0123456789ABCDEF0123456789ABCDEF";

std::array<uint8_t, 256> PrivateRecord(const std::string& name) {
  const std::string bytes =
      ScratchDir::Read(std::string(QOVRA_FIXTURES) + "/keys/" + name + ".prk");
  std::array<uint8_t, 256> out{};
  EXPECT_EQ(bytes.size(), out.size());
  std::copy_n(bytes.begin(), std::min(bytes.size(), out.size()), out.begin());
  return out;
}

std::array<uint8_t, 64> MailKey() {
  std::array<uint8_t, 64> k{};
  for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(i * 11 + 5);
  return k;
}

class MailKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = dir.File("ecm.edb");
    std::filesystem::copy_file(std::string(QOVRA_BIN_DIR) + "/ecm.edb", path);
    ASSERT_TRUE(db.Open(path)) << db.LastError();
    mail.Uuid = kUuid;
    mail.Recipients.Add("bob@localhost");
    ASSERT_GT(qovra::SaveMailToDatabase(db, mail, "alice@localhost", nullptr, nullptr, false), 0);
  }
  std::pair<std::string, int64_t> Stored() {
    SqliteStatement q = db.Prepare("SELECT fau_data,mail_size FROM ecm_mails WHERE uuid=?");
    q.Bind(1, kUuid);
    EXPECT_EQ(q.Step(), SqliteStatement::StepResult::Row);
    return {q.ColumnText(0), q.ColumnInt(1)};
  }

  ScratchDir dir;
  SqliteDb db;
  qovra::TMailMessage mail;
};

TEST_F(MailKeyTest, StoresEightyEightCharactersThatUnsealToTheKey) {
  const auto priv = PrivateRecord("alice");
  const auto key = MailKey();
  mail.MailSize = 4321;
  ASSERT_TRUE(qovra::StoreMailKey(db, mail, key, priv)) << db.LastError();
  const auto [fau, size] = Stored();
  EXPECT_EQ(fau.size(), 88u);
  EXPECT_EQ(size, 4321);
  const std::string sealed = qovra::Base64Decode(fau);
  ASSERT_EQ(sealed.size(), 65u);
  EXPECT_EQ(sealed[0], '\0');  // 64 is a whole number of blocks
  const auto iv = qovra::HashString(kUuid);
  const std::string plain =
      qovra::DecryptString(sealed, iv, std::span<const uint8_t, 64>(priv.data(), 64));
  EXPECT_EQ(plain, std::string(reinterpret_cast<const char*>(key.data()), key.size()));
  // Another private record does not unseal it.
  const auto other = PrivateRecord("bob");
  EXPECT_NE(qovra::DecryptString(sealed, iv, std::span<const uint8_t, 64>(other.data(), 64)),
            plain);
}

TEST_F(MailKeyTest, SizeZeroLeavesTheStoredSize) {
  ASSERT_TRUE(db.Exec("UPDATE ecm_mails SET mail_size=77"));
  mail.MailSize = 0;
  ASSERT_TRUE(qovra::StoreMailKey(db, mail, MailKey(), PrivateRecord("alice")));
  EXPECT_EQ(Stored().second, 77);
}

TEST_F(MailKeyTest, RefusedKeyOrUnknownMailIsAFailure) {
  const std::array<uint8_t, 256> zero{};  // the cipher refuses an all-zero key
  EXPECT_FALSE(qovra::StoreMailKey(db, mail, MailKey(), zero));
  EXPECT_EQ(Stored().first, "");
  qovra::TMailMessage unknown;
  unknown.Uuid = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";
  EXPECT_FALSE(qovra::StoreMailKey(db, unknown, MailKey(), PrivateRecord("alice")));
  SqliteDb closed;
  EXPECT_FALSE(qovra::StoreMailKey(closed, mail, MailKey(), PrivateRecord("alice")));
}

}  // namespace
