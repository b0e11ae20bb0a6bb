// A fixture for key loading and the settings checks: a fake window seam, a
// scratch folder, the test client's key files and clean settings.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/cp1251.h"
#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "core/net/envelope_test_writer.h"
#include "net/server_request.h"
#include "pki.h"
#include "seam/fake_ui.h"
#include "support/scratch_dir.h"
#include "zarvo/formats.h"

namespace qovra_test {

class SessionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    WriteClearKeyFile();
    std::ofstream(CertFile(), std::ios::binary) << ClientParty().Cert();
    qovra::Options.Keys.keyssrc = 0;
    qovra::Options.Keys.pvkpath = qovra::Utf8ToUtf16(KeyFile());
    qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(CertFile());
  }
  void TearDown() override {
    qovra::Options = qovra::TOptions{};
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::ClearMsgTable();
  }

  std::string KeyFile() const { return dir_.File("user.prk"); }
  std::string CertFile() const { return dir_.File("user.cer"); }

  void WriteClearKeyFile() {
    std::ofstream(KeyFile(), std::ios::binary | std::ios::trunc) << Bytes(ClientParty().Priv());
  }
  // A protected key file with a key-agreement record of its own; password
  // is typed text (UTF-8), stored as its 8-bit bytes.
  void WriteProtectedKeyFile(const std::string& password) {
    keytool::Bytes bytes;
    std::string err;
    ASSERT_TRUE(keytool::KeyFileBytes(ClientParty().party.keys, qovra::Utf8ToCp1251(password), true,
                                      zarvo::kKeyFileMinIterations, &bytes, &err))
        << err;
    WriteAll(KeyFile(), bytes);
  }

  std::vector<std::string> Shown() { return ui_->ShownTexts(); }
  std::vector<std::string> Only(std::string_view key) const { return {qovra::GetMsg(key)}; }

  qovra::testing::ScopedFakeUi ui_;
  qovra::testing::ScratchDir dir_;
  int owner_dummy_ = 0;
  qovra::TWindowHandle owner_ = &owner_dummy_;
};

}  // namespace qovra_test
