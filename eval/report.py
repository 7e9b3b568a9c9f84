"""Runs the held-out scene set through every system and writes report/index.html.

    /usr/bin/python3 -m eval.report [--out DIR] [--build DIR] [--readme] [--quick]

--readme also refreshes the README's summary table, verdicts and chart;
--quick runs a few short scenes only (the test suite's subset).
"""
import argparse
import html
import json
import os
import shutil
import time

from . import ROOT, beampattern, compare, plots, scene, sets, sources, systems

README = os.path.join(ROOT, "README.md")
README_IMAGE = os.path.join(ROOT, "docs", "eval_bars.png")
README_BEGIN, README_END = "<!-- evaluation summary begin -->", "<!-- evaluation summary end -->"
ENGINES = ("mvdr", "classic")  # this project's engines: beam patterns and verdicts
PATTERN_RATE = 16000
PATTERN_ANGLES = tuple(range(-90, 91, 10))
QUICK_ANGLES = (-60, 0, 60)
QUICK_TIMING_SECONDS = 5.0
SI_SDR_LIMITS, STOI_LIMITS = (-20.0, 25.0), (-0.3, 0.3)  # chart axes; bars beyond stop at the edge
BARS = "bars.png"
LEVEL_DB = 0.5  # a median ΔSI-SDR within this of zero neither helps nor harms


def _family_medians(rows, key):
    """{family: {metric: median}} of one system's improvements over microphone 0."""
    out = {}
    for family in dict.fromkeys(row["family"] for row in rows):
        m = compare.median_of([row for row in rows if row["family"] == family], key)
        if m:
            out[family] = m
    return out


