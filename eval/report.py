"""Runs the standard scenes through the engine's program and writes report/index.html.

    /usr/bin/python3 -m eval.report [--pcmbeam PATH] [--out DIR] [--readme]

--readme also refreshes the summary table and the spectrogram in the README.
"""
import argparse
import html
import json
import os
import re
import shutil
import time

from . import ROOT, beampattern, engine, metrics, plots, scene

RATES = (8000, 16000, 32000)
SNRS = (0.0, 5.0)
SECONDS = 6.0
SEED = 1
# (name, interferers, room); the target talker stands straight ahead.
SCENES = (
    ("talker at 30°", (scene.Source("talker", 30.0),), None),
    ("talker at 60°", (scene.Source("talker", 60.0),), None),
    ("talker at 90°", (scene.Source("talker", 90.0),), None),
    ("white noise at 60°", (scene.Source("white", 60.0),), None),
    ("diffuse pink noise", (scene.Source("pink", None),), None),
    ("room, RT60 0.4 s, talker at 60°", (scene.Source("talker", 60.0),), scene.Room()),
)
README_SCENE = ("talker at 60°", 0.0, 16000)  # the spectrogram shown in the README
README = os.path.join(ROOT, "README.md")
README_IMAGE = os.path.join(ROOT, "docs", "eval_spectrogram.png")
README_BEGIN, README_END = "<!-- evaluation summary begin -->", "<!-- evaluation summary end -->"
SIGNALS = ("mic0", "beam", "output")
METRIC_TITLES = {"si_sdr": "SI-SDR (dB)", "snr": "SNR (dB)", "seg_snr": "segmental SNR (dB)", "stoi": "STOI"}


def _slug(text):
    return re.sub(r"[^a-z0-9]+", "_", text.lower()).strip("_")


def run_scene(name, interferers, room, snr, rate, program, out_dir):
    """Renders one scene, enhances it, scores mic 0, fixed beam and output, draws its spectrograms."""
    s = scene.Scene(rate=rate, seconds=SECONDS, interferers=interferers, room=room, snr=snr, seed=SEED)
    r = scene.render(s)
    output = engine.run(r.mixture, rate, s.spacing, program)
    signals = {"mic0": r.mixture[:, 0], "beam": r.mixture.mean(axis=1), "output": output}
    results = metrics.evaluate(r.target, signals, rate)
    image = f"spec_{rate}_{_slug(name)}_{int(snr)}db.png"
    lag = results["output"]["lag"]
    plots.spectrograms(os.path.join(out_dir, image), rate,
                       [("microphone 0", signals["mic0"]), ("fixed beam", signals["beam"]),
                        ("engine output (aligned)", output[lag:])],
                       f"{name}, {snr:g} dB at microphone 0, {rate} Hz")
    return {"scene": name, "snr": snr, "rate": rate, "image": image, "results": results,
            "over_mic0": metrics.improvements(results, "mic0")["output"],
            "over_beam": metrics.improvements(results, "beam")["output"]}


def _cell(value, digits):
    return f"{value:+.{digits}f}"


def _digits(metric):
    return 3 if metric == "stoi" else 2


def summary_cells(rows):
    """Header and rows of the summary: output improvement in SI-SDR and STOI over mic 0 / over the beam."""
    header = ["scene", "SNR in"] + [f"{r // 1000} kHz {m}" for r in RATES for m in ("ΔSI-SDR dB", "ΔSTOI")]
    index = {(r["scene"], r["snr"], r["rate"]): r for r in rows}
    body = []
    for name, _, _ in SCENES:
        for snr in SNRS:
            cells = [name, f"{snr:g} dB"]
            for rate in RATES:
                r = index[(name, snr, rate)]
                for metric in ("si_sdr", "stoi"):
                    d = _digits(metric)
                    cells.append(f"{_cell(r['over_mic0'][metric], d)} / {_cell(r['over_beam'][metric], d)}")
            body.append(cells)
    return header, body


