#!/usr/bin/python3
"""Writes MIDI files with mido, as another program would: format 0 and 1 at 96, 384 and 480
ticks a quarter. Each holds a melody with notes on the language's grid (1/32 of a quarter) and
some beside it, a three-note chord, a program, a pan, a tempo and a 3/4 time signature. One
more opens with a 1/8 pickup bar, one is a line played legato, and some hold tuplets at 96 to
1000 ticks a quarter, and one a tempo map of 50 changes.

Usage: write_other_files.py <directory>
"""
import os
import random
import sys

try:
    import mido
except ImportError:
    sys.exit("python3-mido is missing: run scripts/install-deps test")


def melody(tpq, rng):
    """(channel, key, on, off, velocity) in ticks; every fifth note starts or ends off the grid."""
    unit = tpq // 32 if tpq % 32 == 0 else None
    notes, tick = [], 0
    for i in range(24):
        length = rng.choice([tpq, tpq // 2, tpq // 4, tpq * 3 // 4, tpq * 2])
        on, off = tick, tick + length
        if i % 5 == 4 and unit and unit > 1:
            # beside the grid by less than half a unit, so the nearest point is the one it left
            shift = rng.randint(1, (unit - 1) // 2) if unit > 2 else 1
            if i % 2:
                on += shift
            else:
                off -= shift
        notes.append((0, rng.randint(48, 84), on, off, rng.choice([79, 95, 111, 63])))
        tick += length + rng.choice([0, 0, tpq // 4])
    chord_at = tick
    for key in (60, 64, 67):
        notes.append((1, key, chord_at, chord_at + tpq * 2, 100 if key == 64 else 87))
    return notes


def track_of(events):
    """Absolute (tick, order, message) to a delta-timed track."""
    track, last = mido.MidiTrack(), 0
    for tick, _, msg in sorted(events, key=lambda e: (e[0], e[1])):
        track.append(msg.copy(time=tick - last))
        last = tick
    return track


def write(path, tpq, fmt, seed):
    rng = random.Random(seed)
    notes = melody(tpq, rng)
    meta = [(0, 0, mido.MetaMessage("time_signature", numerator=3, denominator=4)),
            (0, 0, mido.MetaMessage("set_tempo", tempo=600000)),
            (tpq * 6, 0, mido.MetaMessage("set_tempo", tempo=400000))]
    setup = [(0, 1, mido.Message("program_change", channel=0, program=40)),
             (0, 1, mido.Message("control_change", channel=0, control=10, value=30))]
    voices = {0: [], 1: []}
    for ch, key, on, off, vel in notes:
        voices[ch].append((on, 3, mido.Message("note_on", channel=ch, note=key, velocity=vel)))
        voices[ch].append((off, 2, mido.Message("note_off", channel=ch, note=key, velocity=64)))
    mid = mido.MidiFile(type=fmt, ticks_per_beat=tpq)
    if fmt == 0:
        mid.tracks.append(track_of(meta + setup + voices[0] + voices[1]))
    else:
        mid.tracks.append(track_of(meta))
        mid.tracks.append(track_of(setup + voices[0]))
        mid.tracks.append(track_of(voices[1]))
    mid.save(path)


def write_pickup(path):
    """Format 1 at 480 a quarter opening with a 1/8 pickup bar, then 4/4, as a compiled file's
    lead-in does, but with music in it: the pickup note, its tempo, program and pan."""
    meta = [(0, 0, mido.MetaMessage("time_signature", numerator=1, denominator=8)),
            (0, 0, mido.MetaMessage("set_tempo", tempo=750000)),
            (240, 0, mido.MetaMessage("time_signature", numerator=4, denominator=4))]
    music = [(0, 1, mido.Message("program_change", channel=0, program=73)),
             (0, 1, mido.Message("control_change", channel=0, control=10, value=90))]
    for i, (key, on, off) in enumerate([(67, 0, 240), (72, 240, 720), (74, 720, 960),
                                        (76, 960, 1680), (72, 1680, 2160)]):
        music.append((on, 3, mido.Message("note_on", channel=0, note=key, velocity=95)))
        music.append((off, 2, mido.Message("note_off", channel=0, note=key, velocity=0)))
    mid = mido.MidiFile(type=1, ticks_per_beat=480)
    mid.tracks.append(track_of(meta))
    mid.tracks.append(track_of(music))
    mid.save(path)


def write_played(path):
    """A one-voice line as a keyboard player leaves it at 480 a quarter: onsets a few ticks
    beside the beat, and most notes held a little into the next (legato)."""
    rng = random.Random(7)
    keys = [60, 62, 64, 65, 67, 65, 64, 62]
    onsets = [i * 240 + rng.randint(-6, 6) if i else 0 for i in range(41)]
    music = []
    for i in range(40):
        key = keys[i % len(keys)] + (12 if i // 16 % 2 else 0)
        off = onsets[i + 1] + (rng.randint(5, 50) if i % 7 else -30)
        music.append((onsets[i], 3, mido.Message("note_on", channel=0, note=key,
                                                  velocity=rng.randint(60, 90))))
        music.append((off, 2, mido.Message("note_off", channel=0, note=key, velocity=0)))
    mid = mido.MidiFile(type=0, ticks_per_beat=480)
    mid.tracks.append(track_of(music))
    mid.save(path)


TUPLET_DIVISIONS = (96, 120, 192, 384, 480, 960, 1000)


def write_tuplets(path, tpq):
    """Tuplets as a sequencer writes them, each note at its own tick, rounded: a bar of four
    eighth-note triplets, a bar of quarter-note triplets and a half note, a bar of a quintuplet,
    a sextuplet and a half note."""
    groups = [(3, 1, [60, 62, 64]), (3, 1, [65, 67, 69]), (3, 1, [71, 69, 67]), (3, 1, [65, 64, 62]),
              (3, 2, [60, 64, 67]), (1, 2, [72]),
              (5, 1, [72, 71, 69, 67, 65]), (6, 1, [64, 65, 67, 65, 64, 62]), (1, 2, [60])]
    music, beat = [], 0
    for n, beats, keys in groups:
        for k, key in enumerate(keys):
            on = round((beat + beats * k / n) * tpq)
            off = round((beat + beats * (k + 1) / n) * tpq)
            music.append((on, 3, mido.Message("note_on", channel=0, note=key, velocity=87)))
            music.append((off, 2, mido.Message("note_off", channel=0, note=key, velocity=0)))
        beat += beats
    mid = mido.MidiFile(type=0, ticks_per_beat=tpq)
    mid.tracks.append(track_of(music))
    mid.save(path)


def write_tempo_map(path):
    """A 50-change tempo map at 480 a quarter, a change every two beats to a tempo of no whole
    number of beats a minute, under a line of eighths on the grid."""
    rng = random.Random(50)
    meta = [(0, 0, mido.MetaMessage("time_signature", numerator=4, denominator=4))]
    for i in range(50):
        meta.append((i * 960, 1, mido.MetaMessage("set_tempo", tempo=rng.randint(380000, 720000))))
    music = []
    for i in range(200):
        key = 60 + (i * 5) % 19
        music.append((i * 240, 3, mido.Message("note_on", channel=0, note=key, velocity=79)))
        music.append((i * 240 + 240, 2, mido.Message("note_off", channel=0, note=key, velocity=0)))
    mid = mido.MidiFile(type=1, ticks_per_beat=480)
    mid.tracks.append(track_of(meta))
    mid.tracks.append(track_of(music))
    mid.save(path)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    for fmt in (0, 1):
        for tpq in (96, 384, 480):
            write(os.path.join(sys.argv[1], "mido_f%d_%d.mid" % (fmt, tpq)), tpq, fmt, tpq + fmt)
    write_pickup(os.path.join(sys.argv[1], "mido_pickup.mid"))
    write_played(os.path.join(sys.argv[1], "mido_played.mid"))
    write_tempo_map(os.path.join(sys.argv[1], "mido_tempo_map.mid"))
    for tpq in TUPLET_DIVISIONS:
        write_tuplets(os.path.join(sys.argv[1], "mido_tuplets_%d.mid" % tpq), tpq)
    return 0


if __name__ == "__main__":
    sys.exit(main())
