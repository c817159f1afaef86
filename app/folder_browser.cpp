#include "app/folder_browser.h"

#include <QAction>
#include <QFileDialog>
#include <QToolButton>

namespace velmora {

void SetUpFolderBrowser(QFileDialog& dialog, const QString& title) {
  dialog.setObjectName(QString::fromLatin1(kBackupFolderBrowserName));
  dialog.setWindowTitle(title);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly |
                    QFileDialog::DontUseNativeDialog);
  dialog.setDirectory(QString());  // "Computer": no folder of its own
  if (auto* button = dialog.findChild<QToolButton*>(QStringLiteral("newFolderButton"))) {
    button->hide();
  }
  if (auto* entry = dialog.findChild<QAction*>(QStringLiteral("qt_new_folder_action"))) {
    entry->setEnabled(false);
    entry->setVisible(false);
  }
}

QString BrowseForFolder(QWidget* parent, const QString& title) {
  QFileDialog dialog(parent);
  SetUpFolderBrowser(dialog, title);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.first();
}

}  // namespace velmora
