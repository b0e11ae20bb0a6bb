// keytool: certificate checking against the authority, and the program's
// commands end to end (files that zarvo and openssl read).
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cert.h"
#include "keygen.h"
#include "pki.h"
#include "zarvo.h"
#include "zarvo/formats.h"
#include "zarvo/pki_fixtures.h"

namespace {

using keytool::Bytes;
using qovra_test::ReadAll;
using qovra_test::TempDir;

int Shell(const std::string& cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str());
}

std::string Keytool() {
  return std::string(QOVRA_BIN_DIR) + "/keytool";
}

std::string Domain() {
  return qovra_test::FixturePath("keys/domain.dom");
}

// Offset of the last occurrence of needle in hay.
size_t Find(const Bytes& hay, const std::string& needle) {
  auto it = std::find_end(hay.begin(), hay.end(), needle.begin(), needle.end());
  return static_cast<size_t>(it - hay.begin());
}

TEST(VerifyCertificateTest, SignatureIssuerAndTime) {
  const keytool::Authority& ca = qovra_test::TestAuthority();
  const qovra_test::Party user = qovra_test::MakeParty("Verified User");
  keytool::Authority other;
  std::string err;
  ASSERT_TRUE(keytool::MakeAuthority(qovra_test::TestDomain(), "Qovra Test Authority",
                                     keytool::ValidForDays(10), &other, &err))
      << err;

  Bytes bad_sig = user.cert;
  bad_sig[bad_sig.size() - 5] ^= 0x01;
  Bytes bad_name = user.cert;
  bad_name[Find(bad_name, "Verified User")] = 'W';
  Bytes expired;
  ASSERT_TRUE(keytool::IssueCertificate(ca, user.keys.pub, "Old", keytool::NameType::Utf8,
                                        {1000000000, 1100000000}, &expired, &err));
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const std::string pem = keytool::CertificatePem(user.cert);

  const struct {
    const char* what;
    Bytes cert;
    const Bytes* authority;
    int64_t now;
    bool ok;
  } rows[] = {
      {"Valid", user.cert, &ca.cert, now, true},
      {"ValidPem", Bytes(pem.begin(), pem.end()), &ca.cert, now, true},
      {"AuthorityItself", ca.cert, &ca.cert, now, true},
      {"FlippedSignatureBit", bad_sig, &ca.cert, 0, false},
      {"ChangedSubject", bad_name, &ca.cert, 0, false},
      // Same name, other key: the signature shows it.
      {"OtherAuthority", user.cert, &other.cert, 0, false},
      {"ExpiredWithTime", expired, &ca.cert, now, false},
      {"ExpiredWithoutTime", expired, &ca.cert, 0, true},
  };
  for (const auto& r : rows) {
    std::string why;
    EXPECT_EQ(keytool::VerifyCertificate(r.cert, *r.authority, r.now, &why), r.ok)
        << r.what << ": " << why;
  }
}

TEST(KeytoolLibTest, RegistryAddresses) {
  for (const char* ok : {"user@localhost", "a.b-c_d@127.0.0.1"})
    EXPECT_TRUE(keytool::IsRegistryAddress(ok)) << ok;
  for (const char* bad : {"", "user", "@host", "user@", "a@b@c", "../x@y", "x@..", ".x@y", "a/b@c",
                          "a b@c", "a\\b@c"})
    EXPECT_FALSE(keytool::IsRegistryAddress(bad)) << bad;
}

