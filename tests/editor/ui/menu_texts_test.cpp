// The menus' texts: every item of the menu bar and of each menu has a mnemonic of its own within
// its menu, and the panes' context menus name the edit commands as the Edit menu does.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "editor/ui/qt_translation.h"
#include "editor/view/find_bar.h"
#include "tests/editor/support/editor_fixture.h"

namespace {

// The compiled-data item's caption has no mnemonic, and keeps it.
const QStringList WITHOUT_MNEMONIC = {"korvelデータ出力"};

// What is wrong with the mnemonics of `items` (named by `menu`): an item without one, or a
// letter two items share.
QStringList mnemonicFaults(const QString& menu, const QList<QAction*>& items) {
  QStringList faults;
  QMap<QKeySequence, QString> taken;
  for (const QAction* item : items) {
    if (item->isSeparator()) continue;
    const QKeySequence mnemonic = QKeySequence::mnemonic(item->text());
    if (mnemonic.isEmpty()) {
      if (!WITHOUT_MNEMONIC.contains(item->text()))
        faults << menu + ": no mnemonic: " + item->text();
    } else if (taken.contains(mnemonic)) {
      faults << menu + ": " + taken[mnemonic] + " and " + item->text();
    } else {
      taken.insert(mnemonic, item->text());
    }
  }
  return faults;
}

// A context menu's item texts without the shortcuts Qt shows after a tab.
QStringList itemTexts(QMenu* menu) {
  QStringList texts;
  for (const QAction* item : menu->actions()) {
    if (!item->isSeparator()) texts << item->text().section('\t', 0, 0);
  }
  delete menu;
  return texts;
}

}  // namespace

class MenuTextsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void everyItemHasAMnemonicOfItsOwnInItsMenu();
  void contextMenusNameTheEditCommandsAsTheEditMenuDoes();
};

void MenuTextsTest::everyItemHasAMnemonicOfItsOwnInItsMenu() {
  EditorFixture f;
  TForm1& form = f.start();
  QStringList faults = mnemonicFaults("menu bar", form.menuBar()->actions());
  for (QAction* title : form.menuBar()->actions()) {
    faults += mnemonicFaults(title->text(), title->menu()->actions());
  }
  QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
}

// The editor pane's menu, the message pane's and the find field's are Qt's own.
void MenuTextsTest::contextMenusNameTheEditCommandsAsTheEditMenuDoes() {
  installQtJapaneseTexts(*QCoreApplication::instance());
  EditorFixture f;
  TForm1& form = f.start();
  const QStringList editor = itemTexts(editorPane(form)->createStandardContextMenu());
  for (const QAction* item :
       {form.view().Undo2, form.view().redoAction, form.view().Cut2, form.view().Copy2,
        form.view().Paste2, form.view().Delete2, form.view().SelectAll2}) {
    QVERIFY2(editor.contains(item->text()), qPrintable(item->text() + " / " + editor.join(", ")));
  }
  const QStringList messages = itemTexts(form.messagePane()->createStandardContextMenu());
  for (const QAction* item : {form.view().Copy2, form.view().SelectAll2}) {
    QVERIFY2(messages.contains(item->text()),
             qPrintable(item->text() + " / " + messages.join(", ")));
  }
  const QStringList field = itemTexts(findBar(form)->findField->createStandardContextMenu());
  for (const QAction* item : {form.view().Undo2, form.view().redoAction, form.view().SelectAll2}) {
    QVERIFY2(field.contains(item->text()), qPrintable(item->text() + " / " + field.join(", ")));
  }
}

QTEST_MAIN(MenuTextsTest)
#include "menu_texts_test.moc"
