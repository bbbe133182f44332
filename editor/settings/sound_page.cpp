#include "editor/settings/sound_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

#include "editor/editor_services.h"

namespace {

const QStringList SOUND_FONT_FILTERS = {"SoundFont (*.sf2 *.sf3)"};
const char BANNER_TEXT[] = "tarvik32.confに保存し、次の再生から使います.";
const char CHECKING_TEXT[] = "SoundFontを読み込んでいます...";
constexpr double GAIN_STEP = 0.05;
constexpr int GAIN_DECIMALS = 2;

// The output's name as its makers write it; a name the program does not know shows as it is.
QString outputCaption(const QString& name) {
  static const std::pair<const char*, const char*> CAPTIONS[] = {
      {"pulseaudio", "PulseAudio"}, {"alsa", "ALSA"}, {"jack", "JACK"}, {"sdl2", "SDL2"}};
  for (const auto& [driver, caption] : CAPTIONS) {
    if (name == QLatin1String(driver)) return caption;
  }
  return name;
}

}  // namespace

SoundPage::SoundPage(EditorServices& services, SoundChoices choices, QWidget* parent)
    : QWidget(parent), services_(services), choices_(std::move(choices)) {
  banner = new QLabel(BANNER_TEXT, this);
  banner->setAlignment(Qt::AlignCenter);

  auto* soundFontLabel = new QLabel("SoundFont", this);
  soundFontEdit = new QLineEdit(this);
  soundFontLabel->setBuddy(soundFontEdit);
  soundFontEdit->setReadOnly(true);
  soundFontEdit->setPlaceholderText(QString("標準 (%1)").arg(choices_.defaultSoundFont));
  // The field spans the page whatever the path's length; a long path shows whole in its tooltip.
  soundFontEdit->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  connect(soundFontEdit, &QLineEdit::textChanged, soundFontEdit, &QWidget::setToolTip);
  browseButton = new QPushButton("参照...", this);
  defaultButton = new QPushButton("標準に戻す", this);
  connect(browseButton, &QPushButton::clicked, this, &SoundPage::browseSoundFont);
  connect(defaultButton, &QPushButton::clicked, this, &SoundPage::useDefaultSoundFont);
  auto* soundFontHead = new QHBoxLayout;
  soundFontHead->addWidget(soundFontLabel);
  soundFontHead->addStretch();
  soundFontHead->addWidget(browseButton);
  soundFontHead->addWidget(defaultButton);

  // The output and the master gain on the left, the effects on the right.
  auto* outputGroup = new QGroupBox("音声出力", this);
  outputBox = new QComboBox(outputGroup);
  outputBox->addItem("自動", QString());
  for (const QString& name : choices_.outputs) outputBox->addItem(outputCaption(name), name);
  gainBox = new QDoubleSpinBox(outputGroup);
  gainBox->setRange(SoundSettings::GAIN_MIN, SoundSettings::GAIN_MAX);
  gainBox->setSingleStep(GAIN_STEP);
  gainBox->setDecimals(GAIN_DECIMALS);
  auto* gainLabel = new QLabel("音量(ゲイン)", outputGroup);
  gainLabel->setBuddy(gainBox);
  auto* output = new QGridLayout(outputGroup);
  output->addWidget(outputBox, 0, 0, 1, 2);
  output->addWidget(gainLabel, 1, 0);
  output->addWidget(gainBox, 1, 1);

  auto* effectsGroup = new QGroupBox("効果", this);
  reverbBox = new QCheckBox("リバーブ", effectsGroup);
  chorusBox = new QCheckBox("コーラス", effectsGroup);
  auto* effects = new QVBoxLayout(effectsGroup);
  effects->addWidget(reverbBox);
  effects->addWidget(chorusBox);
  effects->addStretch();

  auto* groups = new QHBoxLayout;
  groups->addWidget(outputGroup, 1);
  groups->addWidget(effectsGroup, 1);

  auto* page = new QVBoxLayout(this);
  page->addWidget(banner);
  page->addLayout(soundFontHead);
  page->addWidget(soundFontEdit);
  page->addLayout(groups);
  page->addStretch();
  reset();
}

void SoundPage::setSound(const SoundSettings& sound) {
  dropCheck();
  soundFontEdit->setText(sound.soundFont);
  outputBox->setCurrentIndex(outputIndex(sound.audioOutput));
  reverbBox->setChecked(sound.reverb);
  chorusBox->setChecked(sound.chorus);
  gainBox->setValue(sound.gain);
}

SoundSettings SoundPage::sound() const {
  SoundSettings sound;
  sound.soundFont = soundFontEdit->text();
  sound.audioOutput = outputBox->currentData().toString();
  sound.reverb = reverbBox->isChecked();
  sound.chorus = chorusBox->isChecked();
  sound.gain = gainBox->value();
  return sound;
}

int SoundPage::outputIndex(const QString& name) {
  const int index = outputBox->findData(name);
  if (index >= 0) return index;
  outputBox->addItem(outputCaption(name), name);
  return outputBox->count() - 1;
}

void SoundPage::browseSoundFont() {
  const QFileInfo current(soundFontEdit->text().isEmpty() ? choices_.defaultSoundFont
                                                          : soundFontEdit->text());
  const QString path = services_.openFileName(
      this, {SOUND_FONT_FILTERS, QString(), current.absolutePath(), current.fileName()});
  if (path.isEmpty()) return;
  dropCheck();
  const QString problem =
      choices_.soundFontFileProblem ? choices_.soundFontFileProblem(path) : QString();
  if (!problem.isEmpty()) {
    refuse(path, problem);
    return;
  }
  if (!choices_.checkSoundFont) {
    soundFontEdit->setText(path);
    return;
  }
  const uint64_t check = ++checks_;
  checking_ = true;
  banner->setText(CHECKING_TEXT);
  // The answer may come after the page is gone.
  choices_.checkSoundFont(path,
                          [page = QPointer<SoundPage>(this), check, path](const QString& problem) {
                            if (page) page->checked(check, path, problem);
                          });
}

void SoundPage::checked(uint64_t check, const QString& path, const QString& problem) {
  if (check != checks_) return;
  dropCheck();
  if (problem.isEmpty()) {
    soundFontEdit->setText(path);
  } else {
    refuse(path, problem);
  }
}

void SoundPage::refuse(const QString& path, const QString& reason) {
  services_.messageBox(this, QString("SoundFontを読み込めません.\n%1\n%2").arg(path, reason),
                       std::nullopt, BoxButtons::Ok, BoxIcon::Error);
}

void SoundPage::dropCheck() {
  ++checks_;
  checking_ = false;
  banner->setText(BANNER_TEXT);
}

void SoundPage::useDefaultSoundFont() {
  dropCheck();
  soundFontEdit->clear();
}

void SoundPage::reset() {
  setSound(SoundSettings());
}
