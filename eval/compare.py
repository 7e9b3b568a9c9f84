"""Runs every system over a scene set and prints ΔSI-SDR / ΔSTOI against microphone 0.

    /usr/bin/python3 -m eval.compare [--set tuning|report|rooms|steering] [--seed N] [--systems mvdr,webrtc] [--seconds S]
                                     [--spacing M] [--angle DEG]

scripts/tune.sh builds the programs and runs the tuning set this way. The report
(eval.report) runs the held-out set through the same functions.
"""
import argparse
import dataclasses
import multiprocessing
import os
import statistics
import time

from . import audio, metrics, plots, scene, sets, systems

BASELINE = "mic0"  # every improvement is measured against unprocessed microphone 0
REFERENCE_PEER = "webrtc"  # the summary counts the scenes where a system beats this one
WORKERS = 2  # scenes rendered and run at once (the machines have two cores)
SCORED = ("si_sdr", "stoi")
TIMING_SECONDS = 60.0  # of audio, for the real-time factors


def run_scene(entry, chosen, out_dir=None, slug=None):
    """Renders one scene, runs every chosen system, scores them against microphone 0.

    With out_dir, also writes the files to listen to (slug_*.wav) and the scene's
    spectrograms (slug.png). Returns a row: the family, the name, the scores.
    """
    family, name, s = entry
    r = scene.render(s)
    outputs, skipped = {}, {}
    for system in chosen:
        reason = systems.missing(system) or systems.refusal(system, s)
        if reason is None:
            try:
                outputs[system.key] = systems.run(system, r.mixture, s)[0]
            except RuntimeError as error:
                reason = str(error)
        if reason is not None:
            skipped[system.key] = reason
    signals = {BASELINE: r.mixture[:, 0], **outputs}
    results = metrics.evaluate(r.target, signals, s.rate, over=(BASELINE,))
    row = {"family": family, "name": name, "rate": s.rate, "results": results,
           "over_mic0": metrics.improvements(results, BASELINE), "skipped": skipped}
    if out_dir is not None:
        row["files"] = _write_listening(out_dir, slug, r, outputs)
        row["image"] = f"{slug}.png"
        labels = {system.key: system.name for system in chosen}
        panels = [("microphone 0 (input)", r.mixture[:, 0]), ("clean target at microphone 0", r.target)]
        panels += [(labels[k], y[max(0, results[k]["lag"]):]) for k, y in outputs.items()]
        plots.spectrograms(os.path.join(out_dir, row["image"]), s.rate, panels, name)
    return row


def _write_listening(out_dir, slug, rendering, outputs):
    rate = rendering.scene.rate
    files = {"input": f"{slug}_input.wav", "target": f"{slug}_target.wav"}
    audio.write_wav(os.path.join(out_dir, files["input"]), rate, rendering.mixture)
    audio.write_wav(os.path.join(out_dir, files["target"]), rate, rendering.target)
    for key, y in outputs.items():
        files[key] = f"{slug}_{key}.wav"
        audio.write_wav(os.path.join(out_dir, files[key]), rate, y)
    return files


_JOB = {}  # what the worker processes inherit when they are forked


def _work(index):
    entry, slug = _JOB["entries"][index], f"scene{index:02d}"
    return run_scene(entry, _JOB["systems"], _JOB["out_dir"], slug)


def run_set(entries, chosen, out_dir=None, progress=print):
    """Rows of run_scene for every entry, WORKERS at a time, in order."""
    _JOB.update(entries=entries, systems=chosen, out_dir=out_dir)
    rows = []
    with multiprocessing.get_context("fork").Pool(min(WORKERS, len(entries))) as pool:
        for row in pool.imap(_work, range(len(entries))):
            rows.append(row)
            progress(f"{len(rows):2d}/{len(entries)} {row['name']}")
    return rows


def real_time_factors(chosen, seconds=TIMING_SECONDS):
    """Seconds of audio per second of each system's program over one long 16 kHz noise scene.

    The systems run one after the other on an otherwise idle pool, so that they
    do not share the cores; the program's start-up is included.
    """
    s = scene.Scene(seconds=seconds, target=None, interferers=(scene.Source("white", 60.0),))
    mixture = scene.render(s).mixture
    out = {}
    for system in chosen:
        if not (systems.missing(system) or systems.refusal(system, s)):
            out[system.key] = seconds / systems.run(system, mixture, s)[1]
    return out


