// The exchange server's state on its own: sessions and their expiry, the
// accounts database and the certificate registry.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "accounts.h"
#include "config.h"
#include "exchange_pki.h"
#include "registry.h"
#include "server_crypto.h"
#include "sessions.h"

namespace {

using namespace exchange;
using std::chrono::seconds;

SessionId Sid(uint8_t b) {
  SessionId s{};
  s.fill(b);
  return s;
}

Session NewSession(uint8_t b, SessionClock::time_point t) {
  Session s;
  s.sid = Sid(b);
  s.last_use = t;
  return s;
}

TEST(ExchangeSessions, ExpireAfterIdleTimeout) {
  SessionTable table(seconds(30), 100);
  const SessionClock::time_point t0 = SessionClock::now();
  for (uint8_t b : {1, 2}) ASSERT_NE(table.Add(NewSession(b, t0), t0), nullptr);
  ASSERT_NE(table.Find(Sid(1), t0 + seconds(30)), nullptr);
  EXPECT_EQ(table.Find(Sid(3), t0), nullptr);
  // Used at t0 + 20: alive until t0 + 50.
  table.Find(Sid(2), t0)->last_use = t0 + seconds(20);
  EXPECT_EQ(table.Find(Sid(1), t0 + seconds(31)), nullptr);
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.Find(Sid(1), t0), nullptr);  // gone for good
  EXPECT_NE(table.Find(Sid(2), t0 + seconds(50)), nullptr);
  EXPECT_EQ(table.Sweep(t0 + seconds(51)), 1u);
  EXPECT_EQ(table.size(), 0u);
}

// A full table makes room with the session that never logged in and was
// made first; logged-in sessions stay until their idle timeout, so a table
// full of them takes no new session until one expires.
TEST(ExchangeSessions, FullTableGivesWayWithSessionsThatNeverLoggedIn) {
  SessionTable table(seconds(30), 3);
  const SessionClock::time_point t0 = SessionClock::now();
  auto held = [&table](std::initializer_list<uint8_t> ids) {
    std::string text;
    for (uint8_t b : ids) text += table.Contains(Sid(b)) ? "+" : "-";
    return text;
  };
  for (uint8_t b : {1, 2, 3}) ASSERT_NE(table.Add(NewSession(b, t0), t0), nullptr);
  table.SetLogin(Sid(2), true, 7, t0);
  EXPECT_EQ(table.Find(Sid(2), t0)->account, 7);
  // Used since, but made first: 1 goes, then 3; the logged-in 2 stays.
  table.Find(Sid(1), t0)->last_use = t0 + seconds(5);
  ASSERT_NE(table.Add(NewSession(4, t0 + seconds(5)), t0 + seconds(5)), nullptr);
  EXPECT_EQ(held({1, 2, 3, 4}), "-+++");
  ASSERT_NE(table.Add(NewSession(5, t0 + seconds(6)), t0 + seconds(6)), nullptr);
  EXPECT_EQ(held({2, 3, 4, 5}), "+-++");
  // Every session logged in: the new one is refused, nothing is lost.
  table.SetLogin(Sid(4), true, 8, t0 + seconds(6));
  table.SetLogin(Sid(5), true, 9, t0 + seconds(6));
  EXPECT_EQ(table.Add(NewSession(6, t0 + seconds(7)), t0 + seconds(7)), nullptr);
  EXPECT_EQ(held({2, 4, 5, 6}), "+++-");
  EXPECT_EQ(table.size(), 3u);
  // Once 2 (last used at t0) has expired it makes room, without a sweep.
  ASSERT_NE(table.Add(NewSession(6, t0 + seconds(31)), t0 + seconds(31)), nullptr);
  EXPECT_EQ(held({2, 4, 5, 6}), "-+++");
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// Sessions that expired among live ones give their memory back to the
// system when swept (the system's allocator keeps such pages otherwise).
TEST(ExchangeSessions, ExpiredSessionsGiveTheirMemoryBack) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator keeps freed memory by its own rules";
#endif
  constexpr size_t kSessions = 100000;
  SessionTable table(seconds(30), kSessions);
  const SessionClock::time_point t0 = SessionClock::now();
  const long before = ResidentKiB();
  for (size_t i = 0; i < kSessions; ++i) {
    Session s;
    for (size_t k = 0; k < s.sid.size(); ++k) s.sid[k] = static_cast<uint8_t>(i >> (8 * (k % 4)));
    s.last_use = t0;
    // One in a hundred is used again later and stays.
    if (i % 100 == 0) s.last_use = t0 + seconds(25);
    for (uint8_t r = 0; r < 3; ++r) {
      crypto::Hash32 h{};
      h.fill(r);
      h[0] = static_cast<uint8_t>(i);
      h[1] = static_cast<uint8_t>(i >> 8);
      h[2] = static_cast<uint8_t>(i >> 16);
      s.seen.insert(h);
    }
    ASSERT_NE(table.Add(std::move(s), t0), nullptr);
  }
  const long full = ResidentKiB();
  ASSERT_GT(full - before, 20 * 1024) << "the sessions took too little memory to measure";
  EXPECT_EQ(table.Sweep(t0 + seconds(40)), kSessions - kSessions / 100);
  const long swept = ResidentKiB();
  EXPECT_LT(swept - before, (full - before) / 4)
      << "KiB before " << before << ", full " << full << ", swept " << swept;
}

