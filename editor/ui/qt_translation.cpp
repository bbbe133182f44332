#include "editor/ui/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// Qt's text of an edit command in a context menu, and the Edit menu's (main_window.cpp's ACTIONS;
// a test holds the two menus alike).
struct EditCommandText {
  const char* qt;
  const char* editMenu;
};

constexpr EditCommandText EDIT_COMMAND_TEXTS[] = {
    {"&Undo", "元に戻す(&U)"},        {"&Redo", "やり直し(&Y)"},  {"Cu&t", "切り取り(&T)"},
    {"&Copy", "コピー(&C)"},          {"&Paste", "貼り付け(&P)"}, {"Delete", "削除(&D)"},
    {"Select All", "すべて選択(&L)"},
};

// The context menus of the text panes and of the one-line fields.
bool isContextMenuContext(const char* context) {
  return qstrcmp(context, "QWidgetTextControl") == 0 || qstrcmp(context, "QLineEdit") == 0;
}

// Consulted before Qt's translation; a text it does not know is left to that one.
class EditCommandTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                    int /*n*/) const override {
    if (!isContextMenuContext(context)) return {};
    for (const EditCommandText& text : EDIT_COMMAND_TEXTS) {
      if (qstrcmp(sourceText, text.qt) == 0) return QString::fromUtf8(text.editMenu);
    }
    return {};
  }
};

}  // namespace

bool installQtJapaneseTexts(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  bool loaded = translator->load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
                QCoreApplication::installTranslator(translator);
  if (!loaded) delete translator;
  // Installed last, so asked first.
  QCoreApplication::installTranslator(new EditCommandTranslator(&app));
  return loaded;
}
