// The options dialog's page of the sound: the SoundFont, the audio output, reverb, chorus and the
// master gain that playing and the audio export use. A SoundFont is checked when it is chosen:
// a path that is no regular file is refused at once, and one that FluidSynth cannot load with
// FluidSynth's reason once its load, away from the user-interface thread, has failed; the page
// keeps the previous choice. The dialog stays responsive while the load runs, and any other
// choice made meanwhile (a newer file, the default, a reset, the settings shown anew) drops the
// check.
#pragma once

#include <QStringList>
#include <QWidget>
#include <cstdint>

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
  // A chosen SoundFont is being loaded; the banner says so.
  bool checking() const { return checking_; }

  QLabel* banner;
  QLineEdit* soundFontEdit;  // read-only: the chosen file, empty for the default
  QPushButton* browseButton;
  QPushButton* defaultButton;
  QComboBox* outputBox;  // item data: the driver name, empty for automatic
  QCheckBox* reverbBox;
  QCheckBox* chorusBox;
  QDoubleSpinBox* gainBox;

 public Q_SLOTS:
  // Asks for a SoundFont file and takes it once FluidSynth has loaded it.
  void browseSoundFont();
  // Back to the default SoundFont.
  void useDefaultSoundFont();
  // Every control to its default; nothing is saved.
  void reset();

 private:
  int outputIndex(const QString& name);
  void dropCheck();
  void checked(uint64_t check, const QString& path, const QString& problem);
  void refuse(const QString& path, const QString& reason);

  EditorServices& services_;
  const SoundChoices choices_;
  uint64_t checks_ = 0;  // checks begun; only the newest one's answer counts
  bool checking_ = false;
};
