#include "editor/ui/toolbar_icons.h"

#include <QIconEngine>
#include <QPainter>

namespace {

const QColor INK(0x2E, 0x34, 0x40);
const QColor ACCENT(0x1E, 0x88, 0xE5);
const QColor GREEN(0x2E, 0x9D, 0x4F);
const QColor WARM(0xE5, 0x8E, 0x1E);

// Paints in a 24-unit box scaled to the pixmap.
class VectorIconEngine : public QIconEngine {
 public:
  explicit VectorIconEngine(ToolIcon icon) : icon_(icon) {}
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    painter->save();
    painter->translate(rect.topLeft());
    if (mode == QIcon::Disabled) painter->setOpacity(0.35);
    paintToolIcon(*painter, icon_, std::min(rect.width(), rect.height()));
    painter->restore();
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter painter(&pm);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return pm;
  }
  QIconEngine* clone() const override { return new VectorIconEngine(icon_); }

 private:
  ToolIcon icon_;
};

void note(QPainter& p, QPointF head, qreal stem, const QColor& color) {
  p.setPen(QPen(color, 1.6));
  p.setBrush(color);
  p.save();
  p.translate(head);
  p.rotate(-20);
  p.drawEllipse(QPointF(0, 0), 2.6, 1.9);
  p.restore();
  p.drawLine(QPointF(head.x() + 2.3, head.y()), QPointF(head.x() + 2.3, head.y() - stem));
}

void page(QPainter& p) {
  const QPolygonF sheet({{5, 2.5}, {14.5, 2.5}, {19, 7}, {19, 21.5}, {5, 21.5}});
  p.setPen(QPen(INK, 1.3));
  p.setBrush(Qt::white);
  p.drawPolygon(sheet);
  p.drawLine(QPointF(14.5, 2.5), QPointF(14.5, 7));
  p.drawLine(QPointF(14.5, 7), QPointF(19, 7));
}

void disk(QPainter& p, const QColor& body) {
  p.setPen(QPen(INK, 1.3));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(3, 3, 18, 18), 2, 2);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(7, 3, 10, 6));
  p.drawRect(QRectF(6, 13, 12, 8));
}

void letterA(QPainter& p, qreal pixel) {
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(static_cast<int>(pixel));
  p.setFont(font);
  p.setPen(INK);
  p.drawText(QRectF(0, 0, 24, 24), Qt::AlignCenter, "A");
}

void loopArrows(QPainter& p, const QColor& color) {
  p.setPen(QPen(color, 2.2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(4, 5, 16, 14), 30 * 16, 150 * 16);
  p.drawArc(QRectF(4, 5, 16, 14), 210 * 16, 150 * 16);
  p.setBrush(color);
  p.setPen(Qt::NoPen);
  p.drawPolygon(QPolygonF({QPointF(19.5, 4), QPointF(21, 10), QPointF(15, 9)}));
  p.drawPolygon(QPolygonF({QPointF(4.5, 20), QPointF(3, 14), QPointF(9, 15)}));
}

}  // namespace

