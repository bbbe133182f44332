// Compile diagnostics: every text the core shows, one table per flavour (the code texts and the
// other texts whose wording differs between the programs), and the failing-line report.
#pragma once

#include <string>
#include <string_view>

#include "core/compile_host.h"

// The texts of one flavour besides the code texts. Console texts carry their own line ends;
// editor texts are one message-pane line each. Formats are printf formats whose arguments the
// comments name; nullptr marks a text the flavour does not have.
struct FlavourTexts {
  const char* lineEnd;             // behind a text that is the same in both flavours
  const char* outOfMemory;         // alert
  const char* compileStopped;      // alert
  const char* cannotReadSource;    // console only
  const char* cannotOpenOutput;    // console: message line; editor: alert
  const char* cannotWriteOutput;   // console: message line; editor: alert
  const char* channelSize;         // channel, size, figure label, figure (%ld)
  const char* complete;            // behind the size lines
  const char* channelOverflow;     // channel, limit: a full work area refused a note or rest
  const char* channelFull;         // channel, events: the words of a full channel's diagnostic
  const char* loneTie;             // channel: a tie with nothing to join in the MIDI file
  const char* compiledDataOver;    // largest table entry: the image would not fit the table
  const char* lineTooLong;         // console only: the line is over the limit, reading stops
  const char* lineCountOver;       // console only, line limit: reading stops
  const char* longLineWarning;     // editor only, five-digit line number, limit: line cut
  const char* optionEcho;          // op keyword
  const char* copyrightLabel;      // before the quoted cr text
  const char* copyrightOverLabel;  // the same when the text is too long
  const char* sequenceNameLabel;
  const char* sequenceNameOverLabel;
};

const FlavourTexts& flavourTexts(Flavour flavour);
inline const FlavourTexts& textsOf(const CompileSession& session) {
  return flavourTexts(flavourOf(session));
}

// printf into a std::string.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The code's text: console flavour exactly as printed (with its own line feeds); editor flavour
// the bare Japanese text (reportError frames it).
std::string_view errorText(int32_t code, Flavour flavour);

// Emits the code's text as a message (editor: " *** " + text + " *** ").
void reportError(CompileSession& session, int32_t code);

// Emits the failing line; in the editor also the pointer line with "?" under lineCursor.
void reportFailingLine(CompileSession& session);

// The whole report of a score error: the failing line, the code's text, then its diagnostic
// handed to the host (a full channel's under a code of its own, though it is reported and
// returned as ERROR_OTHER).
void reportFailure(CompileSession& session, int32_t code);

// Hands a diagnostic to the host.
void diagnose(CompileSession& session, const Diagnostic& diagnostic);

// A character the score's encoding cannot hold, at byte `column` of `line` as the compiler
// reads it (the programs that convert the text find these; the compiler reads a '?').
Diagnostic unencodableDiagnostic(int32_t line, int32_t column, char32_t character);

// A diagnostic about no line of the score.
Diagnostic lineFreeDiagnostic(int32_t code, int32_t limit = 0);

// The core's own words for a diagnostic in the flavour's language, without the frames and line
// ends its report adds: a score error's code text, the full channel's, the lone tie's, the
// long line's (editor flavour) and the other texts above. Empty for a diagnostic the flavour
// has no words for (an unencodable character: the programs word it themselves).
std::string diagnosticText(const Diagnostic& diagnostic, Flavour flavour);

// Exactly five decimal digits, zero-padded, modulo 100000.
std::string formatLineNumber(int32_t lineNumber);

// The bytes of lineBuffer up to its NUL.
std::string_view lineText(const CompileSession& session);
