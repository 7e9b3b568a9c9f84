"""The enhancement systems the report compares, each run as a separate program over a scene.

Every system gets the same 16-bit stereo mixture and returns a mono signal; scoring
aligns it afterwards. A system whose program is not built, or that cannot handle a
scene (a rate it refuses, a target it cannot be steered to), is skipped with a reason.
"""
import dataclasses
import os
import subprocess
import tempfile
import time
from typing import Callable, Optional, Tuple

import numpy as np

from . import ROOT, audio, engine

BUILD = os.path.join(ROOT, "build")
NODE_PEERS = os.path.join(ROOT, "eval", "peers")  # peers that run in Node, with their npm modules
CLASSIC_RATES = (8000, 16000, 32000)  # the classic engine's native rates
PEER_RATES = (8000, 16000, 32000, 48000)  # the WebRTC library's native rates


@dataclasses.dataclass(frozen=True)
class System:
    key: str  # short name for command lines and file names
    name: str  # shown in tables and charts
    program: str  # path of its program
    arguments: Callable  # (program, scene, input path, output path) -> argv
    wav: bool = False  # WAV files in and out (else raw 16-bit PCM)
    rates: Tuple[int, ...] = PEER_RATES
    steerable: bool = True  # can be told the target's angle
    how: str = ""  # one line saying what it is
    needs: str = ""  # a path besides the program that must exist (an installed module)


def _angle(scene):
    return scene.target.angle if scene.target else 0.0


def _micbeam(engine_name):
    def arguments(program, scene, inp, out):
        return [program, "--engine", engine_name, "--angle", repr(_angle(scene)), "--distance",
                repr(scene.spacing), "-j", "1", "-q", inp, "-o", out]
    return arguments


def _pcmbeam(program, scene, inp, out):
    return engine.command_line(program, scene.rate, scene.spacing, engine.Tuning(), inp, out)


def _webrtc(mode):
    def arguments(program, scene, inp, out):
        return [program, str(scene.rate), repr(scene.spacing), repr(_angle(scene)), mode, inp, out]
    return arguments


def _mono(program, scene, inp, out):
    return [program, str(scene.rate), inp, out]


def standard(build=BUILD, pcmbeam=None, micbeam=None):
    """Every system of the report, in the order of its tables."""
    micbeam = micbeam or os.path.join(build, "micbeam", "micbeam")
    peers = os.path.join(build, "eval", "peers")
    return (
        System("mvdr", "MVDR engine", micbeam, _micbeam("mvdr"), wav=True,
               how="micbeam --engine mvdr --angle DEG --distance M"),
        System("classic", "classic engine", pcmbeam or os.path.join(build, "pcmbeam", "pcmbeam"), _pcmbeam,
               rates=CLASSIC_RATES, steerable=False, how="pcmbeam with its default tuning"),
        System("webrtc", "WebRTC beamformer", os.path.join(peers, "webrtc_beam"), _webrtc("plain"),
               how="WebRTC audio processing 0.3, beamforming steered to the target"),
        System("webrtc_ns", "WebRTC beamformer + NS", os.path.join(peers, "webrtc_beam"), _webrtc("ns"),
               how="the same followed by its noise suppression"),
        System("speex", "SpeexDSP denoise (mic 0)", os.path.join(peers, "speex_denoise"), _mono,
               how="SpeexDSP preprocessor noise suppression on microphone 0"),
        System("rnnoise", "RNNoise (mic 0)", os.path.join(NODE_PEERS, "rnnoise_denoise.mjs"), _mono,
               needs=os.path.join(NODE_PEERS, "node_modules", "@jitsi", "rnnoise-wasm"),
               how="RNNoise 0.2 (npm's @jitsi/rnnoise-wasm) on microphone 0, resampled to 48 kHz and back"),
    )


def missing(system):
    """Why the system cannot run on this machine, or None."""
    if not os.access(system.program, os.X_OK):
        return f"{system.name}: {os.path.relpath(system.program, ROOT)} is not built, so it is left out"
    if system.needs and not os.path.exists(system.needs):
        return (f"{system.name}: {os.path.relpath(system.needs, ROOT)} is not installed "
                "(scripts/setup.sh installs it), so it is left out")
    return None


def refusal(system, scene) -> Optional[str]:
    """Why the system does not apply to the scene, or None."""
    if scene.rate not in system.rates:
        return f"runs at {', '.join(str(r // 1000) for r in system.rates)} kHz only"
    if not system.steerable and _angle(scene) != 0.0:
        return "assumes the target straight ahead and cannot be told its angle"
    return None


def run(system, mixture, scene):
    """The system's mono output for a stereo (n, 2) mixture, and the seconds its program took."""
    with tempfile.TemporaryDirectory() as tmp:
        suffix = ".wav" if system.wav else ".pcm"
        inp, out = os.path.join(tmp, "in" + suffix), os.path.join(tmp, "out" + suffix)
        if system.wav:
            audio.write_wav(inp, scene.rate, mixture)
        else:
            audio.to_int16(mixture).astype("<i2").tofile(inp)
        args = system.arguments(system.program, scene, inp, out)
        started = time.perf_counter()
        done = subprocess.run(args, capture_output=True, text=True)
        seconds = time.perf_counter() - started
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(args)} failed ({done.returncode}): "
                               f"{(done.stderr or done.stdout).strip()}")
        if system.wav:
            return audio.read_wav(out, any_format=True)[1], seconds
        return audio.from_int16(np.fromfile(out, dtype="<i2")), seconds
