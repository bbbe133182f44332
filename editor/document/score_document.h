// The score being edited: its file name, whether it is saved, its encoding (code page 932 or
// UTF-8, found on opening, kept by every write, changed by a conversion), loading it (size limit,
// line ends), saving it with the ".bak" copy, the refusal of characters its encoding cannot
// hold, the automatic backup with its schedule and its lock, and the size in bytes. It owns the
// QTextDocument that holds the text, with its undo history, and knows no widget: a view gives
// the text its layout and shows it, and goes before the document does. What fails comes back as
// a value carrying the text for the box, and the window shows it. What the backup file is to hold
// should the program end without its user-interface thread is kept at each idle moment after an
// edit.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "editor/document/backup_lock.h"
#include "editor/document/byte_counter.h"
#include "editor/document/last_resort_backup.h"
#include "editor/document/text_codec.h"
#include "editor/document/whole_file_writer.h"

class QTextDocument;
class QTimer;

inline constexpr int32_t BACKUP_IDLE_TICKS = 5;        // quiet seconds before a backup
inline constexpr int32_t BACKUP_INTERVAL_TICKS = 180;  // seconds between backups
// Edits settle once the user has paused this long: the idle moment that renews the last resort.
inline constexpr int LAST_RESORT_SETTLE_MS = 300;

// What a document operation did: done, or refused or failed with the text of the stop box that
// says why.
struct DocumentOutcome {
  bool ok = true;
  QString boxText;
  bool unencodable = false;  // refused: the text holds a character its encoding cannot hold
  static DocumentOutcome done() { return {}; }
  static DocumentOutcome failed(QString text) { return {false, std::move(text)}; }
  static DocumentOutcome refused(QString text) { return {false, std::move(text), true}; }
};

// The automatic backup's timer ticks: a backup is due once BACKUP_INTERVAL_TICKS have passed
// since the last one and the user has then been idle for BACKUP_IDLE_TICKS.
struct BackupSchedule {
  int32_t idleCountdown = BACKUP_IDLE_TICKS;
  int32_t backupCountdown = BACKUP_INTERVAL_TICKS;

  bool tick();  // one tick; true when a backup is due
  void activity() { idleCountdown = BACKUP_IDLE_TICKS; }
  void restart() { *this = BackupSchedule{}; }
};

// How the backup file stood at start-up.
enum class BackupStart {
  Fresh,          // this instance owns a new, empty backup file
  LeftOver,       // a run that did not end normally left text in it: offer to recover it
  HeldElsewhere,  // another instance of this user holds it: no backups here
  Unavailable,    // the folder, the lock or the file cannot be made: no backups here
};

struct BackupStartOutcome {
  BackupStart start = BackupStart::Fresh;
  QString notice;  // Unavailable: the message pane's line naming the path and the reason
};

class ScoreDocument : public QObject {
  Q_OBJECT
 public:
  explicit ScoreDocument(QString backupFile, QObject* parent = nullptr);
  ~ScoreDocument() override;

  // The text, with its undo history; views show it.
  QTextDocument& text() const { return *text_; }
  const QString& sourcePath() const { return sourcePath_; }
  const QString& midiOutputPath() const { return midiOutputPath_; }
  bool hasFileName() const { return hasFileName_; }
  bool isSaved() const { return isSaved_; }
  // Counts as saved or edited from now on; the marker follows.
  void setSaved(bool saved);
  // Bytes of the text in its encoding, each line end counting 2 (a byte-order mark not counted).
  qsizetype size() const { return bytes_->total(); }
  const ByteCounter& bytes() const { return *bytes_; }
  // The position within the line (in the text's UTF-16 units) of the character that holds the
  // line's byte byteColumn as the compiler reads it; the line's end when it has fewer bytes.
  int characterColumn(int line, int byteColumn) const;
  // The inverse: the line's byte, as the compiler reads it, at which the character at position
  // characterColumn (UTF-16 units) starts; the line's byte count at or past its end.
  int byteColumn(int line, int characterColumn) const;
  TextEncoding encoding() const { return encoding_; }
  bool hasByteOrderMark() const { return byteOrderMark_; }

