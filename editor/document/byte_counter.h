// Keeps the size of a text document in its encoding (code page 932 or UTF-8) up to date as it
// changes: one byte count per line, patched for the lines each change touches, so reading the size
// of a large score costs nothing on every key release.
#pragma once

#include <QObject>
#include <vector>

#include "editor/document/text_codec.h"

class QTextDocument;

class ByteCounter : public QObject {
  Q_OBJECT
 public:
  explicit ByteCounter(QTextDocument* document);

  // Counts the bytes of this encoding from now on (code page 932 until set).
  void setEncoding(TextEncoding encoding);

  // Bytes of the whole text, each line end counting 2.
  qsizetype total() const { return total_; }

 private:
  void contentsChange(int position, int removed, int added);
  void recountAll();
  qsizetype countBlock(int blockNumber) const;

  QTextDocument* document_;
  TextEncoding encoding_ = TextEncoding::Cp932;
  std::vector<qsizetype> lines_;
  qsizetype total_ = 0;  // sum of lines_ plus 2 per line end
};
