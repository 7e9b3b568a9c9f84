"""Runs the engine's raw-PCM program over a stereo signal, as a user would."""
import dataclasses
import importlib.util
import os
import subprocess
import tempfile

import numpy as np

from . import ROOT, audio

DEFAULT_PCMBEAM = os.path.join(ROOT, "build", "pcmbeam", "pcmbeam")


@dataclasses.dataclass(frozen=True)
class Tuning:
    """The program's tuning values (microphone spacing comes from the scene)."""
    speed: float = 0.07  # adaptation speed of the direction detector
    suppression_db: float = -15.0  # deepest suppression of the post-filter
    noise_rate: float = 0.90  # noise adaptation rate
    smoothing: float = 0.98  # musical-noise smoothing


def _frame_plan():
    """The engine's frame plan, (highest rate, frame length) per row, from its table generator."""
    found = importlib.util.spec_from_file_location("gentables", os.path.join(ROOT, "src", "gentables.py"))
    gentables = importlib.util.module_from_spec(found)
    found.loader.exec_module(gentables)
    return gentables.FRAME_PLAN


FRAME_PLAN = _frame_plan()


def step_size(rate):
    """Samples per engine step: a quarter of the frame of the first plan row that holds the rate."""
    frame = next(frame for max_rate, frame in FRAME_PLAN if max_rate == 0 or rate <= max_rate)
    return frame // 4


def latency(rate):
    """The engine's output delay: three steps."""
    return 3 * step_size(rate)


def command_line(program, rate, spacing, tuning, inp, out):
    """The program's eight arguments, after its name."""
    return [program, repr(spacing), repr(tuning.speed), repr(tuning.suppression_db), repr(tuning.noise_rate),
            repr(tuning.smoothing), str(rate), inp, out]


def run(stereo, rate, spacing, program=DEFAULT_PCMBEAM, tuning=Tuning(), runner=()):
    """Enhances stereo (n, 2) floats through the program; returns its mono output as floats.

    runner is a command prefix (an emulator, for instance) for the program.
    """
    with tempfile.TemporaryDirectory() as tmp:
        inp, out = os.path.join(tmp, "in.pcm"), os.path.join(tmp, "out.pcm")
        audio.to_int16(stereo).astype("<i2").tofile(inp)
        args = [*runner, *command_line(program, rate, spacing, tuning, inp, out)]
        done = subprocess.run(args, capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(args)} failed ({done.returncode}): {done.stdout.strip()}")
        return audio.from_int16(np.fromfile(out, dtype="<i2"))
