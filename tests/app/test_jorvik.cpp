// The certificate viewer: what it reads from a certificate, its window, and
// the program itself: rendering a certificate in the language it is given
// or finds, refusing a file, ending when its window closes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/utf.h"
#include "cert_info.h"
#include "cert_window.h"
#include "platform/run_thread.h"
#include "settings/language.h"
#include "support/marker_language.h"
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
  EXPECT_EQ(fields[0].name_key, "msgCertKeyAgreementModulus");
  EXPECT_EQ(fields[0].bits, 0);
  EXPECT_EQ(fields[0].hex, "00");
  EXPECT_EQ(fields[1].bits, 1024);
  EXPECT_EQ(fields[1].hex, "80" + std::string(254, '0'));
  EXPECT_EQ(fields[3].name_key, "msgCertOrderQ");
  EXPECT_EQ(fields[3].bits, 1);
  EXPECT_EQ(fields[3].hex, "01");
  EXPECT_EQ(fields[4].bits, 11);
  EXPECT_EQ(fields[4].hex, "05FF");
}

// The window takes the size its texts need and keeps it: the window
// manager then offers no resizing and draws no resize handle at its bottom.
TEST(JorvikWindow, HasTheSizeOfItsTextsAndCannotBeResized) {
  TCertificateInfo info;
  std::string error;
  ASSERT_TRUE(
      ParseCertificate(ToString(qovra_test::MakeParty("Алиса Тестова").cert), &info, &error))
      << error;
  for (const int langid : {0, 1}) {
    SCOPED_TRACE(langid);
    const std::string code(qovra::LanguageCode(langid));
    const auto language =
        qovra::LoadLanguageFile(std::string(QOVRA_SOURCE_DIR) + "/lang/lang." + code + ".xml");
    ASSERT_TRUE(language);
    TfrmCertificate window(info, language.get());
    window.show();
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.size(), window.maximumSize());
    for (QLabel* caption :
         {window.lblOwnerCaption, window.lblValidFromCaption, window.lblValidToCaption,
          window.lblIssuerCaption, window.lblSerialCaption, window.lblKeyCaption}) {
      EXPECT_FALSE(caption->text().isEmpty()) << caption->objectName().toStdString();
      EXPECT_GE(caption->width(), caption->sizeHint().width())
          << caption->objectName().toStdString();
    }
  }
}

struct JorvikRun {
  int exit_code = -1;
  QString out, err;
};

JorvikRun Jorvik(const QStringList& args,
                 const QString& program = QStringLiteral(QOVRA_BIN_DIR "/jorvik")) {
  QProcess process;
  process.start(program, args);
  JorvikRun run;
  if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) return run;
  run.exit_code = process.exitCode();
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

// "⟦code:name⟧": the marker of one language file text.
QString Marker(const std::string& code, const std::string& name) {
  return QString::fromStdString(qovra::testing::LanguageMarker(name, code));
}

