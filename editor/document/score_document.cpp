#include "editor/document/score_document.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBlock>
#include <QTextDocument>

#include "editor/document/text_codec.h"
#include "editor/document/whole_file_writer.h"

bool BackupSchedule::tick() {
  if (idleCountdown > 0) --idleCountdown;
  if (backupCountdown > 0) --backupCountdown;
  return idleCountdown == 0 && backupCountdown == 0;
}

ScoreDocument::ScoreDocument(QTextDocument& text, QString backupFile, QObject* parent)
    : QObject(parent), text_(text), backupLock_(std::move(backupFile)) {
  // A text document reports its changes in detail only once it has a layout, and the size
  // counts follow those reports. A view's layout, where there is one, stays.
  text_.documentLayout();
  bytes_ = new ByteCounter(&text_);
  connect(&text_, &QTextDocument::contentsChanged, this, [this] { setSaved(false); });
}

void ScoreDocument::setSaved(bool saved) {
  isSaved_ = saved;
  Q_EMIT savedChanged(saved);
}

std::optional<QByteArray> ScoreDocument::encoded(const QString& purpose, QString* refusal) const {
  QString text = text_.toRawText();
  text.replace(QChar::ParagraphSeparator, '\n');
  QByteArray bytes;
  const std::optional<Unencodable> bad = encodeCp932(text, bytes);
  if (!bad) return bytes;
  if (refusal != nullptr) {
    const QString character = QString::fromUcs4(&bad->character, 1);
    const QString code =
        QString::number(static_cast<uint>(bad->character), 16).toUpper().rightJustified(4, '0');
    *refusal = QString(
                   "%1できません.\n%2 行目の文字「%3」(U+%4) は\n"
                   "シフトJIS(コードページ932)で表せません.")
                   .arg(purpose)
                   .arg(bad->line + 1)
                   .arg(character, code);
  }
  return std::nullopt;
}

DocumentOutcome ScoreDocument::load(const QString& fileName) {
  QFile file(fileName);
  const QFileInfo info(fileName);
  QByteArray bytes;
  bool loaded =
      info.isFile() && info.size() <= LOADABLE_FILE_BYTES && file.open(QIODevice::ReadOnly);
  if (loaded) {
    bytes = file.readAll();
    loaded = file.error() == QFileDevice::NoError;
  }
  if (!loaded) {
    forgetFileName();
    setSaved(true);
    return DocumentOutcome::failed("OPENできません");
  }
  text_.setPlainText(loadedText(bytes));
  Q_EMIT textReplaced();
  nameFile(fileName);
  return DocumentOutcome::done();
}

// The text is written whole or not at all; the file it replaces stays as its ".bak" copy, and
// at every moment the file's name holds either the old or the new text.
DocumentOutcome ScoreDocument::writeTo(const QString& path) {
  QString refusal;
  const std::optional<QByteArray> bytes = encoded("保存", &refusal);
  if (!bytes) return DocumentOutcome::failed(refusal);
  WholeFileOptions options;
  options.keepPreviousAs = withExtension(path, ".bak");
  const WriteOutcome outcome = writeFileWhole(path, *bytes, options);
  if (outcome.ok()) return DocumentOutcome::done();
  if (outcome.failure == WriteFailure::ReadOnly) {
    return DocumentOutcome::failed(
        QString("読み取り専用のため保存できません.\n%1\n名前をつけて保存してください.").arg(path));
  }
  return DocumentOutcome::failed(
      QString("ファイルに書き込めません.\n%1\n%2").arg(path, describeWriteFailure(outcome)));
}

DocumentOutcome ScoreDocument::save() {
  if (!isSaved_) {
    const DocumentOutcome outcome = writeTo(sourcePath_);
    if (!outcome.ok) return outcome;
  }
  setSaved(true);
  return DocumentOutcome::done();
}

DocumentOutcome ScoreDocument::saveAs(const QString& path) {
  const DocumentOutcome outcome = writeTo(path);
  if (outcome.ok) nameFile(path);
  return outcome;
}

