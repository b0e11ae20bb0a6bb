// Small helpers the settings pages share.
#pragma once

#include <QGridLayout>
#include <QLabel>
#include <QString>
#include <string_view>

#include "base/messages.h"
#include "qovra/account/options_pages.h"

namespace qovra::account {

// The installed file chooser (or the Qt file dialog).
IOpenFileChooser& OpenFileChooser();

inline QString Msg(std::string_view key) {
  return QString::fromStdString(GetMsg(key));
}

// A label named name, for buddy.
inline QLabel* NamedLabel(QWidget* parent, const char* name, QWidget* buddy) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setBuddy(buddy);
  return label;
}

// The folder of path ("" when path names none).
QString FolderOf(const QString& path);

}  // namespace qovra::account
