#include "tests/editor/support/editor_fixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include "tests/editor/support/test_files.h"

EditorFixture::EditorFixture() {
  QDir(dir.path()).mkdir("tmp");
  paths.programPath = dir.filePath("bin/tarvik32");
  paths.settingsFile = dir.filePath("tarvik32.cfg");
  paths.tempDir = dir.filePath("tmp");
  paths.backupFile = dir.filePath("tmp/!!tarvik32.tmp");
  paths.additionalSettingsFile = dir.filePath("config/tarvik32/tarvik32.conf");
}

EditorFixture::~EditorFixture() {
  if (form) {
    form->document().setSaved(true);  // no prompt while tearing down
    form->close();
    form.reset();
  }
}

TForm1& EditorFixture::start(const QStringList& arguments) {
  form = std::make_unique<TForm1>(services, paths, arguments);
  return *form;
}

bool EditorFixture::closeWindow() {
  form->show();
  const bool closed = form->close();
  if (closed) form.reset();
  return closed;
}

void EditorFixture::writeFile(const QString& name, const QByteArray& bytes) const {
  writeTestFile(path(name), bytes);
}

QByteArray EditorFixture::readFile(const QString& name) const {
  return readTestFile(path(name));
}

bool EditorFixture::exists(const QString& name) const {
  return QFile::exists(path(name));
}

QStringList EditorFixture::boxTexts() const {
  QStringList texts;
  for (const RecordedBox& box : services.boxes) texts << box.text;
  return texts;
}

QStringList EditorFixture::tempMidiFiles() const {
  return QDir(paths.tempDir).entryList({"*.mid"}, QDir::Files);
}

SourceEdit* editorPane(const TForm1& form) {
  return form.view().findChild<SourceEdit*>();
}

FindBar* findBar(const TForm1& form) {
  return form.view().findChild<FindBar*>();
}

TGotoLine* gotoLineDialog(const TForm1& form) {
  return form.findChild<TGotoLine*>();
}

QString editorText(const TForm1& form) {
  QString text = editorPane(form)->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, '\n');
  return text;
}

void typeText(TForm1& form, const QString& text) {
  editorPane(form)->textCursor().insertText(text);
}

std::function<int(QDialog&)> confirmOptions(std::function<void(OptionsChoice&)> change) {
  return [change = std::move(change)](QDialog& dialog) {
    auto& options = static_cast<TTarvikOption&>(dialog);
    OptionsChoice choice = options.choice();
    change(choice);
    options.setChoice(choice);
    return int(QDialog::Accepted);
  };
}
