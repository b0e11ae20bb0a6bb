// Attachment rows shared by the compose and viewer windows: a list item
// holds one TMailAttachmentInfo (a file on disk with DataOffset 0 and its
// full path as FileName, or an attachment of a mail reader).
//
// GUI thread only.
#pragma once

#include <QString>
#include <string>

#include "store/mail_container_reader.h"

class QListWidget;
class QWidget;
class QListWidgetItem;

namespace qovra {
class TRunThreadList;
}

namespace qovra::ui {

// Appends a row for info to list (caption with size, icon, tool tip).
QListWidgetItem* AddAttachmentRow(QListWidget* list, const TMailAttachmentInfo& info);
// The record a row holds.
TMailAttachmentInfo AttachmentOfRow(const QListWidgetItem* item);
// The current item when selected, else the first selected one; null when
// nothing is selected.
QListWidgetItem* SelectedAttachmentRow(QListWidget* list);

// Writes the attachment at data_offset of reader into the temporary
// folder under its bare file name and returns that path; empty when it
// could not be written.
std::string ExtractToTemp(TMailReader& reader, int64_t data_offset, void* progress_data,
                          TProgressProc progress);

// Programs opened from mail windows; they outlive the windows. The
// program's RunThreadList while it runs, else a list of this module's own.
TRunThreadList& MailWindowRunThreads();
// Puts list (not owned) in place of the default one, for tests; null
// restores the default.
void SetMailWindowRunThreads(TRunThreadList* list);

// Hands file to the desktop's opener through MailWindowRunThreads; when the
// opener cannot start, says so over owner ("msgCannotOpenAttachment") with
// the reason on stderr. True when the opener started; when it later exits
// non-zero (it found no program for the file, or that program failed), the
// interface thread says so ("msgAttachmentNotOpened" with the file's name),
// over owner while it lives.
bool OpenAttachmentFile(QWidget* owner, const std::string& file);

}  // namespace qovra::ui
