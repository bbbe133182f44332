// The language server as an editor drives it: the real program on pipes, framed messages in and
// out, scores on disk where the encoding or the MIDI file command needs them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/lsp/lsp_client.h"

namespace fs = std::filesystem;

namespace {

const std::string URI = "file:///nonexistent/score.fms";

json at(int line, int character) {
  return {{"line", line}, {"character", character}};
}

json doc(const std::string& uri = URI) {
  return {{"uri", uri}};
}

class LanguageServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarvlsp_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string writeFile(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The diagnostics after opening `text` at `uri`.
  json diagnose(const std::string& text, const std::string& uri = URI) {
    client.open(uri, text);
    const auto published = client.diagnosticsFor(uri);
    return published ? (*published)["params"]["diagnostics"] : json();
  }
  json hover(int line, int character) {
    return client.request("textDocument/hover",
                          {{"textDocument", doc()}, {"position", at(line, character)}});
  }

  fs::path dir_;
  LspClient client;
};

// ---------------------------------------------------------------------------------------------
// Framing and bad input

TEST_F(LanguageServerTest, MessagesSplitAnywhereOrJoinedInOneWriteAreEachAnswered) {
  const std::string initialize =
      LspClient::framed({{"jsonrpc", "2.0"},
                         {"id", 1},
                         {"method", "initialize"},
                         {"params", {{"capabilities", json::object()}}}});
  for (char c : initialize) client.sendRaw(std::string(1, c));
  ASSERT_TRUE(client.response(1));
  client.sendRaw(LspClient::framed({{"jsonrpc", "2.0"}, {"id", 2}, {"method", "shutdown"}}) +
                 LspClient::framed({{"jsonrpc", "2.0"}, {"method", "exit"}}));
  ASSERT_TRUE(client.response(2));
  EXPECT_EQ(client.waitForExit(), 0);
}

TEST_F(LanguageServerTest, BadHeadersAndBodiesCostOnlyTheirMessage) {
  client.initialize();
  client.open(URI, "ch1{\"c\"}\n");
  client.sendRaw("Content-Type: text/plain\r\n\r\n");  // no length
  client.sendRaw("Content-Length: 12x\r\n\r\n");       // not a number
  client.sendRaw("garbage without a colon\r\n\r\n");
  client.sendRaw("Content-Length: 9\r\n\r\nnot json!");
  const auto parseError = client.next([](const json& m) { return m.contains("error"); });
  ASSERT_TRUE(parseError);
  EXPECT_EQ((*parseError)["error"]["code"], -32700);
  EXPECT_TRUE((*parseError)["id"].is_null());
  client.send({{"jsonrpc", "2.0"}, {"id", 7}, {"method", "no/such/method"}});
  EXPECT_EQ((*client.response(7))["error"]["code"], -32601);
  // The document is still there.
  EXPECT_FALSE(hover(0, 5)["result"].is_null());
}

TEST_F(LanguageServerTest, UnknownDocumentsAndPositionsBeyondTheTextAreHarmless) {
  client.initialize();
  client.notify("textDocument/didChange",
                {{"textDocument", {{"uri", "file:///other.fms"}, {"version", 2}}},
                 {"contentChanges", {{{"text", "x"}}}}});
  const json unknown = client.request(
      "textDocument/hover", {{"textDocument", doc("file:///other.fms")}, {"position", at(0, 0)}});
  EXPECT_EQ(unknown["error"]["code"], -32602);
  client.open(URI, "ch1{\"c\"}");
  EXPECT_TRUE(hover(99, 99)["result"].is_null());
  // A change whose range lies past the end appends at the end.
  client.notify("textDocument/didChange",
                {{"textDocument", {{"uri", URI}, {"version", 2}}},
                 {"contentChanges",
                  {{{"range", {{"start", at(40, 3)}, {"end", at(50, 0)}}}, {"text", "\n x"}}}}});
  const json diagnostics = *client.diagnosticsFor(URI);
  ASSERT_EQ(diagnostics["params"]["diagnostics"].size(), 1u);
  EXPECT_EQ(diagnostics["params"]["version"], 2);
  EXPECT_EQ(diagnostics["params"]["diagnostics"][0]["range"]["start"], at(1, 1));
}

TEST_F(LanguageServerTest, A16MiBDocumentIsTakenAndTheServerGoesOn) {
  client.initialize();
  std::string big;
  while (big.size() < (size_t{16} << 20)) big += "// a comment line that only fills the score up\n";
  big += "ch1{\"c x\"}\n";
  const json diagnostics = diagnose(big);
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0]["code"], 1);
  EXPECT_FALSE(hover(0, 3).contains("error"));
}

