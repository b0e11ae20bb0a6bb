// The certificate viewer: what it reads from a certificate, and the program
// itself rendering a certificate of the test authority or refusing a file.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QProcess>
#include <string>

#include "base/utf.h"
#include "cert_info.h"
#include "zarvo/pki_fixtures.h"

namespace jorvik {
namespace {

using keytool::NameType;
using qovra_test::ToString;

keytool::Bytes Issue(const keytool::CertRequest& req) {
  keytool::Signer signer;
  std::string err;
  EXPECT_TRUE(keytool::AuthoritySigner(qovra_test::TestAuthority(), &signer, &err)) << err;
  keytool::Bytes der;
  EXPECT_TRUE(keytool::BuildCertificate(req, signer, &der, &err)) << err;
  return der;
}

TEST(CertInfo, ReadsOwnerValidityIssuerSerialAndKey) {
  const keytool::Validity validity{1700000000, 1800000000};
  const struct {
    const char* what;
    std::string name;
    NameType type;
    bool pem;
  } rows[] = {
      {"Utf8Der", "Алиса Тестова", NameType::Utf8, false},
      {"BmpDer", "Пётр Петров", NameType::Bmp, false},
      {"Utf8Pem", "Ivanov Ivan", NameType::Utf8, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const qovra_test::Party party = qovra_test::MakeParty(r.name, r.type, validity);
    const std::string bytes = r.pem ? keytool::CertificatePem(party.cert) : ToString(party.cert);
    TCertificateInfo info;
    std::string error;
    ASSERT_TRUE(ParseCertificate(bytes, &info, &error)) << error;
    EXPECT_EQ(info.owner, qovra::Utf8ToUtf16(r.name));
    EXPECT_EQ(info.valid_from, validity.not_before);
    EXPECT_EQ(info.valid_to, validity.not_after);
    EXPECT_EQ(info.issuer, "CN=Qovra Test Authority");
    EXPECT_FALSE(info.serial.empty());
    EXPECT_EQ(info.record, party.keys.pub);
  }

  keytool::CertRequest req;
  const qovra_test::Party keys = qovra_test::MakeParty("x");
  req.key.assign(keys.keys.pub.begin(), keys.keys.pub.end());
  req.common_name = "Serial Test";
  req.serial = 0x1234ABCDull;
  req.not_before = validity.not_before;
  req.not_after = validity.not_after;
  TCertificateInfo info;
  std::string error;
  ASSERT_TRUE(ParseCertificate(ToString(Issue(req)), &info, &error)) << error;
  EXPECT_EQ(info.serial, "1234ABCD");
}

TEST(CertInfo, RefusesWhatIsNotOneOfOurCertificates) {
  const std::string good = ToString(qovra_test::MakeParty("Good Owner").cert);
  keytool::CertRequest foreign;
  foreign.key.assign(768, 1);
  foreign.key_oid = "1.2.840.113549.1.1.1";  // someone else's key algorithm
  foreign.common_name = "Foreign";
  foreign.not_before = 1700000000;
  foreign.not_after = 1800000000;
  keytool::CertRequest short_key = foreign;
  short_key.key_oid.clear();
  short_key.key.assign(100, 1);
  const struct {
    const char* what;
    std::string bytes;
  } rows[] = {
      {"Empty", ""},
      {"Text", "this is not a certificate"},
      {"Truncated", good.substr(0, good.size() / 2)},
      {"LastByteMissing", good.substr(0, good.size() - 1)},
      {"ForeignKeyAlgorithm", ToString(Issue(foreign))},
      {"KeyNotARecord", ToString(Issue(short_key))},
      {"TooBig", std::string(static_cast<size_t>(kMaxCertificateFile) + 1, '0')},
  };
  for (const auto& r : rows) {
    TCertificateInfo info;
    info.owner = u"untouched";
    std::string error;
    EXPECT_FALSE(ParseCertificate(r.bytes, &info, &error)) << r.what;
    EXPECT_FALSE(error.empty()) << r.what;
    EXPECT_EQ(info.owner, u"untouched") << r.what;
  }
}

TEST(CertInfo, KeyFieldsFollowTheRecordLayout) {
  std::array<uint8_t, 768> record{};
  record[160] = 0x80;       // p: a full 1024-bit number
  record[447] = 0x01;       // q: 1
  record[448 + 30] = 0x05;  // R: 0x05FF
  record[448 + 31] = 0xFF;
  const std::vector<TKeyField> fields = KeyFields(record);
  ASSERT_EQ(fields.size(), 7u);
  EXPECT_EQ(fields[0].name, "Key-agreement modulus");
  EXPECT_EQ(fields[0].bits, 0);
  EXPECT_EQ(fields[0].hex, "00");
  EXPECT_EQ(fields[1].bits, 1024);
  EXPECT_EQ(fields[1].hex, "80" + std::string(254, '0'));
  EXPECT_EQ(fields[3].name, "Order q");
  EXPECT_EQ(fields[3].bits, 1);
  EXPECT_EQ(fields[3].hex, "01");
  EXPECT_EQ(fields[4].bits, 11);
  EXPECT_EQ(fields[4].hex, "05FF");
}

struct JorvikRun {
  int exit_code = -1;
  QString out, err;
};

JorvikRun Jorvik(const QStringList& args) {
  QProcess process;
  process.start(QStringLiteral(QOVRA_BIN_DIR "/jorvik"), args);
  JorvikRun run;
  if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) return run;
  run.exit_code = process.exitCode();
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

TEST(JorvikProgram, RendersACertificateWithItsOwner) {
  qovra_test::TempDir dir;
  const std::string cert = dir.File("signer 1.cer");  // a blank in the name
  qovra_test::WriteAll(cert, qovra_test::MakeParty("Алиса Тестова").cert);
  const QString png = QString::fromStdString(dir.File("out.png"));
  const JorvikRun run = Jorvik(
      {QStringLiteral("/h4242"), QString::fromStdString(cert), QStringLiteral("--render"), png});
  ASSERT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.contains(QStringLiteral("Owner: Алиса Тестова"))) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains(QStringLiteral("Issuer: CN=Qovra Test Authority")));
  EXPECT_TRUE(run.out.contains(QStringLiteral("Key: Order q (")));
  const QImage image(png);
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 300);
  EXPECT_GT(image.height(), 200);
}

TEST(JorvikProgram, RefusesABadFileOrCommandLine) {
  qovra_test::TempDir dir;
  const std::string bad = dir.File("bad.cer");
  qovra_test::WriteAll(bad, keytool::Bytes{'n', 'o', 't'});
  const QString png = QString::fromStdString(dir.File("out.png"));
  for (const std::string& file : {bad, dir.File("missing.cer"), dir.path()}) {
    const JorvikRun run = Jorvik({QString::fromStdString(file), QStringLiteral("--render"), png});
    EXPECT_EQ(run.exit_code, 1) << file;
    EXPECT_TRUE(run.err.contains(QString::fromStdString(file))) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(png));
  }
  for (const QStringList& args :
       {QStringList{}, QStringList{QStringLiteral("/hxyz"), QString::fromStdString(bad)},
        QStringList{QString::fromStdString(bad), QStringLiteral("--render")},
        QStringList{QString::fromStdString(bad), QString::fromStdString(bad)}}) {
    EXPECT_EQ(Jorvik(args).exit_code, 2) << args.join(' ').toStdString();
  }
}

}  // namespace
}  // namespace jorvik
