#!/usr/bin/env python3
"""Writes the fuzzer's seed inputs into fuzz/vst2-corpus/.

Each seed is a short host session in the fuzzer's input format (see
Vst2Fuzzer.cpp): an operation byte, then its operands. The seeds give the
fuzzer a start on realistic sessions; it mutates them from there.
"""
import os
import struct
import sys

# Operation bytes, as Session::run decodes them (byte % 13).
GENERIC, SET_PARAM, CHECK, EVENTS, RENDER, RATE, SET_CHUNK, GET_CHUNK, EDITOR, LEGACY, SILENCE, HOST, WINDOW = range(13)
# Window message types.
PAINT, ACTIVATE, MOVE, DOWN, UP, WHEEL = range(6)

# pickFloat selectors.
NAN, SNAN, NEG_NAN, INF, NEG_INF, ZERO, NEG_ZERO, ONE, P95, P90, DENORM, FMAX, MINUS_ONE, TWO, FMIN, TINY, HUGE = range(17)
# pickSampleRate selectors (index into its table).
RATES = {0.0: 0, -44100.0: 1, 1e-30: 2, 1.0: 3, 8000.0: 4, 44100.0: 6, 48000.0: 7, 96000.0: 9, 1e30: 12}


def nominal(x):
    """pickFloat operand for a value in 0..1."""
    return bytes([64]) + struct.pack('<H', round(x * 65535))


def special(k):
    return bytes([k])


def raw_float(x):
    return bytes([17]) + struct.pack('<f', x)


def index(i):
    assert -1 <= i <= 49
    return bytes([i + 1])


def value(v):
    assert 0 <= v < 128
    return bytes([v])


def block(n):
    if n < 8:
        return bytes([n])
    return bytes([64]) + struct.pack('<H', n)


def set_param(i, f):
    return bytes([SET_PARAM]) + index(i) + f


def midi(status, d1, d2, delta=0):
    """One event of a list: not null, a MIDI event, deltaFrames, raw status."""
    assert 0 <= delta < 128
    return bytes([0, 0, delta, 0x80, status, d1, d2, 0])


def events(*evs, num_mode=0):
    return bytes([EVENTS, 0, len(evs)]) + b''.join(evs) + bytes([num_mode])


def render(n):
    return bytes([RENDER]) + block(n)


def rate(r):
    return bytes([RATE, RATES[r]])


def chunk(floats):
    """A 192-byte chunk of pickFloat operands (mode 0)."""
    assert len(floats) == 48
    return bytes([SET_CHUNK, 0, 0]) + b''.join(floats) + bytes([0, 0])


def generic(opcode, idx=0, val=0, opt=special(ZERO), ptr=b'\x00', payload=b''):
    return bytes([GENERIC, opcode + 2]) + index(idx) + value(val) + opt + ptr + payload


def window(kind, x, y, notches=0):
    """A window message at client (x, y); for WHEEL, screen coordinates."""
    return bytes([WINDOW, kind, 0]) + struct.pack('<HH', x + 40, y + 40) + bytes([notches + 4])


def host(kind, *args):
    return bytes([HOST, kind]) + bytes(args)


TEXT_OUT = {5, 6, 7, 8, 29, 45, 46, 47, 48, 70}
STRUCTS = {33, 34, 36, 37, 56, 62, 63, 64, 66, 75, 76}
ZEROED = {38, 39, 40, 41}


def payload_for(opcode):
    """Operands the fuzzer reads for the buffer behind ptr (empty text or bytes)."""
    if opcode in TEXT_OUT:
        return b''
    if opcode in STRUCTS:
        return bytes(256)
    if opcode in ZEROED:
        return b''
    return bytes([0])


DEFAULTS = [nominal(x) for x in (
    1.0, 1.0, 0.0, 0.566667, 0.566667, 0, 0, 0, 0, 0.7, 0.683333, 0, 0, 0, 0, 0,
    0.916667, 0.9, 0, 0, 0, 0, 0.633333, 0.433333, 0, 0, 0.266667, 0.233333, 0, 0, 0, 0,
    1.0, 0.0, 0.315, 0.56, 0.075, 0.585, 0.35, 0.045, 0.0, 0.01, 0.045, 0.605, 0.575, 0.59, 0.01, 0.155)]

