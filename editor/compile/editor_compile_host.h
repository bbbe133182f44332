// The editor's host for the compiler core: the editor's lines as the source, in the bytes of the
// document's encoding (a byte-order mark is not text and is left out), the message pane and
// message boxes for the report, and the output the compile command chose.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTextBlock>
#include <optional>

#include "core/compile_host.h"
#include "editor/compile/compile_sinks.h"
#include "editor/document/text_codec.h"

class CompileOutput;
class QTextDocument;

// The text a compilation reads: the editor's lines in the document's encoding.
struct ScoreLines {
  const QTextDocument& text;
  TextEncoding encoding = TextEncoding::Cp932;
};

// The error a compilation stopped at, where it names a line (`line` is the editor line, the
// positions its compile bytes), with the core's words for it as the editor shows them.
struct CompileFailure : Diagnostic {
  QString text;
};

// The score error that stopped the reading of the score, the first error the core hands over
// that names a line. A tie the MIDI writer finds joining nothing is left to the report.
class FailureKeeper {
 public:
  void take(const Diagnostic& diagnostic);
  const std::optional<CompileFailure>& failure() const { return failure_; }

 private:
  std::optional<CompileFailure> failure_;
};

class EditorHost : public EditorCompileHost {
 public:
  // sourceMap: where the core records the source map, or nullptr for none.
  EditorHost(ScoreLines lines, const CompileSinks& sinks, CompileOutput& output,
             SourceMap* sourceMap);

  void messageLine(std::string_view text) override;
  void alert(std::string_view text) override;
  int32_t sourceLineCount() override;
  std::string_view sourceLine(int32_t index) override;
  std::string displayText(std::string_view bytes) override;
  int32_t displayColumns(std::string_view bytes) override;
  OutputStream* openOutput() override;
  int32_t closeOutput(bool keep) override;
  void autoPanChanged(bool on) override;
  SourceMap* sourceMap() override { return sourceMap_; }
  void diagnosed(const Diagnostic& diagnostic) override { failure_.take(diagnostic); }

  // The error that stopped the compilation at a line of the score.
  const std::optional<CompileFailure>& failure() const { return failure_.failure(); }

 private:
  const ScoreLines lines_;
  const CompileSinks& sinks_;
  CompileOutput& output_;
  SourceMap* const sourceMap_;
  QTextBlock block_;  // the block of the last line handed out
  int32_t blockIndex_ = -1;
  QByteArray line_;
  FailureKeeper failure_;
};
