// The message pane's error line, "ERR -> line [nnnnn]:" followed by the score line: the score
// line a double-click on it jumps to.
#pragma once

#include <QString>
#include <optional>

// The 0-based editor line a double-click on paneLine jumps to, or nothing when the line is not
// an error line. The first word (after leading blanks and control characters, up to the first
// space) must be exactly "ERR"; the five characters after the first '[' are the 1-based line
// number, and anything that does not read as a number means line 1.
std::optional<int> errorJumpLine(const QString& paneLine);