def summary_markdown(rows):
    header, body = summary_cells(rows)
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    return "\n".join(lines + ["| " + " | ".join(cells) + " |" for cells in body]) + "\n"


def summary_html(rows):
    header, body = summary_cells(rows)
    head = "<tr>" + "".join(f"<th>{html.escape(c)}</th>" for c in header) + "</tr>"
    rows_html = ("<tr>" + "".join(f"<td>{html.escape(c)}</td>" for c in cells) + "</tr>" for cells in body)
    return '<table class="summary">' + head + "".join(rows_html) + "</table>"


def metrics_html(rows):
    metric_head = "".join(f'<th colspan="5">{METRIC_TITLES[m]}</th>' for m in metrics.NAMES)
    sub_head = "".join("<th>mic 0</th><th>beam</th><th>output</th><th>Δ mic 0</th><th>Δ beam</th>"
                       for _ in metrics.NAMES)
    body = []
    for r in rows:
        cells = [f"{r['rate']}", html.escape(r["scene"]), f"{r['snr']:g}", f"{r['results']['output']['lag']}"]
        for m in metrics.NAMES:
            d = _digits(m)
            cells += [f"{r['results'][s][m]:.{d}f}" for s in SIGNALS]
            cells += [_cell(r["over_mic0"][m], d), _cell(r["over_beam"][m], d)]
        cells.append(f'<a href="{r["image"]}">spectrograms</a>')
        body.append("<tr>" + "".join(f"<td>{c}</td>" for c in cells) + "</tr>")
    return ('<table class="all"><tr><th rowspan="2">rate (Hz)</th><th rowspan="2">scene</th>'
            '<th rowspan="2">SNR in (dB)</th><th rowspan="2">output lag (samples)</th>'
            f'{metric_head}<th rowspan="2"></th></tr>'
            f"<tr>{sub_head}</tr>" + "\n".join(body) + "</table>")


STYLE = """body{font-family:sans-serif;max-width:1400px;margin:auto;padding:1em}
table{border-collapse:collapse;font-size:12px}td,th{border:1px solid #ccc;padding:2px 5px;text-align:right}
th{background:#eee}.summary td:first-child,.all td:nth-child(2){text-align:left}img{max-width:100%}"""


def _shown_path(path):
    """A path inside the project relative to its root, others as they are."""
    inside = os.path.relpath(os.path.abspath(path), ROOT)
    return path if inside.startswith("..") else inside


def write_html(path, rows, program):
    command = " ".join(engine.command_line("pcmbeam", "RATE", scene.Scene.spacing, engine.Tuning(),
                                           "in.pcm", "out.pcm"))
    dims = " × ".join(f"{d:g}" for d in scene.Room().dims)
    gallery = "\n".join(f'<h3>{html.escape(r["scene"])}, {r["snr"]:g} dB, {r["rate"]} Hz</h3>'
                        f'<img loading="lazy" src="{r["image"]}" alt="spectrograms">' for r in rows)
    page = f"""<!DOCTYPE html><html><head><meta charset="utf-8"><title>Enhancement report</title>
<style>{STYLE}</style></head><body>
<h1>Measured enhancement</h1>
<p>Program: <code>{html.escape(_shown_path(program))}</code>, run as
<code>{command}</code>.</p>
<p>Scenes: two microphones {scene.Scene.spacing:g} m apart, the target talker straight ahead
({scene.Scene.target.distance:g} m away in the room),
{SECONDS:g} s of speech rendered by espeak-ng, seed {SEED}. Interferers at the given angle
(positive: towards microphone 0) in the free field, or in a {dims} m shoebox room simulated by the
image-source method; diffuse noise has the two-microphone coherence sin(kd)/(kd).
The input SNR is the power ratio of target and interference at microphone 0 over the whole scene.</p>
<p>Metrics compare each signal with the clean target as received at microphone 0, after automatic
alignment (the output lag found is shown; the engine's own delay is three steps), over the stretch
that all signals cover. <b>mic 0</b> is the unprocessed microphone 0, <b>beam</b> the fixed beam
(mean of both microphones), <b>output</b> the program's output; Δ columns are output minus mic 0
and output minus beam. SI-SDR is scale-invariant; SNR counts everything the output adds to the target
(including level changes); segmental SNR averages 30 ms frames clipped to [-10, 35] dB, skipping frames
40 dB below the loudest; STOI follows its published definition.</p>
<h2>Summary: output improvement over mic 0 / over the fixed beam</h2>
{summary_html(rows)}
<h2>All metrics</h2>
{metrics_html(rows)}
<h2>Beam pattern</h2>
<p>Level of a white-noise source alone, by angle, in one-third-octave bands, measured after
{beampattern.CONVERGED_AFTER:g} s of a {beampattern.SECONDS:g} s run, against microphone 0.</p>
<img src="beam_pattern.png" alt="beam pattern">
<h2>Spectrograms (microphone 0, fixed beam, engine output)</h2>
{gallery}
</body></html>
"""
    with open(path, "w", encoding="utf-8") as f:
        f.write(page)


