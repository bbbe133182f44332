// The page's words in English and Japanese, chosen by the browser's language; the menu words
// are the desktop editor's.
const TEXTS = {
  en: {
    open: "Open...",
    saveScore: "Save as",
    saveMidi: "Make MIDI file",
    play: "Compile and play",
    stop: "Stop",
    playFromCursor: "Play from cursor",
    share: "Share link",
    checking: "Checking...",
    clean: "No errors",
    ready: "Ready",
    notMidi: "This file could not be imported",
    tooLarge: "The file is too large (limit %1 bytes)",
    brokenLink: "The shared link is broken or cut short; the score was not opened",
    imported: "Imported %1 notes",
    linkCopied: "The link is in the address bar",
    soundfont: "Sound: TimGM6mb SoundFont (GNU GPL version 2), played by FluidSynth",
    loadingSound: "Loading the sound...",
  },
  ja: {
    open: "開く...",
    saveScore: "名前をつけて保存",
    saveMidi: "midi ファイル作成",
    play: "ｺﾝﾊﾟｲﾙ後再生",
    stop: "停止",
    playFromCursor: "カーソル位置から再生",
    share: "共有リンク",
    checking: "チェック中...",
    clean: "エラーはありません",
    ready: "準備完了",
    notMidi: "このファイルは取り込めません",
    tooLarge: "ファイルが大きすぎます（上限 %1 バイト）",
    brokenLink: "共有リンクが壊れているか途中で切れています。楽譜は開いていません",
    imported: "%1 個の音符を取り込みました",
    linkCopied: "リンクをアドレスバーに入れました",
    soundfont: "音源: TimGM6mb SoundFont（GNU GPL 第2版）、FluidSynth で演奏",
    loadingSound: "音源を読み込み中...",
  },
};

export const language = (navigator.language || "en").toLowerCase().startsWith("ja") ? "ja" : "en";

export function text(key, ...values) {
  let t = TEXTS[language][key] ?? TEXTS.en[key];
  values.forEach((v, i) => (t = t.replace(`%${i + 1}`, String(v))));
  return t;
}