class ExchangeAccounts : public ::testing::Test {
 protected:
  SeedAccount Seed(const std::string& login, const std::string& domain, const std::string& pw,
                   uint8_t cert) {
    SeedAccount a;
    a.login = login;
    a.domain = domain;
    a.password_hash = crypto::Hash(pw);
    a.cert_hash.fill(cert);
    a.certificate = "cert-" + std::to_string(cert);
    return a;
  }
  qovra_test::TempDir dir_;
};

TEST_F(ExchangeAccounts, SeedFindAndReseed) {
  std::string error;
  {
    AccountStore store;
    ASSERT_TRUE(store.Open(dir_.File("server.db"), error)) << error;
    ASSERT_TRUE(store.Seed(
        {Seed("alice", "localhost", "pw1", 1), Seed("bob", "127.0.0.1", "pw2", 2)}, error))
        << error;
    crypto::Hash32 h{};
    h.fill(1);
    const auto a = store.FindByCertificate(h);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->login, "alice");
    EXPECT_EQ(a->domain, "localhost");
    EXPECT_EQ(a->password_hash, crypto::Hash("pw1"));
    EXPECT_EQ(a->certificate, "cert-1");
    EXPECT_EQ(a->fname, "");
    EXPECT_EQ(a->level, 0);
    EXPECT_EQ(a->upload_limit, 0);
    EXPECT_TRUE(a->dhkey.empty());
    EXPECT_TRUE(store.FindByLogin("ALICE", "LocalHost").has_value());
    EXPECT_FALSE(store.FindByLogin("alice", "127.0.0.1").has_value());
    h.fill(9);
    EXPECT_FALSE(store.FindByCertificate(h).has_value());
  }
  // Reopened: the data is there; seeding again changes password and
  // certificate and keeps the id.
  AccountStore store;
  ASSERT_TRUE(store.Open(dir_.File("server.db"), error)) << error;
  const int64_t id = store.FindByLogin("alice", "localhost")->id;
  ASSERT_TRUE(store.Seed({Seed("alice", "localhost", "new", 3)}, error)) << error;
  const auto a = store.FindByLogin("alice", "localhost");
  EXPECT_EQ(a->id, id);
  EXPECT_EQ(a->password_hash, crypto::Hash("new"));
  crypto::Hash32 h{};
  h.fill(3);
  EXPECT_TRUE(store.FindByCertificate(h).has_value());
}

