// A main window in a temporary folder of its own, with scripted services: the settings file,
// the additional settings file, the backup file and the temporary MIDI files all live in that
// folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "core/compile_session.h"
#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/playback/playback_controller.h"
#include "editor/settings/options_dialog.h"
#include "editor/ui/main_window.h"
#include "editor/view/find_bar.h"
#include "editor/view/goto_line_dialog.h"
#include "editor/view/score_view.h"
#include "editor/view/source_edit.h"
#include "tests/editor/support/scripted_services.h"

class EditorFixture {
 public:
  EditorFixture();
  ~EditorFixture();

  // Creates the window; boxes it shows while starting go to `services` as scripted beforehand.
  TForm1& start(const QStringList& arguments = {});
  // Closes the window as its close box would and frees it; true when it closed.
  bool closeWindow();

  QString path(const QString& name) const { return dir.filePath(name); }
  void writeFile(const QString& name, const QByteArray& bytes) const;
  QByteArray readFile(const QString& name) const;
  bool exists(const QString& name) const;
  // The texts of the boxes shown so far, in order.
  QStringList boxTexts() const;
  // Files in the temporary folder whose names end in ".mid".
  QStringList tempMidiFiles() const;

  QTemporaryDir dir;
  ScriptedServices services;
  EditorPaths paths;
  std::unique_ptr<TForm1> form;
};

// The view's editor pane, its find bar and the go-to-line dialog, found as a user meets them
// among the window's widgets.
SourceEdit* editorPane(const TForm1& form);
FindBar* findBar(const TForm1& form);
TGotoLine* gotoLineDialog(const TForm1& form);
// The editor pane's text with '\n' line ends.
QString editorText(const TForm1& form);
// Puts text into the editor pane as typing would (the text counts as edited).
void typeText(TForm1& form, const QString& text);
// A script for the options dialog (ScriptedServices::dialogScripts): the user changes what the
// dialog opened with as change says and confirms it.
std::function<int(QDialog&)> confirmOptions(std::function<void(OptionsChoice&)> change);
