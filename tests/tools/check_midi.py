#!/usr/bin/python3
"""Compiles scores with tarvk32c and reads every .mid back with mido, an independent reader.

Usage: check_midi.py <tarvk32c> <score directory>

Expected times are in ticks (480 a quarter); the music starts at 240 after the lead-in bar.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

try:
    import mido
except ImportError:
    sys.exit("python3-mido is missing: run scripts/install-deps test")

# Per score: track count; per track the tempo changes (tick, microseconds per quarter) and the
# End of Track tick; the notes (channel, key, velocity, on tick, off tick); the rests (note 23
# at velocity 0: on tick, off tick, channel); program changes (tick, channel, program); pans
# (tick, channel, value); meta texts of the conductor; the length in seconds.
SCORES = {
    "midi_tempo_voices.fms": {
        "tracks": 3,
        "tempos": [[(240, 500000), (240, 600000), (1200, 666666), (2160, 428571)],
                   [(240, 600000), (2160, 428571)],
                   [(1200, 666666)]],
        "ends": [2160, 4080, 4080],
        "notes": [(1, 72, 79, 240, 720), (1, 74, 79, 720, 1200), (1, 76, 79, 1200, 1680),
                  (1, 77, 79, 1680, 2160), (1, 79, 79, 2160, 3120), (1, 79, 79, 3120, 4080),
                  (2, 60, 79, 240, 1200), (2, 64, 79, 1200, 2160), (2, 60, 79, 2160, 4080)],
        "rests": [],
        "programs": [(240, 1, 0), (240, 2, 0)],
        "pans": [],
        "texts": {},
        "seconds": 0.25 + 1.2 + 1.333332 + 1.714284,
    },
    "midi_ties_tuplets.fms": {
        "tracks": 2,
        "tempos": [[(240, 500000)], []],
        "ends": [240, 3135],
        "notes": [(1, 72, 79, 240, 960), (1, 72, 79, 1200, 1365), (1, 74, 79, 1365, 1530),
                  (1, 76, 79, 1530, 1680), (1, 72, 79, 1680, 1740), (1, 74, 79, 1800, 1935),
                  (1, 72, 79, 1935, 2895), (1, 76, 79, 2895, 3135)],
        "rests": [(960, 1200, 1)],
        "programs": [(240, 1, 0)],
        "pans": [],
        "texts": {},
        "seconds": 0.25 + (3135 - 240) / 960,
    },
    "midi_text_drums.fms": {
        "tracks": 3,
        "tempos": [[(240, 500000)], [], []],
        "ends": [240, 1200, 1200],
        "notes": [(3, 84, 127, 240, 1200), (9, 60, 79, 240, 720), (9, 60, 79, 720, 1200)],
        "rests": [],
        "programs": [(240, 3, 0), (240, 3, 10)],
        "pans": [(240, 3, 127)],
        "texts": {"copyright": "Copyright test", "track_name": "Sequence name test"},
        "seconds": 1.25,
    },
    "midi_long_rest.fms": {
        "tracks": 2,
        "tempos": [[(240, 500000), (17520, 300000)], [(17520, 300000)]],
        "ends": [17520, 18000],
        "notes": [(2, 72, 79, 17520, 18000)],
        "rests": [(240 + 1920 * i, 240 + 1920 * (i + 1), 2) for i in range(9)],
        "programs": [(240, 2, 0)],
        "pans": [],
        "texts": {},
        "seconds": 0.25 + 18 + 0.3,
    },
}


def raw_chunks(data):
    """Checks the chunk structure by hand; returns the track count of the header."""
    if data[:8] != b"MThd\x00\x00\x00\x06":
        raise AssertionError("bad header chunk: %r" % data[:8])
    fmt, ntracks, division = struct.unpack(">HHH", data[8:14])
    if (fmt, division) != (1, 480):
        raise AssertionError("format %d division %d" % (fmt, division))
    pos, found = 14, 0
    while pos < len(data):
        if data[pos:pos + 4] != b"MTrk":
            raise AssertionError("no MTrk at %d" % pos)
        (length,) = struct.unpack(">I", data[pos + 4:pos + 8])
        end = pos + 8 + length
        if end > len(data) or data[end - 3:end] != b"\xff\x2f\x00":
            raise AssertionError("track %d: length %d does not end at End of Track" %
                                 (found, length))
        pos, found = end, found + 1
    if found != ntracks:
        raise AssertionError("header names %d tracks, file has %d" % (ntracks, found))
    return ntracks


def absolute(track):
    tick = 0
    for msg in track:
        tick += msg.time
        yield tick, msg


def check(path, want):
    errors = []

    def expect(what, got, expected):
        if got != expected:
            errors.append("%s: got %r, expected %r" % (what, got, expected))

    with open(path, "rb") as f:
        data = f.read()
    expect("raw track count", raw_chunks(data), want["tracks"])
    mid = mido.MidiFile(path)
    expect("type", mid.type, 1)
    expect("ticks per beat", mid.ticks_per_beat, 480)
    expect("track count", len(mid.tracks), want["tracks"])

    conductor = list(absolute(mid.tracks[0]))
    signatures = [(t, m.numerator, m.denominator) for t, m in conductor
                  if m.type == "time_signature"]
    expect("time signatures", signatures, [(0, 1, 8), (240, 4, 4)])
    texts = {m.type: getattr(m, "text", getattr(m, "name", None)) for _, m in conductor
             if m.type in ("copyright", "track_name")}
    expect("conductor texts", texts, want["texts"])

    notes, rests, programs, pans = [], [], [], []
    for index, track in enumerate(mid.tracks):
        events = list(absolute(track))
        expect("track %d tempos" % index,
               [(t, m.tempo) for t, m in events if m.type == "set_tempo"], want["tempos"][index])
        expect("track %d end" % index, events[-1][0], want["ends"][index])
        expect("track %d last message" % index, events[-1][1].type, "end_of_track")
        if index == 0:
            continue
        first = events[0][1]
        if index == 1:
            expect("GM System On", (events[0][0], first.type, tuple(getattr(first, "data", ()))),
                   (0, "sysex", (0x7E, 0x7F, 0x09, 0x01)))
        else:
            expect("track %d filler" % index, (events[0][0], getattr(first, "text", None)),
                   (0, "_"))
        channels = {m.channel for _, m in events if hasattr(m, "channel")}
        if len(channels) != 1:
            errors.append("track %d uses channels %r" % (index, channels))
        channel = channels.pop() if channels else -1
        sound_off = [(t, m.channel) for t, m in events
                     if m.type == "control_change" and m.control == 120]
        expect("track %d all sound off" % index, sound_off, [(144, channel)])
        open_notes = {}
        for t, m in events:
            if m.type == "program_change":
                programs.append((t, m.channel, m.program))
            elif m.type == "control_change" and m.control == 10:
                pans.append((t, m.channel, m.value))
            elif m.type == "note_on" and m.velocity > 0:
                if m.note in open_notes:
                    errors.append("track %d: note %d on twice at %d" % (index, m.note, t))
                open_notes[m.note] = (t, m.velocity)
            elif m.type in ("note_on", "note_off"):
                if m.note == 23 and m.velocity == 0:
                    continue  # a rest (rest_pairs)
                if m.note in open_notes:
                    on, velocity = open_notes.pop(m.note)
                    notes.append((m.channel, m.note, velocity, on, t))
                else:
                    errors.append("track %d: note %d off without on at %d" % (index, m.note, t))
        if open_notes:
            errors.append("track %d: notes left sounding %r" % (index, open_notes))
    expect("notes", sorted(notes), sorted(want["notes"]))
    expect("programs", sorted(programs), sorted(want["programs"]))
    expect("pans", pans, want["pans"])
    expect("rests", sorted(rest_pairs(mid)), sorted(want["rests"]))
    if abs(mid.length - want["seconds"]) > 1e-4:
        errors.append("length %.6f s, expected %.6f s" % (mid.length, want["seconds"]))
    return errors


def rest_pairs(mid):
    """Rests are pairs of note-23 velocity-0 events: (first tick, second tick, channel)."""
    pairs = []
    for track in mid.tracks[1:]:
        pending = None
        for t, m in absolute(track):
            if m.type == "note_on" and m.note == 23 and m.velocity == 0:
                if pending is None:
                    pending = t
                else:
                    pairs.append((pending, t, m.channel))
                    pending = None
    return pairs


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    compiler, data_dir = os.path.abspath(sys.argv[1]), sys.argv[2]
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for name, want in SCORES.items():
            shutil.copy(os.path.join(data_dir, name), work)
            run = subprocess.run([compiler, name], cwd=work, stdout=subprocess.PIPE)
            if run.returncode != 0:
                print("%s: tarvk32c exit status %d" % (name, run.returncode))
                failures += 1
                continue
            mid_path = os.path.join(work, os.path.splitext(name)[0] + ".mid")
            try:
                errors = check(mid_path, want)
            except (AssertionError, OSError, EOFError, ValueError, TypeError, KeyError) as e:
                errors = ["unreadable: %s" % e]
            for e in errors:
                print("%s: %s" % (name, e))
            print("%s: %s" % (name, "FAILED" if errors else "ok"))
            failures += bool(errors)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
