#include "editor/ui/player_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QScreen>

#include "editor/playback/playback_controller.h"

QString formatPlayTime(int64_t milliseconds) {
  const int64_t ms = milliseconds < 0 ? 0 : milliseconds;
  return QString("%1:%2:%3.%4")
      .arg(ms / 3600000)
      .arg(ms / 60000 % 60, 2, 10, QChar('0'))
      .arg(ms / 1000 % 60, 2, 10, QChar('0'))
      .arg(ms / 10 % 100, 2, 10, QChar('0'));
}

TForm2::TForm2(QWidget* owner, PlaybackController& playback)
    : QWidget(owner, Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint),
      playback_(playback) {
  setWindowTitle("midi play");
  Label1 = new QLabel("演奏中", this);
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setAutoFillBackground(true);
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  setBlinkShown(true);
  Label3 = new QLabel("0", this);
  Label2 = new QLabel("0", this);
  Label2->setAlignment(Qt::AlignCenter);
  Label4 = new QLabel("0", this);
  Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  TrackBar1 = new QSlider(Qt::Horizontal, this);
  TrackBar1->setTickPosition(QSlider::TicksBothSides);
  TrackBar1->setRange(0, 0);
  BitBtn1 = new QPushButton("演奏終了(&C)", this);
  Timer1 = new QTimer(this);
  Timer1->setInterval(PLAYER_REFRESH_MS);

  auto* layout = new QGridLayout(this);
  layout->addWidget(Label1, 0, 0, 1, 3);
  layout->addWidget(TrackBar1, 1, 0, 1, 3);
  layout->addWidget(Label3, 2, 0);
  layout->addWidget(Label2, 2, 1);
  layout->addWidget(Label4, 2, 2);
  layout->addWidget(BitBtn1, 3, 1);
  setFixedSize(sizeHint().expandedTo(QSize(285, 114)));
  if (const QScreen* screen = owner->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
  connect(TrackBar1, &QSlider::valueChanged, this, &TForm2::TrackBar1Change);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm2::BitBtn1Click);
}

void TForm2::setBlinkShown(bool shown) {
  QPalette palette = Label1->palette();
  palette.setColor(QPalette::WindowText, Qt::blue);
  palette.setColor(QPalette::Window, shown ? QColor(Qt::cyan) : QColor(Qt::transparent));
  Label1->setPalette(palette);
  Label1->setAutoFillBackground(shown);
}

void TForm2::startFollowing(int64_t lengthMs) {
  const int length = static_cast<int>(std::min<int64_t>(lengthMs, INT32_MAX));
  const QSignalBlocker quiet(TrackBar1);  // a range change is not a seek
  TrackBar1->setRange(0, length);
  TrackBar1->setPageStep(length / 20);
  TrackBar1->setTickInterval(length / 10);
  Timer1->start();
  show();
}

void TForm2::Timer1Timer() {
  setBlinkShown(blinkCounter < BLINK_SHOWN_TICKS);
  blinkCounter = blinkCounter >= 30 ? 0 : blinkCounter + 1;
  MediaPlayer& player = playback_.player();
  TrackBar1->setValue(static_cast<int>(std::min<int64_t>(player.positionMs(), INT32_MAX)));
  Label2->setText(formatPlayTime(TrackBar1->value()));
  Label4->setText(formatPlayTime(player.lengthMs()));
}

// A change within the tolerance came from the refresh; a larger one is the user's seek.
void TForm2::TrackBar1Change() {
  if (!Timer1->isActive()) return;
  MediaPlayer& player = playback_.player();
  const int64_t tolerance = TrackBar1->maximum() / 100 + 2;
  const int64_t slider = TrackBar1->value();
  const int64_t position = player.positionMs();
  if (position >= slider - tolerance && position <= slider + tolerance) return;
  player.seek(slider);
  Label2->setText(QString::number(slider * 0.001, 'f', 2));
  QString error;
  player.play(&error);
}

void TForm2::BitBtn1Click() {
  close();
}

void TForm2::FormClose() {
  Timer1->stop();
  Q_EMIT closed();
}

void TForm2::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TForm2::keyReleaseEvent(QKeyEvent* event) {
  FormKeyUp(event->key());
  QWidget::keyReleaseEvent(event);
}

void TForm2::FormKeyUp(int key) {
  if (key == Qt::Key_Pause) {
    close();
  } else if (key == Qt::Key_F8) {
    Q_EMIT editorWanted();
  }
}