def versus(rows, key, other=REFERENCE_PEER, metric="si_sdr"):
    """(wins, scenes, median difference) of a system's improvement over another's, where both ran."""
    differences = [row["over_mic0"][key][metric] - row["over_mic0"][other][metric]
                   for row in rows if key in row["results"] and other in row["results"]]
    if not differences:
        return 0, 0, float("nan")
    return sum(d > 0 for d in differences), len(differences), statistics.median(differences)


def table(rows, chosen):
    """Text table: one line per scene, ΔSI-SDR dB / ΔSTOI per system (n/a where it did not run)."""
    width = max(len(row["name"]) for row in rows)
    cell = 16
    lines = [f"{'scene':<{width}}" + "".join(f"{system.key:>{cell}}" for system in chosen),
             f"{'(ΔSI-SDR dB / ΔSTOI vs mic 0)':<{width}}" + " " * cell * len(chosen)]
    for row in rows:
        cells = []
        for system in chosen:
            d = row["over_mic0"].get(system.key)
            cells.append(f"{d['si_sdr']:+.2f}/{d['stoi']:+.3f}" if d else "n/a")
        lines.append(f"{row['name']:<{width}}" + "".join(f"{c:>{cell}}" for c in cells))
    medians = [median_of(rows, system.key) for system in chosen]
    lines.append(f"{'median':<{width}}" + "".join(
        f"{m['si_sdr']:+.2f}/{m['stoi']:+.3f}".rjust(cell) if m else "n/a".rjust(cell) for m in medians))
    return "\n".join(line.rstrip() for line in lines)


def median_of(rows, key):
    """Median improvement of one system over the rows where it ran, or None."""
    ran = [row["over_mic0"][key] for row in rows if key in row["over_mic0"]]
    return {m: statistics.median(r[m] for r in ran) for m in SCORED} if ran else None


def choose(keys, every):
    """The systems named in a comma-separated list (all when empty)."""
    if not keys:
        return every
    by_key = {system.key: system for system in every}
    unknown = [k for k in keys.split(",") if k not in by_key]
    if unknown:
        raise SystemExit(f"unknown system {', '.join(unknown)}: choose from {', '.join(by_key)}")
    return tuple(by_key[k] for k in keys.split(","))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    drawn = {name.split("_")[1]: function for name, function in sets.DRAWN.items()}
    parser.add_argument("--set", choices=sorted(sets.SETS) + sorted(drawn), default="tuning",
                        help="rooms, steering, diffuse: random off-axis rooms, steering checks or diffuse noise drawn from --seed")
    parser.add_argument("--seed", type=int, default=7, help="of the random scenes")
    parser.add_argument("--systems", default="", help="comma-separated keys (default: all)")
    parser.add_argument("--seconds", type=float, default=sets.SECONDS, help="length of every scene")
    parser.add_argument("--build", default=systems.BUILD, help="the build directory with the programs")
    parser.add_argument("--spacing", type=float, help="every scene's microphone spacing (m) instead of its own")
    parser.add_argument("--angle", type=float, help="every scene's talker direction (degrees from broadside) instead of its own")
    args = parser.parse_args(argv)
    chosen = choose(args.systems, systems.standard(args.build))
    for system in chosen:
        if systems.missing(system):
            print(systems.missing(system))
    started = time.time()
    entries = (drawn[args.set](args.seed, seconds=args.seconds) if args.set in drawn
               else sets.scenes(sets.SETS[args.set], args.seconds))
    if args.spacing is not None and args.spacing <= 0.0:
        parser.error("--spacing must be above 0")
    if args.spacing:
        entries = [(family, f"{name}, {args.spacing * 100:g} cm", dataclasses.replace(s, spacing=args.spacing))
                   for family, name, s in entries]
    if args.angle is not None:
        if not -90.0 <= args.angle <= 90.0:
            parser.error("--angle must lie in [-90, 90]")
        entries = [(family, f"{name}, talker at {args.angle:g}°",
                    dataclasses.replace(s, target=dataclasses.replace(s.target, angle=args.angle)))
                   for family, name, s in entries if s.target]
    rows = run_set(entries, chosen,
                   progress=lambda line: print(line, flush=True))
    print(table(rows, chosen))
    for system in chosen:
        if system.key != REFERENCE_PEER:
            wins, count, median = versus(rows, system.key)
            if count:
                print(f"{system.name}: beats the WebRTC beamformer on {wins} of {count} scenes, "
                      f"median {median:+.2f} dB ΔSI-SDR")
    print(f"{len(rows)} scenes in {time.time() - started:.0f} s")


if __name__ == "__main__":
    main()