// Names in dir whose attributes (mode, owner) changed, as inotify saw them
// since watch was set up on dir.
std::vector<std::string> AttributeChanges(int watch_fd) {
  std::vector<std::string> names;
  alignas(inotify_event) char buf[4096];
  for (;;) {
    const ssize_t n = read(watch_fd, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
      if ((ev->mask & IN_ATTRIB) && ev->len > 0) names.emplace_back(ev->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
    }
  }
  return names;
}

// Key files are made 0600 from the start under a name of their own: no
// mode change after creation (another user could open the file before it),
// and a link planted where a temporary file could be is never followed.
TEST(KeytoolLibTest, WriteFileMakesAPrivateFileAndFollowsNoLink) {
  const struct {
    const char* what;
    bool plant_link;     // a link at the path + ".tmp" name
    bool target_exists;  // the link points at an existing file
  } rows[] = {
      {"NothingPlanted", false, false},
      {"LinkToExistingFile", true, true},
      {"LinkToMissingFile", true, false},
  };
  // The common umask, under which a file made without a mode of its own is
  // readable by everyone.
  struct UmaskScope {
    mode_t old = umask(022);
    ~UmaskScope() { umask(old); }
  } umask_scope;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    TempDir dir;
    const std::string path = dir.File("user.prk");
    const std::string target = dir.File("elsewhere");
    const Bytes before{'k', 'e', 'e', 'p'};
    if (r.target_exists) qovra_test::WriteAll(target, before);
    if (r.plant_link) {
      ASSERT_EQ(symlink(target.c_str(), (path + ".tmp").c_str()), 0);
    }

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_ATTRIB), 0);
    const Bytes secret(256, 0x5A);
    std::string err;
    ASSERT_TRUE(keytool::WriteFile(path, secret.data(), secret.size(), &err)) << err;
    EXPECT_EQ(AttributeChanges(watch), std::vector<std::string>{});
    close(watch);

    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadAll(path), secret);
    if (r.target_exists) {
      EXPECT_EQ(ReadAll(target), before);
    } else {
      EXPECT_FALSE(std::filesystem::exists(target));
    }
    // Nothing but the file (and the planted link) is left behind.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
      ++entries;
    EXPECT_EQ(entries, 1u + (r.plant_link ? 1u : 0u) + (r.target_exists ? 1u : 0u));
  }
}

// The commands as the demo and the exchange server's tests use them.
TEST(KeytoolProgramTest, AuthorityUsersServerRegistry) {
  TempDir dir;
  const std::string k = Keytool();
  const std::string ca = dir.File("ca");
  ASSERT_EQ(Shell(k + " authority --domain " + Domain() + " --name 'Demo Authority' --out " + ca),
            0);
  ASSERT_EQ(Shell(k + " user --domain " + Domain() + " --authority " + ca +
                  " --name 'Ivanov Ivan' --out " + dir.File("ivan")),
            0);
  setenv("KT_PW", "petr's secret", 1);
  ASSERT_EQ(Shell(k + " user --domain " + Domain() + " --authority " + ca +
                  " --name 'Петров Пётр' --bmp --pem --password-env KT_PW --distinct-dh"
                  " --iterations 10000 --out " +
                  dir.File("petr")),
            0);
  ASSERT_EQ(Shell(k + " server --domain " + Domain() + " --authority " + ca +
                  " --name 'Exchange Server' --out " + dir.File("server")),
            0);

  // openssl reads the DER certificates.
  for (const char* cer : {"ca/authority.cer", "ivan.cer", "server/server.cer"}) {
    EXPECT_EQ(Shell("openssl x509 -inform DER -noout -subject -dates -in " + dir.File(cer)), 0)
        << cer;
    EXPECT_EQ(Shell(k + " verify-cert --now --authority " + ca + "/authority.cer " + dir.File(cer)),
              0)
        << cer;
  }
  EXPECT_EQ(Shell("openssl x509 -noout -subject -in " + dir.File("petr.cer")), 0);

  // zarvo reads what keytool wrote.
  const Bytes ivan_prk = ReadAll(dir.File("ivan.prk")), petr_prk = ReadAll(dir.File("petr.prk"));
  EXPECT_EQ(ivan_prk.size(), zarvo::kPrivateRecordSize);
  EXPECT_EQ(ReadAll(dir.File("server/server.prk")).size(), zarvo::kPrivateRecordSize);
  ASSERT_EQ(petr_prk.size(), zarvo::kKeyFileSize);
  std::array<uint8_t, 256> priv{};
  std::array<uint8_t, 768> dh{}, pub{};
  unsetenv("KT_PW");
  EXPECT_EQ(
      initBPr(petr_prk.data(), static_cast<int32_t>(petr_prk.size()), "", priv.data(), dh.data()),
      0);
  EXPECT_EQ(getErr(), ZARVO_ERR_PASSWORD);
  ASSERT_NE(initBPr(petr_prk.data(), static_cast<int32_t>(petr_prk.size()), "petr's secret",
                    priv.data(), dh.data()),
            0);
  const Bytes petr_cer = ReadAll(dir.File("petr.cer"));
  ASSERT_NE(initBPb(petr_cer.data(), static_cast<int32_t>(petr_cer.size()), pub.data()), 0);
  EXPECT_EQ(Bytes(pub.begin(), pub.end()), ReadAll(dir.File("petr.pub")));
  EXPECT_NE(dh, pub);  // --distinct-dh
  EXPECT_EQ(std::memcmp(dh.data(), pub.data(), 160), 0);

  // Registry: the authority and one file per address; foreign or damaged
  // certificates and unsafe addresses are refused.
  const std::string reg = dir.File("registry");
  EXPECT_EQ(Shell(k + " register --registry " + reg + " --authority " + ca +
                  " --address ivan@localhost --cert " + dir.File("ivan.cer")),
            0);
  EXPECT_EQ(Shell(k + " register --registry " + reg + " --authority " + ca +
                  " --address petr@127.0.0.1 --cert " + dir.File("petr.cer")),
            0);
  EXPECT_EQ(ReadAll(reg + "/ivan@localhost.cer"), ReadAll(dir.File("ivan.cer")));
  EXPECT_EQ(ReadAll(reg + "/authority.cer"), ReadAll(ca + "/authority.cer"));
  Bytes petr_der;
  std::string err;
  ASSERT_TRUE(keytool::CertificateDer(petr_cer, &petr_der, &err));
  EXPECT_EQ(ReadAll(reg + "/petr@127.0.0.1.cer"), petr_der);  // stored as DER
  EXPECT_NE(Shell(k + " register --registry " + reg + " --authority " + ca +
                  " --address ../evil@x --cert " + dir.File("ivan.cer")),
            0);
  const std::string other_ca = dir.File("other-ca");
  ASSERT_EQ(
      Shell(k + " authority --domain " + Domain() + " --name 'Demo Authority' --out " + other_ca),
      0);
  EXPECT_NE(Shell(k + " register --registry " + reg + " --authority " + other_ca +
                  " --address ivan2@localhost --cert " + dir.File("ivan.cer")),
            0);
  EXPECT_NE(
      Shell(k + " verify-cert --authority " + other_ca + "/authority.cer " + dir.File("ivan.cer")),
      0);
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(reg)) ++files;
  EXPECT_EQ(files, 3u);
}