TEST_F(ExchangeAccounts, OneCertificateBindsOneAccountAndFailedSeedChangesNothing) {
  std::string error;
  AccountStore store;
  ASSERT_TRUE(store.Open(dir_.File("server.db"), error)) << error;
  EXPECT_FALSE(
      store.Seed({Seed("carol", "localhost", "pw", 5), Seed("dave", "localhost", "pw", 5)}, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(store.FindByLogin("carol", "localhost").has_value());
}

TEST(ExchangeRegistry, AcceptsOnlyCertificatesOfTheAuthority) {
  qovra_test::ExchangePki pki;
  const qovra_test::Party& alice = pki.AddUser("alice@localhost");
  pki.AddUser("bob@localhost");
  // Files that must be skipped: garbage, and a certificate signed by
  // another authority.
  qovra_test::WriteAll(pki.registry() + "/junk.cer", keytool::Bytes{'x', 'y'});
  keytool::Authority other;
  std::string err;
  ASSERT_TRUE(keytool::MakeAuthority(qovra_test::TestDomain(), "Other Authority",
                                     keytool::ValidForDays(10), &other, &err))
      << err;
  keytool::Bytes stray;
  ASSERT_TRUE(keytool::IssueCertificate(other, alice.keys.pub, "stray", keytool::NameType::Utf8,
                                        keytool::ValidForDays(10), &stray, &err));
  qovra_test::WriteAll(pki.registry() + "/stray@localhost.cer", stray);

  CertificateRegistry registry;
  std::vector<std::string> skipped;
  std::string error;
  ASSERT_TRUE(registry.Load(pki.registry(), pki.authority_cert(), skipped, error)) << error;
  EXPECT_EQ(registry.size(), 2u);
  EXPECT_EQ(skipped.size(), 2u);
  crypto::Record record{};
  std::copy(alice.keys.pub.begin(), alice.keys.pub.end(), record.begin());
  const RegisteredCertificate* c = registry.Find(crypto::Hash(crypto::View(record)));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->file_name, "alice@localhost.cer");
  EXPECT_EQ(c->bytes, qovra_test::ToString(alice.cert));
  EXPECT_GT(c->valid_to, 0);
  EXPECT_EQ(registry.FindFile("bob@localhost.cer")->file_name, "bob@localhost.cer");
  EXPECT_EQ(registry.FindFile("authority.cer"), nullptr);

  EXPECT_FALSE(registry.Load(pki.File("missing"), pki.authority_cert(), skipped, error));
}

TEST(ExchangeConfig, CommandLine) {
  std::vector<std::string> args{"exchange-server",
                                "--data",
                                "/d",
                                "--test-commands",
                                "--seed-account",
                                "al@localhost:pw:/c.cer",
                                "--seed-account",
                                "bo@127.0.0.1:x",
                                "--registry",
                                "/r",
                                "--authority",
                                "/a.cer",
                                "--session-timeout",
                                "5",
                                "--max-sessions",
                                "3",
                                "--fault",
                                "once:stall"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  ServerConfig c;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), c, error)) << error;
  EXPECT_TRUE(c.test_commands);
  ASSERT_EQ(c.seeds.size(), 2u);
  EXPECT_EQ(c.seeds[0].login, "al");
  EXPECT_EQ(c.seeds[0].domain, "localhost");
  EXPECT_EQ(c.seeds[0].password, "pw");
  EXPECT_EQ(c.seeds[0].cert_path, "/c.cer");
  EXPECT_EQ(c.seeds[1].cert_path, "");
  EXPECT_EQ(c.session_timeout, 5);
  EXPECT_EQ(c.max_sessions, 3u);
  EXPECT_EQ(c.fault, "once:stall");

  const std::vector<std::vector<std::string>> bad = {
      {"x"},
      {"x", "--data", "/d", "--registry", "/r"},
      {"x", "--data", "/d", "--server-key", "/k"},
      {"x", "--data", "/d", "--seed-account", "al@localhost:pw"},
      {"x", "--data", "/d", "--registry", "/r", "--authority", "/a", "--seed-account", "al:pw"},
      {"x", "--data", "/d", "--session-timeout", "0"},
      {"x", "--data", "/d", "--max-sessions", "0"},
      {"x", "--data", "/d", "--port", "70000"},
      {"x", "--data", "/d", "--bogus", "1"},
  };
  for (auto row : bad) {
    std::vector<char*> v;
    for (auto& a : row) v.push_back(a.data());
    ServerConfig c2;
    EXPECT_FALSE(ParseCommandLine(static_cast<int>(v.size()), v.data(), c2, error)) << row.size();
  }
}

}  // namespace
