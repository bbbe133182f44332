#include "editor/compile/editor_compile_host.h"

#include <QCoreApplication>
#include <QTextDocument>

#include "core/diagnostics.h"
#include "editor/compile/compile_output.h"
#include "editor/document/score_document.h"

namespace {

QString fromCore(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

EditorHost::EditorHost(ScoreLines lines, const CompileSinks& sinks, CompileOutput& output,
                       SourceMap* sourceMap)
    : lines_(lines), sinks_(sinks), output_(output), sourceMap_(sourceMap) {}

void EditorHost::messageLine(std::string_view text) {
  sinks_.message(fromCore(text));
}

void EditorHost::alert(std::string_view text) {
  sinks_.alert(fromCore(text), BoxIcon::Stop);
}

int32_t EditorHost::sourceLineCount() {
  blockIndex_ = -1;
  return editorLineCount(lines_.text);
}

// Lines are fetched in order, so the next block is one step away.
std::string_view EditorHost::sourceLine(int32_t index) {
  if (blockIndex_ >= 0 && index == blockIndex_ + 1) {
    block_ = block_.next();
  } else {
    block_ = lines_.text.findBlockByNumber(index);
  }
  blockIndex_ = index;
  line_ = compileBytes(block_.text(), lines_.encoding);
  return std::string_view(line_.constData(), static_cast<size_t>(line_.size()));
}

// UTF-8 bytes show as they are, a byte that is no UTF-8 as U+FFFD.
std::string EditorHost::displayText(std::string_view bytes) {
  if (lines_.encoding == TextEncoding::Cp932) return EditorCompileHost::displayText(bytes);
  return fromCore(bytes).toStdString();
}

int32_t EditorHost::displayColumns(std::string_view bytes) {
  if (lines_.encoding == TextEncoding::Cp932) return EditorCompileHost::displayColumns(bytes);
  return static_cast<int32_t>(::displayColumns(fromCore(bytes)));
}

OutputStream* EditorHost::openOutput() {
  return output_.open();
}

int32_t EditorHost::closeOutput(bool keep) {
  return output_.close(keep);
}

// The menu item and the button follow at once; only painting and timers run meanwhile, so no
// key or click can start another command in the middle of the compilation.
void EditorHost::autoPanChanged(bool on) {
  sinks_.autoPanChanged(on);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void FailureKeeper::take(const Diagnostic& diagnostic) {
  if (failure_ || !diagnostic.error() || diagnostic.line < 0 || diagnostic.writing) return;
  failure_ = CompileFailure{diagnostic, fromCore(diagnosticText(diagnostic, FLAVOUR_EDITOR))};
}
