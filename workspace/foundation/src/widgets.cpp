#include "qovra/ui/widgets.h"

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

}  // namespace qovra::ui
