#include "editor/ui/file_dialog_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "editor/document/score_document.h"
#include "editor/settings/additional_settings.h"

QString scoreDialogFolder(const ScoreDocument& document, const AdditionalSettings& settings) {
  QStringList scores;
  if (document.hasFileName()) scores << document.sourcePath();
  if (!settings.recentFiles().isEmpty()) scores << settings.recentFiles().first();
  for (const QString& score : scores) {
    const QString folder = QFileInfo(score).absolutePath();
    if (QFileInfo(folder).isDir()) return folder;
  }
  return QDir::homePath();
}