SEEDS = {
    # Open, rate, block size, resume, a note on and off, a stop burst.
    'host-session': generic(0) + rate(44100.0) + host(2, 100) + host(0, 1)
    + events(midi(0x90, 60, 100)) + render(512) + events(midi(0x80, 60, 0, 17)) + render(512)
    + render(768) + render(256) + host(3),
    # A chord that steals voices, with offsets inside the block.
    'chord': events(*[midi(0x90, 48 + 3 * k, 30 + 10 * k, 7 * k) for k in range(10)]) + render(1024)
    + events(*[midi(0x80, 48 + 3 * k, 0) for k in range(5)]) + render(2048) + bytes([SILENCE, 0, 7]),
    # Awkward parameter values while a note plays, then back in range.
    'param-odd-values': events(midi(0x90, 69, 127)) + render(64)
    + b''.join(set_param(i, special(k)) + render(32) for i, k in ((39, NAN), (40, INF), (47, FMAX), (34, NEG_INF), (45, DENORM)))
    + b''.join(set_param(i, nominal(0.5)) for i in (39, 40, 47, 34, 45)) + render(256) + bytes([CHECK]),
    # Harmonics and bandwidth out of range, then Update.
    'update': set_param(0, special(NAN)) + set_param(32, special(ZERO)) + set_param(33, special(P95))
    + events(midi(0x90, 60, 100)) + render(256) + set_param(0, nominal(1.0)) + set_param(32, nominal(1.0))
    + set_param(33, special(ONE)) + render(256),
    # Every harmonic silent, then Update: a table with nothing in it.
    'silent-table': b''.join(set_param(i, special(ZERO)) for i in range(32)) + set_param(33, special(ONE))
    + events(midi(0x90, 60, 100)) + render(512),
    # Chunks: defaults, one with NaN and infinities, wrong sizes.
    'chunk': bytes([GET_CHUNK, 0]) + chunk(DEFAULTS) + events(midi(0x90, 64, 90)) + render(300)
    + chunk([special(NAN)] * 16 + [special(INF)] * 16 + [special(NEG_ZERO)] * 16) + render(300)
    + bytes([SET_CHUNK, 160, 255]) + bytes(191) + bytes([0, 0]) + bytes([GET_CHUNK, 1]),
    # Sample rates nobody should send, with a note sounding.
    'rates': events(midi(0x90, 72, 100)) + rate(0.0) + render(128) + rate(1e-30) + render(128)
    + rate(1e30) + render(128) + rate(-44100.0) + render(128) + rate(48000.0) + render(128),
    # Event lists: negative and huge offsets, null entries, short counts.
    'events-odd': bytes([EVENTS, 0, 4]) + bytes([0, 0, 200]) + struct.pack('<i', -5) + bytes([0x00, 60, 100, 0])
    + bytes([0xFF]) + bytes([0, 0, 200]) + struct.pack('<i', 2 ** 31 - 1) + bytes([0x00, 61, 100, 0])
    + bytes([0, 0xE8, 0]) + bytes([0x20, 0, 0, 0]) + bytes([203]) + render(4096) + render(0) + render(1),
    # Key 0..11 (no frequency), controllers, pitch bend, program change.
    'events-keys': events(midi(0x90, 0, 100), midi(0x90, 11, 1), midi(0x90, 127, 127), midi(0xB0, 123, 0),
                          midi(0x90, 12, 64), midi(0xE0, 0, 64), midi(0xC0, 5, 0), midi(0xB5, 126, 1))
    + render(512),
    # Text opcodes with exact-size buffers and texts in.
    'texts': b''.join(generic(op, idx=i) for op, i in ((5, 0), (6, 3), (7, 40), (8, 38), (8, 48), (8, -1), (45, 0),
                                                        (47, 0), (48, 0), (29, 0)))
    + generic(4, payload=bytes([30]) + b'A very long program name!!x!!!') + generic(51, payload=bytes([19]) + b'receiveVstMidiEvent')
    + generic(51, payload=bytes([18]) + b'receiveVstMidiEven'),
    # Every opcode once with plain arguments.
    'opcodes': b''.join(generic(op) + payload_for(op)
                        for op in range(0, 80) if op not in (1, 10, 13, 14, 23, 24, 25, 42, 69)),
    # Editor calls as hosts make them, open or not.
    'editor': bytes([EDITOR, 3, 1, 0, 5, EDITOR, 0, EDITOR, 1, 1, EDITOR, 0, EDITOR, 3, 1, 0, 5, EDITOR, 4, 1, 65, 0,
                     EDITOR, 2, 1, 0, 5, EDITOR, 3, 1, 0, 5]),
    # The editor open in a window: a slider dragged past its ends, the Update
    # button pressed, a value box turned by the wheel, a press released outside.
    'editor-mouse': bytes([EDITOR, 1, 0]) + window(PAINT, 0, 0) + window(DOWN, 14, 40) + window(MOVE, 14, -30)
    + window(MOVE, 14, 200) + window(UP, 14, 200) + window(DOWN, 265, 90) + window(UP, 265, 90)
    + window(WHEEL, 85, 90, 3) + window(WHEEL, 85, 90, -4) + window(DOWN, 85, 90) + window(MOVE, 320, -20)
    + window(UP, 320, -20) + events(midi(0x90, 60, 100)) + render(512) + bytes([EDITOR, 3, 1, 0, 5, EDITOR, 2, 1, 0, 5]),
    # The callbacks nobody uses.
    'legacy': bytes([LEGACY]) + block(64) + bytes([1, LEGACY]) + block(64) + bytes([0]),
}


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'vst2-corpus')
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())