// ---------------------------------------------------------------------------------------------
// Lifecycle

TEST_F(LanguageServerTest, ExitWithoutShutdownEndsWithStatusOne) {
  client.initialize();
  client.notify("exit", json::object());
  EXPECT_EQ(client.waitForExit(), 1);
}

TEST_F(LanguageServerTest, TheEndOfTheInputEndsTheServer) {
  client.initialize();
  client.closeInput();
  EXPECT_EQ(client.waitForExit(), 1);
}

TEST_F(LanguageServerTest, RequestsBeforeInitializeAndAfterShutdownAreRefused) {
  EXPECT_EQ(client.request("textDocument/hover", json::object())["error"]["code"], -32002);
  client.initialize();
  client.request("shutdown", nullptr);
  EXPECT_EQ(client.request("textDocument/hover", json::object())["error"]["code"], -32600);
  client.notify("exit", json::object());
  EXPECT_EQ(client.waitForExit(), 0);
}

TEST_F(LanguageServerTest, PositionEncodingIsUtf8WhenOfferedElseUtf16) {
  EXPECT_EQ(client.initialize(json::object(), true)["result"]["capabilities"]["positionEncoding"],
            "utf-8");
  LspClient other;
  EXPECT_EQ(other.initialize()["result"]["capabilities"]["positionEncoding"], "utf-16");
}

// ---------------------------------------------------------------------------------------------
// Diagnostics

TEST_F(LanguageServerTest, TheFirstErrorHasItsCodeTheFailingCommandAndEnglishText) {
  client.initialize();
  const json diagnostics = diagnose("ch1{\n \"c d t300 e\"\n \"x\"\n}\n");
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0]["code"], 17);
  EXPECT_EQ(diagnostics[0]["severity"], 1);
  EXPECT_EQ(diagnostics[0]["message"], "code 'T?' (10 to 250)");
  EXPECT_EQ(diagnostics[0]["range"], json({{"start", at(1, 6)}, {"end", at(1, 10)}}));
}

TEST_F(LanguageServerTest, JapaneseTextsWhenAsked) {
  client.initialize({{"language", "ja"}});
  const json diagnostics = diagnose("ch1{\"c t300\"}");
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0]["message"], "命令 T? の範囲は 10～250");
}

TEST_F(LanguageServerTest, ALineCutAtTheLimitIsAWarning) {
  client.initialize();
  const json diagnostics = diagnose("ch1{\n\"" + std::string(2100, 'c') + "\"\n}\n");
  ASSERT_GE(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0]["severity"], 2);
  EXPECT_EQ(diagnostics[0]["range"]["start"], at(1, 1998));
  EXPECT_EQ(diagnostics[0]["range"]["end"], at(1, 2102));
}

