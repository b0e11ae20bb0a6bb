// Qt's own file dialog in the program's language: the sizes, types and dates
// its detail view paints follow the language's locale (not the system's),
// its Size, Type and Date columns are as wide as their texts, and the Date
// column is in sight in the dialog's width.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QMap>
#include <QProxyStyle>
#include <QSettings>
#include <QStandardPaths>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <string>

#include "base/messages.h"
#include "base/records.h"
#include "qovra/ui/apply_language.h"
#include "settings/language.h"
#include "settings/settings.h"
#include "support/scratch_dir.h"

namespace qovra {
namespace {

// The view's columns.
constexpr int kName = 0;
constexpr int kSize = 1;
constexpr int kType = 2;
constexpr int kDate = 3;

// Records the text of every item cell the view paints, by file name and
// column: what the user reads.
class TPaintedTexts : public QProxyStyle {
 public:
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    if (element == CE_ItemViewItem) {
      if (const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option)) {
        const QString name = item->index.siblingAtColumn(kName).data().toString();
        QStringList& row = texts[name];
        while (row.size() <= item->index.column()) row << QString();
        row[item->index.column()] = item->text;
      }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }
  mutable QMap<QString, QStringList> texts;
};

// What the dialog showed.
struct TSeen {
  bool shown = false;
  QMap<QString, QStringList> texts;
  QList<int> narrow;  // columns narrower than their texts or captions
  bool date_in_sight = false;
};

class FileDialogLookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program's language files.
    std::filesystem::create_directories(dir_.File("lang"));
    for (const char* name : {"lang.ru.xml", "lang.uzc.xml"})
      std::filesystem::copy_file(std::string(QOVRA_LANG_DIR) + "/" + name,
                                 dir_.File(std::string("lang/") + name));
    saved_dir_ = ProgramDir;
    ProgramDir = dir_.path() + "/";
    Options = TOptions{};
    ClearMsgTable();
    ClearLanguageCache();
    // The dialog keeps its column widths in Qt's settings: none here, and
    // the user's stay untouched.
    SetSettingsPath(QString::fromStdString(dir_.File("config")));
  }
  void TearDown() override {
    SetSettingsPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    ProgramDir = saved_dir_;
    Options = TOptions{};
    ClearMsgTable();
    ClearLanguageCache();
  }

  // Runs the save dialog on folder as the program does and reads its
  // detail view once every row has its type.
  TSeen ShowSaveDialog(const QString& folder, int rows) {
    TSeen seen;
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      seen.shown = true;
      dialog->setViewMode(QFileDialog::Detail);
      auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
      if (!view) {
        dialog->reject();
        return;
      }
      const bool loaded = QTest::qWaitFor(
          [&] {
            const QModelIndex root = view->rootIndex();
            if (view->model()->rowCount(root) != rows) return false;
            for (int r = 0; r < rows; ++r)
              if (view->model()->index(r, kType, root).data().toString().isEmpty()) return false;
            return true;
          },
          5000);
      EXPECT_TRUE(loaded);
      QTest::qWait(50);  // the columns fit on the next turn of the loop
      TPaintedTexts painted;
      view->setStyle(&painted);
      (void)view->grab();
      view->setStyle(nullptr);
      seen.texts = painted.texts;
      const QAbstractItemView* cells = view;
      QHeaderView* header = view->header();
      for (const int column : {kSize, kType, kDate}) {
        const int needed =
            std::max(cells->sizeHintForColumn(column), header->sectionSizeHint(column));
        if (header->sectionSize(column) < needed) seen.narrow << column;
      }
      seen.date_in_sight = header->sectionViewportPosition(kDate) + header->sectionSize(kDate) <=
                           view->viewport()->width();
      dialog->reject();
    });
    (void)QFileDialog::getSaveFileName(nullptr, QString(),
                                       folder + QStringLiteral("/proposed.txt"));
    return seen;
  }

  static void SetSettingsPath(const QString& path) {
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
      QSettings::setPath(format, QSettings::UserScope, path);
  }

  testing::ScratchDir dir_;
  std::string saved_dir_;
};

TEST_F(FileDialogLookTest, SizesTypesAndDatesFollowTheLanguage) {
  const QString folder = QString::fromStdString(dir_.File("files"));
  ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/Papers")));
  const QDateTime modified(QDate(2026, 12, 10), QTime(7, 48));
  const struct {
    const char* name;
    qint64 size;
  } files[] = {{"big.bin", 3'000'000}, {"small.bin", 75}};
  for (const auto& f : files) {
    QFile file(folder + QLatin1Char('/') + QLatin1String(f.name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.write(QByteArray(static_cast<qsizetype>(f.size), '\0')) == f.size);
    file.close();  // written: its time is set now
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
  }

  const struct {
    int langid;
    QLocale locale;
    const char* big_size;  // 3,000,000 bytes
    const char* small_size;
    const char* folder_type;
    const char* unknown_type;
  } cases[] = {
      {1, QLocale(QLocale::Russian, QLocale::Russia), "2,86 МБ", "75 байт", "Папка", "Неизвестно"},
      // Qt's Uzbek locale data names no units, the MIME database no types.
      {0, QLocale(QLocale::Uzbek, QLocale::CyrillicScript, QLocale::Uzbekistan), "2,86 MB",
       "75 байт", "Жилд", "unknown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.langid);
    Options.langid = c.langid;
    ApplyLanguage(nullptr);
    EXPECT_EQ(QLocale().language(), c.locale.language());
    EXPECT_EQ(QLocale().script(), c.locale.script());

    const TSeen seen = ShowSaveDialog(folder, 3);
    ASSERT_TRUE(seen.shown);
    for (const auto& f : files) {
      SCOPED_TRACE(f.name);
      const QStringList row = seen.texts.value(QLatin1String(f.name));
      ASSERT_EQ(row.size(), 4);
      EXPECT_EQ(row[kSize].toStdString(), f.size > 1024 ? c.big_size : c.small_size);
      EXPECT_EQ(row[kType].toStdString(), c.unknown_type);
      const QString date = c.locale.toString(modified, QLocale::ShortFormat);
      EXPECT_NE(date, QLocale::system().toString(modified, QLocale::ShortFormat));
      EXPECT_EQ(row[kDate].toStdString(), date.toStdString());
    }
    const QStringList papers = seen.texts.value(QStringLiteral("Papers"));
    ASSERT_EQ(papers.size(), 4);
    EXPECT_EQ(papers[kSize].toStdString(), "");
    EXPECT_EQ(papers[kType].toStdString(), c.folder_type);
    EXPECT_TRUE(seen.date_in_sight);
    EXPECT_TRUE(seen.narrow.isEmpty()) << "column " << (seen.narrow.isEmpty() ? 0 : seen.narrow[0]);
  }
}

}  // namespace
}  // namespace qovra
