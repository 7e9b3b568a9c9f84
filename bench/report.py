#!/usr/bin/env python3
"""Prints the benchmark table from Google Benchmark JSON output.

usage: report.py AFTER.json [BEFORE.json]
       report.py --levels LEVEL=FILE.json ...

Figures are medians of the repetitions (CPU time). With a second file its
figures are shown as "before" beside those of the first. With --levels, the
step at each rate and each stage are shown side by side for runs of the same
build on different instruction-set levels.
"""
import json
import sys

RATES = (8000, 16000, 32000)
FFT_SIZES = (256, 512, 1024)


def medians(path):
    with open(path) as f:
        runs = json.load(f)['benchmarks']
    out = {}
    for r in runs:
        if r.get('aggregate_name') == 'median':
            out[r['run_name']] = r
    return out


def us(run):
    scale = {'ns': 1e-3, 'us': 1.0, 'ms': 1e3, 's': 1e6}[run['time_unit']]
    return run['cpu_time'] * scale


def cell(runs, name, fmt):
    return fmt(runs[name]) if runs and name in runs else '-'


def levels(pairs):
    runs = [(label, medians(path)) for label, path in (pair.split('=', 1) for pair in pairs)]
    step_us = lambda r: '%.2f' % us(r)
    ns = lambda r: '%.0f' % (us(r) * 1e3)
    print('| rate | ' + ' | '.join('%s step us | %s realtime x' % (label, label) for label, _ in runs) + ' |')
    print('|---' * (1 + 2 * len(runs)) + '|')
    for rate in RATES:
        name = 'BM_Process/%d' % rate
        cells = [cell(r, name, step_us) + ' | ' + cell(r, name, lambda x: '%.0f' % x['x_realtime'])
                 for _, r in runs]
        print('| %d Hz | %s |' % (rate, ' | '.join(cells)))
    print()
    print('| stage at 16000 Hz, per call | ' + ' | '.join('%s ns' % label for label, _ in runs) + ' |')
    print('|---' * (1 + len(runs)) + '|')
    for name in (n for n in runs[0][1] if n.startswith('BM_Stage_')):
        print('| %s | %s |' % (name[len('BM_Stage_'):], ' | '.join(cell(r, name, ns) for _, r in runs)))


def main():
    if sys.argv[1] == '--levels':
        levels(sys.argv[2:])
        return
    after = medians(sys.argv[1])
    before = medians(sys.argv[2]) if len(sys.argv) > 2 else None
    step_us = lambda r: '%.2f' % us(r)
    rtf = lambda r: '%.0f' % r['x_realtime']

    head = '| rate | step us | realtime x (step) | realtime x (file) |'
    cols = [('step us', 'BM_Process/%d', step_us), ('realtime x (step)', 'BM_Process/%d', rtf),
            ('realtime x (file)', 'BM_File/%d', rtf)]
    if before:
        print('| rate | ' + ' | '.join('%s before | %s' % (c[0], c[0]) for c in cols) + ' |')
        print('|---' * (1 + 2 * len(cols)) + '|')
    else:
        print(head)
        print('|---' * (1 + len(cols)) + '|')
    for rate in RATES:
        cells = []
        for _, pattern, fmt in cols:
            if before:
                cells.append(cell(before, pattern % rate, fmt))
            cells.append(cell(after, pattern % rate, fmt))
        print('| %d Hz | %s |' % (rate, ' | '.join(cells)))
    print()

    names = [('forward', 'BM_FftForward/%d'), ('FFTW r2c', 'BM_FftwR2C/%d'), ('inverse', 'BM_FftInverse/%d'),
             ('FFTW c2r', 'BM_FftwC2R/%d')]
    ns = lambda r: '%.0f' % (us(r) * 1e3)
    labels = []
    for label, _ in names:
        if before and not label.startswith('FFTW'):
            labels.append(label + ' before ns')
        labels.append(label + ' ns')
    print('| FFT points | ' + ' | '.join(labels) + ' |')
    print('|---' * (1 + len(labels)) + '|')
    for n in FFT_SIZES:
        cells = []
        for label, pattern in names:
            if before and not label.startswith('FFTW'):
                cells.append(cell(before, pattern % n, ns))
            cells.append(cell(after, pattern % n, ns))
        print('| %d | %s |' % (n, ' | '.join(cells)))
    print()

    stages = [name for name in after if name.startswith('BM_Stage_')]
    if stages:
        print('| stage at 16000 Hz, per call | %sns |' % ('before ns | ' if before else ''))
        print('|---|---|' + ('---|' if before else ''))
        for name in stages:
            cells = ([cell(before, name, ns)] if before else []) + [cell(after, name, ns)]
            print('| %s | %s |' % (name[len('BM_Stage_'):], ' | '.join(cells)))


if __name__ == '__main__':
    main()