TEST_F(LanguageServerTest, AFixingChangeClearsTheDiagnosticAndOnlyTheNewestVersionIsReported) {
  client.initialize();
  ASSERT_EQ(diagnose("ch1{\"c x e\"}").size(), 1u);
  // Two changes in one write: the first one's work is never done.
  client.sendRaw(
      LspClient::framed(
          {{"jsonrpc", "2.0"},
           {"method", "textDocument/didChange"},
           {"params",
            {{"textDocument", {{"uri", URI}, {"version", 2}}},
             {"contentChanges",
              {{{"range", {{"start", at(0, 7)}, {"end", at(0, 8)}}}, {"text", "y"}}}}}}}) +
      LspClient::framed(
          {{"jsonrpc", "2.0"},
           {"method", "textDocument/didChange"},
           {"params",
            {{"textDocument", {{"uri", URI}, {"version", 3}}},
             {"contentChanges",
              {{{"range", {{"start", at(0, 7)}, {"end", at(0, 8)}}}, {"text", "d"}}}}}}}));
  const json published = *client.diagnosticsFor(URI);
  EXPECT_EQ(published["params"]["version"], 3);
  EXPECT_TRUE(published["params"]["diagnostics"].empty());
}

// Both position encodings and both file encodings: the column of an error behind Japanese text
// and a character that code page 932 cannot hold.
TEST_F(LanguageServerTest, ColumnsCountInTheNegotiatedUnits) {
  const std::string text = "ch1{\"c\"}/*あ𝄞*/ch1{\"x\"}";
  client.initialize();
  EXPECT_EQ(diagnose(text)[0]["range"]["start"], at(0, 20));  // あ 1 unit, 𝄞 2 units
  LspClient utf8;
  utf8.initialize(json::object(), true);
  utf8.open(URI, text);
  EXPECT_EQ((*utf8.diagnosticsFor(URI))["params"]["diagnostics"][0]["range"]["start"],
            at(0, 24));  // あ 3 bytes, 𝄞 4 bytes
}

TEST_F(LanguageServerTest, ACp932ScoreReportsWhatCodePage932CannotHold) {
  // "//" and a kana in code page 932 bytes: the editor opens the file as code page 932.
  const std::string cp932 = writeFile("cp932.fms", "// \x82\xA0\r\nch1{\"c\"}\r\n");
  const std::string utf8 = writeFile("utf8.fms", "// \xE3\x81\x82\nch1{\"c\"}\n");
  client.initialize();
  const std::string text = "// あ😀\nch1{\"c\"}\n";
  const json held = diagnose(text, "file://" + cp932);
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0]["range"], json({{"start", at(0, 4)}, {"end", at(0, 6)}}));
  EXPECT_NE(held[0]["message"].get<std::string>().find("U+1F600"), std::string::npos);
  EXPECT_TRUE(diagnose(text, "file://" + utf8).empty());
}

// ---------------------------------------------------------------------------------------------
// Answers

// Notes are named as the roll's keyboard names them (the score's o3 c is middle C, C4); a
// drum channel's note names its percussion sound first.
TEST_F(LanguageServerTest, HoverTellsTheNoteAndWhereItSounds) {
  client.initialize();
  diagnose("ch1{\"l4 c e\"}\nch2{\"v12 @73 r8 c\"}\nch9{\"o3 c n13\"}\n");
  const json note = hover(0, 10)["result"];
  EXPECT_EQ(
      note["contents"]["value"],
      "E5 · quarter note (480 ticks) · ch1 · bar 1 beat 2 · 0:00.750 · volume 10 · program 0");
  EXPECT_EQ(note["range"], json({{"start", at(0, 10)}, {"end", at(0, 11)}}));
  EXPECT_EQ(
      hover(1, 16)["result"]["contents"]["value"],
      "C5 · quarter note (480 ticks) · ch2 · bar 1 beat 1 · 0:00.500 · volume 12 · program 73");
  EXPECT_EQ(hover(1, 9)["result"]["contents"]["value"],
            "program 73 · ch2 · bar 1 beat 1 · 0:00.250");
  EXPECT_EQ(hover(2, 8)["result"]["contents"]["value"].get<std::string>().substr(0, 13),
            "Hi Bongo (C4)");
  EXPECT_EQ(hover(2, 11)["result"]["contents"]["value"].get<std::string>().substr(0, 16),
            "Bass Drum 1 (C2)");
}

