// The server's mail store and signature-container reader on their own:
// copies and reports survive a reopen of the database, and the reader
// takes exactly the containers a sender writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "accounts.h"
#include "mail_store.h"
#include "sign_container.h"
#include "zarvo/pki_fixtures.h"

namespace {

using exchange::AccountStore;
using exchange::DeliverStatus;
using exchange::MailCopy;
using exchange::MailStore;

// Delivers a copy of body the way the commands do: through a part file.
DeliverStatus DeliverBytes(MailStore& store, MailCopy& copy, const std::string& body,
                           const std::string& signature) {
  int fd = -1;
  const std::string part = store.NewPartFile(fd);
  if (part.empty()) return DeliverStatus::Failed;
  const bool written = ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size());
  ::close(fd);
  const DeliverStatus status =
      written ? store.Deliver(copy, part, signature) : DeliverStatus::Failed;
  std::remove(part.c_str());
  return status;
}

TEST(ExchangeMailStore, CopiesAndReportsSurviveReopen) {
  qovra_test::TempDir dir;
  const std::string db = dir.path() + "/server.db", mail = dir.path() + "/mail";
  std::string error, suid;
  {
    AccountStore accounts;
    MailStore store;
    ASSERT_TRUE(accounts.Open(db, error)) << error;
    ASSERT_TRUE(store.Open(accounts.Database(), accounts.Mutex(), mail, error)) << error;
    MailCopy c;
    c.uuid = "0123456789ABCDEF0123456789ABCDEF";
    c.sender_account = 1;
    c.sender = "alice@localhost";
    c.recipient_account = 2;
    c.size = 5;
    c.sent_time = exchange::NowTimeText();
    c.ymbox = exchange::MonthText(c.sent_time);
    MailCopy first = c;
    ASSERT_EQ(DeliverBytes(store, first, "BODY!", "SIGN"), DeliverStatus::Ok);
    MailCopy again = c;
    again.uuid = "0123456789abcdef0123456789abcdef";  // the same mail in other case
    again.sent_time = "2027-01-02 03:04:05";
    again.ymbox = "202701";
    EXPECT_EQ(DeliverBytes(store, again, "X", "Y"), DeliverStatus::AlreadyHeld);
    // It names the copy held, not the one refused.
    EXPECT_EQ(again.suid, first.suid);
    EXPECT_EQ(again.ymbox, first.ymbox);
    EXPECT_EQ(again.sent_time, first.sent_time);
    EXPECT_EQ(again.sender_account, first.sender_account);
    MailCopy other = c;
    other.recipient_account = 3;
    ASSERT_EQ(DeliverBytes(store, other, "BODY!", "SIGN"), DeliverStatus::Ok);
    EXPECT_NE(other.suid, first.suid);
    ASSERT_TRUE(store.Report(first, true, false, "2026-12-09 10:00:00"));
    ASSERT_TRUE(store.Report(first, false, true, "2026-12-09 11:00:00"));
    suid = first.suid;
  }
  AccountStore accounts;
  MailStore store;
  ASSERT_TRUE(accounts.Open(db, error)) << error;
  ASSERT_TRUE(store.Open(accounts.Database(), accounts.Mutex(), mail, error)) << error;
  const std::optional<MailCopy> c =
      store.FindReceived(2, suid, exchange::MonthText(exchange::NowTimeText()));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->received_time, "2026-12-09 10:00:00");
  EXPECT_EQ(c->read_time, "2026-12-09 11:00:00");
  EXPECT_TRUE(c->acknowledged);
  EXPECT_TRUE(store.NewMails(2).empty());
  EXPECT_EQ(store.NewMails(3).size(), 1u);
  EXPECT_FALSE(store.FindSent(2, suid, c->ymbox));  // 2 received it, 1 sent it
  EXPECT_TRUE(store.FindSent(1, suid, c->ymbox));
  std::string body, sig;
  ASSERT_TRUE(store.ReadFiles(*c, body, sig));
  EXPECT_EQ(body, "BODY!");
  EXPECT_EQ(sig, "SIGN");
}

std::string Section(const std::string& name, const std::string& data) {
  return "\r\n--B0123456789\r\nContent-Disposition: form-data; name=\"" + name +
         "\"\r\nContent-Size: " + std::to_string(data.size()) + "\r\n\r\n" + data;
}

const std::string kHead =
    "MailUID: 0123456789ABCDEF0123456789ABCDEF\r\nSignedDate: 2026-12-01 10:00:00\r\n"
    "Content-Type: multipart/form-data; boundary=B0123456789\r\n";
const std::string kClose = "\r\n--B0123456789--";

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The database holds password equivalents and the folder the users' mail:
// both are the server user's only, whatever they were before.
TEST(ExchangeMailStore, DatabaseAndMailFilesAreOwnerOnly) {
  qovra_test::TempDir dir;
  const std::string db = dir.path() + "/server.db", mail = dir.path() + "/mail";
  ASSERT_TRUE(std::ofstream(db).good());
  ASSERT_EQ(::chmod(db.c_str(), 0644), 0);
  ASSERT_EQ(::mkdir(mail.c_str(), 0755), 0);
  std::string error;
  AccountStore accounts;
  MailStore store;
  ASSERT_TRUE(accounts.Open(db, error)) << error;
  ASSERT_TRUE(store.Open(accounts.Database(), accounts.Mutex(), mail, error)) << error;
  MailCopy c;
  c.uuid = "0123456789ABCDEF0123456789ABCDEF";
  c.recipient_account = 2;
  c.sent_time = exchange::NowTimeText();
  c.ymbox = exchange::MonthText(c.sent_time);
  ASSERT_EQ(DeliverBytes(store, c, "BODY", "SIGN"), DeliverStatus::Ok);
  EXPECT_EQ(ModeOf(db), 0600u);
  EXPECT_EQ(ModeOf(mail), 0700u);
  EXPECT_EQ(ModeOf(mail + "/" + c.suid + ".eme"), 0600u);
  EXPECT_EQ(ModeOf(mail + "/" + c.suid + ".ems"), 0600u);
}

