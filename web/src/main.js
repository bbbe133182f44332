// The page: the score editor, its check as you type, files in and out through the browser, the
// share link. The core runs in a worker (window.tarvik).
import { createTarvik } from "./tarvik.js";
import { ScoreEditor } from "./score_editor.js";
import { Player } from "./player.js";
import { PianoRoll } from "./piano_roll.js";
import { readFragment, shareFragment } from "./share_link.js";
import { text as t, language } from "./texts.js";

// The check waits for this pause in typing, as the desktop editor's does.
const CHECK_PAUSE_MS = 300;
// The largest score or MIDI file the page opens, as the desktop programs read.
const LOADABLE_FILE_BYTES = 16 * 1024 * 1024;

const DEFAULT_SCORE = 'ch1 { "t120 o4 l4 cdefgab>c" }\n';

const tarvik = createTarvik("worker.js");
window.tarvik = tarvik;

const page = {
  encoding: "cp932",
  name: "score",
  lastClean: null, // the last clean compilation: { text, mid, notes }
  checkTimer: 0,
  checks: 0,
};

const $ = (id) => document.getElementById(id);

function status(message, isError = false) {
  $("status").textContent = message;
  $("status").classList.toggle("error", isError);
}

// A message that stays until the next one: an import's report, a broken link.
function notice(message) {
  $("notice").textContent = message;
}

