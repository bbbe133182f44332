// The MIDI import's dialog: a list of the parts to check and the transcription choices. OK is
// disabled while no part is checked.
#include "editor/ui/midi_import_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

namespace {

const char TITLE[] = "MIDI ファイル読み込み";
const char PARTS_TEXT[] = "パートが 9 チャンネルに収まりません.\n読み込むパートを選んでください.";
const char PLAYED_TEXT[] =
    "音符が格子に乗っていません (演奏の記録のようです).\n格子に合わせるなら選んでください.";
const QStringList PART_COLUMNS = {"パート", "トラック", "チャンネル", "音色",
                                  "音符",   "声部",     "名前"};
const char GRID_LABEL[] = "格子(&G):";
const char GRID_NONE[] = "なし(そのまま)";
const char GRID_ITEM[] = "1/%1";
const char GRID_TRIPLET_ITEM[] = "1/%1 3連符";
const char STEADY_TEXT[] = "音量の 1 段の揺れをならす(&V)";
constexpr int PART_ROWS_SHOWN = 16;  // more rows scroll
constexpr int GRID_COUNT = static_cast<int>(std::size(MidiImportChoice::GRID_VALUES));

// The combo box's item of a choice: 0 for none, then the values, then their triplets.
int gridItem(const MidiImportChoice& choice) {
  for (int k = 0; k < GRID_COUNT; ++k) {
    if (MidiImportChoice::GRID_VALUES[k] == choice.grid)
      return 1 + k + (choice.triplets ? GRID_COUNT : 0);
  }
  return 0;
}

}  // namespace

MidiImportDialog::MidiImportDialog(const std::vector<PartSummary>& parts,
                                   const std::vector<bool>& checked, const MidiImportChoice& choice,
                                   QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(TITLE);
  partsLabel = new QLabel(PARTS_TEXT, this);
  partList = new QTreeWidget(this);
  partList->setRootIsDecorated(false);
  partList->setHeaderLabels(PART_COLUMNS);
  for (size_t i = 0; i < parts.size(); ++i) {
    const PartSummary& p = parts[i];
    auto* row = new QTreeWidgetItem(
        partList,
        {QString::number(i + 1), QString::number(p.track), QString::number(p.midiChannel),
         p.program < 0 ? QString("-") : QString::number(p.program), QString::number(p.notes),
         QString::number(p.voices), QString::fromStdString(p.name)});
    row->setCheckState(0, i < checked.size() && checked[i] ? Qt::Checked : Qt::Unchecked);
    for (int c = 0; c + 1 < PART_COLUMNS.size(); ++c) row->setTextAlignment(c, Qt::AlignRight);
  }
  partList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  // Every column in view, and the rows up to PART_ROWS_SHOWN.
  const int frame = 2 * partList->frameWidth();
  const int rows = std::min(static_cast<int>(parts.size()), PART_ROWS_SHOWN);
  partList->setMinimumSize(
      partList->header()->length() + partList->verticalScrollBar()->sizeHint().width() + frame,
      partList->header()->sizeHint().height() + rows * partList->sizeHintForRow(0) + frame);
  const bool asking = !parts.empty();
  partsLabel->setVisible(asking);
  partList->setVisible(asking);
  auto* playedLabel = new QLabel(PLAYED_TEXT, this);
  playedLabel->setVisible(!asking);

  gridBox = new QComboBox(this);
  gridBox->addItem(GRID_NONE);
  for (const char* item : {GRID_ITEM, GRID_TRIPLET_ITEM}) {
    for (const int value : MidiImportChoice::GRID_VALUES)
      gridBox->addItem(QString(item).arg(value));
  }
  gridBox->setCurrentIndex(gridItem(choice));
  steadyBox = new QCheckBox(STEADY_TEXT, this);
  steadyBox->setChecked(choice.steadyVelocity);
  auto* transcription = new QFormLayout;
  transcription->addRow(GRID_LABEL, gridBox);
  transcription->addRow(steadyBox);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setText("読み込む(&O)");
  buttons->button(QDialogButtonBox::Cancel)->setText("キャンセル");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(partList, &QTreeWidget::itemChanged, this, [this] { updateOk(); });

  auto* page = new QVBoxLayout(this);
  page->addWidget(partsLabel);
  page->addWidget(playedLabel);
  page->addWidget(partList);
  page->addLayout(transcription);
  page->addWidget(buttons);
  updateOk();
}

void MidiImportDialog::updateOk() {
  ok_->setEnabled(partList->topLevelItemCount() == 0 || !selection().parts.empty());
}

MidiImportSelection MidiImportDialog::selection() const {
  MidiImportSelection chosen;
  for (int i = 0; i < partList->topLevelItemCount(); ++i) {
    if (partList->topLevelItem(i)->checkState(0) == Qt::Checked) chosen.parts.push_back(i + 1);
  }
  const int item = gridBox->currentIndex();
  if (item > 0) {
    chosen.choice.grid = MidiImportChoice::GRID_VALUES[(item - 1) % GRID_COUNT];
    chosen.choice.triplets = item > GRID_COUNT;
  }
  chosen.choice.steadyVelocity = steadyBox->isChecked();
  return chosen;
}

ImportOptions importOptions(const MidiImportSelection& selection) {
  ImportOptions options;
  options.parts = selection.parts;
  options.grid = selection.choice.grid;
  options.gridTriplets = selection.choice.triplets;
  options.steadyVelocity = selection.choice.steadyVelocity;
  return options;
}