TEST(KeytoolProgramTest, CertAndKeyFileFromRawRecords) {
  TempDir dir;
  const std::string k = Keytool();
  const std::string ca = dir.File("ca");
  ASSERT_EQ(Shell(k + " authority --domain " + Domain() + " --name CA --out " + ca), 0);
  ASSERT_EQ(Shell(k + " keypair " + Domain() + " " + dir.File("u.pub") + " " + dir.File("u.prk")),
            0);
  ASSERT_EQ(Shell(k + " cert --authority " + ca + " --pub " + dir.File("u.pub") +
                  " --name User --not-before 1700000000 --not-after 1800000000 --out " +
                  dir.File("u.cer")),
            0);
  ASSERT_EQ(Shell(k + " keyfile --pub " + dir.File("u.pub") + " --prk " + dir.File("u.prk") +
                  " --password pw --iterations 10000 --out " + dir.File("u.qprk")),
            0);
  const Bytes cer = ReadAll(dir.File("u.cer")), qprk = ReadAll(dir.File("u.qprk"));
  int64_t from = 0, to = 0;
  ASSERT_GT(initBCr(cer.data(), static_cast<int32_t>(cer.size()), nullptr, nullptr, &from, &to), 0);
  EXPECT_EQ(from, 1700000000);
  EXPECT_EQ(to, 1800000000);
  std::array<uint8_t, 256> priv{};
  std::array<uint8_t, 768> dh{};
  ASSERT_NE(initBPr(qprk.data(), static_cast<int32_t>(qprk.size()), "pw", priv.data(), dh.data()),
            0);
  EXPECT_EQ(Bytes(priv.begin(), priv.end()), ReadAll(dir.File("u.prk")));
  EXPECT_EQ(Bytes(dh.begin(), dh.end()), ReadAll(dir.File("u.pub")));
  // Bad usage fails without output.
  EXPECT_NE(Shell(k + " cert --authority " + ca + " --pub " + dir.File("u.prk") +
                  " --name X --out " + dir.File("x.cer")),
            0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.cer")));
  EXPECT_NE(Shell(k + " keyfile --pub " + dir.File("u.pub") + " --prk " + dir.File("u.prk") +
                  " --password pw --iterations 5 --out " + dir.File("y.prk")),
            0);
  EXPECT_NE(Shell(k + " nonsense"), 0);
}

}  // namespace
