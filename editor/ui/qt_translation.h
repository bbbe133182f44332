// Qt's own texts (the file dialogs' labels and buttons, the panes' context menus) in Japanese,
// whatever the locale: every other text of the editor is Japanese too. The context menus name
// the edit commands as the Edit menu does.
#pragma once

class QCoreApplication;

// Loads Qt's Japanese translation and installs it on app, with the Edit menu's texts for the
// context menus' edit commands over it; false when Qt's translation is not installed (the edit
// commands are still named as in the Edit menu).
bool installQtJapaneseTexts(QCoreApplication& app);
