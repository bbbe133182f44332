// The tool bar's pictures and the program's icon, drawn as vectors so they stay sharp at any
// scale of the desktop.
#pragma once

#include <QIcon>

enum class ToolIcon {
  Open,
  Save,
  AutoSave,
  MakeMidi,
  Run,
  RunFromCursor,
  Loop,
  LineNumbers,
  FontSmall,
  FontMedium,
  FontLarge,
  AutoPan,
  PianoRoll,
  Program,
};

QIcon toolIcon(ToolIcon icon);
// Draws the picture into a square of `side` pixels.
void paintToolIcon(QPainter& painter, ToolIcon icon, qreal side);
