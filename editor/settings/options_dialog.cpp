#include "editor/settings/options_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <utility>

#include "editor/editor_services.h"
#include "editor/settings/additional_settings.h"
#include "editor/settings/sound_page.h"

RadioGroup::RadioGroup(const QString& title, const QStringList& items, QWidget* parent)
    : QGroupBox(title, parent), buttons_(new QButtonGroup(this)) {
  auto* column = new QVBoxLayout(this);
  for (qsizetype k = 0; k < items.size(); ++k) {
    auto* button = new QRadioButton(items[k], this);
    buttons_->addButton(button, static_cast<int>(k));
    column->addWidget(button);
  }
  column->addStretch();
}

int RadioGroup::itemIndex() const {
  return buttons_->checkedId();
}

void RadioGroup::setItemIndex(int index) {
  if (QAbstractButton* button = buttons_->button(index)) {
    button->setChecked(true);
    return;
  }
  // An exclusive group refuses to uncheck its checked button.
  buttons_->setExclusive(false);
  for (QAbstractButton* button : buttons_->buttons()) button->setChecked(false);
  buttons_->setExclusive(true);
}

TTarvikOption::TTarvikOption(EditorServices& services, SoundChoices choices, QWidget* parent)
    : QDialog(parent), services_(services) {
  setWindowTitle("TarvikOption");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  Label1 = new QLabel("tarvik32.cfgに保存し、起動時に以下の定義に従います.", this);
  Label1->setAlignment(Qt::AlignCenter);

  GroupBox1 = new QGroupBox("起動時にON", this);
  CheckBox1 = new QCheckBox("自動上書き保存", GroupBox1);
  CheckBox2 = new QCheckBox("演奏ループ", GroupBox1);
  CheckBox3 = new QCheckBox("行番号表示", GroupBox1);
  CheckBox3->setVisible(false);
  CheckBox5 = new QCheckBox("自動左右配分", GroupBox1);
  auto* startSwitches = new QVBoxLayout(GroupBox1);
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox5}) startSwitches->addWidget(box);
  startSwitches->addStretch();

  GroupBox2 = new QGroupBox("tarvik32", this);
  CheckBox4 = new QCheckBox("表示最大化", GroupBox2);
  (new QVBoxLayout(GroupBox2))->addWidget(CheckBox4);

  RadioGroup2 = new RadioGroup("Qの初期値", {"8(標準)", "7(88VA)"}, this);
  RadioGroup1 = new RadioGroup("文字の大きさ", {"小(10p)", "中(14p)", "大(20p)"}, this);
  RadioGroup2->setItemIndex(0);
  RadioGroup1->setItemIndex(0);

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "上記で設定", this);
  BitBtn2 =
      new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "キャンセル", this);
  BitBtn3 = new QPushButton(style()->standardIcon(QStyle::SP_DialogResetButton), "Reset", this);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  connect(BitBtn3, &QPushButton::clicked, this, [this] {
    if (pages->currentWidget() == soundPage) {
      soundPage->reset();
    } else {
      BitBtn3Click();
    }
  });

  // Start-up switches on the left; the window and gate frames stacked in the middle; the font
  // sizes on the right; Reset apart from the two buttons that close the dialog.
  auto* groups = new QGridLayout;
  groups->addWidget(GroupBox1, 0, 0, 2, 1);
  groups->addWidget(GroupBox2, 0, 1);
  groups->addWidget(RadioGroup2, 1, 1);
  groups->addWidget(RadioGroup1, 0, 2, 2, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BitBtn3);
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);

  auto* startupPage = new QWidget;
  auto* startup = new QVBoxLayout(startupPage);
  startup->addWidget(Label1);
  startup->addLayout(groups);

  // The start-up page alone sets the dialog's size; the sound page fits into it.
  soundPage = new SoundPage(services, std::move(choices));
  soundPage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

  pages = new QTabWidget(this);
  pages->addTab(startupPage, "起動時");
  pages->addTab(soundPage, "音源");

  auto* page = new QVBoxLayout(this);
  page->addWidget(pages);
  page->addLayout(buttons);
  page->setSizeConstraint(QLayout::SetFixedSize);  // a fixed border: the user cannot resize it
}

void TTarvikOption::BitBtn3Click() {
  for (QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5})
    box->setChecked(false);
  RadioGroup2->setItemIndex(0);
  RadioGroup1->setItemIndex(0);
}

void TTarvikOption::showEvent(QShowEvent* event) {
  // Centred on the screen rather than over the main window.
  if (QScreen* where = screen()) move(where->availableGeometry().center() - rect().center());
  QDialog::showEvent(event);
}

void TTarvikOption::setChoice(const OptionsChoice& choice) {
  const StartupSettings& startup = choice.startup;
  const std::pair<QCheckBox*, bool> boxes[] = {{CheckBox1, startup.AutoSaveAtStart},
                                               {CheckBox2, startup.PlayLoopAtStart},
                                               {CheckBox3, startup.LineNumbersAtStart},
                                               {CheckBox4, startup.MaximizedAtStart},
                                               {CheckBox5, startup.AutoPanAtStart}};
  for (const auto& [box, on] : boxes) box->setChecked(on);
  RadioGroup2->setItemIndex(choice.q7Default ? 1 : 0);
  RadioGroup1->setItemIndex(startup.FontSizeIndex);
  soundPage->setSound(choice.sound);
}

OptionsChoice TTarvikOption::choice() const {
  OptionsChoice choice;
  StartupSettings& startup = choice.startup;
  startup.AutoSaveAtStart = CheckBox1->isChecked();
  startup.PlayLoopAtStart = CheckBox2->isChecked();
  startup.LineNumbersAtStart = CheckBox3->isChecked();
  startup.MaximizedAtStart = CheckBox4->isChecked();
  startup.AutoPanAtStart = CheckBox5->isChecked();
  startup.FontSizeIndex = RadioGroup1->itemIndex();
  choice.q7Default = RadioGroup2->itemIndex() == 1;
  choice.sound = soundPage->sound();
  return choice;
}

std::optional<OptionsChoice> TTarvikOption::choose(const OptionsChoice& shown) {
  // The dialog is reused for every opening: every control is set, so nothing the last opening
  // left shows through.
  setChoice(shown);
  pages->setCurrentIndex(0);
  if (services_.execDialog(*this) != QDialog::Accepted) return std::nullopt;
  return choice();
}

void runOptionsCommand(TTarvikOption& dialog, const QString& settingsPath,
                       StartupSettings& settings, bool& q7Default, AdditionalSettings& additional,
                       EditorServices& services, QWidget* parent) {
  const std::optional<OptionsChoice> chosen =
      dialog.choose({settings, q7Default, additional.sound()});
  if (!chosen) return;

  // Kept for this run even when the file cannot be written; unchanged, nothing is written.
  if (!additional.setSound(chosen->sound)) {
    services.messageBox(parent, QString("音源の設定を保存できません.\n%1").arg(additional.path()),
                        std::nullopt, BoxButtons::Ok, BoxIcon::Error);
  }

  settings = chosen->startup;
  q7Default = chosen->q7Default;
  if (!saveSettings(settingsPath, settings, q7Default)) {
    for (const char* text : {SETTINGS_CANNOT_WRITE_TEXT, "保存に失敗しました"}) {
      services.messageBox(parent, text, std::nullopt, BoxButtons::Ok, BoxIcon::Error);
    }
    return;
  }
  services.messageBox(parent, "設定を保存しました.", QString("確認"), BoxButtons::Ok,
                      BoxIcon::None);
}
