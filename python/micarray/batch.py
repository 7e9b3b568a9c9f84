"""Enhances many two-microphone recordings on a Dask cluster, one task per file.

    python3 -m micarray.batch INPUT... -o DIR [--scheduler ADDRESS | --workers N] [options]

Each task runs micbeam's own per-file job (formats, rate conversion, alignment, an output that
takes its name only when complete), so the outputs are micbeam's, byte for byte. A rerun skips
outputs newer than their inputs. Exit status: 0 when every file is enhanced (or was already),
1 when any failed, 2 for a refused command line.
"""
import argparse
import contextlib
import glob
import json
import os
import sys
import tempfile
import time

from . import _micarray

EXIT_FAILED = 1
SECONDS_PER_MINUTE, SECONDS_PER_HOUR = 60, 3600
PROG = "micarray.batch"


def enhance_file(source, target, fmt, settings):
    """A task: one file through micbeam's job; its entry of micbeam's report."""
    return json.loads(_micarray._enhance_file(source, target, fmt, settings))["files"][0]


def mic_pair(text):
    try:
        pair = tuple(int(c) for c in text.split(","))
    except ValueError:
        pair = ()
    if len(pair) != 2 or min(pair) < 0 or pair[0] == pair[1]:
        raise argparse.ArgumentTypeError(f"'{text}': give two different channel numbers A,B counted from 0")
    return pair


def positive(text):
    if not text.isdigit() or int(text) == 0:
        raise argparse.ArgumentTypeError(f"'{text}' is not a positive whole number")
    return int(text)


def parse(argv):
    summary, _, details = __doc__.split("\n\n")
    p = argparse.ArgumentParser(prog=f"python3 -m {PROG}", description=summary, epilog=details)
    p.add_argument("inputs", nargs="+", help="files, directories or glob patterns ('*.wav' quoted)")
    p.add_argument("-o", "--output", required=True, help="the output directory")
    where = p.add_mutually_exclusive_group()
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="a running Dask scheduler, e.g. tcp://host:8786")
    where.add_argument("--workers", type=positive, metavar="N",
                       help="without a scheduler: N local worker processes (default: one per core)")
    p.add_argument("--engine", choices=("mvdr", "classic"), default="mvdr")
    for name, default in _micarray._tuning.items():
        p.add_argument("--" + name.replace("_", "-"), dest=name, type=float, default=default,
                       help=f"as micbeam's (default {default:g})")
    p.add_argument("--mics", type=mic_pair, default=(0, 1), metavar="A,B",
                   help="the two microphone channels of the input")
    p.add_argument("--raw", type=positive, default=0, metavar="RATE",
                   help="headerless 16-bit stereo input at RATE Hz")
    p.add_argument("--format", default="", help="output format NAME[:16|24|32|float] (default wav)")
    p.add_argument("--engine-rate", action="store_true", help="keep the output at the engine's rate")
    p.add_argument("--no-align", dest="align", action="store_false", help="the engine's raw stream")
    p.add_argument("-q", "--quiet", action="store_true", help="no progress line")
    p.add_argument("--report", metavar="FILE.json", help="per-file figures and the cluster's totals as JSON")
    return p, p.parse_intermixed_args(argv)


def settings_of(args):
    """What every task gets; refused here, before the cluster starts, as micbeam would."""
    tuning = {name: getattr(args, name) for name in _micarray._tuning}
    _micarray.Stream(_micarray.MIN_RATE, engine=args.engine, **tuning)  # raises ValueError with the reason
    return dict(tuning, engine=args.engine, mics=args.mics, raw=args.raw, engine_rate=args.engine_rate,
                align=args.align)


def expand(patterns):
    """Glob patterns to their files (sorted); files and directories as they are."""
    inputs = []
    for pattern in patterns:
        matches = sorted(glob.glob(pattern)) if glob.has_magic(pattern) else [pattern]
        if not matches:
            raise ValueError(f"{pattern}: no file matches")
        inputs += [os.path.abspath(m) for m in matches]
    return inputs


def finished(source, target):
    """An output of an earlier run: outputs appear only complete, so one newer than its input is done."""
    try:
        return os.stat(target).st_mtime_ns >= os.stat(source).st_mtime_ns
    except OSError:
        return False


