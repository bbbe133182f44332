// The MIDI import's dialog: the file's parts with check boxes, when they do not all fit in the
// score's channels (else a line that the notes lie off the grid), and the transcription choices
// for played input (a grid, steady velocity).
#pragma once

#include <QDialog>
#include <vector>

#include "editor/settings/additional_settings.h"
#include "import/midi_import.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// What the user confirmed: the parts numbered as listParts numbers them (from 1), and the
// transcription choice.
struct MidiImportSelection {
  std::vector<int> parts;
  MidiImportChoice choice;
};

class MidiImportDialog : public QDialog {
  Q_OBJECT

 public:
  // One row a part, checked where `checked` says (the same order); the grid and the steady
  // velocity as `choice` holds them.
  MidiImportDialog(const std::vector<PartSummary>& parts, const std::vector<bool>& checked,
                   const MidiImportChoice& choice, QWidget* parent = nullptr);

  MidiImportSelection selection() const;

  // The controls: the scenario tests set them; callers read selection().
  QLabel* partsLabel;
  QTreeWidget* partList;  // columns as --list shows them; the first holds the check box
  QComboBox* gridBox;     // item 0: none; then GRID_VALUES, then their triplets
  QCheckBox* steadyBox;

 private:
  void updateOk();
  QPushButton* ok_;
};

// The import options of a selection.
ImportOptions importOptions(const MidiImportSelection& selection);
