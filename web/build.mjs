// Bundles the page into a folder any static server can serve: node build.mjs PAGE_DIR WASM_DIR
// (WASM_DIR holds tarvik-core.js and tarvik-core.wasm from Emscripten).
import * as esbuild from "esbuild";
import { copyFileSync, existsSync, readdirSync } from "node:fs";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";

const [page, wasm] = process.argv.slice(2);
if (!page || !wasm) {
  console.error("usage: node build.mjs PAGE_DIR WASM_DIR");
  process.exit(2);
}
const here = dirname(fileURLToPath(import.meta.url));

const common = { bundle: true, minify: true, sourcemap: true, target: "es2022", logLevel: "warning" };
await esbuild.build({
  ...common,
  entryPoints: [join(here, "src/main.js")],
  outfile: join(page, "app.js"),
  format: "esm",
});
// A classic worker: Emscripten's loader finds its .wasm beside the worker's own address.
await esbuild.build({
  ...common,
  entryPoints: [join(here, "src/worker.js")],
  outfile: join(page, "worker.js"),
  format: "iife",
  alias: { "tarvik-core": join(wasm, "tarvik-core.js") },
  define: { "import.meta.url": "self.location.href" },
});
copyFileSync(join(wasm, "tarvik-core.wasm"), join(page, "tarvik-core.wasm"));
for (const file of readdirSync(join(here, "static"))) copyFileSync(join(here, "static", file), join(page, file));
// The synthesizer engine, loaded by the page on the first play, with its licence.
const synth = join(here, "node_modules/js-synthesizer");
for (const file of ["externals/libfluidsynth-2.4.6.js", "externals/LICENSE.fluidsynth.txt", "dist/js-synthesizer.min.js"])
  copyFileSync(join(synth, file), join(page, file.split("/").pop()));
// The General MIDI SoundFont the desktop editor plays, from Debian's timgm6mb-soundfont, with
// its copyright file.
const soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
if (!existsSync(soundFont)) {
  console.error(`${soundFont} is missing: scripts/install-deps web installs it`);
  process.exit(1);
}
copyFileSync(soundFont, join(page, "TimGM6mb.sf2"));
copyFileSync("/usr/share/doc/timgm6mb-soundfont/copyright", join(page, "TimGM6mb-copyright.txt"));
