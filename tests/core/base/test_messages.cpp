#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/messages.h"
#include "base/msg_format.h"
#include "seam/fake_ui.h"
#include "seam/ui_seam.h"

namespace qovra {
namespace {

using testing::ProgressEvent;
using testing::ScopedFakeUi;

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearMsgTable(); }
  void TearDown() override { ClearMsgTable(); }
};

TEST_F(MessagesTest, KeyDerivedTextForMissingKeys) {
  struct Case {
    const char* key;
    const char* text;
  } const cases[] = {
      {"msgConnectionError", "Connection error"},
      {"msgServerError15", "Server error 15"},
      {"msgServerError6", "Server error 6"},
      {"btnYes", "Yes"},
      {"folder0", "0"},
      {"Connection", "Connection"},
      {"msgEMailAddressesIsInvalid", "E mail addresses is invalid"},
      {"lowercase", "lowercase"},  // no word at all: the key itself
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(GetMsg(c.key), c.text) << c.key;
}

TEST_F(MessagesTest, TableEntriesWinIgnoringCaseAndMayBeEmpty) {
  SetMsg("msgHello", "Salom");
  SetMsg("msgEmpty", "");
  EXPECT_EQ(GetMsg("msgHello"), "Salom");
  EXPECT_EQ(GetMsg("MSGHELLO"), "Salom");
  EXPECT_EQ(GetMsg("msgEmpty"), "");
  EXPECT_EQ(GetMsg("msgOther"), "Other");

  ReplaceMsgTable({{"msgA", "first"}, {"msga", "second"}});
  EXPECT_EQ(GetMsg("msgA"), "first");
  EXPECT_EQ(GetMsg("msgHello"), "Hello");  // replaced whole
}

TEST_F(MessagesTest, WrappersPassFlagsCaptionsAndOwners) {
  ScopedFakeUi ui;
  int form = 0, active = 0, given = 0;
  ui->active_form_window = &form;
  ui->active_window = &active;
  SetMsg("btnYes", "Ha");
  SetMsg("btnNo", "Yo'q");
  SetMsg("btnCancel", "Bekor");

  ShowWarning(nullptr, "msgDiskFull");
  ShowInfo(nullptr, "msgDone");
  ShowInfo(&given, "msgDone");
  ASSERT_EQ(ui->messages.size(), 3u);
  EXPECT_EQ(ui->messages[0].owner, &form);
  EXPECT_EQ(ui->messages[0].flags, 48);
  EXPECT_EQ(ui->messages[0].text, "Disk full");
  EXPECT_EQ(ui->messages[0].ok_caption, "OK");
  EXPECT_EQ(ui->messages[0].no_caption, "");
  EXPECT_EQ(ui->messages[1].owner, &active);
  EXPECT_EQ(ui->messages[1].flags, 64);
  EXPECT_EQ(ui->messages[2].owner, &given);
}

TEST_F(MessagesTest, QuestionsReturnScriptedAnswers) {
  ScopedFakeUi ui;
  SetMsg("btnYes", "Ha");
  SetMsg("btnNo", "Yo'q");
  ui->QueueAnswer(kMsgResultYes);
  ui->QueueAnswer(kMsgResultNo);
  ui->QueueAnswer(kMsgResultCancel);
  ui->QueueAnswer(kMsgResultNo);
  EXPECT_TRUE(AskYesNo(nullptr, "msgDelete"));
  EXPECT_FALSE(AskYesNo(nullptr, "msgDelete"));
  EXPECT_FALSE(AskYesNo(nullptr, "msgDelete"));  // Esc reads as no
  EXPECT_EQ(AskYesNoCancel(nullptr, "msgSave"), kMsgResultNo);
  EXPECT_EQ(AskYesNoCancel(nullptr, "msgSave"), kMsgResultCancel);  // queue empty: Esc
  ASSERT_EQ(ui->messages.size(), 5u);
  EXPECT_EQ(ui->messages[0].flags, 36);
  EXPECT_EQ(ui->messages[0].ok_caption, "Ha");
  EXPECT_EQ(ui->messages[0].no_caption, "Yo'q");
  EXPECT_EQ(ui->messages[3].flags, 40);
  EXPECT_EQ(ui->messages[3].cancel_caption, "Cancel");  // key-derived: not in the table
}

TEST_F(MessagesTest, ShowMessageTextShowsTextAsGiven) {
  ScopedFakeUi ui;
  ui->QueueAnswer(kMsgResultYes);
  EXPECT_EQ(ShowMessageText(nullptr, "msgNotAKey %s", 36), kMsgResultYes);
  EXPECT_EQ(ShowMessageText(nullptr, "plain", 16), kMsgResultCancel);
  ASSERT_EQ(ui->messages.size(), 2u);
  EXPECT_EQ(ui->messages[0].text, "msgNotAKey %s");
  EXPECT_EQ(ui->messages[0].ok_caption, "Yes");
  EXPECT_EQ(ui->messages[0].no_caption, "No");
  EXPECT_EQ(ui->messages[1].ok_caption, "OK");
}

TEST(UiSeam, ProgressAndTimerPauseGoThroughTheSeam) {
  ScopedFakeUi ui;
  int bar = 0;
  ShowProgress(nullptr, true, "Sending", "Please wait");
  ProgressCallback(&bar, 100, 40);
  HideProgress(nullptr, false);
  ASSERT_EQ(ui->progress.size(), 3u);
  EXPECT_EQ(ui->progress[0].kind, ProgressEvent::Kind::Show);
  EXPECT_EQ(ui->progress[0].title, "Sending");
  EXPECT_TRUE(ui->progress[0].flag);
  EXPECT_EQ(ui->progress[1].bar, &bar);
  EXPECT_EQ(ui->progress[1].total, 100);
  EXPECT_EQ(ui->progress[1].done, 40);
  EXPECT_EQ(ui->progress[2].kind, ProgressEvent::Kind::Hide);

  ui->timer_enabled = true;
  {
    TReceiveTimerPause pause;
    EXPECT_FALSE(ui->timer_enabled);
  }
  EXPECT_TRUE(ui->timer_enabled);
  ui->timer_changes.clear();
  ui->timer_enabled = false;
  { TReceiveTimerPause pause; }
  EXPECT_TRUE(ui->timer_changes.empty());  // a stopped timer stays stopped
}

TEST(UiSeam, OpenMessageDialogsAreCounted) {
  ScopedFakeUi ui;
  std::vector<int> open_seen;
  ui->on_message = [&](const std::string& text) {
    open_seen.push_back(MessageDialogsOpen());
    if (text == "outer") (void)ShowMessageText(nullptr, "inner", kMsgIconInformation);
  };
  (void)ShowMessageText(nullptr, "outer", kMsgIconInformation);
  EXPECT_EQ(open_seen, (std::vector<int>{1, 2}));
  EXPECT_EQ(MessageDialogsOpen(), 0);
}

TEST(UiSeam, HeadlessDefaultAnswersCancelWhenNothingIsInstalled) {
  EXPECT_EQ(MessageUi().ShowMsgDialog(nullptr, "headless", 48, "OK", "", ""), kMsgResultCancel);
  EXPECT_FALSE(ReceiveTimer().IsEnabled());
}

TEST(FormatMsg, FillsTypedArguments) {
  struct Case {
    std::string got;
    const char* expected;
  } const cases[] = {
      {FormatMsgArgs("%s has %d new mails", "ivan", 3), "ivan has 3 new mails"},
      {FormatMsgArgs("%u%%", 42u), "42%"},
      {FormatMsgArgs("code %x", 255), "code FF"},
      {FormatMsgArgs("%d", -7), "-7"},
      {FormatMsgArgs("%d", int64_t{1} << 40), "1099511627776"},
      {FormatMsgArgs("%s", std::u16string(u"\u0436")), "\xD0\xB6"},
      {FormatMsgArgs("no conversions"), "no conversions"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(FormatMsg, MarksMismatchesVisibly) {
  struct Case {
    std::string got;
    const char* expected;
  } const cases[] = {
      {FormatMsgArgs("%s and %s", "one"), "one and %!s(missing)"},
      {FormatMsgArgs("%d files", "many"), "%!d(text=many) files"},
      {FormatMsgArgs("%s", 5), "%!s(number=5)"},
      {FormatMsgArgs("%u", -1), "%!u(number=-1)"},
      {FormatMsgArgs("%x", -1), "%!x(number=-1)"},
      {FormatMsgArgs("%n%p", 1), "%!n(unknown)%!p(unknown)%!(extra=1)"},
      {FormatMsgArgs("tail %"), "tail %!(end)"},
      {FormatMsgArgs("%s", "a", 2, "b"), "a%!(extra=2, b)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

}  // namespace
}  // namespace qovra
