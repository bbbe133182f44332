// Scenario tests of the recently used files: the commands that add to the list, its order, one
// entry per file, the limit, opening an entry through the save prompt, an entry whose file is
// gone, and the list kept across a restart, a missing or damaged file giving none and no box,
// and a named pipe or a file over the size bound in the file's place said once and left alone.
#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTest>

#include "editor/settings/additional_settings.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

const char CONF[] = "config/tarvik32/tarvik32.conf";

QStringList recentMenu(const TForm1& form) {
  QStringList texts;
  for (const QAction* item : form.menu("recentFilesMenu")->actions()) texts << item->text();
  return texts;
}

}  // namespace

class RecentFilesTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void openSaveAsCommandLineAndDropAddOneEntryPerFile();
  void anEntryOpensThroughTheSavePromptOrLeavesWhenGone();
  void theListOutlivesTheWindowAndBadFilesGiveNone();
  void aPipeInTheFilesPlaceIsSaidOnceAndLeftAlone();
  void aFileOverTheBoundIsSaidOnceAndLeftAlone();
};

void RecentFilesTest::openSaveAsCommandLineAndDropAddOneEntryPerFile() {
  EditorFixture f;
  QStringList arguments;
  for (int i = 1; i <= 10; ++i) {
    f.writeFile(QString("%1.fms").arg(i), "x");
    arguments << f.path(QString("%1.fms").arg(i));
  }
  f.writeFile("b&c.fms", "b");
  QDir(f.dir.path()).mkdir("sub");
  TForm1& form = f.start(arguments);
  f.services.fileNames = {f.path("b&c.fms")};
  form.Open1Click();
  form.filesDropped({f.path("sub/../9.fms")});  // the same file under another name
  typeText(form, "new ");
  f.services.fileNames = {f.path("new.fms")};
  form.N1Click();
  QStringList expected = {f.path("new.fms"), f.path("9.fms"), f.path("b&c.fms")};
  for (int i = 10; i >= 3; --i) {
    if (i != 9) expected << f.path(QString("%1.fms").arg(i));
  }
  QCOMPARE(form.additionalSettings().recentFiles(), expected);  // ten, the oldest went first
  QCOMPARE(recentMenu(form).at(2), "&3 " + f.path("b&&c.fms"));
  QCOMPARE(recentMenu(form).last(), "1&0 " + f.path("3.fms"));
}

void RecentFilesTest::anEntryOpensThroughTheSavePromptOrLeavesWhenGone() {
  EditorFixture f;
  f.writeFile("a.fms", "from a");
  f.writeFile("b.fms", "from b");
  f.writeFile("c.fms", "from c");
  TForm1& form = f.start({f.path("a.fms"), f.path("b.fms"), f.path("c.fms")});
  typeText(form, "edited ");
  f.services.boxAnswers = {BoxAnswer::Cancel, BoxAnswer::No};
  form.menu("recentFilesMenu")->actions().at(1)->trigger();  // b
  QCOMPARE(editorText(form), QString("edited from c"));
  QFile::remove(f.path("a.fms"));
  form.menu("recentFilesMenu")->actions().at(2)->trigger();  // a, gone: no prompt
  QCOMPARE(form.messagePane()->toPlainText().split('\n').last(),
           " -> ファイルがないため最近使ったファイルから外しました : " + f.path("a.fms"));
  QCOMPARE(recentMenu(form), (QStringList{"&1 " + f.path("c.fms"), "&2 " + f.path("b.fms")}));
  QVERIFY(!f.readFile(CONF).contains("a.fms"));
  form.menu("recentFilesMenu")->actions().at(1)->trigger();  // b
  QCOMPARE(f.boxTexts(), QStringList(2, "ソースが変更されています\n保存しますか？"));
  QCOMPARE(editorText(form), QString("from b"));
  QCOMPARE(form.additionalSettings().recentFiles().first(), f.path("b.fms"));
}

