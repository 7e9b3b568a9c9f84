"""micarray.batch on a real Dask cluster (a scheduler and two worker processes) against micbeam.

Run by CTest with PYTHONPATH (the built package) and MICBEAM set. Two inputs are named pipes that
the test feeds only once both workers are reading one: the test then kills one worker in the
middle of its file, and the file must still come out, on the other worker.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import wave

import numpy as np
from distributed import Client

DEADLINE = 60  # seconds any one wait may take before the test gives up
POLL = 0.05
# Passed to both programs: not the defaults, a channel swap and another container.
OPTIONS = ["--engine", "classic", "--suppression", "-20", "--mics", "1,0", "--format", "flac"]
RATES = {"f0": 16000, "f1": 48000, "f2": 44100, "f3": 8000, "f4": 32000, "slow1": 16000, "slow2": 22050}
PIPES = ("slow1", "slow2")
# Every figure of micbeam's per-file report but the paths and the times taken.
FIGURES = ("duration_s", "rate", "engine_rate", "output_rate", "input_frames", "output_frames", "peak",
           "clipped", "input_clipped", "ok")


def wav_bytes(rate, seed):
    """Two seconds of stereo noise with a tone in both channels, one channel a little late."""
    rng = np.random.default_rng(seed)
    t = np.arange(2 * rate) / rate
    tone = 8000 * np.sin(2 * np.pi * 440 * t)
    x = np.stack([tone, np.roll(tone, 2)], axis=1) + rng.normal(0, 2000, (len(t), 2))
    path = tempfile.mktemp()
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(x.astype("<i2").tobytes())
    with open(path, "rb") as f:
        data = f.read()
    os.remove(path)
    return data


def open_when_read(pipe, held):
    """Opens the pipe to write, without waiting, once someone opens it to read; held open, the
    reader then waits for data (closed, it would read an empty file)."""
    if pipe not in held:
        try:
            held[pipe] = os.open(pipe, os.O_WRONLY | os.O_NONBLOCK)
        except OSError:
            pass
    return pipe in held


def feed(pipe, fd, data):
    """Writes a file's bytes into a named pipe; again to the next reader when the reader died."""
    os.set_blocking(fd, True)
    while True:
        try:
            done = 0
            while done < len(data):
                done += os.write(fd, data[done:])
            os.close(fd)
            return
        except BrokenPipeError:
            os.close(fd)
            fd = os.open(pipe, os.O_WRONLY)


def load(path):
    with open(path) as f:
        return json.load(f)


def wait_for(condition, what):
    end = time.monotonic() + DEADLINE
    while not condition():
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(POLL)


