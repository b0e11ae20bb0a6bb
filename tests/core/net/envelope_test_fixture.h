// A fixture for reply processing: a fake window seam, a scratch folder with
// the temporary and messages folders, and a session between the test client
// and the test server. Every test ends with no file left in the temporary
// folder and no half-written file in the messages folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"
#include "base/utf.h"
#include "core/net/envelope_test_writer.h"
#include "net/server_request.h"
#include "net/server_request_folders.h"
#include "net/server_request_reply.h"
#include "platform/temp_files.h"
#include "seam/fake_ui.h"
#include "support/scratch_dir.h"

namespace qovra_test {

// Names in folder (not recursive).
inline std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

class EnvelopeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    std::filesystem::create_directories(TempFolder());
    std::filesystem::create_directories(MessagesFolder());
    qovra::SetTempFolder(TempFolder());
    qovra::MessagesDir = MessagesFolder();
    session_ = MakeTestSession();
    InstallSession(session_);
    qovra::HandshakeDone = true;
  }
  void TearDown() override {
    EXPECT_EQ(FolderEntries(TempFolder()), std::vector<std::string>{}) << "temporary files left";
    for (const std::string& name : FolderEntries(MessagesFolder())) {
      EXPECT_NE(name.front(), '~') << "half-written file left: " << name;
    }
    qovra::SetTempFolder("");
    qovra::MessagesDir.clear();
    qovra::Session.Clear();
    qovra::HandshakeDone = false;
    qovra::ClearMsgTable();
    qovra::Options = qovra::TOptions{};
  }

  // Settings for requests: the test client's key files (the clear 256-byte
  // record and the certificate), no proxy, and the client useiewc.
  void UseRequestSettings(uint8_t useiewc = 2) {
    const std::string prk = dir_.File("user.prk");
    const std::string cer = dir_.File("user.cer");
    std::ofstream(prk, std::ios::binary) << Bytes(ClientParty().Priv());
    std::ofstream(cer, std::ios::binary) << ClientParty().Cert();
    qovra::Options = qovra::TOptions{};
    qovra::Options.Keys.keyssrc = 0;
    qovra::Options.Keys.pvkpath = qovra::Utf8ToUtf16(prk);
    qovra::Options.Keys.crtpath = qovra::Utf8ToUtf16(cer);
    qovra::Options.Conn.useiewc = useiewc;
  }

  std::string TempFolder() const { return dir_.File("tmp") + "/"; }
  std::string MessagesFolder() const { return dir_.File("messages") + "/"; }

  int Process(const std::string& body, bool use_session = true,
              std::string_view form_class = "TfrmMain") {
    qovra::TMemoryStream reply(body);
    qovra::TReplyContext ctx;
    ctx.UseSession = use_session;
    ctx.Form = form_;
    ctx.FormClass = form_class;
    ctx.Title = "title";
    return qovra::ProcessServerReply(reply, ctx, doc_);
  }

  // The texts of the message boxes shown so far.
  std::vector<std::string> Shown() { return ui_->ShownTexts(); }
  // One message box with the text of key.
  std::vector<std::string> Only(std::string_view key) const { return {qovra::GetMsg(key)}; }

  qovra::testing::ScopedFakeUi ui_;
  qovra::testing::ScratchDir dir_;
  TestSession session_;
  pugi::xml_document doc_;
  int form_dummy_ = 0;
  qovra::TWindowHandle form_ = &form_dummy_;
};

}  // namespace qovra_test
