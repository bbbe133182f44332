#include "editor/ui/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

QList<QRect> availableScreenAreas() {
  QList<QRect> areas;
  if (const QScreen* primary = QGuiApplication::primaryScreen())
    areas << primary->availableGeometry();
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen != QGuiApplication::primaryScreen()) areas << screen->availableGeometry();
  }
  return areas;
}

bool fitsOnAScreen(const QSize& size, const QList<QRect>& screens) {
  return std::any_of(screens.cbegin(), screens.cend(), [&size](const QRect& screen) {
    return size.width() <= screen.width() && size.height() <= screen.height();
  });
}

QRect fitToScreens(const QRect& stored, const QList<QRect>& screens) {
  const QRect* target = nullptr;
  qint64 targetOverlap = -1;
  for (const QRect& screen : screens) {
    if (stored.width() > screen.width() || stored.height() > screen.height()) continue;
    if (screen.contains(stored)) return stored;
    const QRect common = screen.intersected(stored);
    const qint64 overlap = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
    if (overlap > targetOverlap) {
      target = &screen;
      targetOverlap = overlap;
    }
  }
  if (target == nullptr) return QRect();
  const int x = std::clamp(stored.x(), target->left(), target->right() + 1 - stored.width());
  const int y = std::clamp(stored.y(), target->top(), target->bottom() + 1 - stored.height());
  return QRect(QPoint(x, y), stored.size());
}
