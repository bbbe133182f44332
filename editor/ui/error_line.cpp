#include "editor/ui/error_line.h"

std::optional<int> errorJumpLine(const QString& paneLine) {
  qsizetype start = 0;
  while (start < paneLine.size() && paneLine.at(start).unicode() <= ' ') ++start;
  const QString line = paneLine.mid(start);
  const qsizetype space = line.indexOf(' ');
  if (space < 0 || line.left(space) != "ERR") return std::nullopt;
  const qsizetype bracket = line.indexOf('[');
  bool valid = false;
  int n = bracket < 0 ? 0 : line.mid(bracket + 1, 5).toInt(&valid, 10);
  if (!valid) n = 0;
  return n >= 1 ? n - 1 : n;
}
