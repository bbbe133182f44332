// Geometry taken back from the settings against the screens it is to show on. A stored place
// or size may come from another set of monitors, or from a file edited by hand or by a hostile
// program; a window as large as such a value asks for takes seconds and gigabytes to appear.
#pragma once

#include <QList>
#include <QRect>
#include <QSize>

// The available areas of the screens now attached, the primary screen first.
QList<QRect> availableScreenAreas();

// `stored` as it may be shown: kept when it lies on one of `screens`; moved onto the screen it
// overlaps most (the first that can hold it when it overlaps none) when only its place is off;
// empty, which stands for the default, when no screen can hold its size.
QRect fitToScreens(const QRect& stored, const QList<QRect>& screens);

// True when some screen can hold `size`.
bool fitsOnAScreen(const QSize& size, const QList<QRect>& screens);