TEST_F(LanguageServerTest, HoverInJapaneseAndOnAHeaderCommand) {
  client.initialize({{"language", "ja"}});
  diagnose("op(q7def)\nch1{\"l8 c\"}\n");
  EXPECT_EQ(hover(1, 8)["result"]["contents"]["value"],
            "C5 ・ 8分音符 (240 ticks) ・ ch1 ・ 小節 1 拍 1 ・ 0:00.250 ・ 音量 10 ・ 音色 0");
  EXPECT_EQ(hover(0, 4)["result"]["contents"]["value"],
            "q7def : 全チャンネルのゲートを Q7 で始める");
}

TEST_F(LanguageServerTest, SemanticTokensFullAndRangeAgree) {
  client.initialize();
  diagnose("ch1{\n\"c8 t90\" // x\n}");
  const json full = client.request("textDocument/semanticTokens/full",
                                   {{"textDocument", doc()}})["result"]["data"];
  // ch1{ keyword; the string's quote, c, 8, blank, t, 90, quote; the comment; the brace.
  EXPECT_EQ(full,
            json({0, 0, 4, 0, 0, 1, 0, 1, 2, 0, 0, 1, 1, 3, 0, 0, 1, 1, 4, 0, 0, 1, 1, 2, 0,
                  0, 1, 1, 5, 0, 0, 1, 2, 4, 0, 0, 2, 1, 2, 0, 0, 2, 4, 1, 0, 1, 0, 1, 0, 0}));
  const json range =
      client.request("textDocument/semanticTokens/range",
                     {{"textDocument", doc()},
                      {"range", {{"start", at(1, 0)}, {"end", at(2, 0)}}}})["result"]["data"];
  EXPECT_EQ(range, json({1, 0, 1, 2, 0, 0, 1, 1, 3, 0, 0, 1, 1, 4, 0, 0, 1, 1, 2, 0,
                         0, 1, 1, 5, 0, 0, 1, 2, 4, 0, 0, 2, 1, 2, 0, 0, 2, 4, 1, 0}));
}

TEST_F(LanguageServerTest, SymbolsAndFoldsFollowBlocksHeaderCommandsAndBlockComments) {
  client.initialize();
  diagnose("cr(\"me\")\n/* one\ntwo */\nch2 {\n\"c\"\n}\nch3{\"d\"}\n");
  const json symbols =
      client.request("textDocument/documentSymbol", {{"textDocument", doc()}})["result"];
  ASSERT_EQ(symbols.size(), 3u);
  EXPECT_EQ(symbols[0]["name"], "cr");
  EXPECT_EQ(symbols[0]["detail"], "\"me\"");
  EXPECT_EQ(symbols[1]["name"], "ch2");
  EXPECT_EQ(symbols[1]["range"], json({{"start", at(3, 0)}, {"end", at(5, 1)}}));
  EXPECT_EQ(symbols[2]["name"], "ch3");
  EXPECT_EQ(symbols[2]["range"], json({{"start", at(6, 0)}, {"end", at(6, 8)}}));
  const json folds =
      client.request("textDocument/foldingRange", {{"textDocument", doc()}})["result"];
  EXPECT_EQ(
      folds,
      json::parse(R"([{"startLine":1,"endLine":2,"kind":"comment"},{"startLine":3,"endLine":5}])"));
}