void ScoreDocument::close() {
  text_.clear();
  hasFileName_ = false;
  setSaved(true);
}

// The text now belongs to `path`, saved; its ".mid" goes beside it. Paths are kept whole: a
// shortened path would name another file.
void ScoreDocument::nameFile(const QString& path) {
  sourcePath_ = path;
  hasFileName_ = true;
  midiOutputPath_ = withExtension(path, ".mid");
  setSaved(true);
}

void ScoreDocument::forgetFileName() {
  sourcePath_.clear();
  midiOutputPath_.clear();
  hasFileName_ = false;
}

// An empty left-over (a run that ended before its first backup) holds nothing to recover and
// goes without a question.
BackupStart ScoreDocument::takeBackupLock() {
  backupActive_ = false;
  if (!backupLock_.prepareFolder()) return BackupStart::Unavailable;
  if (backupLock_.isEmpty() && backupLock_.openable()) backupLock_.remove();
  const bool exists = backupLock_.exists();
  BackupStart start = BackupStart::Fresh;
  if (exists && backupLock_.openable()) {
    start = BackupStart::LeftOver;
  } else if (exists) {
    start = BackupStart::HeldElsewhere;
  } else if (!backupLock_.createEmpty()) {
    start = BackupStart::Unavailable;
  }
  backupActive_ = backupLock_.acquire();
  return start;
}

// The recovered text belongs to no file, so a save asks for a name instead of overwriting a
// file opened from the command line.
void ScoreDocument::recoverBackup() {
  QFile file(backupLock_.path());
  if (!file.open(QIODevice::ReadOnly)) return;
  text_.setPlainText(loadedText(file.readAll()));
  Q_EMIT textReplaced();
  forgetFileName();
}

DocumentOutcome ScoreDocument::writeBackup() {
  if (!backupActive_ || !backupLock_.held()) return DocumentOutcome::done();
  const std::optional<QByteArray> bytes = encoded(QString(), nullptr);
  if (!bytes) return DocumentOutcome::done();
  backupLock_.release();
  const bool written = backupLock_.write(*bytes);
  backupLock_.acquire();
  if (written) return DocumentOutcome::done();
  return DocumentOutcome::failed(
      QString("自動バックアップを書き込めません.\n%1").arg(backupLock_.path()));
}

bool ScoreDocument::preserveUnsavedText() {
  if (isSaved_ || size() == 0 || !backupActive_ || !backupLock_.held()) return false;
  if (!encoded(QString(), nullptr)) return false;  // nothing the backup file could hold
  return writeBackup().ok;
}

bool ScoreDocument::releaseBackup(bool keepFile) {
  if (!backupActive_ || !backupLock_.held()) return true;
  backupActive_ = false;
  backupLock_.release();
  return keepFile || backupLock_.remove();
}

int ScoreDocument::characterColumn(int line, int byteColumn) const {
  const QString text = text_.findBlockByNumber(line).text();
  int bytes = 0;
  int position = 0;
  while (position < text.size()) {
    const char32_t c =
        QChar::isHighSurrogate(text.at(position).unicode()) && position + 1 < text.size()
            ? QChar::surrogateToUcs4(text.at(position), text.at(position + 1))
            : text.at(position).unicode();
    const int width = cp932CharBytes(c);
    if (bytes + width > byteColumn) break;
    bytes += width;
    position += c > 0xFFFF ? 2 : 1;
  }
  return position;
}

QString withExtension(const QString& path, const QString& extension) {
  const qsizetype slash = path.lastIndexOf('/');
  const qsizetype dot = path.lastIndexOf('.');
  if (dot > slash) return path.left(dot) + extension;
  return path + extension;
}

int editorLineCount(const QTextDocument& text) {
  int count = text.blockCount();
  if (text.lastBlock().text().isEmpty()) --count;  // after a final line end, or empty
  return count;
}
