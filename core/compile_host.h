// The seam between the compiler core and a program: the output stream the writers fill and the
// host services a front end supplies (messages, the line source, the output).
//
// A host is either a console host or an editor host; which one fixes both its flavour (texts,
// report formats, writer details) and its line source, so the two cannot disagree. The core
// calls a host only from inside compileSource(), on the caller's thread, and never re-entrantly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/compile_session.h"
#include "core/diagnostic.h"
#include "core/text_encoding.h"

// A seekable byte sink. Failures are sticky: after the first failed operation every later one
// does nothing and failed() stays true, so a writer may run on and be checked once at the end.
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  virtual void write(const uint8_t* data, size_t size) = 0;
  virtual int64_t position() const = 0;
  virtual void seek(int64_t position) = 0;
  virtual bool failed() const = 0;
};

// Result of CompileHost::closeOutput().
enum OutputCloseResult : int32_t {
  OUTPUT_CLOSED = 0,
  OUTPUT_WRITE_FAILED = -1,    // a write, seek, flush or close failed; nothing was kept
  OUTPUT_REPLACE_FAILED = -2,  // the finished output could not be put at its name
};

// What every host supplies. Derive from ConsoleCompileHost or EditorCompileHost, never from
// this class directly (its constructor is private to those two).
//
// Message texts are passed whole and are only valid during the call:
//  - console flavour: raw bytes, each text carrying its own line ends;
//  - editor flavour: one message-pane line in UTF-8 without a line end (source bytes quoted in
//    a message are converted by the host's displayText()).
class CompileHost {
 public:
  virtual ~CompileHost() = default;
  CompileHost(const CompileHost&) = delete;
  CompileHost& operator=(const CompileHost&) = delete;

  Flavour flavour() const { return flavour_; }

  virtual void messageLine(std::string_view text) = 0;
  virtual void alert(std::string_view text) = 0;

  // The output of the end phase: the MIDI file, or the compiled-data image (editor: its memory
  // stream, emptied beforehand by prepareEditorCompilation()). nullptr means it cannot be
  // opened; the stream stays the host's and must live until closeOutput() returns.
  // closeOutput(keep) finishes it: with keep the output is put in place and the result tells
  // whether that worked; without it whatever was written is discarded (the result is ignored).
  virtual OutputStream* openOutput() = 0;
  virtual int32_t closeOutput(bool keep) = 0;

  // Called after an op keyword autolr/manulr changed CompileSession::autoPan, in the middle of
  // the line loop. The host may update its own state and let its window redraw, but must not
  // call back into the compiler (no compileSource(), no change to the session).
  virtual void autoPanChanged(bool on) { (void)on; }

  // Asked once at the start of each compilation: a source map to record into
  // (core/source_map.h), or nullptr for none, the default. The map stays the host's; the core
  // empties it first and fills it during the compilation, which costs time and memory (eight
  // bytes an event), so a host asks only when it uses the map.
  virtual SourceMap* sourceMap() { return nullptr; }

  // Called for every message the core gives (core/diagnostic.h), after its report went out
  // through messageLine() or alert(), so that a host can mark the place or put the message into
  // words of its own without reading the report's text. A score error that stops the compilation
  // comes last but for the failure of the output the end phase may still report.
  virtual void diagnosed(const Diagnostic& diagnostic) { (void)diagnostic; }

 private:
  friend class ConsoleCompileHost;
  friend class EditorCompileHost;
  explicit CompileHost(Flavour flavour) : flavour_(flavour) {}
  const Flavour flavour_;
};

// The console program's host: the source is a byte stream, read in pieces.
class ConsoleCompileHost : public CompileHost {
 public:
  ConsoleCompileHost() : CompileHost(FLAVOUR_CONSOLE) {}

  // Called once between the session start and the line loop; reports its own success or
  // failure text. When it returned true, closeSource() is called exactly once, in the end
  // phase before the output is opened; when it returned false, neither reading nor closing
  // follows.
  virtual bool openSource() = 0;
  virtual void closeSource() = 0;
  // Works like read(2): bytes stored into buffer (at most capacity), 0 at the end of the
  // source, negative on a read error (the compilation then fails). Not called again after it
  // returned 0 or a negative value.
  virtual int32_t readSource(uint8_t* buffer, int32_t capacity) = 0;
};

// The editor's host: the source is the editor's text as a list of lines without line ends.
class EditorCompileHost : public CompileHost {
 public:
  EditorCompileHost() : CompileHost(FLAVOUR_EDITOR) {}

  // The number of lines and the bytes of line `index` (0-based, below the count) as the editor
  // shows them at the start of the compilation; the text must not change during it. The view
  // returned by sourceLine() must stay valid until the next call of sourceLine() or the end of
  // the compilation, whichever comes first: the core copies what it needs at once.
  virtual int32_t sourceLineCount() = 0;
  virtual std::string_view sourceLine(int32_t index) = 0;
  // Source bytes quoted in a message (the failing line, a cr or sn text) as UTF-8 for the
  // message pane. The bytes are those sourceLine() handed out, so the host knows their encoding;
  // by default code page 932.
  virtual std::string displayText(std::string_view bytes) { return cp932ToDisplay(bytes); }
  // The columns the pane gives to source bytes in its fixed-pitch font, counted as the same
  // text would take in code page 932 (a full-width character 2, a half-width one 1); the
  // pointer line stands its "?" there. By default the bytes are code page 932: one a column.
  virtual int32_t displayColumns(std::string_view bytes) {
    return static_cast<int32_t>(bytes.size());
  }
};

// Source bytes as the editor host shows them; only for a session with an editor host.
inline std::string editorDisplayText(const CompileSession& session, std::string_view bytes) {
  return static_cast<EditorCompileHost*>(session.host)->displayText(bytes);
}

// The columns of source bytes as the editor host shows them; only for a session with an editor
// host.
inline int32_t editorDisplayColumns(const CompileSession& session, std::string_view bytes) {
  return static_cast<EditorCompileHost*>(session.host)->displayColumns(bytes);
}

inline Flavour flavourOf(const CompileSession& session) {
  return session.host->flavour();
}
