// Loading the user's keys from key files: the password prompt, the cached
// password, and every way a key file or certificate can be unusable.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include "core/net/session_test_fixture.h"
#include "net/session_setup.h"

namespace {

using qovra_test::ClientParty;

class LoadUserKeysTest : public qovra_test::SessionFixture {
 protected:
  // Fills the key records with a marker so that a failed load shows.
  static void MarkKeyRecords() {
    qovra::Session.OwnPrivateKey.fill(0xEE);
    qovra::Session.OwnDhKey.fill(0xEE);
    qovra::Session.OwnPublicKey.fill(0xEE);
  }
  static bool KeyRecordsMarked() {
    return qovra::Session.OwnPrivateKey[0] == 0xEE && qovra::Session.OwnDhKey[0] == 0xEE &&
           qovra::Session.OwnPublicKey[767] == 0xEE;
  }
};

TEST_F(LoadUserKeysTest, ClearKeyFileLoadsWithoutAsking) {
  ASSERT_TRUE(qovra::LoadUserKeys(owner_));
  EXPECT_TRUE(ui_->prompts.empty());
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_EQ(qovra::Session.OwnPrivateKey, ClientParty().Priv());
  EXPECT_EQ(qovra::Session.OwnPublicKey, ClientParty().Pub());
  // A 256-byte file has no key-agreement record: the public one stands in.
  EXPECT_EQ(qovra::Session.OwnDhKey, qovra::Session.OwnPublicKey);
}

TEST_F(LoadUserKeysTest, ProtectedKeyFileAsksOnceThenUsesTheCachedPassword) {
  WriteProtectedKeyFile("пароль1");
  ui_->QueueSecret("пароль1");
  ASSERT_TRUE(qovra::LoadUserKeys(owner_)) << testing::PrintToString(Shown());
  ASSERT_EQ(ui_->prompts.size(), 1u);
  EXPECT_FALSE(ui_->prompts[0].reauthenticate);
  EXPECT_EQ(ui_->prompts[0].owner, owner_);
  EXPECT_EQ(ui_->prompts[0].caption, qovra::GetMsg("msgPrivateKeyIsPasswordEncrypted"));
  EXPECT_EQ(ui_->prompts[0].prompt, qovra::GetMsg("msgEnterPrivateKeyPassword"));
  EXPECT_EQ(ui_->prompts[0].icon_name, "ico_lock48");
  EXPECT_EQ(qovra::Session.PrivateKeyPassword, qovra::Utf8ToCp1251("пароль1"));
  EXPECT_EQ(qovra::Session.OwnPrivateKey, ClientParty().Priv());
  EXPECT_NE(qovra::Session.OwnDhKey, qovra::Session.OwnPublicKey);
  EXPECT_TRUE(std::equal(qovra::Session.OwnDhKey.begin() + 288,
                         qovra::Session.OwnDhKey.begin() + 416, ClientParty().Pub().begin() + 288));

  ASSERT_TRUE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(ui_->prompts.size(), 1u);
}

TEST_F(LoadUserKeysTest, WrongOrEmptyPasswordIsForgotten) {
  WriteProtectedKeyFile("right one");
  for (const char* typed : {"wrong one", ""}) {
    ui_->messages.clear();
    const size_t prompts = ui_->prompts.size();
    ui_->QueueSecret(std::string(typed));
    MarkKeyRecords();
    EXPECT_FALSE(qovra::LoadUserKeys(owner_)) << typed;
    EXPECT_EQ(ui_->prompts.size(), prompts + 1) << typed;
    EXPECT_EQ(Shown(), Only("msgUserPrivateKeyPasswordIncorrect")) << typed;
    EXPECT_TRUE(qovra::Session.PrivateKeyPassword.empty()) << typed;
    EXPECT_TRUE(KeyRecordsMarked()) << typed;
  }
  // The next request asks again, and the right password works.
  ui_->QueueSecret(std::string("right one"));
  EXPECT_TRUE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(ui_->prompts.size(), 3u);
}

TEST_F(LoadUserKeysTest, CancelledPromptSaysNothing) {
  WriteProtectedKeyFile("pw");
  MarkKeyRecords();
  EXPECT_FALSE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(ui_->prompts.size(), 1u);
  EXPECT_TRUE(ui_->messages.empty());
  EXPECT_TRUE(KeyRecordsMarked());
}

TEST_F(LoadUserKeysTest, UnusableFiles) {
  const std::string cert = ClientParty().Cert();
  struct Row {
    const char* name;
    std::string key_file;
    std::string cert_file;
    const char* key;
  };
  const std::string clear_key = qovra_test::Bytes(ClientParty().Priv());
  const Row rows[] = {
      {"EmptyKeyFile", "", cert, "msgUserPrivateKeyInvalid"},
      {"JunkKeyFile", std::string(300, 'j'), cert, "msgUserPrivateKeyInvalid"},
      {"ShortKeyFile", clear_key.substr(0, 200), cert, "msgUserPrivateKeyInvalid"},
      {"EmptyCertificate", clear_key, "", "msgUserCertificateInvalid"},
      {"BadCertificate", clear_key, std::string(500, 'c'), "msgUserCertificateInvalid"},
      {"CutCertificate", clear_key, cert.substr(0, cert.size() - 10), "msgUserCertificateInvalid"},
  };
  for (const Row& r : rows) {
    ui_->messages.clear();
    std::ofstream(KeyFile(), std::ios::binary | std::ios::trunc) << r.key_file;
    std::ofstream(CertFile(), std::ios::binary | std::ios::trunc) << r.cert_file;
    MarkKeyRecords();
    EXPECT_FALSE(qovra::LoadUserKeys(owner_)) << r.name;
    EXPECT_EQ(Shown(), Only(r.key)) << r.name;
    EXPECT_TRUE(ui_->prompts.empty()) << r.name;
    EXPECT_TRUE(KeyRecordsMarked()) << r.name;
  }
}

TEST_F(LoadUserKeysTest, KeyFileDamagedBetweenTwoRequests) {
  WriteProtectedKeyFile("pw");
  ui_->QueueSecret(std::string("pw"));
  ASSERT_TRUE(qovra::LoadUserKeys(owner_));
  const std::array<uint8_t, 768> dh = qovra::Session.OwnDhKey;

  std::string bytes = qovra::testing::ScratchDir::Read(KeyFile());
  bytes[bytes.size() - 3] = static_cast<char>(bytes[bytes.size() - 3] ^ 1);
  std::ofstream(KeyFile(), std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_FALSE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(ui_->messages.size(), 1u);
  EXPECT_TRUE(qovra::Session.PrivateKeyPassword.empty());
  // What the first request loaded stays.
  EXPECT_EQ(qovra::Session.OwnDhKey, dh);
  EXPECT_EQ(qovra::Session.OwnPrivateKey, ClientParty().Priv());

  // A clear file cut short between two requests.
  ui_->messages.clear();
  WriteClearKeyFile();
  ASSERT_TRUE(qovra::LoadUserKeys(owner_));
  std::filesystem::resize_file(KeyFile(), 255);
  EXPECT_FALSE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(Shown(), Only("msgUserPrivateKeyInvalid"));
}

TEST_F(LoadUserKeysTest, MissingPathsGoToTheSettings) {
  qovra::Options.Keys.crtpath.clear();
  ui_->options_answers = {qovra::kOptionsCancelled};
  EXPECT_FALSE(qovra::LoadUserKeys(owner_));
  EXPECT_EQ(Shown(), Only("msgCertificatePathNotSpecified"));
  ASSERT_EQ(ui_->options_calls.size(), 1u);
  EXPECT_EQ(ui_->options_calls[0].page, 2);
  EXPECT_TRUE(ui_->prompts.empty());
}

}  // namespace