function download(bytes, name, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const a = document.createElement("a");
  a.href = url;
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

// The diagnostic worded in the page's language: the desktop editor's Japanese text, or the
// console's English one.
function worded(diagnostic) {
  if (!diagnostic) return null;
  const message = language === "ja" ? diagnostic.editorMessage : diagnostic.message.trim();
  return { ...diagnostic, message };
}

// Colours the lines in view (a 1 MB score has a million spans: only those on screen are asked).
async function colour(text) {
  const [first, count] = editor.visibleLines();
  const spans = await tarvik.highlight(text, first, count, { encoding: page.encoding });
  editor.showSpans(text, spans);
}

// Colours and checks the current text; the answer is shown only if the text is still the same.
async function check() {
  const text = editor.text();
  const started = performance.now();
  status(t("checking"));
  const [, result] = await Promise.all([
    colour(text),
    tarvik.compile(text, { encoding: page.encoding }),
  ]);
  const diagnostic = worded(result.diagnostic);
  editor.showDiagnostic(text, diagnostic);
  if (text !== editor.text()) return;
  if (result.code === 0) {
    page.lastClean = { text, mid: result.mid, notes: result.notes };
    roll.setNotes(result.notes);
  }
  status(diagnostic ? diagnostic.message : t("clean"), !!diagnostic);
  page.checks += 1;
  document.body.dataset.checks = String(page.checks);
  document.body.dataset.checkMs = String(Math.round(performance.now() - started));
  document.body.dataset.clean = String(result.code === 0);
  if (!document.body.dataset.readyMs)
    document.body.dataset.readyMs = String(Math.round(performance.now()));
}

function scheduleCheck() {
  clearTimeout(page.checkTimer);
  page.checkTimer = setTimeout(() => check().catch((e) => status(String(e), true)), CHECK_PAUSE_MS);
}

async function saveMidi() {
  const result = await tarvik.compile(editor.text(), { encoding: page.encoding });
  if (result.code !== 0) {
    status(result.diagnostic ? worded(result.diagnostic).message : result.messages, true);
    return;
  }
  download(result.mid, `${page.name}.mid`, "audio/midi");
}

async function saveScore() {
  const bytes = await tarvik.scoreFile(editor.text(), { encoding: page.encoding });
  download(bytes, `${page.name}.fms`, "text/plain");
}

function baseName(fileName) {
  const dot = fileName.lastIndexOf(".");
  return dot > 0 ? fileName.slice(0, dot) : fileName;
}

async function openFile(file) {
  if (file.size > LOADABLE_FILE_BYTES) {
    status(t("tooLarge", LOADABLE_FILE_BYTES), true);
    return;
  }
  const bytes = new Uint8Array(await file.arrayBuffer());
  page.name = baseName(file.name);
  if (/\.(mid|midi|smf)$/i.test(file.name)) {
    const imported = await tarvik.importMidi(bytes, {
      encoding: page.encoding,
      japanese: language === "ja",
    });
    if (!imported.ok) {
      notice(`${t("notMidi")}: ${imported.error}`);
      return;
    }
    editor.setText(imported.score);
    notice(imported.report.join("\n"));
    status(t("imported", imported.notes));
    return;
  }
  const opened = await tarvik.openScore(bytes);
  page.encoding = opened.encoding;
  editor.setText(opened.text);
}

const player = new Player();

// Note tuple fields (web/core/web_interface.cpp): channel, start ms, end ms, line, from, to, tick.
const [, START_MS, END_MS, LINE, FROM, TO] = [0, 1, 2, 3, 4, 5];

// Marks the commands the player sounds now, until its playback ends.
function follow(output, notes) {
  const ms = output.positionMs();
  roll.setPlayMs(ms);
  if (ms < 0) {
    editor.showSounding([]);
    return;
  }
  editor.showSounding(
    notes.filter((n) => n[START_MS] <= ms && ms < n[END_MS]).map((n) => [n[LINE], n[FROM], n[TO]]),
  );
  requestAnimationFrame(() => follow(output, notes));
}

// Compiles the text and plays it from the start or from the caret, where the desktop editor
// would start (the core's source map decides); `output` is the page's player unless a test
// renders offline.
async function play(fromCaret, output = player) {
  const caret = fromCaret ? editor.caret() : undefined;
  const result = await tarvik.compile(editor.text(), { encoding: page.encoding, caret });
  if (result.code !== 0) {
    status(worded(result.diagnostic)?.message ?? result.messages, true);
    return;
  }
  const start = fromCaret ? result.start : null;
  status(t("loadingSound"));
  await output.play(result.mid, start ? start.tick : 0, start ? start.ms : 0, () =>
    status(t("ready")),
  );
  status(t("play"));
  follow(output, result.notes);
}

// Play or play from the caret rendered into an OfflineAudioContext of `lengthS` seconds, for
// tests: the left channel, the file's time the play started at and the context's time in s at
// which the player holds that time sounds.
window.tarvikPlayOffline = async (fromCaret, lengthS, sampleRate) => {
  const context = new OfflineAudioContext(2, Math.ceil(lengthS * sampleRate), sampleRate);
  const offline = new Player(context);
  await play(fromCaret, offline);
  const rendered = await context.startRendering();
  const { startMs, startedAt } = offline;
  offline.stop();
  return { left: rendered.getChannelData(0), startMs, startedAt };
};

async function share() {
  location.hash = await shareFragment(editor.text(), page.encoding);
  status(t("linkCopied"));
}

async function textFromAddress() {
  const shared = await readFragment(location.hash);
  if (shared && shared.error) {
    notice(t("brokenLink"));
    return DEFAULT_SCORE;
  }
  if (shared) {
    page.encoding = shared.encoding;
    return shared.text;
  }
  return DEFAULT_SCORE;
}

function setUpToolbar() {
  for (const [id, key] of [
    ["open", "open"],
    ["save-score", "saveScore"],
    ["save-midi", "saveMidi"],
    ["share", "share"],
    ["play", "play"],
    ["play-cursor", "playFromCursor"],
    ["stop", "stop"],
  ])
    $(id).textContent = t(key);
  $("soundfont").textContent = t("soundfont");
  $("open").onclick = () => $("file").click();
  $("file").onchange = () => {
    const file = $("file").files[0];
    $("file").value = "";
    if (file) openFile(file).catch((e) => status(String(e), true));
  };
  $("save-score").onclick = () => saveScore().catch((e) => status(String(e), true));
  $("save-midi").onclick = () => saveMidi().catch((e) => status(String(e), true));
  $("share").onclick = () => share().catch((e) => status(String(e), true));
  $("play").onclick = () => play(false).catch((e) => status(String(e), true));
  $("play-cursor").onclick = () => play(true).catch((e) => status(String(e), true));
  $("stop").onclick = () => {
    player.stop();
    status(t("ready"));
  };
}

document.documentElement.lang = language;
setUpToolbar();
const editor = new ScoreEditor($("editor"), await textFromAddress(), scheduleCheck, () =>
  colour(editor.text()).catch((e) => status(String(e), true)),
);
window.scoreEditor = editor;
const roll = new PianoRoll($("roll"), (line, from, to) => editor.select(line, from, to));
window.pianoRoll = roll;
check().catch((e) => status(String(e), true));
