// ApplyLanguage on offscreen windows: captions, hints, list items, class
// names, and names that match nothing.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <filesystem>
#include <string>

#include "base/messages.h"
#include "base/records.h"
#include "qovra/ui/apply_language.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "support/scratch_dir.h"

namespace qovra {

// A window whose class is named like its element.
class TfrmSample : public QDialog {
  Q_OBJECT

 public:
  TfrmSample() {
    setWindowTitle("design");
    auto add = [this](QObject* o, const char* name) {
      o->setObjectName(name);
      return o;
    };
    lblName = static_cast<QLabel*>(add(new QLabel("design", this), "lblName"));
    lblName->setToolTip("design tip");
    QPixmap pixmap(8, 8);
    pixmap.fill(Qt::red);
    imgLogo = static_cast<QLabel*>(add(new QLabel(this), "imgLogo"));
    imgLogo->setPixmap(pixmap);
    btnOk = static_cast<QPushButton*>(add(new QPushButton("design", this), "btnOk"));
    chkSave = static_cast<QCheckBox*>(add(new QCheckBox("design", this), "chkSave"));
    acSend = static_cast<QAction*>(add(new QAction("design", this), "acSend"));
    acSend->setToolTip("Send tip");
    tbSend = static_cast<QToolButton*>(add(new QToolButton(this), "tbSend"));
    tbSend->setDefaultAction(acSend);
    gbOptions = static_cast<QGroupBox*>(add(new QGroupBox("design", this), "gbOptions"));
    pcPages = new QTabWidget(this);
    tsGeneral = add(new QWidget, "tsGeneral");
    pcPages->addTab(static_cast<QWidget*>(tsGeneral), "design");
    cbKind = static_cast<QComboBox*>(add(new QComboBox(this), "cbKind"));
    cbKind->addItems({"a", "b", "c"});
    cbKind->setCurrentIndex(2);
    cbKeep = static_cast<QComboBox*>(add(new QComboBox(this), "cbKeep"));
    cbKeep->addItems({"k1", "k2"});
    lbList = static_cast<QListWidget*>(add(new QListWidget(this), "lbList"));
    lbList->addItems({"l1"});
  }

  QLabel* lblName;
  QLabel* imgLogo;
  QPushButton* btnOk;
  QCheckBox* chkSave;
  QAction* acSend;
  QToolButton* tbSend;
  QGroupBox* gbOptions;
  QTabWidget* pcPages;
  QObject* tsGeneral;
  QComboBox* cbKind;
  QComboBox* cbKeep;
  QListWidget* lbList;
};

namespace {

using testing::ScratchDir;

QStringList ComboItems(const QComboBox* c) {
  QStringList out;
  for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
  return out;
}

// Every text a test could change, in one string.
QString Snapshot(const TfrmSample& f) {
  return QStringList{f.windowTitle(),
                     f.toolTip(),
                     f.lblName->text(),
                     f.lblName->toolTip(),
                     f.imgLogo->toolTip(),
                     f.btnOk->text(),
                     f.btnOk->toolTip(),
                     f.chkSave->text(),
                     f.acSend->text(),
                     f.acSend->toolTip(),
                     f.tbSend->toolTip(),
                     f.gbOptions->title(),
                     f.pcPages->tabText(0),
                     f.pcPages->tabToolTip(0),
                     ComboItems(f.cbKind).join(","),
                     ComboItems(f.cbKeep).join(",")}
      .join("|");
}

class ApplyLanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    std::filesystem::create_directories(dir_.File("lang"));
    saved_dir_ = ProgramDir;
    ProgramDir = dir_.path() + "/";
    Options = TOptions{};
    Options.langid = 1;
    ClearMsgTable();
    ClearLanguageCache();
  }
  void TearDown() override {
    ProgramDir = saved_dir_;
    Options = TOptions{};
    ClearMsgTable();
    ClearLanguageCache();
  }
  void WriteLang(const std::string& body) {
    dir_.Write("lang/lang.ru.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<language>" + body + "</language>\n");
  }

  ScratchDir dir_;
  std::string saved_dir_;
};

