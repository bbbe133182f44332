// tarvik32: the score editor. Creates the main window with its services and runs the
// message loop; an exception that escapes is shown and the program ends normally.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSessionManager>
#include <exception>

#include "editor/document/backup_lock.h"
#include "editor/document/score_document.h"
#include "editor/document/whole_file_writer.h"
#include "editor/settings/additional_settings.h"
#include "editor/settings/settings_file.h"
#include "editor/ui/desktop_services.h"
#include "editor/ui/ending_signals.h"
#include "editor/ui/main_window.h"
#include "editor/ui/qt_translation.h"
#include "editor/ui/toolbar_icons.h"

int main(int argc, char* argv[]) {
  ignoreFileSizeSignal();
  QApplication app(argc, argv);
  QApplication::setApplicationName("tarvik32");
  QApplication::setWindowIcon(toolIcon(ToolIcon::Program));
  installQtJapaneseTexts(app);
  try {
    DesktopServices services;
    EditorPaths paths;
    paths.programPath = QCoreApplication::applicationFilePath();
    paths.settingsFile = settingsFilePath(paths.programPath);
    paths.tempDir = QDir::tempPath();
    paths.backupFile = userBackupFilePath();
    paths.additionalSettingsFile = additionalSettingsFilePath();
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    TForm1 form(services, paths, arguments);
    EndingSignals endings([&backup = form.document().lastResort()] { backup.write(); });
    QObject::connect(&endings, &EndingSignals::received, &form, &TForm1::endOnSignal);
#ifndef QT_NO_SESSIONMANAGER
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager&) { form.preserveUnsavedText(); });
#endif
    form.show();
    return app.exec();
  } catch (const std::exception& error) {
    QMessageBox::critical(nullptr, "tarvik32", QString::fromLocal8Bit(error.what()));
  }
  return 0;
}