void paintToolIcon(QPainter& p, ToolIcon icon, qreal side) {
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(side / 24.0, side / 24.0);
  switch (icon) {
    case ToolIcon::Open: {
      p.setPen(QPen(INK, 1.3));
      p.setBrush(QColor(0xF4, 0xC4, 0x30));
      p.drawPolygon(QPolygonF({{2.5, 6}, {9, 6}, {11, 8}, {21.5, 8}, {21.5, 19.5}, {2.5, 19.5}}));
      p.setBrush(QColor(0xFB, 0xDB, 0x6B));
      p.drawPolygon(
          QPolygonF({QPointF(5, 11), QPointF(23, 11), QPointF(21.5, 19.5), QPointF(2.5, 19.5)}));
      break;
    }
    case ToolIcon::Save:
      disk(p, ACCENT);
      break;
    case ToolIcon::AutoSave:
      disk(p, GREEN);
      p.setPen(QPen(Qt::white, 1.6));
      p.drawArc(QRectF(8.5, 14, 7, 6), 0, 300 * 16);
      break;
    case ToolIcon::MakeMidi:
      page(p);
      note(p, QPointF(9.5, 17), 8, ACCENT);
      note(p, QPointF(14.5, 15.5), 7, ACCENT);
      break;
    case ToolIcon::Run:
      p.setPen(Qt::NoPen);
      p.setBrush(GREEN);
      p.drawEllipse(QRectF(2, 2, 20, 20));
      p.setBrush(Qt::white);
      p.drawPolygon(QPolygonF({QPointF(9.5, 7), QPointF(17.5, 12), QPointF(9.5, 17)}));
      break;
    case ToolIcon::RunFromCursor:  // the run button behind a text caret
      p.setPen(Qt::NoPen);
      p.setBrush(GREEN);
      p.drawEllipse(QRectF(6, 4, 16, 16));
      p.setBrush(Qt::white);
      p.drawPolygon(QPolygonF({QPointF(11.5, 8), QPointF(18, 12), QPointF(11.5, 16)}));
      p.setPen(QPen(INK, 2));
      p.drawLine(QPointF(3, 3), QPointF(3, 21));
      break;
    case ToolIcon::Loop:
      loopArrows(p, ACCENT);
      break;
    case ToolIcon::PianoRoll:  // keys at the left, note bars beside them
      p.setPen(QPen(INK, 1.2));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(2.5, 3.5, 6, 17));
      p.setBrush(INK);
      for (const qreal y : {6.0, 11.0, 16.0}) p.drawRect(QRectF(2.5, y, 3.5, 2));
      p.setPen(Qt::NoPen);
      p.setBrush(ACCENT);
      p.drawRect(QRectF(10.5, 5, 6, 3));
      p.setBrush(WARM);
      p.drawRect(QRectF(14, 10.5, 7.5, 3));
      p.setBrush(GREEN);
      p.drawRect(QRectF(10.5, 16, 9, 3));
      break;
    case ToolIcon::LineNumbers: {
      QFont font("DejaVu Sans Mono");
      font.setPixelSize(7);
      p.setFont(font);
      p.setPen(INK);
      for (int i = 0; i < 3; ++i) {
        p.drawText(QRectF(2, 3 + i * 6.5, 6, 6.5), Qt::AlignCenter, QString::number(i + 1));
        p.drawLine(QPointF(10, 6.5 + i * 6.5), QPointF(21, 6.5 + i * 6.5));
      }
      break;
    }
    case ToolIcon::FontSmall:
      letterA(p, 10);
      break;
    case ToolIcon::FontMedium:
      letterA(p, 15);
      break;
    case ToolIcon::FontLarge:
      letterA(p, 21);
      break;
    case ToolIcon::AutoPan: {
      QFont font("DejaVu Sans");
      font.setBold(true);
      font.setPixelSize(8);
      p.setFont(font);
      p.setPen(WARM);
      p.drawText(QRectF(0, 1, 9, 10), Qt::AlignCenter, "L");
      p.drawText(QRectF(15, 1, 9, 10), Qt::AlignCenter, "R");
      p.setPen(QPen(INK, 1.8, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(4, 16), QPointF(20, 16));
      p.setBrush(INK);
      p.drawPolygon(QPolygonF({QPointF(2, 16), QPointF(6, 13), QPointF(6, 19)}));
      p.drawPolygon(QPolygonF({QPointF(22, 16), QPointF(18, 13), QPointF(18, 19)}));
      break;
    }
    case ToolIcon::Program:
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x1B, 0x3A, 0x5C));
      p.drawRoundedRect(QRectF(1, 1, 22, 22), 5, 5);
      p.setPen(QPen(QColor(0x8F, 0xB8, 0xDE), 0.8));
      for (int i = 0; i < 5; ++i) p.drawLine(QPointF(4, 7 + i * 2.5), QPointF(20, 7 + i * 2.5));
      note(p, QPointF(9, 16), 10, QColor(0xFF, 0xD1, 0x66));
      note(p, QPointF(15, 13.5), 9, QColor(0xFF, 0xD1, 0x66));
      break;
  }
}

QIcon toolIcon(ToolIcon icon) {
  return QIcon(new VectorIconEngine(icon));
}