def clock(seconds):
    minutes = int(seconds // SECONDS_PER_MINUTE)
    return f"{minutes}:{seconds - minutes * SECONDS_PER_MINUTE:04.1f}"


class Progress:
    """Files and audio done, speed and an estimate of the time left (from the bytes of input left)."""

    def __init__(self, sizes, shown):
        self.files, self.bytes_left, self.shown = len(sizes), sum(sizes), shown
        self.done = self.bytes_done = 0
        self.audio = 0.0
        self.start = time.monotonic()

    def add(self, size, seconds):
        self.done += 1
        self.bytes_done += size
        self.bytes_left -= size
        self.audio += seconds
        if not self.shown:
            return
        elapsed = time.monotonic() - self.start
        left = clock(elapsed * self.bytes_left / self.bytes_done) if self.bytes_done else "?"
        sys.stderr.write(f"\r{self.done}/{self.files} files  {clock(self.audio)} of audio  "
                         f"{self.audio / elapsed:.1f}x real time  {left} left\033[K")
        sys.stderr.flush()

    def finish(self):
        if self.shown and self.done:
            sys.stderr.write("\n")


def connect(stack, args):
    """A client of the given scheduler, or of a local cluster of worker processes made for this run."""
    import dask  # here, not at the top: a refused command line or --help need not wait for it
    from distributed import Client, LocalCluster
    if args.scheduler:
        client = stack.enter_context(Client(args.scheduler))
        client.wait_for_workers(1)
    else:
        # Each worker process takes one file at a time and the rest wait at the scheduler, so that
        # no file waits behind a long one while another worker is free.
        stack.enter_context(dask.config.set({"distributed.scheduler.worker-saturation": 1.0}))
        # The workers' scratch space is the run's own, removed after it.
        cluster = LocalCluster(n_workers=args.workers or os.cpu_count(), threads_per_worker=1, processes=True,
                               dashboard_address=None,
                               local_directory=stack.enter_context(tempfile.TemporaryDirectory()))
        stack.enter_context(cluster)
        client = stack.enter_context(Client(cluster))
    return client, len(client.scheduler_info()["workers"])


def run(client, todo, fmt, settings, progress):
    """Each file of todo enhanced by its own task; the report's entries as they finish."""
    from distributed import as_completed
    futures = {client.submit(enhance_file, source, target, fmt, settings, pure=False): (source, target)
               for source, target in todo}
    for future in as_completed(futures):
        source, target = futures[future]
        try:
            entry = future.result()
        except Exception as e:  # the task never finished: its workers died, or the cluster failed it
            entry = {"input": source, "output": target, "ok": False, "error": f"{type(e).__name__}: {e}"}
        entry["status"] = "enhanced" if entry["ok"] else "failed"
        progress.add(os.path.getsize(source) if os.path.exists(source) else 0, entry.get("duration_s", 0.0))
        yield entry


def write_report(args, settings, files, workers, wall, audio):
    """micbeam's report of the same settings, with these files and the cluster's totals."""
    report = json.loads(_micarray._report(settings, workers, wall))
    hours_per_minute = audio / SECONDS_PER_HOUR * SECONDS_PER_MINUTE / wall if wall else 0.0
    report.update(succeeded=sum(e["ok"] for e in files), failed=sum(not e["ok"] for e in files),
                  skipped=sum(e["status"] == "skipped" for e in files), files=files,
                  scheduler=args.scheduler or "local", audio_s=audio, audio_hours_per_minute=hours_per_minute)
    try:
        with open(args.report, "w") as f:
            json.dump(report, f, indent=2)
            f.write("\n")
        return True
    except OSError as e:
        print(f"{PROG}: cannot write the report {args.report}: {e.strerror}", file=sys.stderr)
        return False


def main(argv):
    parser, args = parse(argv)
    try:
        settings = settings_of(args)
        jobs = _micarray._plan(expand(args.inputs), os.path.abspath(args.output), args.format, args.raw)
    except ValueError as e:
        parser.error(str(e))
    entries = {source: {"input": source, "output": target, "ok": True, "error": None, "status": "skipped"}
               for source, target in jobs if finished(source, target)}
    todo = [(source, target) for source, target in jobs if source not in entries]
    if entries and not args.quiet:
        print(f"{PROG}: {len(entries)} of {len(jobs)} outputs are newer than their inputs: skipped",
              file=sys.stderr)
    workers, wall = 0, 0.0
    progress = Progress([os.path.getsize(s) for s, _ in todo if os.path.exists(s)],
                        not args.quiet and sys.stderr.isatty())
    if todo:
        with contextlib.ExitStack() as stack:
            try:
                client, workers = connect(stack, args)
            except OSError as e:  # no scheduler at that address, or it did not answer in time
                print(f"{PROG}: cannot reach the scheduler {args.scheduler or 'of a local cluster'}: {e}",
                      file=sys.stderr)
                return EXIT_FAILED
            progress.start = time.monotonic()  # the cluster's start-up is not part of the throughput
            for entry in run(client, todo, args.format, settings, progress):
                entries[entry["input"]] = entry
            wall = time.monotonic() - progress.start
    progress.finish()
    files = [entries[source] for source, _ in jobs]
    failed = [e for e in files if not e["ok"]]
    for e in failed:
        print(f"{PROG}: {e['input']}: {e['error']}", file=sys.stderr)
    if failed and len(files) > 1:
        print(f"{PROG}: {len(failed)} of {len(files)} files failed", file=sys.stderr)
    if args.report and not write_report(args, settings, files, workers, wall, progress.audio):
        return EXIT_FAILED
    return EXIT_FAILED if failed else 0


if __name__ == "__main__":
    from micarray import batch  # tasks then refer to micarray.batch, which workers import, not to __main__
    sys.exit(batch.main(sys.argv[1:]))
