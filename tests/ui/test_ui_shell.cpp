// The folder chooser (answered through its seam) and file-type icons.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include "qovra/ui/shell.h"

using namespace qovra::ui;

namespace {

class ScriptedChooser : public IFolderChooser {
 public:
  QString ChooseFolder(QWidget* owner, const QString& title, const QString& initial_dir) override {
    seen_owner = owner;
    seen_title = title;
    seen_initial = initial_dir;
    return answer;
  }
  QString answer;
  QWidget* seen_owner = nullptr;
  QString seen_title;
  QString seen_initial;
};

class ScopedChooser {
 public:
  ScopedChooser() { SetFolderChooser(&chooser); }
  ~ScopedChooser() { SetFolderChooser(nullptr); }
  ScriptedChooser chooser;
};

}  // namespace

TEST(BrowseForFolder, KeepsOnlyExistingAbsoluteFolders) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile file(dir.filePath(QStringLiteral("plain.txt")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));

  ScopedChooser scoped;
  struct Case {
    QString answer;
    QString expected;
  } cases[] = {
      {dir.path() + "/sub/", dir.path() + "/sub"},
      {dir.path() + "/sub/../sub", dir.path() + "/sub"},
      {QString(), QString()},                          // cancelled
      {QStringLiteral("relative/folder"), QString()},  // not a file-system path
      {dir.path() + "/missing", QString()},
      {file.fileName(), QString()},  // a file, not a folder
  };
  QWidget owner;
  for (const Case& c : cases) {
    scoped.chooser.answer = c.answer;
    EXPECT_EQ(BrowseForFolderW(&owner, QStringLiteral("Pick"), dir.path()), c.expected)
        << c.answer.toStdString();
  }
  EXPECT_EQ(scoped.chooser.seen_owner, &owner);
  EXPECT_EQ(scoped.chooser.seen_title, QStringLiteral("Pick"));
  EXPECT_EQ(scoped.chooser.seen_initial, dir.path());

  scoped.chooser.answer = dir.path() + "/sub";
  EXPECT_EQ(BrowseForFolderA(nullptr, "Папка", ""), (dir.path() + "/sub").toStdString());
  EXPECT_EQ(scoped.chooser.seen_title, QStringLiteral("Папка"));
}

TEST(GetFileIconIndex, OneIndexPerTypeByNameAlone) {
  const int txt = GetFileIconIndex(QStringLiteral("/no/such/dir/readme.txt"));
  EXPECT_EQ(GetFileIconIndex(QStringLiteral("notes.txt")), txt);
  const int pdf = GetFileIconIndex(QStringLiteral("report.pdf"));
  EXPECT_NE(pdf, txt);
  const int none = GetFileIconIndex(QStringLiteral("no_extension"));
  EXPECT_GE(none, 0);
  EXPECT_GE(SystemImageCount(), 2);
  EXPECT_FALSE(SystemImageIcon(txt).isNull());
  EXPECT_FALSE(SystemImageIcon(pdf).isNull());
  EXPECT_TRUE(SystemImageIcon(SystemImageCount()).isNull());
  EXPECT_TRUE(SystemImageIcon(-1).isNull());
}
