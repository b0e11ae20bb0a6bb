#include "qovra/ui/widgets.h"

#include <QAction>
#include <QIcon>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <cstring>

#include "qovra/ui/png_resources.h"

namespace qovra::ui {

namespace {
ApplyLanguageFn g_apply_language = nullptr;
}  // namespace

void DisableChildControls(QWidget* container, bool disable) {
  if (!container) return;
  const auto children = container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) {
    child->setEnabled(!disable);
    if (!child->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty()) {
      DisableChildControls(child, disable);
    }
  }
}

void SetApplyLanguageFn(ApplyLanguageFn fn) {
  g_apply_language = fn;
}

void ApplyLanguageToForm(QWidget* form) {
  if (g_apply_language && form) g_apply_language(form);
}

bool WipeEditText(QLineEdit* edit) {
  bool wiped = false;
  {
    // A copy of text() shares the edit's buffer. When this copy and the
    // edit are its only holders, the whole allocation is overwritten: from
    // the free space a removal at the front left before the text to the
    // end of its capacity.
    QString text = edit->text();
    auto& data = text.data_ptr();
    if (data.isMutable() && data.d_ptr()->ref_.loadRelaxed() == 2) {
      QChar* begin = const_cast<QChar*>(text.constData()) - data.freeSpaceAtBegin();
      std::memset(static_cast<void*>(begin), 0,
                  static_cast<size_t>(data.allocatedCapacity()) * sizeof(QChar));
      wiped = true;
    }
  }
  edit->clear();
  return wiped;
}

QAction* NamedAction(QObject* parent, const char* name) {
  auto* a = new QAction(parent);
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

QPushButton* PictureButton(QWidget* parent, const char* name, const char* picture) {
  auto* b = new QPushButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setIcon(QIcon(QPixmap::fromImage(LoadPngResource(QString::fromLatin1(picture)))));
  b->setFocusPolicy(Qt::TabFocus);
  return b;
}

}  // namespace qovra::ui
