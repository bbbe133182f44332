// libFuzzer target: any bytes as a score opened in the editor and saved again, in code page 932
// and in UTF-8. The bytes go through the decoder into the editor's text document and back
// through the encoder; the result must be the input with every line end (CR LF, lone CR, lone
// LF) written as CR LF, and the editor's byte count must equal the saved size.
#include <QGuiApplication>
#include <QTextDocument>
#include <cstdint>
#include <cstdlib>

#include "editor/document/text_codec.h"

namespace {

QByteArray withCrLf(const uint8_t* data, size_t size) {
  QByteArray out;
  out.reserve(static_cast<qsizetype>(size + size / 8));
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\r') {
      out += "\r\n";
      if (i + 1 < size && data[i + 1] == '\n') ++i;
    } else if (data[i] == '\n') {
      out += "\r\n";
    } else {
      out += static_cast<char>(data[i]);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QGuiApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QByteArray expected = withCrLf(data, size);
  for (TextEncoding encoding : {TextEncoding::Cp932, TextEncoding::Utf8}) {
    QTextDocument document;
    document.setPlainText(loadedText(bytes, encoding));
    QString text = document.toRawText();
    text.replace(QChar::ParagraphSeparator, '\n');
    QByteArray saved;
    if (encodeText(text, encoding, saved)) std::abort();  // a loaded text always saves
    if (saved != expected) std::abort();
    if (encodedSize(text, encoding) != saved.size()) std::abort();
  }
  return 0;
}