void RecentFilesTest::theListOutlivesTheWindowAndBadFilesGiveNone() {
  EditorFixture f;
  f.writeFile("a.fms", "a");
  f.writeFile("曲, \"b\".fms", "b");
  f.start();
  QVERIFY(!f.form->action("recentFiles")->isEnabled() &&
          !f.exists(CONF));  // nothing written unasked
  f.form->filesDropped({f.path("a.fms")});
  f.form->filesDropped({f.path("曲, \"b\".fms")});
  QVERIFY(f.closeWindow());
  QCOMPARE(f.start().additionalSettings().recentFiles(),
           (QStringList{f.path("曲, \"b\".fms"), f.path("a.fms")}));
  QVERIFY(f.closeWindow());
  // Edited by hand: empty, relative and repeated entries are skipped.
  const QByteArray a = f.path("a.fms").toUtf8();
  f.writeFile(CONF, "[RecentFiles]\nsize=4\n1\\path=\n2\\path=a.fms\n3\\path=" + a +
                        "\n4\\path=" + a + "\n");
  QCOMPARE(f.start().additionalSettings().recentFiles(), QStringList{f.path("a.fms")});
  QVERIFY(f.closeWindow());
  QByteArray garbage;
  for (int i = 0; i < 512; ++i) garbage += char(i * 37 % 256);
  f.writeFile(CONF, garbage);
  QVERIFY(f.start().additionalSettings().recentFiles().isEmpty());
  f.form->filesDropped({f.path("a.fms")});
  QCOMPARE(AdditionalSettings(f.path(CONF)).recentFiles(), QStringList{f.path("a.fms")});
  QVERIFY(f.services.boxes.empty());
}

void RecentFilesTest::aPipeInTheFilesPlaceIsSaidOnceAndLeftAlone() {
  EditorFixture f;
  QVERIFY(QDir().mkpath(QFileInfo(f.path(CONF)).path()));
  QCOMPARE(::mkfifo(QFile::encodeName(f.path(CONF)).constData(), 0600), 0);
  f.writeFile("a.fms", "a");
  f.writeFile("b.fms", "b");
  TForm1& form = f.start({f.path("a.fms")});  // the opened file's entry cannot be saved
  const QString notice = " [注意] 追加設定ファイル " + f.path(CONF) +
                         " は通常のファイルではないため, 読み込みも保存もしません";
  QCOMPARE(form.messagePane()->toPlainText(), notice + "\n -> 開いたソースのサイズ : 1 バイト");
  form.filesDropped({f.path("b.fms")});  // a second save of the list, refused as well
  QVERIFY2(!form.messagePane()->toPlainText().contains(notice),
           qPrintable(form.messagePane()->toPlainText()));
  QCOMPARE(form.additionalSettings().recentFiles(),
           (QStringList{f.path("b.fms"), f.path("a.fms")}));
  QVERIFY(f.services.boxes.empty());
  struct stat info {};
  QVERIFY(::stat(QFile::encodeName(f.path(CONF)).constData(), &info) == 0 &&
          S_ISFIFO(info.st_mode));
}

// A sparse gigabyte whose first lines hold a list: opening scores neither reads it (the list
// stays empty) nor writes it back, and the message pane says so once.
void RecentFilesTest::aFileOverTheBoundIsSaidOnceAndLeftAlone() {
  constexpr qint64 SIZE = qint64(1) << 30;
  EditorFixture f;
  const QByteArray head = "[RecentFiles]\nsize=1\n1\\path=" + f.path("a.fms").toUtf8() + "\n";
  QVERIFY(QDir().mkpath(QFileInfo(f.path(CONF)).path()));
  f.writeFile(CONF, head);
  QVERIFY(QFile::resize(f.path(CONF), SIZE));
  const QDateTime written = QFileInfo(f.path(CONF)).lastModified();
  f.writeFile("a.fms", "a");
  f.writeFile("b.fms", "b");
  TForm1& form = f.start();
  QVERIFY(form.additionalSettings().recentFiles().isEmpty());
  const QString notice = " [注意] 追加設定ファイル " + f.path(CONF) +
                         " は 1048576 バイトを超えるため, 読み込みも保存もしません";
  QCOMPARE(form.messagePane()->toPlainText(), notice);
  form.filesDropped({f.path("a.fms")});
  form.filesDropped({f.path("b.fms")});
  QCOMPARE(form.messagePane()->toPlainText().count(notice), 0);  // the pane shows b's opening
  QCOMPARE(form.additionalSettings().recentFiles(),
           (QStringList{f.path("b.fms"), f.path("a.fms")}));
  QVERIFY(f.services.boxes.empty());
  QCOMPARE(QFileInfo(f.path(CONF)).size(), SIZE);
  QCOMPARE(QFileInfo(f.path(CONF)).lastModified(), written);
  QFile file(f.path(CONF));
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.read(head.size() + 1), head + '\0');
  QCOMPARE(QDir(QFileInfo(f.path(CONF)).path())
               .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
           QStringList{"tarvik32.conf"});  // no temporary or lock file beside it
}

QTEST_MAIN(RecentFilesTest)
#include "recent_files_test.moc"
