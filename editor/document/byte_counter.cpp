#include "editor/document/byte_counter.h"

#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

namespace {

constexpr qsizetype LINE_END_BYTES = 2;  // CR LF

}  // namespace

ByteCounter::ByteCounter(QTextDocument* document) : QObject(document), document_(document) {
  connect(document, &QTextDocument::contentsChange, this, &ByteCounter::contentsChange);
  recountAll();
}

void ByteCounter::setEncoding(TextEncoding encoding) {
  if (encoding == encoding_) return;
  encoding_ = encoding;
  recountAll();
}

qsizetype ByteCounter::countBlock(int blockNumber) const {
  return encodedSize(document_->findBlockByNumber(blockNumber).text(), encoding_);
}

void ByteCounter::recountAll() {
  lines_.clear();
  for (QTextBlock block = document_->begin(); block.isValid(); block = block.next()) {
    lines_.push_back(encodedSize(block.text(), encoding_));
  }
  total_ = 0;
  for (qsizetype bytes : lines_) total_ += bytes;
  total_ += LINE_END_BYTES * (static_cast<qsizetype>(lines_.size()) - 1);
}

// The lines before `position` are unchanged; the lines from the one holding `position` to the
// one holding the end of the inserted text replace as many old lines as the count changed by.
void ByteCounter::contentsChange(int position, int removed, int added) {
  (void)removed;
  const int newCount = document_->blockCount();
  const int oldCount = static_cast<int>(lines_.size());
  const int first = document_->findBlock(position).blockNumber();
  QTextBlock lastBlock = document_->findBlock(position + added);
  if (!lastBlock.isValid()) lastBlock = document_->lastBlock();
  const int last = lastBlock.blockNumber();
  const int oldLast = last - (newCount - oldCount);
  if (first < 0 || first > oldLast + 1 || oldLast >= oldCount || first >= newCount) {
    recountAll();
    return;
  }
  for (int i = first; i <= oldLast; ++i) total_ -= lines_[i];
  std::vector<qsizetype> fresh;
  fresh.reserve(static_cast<size_t>(last - first + 1));
  QTextBlock block = document_->findBlockByNumber(first);
  for (int i = first; i <= last && block.isValid(); ++i, block = block.next()) {
    fresh.push_back(encodedSize(block.text(), encoding_));
    total_ += fresh.back();
  }
  lines_.erase(lines_.begin() + first, lines_.begin() + oldLast + 1);
  lines_.insert(lines_.begin() + first, fresh.begin(), fresh.end());
  total_ += LINE_END_BYTES * (newCount - oldCount);
}
