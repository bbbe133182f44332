// Files in the tests' temporary folders, written and read back plainly (never through the
// editor's own writer, so a test reads what is really on disk).
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>

// Writes bytes as the whole file; a failure fails the calling test.
void writeTestFile(const QString& path, const QByteArray& bytes);
// The file's bytes, or "<missing>" when it cannot be read.
QByteArray readTestFile(const QString& path);
// The file's permission bits, 0 when it does not exist.
mode_t fileMode(const QString& path);
