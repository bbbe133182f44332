// Qt's own texts (the file dialogs' labels and buttons, the panes' context menus) in Japanese,
// whatever the locale: every other text of the editor is Japanese too.
#pragma once

class QCoreApplication;

// Loads Qt's Japanese translation and installs it on app; false when it is not installed.
bool installQtJapaneseTexts(QCoreApplication& app);