def summary_markdown(rows, chosen):
    """The README's table: scene families down, systems across, median ΔSI-SDR dB / ΔSTOI."""
    lines = ["| scene family (scenes) | " + " | ".join(s.name for s in chosen) + " |",
             "|---|" + "---|" * len(chosen)]
    medians = {s.key: _family_medians(rows, s.key) for s in chosen}
    for family in dict.fromkeys(row["family"] for row in rows):
        count = sum(row["family"] == family for row in rows)
        cells = []
        for s in chosen:
            m = medians[s.key].get(family)
            cells.append(f"{m['si_sdr']:+.1f} / {m['stoi']:+.3f}" if m else "n/a")
        lines.append(f"| {family} ({count}) | " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


def _beaten_by(rows, system, chosen):
    """Scene families where a peer other than the WebRTC beamformer has a higher median ΔSI-SDR,
    each with the best such peer: 'family (peer +x.x dB against +y.y)'."""
    ours = _family_medians(rows, system.key)
    peers = [s for s in chosen if s.key not in ENGINES and s.key != compare.REFERENCE_PEER]
    theirs = [(s.name, _family_medians(rows, s.key)) for s in peers]
    out = []
    for family, m in ours.items():
        better = [(medians[family]["si_sdr"], name) for name, medians in theirs
                  if family in medians and medians[family]["si_sdr"] > m["si_sdr"]]
        if better:
            level, name = max(better)
            out.append(f"{family} ({name} {level:+.1f} dB against {m['si_sdr']:+.1f})")
    return out


def verdict(rows, system, chosen=()):
    """One plain sentence on an engine: does it help, against the WebRTC beamformer, where it
    loses, and where another peer does better."""
    overall = compare.median_of(rows, system.key)
    if overall is None:
        return f"**{system.name}**: not measured in this run (its program was not built)."
    wins, count, median = compare.versus(rows, system.key)
    ours, peer = _family_medians(rows, system.key), _family_medians(rows, compare.REFERENCE_PEER)
    losing = [f for f in ours if f in peer and ours[f]["si_sdr"] < peer[f]["si_sdr"]]
    level = overall["si_sdr"]
    helps = ("improves on" if level > LEVEL_DB else "does worse than" if level < -LEVEL_DB
             else "is about level with")
    sentence = (f"**{system.name}**: {helps} microphone 0 (median {overall['si_sdr']:+.1f} dB SI-SDR, "
                f"{overall['stoi']:+.3f} STOI)")
    if not count:
        return sentence + "; the WebRTC beamformer was not built, so they were not compared."
    sentence += f" and beats the WebRTC beamformer on {wins} of {count} scenes (median {median:+.1f} dB)"
    sentence += f"; it loses to that beamformer on {', '.join(losing) or 'no scene family'}"
    worse = [f for f in ours if ours[f]["si_sdr"] < -LEVEL_DB]
    sentence += f" and does worse than microphone 0 on {', '.join(worse)}" if worse else ""
    beaten = _beaten_by(rows, system, chosen)
    return sentence + (f"; other peers do better on {'; '.join(beaten)}." if beaten else ".")


def summary_lines(rows, chosen):
    """One line per system against the WebRTC beamformer."""
    out = []
    for s in chosen:
        wins, count, median = compare.versus(rows, s.key)
        if s.key != compare.REFERENCE_PEER and count:
            out.append(f"{s.name}: beats the WebRTC beamformer on {wins} of {count} scenes, "
                       f"median {median:+.2f} dB ΔSI-SDR")
    return out


def bar_chart(path, rows, chosen):
    """ΔSI-SDR and ΔSTOI of every system on every scene, one bar each."""
    def values(metric):
        return [[row["over_mic0"][s.key][metric] if s.key in row["over_mic0"] else None for s in chosen]
                for row in rows]
    plots.grouped_bars(path, [row["name"] for row in rows], [s.name for s in chosen],
                       [("ΔSI-SDR against microphone 0 (dB)", values("si_sdr"), SI_SDR_LIMITS),
                        ("ΔSTOI against microphone 0", values("stoi"), STOI_LIMITS)])


def patterns_of(chosen, quick):
    """Beam patterns of this project's engines (those that are built) at PATTERN_RATE."""
    angles = QUICK_ANGLES if quick else PATTERN_ANGLES
    out = {}
    for s in chosen:
        if s.key in ENGINES and not systems.missing(s):
            probe = scene.Scene(rate=PATTERN_RATE)  # the target straight ahead, the default spacing
            out[s.name] = beampattern.measure(PATTERN_RATE, lambda m, s=s: systems.run(s, m, probe)[0],
                                              angles)
    return out


STYLE = """body{font-family:sans-serif;max-width:1250px;margin:auto;padding:0 1em;line-height:1.4}
table{border-collapse:collapse;font-size:13px;margin:.5em 0}td,th{border:1px solid #ccc;padding:2px 6px}
th{background:#eee}td.n{text-align:right}img{max-width:100%}audio{height:28px;width:230px}
.note{color:#a40}section{border-top:1px solid #ccc;margin-top:1.5em}
.players{display:flex;flex-wrap:wrap;gap:4px 18px}.players div{font-size:13px}"""

# Tells a checker whether every image loaded (eval.check_page reads it from the rendered page).
IMAGE_CHECK = """<script>window.addEventListener("load", function () {
  var all = Array.from(document.images), broken = all.filter(function (x) {
    return !(x.complete && x.naturalWidth > 0); }).map(function (x) { return x.getAttribute("src"); });
  document.body.setAttribute("data-images", all.length + " images, " + broken.length + " broken"
    + (broken.length ? ": " + broken.join(" ") : ""));
});</script>"""


def _scene_section(row, chosen, names):
    s_rows = []
    for key in [compare.BASELINE] + [s.key for s in chosen]:
        label = html.escape(names.get(key, "microphone 0 (input)"))
        if key in row["results"]:
            r, d = row["results"][key], row["over_mic0"][key]
            cells = (f"{r['si_sdr']:.2f}", f"{d['si_sdr']:+.2f}", f"{r['stoi']:.3f}", f"{d['stoi']:+.3f}",
                     f"{r['lag']}")
            s_rows.append(f"<tr><td>{label}</td>" + "".join(f"<td class=n>{c}</td>" for c in cells) + "</tr>")
        else:
            s_rows.append(f"<tr><td>{label}</td><td colspan=5 class=note>not run: "
                          f"{html.escape(row['skipped'].get(key, ''))}</td></tr>")
    players = "".join(f'<div>{html.escape(label)}<br>'
                      f'<audio controls preload="none" src="{row["files"][key]}"></audio></div>'
                      for key, label in [("input", "input (stereo)"), ("target", "clean target")]
                      + [(s.key, s.name) for s in chosen] if key in row["files"])
    return (f'<section><h3>{html.escape(row["name"])}</h3><p>{html.escape(row["family"])}, '
            f'{row["rate"]} Hz</p><table><tr><th>signal</th><th>SI-SDR dB</th><th>Δ</th><th>STOI</th>'
            f'<th>Δ</th><th>lag</th></tr>{"".join(s_rows)}</table><div class=players>{players}</div>'
            f'<img src="{row["image"]}" alt="spectrograms of {html.escape(row["name"])}"></section>')


def write_html(path, rows, chosen, absent, patterns, factors, set_name, timing):
    names = {s.key: s.name for s in chosen}
    systems_list = "".join(
        f"<li><b>{html.escape(s.name)}</b>: {html.escape(s.how)}"
        + (f" — <b>{factors[s.key]:.0f} × real time</b>" if s.key in factors else "") + "</li>"
        for s in chosen)
    notes = "".join(f'<p class=note>{html.escape(n)}</p>' for n in absent)
    lines = "".join(f"<li>{html.escape(line)}</li>" for line in summary_lines(rows, chosen))
    verdicts = "".join(f"<p>{html.escape(verdict(rows, s, chosen)).replace('**', '')}</p>"
                       for s in chosen if s.key in ENGINES)
    table = summary_markdown(rows, chosen).splitlines()
    head = "".join(f"<th>{html.escape(c.strip())}</th>" for c in table[0].strip("|").split("|"))
    body = "".join("<tr>" + "".join(f"<td>{html.escape(c.strip())}</td>" for c in line.strip("|").split("|"))
                   + "</tr>" for line in table[2:])
    pattern_html = ('<img src="beam_patterns.png" alt="beam patterns">' if patterns
                    else "<p class=note>No engine of this project is built: no beam pattern.</p>")
    sections = "\n".join(_scene_section(row, chosen, names) for row in rows)
    page = f"""<!DOCTYPE html><html><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width"><title>Enhancement report</title>
<style>{STYLE}</style></head><body>
<h1>Measured enhancement: {len(rows)} scenes of the {html.escape(set_name)} set</h1>
<p>Each system gets the same two-microphone mixture (0.05 m apart, 16-bit) and is told the target's angle
where it can be. Scores compare its output with the clean target as received at microphone 0, after
finding its delay by cross-correlation; Δ is the improvement over microphone 0 itself. SI-SDR is
scale-invariant; STOI is short-time objective intelligibility (0 to 1).</p>
{notes}
<h2>Verdict</h2>{verdicts}<ul>{lines}</ul>
<h2>Systems</h2><p>Real-time factors: each program alone on {timing:g} s of 16 kHz noise in this run,
its start-up included.</p><ul>{systems_list}</ul>
<h2>Median improvement by scene family (ΔSI-SDR dB / ΔSTOI)</h2>
<table><tr>{head}</tr>{body}</table>
<h2>Every scene</h2><img src="{BARS}" alt="bar charts of every scene and system">
<h2>Beam patterns</h2>
<p>Level of a white-noise source alone against microphone 0, by angle, in one-third-octave bands,
measured after {beampattern.CONVERGED_AFTER:g} s of a {beampattern.SECONDS:g} s run at {PATTERN_RATE} Hz
(an adaptive engine that is left alone with the noise learns to cancel it).</p>{pattern_html}
<h2>Scenes: scores, listening and spectrograms</h2>
<p>Recorded voices: {html.escape(sources.RECORDINGS_DIR)} (Debian package alsa-utils), read at run time.
Talkers are rendered by espeak-ng; rooms by the image-source method, high-passed at 100 Hz.</p>
{sections}
{IMAGE_CHECK}</body></html>
"""
    with open(path, "w", encoding="utf-8") as f:
        f.write(page)


def update_readme(summary, image_path, readme=README, readme_image=README_IMAGE):
    """Replaces the README's evaluation block (between its markers) and its chart."""
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    begin, end = text.find(README_BEGIN), text.find(README_END)
    if begin < 0 or end < begin:
        raise RuntimeError(f"{readme} lacks the {README_BEGIN} ... {README_END} block")
    os.makedirs(os.path.dirname(readme_image), exist_ok=True)
    shutil.copyfile(image_path, readme_image)
    link = os.path.relpath(readme_image, os.path.dirname(readme))
    block = f"{README_BEGIN}\n{summary}\n![Improvement of every system on every scene]({link})\n"
    with open(readme, "w", encoding="utf-8") as f:
        f.write(text[:begin] + block + text[end:])


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(ROOT, "report"), help="output directory")
    parser.add_argument("--build", default=systems.BUILD, help="the build directory with the programs")
    parser.add_argument("--readme", action="store_true", help="also refresh the README's table and chart")
    parser.add_argument("--quick", action="store_true", help="a few short scenes only")
    args = parser.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)
    started = time.time()
    chosen = systems.standard(args.build)
    absent = [m for m in map(systems.missing, chosen) if m]
    if sources.recordings_missing():
        absent.append(sources.recordings_missing() + ": the recorded-voice scenes are left out")
    for line in absent:
        print(line)
    entries = sets.quick() if args.quick else sets.scenes(sets.REPORT)
    rows = compare.run_set(entries, chosen, args.out, progress=lambda line: print(line, flush=True))
    timing = QUICK_TIMING_SECONDS if args.quick else compare.TIMING_SECONDS
    factors = compare.real_time_factors(chosen, timing)
    patterns = patterns_of(chosen, args.quick)
    if patterns:
        plots.beam_patterns(os.path.join(args.out, "beam_patterns.png"), patterns)
    bar_chart(os.path.join(args.out, BARS), rows, chosen)
    summary = summary_markdown(rows, chosen)
    verdicts = "\n\n".join(verdict(rows, s, chosen) for s in chosen if s.key in ENGINES)
    block = f"{summary}\n{verdicts}\n"
    with open(os.path.join(args.out, "summary.md"), "w", encoding="utf-8") as f:
        f.write(block)
    with open(os.path.join(args.out, "results.json"), "w", encoding="utf-8") as f:
        json.dump({"rows": rows, "beam_patterns": patterns, "real_time": factors, "absent": absent}, f,
                  indent=1)
    write_html(os.path.join(args.out, "index.html"), rows, chosen, absent, patterns, factors,
               "quick" if args.quick else "report", timing)
    if args.readme:
        update_readme(block, os.path.join(args.out, BARS))
    print(compare.table(rows, chosen))
    print(summary, "\n".join(summary_lines(rows, chosen)), sep="")
    print("real time: " + ", ".join(f"{k} {v:.0f}x" for k, v in factors.items()))
    print(f"Wrote {os.path.join(args.out, 'index.html')} in {time.time() - started:.0f} s")


if __name__ == "__main__":
    main()
