// The prompt seam on top of TfrmPassword, and the wiping of an edit's text.
#include <QApplication>
#include <QLineEdit>
#include <cstring>
#include <utility>

#include "qovra/controls/edit_ex.h"
#include "qovra/ui/password_prompt.h"
#include "qovra/ui/widgets.h"

namespace qovra::ui {
namespace {

constexpr uint8_t kModePlain = 2;
constexpr uint8_t kModeReauthenticate = 0;
constexpr int kResultAccepted = 1;
constexpr int kResultCancelled = 2;

QWidget* OwnerOrActive(TWindowHandle owner) {
  QWidget* widget = WidgetOf(owner);
  return widget ? widget : QApplication::activeWindow();
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

bool WipeEditText(QLineEdit* edit) {
  bool wiped = false;
  {
    // A copy of text() shares the edit's buffer. When this copy and the
    // edit are its only holders, the whole allocation is overwritten;
    // otherwise someone else still reads it and it is left alone.
    QString text = edit->text();
    auto& data = text.data_ptr();
    if (data.isMutable() && data.d_ptr()->ref_.loadRelaxed() == 2) {
      std::memset(static_cast<void*>(const_cast<QChar*>(text.constData())), 0,
                  static_cast<size_t>(text.capacity()) * sizeof(QChar));
      wiped = true;
    }
  }
  edit->clear();
  return wiped;
}

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
  if (TfrmPassword::ReauthenticationOpen()) return kResultCancelled;
  TfrmPassword form(OwnerOrActive(owner));
  return form.Execute(FromUtf8(caption), FromUtf8(prompt), kModeReauthenticate,
                      FromUtf8(icon_name));
}

}  // namespace qovra::ui
