// The score codec: which encoding a file opens in; in code page 932 and in UTF-8, loading and
// saving keep every byte, line ends are normalised, unencodable characters are refused or
// compiled as '?', and byte counts match the bytes written.
#include "editor/document/text_codec.h"

#include <QTest>

namespace {

// One character as a QString (QString::fromUcs4 would drop U+FEFF as a byte order mark).
QString ucs4(char32_t c) {
  const QChar units[2] = {QChar(QChar::highSurrogate(c)), QChar(QChar::lowSurrogate(c))};
  return QChar::requiresSurrogates(c) ? QString(units, 2) : QString(QChar(char16_t(c)));
}

// The bytes a save writes, or "<refused>" when it reports an unencodable character.
QByteArray saved(const QString& text) {
  QByteArray out;
  return encodeCp932(text, out) ? QByteArray("<refused>") : out;
}

// The same in UTF-8.
QByteArray savedUtf8(const QString& text) {
  QByteArray out;
  return encodeText(text, TextEncoding::Utf8, out) ? QByteArray("<refused>") : out;
}

QByteArray bytePair(int lead, int trail) {
  return QByteArray{char(lead), char(trail)};
}

}  // namespace

class TextCodecTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void everySingleByteSurvivesLoadAndSave() {
    for (int b = 0; b < 256; ++b) {
      if (b == '\r' || b == '\n') continue;
      const QByteArray file = QByteArray(1, char(b)) + "\r\n " + char(b) + " " + char(b);
      QCOMPARE(saved(loadedText(file)), file);
    }
  }

  // Each sequence ends a line and then the file, so a lead byte also meets CR and the end.
  void everyTwoByteSequenceSurvivesLoadAndSave() {
    for (int lead = 0; lead < 256; ++lead) {
      for (int trail = 0; trail < 256; ++trail) {
        if (lead == '\r' || lead == '\n' || trail == '\r' || trail == '\n') continue;
        const QByteArray file = bytePair(lead, trail) + "\r\n" + bytePair(lead, trail);
        QCOMPARE(saved(loadedText(file)), file);
      }
    }
  }

  // All sequences back to back: each byte is read in both roles, lead and trail.
  void allSequencesInOneStreamSurviveDecodeAndCompile() {
    QByteArray stream;
    for (int lead = 0; lead < 256; ++lead)
      for (int trail = 0; trail < 256; ++trail)
        if (lead != '\n' && trail != '\n') stream += bytePair(lead, trail);
    QCOMPARE(compileBytes(decodeCp932(stream)), stream);
  }

  void decodesToCharactersOrEscapes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("circled one") << QByteArray("\x87\x40") << QStringLiteral("①");
    QTest::newRow("sentence")
        << QByteArray::fromHex(
               "93fa967b8cea82cc8365834c83588367814191538a7083588379815b8358814082c68740b1")
        << QStringLiteral("日本語のテキスト、全角スペース　と①ｱ");
    QTest::newRow("canonical IBM kanji") << QByteArray("\xFA\x5C") << ucs4(0x7E8A);
    QTest::newRow("canonical approx. equal") << QByteArray("\x81\xE0") << QStringLiteral("≒");
    QTest::newRow("NEC-selected IBM kanji") << QByteArray("\xED\x40") << ucs4(0xFED40);
    QTest::newRow("NEC approx. equal") << QByteArray("\x87\x90") << ucs4(0xF8790);
    QTest::newRow("user-defined first") << QByteArray("\xF0\x40") << ucs4(0xE000);
    QTest::newRow("0x80, 0xA0, 0xFD to 0xFF")
        << QByteArray("\x80\xA0\xFD\xFE\xFF")
        << ucs4(0xF0080) + ucs4(0xF00A0) + ucs4(0xF00FD) + ucs4(0xF00FE) + ucs4(0xF00FF);
    QTest::newRow("lead byte at end") << QByteArray("a\x81") << "a" + ucs4(0xF0081);
    QTest::newRow("lead byte, invalid trail") << QByteArray("\x81 ") << ucs4(0xF0081) + " ";
    QTest::newRow("lead byte of an empty row") << QByteArray("\x85\x40") << ucs4(0xF0085) + "@";
    QTest::newRow("lead byte before CR")
        << QByteArray("\x81\x0D\x82\xA0") << ucs4(0xF0081) + "\r" + QStringLiteral("あ");
  }
  void decodesToCharactersOrEscapes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeCp932(bytes), text);
    QCOMPARE(saved(text), bytes);
  }

  // A lead byte that ends the view stays a raw byte even when the memory behind it is a trail.
  void decodingStopsAtTheEndOfTheBytes() {
    const QByteArray bytes("a\x81\x40");
    QCOMPARE(decodeCp932(QByteArrayView(bytes).first(2)), "a" + ucs4(0xF0081));
    QCOMPARE(loadedText(QByteArrayView(bytes).first(2)), "a" + ucs4(0xF0081));
  }

  void loadingNormalisesLineEndsAndSavingWritesCrLf_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("savedFile");
    QTest::newRow("empty file") << QByteArray() << QString() << QByteArray();
    QTest::newRow("only line ends") << QByteArray("\r\n\r\n") << "\n\n" << QByteArray("\r\n\r\n");
    QTest::newRow("lone CRs") << QByteArray("\r\r") << "\n\n" << QByteArray("\r\n\r\n");
    QTest::newRow("LF then CR") << QByteArray("\n\r") << "\n\n" << QByteArray("\r\n\r\n");
    QTest::newRow("lone LF, final") << QByteArray("a\nb\n") << "a\nb\n" << QByteArray("a\r\nb\r\n");
    QTest::newRow("CR LF, final") << QByteArray("a\r\nb\r\n") << "a\nb\n"
                                  << QByteArray("a\r\nb\r\n");
    QTest::newRow("no final") << QByteArray("a\r\nb") << "a\nb" << QByteArray("a\r\nb");
    QTest::newRow("mixed") << QByteArray("a\r\r\nb\n\rc") << "a\n\nb\n\nc"
                           << QByteArray("a\r\n\r\nb\r\n\r\nc");
    QTest::newRow("after a lead byte")
        << QByteArray("\x81\rx") << ucs4(0xF0081) + "\nx" << QByteArray("\x81\r\nx");
  }
  void loadingNormalisesLineEndsAndSavingWritesCrLf() {
    QFETCH(QByteArray, file);
    QFETCH(QString, text);
    QFETCH(QByteArray, savedFile);
    QCOMPARE(loadedText(file), text);
    QCOMPARE(saved(text), savedFile);
  }

  void savingReportsTheFirstUnencodableCharacter_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("line");
    QTest::addColumn<qsizetype>("column");
    QTest::addColumn<char32_t>("character");
    QTest::newRow("emoji, second line")
        << QStringLiteral("ch1\n\"c😀d鷗\"") << qsizetype(1) << qsizetype(2) << char32_t(0x1F600);
    QTest::newRow("kanji outside the code page")
        << QStringLiteral("あ\n\n\"鷗\"") << qsizetype(2) << qsizetype(1) << char32_t(0x9DD7);
    QTest::newRow("after escapes") << ucs4(0xF0081) + ucs4(0xFED40) + "\u301C" << qsizetype(0)
                                   << qsizetype(4) << char32_t(0x301C);
    QTest::newRow("yen sign, read back as backslash")
        << QStringLiteral("\u00A5") << qsizetype(0) << qsizetype(0) << char32_t(0xA5);
    QTest::newRow("tag character iconv drops")
        << ucs4(0xE0041) << qsizetype(0) << qsizetype(0) << char32_t(0xE0041);
    QTest::newRow("lone surrogate")
        << QString(QChar(0xD800)) + "a" << qsizetype(0) << qsizetype(0) << char32_t(0xD800);
  }
  void savingReportsTheFirstUnencodableCharacter() {
    QFETCH(QString, text);
    QFETCH(qsizetype, line);
    QFETCH(qsizetype, column);
    QFETCH(char32_t, character);
    QByteArray out = "stale";
    const std::optional<Unencodable> refused = encodeCp932(text, out);
    QVERIFY(refused);
    QCOMPARE(refused->line, line);
    QCOMPARE(refused->column, column);
    QCOMPARE(uint(refused->character), uint(character));
    QCOMPARE(out, QByteArray());
  }

  void compileBytesWritesQuestionMarksForUnencodableCharacters() {
    QCOMPARE(compileBytes(u"\"c😀d\" // 鷗\u301C"), QByteArray("\"c?d\" // ??"));
    QCOMPARE(compileBytes(QString(QChar(0xDC00)) + "x"), QByteArray("?x"));
    QCOMPARE(compileBytes(ucs4(0xF0081) + ucs4(0xFED40) + QStringLiteral("あ")),
             QByteArray("\x81\xED\x40\x82\xA0"));
  }

  void byteCounts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("bytes");
    QTest::newRow("double-byte at line start") << QStringLiteral("あ") << qsizetype(2);
    QTest::newRow("half-width katakana") << QStringLiteral("ｱｲ") << qsizetype(2);
    QTest::newRow("line end") << QStringLiteral("\n") << qsizetype(2);
    QTest::newRow("byte escape") << ucs4(0xF0081) << qsizetype(1);
    QTest::newRow("pair escape") << ucs4(0xFED40) << qsizetype(2);
    QTest::newRow("emoji") << QStringLiteral("😀") << qsizetype(1);
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << qsizetype(1);
    QTest::newRow("mixed") << QStringLiteral("a\nあｱ😀鷗") << qsizetype(8);
  }
  void byteCounts() {
    QFETCH(QString, text);
    QFETCH(qsizetype, bytes);
    QCOMPARE(cp932Size(text), bytes);
    qsizetype sum = 0;
    for (char32_t c : text.toUcs4()) sum += cp932CharBytes(c);
    QCOMPARE(sum, bytes);
  }

  // Columns in a fixed-pitch font: what code page 932 holds counts its bytes, as before; what it
  // cannot hold counts by its width, so a caret after an emoji or a 鷗 stands where it is seen.
  void displayColumnsCountWideCharactersTwice_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("columns");
    QTest::newRow("ascii") << QStringLiteral("c8 r") << qsizetype(4);
    QTest::newRow("double-byte") << QStringLiteral("あ曲") << qsizetype(4);
    QTest::newRow("half-width katakana") << QStringLiteral("ｱｲ") << qsizetype(2);
    QTest::newRow("emoji") << QStringLiteral("😀") << qsizetype(2);
    QTest::newRow("ideograph outside code page 932") << QStringLiteral("鷗") << qsizetype(2);
    QTest::newRow("Hangul") << QStringLiteral("한") << qsizetype(2);
    QTest::newRow("narrow outside code page 932") << QStringLiteral("é́") << qsizetype(2);
    QTest::newRow("escapes") << ucs4(0xF0081) + ucs4(0xFED40) << qsizetype(3);
    QTest::newRow("mixed") << QStringLiteral("\"c😀d\" // 鷗") << qsizetype(12);
  }
  void displayColumnsCountWideCharactersTwice() {
    QFETCH(QString, text);
    QFETCH(qsizetype, columns);
    QCOMPARE(displayColumns(text), columns);
  }
  void displayColumnsAgreeWithBytesForWhatCodePage932Holds() {
    for (char32_t c = 0; c < 0x10000; ++c) {
      if (c == '\n' || QChar::isSurrogate(c) || compileBytes(ucs4(c)) == "?") continue;
      QCOMPARE(displayColumns(ucs4(c)), qsizetype(cp932CharBytes(c)));
    }
  }

  // Every BMP character and the escape-range edges count exactly the bytes they compile to.
  void countsMatchCompiledBytes() {
    for (char32_t c = 0; c < 0x10000; ++c) {
      if (c == '\n' || QChar::isSurrogate(c)) continue;
      QCOMPARE(qsizetype(cp932CharBytes(c)), compileBytes(ucs4(c)).size());
    }
    for (char32_t c : {0xEFFFFu, 0xF0000u, 0xF00FFu, 0xF0100u, 0xF80FFu, 0xF8100u, 0xFFCFFu,
                       0xFFD00u, 0x10FFFFu}) {
      QCOMPARE(qsizetype(cp932CharBytes(c)), compileBytes(ucs4(c)).size());
      QCOMPARE(cp932Size(ucs4(c)), compileBytes(ucs4(c)).size());
    }
  }
  void detectsTheEncoding_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<bool>("byteOrderMark");
    QTest::newRow("empty") << QByteArray() << false << false;
    QTest::newRow("pure ASCII") << QByteArray("ch1{\"c\"}\r\n") << false << false;
    QTest::newRow("byte-order mark, ASCII") << QByteArray("\xEF\xBB\xBFx\r\n") << true << true;
    QTest::newRow("byte-order mark, then no UTF-8")
        << QByteArray("\xEF\xBB\xBF\x82\xA0") << true << true;
    QTest::newRow("UTF-8 Japanese") << QByteArray("// \xE3\x81\x82\r\n") << true << false;
    QTest::newRow("UTF-8, four bytes") << QByteArray("\xF0\x9F\x8E\xB5") << true << false;
    QTest::newRow("code page 932 Japanese") << QByteArray("// \x82\xA0\r\n") << false << false;
    QTest::newRow("UTF-8 then a stray byte") << QByteArray("\xE3\x81\x82\x80") << false << false;
    QTest::newRow("sequence cut at the end")
        << QByteArray("\xE3\x81\x82\xE3\x81") << false << false;
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << false << false;
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << false << false;
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false << false;
    QTest::newRow("mark not at the start")
        << QByteArray("x\xEF\xBB\xBF") << true << false;  // valid UTF-8: U+FEFF inside
  }
  void detectsTheEncoding() {
    QFETCH(QByteArray, file);
    QFETCH(bool, utf8);
    QFETCH(bool, byteOrderMark);
    const FileEncoding found = detectEncoding(file);
    QCOMPARE(found.encoding == TextEncoding::Utf8, utf8);
    QCOMPARE(found.byteOrderMark, byteOrderMark);
  }

  void decodesUtf8ToCharactersOrEscapes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("Japanese") << QByteArray("\xE6\x9B\xB2\xE5\x90\x8D \xEF\xBD\xB1")
                              << QStringLiteral("曲名 ｱ");
    QTest::newRow("last character") << QByteArray("\xF4\x8F\xBF\xBF") << ucs4(0x10FFFF);
    QTest::newRow("private use outside the escapes")
        << QByteArray("\xEE\x80\x80\xF3\xAF\xBF\xBF") << ucs4(0xE000) + ucs4(0xEFFFF);
    QTest::newRow("stray bytes") << QByteArray("a\x80\xFF") << "a" + ucs4(0xF0080) + ucs4(0xF00FF);
    QTest::newRow("cut sequence, then ASCII")
        << QByteArray("\xE3\x81x") << ucs4(0xF00E3) + ucs4(0xF0081) + "x";
    QTest::newRow("cut before a line end") << QByteArray("\xE3\r\n") << ucs4(0xF00E3) + "\n";
    QTest::newRow("character in the pair escapes, bytes escaped")
        << QByteArray("\xF3\xBF\xB1\x80")
        << ucs4(0xF00F3) + ucs4(0xF00BF) + ucs4(0xF00B1) + ucs4(0xF0080);
  }
  void decodesUtf8ToCharactersOrEscapes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(loadedText(bytes, TextEncoding::Utf8), text);
    QCOMPARE(savedUtf8(text), bytes);
  }

  // As in code page 932: every byte and every pair, in every role, survives load and save.
  void everyByteAndPairSurvivesAUtf8LoadAndSave() {
    for (int lead = 0; lead < 256; ++lead) {
      for (int trail = 0; trail < 256; ++trail) {
        if (lead == '\r' || lead == '\n' || trail == '\r' || trail == '\n') continue;
        const QByteArray file = bytePair(lead, trail) + "\r\n" + char(lead) + " " + char(trail);
        QCOMPARE(savedUtf8(loadedText(file, TextEncoding::Utf8)), file);
      }
    }
  }

  // What code page 932 refuses UTF-8 takes; escapes kept from code page 932 write their bytes;
  // only a lone surrogate is refused, with its place.
  void utf8TakesEveryCharacterButALoneSurrogate() {
    QCOMPARE(savedUtf8(QStringLiteral("鷗\u301C😀\u00A5")),
             QByteArray("\xE9\xB7\x97\xE3\x80\x9C\xF0\x9F\x98\x80\xC2\xA5"));
    QCOMPARE(savedUtf8(ucs4(0xF0080) + ucs4(0xFED40) + QStringLiteral("あ")),
             QByteArray("\x80\xED\x40\xE3\x81\x82"));
    QByteArray out = "stale";
    const std::optional<Unencodable> refused =
        encodeText(QStringLiteral("ab\nあ") + QChar(0xDC00), TextEncoding::Utf8, out);
    QVERIFY(refused);
    QCOMPARE(refused->line, qsizetype(1));
    QCOMPARE(refused->column, qsizetype(1));
    QCOMPARE(uint(refused->character), 0xDC00u);
    QCOMPARE(out, QByteArray());
    QCOMPARE(compileBytes(QString(QChar(0xD800)) + QStringLiteral("あ"), TextEncoding::Utf8),
             QByteArray("?\xE3\x81\x82"));
  }

  // Every BMP character, the escape-range edges and characters beyond the BMP count exactly the
  // UTF-8 bytes they compile to.
  void utf8CountsMatchCompiledBytes() {
    for (char32_t c = 0; c < 0x10000; ++c) {
      if (c == '\n') continue;
      QCOMPARE(encodedSize(ucs4(c), TextEncoding::Utf8),
               compileBytes(ucs4(c), TextEncoding::Utf8).size());
    }
    for (char32_t c : {0x10000u, 0x1F3B5u, 0xEFFFFu, 0xF0000u, 0xF00FFu, 0xF0100u, 0xF80FFu,
                       0xF8100u, 0xFFCFFu, 0xFFD00u, 0x10FFFFu}) {
      QCOMPARE(encodedSize(ucs4(c), TextEncoding::Utf8),
               compileBytes(ucs4(c), TextEncoding::Utf8).size());
    }
    QCOMPARE(encodedSize(QStringLiteral("a\nあ"), TextEncoding::Utf8), qsizetype(6));
    QCOMPARE(encodedSize(QStringLiteral("a\nあ"), TextEncoding::Cp932), qsizetype(5));
  }
};

QTEST_APPLESS_MAIN(TextCodecTest)
#include "text_codec_test.moc"
