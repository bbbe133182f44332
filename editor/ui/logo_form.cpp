#include "editor/ui/logo_form.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "editor/ui/toolbar_icons.h"

namespace {

constexpr int FRAME_WIDTH = 5;
const QRect PICTURE(32, 12, 150, 150);

QLabel* makeLabel(QWidget* parent, const QString& text, const QColor& color, QPoint at) {
  auto* label = new QLabel(text, parent);
  QFont font("IPAGothic");
  font.setPixelSize(12);
  font.setBold(true);
  font.setItalic(true);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->move(at);
  label->adjustSize();
  return label;
}

}  // namespace

TLogoForm::TLogoForm(QWidget* owner, std::function<bool()> ready)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ready_(std::move(ready)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(213, 224);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  setAutoFillBackground(true);
  // Each shadow lies one pixel right of and below its line, behind it.
  Label2 = makeLabel(this, "tarvik32 楽譜エディタ", QColor(0, 255, 0), QPoint(13, 173));
  Label4 = makeLabel(this, "tarvik project", QColor(0, 255, 255), QPoint(67, 191));
  Label1 = makeLabel(this, Label2->text(), QColor(0, 128, 0), QPoint(12, 172));
  Label3 = makeLabel(this, Label4->text(), QColor(0, 0, 255), QPoint(66, 190));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  Timer1 = new QTimer(this);
  Timer1->setInterval(LOGO_CHECK_MS);
  connect(Timer1, &QTimer::timeout, this, &TLogoForm::Timer1Timer);
  Timer1->start();
}

void TLogoForm::Timer1Timer() {
  if (!ready_ || !ready_()) return;
  Timer1->stop();
  close();
}

void TLogoForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(QPen(QColor(0xD0, 0x10, 0x10), FRAME_WIDTH));
  painter.drawRect(QRectF(rect()).adjusted(FRAME_WIDTH / 2.0, FRAME_WIDTH / 2.0, -FRAME_WIDTH / 2.0,
                                           -FRAME_WIDTH / 2.0));
  painter.translate(PICTURE.topLeft());
  paintToolIcon(painter, ToolIcon::Program, PICTURE.width());
}
