// The compiler's worker: loads the core in WebAssembly once and answers the page's requests
// one at a time, so a long compilation never stops the page.
import createTarvikCore from "tarvik-core";

const ready = createTarvikCore();
const encoder = new TextEncoder();

// Copies bytes into the core's memory for one call.
function withBytes(core, bytes, call) {
  const pointer = core._malloc(Math.max(bytes.length, 1));
  core.HEAPU8.set(bytes, pointer);
  try {
    return call(pointer, bytes.length);
  } finally {
    core._free(pointer);
  }
}

// Reads a result of the core's interface and frees it.
function takeResult(core, result) {
  try {
    const json = JSON.parse(core.UTF8ToString(core._tarv_result_json(result)));
    const at = core._tarv_result_bytes(result);
    const bytes = core.HEAPU8.slice(at, at + core._tarv_result_size(result));
    return { json, bytes };
  } finally {
    core._tarv_result_free(result);
  }
}

const requests = {
  compile(core, { text, encoding, caret }) {
    const [line, column] = caret || [-1, 0];
    const { json, bytes } = takeResult(
      core,
      withBytes(core, encoder.encode(text), (p, n) =>
        core._tarv_compile(p, n, encoding, line, column),
      ),
    );
    return { ...json, mid: json.code === 0 ? bytes : null };
  },
  compileBytes(core, { bytes }) {
    const r = takeResult(core, withBytes(core, bytes, (p, n) => core._tarv_compile_bytes(p, n)));
    return { ...r.json, mid: r.json.code === 0 ? r.bytes : null };
  },
  scoreFile(core, { text, encoding }) {
    return takeResult(
      core,
      withBytes(core, encoder.encode(text), (p, n) => core._tarv_score_file(p, n, encoding)),
    ).bytes;
  },
  openScore(core, { bytes }) {
    return takeResult(core, withBytes(core, bytes, (p, n) => core._tarv_open_score(p, n))).json;
  },
  highlight(core, { text, encoding, first, count }) {
    return takeResult(
      core,
      withBytes(core, encoder.encode(text), (p, n) =>
        core._tarv_highlight(p, n, encoding, first, count),
      ),
    ).json.spans;
  },
  importMidi(core, { bytes, encoding, japanese }) {
    const { json, bytes: score } = takeResult(
      core,
      withBytes(core, bytes, (p, n) => core._tarv_import(p, n, encoding, japanese ? 1 : 0)),
    );
    return { ...json, scoreBytes: score };
  },
};

self.onmessage = async (event) => {
  const { id, kind, args } = event.data;
  try {
    const core = await ready;
    const started = performance.now();
    const value = requests[kind](core, args);
    self.postMessage({ id, value, ms: performance.now() - started });
  } catch (error) {
    self.postMessage({ id, error: String(error && error.message ? error.message : error) });
  }
};