// The viewer takes its texts from lang/ beside itself, in the language the
// program passes (/l) or, without it, in that of the program's settings
// file beside it; no text is written in the viewer itself.
TEST(JorvikProgram, ShowsTheTextsOfTheProgramsLanguage) {
  qovra_test::TempDir dir;
  const std::string program = dir.File("jorvik");
  std::filesystem::copy_file(QOVRA_BIN_DIR "/jorvik", program);
  ASSERT_TRUE(qovra::testing::WriteMarkerLanguageFile(0, dir.path(), /*with_code=*/true));
  ASSERT_TRUE(qovra::testing::WriteMarkerLanguageFile(1, dir.path(), /*with_code=*/true));
  const std::string cert = dir.File("alice.cer");
  qovra_test::WriteAll(cert, qovra_test::MakeParty("Алиса Тестова").cert);
  const std::string settings = dir.File("qovra.xml");

  const struct {
    const char* what;
    QStringList options;
    int settings_langid;  // -1: no settings file
    const char* code;
  } rows[] = {
      {"ArgumentUzbek", {QStringLiteral("/h7"), QStringLiteral("/l0")}, -1, "uzc"},
      {"ArgumentBeforeSettings", {QStringLiteral("/l1")}, 0, "ru"},
      {"SettingsUzbek", {QStringLiteral("/h7")}, 0, "uzc"},
      {"SettingsRussian", {}, 1, "ru"},
      {"NoSettingsFirstStart", {}, -1, "ru"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::filesystem::remove(settings);
    if (r.settings_langid >= 0) {
      std::ofstream(settings) << "<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?>\r\n"
                              << "<options_xml><iface><langid>" << r.settings_langid
                              << "</langid></iface></options_xml>\r\n";
    }
    const QString png = QString::fromStdString(dir.File("out.png"));
    const JorvikRun run = Jorvik(
        r.options + QStringList{QString::fromStdString(cert), QStringLiteral("--render"), png},
        QString::fromStdString(program));
    ASSERT_EQ(run.exit_code, 0) << run.err.toStdString();
    EXPECT_EQ(std::filesystem::exists(settings), r.settings_langid >= 0);  // nothing written

    const auto m = [&](const char* name) { return Marker(r.code, name); };
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList captions{
        m("TfrmCertificate.Caption") + QStringLiteral(" - Алиса Тестова"),
        m("TfrmCertificate.lblOwnerCaption") + QStringLiteral(" Алиса Тестова"),
        m("TfrmCertificate.lblValidFromCaption") + QLatin1Char(' '),
        m("TfrmCertificate.lblValidToCaption") + QLatin1Char(' '),
        m("TfrmCertificate.lblIssuerCaption") + QStringLiteral(" CN=Qovra Test Authority"),
        m("TfrmCertificate.lblSerialCaption") + QLatin1Char(' '),
        m("TfrmCertificate.lblKeyCaption"),
    };
    const char* const fields[] = {"msgCertKeyAgreementModulus", "msgCertSignatureModulus",
                                  "msgCertKeyAgreementValue",   "msgCertOrderQ",
                                  "msgCertCoefficientR",        "msgCertPublicValueY1",
                                  "msgCertPublicValueY2"};
    ASSERT_EQ(lines.size(), captions.size() + std::size(fields) + 1) << run.out.toStdString();
    for (int i = 0; i < captions.size(); ++i) {
      EXPECT_TRUE(lines[i].startsWith(captions[i])) << lines[i].toStdString();
    }
    for (size_t i = 0; i < std::size(fields); ++i) {
      const QString& line = lines[captions.size() + static_cast<int>(i)];
      EXPECT_TRUE(line.startsWith(m("msgCertKeyField") + QLatin1Char(' ') + m(fields[i]) +
                                  QLatin1Char(' ')))
          << line.toStdString();
      EXPECT_FALSE(line.contains(QLatin1String("%!"))) << line.toStdString();
    }
    EXPECT_EQ(lines.back(), m("TfrmCertificate.btnOK"));
  }
}

TEST(JorvikProgram, RendersACertificateWithItsOwner) {
  qovra_test::TempDir dir;
  const std::string cert = dir.File("signer 1.cer");  // a blank in the name
  qovra_test::WriteAll(cert, qovra_test::MakeParty("Алиса Тестова").cert);
  const QString png = QString::fromStdString(dir.File("out.png"));
  const JorvikRun run = Jorvik({QStringLiteral("/h4242"), QStringLiteral("/l1"),
                                QString::fromStdString(cert), QStringLiteral("--render"), png});
  ASSERT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.contains(QStringLiteral("Алиса Тестова"))) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains(QStringLiteral("CN=Qovra Test Authority")));
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
  // "/hq..." is a path (as "/home/..." is), not an owner window.
  for (const std::string& file :
       {bad, dir.File("missing.cer"), dir.path(), std::string("/hq-missing/x.cer")}) {
    const JorvikRun run = Jorvik({QString::fromStdString(file), QStringLiteral("--render"), png});
    EXPECT_EQ(run.exit_code, 1) << file;
    EXPECT_TRUE(run.err.contains(QString::fromStdString(file))) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(png));
  }
  for (const QStringList& args :
       {QStringList{}, QStringList{QStringLiteral("/hxyz"), QString::fromStdString(bad)},
        QStringList{QString::fromStdString(bad), QStringLiteral("--render")},
        QStringList{QString::fromStdString(bad), QString::fromStdString(bad)},
        QStringList{QString::fromStdString(bad), QStringLiteral("/h12")},
        QStringList{QStringLiteral("/l1")}}) {
    EXPECT_EQ(Jorvik(args).exit_code, 2) << args.join(' ').toStdString();
  }
}

