// Result codes of replies: what is shown, what is returned, and the
// expired-session prompt.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/msg_format.h"
#include "core/net/envelope_test_fixture.h"

namespace {

using qovra_test::EnvelopeFixture;

std::string Plain(int code) {
  return "<reply><res val=\"" + std::to_string(code) + "\"/></reply>";
}

class ResultCodeTest : public EnvelopeFixture {
 protected:
  std::string Enciphered(const std::string& xml) { return qovra_test::SessionReply(session_, xml); }
};

TEST_F(ResultCodeTest, PlainSessionExpiredPromptsOnceAndReturns6) {
  for (int prompt_result : {2, 1}) {
    ui_->messages.clear();
    ui_->prompts.clear();
    qovra::HandshakeDone = true;
    ui_->on_reauthenticate = [&] {
      // The prompt runs with the handshake flag already cleared.
      EXPECT_FALSE(qovra::HandshakeDone);
      qovra::Session.State = prompt_result == 1 ? 1 : 0;
      return prompt_result;
    };
    EXPECT_EQ(Process(Plain(6)), 6) << prompt_result;
    EXPECT_EQ(Shown(), Only("msgSessionIsExpired"));
    ASSERT_EQ(ui_->prompts.size(), 1u);
    EXPECT_TRUE(ui_->prompts[0].reauthenticate);
    EXPECT_EQ(ui_->prompts[0].caption, qovra::GetMsg("msgPasswordCaption"));
    EXPECT_EQ(ui_->prompts[0].icon_name, "ico_lock48");
  }
}

TEST_F(ResultCodeTest, ExpiredSessionInsideThePromptOpensNoSecondPrompt) {
  int inner = -1;
  ui_->on_reauthenticate = [&] {
    inner = Process(Plain(6));  // the prompt's own request meets an expired session
    return 2;
  };
  EXPECT_EQ(Process(Plain(6)), 6);
  EXPECT_EQ(inner, 6);
  EXPECT_EQ(ui_->prompts.size(), 1u);
  EXPECT_EQ(Shown(), (std::vector<std::string>{qovra::GetMsg("msgSessionIsExpired"),
                                               qovra::GetMsg("msgSessionIsExpired")}));
}

TEST_F(ResultCodeTest, PlainCodes) {
  struct Row {
    const char* name;
    std::string body;
    const char* form_class;
    int result;
    std::vector<std::string> shown;
  };
  const Row rows[] = {
      {"3AtLoginWindow", Plain(3), "TfrmLogin", 3, {}},
      {"3AtLoginWindowAnyCase", Plain(3), "tfrmlogin", 3, {}},
      {"3Elsewhere", Plain(3), "TfrmPassword", 3, Only("msgServerError3")},
      {"Other", Plain(12), "TfrmLogin", 12, Only("msgServerError12")},
      // No text of its own (there is no msgServerError0): shown as invalid data.
      {"NotANumber", "<reply><res val=\"x\"/></reply>", "TfrmMain", 0, Only("msgInvalidData")},
      {"PlainSuccessIsNoSuccess", Plain(1), "TfrmMain", 0, Only("msgConnectionError")},
      {"NoRes", "<reply><other/></reply>", "TfrmMain", 0, Only("msgConnectionError")},
      {"Empty", "", "TfrmMain", 0, Only("msgConnectionError")},
  };
  for (const Row& r : rows) {
    ui_->messages.clear();
    EXPECT_EQ(Process(r.body, true, r.form_class), r.result) << r.name;
    EXPECT_EQ(Shown(), r.shown) << r.name;
    EXPECT_TRUE(ui_->prompts.empty()) << r.name;
  }
}

TEST_F(ResultCodeTest, PlainParseErrorIsAnErrorBox) {
  EXPECT_EQ(Process("<reply><res val=\"3\"></reply>"), 0);
  ASSERT_EQ(ui_->messages.size(), 1u);
  EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconError);
  // The parser's English reason goes to the log, not into the message.
  EXPECT_EQ(ui_->messages[0].text, qovra::GetMsg("msgXmlParsingError"));
}

TEST_F(ResultCodeTest, EncipheredCodes) {
  qovra::SetMsg("msgServerError15", "Certificate already registered as %s.");
  qovra::SetMsg("msgServerError16", "Login %s is taken.");
  struct Row {
    const char* name;
    std::string xml;
    const char* form_class;
    int result;
    std::vector<std::string> shown;
  };
  const Row rows[] = {
      {"3AtLoginWindowIsShown", Plain(3), "TfrmLogin", 3, Only("msgServerError3")},
      {"6IsShownWithoutPrompt", Plain(6), "TfrmMain", 6, Only("msgServerError6")},
      {"15WithRegistered",
       "<reply><res val=\"15\"/><registered val=\"alice\"/></reply>",
       "TfrmMain",
       15,
       {"Certificate already registered as alice."}},
      {"16RegisteredBeforeRes",
       "<reply><REGISTERED val=\"bob\"/><res val=\"16\"/></reply>",
       "TfrmMain",
       16,
       {"Login bob is taken."}},
      {"15WithoutRegistered",
       "<reply><res val=\"15\"/></reply>",
       "TfrmMain",
       15,
       {"Certificate already registered as 0."}},
      {"ResNameAnyCase", "<reply><RES val=\"1\"/></reply>", "TfrmMain", 1, {}},
      {"NotANumber", "<reply><res val=\"1x\"/></reply>", "TfrmMain", 0, Only("msgInvalidData")},
      {"NoRes", "<reply><other val=\"1\"/></reply>", "TfrmMain", 0, Only("msgConnectionError")},
      {"SecondResAfterSuccess", "<reply><res val=\"1\"/><res val=\"9\"/></reply>", "TfrmMain", 9,
       Only("msgServerError9")},
  };
  for (const Row& r : rows) {
    ui_->messages.clear();
    EXPECT_EQ(Process(Enciphered(r.xml), true, r.form_class), r.result) << r.name;
    EXPECT_EQ(Shown(), r.shown) << r.name;
    EXPECT_TRUE(ui_->prompts.empty()) << r.name;
    EXPECT_TRUE(qovra::HandshakeDone) << r.name;
  }
}

TEST_F(ResultCodeTest, MessagesGoToTheRequestingWindow) {
  EXPECT_EQ(Process(Enciphered(Plain(4))), 4);
  ASSERT_EQ(ui_->messages.size(), 1u);
  EXPECT_EQ(ui_->messages[0].owner, form_);
  EXPECT_EQ(ui_->messages[0].flags, qovra::kMsgIconWarning);
}

}  // namespace