// Files a crash left in the mail folder (a delivery's body or signature
// written before its row, temporary and part files, anything else) are
// removed when the store opens; the files of delivered copies stay.
TEST(ExchangeMailStore, OpenRemovesFilesNoRowNames) {
  qovra_test::TempDir dir;
  const std::string db = dir.path() + "/server.db", mail = dir.path() + "/mail";
  std::string error, suid;
  {
    AccountStore accounts;
    MailStore store;
    ASSERT_TRUE(accounts.Open(db, error)) << error;
    ASSERT_TRUE(store.Open(accounts.Database(), accounts.Mutex(), mail, error)) << error;
    MailCopy c;
    c.uuid = "0123456789ABCDEF0123456789ABCDEF";
    c.recipient_account = 2;
    c.sent_time = exchange::NowTimeText();
    c.ymbox = exchange::MonthText(c.sent_time);
    ASSERT_EQ(DeliverBytes(store, c, "BODY", "SIGN"), DeliverStatus::Ok);
    suid = c.suid;
  }
  const std::vector<std::string> orphans = {
      "FEDCBA9876543210FEDCBA9876543210.eme",  // written, row never entered
      "FEDCBA9876543210FEDCBA9876543210.ems",
      suid + ".ems.tmp",   // a signature file cut short
      "body-Ab12Cd.part",  // a body being received
      "stray",
  };
  for (const std::string& name : orphans) std::ofstream(mail + "/" + name) << "x";
  AccountStore accounts;
  MailStore store;
  ASSERT_TRUE(accounts.Open(db, error)) << error;
  ASSERT_TRUE(store.Open(accounts.Database(), accounts.Mutex(), mail, error)) << error;
  for (const std::string& name : orphans)
    EXPECT_FALSE(std::filesystem::exists(mail + "/" + name)) << name;
  EXPECT_TRUE(std::filesystem::exists(mail + "/" + suid + ".eme"));
  EXPECT_TRUE(std::filesystem::exists(mail + "/" + suid + ".ems"));
}

TEST(ExchangeSignContainer, ReadsPlainAndCompressedForms) {
  const std::string text = kHead + Section("sign", std::string(160, 's')) +
                           Section("cer0", "CERT\r\n--B") + Section("dhk", std::string(128, 'd')) +
                           kClose;
  uLongf n = compressBound(text.size());
  std::string packed(n, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &n,
                      reinterpret_cast<const Bytef*>(text.data()), text.size(), 9),
            Z_OK);
  packed.resize(n);
  ASSERT_EQ(static_cast<unsigned char>(packed[1]), 0xDA);
  for (const std::string* in : {&text, static_cast<const std::string*>(&packed)}) {
    exchange::SignContainer c;
    ASSERT_TRUE(exchange::ParseSignContainer(*in, c));
    EXPECT_EQ(c.mail_uid, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(c.signed_date, "2026-12-01 10:00:00");
    EXPECT_EQ(c.signature, std::string(160, 's'));
    EXPECT_EQ(c.certificate, "CERT\r\n--B");
    EXPECT_EQ(c.dhk, std::string(128, 'd'));
  }
  exchange::SignContainer only_sign;
  EXPECT_TRUE(exchange::ParseSignContainer(kHead + Section("sign", std::string(160, 's')) + kClose,
                                           only_sign));
  EXPECT_TRUE(only_sign.certificate.empty());
}

TEST(ExchangeSignContainer, RefusesMalformedContainers) {
  const std::string sign = Section("sign", std::string(160, 's'));
  const std::string cert = Section("cer0", "CERT");
  std::string beyond = kHead + sign + cert + kClose;
  beyond.replace(beyond.find("Content-Size: 4"), 15, "Content-Size: 99");
  const struct {
    const char* name;
    std::string text;
  } rows[] = {
      {"empty", ""},
      {"sign of 159 bytes", kHead + Section("sign", std::string(159, 's')) + kClose},
      {"first section not sign", kHead + cert + sign + kClose},
      {"headers out of order",
       "SignedDate: 2026-12-01 10:00:00\r\nMailUID: X\r\n"
       "Content-Type: multipart/form-data; boundary=B0123456789\r\n" +
           sign + kClose},
      {"no closing delimiter", kHead + sign + cert},
      {"bytes after the close", kHead + sign + cert + kClose + "\r\n"},
      {"section size beyond the end", beyond},
      {"other boundary", kHead + sign + "\r\n--Bother--"},
      {"broken zlib stream", std::string("\x78\xDA\x01\x02\x03", 5)},
  };
  for (const auto& row : rows) {
    exchange::SignContainer c;
    EXPECT_FALSE(exchange::ParseSignContainer(row.text, c)) << row.name;
  }
}

}  // namespace
