#include "editor/document/score_document.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/output_file.h"
#include "editor/document/text_codec.h"
#include "editor/document/whole_file_writer.h"

bool BackupSchedule::tick() {
  if (idleCountdown > 0) --idleCountdown;
  if (backupCountdown > 0) --backupCountdown;
  return idleCountdown == 0 && backupCountdown == 0;
}

ScoreDocument::ScoreDocument(QString backupFile, QObject* parent)
    : QObject(parent),
      text_(std::make_unique<QTextDocument>()),
      backupLock_(std::move(backupFile)),
      lastResort_(backupLock_.path()),
      settled_(new QTimer(this)) {
  // A text document reports its changes in detail only once it has a layout, and the size
  // counts follow those reports. A view gives the text a layout of its own in place of this one.
  text_->documentLayout();
  bytes_ = new ByteCounter(text_.get());
  connect(text_.get(), &QTextDocument::contentsChanged, this, [this] { setSaved(false); });
  settled_->setSingleShot(true);
  settled_->setInterval(LAST_RESORT_SETTLE_MS);
  connect(settled_, &QTimer::timeout, this, &ScoreDocument::renewLastResort);
}

ScoreDocument::~ScoreDocument() = default;

void ScoreDocument::setSaved(bool saved) {
  isSaved_ = saved;
  if (saved) {
    renewLastResort();
  } else {
    settled_->start();  // the text is copied once typing pauses, not at every key
  }
  Q_EMIT savedChanged(saved);
}

// The same choice as the end of a run makes: an edited, non-empty text of the instance that
// owns the backup file is kept.
void ScoreDocument::renewLastResort() {
  settled_->stop();
  const bool owner = backupActive_ && backupLock_.held();
  const bool keep = owner && !isSaved_ && size() > 0;
  lastResort_.update(owner, keep, keep ? plainText() : QString(), {encoding_, byteOrderMark_});
}

QString ScoreDocument::plainText() const {
  QString text = text_->toRawText();
  text.replace(QChar::ParagraphSeparator, '\n');
  return text;
}

std::optional<QByteArray> ScoreDocument::encoded(const QString& purpose, QString* refusal) const {
  QByteArray bytes;
  const std::optional<Unencodable> bad = encodeText(plainText(), encoding_, bytes);
  if (!bad) {
    if (byteOrderMark_) bytes.prepend(UTF8_BYTE_ORDER_MARK);
    return bytes;
  }
  if (refusal != nullptr) *refusal = refusalText(purpose, *bad, encoding_, false);
  return std::nullopt;
}

// The box text: what could not be done, where the character stands and what cannot hold it.
// The column counts from 1 as the status bar's does: as code page 932 counts the line (a
// full-width character 2, a half-width one 1), in a UTF-8 score too.
QString ScoreDocument::refusalText(const QString& purpose, const Unencodable& bad,
                                   TextEncoding target, bool withColumn) const {
  const QString character = QString::fromUcs4(&bad.character, 1);
  const QString code =
      QString::number(static_cast<uint>(bad.character), 16).toUpper().rightJustified(4, '0');
  QString place = QString("%1 行目").arg(bad.line + 1);
  if (withColumn) {
    const QString line = text_->findBlockByNumber(static_cast<int>(bad.line)).text();
    const qsizetype column = displayColumns(QStringView(line).first(bad.column)) + 1;
    place += QString(" %1 桁目").arg(column);
  }
  const char* name = target == TextEncoding::Utf8 ? "UTF-8" : "シフトJIS(コードページ932)";
  return QString("%1できません.\n%2の文字「%3」(U+%4) は\n%5で表せません.")
      .arg(purpose, place, character, code, QString::fromUtf8(name));
}

DocumentOutcome ScoreDocument::convertTo(TextEncoding encoding) {
  if (encoding == encoding_) return DocumentOutcome::done();
  QByteArray bytes;
  const std::optional<Unencodable> bad = encodeText(plainText(), encoding, bytes);
  if (bad && encoding == TextEncoding::Cp932)
    return DocumentOutcome::failed(refusalText("シフトJIS に変換", *bad, encoding, true));
  const bool mark =
      encoding == TextEncoding::Utf8 && detectEncoding(bytes).encoding != TextEncoding::Utf8;
  setEncoding({encoding, mark});
  setSaved(false);
  return DocumentOutcome::done();
}

// The text becomes the file's, read in the encoding its bytes show.
void ScoreDocument::replaceText(QByteArrayView fileBytes) {
  const FileEncoding found = detectEncoding(fileBytes);
  const qsizetype markBytes = found.byteOrderMark ? UTF8_BYTE_ORDER_MARK_BYTES : 0;
  text_->setPlainText(loadedText(fileBytes.sliced(markBytes), found.encoding));
  setEncoding(found);
  Q_EMIT textReplaced();
}

void ScoreDocument::setEncoding(FileEncoding encoding) {
  const bool changed = encoding.encoding != encoding_;
  encoding_ = encoding.encoding;
  byteOrderMark_ = encoding.byteOrderMark;
  bytes_->setEncoding(encoding_);
  if (changed) Q_EMIT encodingChanged(encoding_);
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
  replaceText(bytes);
  nameFile(fileName);
  return DocumentOutcome::done();
}

