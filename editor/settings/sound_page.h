// The options dialog's page of the sound: the SoundFont, the audio output, reverb, chorus and the
// master gain that playing and the audio export use. A SoundFont is checked when it is chosen:
// one that FluidSynth cannot load is refused with FluidSynth's reason, and the page keeps the
// previous choice.
#pragma once

#include <QStringList>
#include <QWidget>

#include "editor/sound/sound_settings.h"

class EditorServices;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;

class SoundPage : public QWidget {
  Q_OBJECT

 public:
  // Offers the outputs and the default SoundFont of choices and checks a chosen SoundFont with
  // it; the file dialog and the refusal box go through services.
  SoundPage(EditorServices& services, SoundChoices choices, QWidget* parent = nullptr);

  // Shows the settings. An output that is not among the choices (a name FluidSynth on this
  // system lacks) is added, so that confirming the dialog keeps it.
  void setSound(const SoundSettings& sound);
  SoundSettings sound() const;

  QLabel* banner;
  QLineEdit* soundFontEdit;  // read-only: the chosen file, empty for the default
  QPushButton* browseButton;
  QPushButton* defaultButton;
  QComboBox* outputBox;  // item data: the driver name, empty for automatic
  QCheckBox* reverbBox;
  QCheckBox* chorusBox;
  QDoubleSpinBox* gainBox;

 public Q_SLOTS:
  // Asks for a SoundFont file and takes it if FluidSynth loads it.
  void browseSoundFont();
  // Back to the default SoundFont.
  void useDefaultSoundFont();
  // Every control to its default; nothing is saved.
  void reset();

 private:
  int outputIndex(const QString& name);

  EditorServices& services_;
  const SoundChoices choices_;
};