// An X server of the test's own (Xvfb); display() is empty when none
// started.
class XServer {
 public:
  XServer() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) return;
    // -displayfd: Xvfb picks a free display and writes its number once ready.
    process_.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                    QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp")});
    QByteArray out;
    while (!out.contains('\n') && process_.waitForReadyRead(10000))
      out += process_.readAllStandardOutput();
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (ok) display_ = QStringLiteral(":%1").arg(number);
  }
  ~XServer() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
    process_.waitForFinished(5000);
  }
  const QString& display() const { return display_; }

 private:
  QProcess process_;
  QString display_;
};

// xdotool with args on display; its standard output, empty on failure.
QString XDoTool(const QString& display, const QStringList& args) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display);
  process.setProcessEnvironment(env);
  process.start(QStringLiteral("xdotool"), args);
  if (!process.waitForFinished(15000)) {
    process.kill();
    process.waitForFinished(5000);
    return {};
  }
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The first visible window of process pid, waiting for it to appear.
QString WindowOf(const QString& display, qint64 pid) {
  return XDoTool(display,
                 {QStringLiteral("search"), QStringLiteral("--sync"),
                  QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid)})
      .section(QLatin1Char('\n'), 0, 0);
}

// Started as the program starts it (a run thread, an owner window, the
// language), the viewer ends when its window is closed, and the run thread
// that waits for it sees the end, not only the program's shut-down.
TEST(JorvikProgram, EndsWhenItsWindowCloses) {
  if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
    GTEST_SKIP() << "xdotool is not installed";
  XServer x;
  if (x.display().isEmpty()) GTEST_SKIP() << "no X server (Xvfb) could be started";
  qovra_test::TempDir dir;
  const std::string cert = dir.File("alice.cer");
  qovra_test::WriteAll(cert, qovra_test::MakeParty("Алиса Тестова").cert);
  const std::string display = x.display().toStdString();

  // The owner: a window of another program.
  QProcess owner;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), x.display());
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  owner.setProcessEnvironment(env);
  owner.start(QStringLiteral(QOVRA_BIN_DIR "/jorvik"), {QString::fromStdString(cert)});
  ASSERT_TRUE(owner.waitForStarted(10000));
  const QString owner_window = WindowOf(x.display(), owner.processId());
  ASSERT_FALSE(owner_window.isEmpty());

  qovra::TRunThread viewer({"env", "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                            QOVRA_BIN_DIR "/jorvik", "/h" + owner_window.toStdString(), "/l1",
                            cert});
  ASSERT_TRUE(viewer.Started());
  const QString window = WindowOf(x.display(), viewer.Pid());
  ASSERT_FALSE(window.isEmpty());
  EXPECT_FALSE(viewer.Done());
  XDoTool(x.display(), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window,
                        QStringLiteral("key"), QStringLiteral("Escape")});
  EXPECT_TRUE(viewer.WaitEnded(std::chrono::seconds(10)));
  EXPECT_TRUE(WIFEXITED(viewer.WaitStatus()) && WEXITSTATUS(viewer.WaitStatus()) == 0)
      << viewer.WaitStatus();

  owner.terminate();
  owner.waitForFinished(5000);
}

}  // namespace
}  // namespace jorvik