// The text is written whole or not at all; the file it replaces stays as its ".bak" copy, and
// at every moment the file's name holds either the old or the new text.
DocumentOutcome ScoreDocument::writeTo(const QString& path) {
  QString refusal;
  const std::optional<QByteArray> bytes = encoded("保存", &refusal);
  if (!bytes) return DocumentOutcome::refused(refusal);
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
  text_->clear();
  setEncoding({});
  hasFileName_ = false;
  setSaved(true);
}

void ScoreDocument::startUntitled(const QString& text) {
  close();
  text_->setPlainText(text);
  setSaved(false);
  Q_EMIT textReplaced();
}

// The text now belongs to `path`, saved; its ".mid" goes beside it. Paths are kept whole: a
// shortened path would name another file.
void ScoreDocument::nameFile(const QString& path) {
  sourcePath_ = path;
  hasFileName_ = true;
  midiOutputPath_ = withExtension(path, ".mid");
  setSaved(true);
}

WriteOutcome ScoreDocument::checkOutput(const QString& outputPath) const {
  if (hasFileName_ && outputWouldOverwrite(QFile::encodeName(outputPath).toStdString(),
                                           QFile::encodeName(sourcePath_).toStdString()))
    return {WriteFailure::SourceItself, 0};
  return {};
}

void ScoreDocument::forgetFileName() {
  sourcePath_.clear();
  midiOutputPath_.clear();
  hasFileName_ = false;
}

namespace {

BackupStartOutcome backupUnavailable(const BackupStep& step, bool folder) {
  const QString reason = QString::fromLocal8Bit(std::strerror(step.error));
  const QString what = folder ? "フォルダ" : "ファイル";
  return {BackupStart::Unavailable,
          QString(" [注意] %1 %2 を作れないため, 自動backupは作動しません: %3")
              .arg(what, QDir::toNativeSeparators(step.failedPath), reason)};
}

}  // namespace

// The lock comes first, so that only its holder removes, creates or reads the backup file. An
// empty left-over (a run that ended before its first backup) holds nothing to recover and goes
// without a question.
BackupStartOutcome ScoreDocument::takeBackupLock() {
  backupActive_ = false;
  backupLock_.release();
  renewLastResort();
  if (const BackupStep folder = backupLock_.prepareFolder(); !folder) {
    return backupUnavailable(folder, true);
  }
  const BackupStep locked = backupLock_.acquire();
  if (locked.error == EWOULDBLOCK) return {BackupStart::HeldElsewhere, {}};
  if (!locked) return backupUnavailable(locked, false);
  if (backupLock_.isEmpty()) backupLock_.remove();
  BackupStart start = BackupStart::Fresh;
  BackupStep file;
  if (backupLock_.exists()) {
    start = BackupStart::LeftOver;
    file = backupLock_.checkRegular();
  } else {
    file = backupLock_.createEmpty();
  }
  if (!file) {
    backupLock_.release();
    return backupUnavailable(file, false);
  }
  backupActive_ = true;
  renewLastResort();
  return {start, {}};
}

// The recovered text belongs to no file, so a save asks for a name instead of overwriting a
// file opened from the command line.
void ScoreDocument::recoverBackup() {
  QFile file(backupLock_.path());
  if (!file.open(QIODevice::ReadOnly)) return;
  replaceText(file.readAll());
  forgetFileName();
}

DocumentOutcome ScoreDocument::writeBackup() {
  if (!backupActive_ || !backupLock_.held()) return DocumentOutcome::done();
  const std::optional<QByteArray> bytes = encoded(QString(), nullptr);
  if (!bytes) return DocumentOutcome::done();
  const bool written = backupLock_.write(*bytes);
  renewLastResort();
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
  lastResort_.disown();
  if (!backupActive_ || !backupLock_.held()) return true;
  backupActive_ = false;
  const bool removed = keepFile || backupLock_.remove();
  backupLock_.release();
  return removed;
}

int ScoreDocument::characterColumn(int line, int byteColumn) const {
  const QString text = text_->findBlockByNumber(line).text();
  int bytes = 0;
  int position = 0;
  while (position < text.size()) {
    const char32_t c =
        QChar::isHighSurrogate(text.at(position).unicode()) && position + 1 < text.size()
            ? QChar::surrogateToUcs4(text.at(position), text.at(position + 1))
            : text.at(position).unicode();
    const int units = c > 0xFFFF ? 2 : 1;
    const auto width =
        static_cast<int>(encodedSize(QStringView(text).mid(position, units), encoding_));
    if (bytes + width > byteColumn) break;
    bytes += width;
    position += units;
  }
  return position;
}

int ScoreDocument::byteColumn(int line, int characterColumn) const {
  const QString text = text_->findBlockByNumber(line).text();
  const qsizetype characters = std::clamp<qsizetype>(characterColumn, 0, text.size());
  return static_cast<int>(encodedSize(QStringView(text).left(characters), encoding_));
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
