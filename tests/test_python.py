"""The Python module against pcmbeam on the same samples, and micarray.batch on a real Dask cluster
against micbeam (run by CTest: PYTHONPATH, PCMBEAM, MICBEAM and VECTOR_DIR set).

Two of the batch's inputs are named pipes, fed only once a worker reads each of them: one worker is
then killed in the middle of its file, which must still come out, from the other worker.
"""
import io
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

import micarray

def pcmbeam(stereo, rate, tuning):
    """pcmbeam's output for an (n, 2) int16 array."""
    with tempfile.TemporaryDirectory() as d:
        src, dst = os.path.join(d, "in.pcm"), os.path.join(d, "out.pcm")
        stereo.astype("<i2").tofile(src)
        args = [str(tuning[k]) for k in ("distance", "speed", "suppression", "noise_rate", "musical")]
        subprocess.run([os.environ["PCMBEAM"], *args, str(rate), src, dst], check=True, stdout=subprocess.DEVNULL)
        return np.fromfile(dst, dtype="<i2")


def talker(name="talker_16k"):
    return np.fromfile(os.path.join(os.environ["VECTOR_DIR"], name + ".in.pcm"), dtype="<i2").reshape(-1, 2)


DEFAULTS = dict(distance=0.05, speed=0.07, suppression=-15, noise_rate=0.9, musical=0.98)


class Enhance(unittest.TestCase):
    def test_raw_stream_is_pcmbeams_output_and_aligned_three_steps_earlier(self):
        custom = dict(distance=0.1, speed=0.2, suppression=-30, noise_rate=0.8, musical=0.7)
        for rate, x, tuning in ((16000, talker()[:-37], DEFAULTS), (8000, talker("talker_8k"), custom)):
            raw = micarray.enhance(x, rate, engine="classic", align=False, **tuning)
            self.assertEqual(raw.dtype, np.int16)
            np.testing.assert_array_equal(raw, pcmbeam(x, rate, tuning))  # a short final step dropped by both
            delay = 3 * micarray.Stream(rate, engine="classic").step
            padded = np.concatenate([x, np.zeros((2 * delay, 2), np.int16)])
            np.testing.assert_array_equal(micarray.enhance(x, rate, engine="classic", **tuning),
                                          pcmbeam(padded, rate, tuning)[delay:delay + len(x)])

    def test_refusals(self):
        x = talker()[:1000]
        for error, message, call in (
                (ValueError, "Distance between sensors", lambda: micarray.enhance(x, 16000, distance=0)),
                (ValueError, r"shape \(n, 2\)", lambda: micarray.enhance(np.zeros((100, 3), np.int16), 16000)),
                (TypeError, "int16, float32 or float64", lambda: micarray.enhance(x.astype(np.int32), 16000))):
            with self.assertRaisesRegex(error, message):
                call()

    def test_blocks_of_any_size_and_type_and_a_new_recording_after_flush(self):
        """Float blocks (1.0 is full scale) come back as the same type."""
        x, s = talker()[:20000], micarray.Stream(16000, suppression=-20)
        expected = micarray.enhance(x, 16000, suppression=-20)
        for dtype, scale in ((np.int16, 1), (np.float32, 32768), (np.float64, 32768)):
            blocks = [s.process((x[i:i + 777] / scale).astype(dtype)) for i in range(0, len(x), 777)]
            out = np.concatenate(blocks + [s.flush()])
            self.assertEqual(out.dtype, dtype)
            np.testing.assert_array_equal(out * scale, expected)



DEADLINE = 60  # seconds any one wait may take
# Passed to both programs: not the defaults, a channel swap and another container.
OPTIONS = ["--engine", "classic", "--suppression", "-20", "--mics", "1,0", "--format", "flac"]
RATES = {"f0": 16000, "f1": 48000, "f2": 44100, "f3": 8000, "f4": 32000, "pipe1": 16000, "pipe2": 22050}
PIPES = ("pipe1", "pipe2")


def wav_bytes(rate, seed):
    """Two seconds of stereo noise as a 16-bit WAV file."""
    samples = np.random.default_rng(seed).normal(0, 3000, (2 * rate, 2)).astype("<i2")
    f = io.BytesIO()
    with wave.open(f, "wb") as w:
        w.setparams((2, 2, rate, 0, "NONE", ""))
        w.writeframes(samples.tobytes())
    return f.getvalue()