class Batch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.processes = []

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def start(self, *args, env=None):
        p = subprocess.Popen([sys.executable, "-m", *args], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (p.kill(), p.wait()))
        return p

    def batch(self, *args):
        return subprocess.run([sys.executable, "-m", "micarray.batch", self.path("in", "*.wav"), "-o",
                               self.path("out"), *OPTIONS, *args], capture_output=True, text=True,
                              timeout=DEADLINE)

    def test_cluster_outputs_are_micbeams_despite_a_killed_worker_and_a_rerun_redoes_nothing(self):
        data = {name: wav_bytes(rate, seed) for seed, (name, rate) in enumerate(RATES.items())}
        for d in ("in", "ref"):
            os.mkdir(self.path(d))
        for name, b in data.items():
            with open(self.path("ref", name + ".wav"), "wb") as f:
                f.write(b)
            if name in PIPES:
                os.mkfifo(self.path("in", name + ".wav"))
            elif name != "f4":  # arrives before the rerun
                shutil.copy(self.path("ref", name + ".wav"), self.path("in"))
        with open(self.path("in", "bad.wav"), "w") as f:
            f.write("RIFF but no wave")
        subprocess.run([os.environ["MICBEAM"], self.path("ref"), "-o", self.path("ref_out"), "-q",
                        "--report", self.path("ref.json"), *OPTIONS], check=True)
        micbeam = {os.path.basename(e["input"]): e for e in load(self.path("ref.json"))["files"]}

        def check_outputs(names):
            self.assertEqual(sorted(os.listdir(self.path("out"))), sorted(n + ".flac" for n in names))
            for n in names:
                with open(self.path("out", n + ".flac"), "rb") as a:
                    with open(self.path("ref_out", n + ".flac"), "rb") as b:
                        self.assertTrue(a.read() == b.read(), n)

        def statuses(report):
            return {os.path.basename(e["input"]): e["status"] for e in report["files"]}

        # A scheduler whose workers take one file at a time, and two workers without nannies.
        scheduler_file = self.path("scheduler.json")
        self.start("distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                   "--scheduler-file", scheduler_file,
                   env=dict(os.environ, DASK_DISTRIBUTED__SCHEDULER__WORKER_SATURATION="1.0"))
        wait_for(lambda: os.path.exists(scheduler_file), "the scheduler")
        workers = [self.start("distributed.cli.dask_worker", "--scheduler-file", scheduler_file, "--nthreads",
                              "1", "--no-nanny", "--no-dashboard", "--host", "127.0.0.1") for _ in range(2)]
        with Client(scheduler_file=scheduler_file) as client:
            address = client.scheduler.address
            client.wait_for_workers(2, timeout=DEADLINE)

        run = subprocess.Popen([sys.executable, "-m", "micarray.batch", self.path("in", "*.wav"), "-o",
                                self.path("out"), "--scheduler", address, "--report", self.path("run1.json"),
                                *OPTIONS], stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (run.kill(), run.wait()))
        pipes = [self.path("in", name + ".wav") for name in PIPES]
        # Each worker runs one file at a time: a reader on both pipes means both are busy with one.
        held = {}
        wait_for(lambda: all([open_when_read(p, held) for p in pipes]), "a worker on each named pipe")
        workers[0].kill()
        workers[0].wait()
        feeders = [threading.Thread(target=feed, args=(p, held[p], data[n]), daemon=True)
                   for p, n in zip(pipes, PIPES)]
        for t in feeders:
            t.start()
        err = run.communicate(timeout=DEADLINE)[1]
        self.assertEqual(run.returncode, 1)
        self.assertIn("bad.wav: not a readable audio file", err)
        self.assertIn("1 of 7 files failed", err)
        check_outputs(["f0", "f1", "f2", "f3", *PIPES])
        report = load(self.path("run1.json"))
        self.assertEqual((report["workers"], report["succeeded"], report["failed"]), (2, 6, 1))
        self.assertEqual(statuses(report),
                         {"bad.wav": "failed", **{n + ".wav": "enhanced" for n in RATES if n != "f4"}})
        for e in report["files"][1:]:
            reference = micbeam[os.path.basename(e["input"])]
            self.assertEqual({k: e[k] for k in FIGURES}, {k: reference[k] for k in FIGURES})
        self.assertGreater(report["audio_hours_per_minute"], 0)

        # A rerun on a local cluster: a new file and an input changed since are enhanced, nothing else.
        os.remove(self.path("in", "bad.wav"))
        shutil.copy(self.path("ref", "f4.wav"), self.path("in"))
        os.utime(self.path("in", "f0.wav"))
        before = {n: os.stat(self.path("out", n)).st_mtime_ns for n in os.listdir(self.path("out"))}
        rerun = self.batch("--workers", "2", "--report", self.path("run2.json"))
        self.assertEqual(rerun.returncode, 0, rerun.stderr)
        check_outputs(RATES)
        report = load(self.path("run2.json"))
        self.assertEqual(statuses(report),
                         {n + ".wav": "enhanced" if n in ("f0", "f4") else "skipped" for n in RATES})
        for n, t in before.items():
            self.assertEqual(os.stat(self.path("out", n)).st_mtime_ns != t, n == "f0.flac", n)

    def test_refusals_before_any_cluster_starts(self):
        os.mkdir(self.path("in"))
        with open(self.path("in", "a.wav"), "wb") as f:
            f.write(wav_bytes(16000, 0))
        for args, message in ((["--distance", "0"], "distance = 0"),
                              (["--engine", "classic", "--angle", "30"], "straight ahead only"),
                              (["--mics", "1,1"], "two different channel numbers"),
                              (["--format", "mp9"], "unknown format 'mp9'"),
                              (["--scheduler", "tcp://127.0.0.1:1", "--workers", "2"], "not allowed with"),
                              ([self.path("none", "*.wav")], "no file matches")):
            r = self.batch(*args)
            self.assertEqual(r.returncode, 2, args)
            self.assertIn(message, r.stderr)
        self.assertFalse(os.path.exists(self.path("out")))


if __name__ == "__main__":
    unittest.main()
