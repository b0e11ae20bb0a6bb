#include "qovra/ui/apply_language.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>
#include <QTranslator>
#include <QVariant>
#include <QWidget>

#include "base/records.h"
#include "qovra/ui/file_dialog_look.h"
#include "settings/language.h"

namespace qovra {
namespace {

QString Q(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QStringList Items(const TLanguageEntry& e) {
  QStringList list;
  for (const std::string& item : e.items) list << Q(item);
  return list;
}

QObject* FindComponent(QObject* root, const QString& name) {
  if (QObject* exact = root->findChild<QObject*>(name)) return exact;
  const QList<QObject*> all = root->findChildren<QObject*>();
  for (QObject* o : all) {
    if (o->objectName().compare(name, Qt::CaseInsensitive) == 0) return o;
  }
  return nullptr;
}

// The tab widget that shows page as one of its pages, and the page's index.
QTabWidget* TabOf(QWidget* page, int& index) {
  auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
  auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
  index = tabs ? tabs->indexOf(page) : -1;
  return index >= 0 ? tabs : nullptr;
}

void SetButton(QAbstractButton* button, const TLanguageEntry& e) {
  button->setText(Q(e.text));
  if (e.has_hint && !e.hint.empty()) {
    button->setToolTip(Q(e.hint));
  } else if (auto* tool = qobject_cast<QToolButton*>(button); tool && tool->defaultAction()) {
    tool->setToolTip(tool->defaultAction()->toolTip());
  }
}

void SetComponent(QObject* object, const TLanguageEntry& e) {
  if (auto* action = qobject_cast<QAction*>(object)) {
    action->setText(Q(e.text));
    if (e.has_hint) {
      action->setToolTip(Q(e.hint));
      action->setStatusTip(Q(e.hint));
    }
    return;
  }
  auto* widget = qobject_cast<QWidget*>(object);
  if (!widget) return;
  // The program's own controls with a text publish it as "Caption".
  if (const int caption = widget->metaObject()->indexOfProperty("Caption"); caption >= 0) {
    widget->setProperty("Caption", Q(e.text));
    if (e.has_hint) widget->setToolTip(Q(e.hint));
    return;
  }
  int tab_index = -1;
  if (QTabWidget* tabs = TabOf(widget, tab_index)) {
    tabs->setTabText(tab_index, Q(e.text));
    tabs->setTabToolTip(tab_index, Q(e.hint));
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (label->text().isEmpty() && !label->pixmap().isNull()) {
      label->setToolTip(Q(e.text));
    } else {
      label->setText(Q(e.text));
      label->setToolTip(Q(e.hint));
    }
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    SetButton(button, e);
  } else if (auto* menu = qobject_cast<QMenu*>(widget)) {
    menu->setTitle(Q(e.text));
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(Q(e.text));
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    if (e.items.empty()) return;
    combo->clear();
    combo->addItems(Items(e));
    combo->setCurrentIndex(0);
  } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
    if (e.items.empty()) return;
    list->clear();
    list->addItems(Items(e));
    list->setCurrentRow(0);
  }
}

}  // namespace

QString LanguageClassName(const QObject* control) {
  const QVariant property = control->property("qovraClass");
  if (property.isValid() && !property.toString().isEmpty()) return property.toString();
  const QString name = QString::fromLatin1(control->metaObject()->className());
  const qsizetype colons = name.lastIndexOf(QLatin1String("::"));
  return colons < 0 ? name : name.mid(colons + 2);
}

void ApplyLanguageFile(const TLanguageFile* file, QWidget* control, QWidget* owner) {
  if (!file) return;
  ApplyLanguageMessages(file);
  if (!control) return;
  const QByteArray class_name = LanguageClassName(control).toUtf8();
  QObject* root = owner ? owner : control;
  for (const TLanguageEntry& e : file->Entries(
           std::string_view(class_name.constData(), static_cast<size_t>(class_name.size())))) {
    if (e.name == "Caption") {
      if (control->isWindow()) control->setWindowTitle(Q(e.text));
    } else if (e.name == "Hint") {
      control->setToolTip(Q(e.text));
    } else if (QObject* component = FindComponent(root, Q(e.name))) {
      SetComponent(component, e);
    }
  }
}

QLocale LanguageLocale(int langid) {
  const std::string_view code = LanguageCode(langid);
  if (code == "ru") return QLocale(QLocale::Russian, QLocale::Russia);
  if (code == "uzc") return QLocale(QLocale::Uzbek, QLocale::CyrillicScript, QLocale::Uzbekistan);
  return QLocale::c();
}

void FollowQtTranslation() {
  static int current = -1;
  static QPointer<QTranslator> translator;
  auto* app = QCoreApplication::instance();
  if (!app || Options.langid == current) return;
  current = Options.langid;
  QLocale::setDefault(LanguageLocale(current));
  ui::InstallFileDialogLook();
  if (translator) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
  if (LanguageCode(current) != "ru") return;
  auto* loaded = new QTranslator(app);
  if (!loaded->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete loaded;
    return;
  }
  QCoreApplication::installTranslator(loaded);
  translator = loaded;
}

void ApplyLanguage(QWidget* control, QWidget* owner) {
  FollowQtTranslation();
  const auto file = CurrentLanguageFile();
  ApplyLanguageFile(file.get(), control, owner);
  ui::RefreshFileDialogTexts();
}

}  // namespace qovra