TEST_F(LanguageServerTest, CompletionOffersWhatFitsThePlace) {
  client.initialize();
  diagnose("ch1{\"c \"}\n\nop(");
  auto labels = [&](int line, int character) {
    std::vector<std::string> out;
    const json items =
        client.request("textDocument/completion",
                       {{"textDocument", doc()}, {"position", at(line, character)}})["result"];
    for (const json& item : items) out.push_back(item["label"]);
    return out;
  };
  EXPECT_EQ(labels(2, 3), (std::vector<std::string>{"q7def", "q8def", "autolr", "manulr"}));
  const std::vector<std::string> inString = labels(0, 7);
  EXPECT_NE(std::find(inString.begin(), inString.end(), "t"), inString.end());
  EXPECT_EQ(std::find(inString.begin(), inString.end(), "op"), inString.end());
  const std::vector<std::string> between = labels(1, 0);
  EXPECT_NE(std::find(between.begin(), between.end(), "ch9"), between.end());
  EXPECT_EQ(std::find(between.begin(), between.end(), "t"), between.end());
  EXPECT_TRUE(labels(0, 4).empty());  // inside the block, outside its strings
}

TEST_F(LanguageServerTest, CancelledAndOutdatedRequestsAreNotAnswered) {
  client.initialize();
  diagnose("ch1{\"c\"}");
  const json hoverRequest = {{"jsonrpc", "2.0"},
                             {"id", 50},
                             {"method", "textDocument/hover"},
                             {"params", {{"textDocument", doc()}, {"position", at(0, 5)}}}};
  client.sendRaw(LspClient::framed(hoverRequest) + LspClient::framed({{"jsonrpc", "2.0"},
                                                                      {"method", "$/cancelRequest"},
                                                                      {"params", {{"id", 50}}}}));
  EXPECT_EQ((*client.response(50))["error"]["code"], -32800);
  json again = hoverRequest;
  again["id"] = 51;
  client.sendRaw(LspClient::framed(again) +
                 LspClient::framed({{"jsonrpc", "2.0"},
                                    {"method", "textDocument/didChange"},
                                    {"params",
                                     {{"textDocument", {{"uri", URI}, {"version", 2}}},
                                      {"contentChanges", {{{"text", "ch1{\"d\"}"}}}}}}}));
  EXPECT_EQ((*client.response(51))["error"]["code"], -32801);
}

TEST_F(LanguageServerTest, MakeMidiWritesTheFileTarvk32cWrites) {
  const std::string score = "cr(\"x\")\nch1{\"t100 l8 c d e & e\"}\nch9{\"v8 c r c\"}\n";
  const std::string path = writeFile("song.fms", score);
  writeFile("console.fms", score);
  client.initialize();
  const json result =
      client.request("workspace/executeCommand",
                     {{"command", "tarvik.makeMidi"}, {"arguments", {"file://" + path}}});
  EXPECT_EQ(result["result"]["exitStatus"], 0);
  const auto message =
      client.next([](const json& m) { return m.value("method", "") == "window/showMessage"; });
  ASSERT_TRUE(message);
  EXPECT_EQ((*message)["params"]["type"], 3);
  const std::string console =
      "cd " + dir_.string() + " && " TARVK32C_PATH " console.fms >/dev/null";
  ASSERT_EQ(std::system(console.c_str()), 0);
  const std::string written = read(dir_ / "song.mid");
  EXPECT_FALSE(written.empty());
  EXPECT_EQ(written, read(dir_ / "console.mid"));
}

TEST_F(LanguageServerTest, MakeMidiReportsAFailureAndWritesNothing) {
  const std::string path = writeFile("bad.fms", "ch1{\"c x\"}\n");
  client.initialize();
  const json result =
      client.request("workspace/executeCommand",
                     {{"command", "tarvik.makeMidi"}, {"arguments", {"file://" + path}}});
  EXPECT_EQ(result["result"]["exitStatus"], 1);
  const auto message =
      client.next([](const json& m) { return m.value("method", "") == "window/showMessage"; });
  ASSERT_TRUE(message);
  EXPECT_EQ((*message)["params"]["type"], 1);
  EXPECT_NE(
      (*message)["params"]["message"].get<std::string>().find("It isn't possible to decipher."),
      std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "bad.mid"));
}

}  // namespace
