// Playback with FluidSynth's engine in the browser (js-synthesizer) and the General MIDI
// SoundFont the desktop editor plays, TimGM6mb. The engine and the SoundFont (6 MB) load on the
// first play, so the page is ready before them.
const ENGINE_SCRIPTS = ["libfluidsynth-2.4.6.js", "js-synthesizer.min.js"];
const SOUND_FONT = "TimGM6mb.sf2";
// Frames the engine renders at a time: about 90 ms at 44.1 kHz.
const RENDER_FRAMES = 4096;
// What an offline rendering adds behind the last note: the release of the sounds.
const RELEASE_TAIL_S = 1;

let engine = null;

function loadScript(src) {
  return new Promise((resolve, reject) => {
    const script = document.createElement("script");
    script.src = src;
    script.onload = resolve;
    script.onerror = () => reject(new Error(`${src} did not load`));
    document.head.append(script);
  });
}

// The engine and the SoundFont's bytes, loaded once.
function loadEngine() {
  if (!engine) {
    engine = (async () => {
      for (const src of ENGINE_SCRIPTS) await loadScript(src);
      await window.JSSynth.waitForReady();
      const response = await fetch(SOUND_FONT);
      if (!response.ok) throw new Error(`${SOUND_FONT}: ${response.status}`);
      return { JSSynth: window.JSSynth, soundFont: await response.arrayBuffer() };
    })();
    engine.catch(() => (engine = null));
  }
  return engine;
}

async function newSynthesizer(sampleRate, midi) {
  const { JSSynth, soundFont } = await loadEngine();
  const synth = new JSSynth.Synthesizer();
  synth.init(sampleRate);
  await synth.loadSFont(soundFont.slice(0));
  await synth.addSMFDataToPlayer(midi.slice().buffer);
  return synth;
}

// Plays one MIDI file at a time through the page's audio output.
export class Player {
  constructor() {
    this.context = null;
    this.synth = null;
    this.node = null;
    this.startedAt = 0; // the context's time at which the file's time `startMs` sounded
    this.startMs = 0;
  }

  get playing() {
    return this.synth !== null;
  }

  // The file's time now, in ms; -1 when nothing plays.
  positionMs() {
    if (!this.synth) return -1;
    return this.startMs + (this.context.currentTime - this.startedAt) * 1000;
  }

  // Plays `midi` from `startTick` (the time `startMs`); onEnd runs when the file has played.
  async play(midi, startTick, startMs, onEnd) {
    this.stop();
    this.context = this.context || new AudioContext();
    await this.context.resume();
    const synth = await newSynthesizer(this.context.sampleRate, midi);
    this.node = synth.createAudioNode(this.context, RENDER_FRAMES);
    this.node.connect(this.context.destination);
    if (startTick > 0) synth.seekPlayer(startTick);
    await synth.playPlayer();
    this.synth = synth;
    this.startedAt = this.context.currentTime;
    this.startMs = startMs;
    synth.waitForPlayerStopped().then(() => {
      if (this.synth === synth) {
        this.stop();
        onEnd();
      }
    });
  }

  stop() {
    if (!this.synth) return;
    this.synth.stopPlayer();
    this.node.disconnect();
    this.synth.close();
    this.synth = null;
    this.node = null;
  }
}

// The whole file rendered without an audio device, as an OfflineAudioContext would take it:
// the left channel's samples at `sampleRate`, `lengthS` seconds plus the release.
export async function renderOffline(midi, sampleRate, lengthS) {
  const synth = await newSynthesizer(sampleRate, midi);
  await synth.playPlayer();
  const total = Math.ceil((lengthS + RELEASE_TAIL_S) * sampleRate);
  const left = new Float32Array(total);
  const block = [new Float32Array(RENDER_FRAMES), new Float32Array(RENDER_FRAMES)];
  for (let at = 0; at < total; at += RENDER_FRAMES) {
    synth.render(block);
    left.set(block[0].subarray(0, Math.min(RENDER_FRAMES, total - at)), at);
  }
  synth.close();
  return left;
}
