// The prompt seam on top of TfrmPassword.
#include <QApplication>
#include <QLineEdit>
#include <utility>

#include "qovra/account/password_prompt.h"
#include "qovra/controls/edit_ex.h"
#include "qovra/ui/widgets.h"

namespace qovra::ui {
namespace {

constexpr uint8_t kModePlain = 2;
constexpr uint8_t kModeReauthenticate = 0;
constexpr int kResultAccepted = 1;

QWidget* OwnerOrActive(TWindowHandle owner) {
  QWidget* widget = WidgetOf(owner);
  return widget ? widget : QApplication::activeWindow();
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::optional<std::string> TPasswordPromptUi::AskSecret(TWindowHandle owner,
                                                        const std::string& caption,
                                                        const std::string& prompt,
                                                        const std::string& icon_name) {
  TfrmPassword form(OwnerOrActive(owner));
  if (form.Execute(FromUtf8(caption), FromUtf8(prompt), kModePlain, FromUtf8(icon_name)) !=
      kResultAccepted) {
    return std::nullopt;
  }
  QByteArray bytes = form.ePassword->text().toUtf8();
  std::string text(bytes.constData(), static_cast<size_t>(bytes.size()));
  bytes.fill('\0');
  return std::optional<std::string>(std::move(text));
}

int TPasswordPromptUi::Reauthenticate(TWindowHandle owner, const std::string& caption,
                                      const std::string& prompt, const std::string& icon_name) {
  TfrmPassword form(OwnerOrActive(owner));
  return form.Execute(FromUtf8(caption), FromUtf8(prompt), kModeReauthenticate,
                      FromUtf8(icon_name));
}

}  // namespace qovra::ui
