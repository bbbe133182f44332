// The options dialog TTarvikOption, where the user picks the start-up switches, the default gate
// and the editor font that the settings file keeps (the first page) and the sound that the
// additional settings keep (the second), and the options command that fills it from the stored
// settings, shows it and saves what the user confirmed.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QStringList>
#include <optional>

#include "editor/settings/settings_file.h"
#include "editor/sound/sound_settings.h"

class AdditionalSettings;
class EditorServices;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QTabWidget;
class SoundPage;

// A framed column of radio buttons addressed by item index, the first item being 0.
class RadioGroup : public QGroupBox {
 public:
  RadioGroup(const QString& title, const QStringList& items, QWidget* parent = nullptr);

  // The checked item, or -1 when none is checked.
  int itemIndex() const;
  // Checks the item at index; an index outside the items leaves none checked.
  void setItemIndex(int index);

 private:
  QButtonGroup* buttons_;
};

// What the options dialog shows when it opens and what the user confirmed in it.
struct OptionsChoice {
  StartupSettings startup;
  bool q7Default = false;  // the default gate is the Q7 step
  SoundSettings sound;
  bool operator==(const OptionsChoice&) const = default;
};

class TTarvikOption : public QDialog {
  Q_OBJECT

 public:
  // The dialog and its sound page show themselves, their file dialog and their boxes through
  // services; the sound page offers what choices hold.
  TTarvikOption(EditorServices& services, SoundChoices choices, QWidget* parent = nullptr);

  // Opens on the start-up page showing `shown`, whatever an earlier opening left, and returns
  // what the user confirmed; std::nullopt when the dialog was cancelled.
  std::optional<OptionsChoice> choose(const OptionsChoice& shown);

  // Every control set from choice; and what the controls hold.
  void setChoice(const OptionsChoice& choice);
  OptionsChoice choice() const;

  // The controls: the dialog's own tests drive them; callers go through choose().
  QTabWidget* pages;  // the start-up page first, then soundPage
  QLabel* Label1;
  QGroupBox* GroupBox1;  // start-up switches
  QCheckBox* CheckBox1;  // automatic overwrite-save
  QCheckBox* CheckBox2;  // repeat playback
  QCheckBox* CheckBox3;  // line numbers; never shown, but filled and saved like the others
  QCheckBox* CheckBox5;  // automatic left/right distribution
  QGroupBox* GroupBox2;
  QCheckBox* CheckBox4;     // open the main window maximized
  RadioGroup* RadioGroup2;  // default gate: item 1 is the Q7 step
  RadioGroup* RadioGroup1;  // editor font: small, medium, large
  QPushButton* BitBtn1;     // OK
  QPushButton* BitBtn2;     // Cancel
  QPushButton* BitBtn3;     // Reset: the page shown
  SoundPage* soundPage;

 public Q_SLOTS:
  // Clears every check box and puts both radio groups on their first item; the dialog stays
  // open and nothing is saved.
  void BitBtn3Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  EditorServices& services_;
};

// The main window's options command: fills the dialog from settings, q7Default and the sound of
// additional, shows it on its first page through services and, when the user confirms it, keeps
// the sound in additional, saves the settings file at settingsPath and reports the outcome in
// boxes owned by parent. Cancelling leaves settings, q7Default, the sound and both files as they
// were.
void runOptionsCommand(TTarvikOption& dialog, const QString& settingsPath,
                       StartupSettings& settings, bool& q7Default, AdditionalSettings& additional,
                       EditorServices& services, QWidget* parent);