def update_readme(summary, image_path, readme=README, readme_image=README_IMAGE):
    """Replaces the README's evaluation block (between its markers) and its spectrogram."""
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    begin, end = text.find(README_BEGIN), text.find(README_END)
    if begin < 0 or end < begin:
        raise RuntimeError(f"{readme} lacks the {README_BEGIN} ... {README_END} block")
    os.makedirs(os.path.dirname(readme_image), exist_ok=True)
    shutil.copyfile(image_path, readme_image)
    name, snr, rate = README_SCENE
    link = os.path.relpath(readme_image, os.path.dirname(readme))
    block = f"{README_BEGIN}\n{summary}\n![Spectrograms: {name}, {snr:g} dB, {rate} Hz]({link})\n"
    with open(readme, "w", encoding="utf-8") as f:
        f.write(text[:begin] + block + text[end:])


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pcmbeam", default=engine.DEFAULT_PCMBEAM, help="path of the pcmbeam program")
    parser.add_argument("--out", default=os.path.join(ROOT, "report"), help="output directory")
    parser.add_argument("--readme", action="store_true", help="also refresh the README's table and image")
    args = parser.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)
    started = time.time()
    rows = []
    for rate in RATES:
        for name, interferers, room in SCENES:
            for snr in SNRS:
                rows.append(run_scene(name, interferers, room, snr, rate, args.pcmbeam, args.out))
                print(f"{rate} Hz, {name}, {snr:g} dB: ΔSI-SDR {rows[-1]['over_mic0']['si_sdr']:+.2f} dB, "
                      f"ΔSTOI {rows[-1]['over_mic0']['stoi']:+.3f} (over mic 0)", flush=True)
    patterns = {rate: beampattern.measure(rate, args.pcmbeam) for rate in RATES}
    plots.beam_patterns(os.path.join(args.out, "beam_pattern.png"), patterns)
    summary = summary_markdown(rows)
    with open(os.path.join(args.out, "summary.md"), "w", encoding="utf-8") as f:
        f.write(summary)
    with open(os.path.join(args.out, "results.json"), "w", encoding="utf-8") as f:
        json.dump({"rows": rows, "beam_pattern": patterns}, f, indent=1)
    write_html(os.path.join(args.out, "index.html"), rows, args.pcmbeam)
    if args.readme:
        pick = next(r for r in rows if (r["scene"], r["snr"], r["rate"]) == README_SCENE)
        update_readme(summary, os.path.join(args.out, pick["image"]))
    print(f"Wrote {os.path.join(args.out, 'index.html')} in {time.time() - started:.0f} s")


if __name__ == "__main__":
    main()
