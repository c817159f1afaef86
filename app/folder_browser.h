// The backup folder browser of the maintenance page ("..."): Qt's own folder dialog, set up to
// show file-system folders only, without a way to make (or rename, or delete) a folder, and with
// no folder preselected.
//
// Qt's dialog rather than the desktop's: only Qt's honours ReadOnly and ShowDirsOnly everywhere.
// ReadOnly disables Qt's "Create New Folder" button and its menu entry; Qt has no option that
// removes them, so the button and the entry are also hidden (found by the names Qt gives them).
// Nothing is preselected: the dialog opens on the top of the file system ("Computer"), not in the
// process's current folder, so confirming takes only a folder the operator picked.
//
// UI thread only.
#pragma once

#include <QString>

class QFileDialog;
class QWidget;

namespace velmora {

inline constexpr char kBackupFolderBrowserName[] = "BackupFolderDialog";

// Sets up `dialog` as the folder browser titled `title`.
void SetUpFolderBrowser(QFileDialog& dialog, const QString& title);

// Shows the folder browser modally over `parent`: the chosen folder's full path, or an empty text
// when the operator cancels.
QString BrowseForFolder(QWidget* parent, const QString& title);

}  // namespace velmora
