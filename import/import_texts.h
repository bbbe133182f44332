// Every text the importer and its program show, one table per language: the importer hands its
// front ends messages (a kind and the values it names), and each front end formats them in its
// own language, the console program in English, the editor in Japanese.
#pragma once

#include <string>
#include <vector>

enum class ImportLanguage { English, Japanese };

// The kinds of message. A text names its values as %1, %2, ... in the order of
// ImportMessage::values; the comments list them.
enum class ImportText {
  // The program's usage and its own errors (the subject, option or file, stands before them).
  Usage,
  MissingValue,
  UnknownEncoding,
  UnknownOption,
  BadPartList,
  BadGrid,
  PartListHeader,
  SecondInput,
  OutputIsInput,
  OutputIsFolder,
  OutputLinksNowhere,
  OutputPipeUnread,
  CannotCreateOutput,  // the system's reason
  CannotReplaceOutput,
  CannotWriteOutput,
  CannotWriteStandardOutput,
  // Why a MIDI file is refused.
  CannotOpen,  // the system's reason
  NotRegularFile,
  FileTooLarge,  // the limit in MiB
  CannotRead,    // the system's reason
  NotSmf,
  CutShort,
  BadHeaderLength,
  UnreadableFormat,  // the format number
  SmpteDivision,
  ZeroDivision,
  NoTracks,
  BadStatusByte,      // track number, byte offset in the track
  BadVariableLength,  // track number, byte offset in the track
  TooManyBars,        // the bar limit
  TooManyEvents,      // score channel, events a channel may hold
  NotEncodable,
  // What the score could not keep, and slips of the file that were read as other readers do.
  TracksMissing,           // tracks the header names, tracks the file holds
  RunningStatusAfterMeta,  // count
  NoNotes,
  NotesMoved,         // count, largest shift in ticks
  NotesDropped,       // count, the bars ("2, 4-6"), track (from 1), MIDI channel (from 1)
  PartsLeftOut,       // count
  VoiceContinued,     // channel, events a channel holds, first bar moved, the channel it goes on in
  VoiceCut,           // channel, events a channel holds, notes left out, first bar left out
  ZeroLengthDropped,  // count
  ZeroLengthCrowded,  // count, zero-length notes kept at one grid point
  LegatoTrimmed,      // count
  NotesTransposed,    // count
  NotesRepaired,      // count
  DrumsShortened,     // count
  VelocitiesRounded,  // count
  VelocitiesMatched,  // count
  TupletLevelsJoined,  // count
  NotesSnapped,        // count
  VelocitiesSteadied,  // count
  TemposRounded,       // count
  TemposOutside,       // count, the first one's beats a minute, its bar
  ChangesMoved,        // count
  PitchBendsLost,      // count
  SustainPedalLost,    // count
  ControllersLost,     // count, the controller numbers ("1, 7")
  OtherMessagesLost,   // count
  TextsLost,           // count
  NameLeftOut,
  CopyrightLeftOut,
  NameCharactersLeftOut,       // count
  CopyrightCharactersLeftOut,  // count
  NameCut,                     // byte limit
  CopyrightCut,                // byte limit
  Count
};

struct ImportMessage {
  ImportText kind = ImportText::Count;
  std::vector<std::string> values;  // numbers in decimal, lists, the system's reasons
};

// The kind's text in `language`, its values not yet filled in.
const char* importText(ImportText kind, ImportLanguage language);

// The message in `language`, each %N replaced by the Nth value (nothing when there is none).
std::string formatImportMessage(const ImportMessage& message, ImportLanguage language);
