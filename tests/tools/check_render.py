#!/usr/bin/python3
"""Compiles a score with tarvk32c, renders the .mid with FluidSynth and checks the audio.

Usage: check_render.py <tarvk32c> <render_midi> <soundfont> <demo score> <own score> <seconds>

The demo score is used when it exists, else the own score, whose length <seconds> (lead-in
included) is worked out by hand: then the length that mido reads from the file must match it
and the first note must start right after the lead-in bar.
Fails, naming the package, when the soundfont or mido is missing.
"""
import array
import os
import shutil
import subprocess
import sys
import tempfile

try:
    import mido
except ImportError:
    sys.exit("python3-mido is missing: run scripts/install-deps test")

RATE = 44100
LEAD_IN = 0.25  # 240 ticks at 120 beats per minute


def first_note_seconds(mid):
    now = 0.0
    for msg in mid:  # merged tracks, times in seconds
        now += msg.time
        if msg.type == "note_on" and msg.velocity > 0:
            return now
    return None


def main():
    if len(sys.argv) != 7:
        print(__doc__)
        return 2
    compiler, renderer, soundfont, demo, own = (os.path.abspath(a) for a in sys.argv[1:6])
    score, expected = (demo, None) if os.path.exists(demo) else (own, float(sys.argv[6]))
    print("score file: %s" % score)
    if not os.path.exists(soundfont):
        print("no soundfont at %s: run scripts/install-deps test (timgm6mb-soundfont)" % soundfont)
        return 1
    errors = []
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(score, work)
        name = os.path.basename(score)
        run = subprocess.run([compiler, name], cwd=work, stdout=subprocess.PIPE)
        if run.returncode != 0:
            print("tarvk32c exit status %d" % run.returncode)
            return 1
        mid_path = os.path.join(work, os.path.splitext(name)[0] + ".mid")
        mid = mido.MidiFile(mid_path)
        length = mid.length
        start = first_note_seconds(mid)
        print("score: %.4f s, first note at %s s" % (length, start))
        if start is None:
            print("the score has no notes")
            return 1
        if expected is not None:
            if abs(length - expected) > 1e-3:
                errors.append("mido length %.4f s, expected %.4f s" % (length, expected))
            if abs(start - LEAD_IN) > 1e-3:
                errors.append("first note at %.4f s, expected %.4f s" % (start, LEAD_IN))
        elif start < LEAD_IN - 1e-3:
            errors.append("first note at %.4f s, inside the lead-in bar" % start)

        raw_path = os.path.join(work, "out.raw")
        cap = length + 30
        render = subprocess.run([renderer, soundfont, mid_path, raw_path, "%.1f" % cap],
                                stdout=subprocess.PIPE, universal_newlines=True)
        print(render.stdout.strip())
        if render.returncode != 0:
            print("render_midi exit status %d (2: still playing at the %.1f s cap)" %
                  (render.returncode, cap))
            return 1
        samples = array.array("h")
        with open(raw_path, "rb") as f:
            samples.frombytes(f.read())

    frames = len(samples) // 2
    duration = frames / RATE
    peak = max((abs(s) for s in samples), default=0)
    # Above the renderer's dither, relative to the loudest sample.
    threshold = max(20, peak // 50)
    loud = [i // 2 for i, s in enumerate(samples) if abs(s) > threshold]
    print("audio: %.4f s, peak %d, threshold %d" % (duration, peak, threshold))
    if peak < 200 or not loud:
        errors.append("the audio is silent")
    else:
        onset, last = loud[0] / RATE, loud[-1] / RATE
        print("sound from %.4f s to %.4f s" % (onset, last))
        if not start - 0.005 <= onset <= start + 0.05:
            errors.append("sound begins at %.4f s, first note at %.4f s" % (onset, start))
        # The last notes ring until the end of the score, and nothing hangs on long after it.
        if not length - 0.5 <= last <= length + 2.5:
            errors.append("sound ends at %.4f s, score ends at %.4f s" % (last, length))
    if not length <= duration <= length + 5:
        errors.append("audio lasts %.4f s for a score of %.4f s" % (duration, length))
    for e in errors:
        print(e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
