// The language server as an editor drives it: the real program on pipes, framed messages in and
// out, scores on disk where the encoding or the MIDI file command needs them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

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

json change(const std::string& uri, json version, json changes) {
  return {{"jsonrpc", "2.0"},
          {"method", "textDocument/didChange"},
          {"params",
           {{"textDocument", {{"uri", uri}, {"version", std::move(version)}}},
            {"contentChanges", std::move(changes)}}}};
}

json hoverRequest(int id, const std::string& uri, int line, int character) {
  return {{"jsonrpc", "2.0"},
          {"id", id},
          {"method", "textDocument/hover"},
          {"params", {{"textDocument", doc(uri)}, {"position", at(line, character)}}}};
}

// The JSON text of `inner` inside `levels` arrays, made as text: the test's own JSON values
// would recurse as deep as the server's.
std::string nested(int levels, const json& inner = 1) {
  std::string text(static_cast<size_t>(levels), '[');
  text += inner.dump();
  text.append(static_cast<size_t>(levels), ']');
  return text;
}

// A framed message whose "params" member is the JSON text `params`.
std::string framedWithParams(const json& message, const std::string& params) {
  std::string body = message.dump();
  body.pop_back();
  body += ",\"params\":" + params + "}";
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The resident memory of a process in KiB, from /proc.
long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
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
  // The inlay hints of lines firstLine to lastLine, each as "position label", those whose label
  // starts with `prefix`.
  std::vector<std::string> inlayHints(int firstLine, int lastLine, const std::string& prefix = "") {
    const json result =
        client.request("textDocument/inlayHint",
                       {{"textDocument", doc()},
                        {"range", {{"start", at(firstLine, 0)}, {"end", at(lastLine, 99)}}}});
    std::vector<std::string> shown;
    for (const json& hint : result["result"]) {
      const std::string label = hint["label"];
      if (label.starts_with(prefix)) shown.push_back(hint["position"].dump() + " " + label);
    }
    return shown;
  }
  // The signature help at a place.
  json signatureHelp(int line, int character) {
    return client.request("textDocument/signatureHelp",
                          {{"textDocument", doc()}, {"position", at(line, character)}})["result"];
  }
  // The first signature's label at a place, "(none)" where there is none.
  std::string signatureLabel(int line, int character) {
    const json result = signatureHelp(line, character);
    return result.is_null() ? std::string("(none)")
                            : result["signatures"][0]["label"].get<std::string>();
  }
  // The quick fixes offered for the first of `diagnostics`, published for `uri`.
  json quickFixes(const std::string& uri, const json& diagnostics) {
    return client.request(
        "textDocument/codeAction",
        {{"textDocument", doc(uri)},
         {"range", diagnostics[0]["range"]},
         {"context", {{"diagnostics", diagnostics}, {"only", {"quickfix"}}}}})["result"];
  }
  // The MIDI file command on `path` and the message it shows.
  std::pair<json, std::string> makeMidi(const std::string& path) {
    const json result = client.request(
        "workspace/executeCommand",
        {{"command", "tarvik.makeMidi"}, {"arguments", {"file://" + path}}})["result"];
    const auto message =
        client.next([](const json& m) { return m.value("method", "") == "window/showMessage"; });
    return {result, message ? (*message)["params"]["message"].get<std::string>() : "(none)"};
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
  // A method is known or not before its document is looked up.
  const json unknownOnUnopened = client.request(
      "textDocument/noSuchRequest",
      {{"textDocument", doc("file:///nonexistent/unopened.fms")}, {"position", at(0, 0)}});
  EXPECT_EQ(unknownOnUnopened["error"]["code"], -32601);
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

// The trial's bad headers, each followed by its body and then by requests in the same write:
// every request is answered.
TEST_F(LanguageServerTest, AfterABadHeaderEveryLaterMessageIsAnswered) {
  client.initialize();
  client.open(URI, "ch1{\"c\"}\n");
  const std::string body = hoverRequest(1, URI, 0, 5).dump();
  const std::string length = std::to_string(body.size());
  const std::vector<std::string> badOnes = {
      "Content-Length: abc\r\n\r\n" + body,
      "Content-Length: -2\r\n\r\n" + body,
      "Content-Length: " + length + "\r\nContent-Length: " + length + "\r\n\r\n" + body,
      "Content-Length: " + length + "\n\n" + body,
  };
  int id = 100;
  for (const std::string& bad : badOnes) {
    SCOPED_TRACE(bad);
    std::string write = bad;
    const int first = id;
    for (int i = 0; i < 10; ++i) write += LspClient::framed(hoverRequest(id++, URI, 0, 5));
    client.sendRaw(write);
    for (int i = first; i < id; ++i) {
      const auto answer = client.response(i);
      ASSERT_TRUE(answer) << "request " << i << " unanswered";
      EXPECT_FALSE((*answer)["result"].is_null());
    }
  }
}

// A body nested 100,000 levels deep, before and after initialize, and a cancellation whose id is
// nested 70,000 levels: a request is refused by its id, and the server goes on.
TEST_F(LanguageServerTest, ABodyNestedTooDeepIsRefusedBeforeAnythingRecursesOverIt) {
  client.sendRaw(
      framedWithParams({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "initialize"}}, nested(100000)));
  const auto early = client.response(1);
  ASSERT_TRUE(early);
  EXPECT_EQ((*early)["error"]["code"], -32600);
  EXPECT_EQ((*early)["error"]["message"], "the message is nested deeper than 64 levels");
  client.initialize();
  client.open(URI, "ch1{\"c\"}\n");
  client.sendRaw(framedWithParams({{"jsonrpc", "2.0"}, {"id", 2}, {"method", "textDocument/hover"}},
                                  nested(100000, {{"textDocument", doc()}})));
  EXPECT_EQ((*client.response(2))["error"]["code"], -32600);
  client.sendRaw(framedWithParams({{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}},
                                  "{\"id\":" + nested(70000) + "}"));
  EXPECT_FALSE(hover(0, 5)["result"].is_null());
  // Nesting up to the limit is taken.
  json params = {
      {"textDocument", doc()}, {"position", at(0, 5)}, {"deep", json::parse(nested(60))}};
  EXPECT_FALSE(client.request("textDocument/hover", params)["result"].is_null());
}

// Standard input that never ends and holds no message: the server reads it a piece at a time.
TEST(LanguageServerInput, AnEndlessInputWithoutMessagesIsNotHeld) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own memory hides the server's";
#endif
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int zero = ::open("/dev/zero", O_RDONLY);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(zero, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(TARVIK32_LSP_PATH, "tarvik32-lsp", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::sleep(2);
  const long resident = residentKiB(pid);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_GT(resident, 0);
  EXPECT_LT(resident, 64 * 1024) << "KiB resident after two seconds of /dev/zero";
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
// Changes

// A didChange that fails part-way (a bad version, a good change then a bad one) changes nothing:
// the text and what the answers read from it stay the first text's.
TEST_F(LanguageServerTest, AChangeIsAppliedWholeOrNotAtAll) {
  client.initialize();
  diagnose("ch1{\"c\"}");
  const json tokens = client.request("textDocument/semanticTokens/full",
                                     {{"textDocument", doc()}})["result"]["data"];
  std::string longer;
  for (int i = 0; i < 200; ++i) longer += "op(q7def) ch1{\"c d e\"}\n";
  const json whole = {{"text", longer}};
  const json bad = {{"range", {{"start", at(0, 0)}, {"end", {{"line", "x"}}}}}, {"text", "d"}};
  for (const json& failing :
       {change(URI, "v2", {whole}), change(URI, nullptr, {whole}), change(URI, 2, {whole, bad})}) {
    SCOPED_TRACE(failing.dump().substr(0, 120));
    client.send(failing);
    EXPECT_TRUE(hover(150, 3)["result"].is_null());
    EXPECT_TRUE(client
                    .request("textDocument/completion",
                             {{"textDocument", doc()}, {"position", at(150, 3)}})["result"]
                    .empty());
    EXPECT_EQ(client.request("textDocument/semanticTokens/full",
                             {{"textDocument", doc()}})["result"]["data"],
              tokens);
  }
  client.send(change(URI, 5, {whole}));
  EXPECT_FALSE(hover(150, 3)["result"].is_null());
  EXPECT_EQ((*client.diagnosticsFor(URI))["params"]["version"], 5);
}

// Lines beyond the 32-bit range and before the first line: a change range from before the text
// starts at its start, and a token range that ends before it starts is empty.
TEST_F(LanguageServerTest, LinesOutsideTheTextAreClampedIn64Bits) {
  client.initialize();
  diagnose("ch1{\"c\"}");
  client.send(
      change(URI, 2, {{{"range", {{"start", at(-1, 100)}, {"end", at(0, 0)}}}, {"text", ""}}}));
  const json symbols =
      client.request("textDocument/documentSymbol", {{"textDocument", doc()}})["result"];
  ASSERT_EQ(symbols.size(), 1u) << symbols.dump();
  EXPECT_EQ(symbols[0]["range"], json({{"start", at(0, 0)}, {"end", at(0, 8)}}));
  const json range = {{"start", at(0, 0)}, {"end", {{"line", -4294967295LL}, {"character", 0}}}};
  EXPECT_EQ(client.request("textDocument/semanticTokens/range",
                           {{"textDocument", doc()}, {"range", range}})["result"]["data"],
            json::array());
  const json far = {{"line", 1e300}, {"character", 0}};
  EXPECT_EQ(client.request("textDocument/hover",
                           {{"textDocument", doc()}, {"position", far}})["error"]["code"],
            -32602);
}

// A line end that a change makes of a lone CR and an LF counts once, as the client counts it:
// an LF typed after a CR, a CR typed before an LF, and the text between them deleted. The error
// on the last line stays where the client sees it.
TEST_F(LanguageServerTest, ALoneCrAndAnLfThatComeTogetherEndOneLine) {
  struct Case {
    const char* name;
    std::string text;
    json edit;
    int errorLine;  // the line of the x after the edit
  };
  const std::vector<Case> cases = {
      {"LF typed after a CR",
       "ch1{\"c\"}\rch1{\"x\"}",
       {{"range", {{"start", at(1, 0)}, {"end", at(1, 0)}}}, {"text", "\n"}},
       1},
      {"CR typed before an LF",
       "ch1{\"c\"}\nch1{\"x\"}",
       {{"range", {{"start", at(0, 8)}, {"end", at(0, 8)}}}, {"text", "\r"}},
       1},
      {"text between deleted",
       "ch1{\"c\"}\r \nch1{\"x\"}",
       {{"range", {{"start", at(1, 0)}, {"end", at(1, 1)}}}, {"text", ""}},
       1},
      {"LF and more typed after a CR",
       "ch1{\"c\"}\rch1{\"x\"}",
       {{"range", {{"start", at(1, 0)}, {"end", at(1, 0)}}}, {"text", "\nch1{\"d\"}\n"}},
       2},
  };
  client.initialize();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string uri = "file:///nonexistent/" + std::to_string(&c - cases.data()) + ".fms";
    ASSERT_EQ(diagnose(c.text, uri).size(), 1u);
    client.send(change(uri, 2, {c.edit}));
    const json published = *client.diagnosticsFor(uri);
    ASSERT_EQ(published["params"]["diagnostics"].size(), 1u);
    EXPECT_EQ(published["params"]["diagnostics"][0]["range"]["start"]["line"], c.errorLine);
  }
}

// Requests about a score in one batch with its changes: those before a change of their score
// are outdated, those after the last one are answered, whatever other scores do.
TEST_F(LanguageServerTest, ARequestIsOutdatedOnlyByALaterChangeOfItsScore) {
  const std::string other = "file:///nonexistent/other.fms";
  client.initialize();
  diagnose("ch1{\"c\"}");
  diagnose("ch1{\"d\"}", other);
  const json edit = {{{"text", "ch1{\"e\"}"}}};
  client.sendRaw(
      LspClient::framed(hoverRequest(60, URI, 0, 5)) +
      LspClient::framed(hoverRequest(61, other, 0, 5)) + LspClient::framed(change(URI, 2, edit)) +
      LspClient::framed(hoverRequest(62, URI, 0, 5)) + LspClient::framed(change(URI, 3, edit)) +
      LspClient::framed(hoverRequest(63, URI, 0, 5)) +
      LspClient::framed(hoverRequest(64, other, 0, 5)) + LspClient::framed(change(other, 2, edit)) +
      LspClient::framed(hoverRequest(65, other, 0, 5)));
  for (const int outdated : {60, 61, 62, 64}) {
    SCOPED_TRACE(outdated);
    EXPECT_EQ((*client.response(outdated))["error"]["code"], -32801);
  }
  for (const int answered : {63, 65}) {
    SCOPED_TRACE(answered);
    EXPECT_FALSE((*client.response(answered))["result"].is_null());
  }
}

// Each open score holds its text and what was computed from it, not a compiler session of its
// own (which is larger than a small score and all that).
TEST_F(LanguageServerTest, ManyOpenScoresTakeLittleMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own memory hides the server's";
#endif
  client.initialize();
  const long before = residentKiB(client.pid());
  constexpr int SCORES = 2000;
  std::string opens;
  for (int i = 0; i < SCORES; ++i) {
    opens += LspClient::framed({{"jsonrpc", "2.0"},
                                {"method", "textDocument/didOpen"},
                                {"params",
                                 {{"textDocument",
                                   {{"uri", "file:///nonexistent/s" + std::to_string(i) + ".fms"},
                                    {"languageId", "tarvik"},
                                    {"version", 1},
                                    {"text", "cr(\"x\")\nch1{\"t120 l8 c d e f g\"}\n"}}}}}});
  }
  client.sendRaw(opens);
  ASSERT_TRUE(client.diagnosticsFor("file:///nonexistent/s" + std::to_string(SCORES - 1) + ".fms"));
  const long perScore = (residentKiB(client.pid()) - before) / SCORES;
  EXPECT_LT(perScore, 32) << "KiB a score";
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

// A channel that holds all the events it can says so with a code of its own, in the server's
// language, at the command it refused.
TEST_F(LanguageServerTest, AFullChannelSaysSoInEitherLanguage) {
  std::string score = "ch2{\n";
  for (int i = 0; i < 32; ++i) score += "\"" + std::string(1000, 'c') + "\"\n";
  score += "\"r v3\"\n}\n";
  for (const bool japanese : {false, true}) {
    LspClient own;
    own.initialize(japanese ? json{{"language", "ja"}} : json::object());
    own.open(URI, score);
    const auto published = own.diagnosticsFor(URI);
    ASSERT_TRUE(published);
    const json diagnostics = (*published)["params"]["diagnostics"];
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_EQ(diagnostics[0]["code"], 1001);
    EXPECT_EQ(diagnostics[0]["message"],
              japanese ? "ch2が満杯: 32000イベント" : "ch2 is full: 32000 events");
    EXPECT_EQ(diagnostics[0]["range"], json({{"start", at(33, 1)}, {"end", at(33, 2)}}));
  }
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

// Typing at 10 characters a second, each keystroke a change of its own: diagnostics come while
// the typing goes on, not only once it stops. Over 3 s at least every 500 ms is promised; the
// test asks for two, so that only a server that waits for the typing to stop fails it.
TEST_F(LanguageServerTest, DiagnosticsArriveWhileTheTypingGoesOn) {
  using namespace std::chrono_literals;
  client.initialize();
  ASSERT_TRUE(diagnose("ch1{\"\"}").empty());
  const std::string typed = "c d e f g a b > c < b a g f e";
  auto isDiagnostics = [](const json& m) {
    return m.value("method", "") == "textDocument/publishDiagnostics";
  };
  std::vector<int> reportedVersions;
  for (size_t i = 0; i < typed.size(); ++i) {
    const int column = 5 + static_cast<int>(i);
    client.send(change(URI, i + 2,
                       {{{"range", {{"start", at(0, column)}, {"end", at(0, column)}}},
                         {"text", typed.substr(i, 1)}}}));
    for (const json& published : client.arrivedWithin(100ms, isDiagnostics))
      reportedVersions.push_back(published["params"]["version"]);
  }
  EXPECT_GE(reportedVersions.size(), 2u);
  // The newest version is reported once the typing stops, if it was not already.
  const int lastVersion = static_cast<int>(typed.size()) + 1;
  if (reportedVersions.empty() || reportedVersions.back() != lastVersion) {
    const auto last = client.diagnosticsFor(URI);
    ASSERT_TRUE(last);
    EXPECT_EQ((*last)["params"]["version"], lastVersion);
  }
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
            "program 73 · Flute · ch2 · bar 1 beat 1 · 0:00.250");
  EXPECT_EQ(hover(2, 8)["result"]["contents"]["value"].get<std::string>().substr(0, 13),
            "Hi Bongo (C4)");
  EXPECT_EQ(hover(2, 11)["result"]["contents"]["value"].get<std::string>().substr(0, 16),
            "Bass Drum 1 (C2)");
}

TEST_F(LanguageServerTest, HoverInJapaneseAndOnAHeaderCommand) {
  client.initialize({{"language", "ja"}});
  diagnose("op(q7def)\nch1{\"l8 c @40\"}\nch9{\"n13\"}\n");
  EXPECT_EQ(hover(1, 8)["result"]["contents"]["value"],
            "C5 ・ 8分音符 (240 ticks) ・ ch1 ・ 小節 1 拍 1 ・ 0:00.250 ・ 音量 10 ・ 音色 0");
  EXPECT_EQ(hover(1, 10)["result"]["contents"]["value"],
            "音色 40 ・ バイオリン ・ ch1 ・ 小節 1 拍 1 ・ 0:00.500");
  EXPECT_EQ(hover(2, 5)["result"]["contents"]["value"].get<std::string>().substr(0, 22),
            "バスドラム 1 (C2)");
  EXPECT_EQ(hover(0, 4)["result"]["contents"]["value"],
            "q7def : 全チャンネルのゲートを Q7 で始める");
}

// Each command string's end shows where its channel then stands, so channels line up by bar: a
// string of four quarters ends on bar 2, the next two quarters later; at 120 a minute a quarter
// is half a second after the lead-in's quarter of a second. Only the lines of the range, and
// nothing for a score the compiler stops in.
TEST_F(LanguageServerTest, InlayHintsTellTheBarBeatAndTimeWhereEachStringEnds) {
  client.initialize();
  const std::string score = "ch1{\"t120 l4 c d e f\" \"g a\"}\nch2{\"l2 c c c\" \"\"}";
  diagnose(score);
  auto hints = [&](int firstLine, int lastLine) { return inlayHints(firstLine, lastLine); };
  EXPECT_EQ(hints(0, 1), (std::vector<std::string>{
                             R"({"character":21,"line":0} ‹2.1 · 0:02.2›)",
                             R"({"character":27,"line":0} ‹2.3 · 0:03.2›)",
                             R"({"character":14,"line":1} ‹2.3 · 0:03.2›)",
                             R"({"character":17,"line":1} ‹2.3 · 0:03.2›)",
                         }));
  EXPECT_EQ(hints(1, 1).size(), 2u);
  client.send(change(URI, 2, {{{"text", score + "\nch3{\"x\"}"}}}));
  ASSERT_TRUE(client.diagnosticsFor(URI));
  EXPECT_TRUE(hints(0, 2).empty());
}

// Behind each run of octave marks the octave it leaves, per channel, held within o0 to o7.
TEST_F(LanguageServerTest, InlayHintsTellTheOctaveAfterARunOfOctaveMarks) {
  client.initialize();
  diagnose("ch1{\"o4 c >> d < e\" \"<<<\"}\nch2{\"> c\" \"<<<<<< d\"}\nch1{\">c\"}");
  auto octaves = [&](int firstLine, int lastLine) { return inlayHints(firstLine, lastLine, "‹o"); };
  EXPECT_EQ(octaves(0, 2), (std::vector<std::string>{
                               R"({"character":12,"line":0} ‹o6›)",
                               R"({"character":16,"line":0} ‹o5›)",
                               R"({"character":24,"line":0} ‹o2›)",
                               R"({"character":6,"line":1} ‹o5›)",
                               R"({"character":17,"line":1} ‹o0›)",
                               R"({"character":6,"line":2} ‹o3›)",
                           }));
  EXPECT_EQ(octaves(1, 1).size(), 2u);
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

// Random one-character edits, each followed by a delta from the last result: the tokens the
// client builds from the edits are always the whole score's tokens, and an edit of one line
// sends a few tokens, not the score's. A result id the server no longer holds gets all tokens.
TEST_F(LanguageServerTest, SemanticTokenDeltasKeepTheClientsTokensWhole) {
  client.initialize();
  std::string score;
  for (int i = 0; i < 50; ++i) score += "ch1{\"t120 l8 c d e\"} // line\n";
  diagnose(score);
  json full =
      client.request("textDocument/semanticTokens/full", {{"textDocument", doc()}})["result"];
  std::vector<int64_t> tokens = full["data"].get<std::vector<int64_t>>();
  std::string resultId = full["resultId"];
  const std::string typed = "c\" /{}x";
  unsigned seed = 17;
  auto next = [&seed](unsigned bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % bound;
  };
  for (int version = 2; version < 40; ++version) {
    const int line = static_cast<int>(next(50));
    const int character = static_cast<int>(next(24));
    SCOPED_TRACE(testing::Message() << "edit at " << line << ":" << character);
    client.send(change(URI, version,
                       {{{"range", {{"start", at(line, character)}, {"end", at(line, character)}}},
                         {"text", std::string(1, typed[next(typed.size())])}}}));
    const json delta =
        client.request("textDocument/semanticTokens/full/delta",
                       {{"textDocument", doc()}, {"previousResultId", resultId}})["result"];
    ASSERT_TRUE(delta.contains("edits")) << delta.dump().substr(0, 200);
    resultId = delta["resultId"];
    size_t sent = 0;
    for (const json& edit : delta["edits"]) {
      const auto start = tokens.begin() + edit["start"].get<ptrdiff_t>();
      tokens.erase(start, start + edit["deleteCount"].get<ptrdiff_t>());
      const std::vector<int64_t> inserted = edit["data"].get<std::vector<int64_t>>();
      tokens.insert(tokens.begin() + edit["start"].get<ptrdiff_t>(), inserted.begin(),
                    inserted.end());
      sent += inserted.size();
    }
    const json whole = client.request(
        "textDocument/semanticTokens/range",
        {{"textDocument", doc()}, {"range", {{"start", at(0, 0)}, {"end", at(60, 0)}}}})["result"];
    ASSERT_EQ(tokens, whole["data"].get<std::vector<int64_t>>());
    EXPECT_LT(sent, tokens.size() / 4);
  }
  const json stale = client.request("textDocument/semanticTokens/full/delta",
                                    {{"textDocument", doc()}, {"previousResultId", "1"}})["result"];
  EXPECT_EQ(stale["data"].get<std::vector<int64_t>>(), tokens);
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

// What a client keeps of a completion list: the items whose filter text starts with what stands
// between the start of their edit and the point, the word the client filters by. Without an
// edit, as Neovim 0.7 does, the letters and digits before the point.
std::vector<std::string> keptByTheClient(const json& items, const std::string& line,
                                         int character) {
  std::vector<std::string> kept;
  for (const json& item : items) {
    size_t start = static_cast<size_t>(character);
    if (item.contains("textEdit")) {
      start = item["textEdit"]["range"]["start"]["character"].get<size_t>();
    } else {
      while (start > 0 && std::isalnum(static_cast<unsigned char>(line[start - 1]))) --start;
    }
    const std::string typed = line.substr(start, static_cast<size_t>(character) - start);
    const std::string filter = item.value("filterText", item["label"].get<std::string>());
    if (filter.starts_with(typed)) kept.push_back(item["label"]);
  }
  return kept;
}

bool holds(const std::vector<std::string>& list, const std::string& wanted) {
  return std::find(list.begin(), list.end(), wanted) != list.end();
}

// After "t120", inside "cdefgab" and in a half-typed keyword the client keeps what fits, and
// accepting an item leaves the typed word and the item's text.
TEST_F(LanguageServerTest, CompletionSurvivesTheClientsFilter) {
  client.initialize();
  const std::string line0 = "ch1{\"t120 cdefgab\"}";
  const std::string line1 = "c";
  diagnose(line0 + "\n" + line1);
  auto complete = [&](int line, int character) {
    return client.request("textDocument/completion",
                          {{"textDocument", doc()}, {"position", at(line, character)}})["result"];
  };
  const json afterTempo = complete(0, 9);
  const std::vector<std::string> kept = keptByTheClient(afterTempo, line0, 9);
  EXPECT_TRUE(holds(kept, "c") && holds(kept, "t") && holds(kept, "@")) << afterTempo.dump();
  for (const json& item : afterTempo) {
    if (item["label"] != "c") continue;
    EXPECT_EQ(item["textEdit"],
              json({{"range", {{"start", at(0, 5)}, {"end", at(0, 9)}}}, {"newText", "t120c"}}));
  }
  EXPECT_TRUE(holds(keptByTheClient(complete(0, 13), line0, 13), "r"));
  const std::vector<std::string> keywords = keptByTheClient(complete(1, 1), line1, 1);
  EXPECT_TRUE(holds(keywords, "ch9") && holds(keywords, "cr"));
  EXPECT_FALSE(holds(keywords, "op") || holds(keywords, "sn"));
}

// The programs after @ and, on ch9, the drum sounds after n, named in the client's language;
// n on another channel is only a note number.
TEST_F(LanguageServerTest, CompletionNamesProgramsAndDrumSounds) {
  client.initialize({{"language", "ja"}});
  diagnose("ch1{\"@4 n1\"}\nch9{\"n1\"}");
  auto complete = [&](int line, int character) {
    return client.request("textDocument/completion",
                          {{"textDocument", doc()}, {"position", at(line, character)}})["result"];
  };
  const json programs = complete(0, 7);
  ASSERT_EQ(programs.size(), 128u);
  EXPECT_EQ(programs[40]["label"], "40 バイオリン");
  EXPECT_EQ(programs[40]["textEdit"],
            json({{"range", {{"start", at(0, 6)}, {"end", at(0, 7)}}}, {"newText", "40"}}));
  EXPECT_EQ(keptByTheClient(programs, "ch1{\"@4 n1\"}", 7).size(), 11u);  // 4, 40..49
  const json drums = complete(1, 7);
  ASSERT_EQ(drums.size(), 47u);
  EXPECT_EQ(drums[1]["label"], "13 バスドラム 1");
  EXPECT_EQ(drums[1]["detail"], "C2");
  for (const json& item : complete(0, 10)) EXPECT_EQ(item["label"].get<std::string>().size(), 1u);
}

// op, cr and sn are snippets with the point inside their parentheses or quotes for a client
// that takes snippets, and plain text for one that does not.
TEST_F(LanguageServerTest, HeaderCommandsCompleteAsSnippetsWhereTheClientTakesThem) {
  auto headerItems = [](LspClient& c) {
    std::map<std::string, json> found;
    const json items = c.request("textDocument/completion",
                                 {{"textDocument", doc()}, {"position", at(0, 0)}})["result"];
    for (const json& item : items)
      if (item["label"] == "op" || item["label"] == "cr") found[item["label"]] = item;
    return found;
  };
  client.initialize();
  client.open(URI, "");
  auto plain = headerItems(client);
  EXPECT_EQ(plain["op"]["textEdit"]["newText"], "op()");
  EXPECT_EQ(plain["cr"]["textEdit"]["newText"], "cr(\"\")");
  EXPECT_FALSE(plain["op"].contains("insertTextFormat"));

  LspClient snippets;
  snippets.request(
      "initialize",
      {{"capabilities",
        {{"textDocument", {{"completion", {{"completionItem", {{"snippetSupport", true}}}}}}}}}});
  snippets.notify("initialized", json::object());
  snippets.open(URI, "");
  auto withSnippets = headerItems(snippets);
  EXPECT_EQ(withSnippets["op"]["textEdit"]["newText"], "op($1)");
  EXPECT_EQ(withSnippets["cr"]["textEdit"]["newText"], "cr(\"$1\")");
  EXPECT_EQ(withSnippets["op"]["insertTextFormat"], 2);
  EXPECT_EQ(withSnippets["op"]["filterText"], "op()");
}

// Inside a numbered command's number: what it is and its values, with the sound of a program or
// a drum key typed so far; nothing outside a number.
TEST_F(LanguageServerTest, SignatureHelpTellsANumberedCommandsValues) {
  client.initialize();
  diagnose("ch1{\"v1 c @40 l\"}\nch9{\"n13\"}");
  EXPECT_EQ(signatureLabel(0, 7), "v volume 0–16");
  EXPECT_EQ(signatureLabel(0, 9), "(none)");  // after the note c
  EXPECT_EQ(signatureLabel(0, 13), "@ program 0–127 — 40 Violin");
  EXPECT_EQ(signatureLabel(0, 15), "l length 1, 2, 4, 8, 16, 32, 64, 128 (dotted: all but 128)");
  EXPECT_EQ(signatureLabel(1, 8), "n note number 0–96 — 13 Bass Drum 1");
  const json help = signatureHelp(0, 7);
  EXPECT_EQ(help["signatures"][0]["parameters"][0]["label"], "0–16");
}

// The value a number replaces is the channel's last one before it, also while the compiler
// stops at an error after the point (here the @ without its number).
TEST_F(LanguageServerTest, SignatureHelpTellsTheValueTheNumberReplaces) {
  client.initialize();
  diagnose("ch1{\"v12 @40 q6 c\" \"v1 @ q\"}\nch2{\"v\"}");
  EXPECT_EQ(signatureLabel(0, 22), "v volume 0–16, now 12");
  EXPECT_EQ(signatureLabel(0, 24), "@ program 0–127, now 40 Violin");
  EXPECT_EQ(signatureLabel(0, 26), "q gate 1–8, now 6");
  EXPECT_EQ(signatureLabel(0, 6), "v volume 0–16");  // nothing before it
  EXPECT_EQ(signatureLabel(1, 6), "v volume 0–16");  // another channel's values are not its own
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

// The code action and the code lens each carry the command with its document, in the texts'
// language; run as a client runs them, they write the file tarvk32c writes.
TEST_F(LanguageServerTest, CodeActionAndCodeLensMakeTheMidiFileOfTheirScore) {
  const std::string score = "cr(\"x\")\nch1{\"t100 l8 c d e & e\"}\nch9{\"v8 c r c\"}\n";
  const std::string uri = "file://" + writeFile("song.fms", score);
  writeFile("console.fms", score);
  client.initialize({{"language", "ja"}});
  client.open(uri, score);
  const json actions = client.request("textDocument/codeAction",
                                      {{"textDocument", doc(uri)},
                                       {"range", {{"start", at(1, 3)}, {"end", at(1, 3)}}},
                                       {"context", {{"diagnostics", json::array()}}}})["result"];
  ASSERT_EQ(actions.size(), 1u) << actions.dump();
  EXPECT_EQ(actions[0]["title"], "MIDI ファイルを作る");
  const json lenses =
      client.request("textDocument/codeLens", {{"textDocument", doc(uri)}})["result"];
  ASSERT_EQ(lenses.size(), 1u);
  EXPECT_EQ(lenses[0]["range"]["start"], at(0, 0));
  EXPECT_EQ(lenses[0]["command"], actions[0]["command"]);
  const json& command = actions[0]["command"];
  EXPECT_EQ(client.request("workspace/executeCommand",
                           {{"command", command["command"]},
                            {"arguments", command["arguments"]}})["result"]["exitStatus"],
            0);
  const std::string console =
      "cd " + dir_.string() + " && " TARVK32C_PATH " console.fms >/dev/null";
  ASSERT_EQ(std::system(console.c_str()), 0);
  EXPECT_EQ(read(dir_ / "song.mid"), read(dir_ / "console.mid"));
  // A client that asks only for quick fixes gets none of them.
  EXPECT_TRUE(client
                  .request("textDocument/codeAction",
                           {{"textDocument", doc(uri)},
                            {"range", {{"start", at(0, 0)}, {"end", at(0, 0)}}},
                            {"context",
                             {{"diagnostics", json::array()}, {"only", {"quickfix"}}}}})["result"]
                  .empty());
}

// Each error with a known fix: the quick fix at the diagnostic, its edit applied through a change,
// gives the fixed score, which compiles past the fixed command (here: cleanly, or with the next
// error behind it). Positions in UTF-8 bytes, so that the edits apply to the test's strings.
TEST_F(LanguageServerTest, QuickFixesMakeTheScoreCompilePastTheirError) {
  struct Case {
    std::string score;
    int code;
    std::string title;
    std::string fixed;
  };
  const std::string text63 = std::string(60, 'x') + "abc";
  const std::string text127 = std::string(127, 'y');
  const std::vector<Case> cases = {
      {"ch1{\"c v22 d\"}", 16, "Change v22 to v16", "ch1{\"c v16 d\"}"},
      {"ch1{\"c T300 d\"}", 17, "Change T300 to T250", "ch1{\"c T250 d\"}"},
      {"ch1{\"t5 c\"}", 17, "Change t5 to t10", "ch1{\"t10 c\"}"},
      {"ch1{\"@128 c\"}", 15, "Change @128 to @127", "ch1{\"@127 c\"}"},
      {"ch1{\"o8c\"}", 13, "Change o8 to o7", "ch1{\"o7c\"}"},
      {"ch1{\"n97\"}", 12, "Change n97 to n96", "ch1{\"n96\"}"},
      {"ch1{\"q0 c\"}", 19, "Change q0 to q1", "ch1{\"q1 c\"}"},
      {"ch1{\"q9 c\"}", 19, "Change q9 to q8", "ch1{\"q8 c\"}"},
      {"ch1{\"$999 c\"}", 21, "Change $999 to $127", "ch1{\"$127 c\"}"},
      {"ch1{\"c#:0 d\"}", 18, "Change c#:0 to c#:1", "ch1{\"c#:1 d\"}"},
      {"ch1{\"d:300\"}", 18, "Change d:300 to d:255", "ch1{\"d:255\"}"},
      {"ch1{\"c&&&d\"}", 10, "Change && to &", "ch1{\"c&d\"}"},
      {"ch1{\"c\"}\nop(q7def, \n\n", 22, "Add the missing ')'", "ch1{\"c\"}\nop(q7def,) \n\n"},
      {"ch1{\"c\"}\ncr(\"me\"", 24, "Add the missing ')'", "ch1{\"c\"}\ncr(\"me\")"},
      {"sn(\n\"a\"\"b\"  \n", 26, "Add the missing ')'", "sn(\n\"a\"\"b\")  \n"},
      {"cr(\"" + text63 + "defg\")\nch1{\"c\"}", 25, "Cut the text to 63 bytes",
       "cr(\"" + text63 + "\")\nch1{\"c\"}"},
      {"cr(\"" + text63 + "def\" \"gh\")", 25, "Cut the text to 63 bytes",
       "cr(\"" + text63 + "\")"},
      // あ is three bytes of UTF-8 across the limit: it goes whole.
      {"cr(\"" + std::string(62, 'x') + "あい\")", 25, "Cut the text to 63 bytes",
       "cr(\"" + std::string(62, 'x') + "\")"},
      {"sn(\"" + text127 + "zz\")", 27, "Cut the text to 127 bytes", "sn(\"" + text127 + "\")"},
      {"op(autolt)\nch1{\"c\"}", 23, "Change autolt to autolr", "op(autolr)\nch1{\"c\"}"},
      {"op(Q7DEF, Q8Deff )", 23, "Change Q8Deff to q8def", "op(Q7DEF, q8def )"},
      {"op(manualr)", 23, "Change manualr to manulr", "op(manulr)"},
      // A word longer than the compiler reads goes whole.
      {"op(" + std::string(25, 'q') + "7def)", 23,
       "Change " + std::string(25, 'q') + "7def to q7def", "op(q7def)"},
      // The next error stands behind the fixed command.
      {"ch1{\"t300 x\"}", 17, "Change t300 to t250", "ch1{\"t250 x\"}"},
  };
  client.initialize(json::object(), true);
  int version = 1;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.score);
    const std::string uri = "file:///nonexistent/fix" + std::to_string(i) + ".fms";
    client.open(uri, c.score);
    const auto published = client.diagnosticsFor(uri);
    ASSERT_TRUE(published);
    const json diagnostics = (*published)["params"]["diagnostics"];
    ASSERT_EQ(diagnostics.size(), 1u) << diagnostics.dump();
    ASSERT_EQ(diagnostics[0]["code"], c.code);
    const json actions = quickFixes(uri, diagnostics);
    ASSERT_EQ(actions.size(), 1u) << actions.dump();
    EXPECT_EQ(actions[0]["title"], c.title);
    EXPECT_EQ(actions[0]["kind"], "quickfix");
    EXPECT_EQ(actions[0]["diagnostics"], diagnostics);
    const json edits = actions[0]["edit"]["changes"][uri];
    ASSERT_EQ(edits.size(), 1u);
    const json& edit = edits[0];
    // Apply the edit to the test's copy of the text (lines split at LF, UTF-8 columns).
    std::vector<size_t> lineStarts = {0};
    for (size_t at = 0; at < c.score.size(); ++at)
      if (c.score[at] == '\n') lineStarts.push_back(at + 1);
    auto offset = [&](const json& p) {
      return lineStarts[p["line"].get<size_t>()] + p["character"].get<size_t>();
    };
    const size_t from = offset(edit["range"]["start"]);
    std::string fixed = c.score;
    fixed.replace(from, offset(edit["range"]["end"]) - from, edit["newText"].get<std::string>());
    EXPECT_EQ(fixed, c.fixed);
    client.send(change(uri, ++version, {{{"range", edit["range"]}, {"text", edit["newText"]}}}));
    const auto republished = client.diagnosticsFor(uri);
    ASSERT_TRUE(republished);
    const json after = (*republished)["params"]["diagnostics"];
    for (const json& d : after) {
      EXPECT_NE(d["code"], c.code) << after.dump();
      const json& start = d["range"]["start"];
      EXPECT_TRUE(
          start["line"] > edit["range"]["end"]["line"] ||
          (start["line"] == edit["range"]["end"]["line"] &&
           start["character"].get<size_t>() >= edit["range"]["start"]["character"].get<size_t>() +
                                                   edit["newText"].get<std::string>().size()))
          << after.dump();
    }
    if (i + 1 < cases.size()) {
      EXPECT_TRUE(after.empty()) << after.dump();
    }
  }
}

// In a code page 932 score a character the code page cannot hold is replaced by the one the
// converter writes for it, or removed when there is none; either way the diagnostic goes.
TEST_F(LanguageServerTest, QuickFixesMakeACp932ScoreHoldItsCharacters) {
  const std::string cp932 = writeFile("cp932.fms", "// \x82\xA0\r\nch1{\"c\"}\r\n");
  const std::string uri = "file://" + cp932;
  client.initialize(json::object(), true);
  const struct {
    std::string score;
    std::string title;
    std::string fixed;
  } cases[] = {
      {"// 波\xE3\x80\x9C\nch1{\"c\"}\n", "Replace \xE3\x80\x9C with \xEF\xBD\x9E",
       "// 波\xEF\xBD\x9E\nch1{\"c\"}\n"},
      {"ch1{\"c\"} // a😀b\n", "Remove 😀", "ch1{\"c\"} // ab\n"},
  };
  int version = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.score);
    if (version == 0) {
      client.open(uri, c.score, ++version);
    } else {
      client.send(change(uri, ++version, {{{"text", c.score}}}));
    }
    const auto published = client.diagnosticsFor(uri);
    ASSERT_TRUE(published);
    const json diagnostics = (*published)["params"]["diagnostics"];
    ASSERT_EQ(diagnostics.size(), 1u) << diagnostics.dump();
    const json actions = quickFixes(uri, diagnostics);
    ASSERT_EQ(actions.size(), 1u) << actions.dump();
    EXPECT_EQ(actions[0]["title"], c.title);
    const json edit = actions[0]["edit"]["changes"][uri][0];
    const size_t line = edit["range"]["start"]["line"];
    ASSERT_EQ(edit["range"]["end"]["line"], line);
    size_t lineStart = 0;
    for (size_t k = 0; k < line; ++k) lineStart = c.score.find('\n', lineStart) + 1;
    std::string fixed = c.score;
    const size_t from = lineStart + edit["range"]["start"]["character"].get<size_t>();
    fixed.replace(from, lineStart + edit["range"]["end"]["character"].get<size_t>() - from,
                  edit["newText"].get<std::string>());
    EXPECT_EQ(fixed, c.fixed);
    client.send(change(uri, ++version, {{{"range", edit["range"]}, {"text", edit["newText"]}}}));
    const auto republished = client.diagnosticsFor(uri);
    ASSERT_TRUE(republished);
    EXPECT_TRUE((*republished)["params"]["diagnostics"].empty())
        << (*republished)["params"]["diagnostics"].dump();
  }
}

// The titles speak the server's language; an error no edit fixes (an unknown command, a value
// with no number to bring in range) offers the make-MIDI command only, and the fixes are offered
// only where the range asked about meets the diagnostic.
TEST_F(LanguageServerTest, QuickFixesInJapaneseAndOnlyWhereTheyApply) {
  client.initialize({{"language", "ja"}});
  auto actionsAt = [&](const std::string& score, int line, int character) {
    client.open(URI, score);
    client.diagnosticsFor(URI);
    const json actions =
        client.request("textDocument/codeAction",
                       {{"textDocument", doc()},
                        {"range", {{"start", at(line, character)}, {"end", at(line, character)}}},
                        {"context", {{"diagnostics", json::array()}}}})["result"];
    json titles = json::array();
    for (const json& action : actions) titles.push_back(action["title"]);
    return titles;
  };
  EXPECT_EQ(actionsAt("ch1{\"c v22\"}", 0, 7), json({"v22 を v16 に直す", "MIDI ファイルを作る"}));
  EXPECT_EQ(actionsAt("ch1{\"c v22\"}", 0, 2), json({"MIDI ファイルを作る"}));
  EXPECT_EQ(actionsAt("ch1{\"c&&\"}", 0, 6), json({"&& を & に直す", "MIDI ファイルを作る"}));
  EXPECT_EQ(actionsAt("cr(\"a\"", 0, 0), json({"足りない ')' を補う", "MIDI ファイルを作る"}));
  EXPECT_EQ(actionsAt("sn(\"" + std::string(130, 'y') + "\")", 0, 131),
            json({"文字列を 127 Byte に切り詰める", "MIDI ファイルを作る"}));
  EXPECT_EQ(actionsAt("ch1{\"c x\"}", 0, 7), json({"MIDI ファイルを作る"}));
  EXPECT_EQ(actionsAt("ch1{\"c v\"}", 0, 7), json({"MIDI ファイルを作る"}));
}

// The command compiles the file on disk only while it holds the text the editor shows: other
// notes are refused with a word to save first; other line ends, a byte-order mark or code page
// 932 for the editor's UTF-8 are the same text (compiled, whatever tarvk32c then makes of it).
TEST_F(LanguageServerTest, MakeMidiRefusesAFileThatDiffersFromTheEditorsText) {
  client.initialize();
  const std::string path = writeFile("edited.fms", "ch1{\"c d\"}\n");
  client.open("file://" + path, "ch1{\"c d e\"}\n");
  const auto [result, message] = makeMidi(path);
  EXPECT_EQ(result["exitStatus"], 1);
  EXPECT_EQ(message, "The MIDI file was not written: " + path +
                         " on disk differs from the text in the editor: save it first");
  EXPECT_FALSE(fs::exists(dir_ / "edited.mid"));

  struct Saved {
    const char* name;
    std::string bytes;
    std::string editorText;
  };
  const std::vector<Saved> same = {
      {"crlf.fms", "ch1{\"c\"}\r\nch2{\"d\"}\r\n", "ch1{\"c\"}\nch2{\"d\"}\n"},
      {"bom.fms",
       "\xEF\xBB\xBF"
       "ch1{\"c\"} // \xC3\xA9\n",
       "ch1{\"c\"} // \xC3\xA9\n"},
      {"sjis.fms", "ch1{\"c\"} // \x82\xA0\n", "ch1{\"c\"} // \xE3\x81\x82\n"},
  };
  for (const Saved& saved : same) {
    SCOPED_TRACE(saved.name);
    const std::string file = writeFile(saved.name, saved.bytes);
    client.open("file://" + file, saved.editorText);
    EXPECT_EQ(makeMidi(file).second.find("differs"), std::string::npos);
  }
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

// Where the MIDI file cannot be put (its name is a folder), the message gives tarvk32c's reason.
TEST_F(LanguageServerTest, MakeMidiTellsWhyTheMidiFileCouldNotBeWritten) {
  const std::string path = writeFile("song.fms", "ch1{\"c d e\"}\n");
  fs::create_directory(dir_ / "song.mid");
  client.initialize();
  const auto [result, message] = makeMidi(path);
  EXPECT_NE(result["exitStatus"], 0);
  EXPECT_EQ(message, "The MIDI file was not written: " + (dir_ / "song.mid").string() +
                         " could not be written (is a folder)");
  EXPECT_TRUE(fs::is_directory(dir_ / "song.mid"));
}

// A named pipe (its open would block) and a device: refused before anything reads them, and
// the server goes on.
TEST_F(LanguageServerTest, MakeMidiRefusesWhatIsNotARegularFile) {
  const std::string pipe = (dir_ / "pipe.fms").string();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  client.initialize();
  for (const std::string& path : {pipe, std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    const auto [result, message] = makeMidi(path);
    EXPECT_EQ(result["exitStatus"], 1);
    EXPECT_EQ(message, "The MIDI file was not written: " + path + " is not a regular file");
  }
  EXPECT_FALSE(fs::exists(dir_ / "pipe.mid"));
  EXPECT_TRUE(client.request("shutdown", nullptr).contains("result"));
  LspClient japanese;
  japanese.initialize({{"language", "ja"}});
  japanese.request("workspace/executeCommand",
                   {{"command", "tarvik.makeMidi"}, {"arguments", {"file://" + pipe}}});
  const auto message =
      japanese.next([](const json& m) { return m.value("method", "") == "window/showMessage"; });
  ASSERT_TRUE(message);
  EXPECT_EQ((*message)["params"]["message"],
            "MIDI ファイルは書き出されませんでした: " + pipe + " は通常のファイルではありません");
}

// A score named song.mid would be overwritten by its own MIDI file: refused, the score intact.
TEST_F(LanguageServerTest, MakeMidiNeverOverwritesTheScoreWithItsOutput) {
  const std::string score = "ch1{\"c d e\"}\n";
  const std::string path = writeFile("song.mid", score);
  client.initialize({{"language", "ja"}});
  const auto [result, message] = makeMidi(path);
  EXPECT_EQ(result["exitStatus"], 1);
  EXPECT_EQ(message, "MIDI ファイルは書き出されませんでした: 出力先 " + path +
                         " はスコア自身のファイルです");
  EXPECT_EQ(read(path), score);
}

// A failure is told by the error's text and line number. tarvk32c's console text, which quotes
// the failing line, goes back only for a score the client has open (and so holds already).
TEST_F(LanguageServerTest, MakeMidiOnAFileThatIsNoScoreDoesNotEchoItsLines) {
  const std::string path = writeFile("notes.txt", "private: a line of someone's file\n");
  client.initialize();
  const auto [result, message] = makeMidi(path);
  EXPECT_EQ(result["exitStatus"], 1);
  EXPECT_EQ(message, "The MIDI file was not written: line 1: It isn't possible to decipher.");
  EXPECT_FALSE(result.contains("console"));
  client.open("file://" + path, "private: a line of someone's file\n");
  EXPECT_NE(makeMidi(path).first["console"].get<std::string>().find("private"), std::string::npos);
}

}  // namespace
