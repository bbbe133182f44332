// window.tarvik: the compiler's core for the page and for other pages that embed it. Every call
// goes to the worker and returns a promise.
//   compile(text, {encoding, caret}) -> { mid: Uint8Array | null, diagnostic, code, messages,
//                                notes, start }; with caret [line, column] (0-based, UTF-16
//                                columns) `start` is where playback from there starts, {tick, ms},
//                                or null (the caret outside every channel block)
//   compileBytes(bytes)        -> the same for a score file's bytes as they are
//   openScore(bytes)           -> { text, encoding } of a score file's bytes
//   importMidi(bytes)          -> { score, report, ok, error, notes, scoreBytes }
//   highlight(text, first, count) -> [[line, from, to, kind], ...]
// `encoding` is "cp932" (the default, as the desktop programs save) or "utf8".
export const ENCODINGS = { cp932: 0, utf8: 1 };

export function createTarvik(workerUrl) {
  const worker = new Worker(workerUrl);
  const pending = new Map();
  let nextId = 1;
  worker.onmessage = (event) => {
    const { id, value, error, ms } = event.data;
    const request = pending.get(id);
    pending.delete(id);
    if (error !== undefined) request.reject(new Error(error));
    else request.resolve(value);
    tarvik.lastCoreMs = ms;
  };
  function call(kind, args) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      pending.set(id, { resolve, reject });
      worker.postMessage({ id, kind, args });
    });
  }
  const encodingOf = (options) => ENCODINGS[(options && options.encoding) || "cp932"] ?? 0;
  const tarvik = {
    lastCoreMs: 0,
    compile: (text, options) =>
      call("compile", { text, encoding: encodingOf(options), caret: options && options.caret }),
    compileBytes: (bytes) => call("compileBytes", { bytes }),
    openScore: (bytes) => call("openScore", { bytes }),
    scoreFile: (text, options) => call("scoreFile", { text, encoding: encodingOf(options) }),
    highlight: (text, first, count, options) =>
      call("highlight", { text, first, count, encoding: encodingOf(options) }),
    importMidi: async (bytes, options) => {
      const r = await call("importMidi", {
        bytes,
        encoding: encodingOf(options),
        japanese: !!(options && options.japanese),
      });
      return {
        score: r.text,
        report: r.report,
        ok: r.ok,
        error: r.error,
        notes: r.notes,
        scoreBytes: r.scoreBytes,
      };
    },
  };
  return tarvik;
}
