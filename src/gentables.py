#!/usr/bin/env python3
"""Writes the engine's constant tables as C++ sources.

Every float is the single-precision rounding (to nearest, ties to even) of
its defining expression evaluated in double precision, printed as a hex float
literal so that the compiler stores exactly that value on every build.

usage: gentables.py OUTDIR
"""
import decimal
import math
import os
import struct
import sys

# The frame plan: (highest sampling rate, frame length) per supported size,
# in ascending order; the last row (rate 0) takes every higher rate. Frames
# last 32 ms at 8, 16 and 32 kHz, and a step is a quarter frame.
FRAME_PLAN = ((10000, 256), (20000, 512), (0, 1024))
FRAMES = tuple(frame for _, frame in FRAME_PLAN)


def bins_of(n_fft):
    return n_fft // 2 + 1


def twiddle_count(n_fft):
    # Sixteen values per four positions of every half span 8 ... N/4.
    return 4 * (n_fft // 2 - 8)


def table_sizes():
    return {
        'kWindowTableSize': sum(FRAMES),
        'kCosTableSize': sum(n // 4 + 1 for n in FRAMES),
        'kSwapTableSize': sum(n // 2 for n in FRAMES),
        'kTwiddleTableSize': sum(twiddle_count(n) for n in FRAMES),
        'kSteeringTableSize': sum(2 * bins_of(n) for n in FRAMES),
        'kFramePlanRows': len(FRAME_PLAN),
    }


def f32(x):
    """Round a double to the nearest single-precision value."""
    return struct.unpack('<f', struct.pack('<f', x))[0]


def lit(x):
    x = f32(x)
    if x == 0.0:
        return '-0.0f' if math.copysign(1.0, x) < 0 else '0.0f'
    mant, exp = float.hex(x).split('p')
    return mant.rstrip('0').rstrip('.') + 'p' + exp + 'f'


def rows(values, per_line=6):
    out = []
    for i in range(0, len(values), per_line):
        out.append('    ' + ', '.join(values[i:i + per_line]) + ',')
    return '\n'.join(out)


def float_table(decl, values):
    return '%s = {\n%s\n};\n' % (decl, rows([lit(v) for v in values]))


def int_table(decl, values):
    return '%s = {\n%s\n};\n' % (decl, rows([str(v) for v in values], 12))


def window():
    # Hann window at half-sample offsets for each frame length, back to back.
    vals = []
    for n_fft in FRAMES:
        vals += [0.5 - 0.5 * math.cos(2.0 * math.pi * (n + 0.5) / n_fft)
                 for n in range(n_fft)]
    return float_table('const float winTable32f[kWindowTableSize]', vals)


def fft():
    cos_vals = []
    swap_vals = []
    for n_fft in FRAMES:
        quarter = n_fft // 4
        # The quarter-wave entry is exactly zero (cos(pi/2) rounds to 6e-17).
        cos_vals += [math.cos(2.0 * math.pi * k / n_fft) for k in range(quarter)] + [0.0]
        half = n_fft // 2
        bits = half.bit_length() - 1
        for i in range(half):
            r = int(format(i, '0%db' % bits)[::-1], 2)
            swap_vals.append(2 * r if r > i else 0)
    return (float_table('const float m_arCosTable32f[kCosTableSize]', cos_vals) +
            int_table('const uint16 m_adwSwapTab[kSwapTableSize]', swap_vals) +
            float_table('alignas(32) const float m_arTwiddle32f[kTwiddleTableSize]', twiddles(cos_vals)))


def twiddles(cos_vals):
    # The table-driven butterfly stages four positions at a time: for each
    # length, each half span h = 8 ... N/4 and each position j divisible by 4,
    # the cosines {c_j, c_j, ..., c_j+3, c_j+3} and sines
    # {s_j, -s_j, ..., s_j+3, -s_j+3} of the twiddles, taken from the cosine
    # table as the scalar rule does.
    vals = []
    start = 0
    for n_fft in FRAMES:
        quarter, half = n_fft // 4, n_fft // 2
        cs = [f32(v) for v in cos_vals[start:start + quarter + 1]]
        start += quarter + 1
        h = 8
        while h <= quarter:
            def cos_sin(j):
                k = j * n_fft // (2 * h)
                if k <= quarter:
                    return cs[k], cs[quarter - k]
                return -cs[half - k], cs[k - quarter]
            for j in range(0, h, 4):
                quad = [cos_sin(j + i) for i in range(4)]
                vals += [c for c, _ in quad for _ in range(2)]
                vals += [v for _, s in quad for v in (s, -s)]
            h *= 2
    return vals


def dct():
    out = []
    for n_fft in FRAMES:
        scale = math.sqrt(2.0 / n_fft)
        vals = [scale * math.cos(math.pi * k * (n + 0.5) / n_fft)
                for k in range(4) for n in range(n_fft)]
        name = 'mdct4x%d_Tab32f' % n_fft
        out.append(float_table('const float %s[4][%d]' % (name, n_fft), vals))
    return '\n'.join(out)


def steering():
    # Free-field phase of a source at angle A for a 0.05 m pair (343 m/s);
    # one segment per frame size and microphone, both microphones alike.
    tau = 0.05 / 343.0
    out = []
    for angle in range(0, 91, 5):
        s = math.sin(angle * math.pi / 180.0)
        re, im = [], []
        for bins in map(bins_of, FRAMES):
            f_top = 31.25 * (bins - 1)
            for _mic in range(2):
                for k in range(bins):
                    phi = 2.0 * math.pi * k * (f_top / bins) * tau * s
                    re.append(math.cos(phi))
                    im.append(math.sin(phi))
        for part, vals in (('re', re), ('im', im)):
            name = '%sDirVecAng%02d_tab32f' % (part, angle)
            out.append(float_table('const float %s[kSteeringTableSize]' % name, vals))
    return '\n'.join(out)


def double_table(decl, values):
    # Hex literals carry every bit of the double.
    return '%s = {\n%s\n};\n' % (decl, rows([float.hex(v) for v in values], 3))


def fastmath():
    # Tables of the fast arc tangent, cosine and sine: the double nearest to
    # the exact value at each grid point (i/32 for the arc tangent, i/4 for
    # the cosine and sine), from series summed with 50 significant digits.
    decimal.getcontext().prec = 50
    D = decimal.Decimal

    def series(x, first, step):
        # sum over k of (-1)^k x^(first + step*k) / (first + step*k)!
        total, term, k = D(0), D(1), 0
        for j in range(1, first + 1):
            term = term * x / j
        while term != 0:
            total += term
            k += step
            nxt = first + k
            for j in range(nxt - step + 1, nxt + 1):
                term = term * x / j
            term = -term
            if abs(term) < D(10) ** -60:
                break
        return total

    def atan(x):
        # atan(x) = 2 atan(x / (1 + sqrt(1 + x^2))), twice, then the series.
        for _ in range(2):
            x = x / (1 + (1 + x * x).sqrt())
        total, k, power = D(0), 0, x
        while abs(power) > D(10) ** -60:
            total += (-1) ** k * power / (2 * k + 1)
            power *= x * x
            k += 1
        return 4 * total

    points = range(33)
    out = double_table('const double m_arCosTable64f[kFastMathCosSinPoints]',
                       [float(series(D(i) / 4, 0, 2)) for i in points])
    out += double_table('const double m_arSinTable64f[kFastMathCosSinPoints]',
                        [float(series(D(i) / 4, 1, 2)) for i in points])
    out += double_table('const double m_arAtanTable64f[kFastMathAtanPoints]',
                        [float(atan(D(i) / 32)) for i in points])
    return out


def plan():
    # One row per frame size: its rates, lengths, and where its segment of
    # every table starts (the tables hold the sizes back to back).
    rows = []
    window = cosines = swaps = twiddle = steer = 0
    for max_rate, n_fft in FRAME_PLAN:
        rows.append('    {%d, %d, %d, %d, %d, %d, %d, %d, %d, &mdct4x%d_Tab32f[0][0]},' % (
            max_rate, n_fft // 4, n_fft, bins_of(n_fft), window, cosines, swaps, twiddle, steer, n_fft))
        window += n_fft
        cosines += n_fft // 4 + 1
        swaps += n_fft // 2
        twiddle += twiddle_count(n_fft)
        steer += 2 * bins_of(n_fft)
    return 'const TFramePlan kFramePlans[kFramePlanRows] = {\n%s\n};\n' % '\n'.join(rows)


def sizes_header():
    return ('#ifndef MICARRAY_TAB_SIZES_H\n#define MICARRAY_TAB_SIZES_H\n\n// Entries of each table and rows'
            ' of the frame plan.\nenum {\n%s\n};\n\n#endif\n' % '\n'.join(
                '  %s = %d,' % item for item in table_sizes().items()))


def write(path, text):
    old = open(path).read() if os.path.exists(path) else None
    if old != text:
        with open(path, 'w') as f:
            f.write(text)


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    # Each table file includes the header of the module that owns the tables,
    # so the compiler checks the definitions against their declarations.
    files = {
        'tab_window.cpp': ('micarray_core.h', window),
        'tab_fft.cpp': ('FFTnrc.h', fft),
        'tab_dct.cpp': ('DTD.h', dct),
        'tab_steering.cpp': ('sdirect10a.h', steering),
        'tab_fastmath.cpp': ('fastmath.h', fastmath),
        'tab_plan.cpp': ('frameplan.h', plan),
    }
    notice = '// Generated by gentables.py; do not edit.\n'
    write(os.path.join(outdir, 'tab_sizes.h'), notice + sizes_header())
    for name, (header, make) in files.items():
        write(os.path.join(outdir, name), notice + '#include "%s"\n\n' % header + make())


if __name__ == '__main__':
    main()
