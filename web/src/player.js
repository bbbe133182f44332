// Playback with FluidSynth's engine in the browser (js-synthesizer) and the General MIDI
// SoundFont the desktop editor plays, TimGM6mb. The engine and the SoundFont (6 MB) load on the
// first play, so the page is ready before them.
const ENGINE_SCRIPTS = ["libfluidsynth-2.4.6.js", "js-synthesizer.min.js"];
const SOUND_FONT = "TimGM6mb.sf2";
// Frames the engine renders at a time: about 90 ms at 44.1 kHz.
const RENDER_FRAMES = 4096;
// The script node's output reaches the context this many blocks after the context's time at
// which it was asked for (measured offline: 2 × 4096 frames behind); the play line waits for it.
const OUTPUT_DELAY_BLOCKS = 2;

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

// Plays one MIDI file at a time into an audio context: the one given (an OfflineAudioContext
// renders the play without a device), or else the page's output, opened on the first play.
export class Player {
  constructor(context = null) {
    this.context = context;
    this.synth = null;
    this.node = null;
    this.startedAt = 0; // the context's time at which the file's time `startMs` sounds
    this.startMs = 0;
  }

  get playing() {
    return this.synth !== null;
  }

  // The file's time sounding now, in ms; -1 when nothing plays.
  positionMs() {
    if (!this.synth) return -1;
    return this.startMs + Math.max(0, this.context.currentTime - this.startedAt) * 1000;
  }

  // Plays `midi` from `startTick` (the time `startMs`); onEnd runs when the file has played.
  async play(midi, startTick, startMs, onEnd) {
    this.stop();
    this.context = this.context || new AudioContext();
    // An offline context starts when asked to render, and refuses to be resumed before.
    if (this.context instanceof AudioContext) await this.context.resume();
    const synth = await newSynthesizer(this.context.sampleRate, midi);
    this.node = synth.createAudioNode(this.context, RENDER_FRAMES);
    this.node.connect(this.context.destination);
    if (startTick > 0) synth.seekPlayer(startTick);
    await synth.playPlayer();
    this.synth = synth;
    this.startedAt =
      this.context.currentTime + (OUTPUT_DELAY_BLOCKS * RENDER_FRAMES) / this.context.sampleRate;
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