def open_when_read(pipe, held):
    """Opens the pipe to write without waiting, which works once a reader has opened it; held
    open, that reader then waits for data."""
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
            view = memoryview(data)
            while view:
                view = view[os.write(fd, view):]
            return os.close(fd)
        except BrokenPipeError:
            os.close(fd)
            fd = os.open(pipe, os.O_WRONLY)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def wait_for(condition, what):
    end = time.monotonic() + DEADLINE
    while not condition():
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class Batch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def start(self, *args, **popen):
        p = subprocess.Popen([sys.executable, "-m", *args], **popen)
        self.addCleanup(lambda: (p.kill(), p.wait()))
        return p

    def batch(self, *args, report="report.json", **popen):
        return self.start("micarray.batch", self.path("in", "*.wav"), "-o", self.path("out"), *OPTIONS,
                          "--report", self.path(report), *args, stderr=subprocess.PIPE, text=True, **popen)

    def finish(self, run, status):
        """The run's statuses per file, after checking its exit status and its outputs against micbeam's."""
        err = run.communicate(timeout=DEADLINE)[1]
        self.assertEqual(run.returncode, status, err)
        report = json.loads(read(run.args[run.args.index("--report") + 1]))
        for e in filter(lambda e: e["ok"], report["files"]):
            name = os.path.basename(e["output"])
            self.assertTrue(read(e["output"]) == read(self.path("ref_out", name)), name)
        return err, report, {os.path.basename(e["input"]): e["status"] for e in report["files"]}

    def test_outputs_are_micbeams_despite_a_killed_worker_and_a_rerun_redoes_nothing(self):
        os.mkdir(self.path("in"))
        os.mkdir(self.path("ref"))
        data = {name: wav_bytes(rate, seed) for seed, (name, rate) in enumerate(RATES.items())}
        for name, b in data.items():
            with open(self.path("ref", name + ".wav"), "wb") as f:
                f.write(b)
            if name in PIPES:
                os.mkfifo(self.path("in", name + ".wav"))
            elif name != "f4":  # arrives before the rerun
                shutil.copy(self.path("ref", name + ".wav"), self.path("in"))
        with open(self.path("in", "bad.wav"), "w") as f:
            f.write("RIFF but no wave")
        subprocess.run([os.environ["MICBEAM"], self.path("ref"), "-o", self.path("ref_out"), "-q", *OPTIONS],
                       check=True)

        # A scheduler that gives each worker one file at a time, and two workers without nannies.
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        scheduler_file = self.path("scheduler.json")
        self.start("distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                   "--scheduler-file", scheduler_file, **quiet,
                   env=dict(os.environ, DASK_DISTRIBUTED__SCHEDULER__WORKER_SATURATION="1.0"))
        workers = [self.start("distributed.cli.dask_worker", "--scheduler-file", scheduler_file, "--nthreads",
                              "1", "--no-nanny", "--no-dashboard", "--host", "127.0.0.1",
                              "--local-directory", self.dir, **quiet)
                   for _ in range(2)]
        with Client(scheduler_file=scheduler_file) as client:
            client.wait_for_workers(2, timeout=DEADLINE)
            run = self.batch("--scheduler", client.scheduler.address)
        # A reader on both pipes: each worker is in the middle of one of them.
        pipes, held = [self.path("in", name + ".wav") for name in PIPES], {}
        wait_for(lambda: all([open_when_read(p, held) for p in pipes]), "a worker on each named pipe")
        workers[0].kill()
        workers[0].wait()
        for p, name in zip(pipes, PIPES):
            threading.Thread(target=feed, args=(p, held[p], data[name]), daemon=True).start()
        err, report, statuses = self.finish(run, 1)
        self.assertIn("bad.wav: not a readable audio file", err)
        self.assertIn("1 of 7 files failed", err)
        self.assertEqual(statuses,
                         {"bad.wav": "failed", **{n + ".wav": "enhanced" for n in RATES if n != "f4"}})
        self.assertEqual((report["workers"], report["succeeded"], report["failed"]), (2, 6, 1))
        self.assertGreater(report["audio_hours_per_minute"], 0)

        # A rerun on a local cluster: a new file and an input changed since are enhanced, nothing else.
        os.remove(self.path("in", "bad.wav"))
        shutil.copy(self.path("ref", "f4.wav"), self.path("in"))
        os.utime(self.path("in", "f0.wav"))
        before = {n: os.stat(self.path("out", n)).st_mtime_ns for n in os.listdir(self.path("out"))}
        _, _, statuses = self.finish(self.batch("--workers", "2", report="rerun.json"), 0)
        self.assertEqual(statuses,
                         {n + ".wav": "enhanced" if n in ("f0", "f4") else "skipped" for n in RATES})
        self.assertEqual(sorted(os.listdir(self.path("out"))), sorted(os.listdir(self.path("ref_out"))))
        for n, t in before.items():
            self.assertEqual(os.stat(self.path("out", n)).st_mtime_ns != t, n == "f0.flac", n)



if __name__ == "__main__":
    unittest.main()