TEST_F(ApplyLanguageTest, SetsCaptionsHintsAndItemsByKind) {
  WriteLang(R"(
<tfrmsample>
  <Caption>Окно</Caption>
  <Hint>Подсказка окна</Hint>
  <lblName hint="Имя пользователя">Имя</lblName>
  <imgLogo>Логотип</imgLogo>
  <btnOk hint="Готово">ОК</btnOk>
  <chkSave>Сохранить</chkSave>
  <acSend hint="Отправить письмо">Отправить</acSend>
  <tbSend hint="">Кнопка</tbSend>
  <gbOptions>Настройки</gbOptions>
  <tsGeneral hint="Общие настройки">Общие</tsGeneral>
  <cbKind><i>Один</i><i>Два</i></cbKind>
  <cbKeep>no children</cbKeep>
  <LBLIST><i>Пункт</i></LBLIST>
</tfrmsample>
<Messages><msgConnectionError>Ошибка</msgConnectionError></Messages>)");
  TfrmSample f;
  ApplyLanguage(&f);

  EXPECT_EQ(f.windowTitle(), QString("Окно"));
  EXPECT_EQ(f.toolTip(), QString("Подсказка окна"));
  EXPECT_EQ(f.lblName->text(), QString("Имя"));
  EXPECT_EQ(f.lblName->toolTip(), QString("Имя пользователя"));
  EXPECT_EQ(f.imgLogo->toolTip(), QString("Логотип"));
  EXPECT_TRUE(f.imgLogo->text().isEmpty());
  EXPECT_EQ(f.btnOk->text(), QString("ОК"));
  EXPECT_EQ(f.btnOk->toolTip(), QString("Готово"));
  EXPECT_EQ(f.chkSave->text(), QString("Сохранить"));
  EXPECT_EQ(f.acSend->text(), QString("Отправить"));
  EXPECT_EQ(f.acSend->toolTip(), QString("Отправить письмо"));
  EXPECT_EQ(f.acSend->statusTip(), QString("Отправить письмо"));
  EXPECT_EQ(f.tbSend->toolTip(), QString("Отправить письмо"));  // empty hint: the action's
  EXPECT_EQ(f.gbOptions->title(), QString("Настройки"));
  EXPECT_EQ(f.pcPages->tabText(0), QString("Общие"));
  EXPECT_EQ(f.pcPages->tabToolTip(0), QString("Общие настройки"));
  EXPECT_EQ(ComboItems(f.cbKind), (QStringList{"Один", "Два"}));
  EXPECT_EQ(f.cbKind->currentIndex(), 0);
  EXPECT_EQ(ComboItems(f.cbKeep), (QStringList{"k1", "k2"}));  // no children: kept
  ASSERT_EQ(f.lbList->count(), 1);                             // names match without regard to case
  EXPECT_EQ(f.lbList->item(0)->text(), QString("Пункт"));
  EXPECT_EQ(f.lbList->currentRow(), 0);
  EXPECT_EQ(GetMsg("msgConnectionError"), "Ошибка");
}

TEST_F(ApplyLanguageTest, MissingComponentsAndOtherClassesChangeNothing) {
  WriteLang(R"(
<TfrmSample><lblMissing hint="x">x</lblMissing><Nothing/></TfrmSample>
<TfrmOther><lblName>other</lblName><Caption>other</Caption></TfrmOther>)");
  TfrmSample f;
  const QString before = Snapshot(f);
  ApplyLanguage(&f);
  EXPECT_EQ(Snapshot(f), before);
}

TEST_F(ApplyLanguageTest, MissingOrBrokenFileChangesNothing) {
  TfrmSample f;
  const QString before = Snapshot(f);
  ApplyLanguage(&f);  // no file
  dir_.Write("lang/lang.ru.xml", "<language><TfrmSample><lblName>x</TfrmSample>");
  ApplyLanguage(&f);
  Options.langid = 2;
  WriteLang("<TfrmSample><lblName>x</lblName></TfrmSample>");
  ApplyLanguage(&f);
  EXPECT_EQ(Snapshot(f), before);
}

TEST_F(ApplyLanguageTest, ClassPropertyFramesAndOwners) {
  WriteLang(R"(
<TfrmPlain><Caption>Plain</Caption><lblA>A</lblA></TfrmPlain>
<TframeTop><Caption>not a window</Caption><lblTop>Top</lblTop></TframeTop>)");
  QDialog plain;
  plain.setProperty("qovraClass", "TfrmPlain");
  auto* a = new QLabel("design", &plain);
  a->setObjectName("lblA");
  EXPECT_EQ(LanguageClassName(&plain), QString("TfrmPlain"));
  ApplyLanguage(&plain);
  EXPECT_EQ(plain.windowTitle(), QString("Plain"));
  EXPECT_EQ(a->text(), QString("A"));

  // A frame inside a window: its components are looked up in the owner;
  // Caption only applies to windows.
  QDialog owner;
  owner.setWindowTitle("owner");
  auto* frame = new QWidget(&owner);
  frame->setProperty("qovraClass", "TframeTop");
  auto* top = new QLabel("design", frame);
  top->setObjectName("lblTop");
  ApplyLanguage(frame, &owner);
  EXPECT_EQ(top->text(), QString("Top"));
  EXPECT_EQ(owner.windowTitle(), QString("owner"));
  EXPECT_EQ(frame->windowTitle(), QString());

  TfrmSample sample;
  EXPECT_EQ(LanguageClassName(&sample), QString("TfrmSample"));  // namespace dropped
}

// Qt's own dialogs speak Russian with the Russian language and Qt's English
// with Uzbek, following a change of language.
TEST_F(ApplyLanguageTest, QtDialogsFollowTheLanguageWhereQtTranslatesThem) {
  const QString english = QStringLiteral("Look in:");
  for (const auto& [langid, translated] : {std::pair{1, true}, {0, false}, {1, true}}) {
    SCOPED_TRACE(langid);
    Options.langid = langid;
    ApplyLanguage(nullptr);
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:") != english, translated);
  }
}

TEST_F(ApplyLanguageTest, NullControlLoadsOnlyMessages) {
  WriteLang("<Messages><msgA>from file</msgA></Messages>");
  ApplyLanguage(nullptr);
  EXPECT_EQ(GetMsg("msgA"), "from file");
}

}  // namespace
}  // namespace qovra

#include "test_apply_language.moc"
