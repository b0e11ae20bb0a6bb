// The read receipt's rules: when it is due, and how the reply of 170 is
// applied to the opened mail.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "base/time_stamp.h"
#include "mail/mail_open.h"

namespace qovra {
namespace {

TEST(ReadReceipt, DueOnlyOnlineForAnUnreadReceivedMailThatAsks) {
  // local: read here alone, without a command (the server marked the copy
  // read at download when no report was asked).
  const struct {
    const char* what;
    uint8_t state;
    uint16_t flags;
    bool due;
    bool local;
  } rows[] = {
      {"Online", 1, mfReceived | mfReadReport, true, false},
      {"Offline", 2, mfReceived | mfReadReport, false, false},
      {"NotLoggedIn", 0, mfReceived | mfReadReport, false, false},
      {"AlreadyRead", 1, mfReceived | mfReadReport | mfRead, false, false},
      {"NotAsked", 1, mfReceived, false, true},
      {"NotAskedOffline", 2, mfReceived | mfDeliveryReport, false, true},
      {"NotAskedAlreadyRead", 1, mfReceived | mfRead, false, false},
      {"SentNotReceived", 1, mfSent | mfReadReport, false, false},
      {"SentNotAsked", 1, mfSent, false, false},
  };
  for (const auto& r : rows) {
    Session.State = r.state;
    TMailMessage mail;
    mail.Flags = r.flags;
    EXPECT_EQ(ReadReceiptDue(mail), r.due) << r.what;
    EXPECT_EQ(LocalReadDue(mail), r.local) << r.what;
  }
  Session.State = 0;
}

TEST(ReadReceipt, ReplyIsAppliedAndTheReceiptNeverRepeats) {
  constexpr uint16_t kStart = mfReceived | mfReadReport | mfAttachments;
  const struct {
    const char* what;
    const char* reply;
    uint16_t flags;
    const char* suid;
    const char* read;
  } rows[] = {
      {"FlagWithRead",
       R"(<rep suid="ABC123" flag="241" received_time="2026-12-10 08:00:00"
            read_time="2026-12-10 08:05:00"/>)",
       241, "ABC123", "2026-12-10 08:05:00"},
      // The server's flag lacks 0x20: set here, so the receipt goes once.
      {"FlagWithoutRead", R"(<rep suid="ABC123" flag="209"/>)", 209 | mfRead, "ABC123",
       "0000-00-00 00:00:00"},
      // No flag, or no number: the flags stay (not 1).
      {"NoFlag", R"(<rep suid="ABC123"/>)", kStart | mfRead, "ABC123", "0000-00-00 00:00:00"},
      {"FlagNotANumber", R"(<rep flag="x1" read_time="bad"/>)", kStart | mfRead, "OLD",
       "0000-00-00 00:00:00"},
      // An id that cannot be stored keeps the old one.
      {"BadSuid", R"(<rep suid="../x" flag="16"/>)", 16 | mfRead, "OLD", "0000-00-00 00:00:00"},
      {"NoRep", "<other/>", kStart | mfRead, "OLD", "0000-00-00 00:00:00"},
  };
  for (const auto& r : rows) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(r.reply)) << r.what;
    TMailMessage mail;
    mail.Flags = kStart;
    mail.Suid = "OLD";
    ApplyReadReceiptReply(doc.child("rep"), mail);
    EXPECT_EQ(mail.Flags, r.flags) << r.what;
    EXPECT_EQ(mail.Suid.view(), r.suid) << r.what;
    EXPECT_EQ(DateTimeToStamp(true, mail.ReadTime), r.read) << r.what;
  }
}

}  // namespace
}  // namespace qovra