  // The file's bytes: the text in its encoding with CR LF line ends, behind the byte-order mark
  // when there is one; or the refusal naming the first character that the encoding cannot hold
  // (`purpose` is what could not be done: "保存").
  std::optional<QByteArray> encoded(const QString& purpose, QString* refusal) const;
  // From now on the text is written in `encoding`; it counts as edited. Code page 932 refuses a
  // text with a character it cannot hold, naming its line and column; UTF-8 takes every text,
  // and gets a byte-order mark when its bytes would otherwise not open as UTF-8 again (pure
  // ASCII, or bytes kept from code page 932 that are no UTF-8).
  DocumentOutcome convertTo(TextEncoding encoding);

  // Refuses an output at `outputPath` that would replace this score's own file (the same name,
  // a hard or a symbolic link) with WriteFailure::SourceItself; any other output, and every
  // output of an untitled score, may be written.
  WriteOutcome checkOutput(const QString& outputPath) const;

  // Replaces the text with the file's; on failure the text stays and the document becomes
  // untitled and saved.
  DocumentOutcome load(const QString& fileName);
  // Writes an edited text to its file (an unchanged one is not written again).
  DocumentOutcome save();
  // Writes the text to path, which becomes the document's file.
  DocumentOutcome saveAs(const QString& path);
  // Empties the text: untitled, saved and code page 932. The old path stays, unused.
  void close();
  // A new untitled text made elsewhere (an imported MIDI file): code page 932, not saved.
  void startUntitled(const QString& text);
  void forgetFileName();

  // Start-up: takes the single-instance lock, then removes an empty left-over backup file or
  // creates the file empty. Only a failure to take the lock for the lack of a free lock counts
  // as another instance; every other failure is Unavailable and says why.
  BackupStartOutcome takeBackupLock();
  // Puts the left-over backup's text in, in the encoding its bytes show; it counts as edited and
  // untitled.
  void recoverBackup();
  bool backupActive() const { return backupActive_; }
  const BackupLock& backupLock() const { return backupLock_; }
  BackupSchedule& schedule() { return schedule_; }
  // One automatic backup in the document's encoding, written whole while the lock stays held. A
  // text that the encoding cannot hold skips the round; a failed write says why.
  DocumentOutcome writeBackup();
  // The edited text goes to the backup file so that the next start offers it; true when there.
  bool preserveUnsavedText();
  // The end of the run: the file goes unless `keepFile`, then the lock; false when the file
  // could not be removed.
  bool releaseBackup(bool keepFile);
  // What the backup file gets when the program must end while this thread cannot: the text as
  // of the last idle moment after an edit, the last save or the last backup.
  LastResortBackup& lastResort() { return lastResort_; }

 Q_SIGNALS:
  // After every change of the text (edited) and every open, save or close (saved).
  void savedChanged(bool saved);
  // The whole text was replaced by a file's (open, recovery): views put their caret at the start.
  void textReplaced();
  // After every open, conversion, recovery and close that changed the encoding.
  void encodingChanged(TextEncoding encoding);

 private:
  DocumentOutcome writeTo(const QString& path);
  void nameFile(const QString& path);
  void replaceText(QByteArrayView fileBytes);
  void setEncoding(FileEncoding encoding);
  QString plainText() const;  // '\n' line ends
  void renewLastResort();
  QString refusalText(const QString& purpose, const Unencodable& bad, TextEncoding target,
                      bool withColumn) const;

  const std::unique_ptr<QTextDocument> text_;
  ByteCounter* bytes_ = nullptr;  // owned by the text document
  QString sourcePath_;
  QString midiOutputPath_;
  bool hasFileName_ = false;
  bool isSaved_ = true;
  TextEncoding encoding_ = TextEncoding::Cp932;
  bool byteOrderMark_ = false;
  BackupLock backupLock_;
  LastResortBackup lastResort_;
  QTimer* settled_ = nullptr;  // runs from each edit to the next idle moment
  bool backupActive_ = false;
  BackupSchedule schedule_;
};

// "path/name.ext" -> "path/name" + extension; a name without extension gets it appended.
QString withExtension(const QString& path, const QString& extension);

// Lines of the editor's line list: a line end after the last line starts no counted line, and
// an empty text has none.
int editorLineCount(const QTextDocument& text);
