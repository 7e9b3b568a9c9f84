"""Two-microphone scenes: sources placed around the array, mixed at a given SNR.

Geometry: the microphones lie on the x axis, `spacing` apart, microphone 0 on
the positive side; the array looks along +y (broadside). A source at `angle`
degrees lies in direction (sin angle, cos angle, 0), so a positive angle is
nearer microphone 0 and reaches microphone 1 later by spacing * sin(angle) / c.

Device faults act on microphone 1 only, so that microphone 0's target stays the
reference: a capsule mismatch (gain and fractional delay of everything it
receives), a dead capsule (zeros), a preamplifier driven into hard clipping,
a capsule wired with inverted polarity or a preamplifier set 20 dB too low.
"""
import dataclasses
import itertools
import math
from typing import Optional, Tuple

import numpy as np
from scipy import signal

from . import audio, room, sources

MIXTURE_LEVEL_DB = -26.0  # RMS of the mixture at microphone 0, dB full scale
PEAK_LIMIT = 0.9  # the mixture is turned down further if its peak would exceed this
CLIPPED_GAIN_DB = 30.0  # a clipped microphone 1 is this much too loud, then limited to full scale
QUIET_GAIN_DB = -20.0  # a quiet microphone 1 is this much too soft
FAULTS = ("dead", "clipped", "inverted", "quiet")


@dataclasses.dataclass(frozen=True)
class Source:
    """A sound source: what it emits and where it is."""
    signal: str  # "talker" (espeak-ng), "recording" (a recorded voice), "white" or "pink"
    angle: Optional[float] = 0.0  # degrees from broadside; None: a diffuse field
    level: float = 0.0  # dB at microphone 0, relative to the other interferers
    distance: float = 1.5  # metres from the array's centre (in a room)
    end_angle: Optional[float] = None  # moves at a steady rate from angle to this (free field)
    voice: Optional[str] = None  # a talker's espeak-ng voice or a recording's clip group


@dataclasses.dataclass(frozen=True)
class Room:
    """A shoebox room and where the array's centre stands in it (metres)."""
    dims: Tuple[float, float, float] = (6.0, 5.0, 3.0)
    rt60: float = 0.4
    centre: Tuple[float, float, float] = (2.9, 1.9, 1.3)


@dataclasses.dataclass(frozen=True)
class Scene:
    """Everything that determines a rendered scene, the seed included."""
    rate: int = 16000
    seconds: float = 6.0
    spacing: float = 0.05
    target: Optional[Source] = Source("talker", 0.0, distance=1.0)
    interferers: Tuple[Source, ...] = ()
    room: Optional[Room] = None  # None: free field
    snr: float = 5.0  # dB at microphone 0, over the whole duration
    seed: int = 1
    voices: Tuple[str, ...] = sources.VOICES  # talkers without a voice of their own take these in turn
    mismatch: Tuple[float, float] = (0.0, 0.0)  # microphone 1's gain (dB) and extra delay (samples)
    fault: Optional[str] = None  # microphone 1 "dead", "clipped", "inverted" or "quiet"


@dataclasses.dataclass
class Rendering:
    """A rendered scene; all signals share one scale (1.0 = 16-bit full scale)."""
    scene: Scene
    mixture: np.ndarray  # (n, 2), quantised to 16 bits as the engine receives it
    target: np.ndarray  # the target as received at microphone 0
    interference: np.ndarray  # everything else as received at microphone 0


def mic_offsets(spacing):
    """x coordinates of microphones 0 and 1 relative to the array's centre."""
    return np.array([spacing / 2.0, -spacing / 2.0])


def direction(angle):
    """Unit vector towards a source at angle degrees in the horizontal plane."""
    a = math.radians(angle)
    return np.array([math.sin(a), math.cos(a), 0.0])


def arrival_delays(angle, spacing, rate):
    """Delays (samples) of a far-field wave from angle at microphones 0 and 1, relative to the centre."""
    return -mic_offsets(spacing) * direction(angle)[0] / audio.SOUND_SPEED * rate


def plane_wave(x, angle, spacing, rate):
    """Far-field free-field arrival of x from angle at both microphones, (n, 2)."""
    return np.stack([audio.fractional_delay(x, d) for d in arrival_delays(angle, spacing, rate)], axis=1)


def angle_at(source, t, seconds):
    """Direction (degrees) of a source at time t of a scene lasting seconds."""
    if source.end_angle is None:
        return source.angle
    return source.angle + (source.end_angle - source.angle) * t / seconds


def moving_wave(x, source, spacing, rate):
    """Free-field arrival of x from a source moving at a steady angular rate, (n, 2)."""
    angles = angle_at(source, np.arange(len(x)) / rate, len(x) / rate)
    delays = -np.outer(np.sin(np.radians(angles)), mic_offsets(spacing)) / audio.SOUND_SPEED * rate
    return np.stack([audio.variable_delay(x, delays[:, m]) for m in (0, 1)], axis=1)


def mismatched(x, mismatch):
    """Microphone 1 of x (n, 2) with a capsule's gain (dB) and fractional delay (samples)."""
    gain_db, delay = mismatch
    if (gain_db, delay) == (0.0, 0.0):
        return x
    return np.stack([x[:, 0], 10.0 ** (gain_db / 20.0) * audio.fractional_delay(x[:, 1], delay)], axis=1)


def faulty(mixture, fault):
    """The quantised mixture with microphone 1 dead, clipped hard at full scale, inverted or too quiet."""
    if fault is None:
        return mixture
    if fault not in FAULTS:
        raise ValueError(f"unknown fault {fault!r}: expected one of {', '.join(FAULTS)}")
    # Quantising to 16 bits limits an amplified channel to full scale.
    gain = {"dead": 0.0, "clipped": 10.0 ** (CLIPPED_GAIN_DB / 20.0), "inverted": -1.0,
            "quiet": 10.0 ** (QUIET_GAIN_DB / 20.0)}[fault]
    out = mixture.copy()
    out[:, 1] = audio.from_int16(audio.to_int16(mixture[:, 1] * gain))
    return out


def diffuse_field(colour, n, rate, spacing, rng):
    """Noise from all directions: two channels with coherence sin(kd)/(kd), k = 2 pi f / c.

    Microphone 1 takes gamma of microphone 0's spectrum plus sqrt(1 - gamma^2)
    of an independent one, which gives both the same spectrum and the
    cross-spectrum gamma, bin by bin.
    """
    first = sources.noise(colour, n, rate, rng)
    other = sources.noise(colour, n, rate, rng)
    f = np.fft.rfftfreq(n, 1.0 / rate)
    gamma = np.sinc(2.0 * f * spacing / audio.SOUND_SPEED)  # numpy's sinc(u) = sin(pi u)/(pi u)
    second = np.fft.irfft(gamma * np.fft.rfft(first) + np.sqrt(1.0 - gamma ** 2) * np.fft.rfft(other), n)
    return np.stack([first, second], axis=1)


def position(r, source):
    """Where a source stands in room r (metres)."""
    return np.asarray(r.centre) + source.distance * direction(source.angle)


def inside(r, source):
    """Whether a source stands inside room r."""
    where = position(r, source)
    return bool(np.all(where > 0.0) and np.all(where < np.asarray(r.dims)))


def reverberant(x, source, scene):
    """Arrival of x from source at both microphones in the scene's room, (n, 2)."""
    r = scene.room
    centre = np.asarray(r.centre)
    if not inside(r, source):
        raise ValueError(f"source at {source.angle} degrees, {source.distance} m lies outside the room")
    where, out = position(r, source), []
    for offset in mic_offsets(scene.spacing):
        h = room.impulse_response(r.dims, where, centre + [offset, 0.0, 0.0], scene.rate, r.rt60)
        out.append(signal.fftconvolve(x, h)[:len(x)])
    return np.stack(out, axis=1)


def _emitted(source, n, scene, rng, voice):
    if source.signal == "talker":
        return sources.speech(n, scene.rate, source.voice or voice, rng)
    if source.signal == "recording":
        return sources.recorded_speech(n, scene.rate, source.voice, rng)
    return sources.noise(source.signal, n, scene.rate, rng)


def _arrival(source, index, scene, voice):
    """Both microphones' signals of one source; index selects its random stream."""
    n = int(scene.seconds * scene.rate)
    rng = np.random.default_rng([scene.seed, index])
    if source.angle is None:
        if source.signal == "talker":
            raise ValueError("a diffuse field is made of noise, not of a talker")
        return diffuse_field(source.signal, n, scene.rate, scene.spacing, rng)
    x = _emitted(source, n, scene, rng, voice)
    if source.end_angle is not None:
        if scene.room is not None:
            raise ValueError("a moving source is simulated in the free field only")
        return moving_wave(x, source, scene.spacing, scene.rate)
    if scene.room is None:
        return plane_wave(x, source.angle, scene.spacing, scene.rate)
    return reverberant(x, source, scene)


def render(scene):
    """Renders the scene, deterministically from its seed."""
    if scene.target is None and not scene.interferers:
        raise ValueError("a scene needs a target or an interferer")
    talkers = itertools.cycle(np.random.default_rng(scene.seed).permutation(scene.voices))
    everything = ([scene.target] if scene.target else []) + list(scene.interferers)
    arrivals = [mismatched(_arrival(s, i, scene, next(talkers) if s.signal == "talker" else None),
                           scene.mismatch) for i, s in enumerate(everything)]
    target = arrivals.pop(0) if scene.target else np.zeros_like(arrivals[0])
    interference = np.zeros_like(target)
    for source, a in zip(scene.interferers, arrivals):
        interference += a * math.sqrt(10.0 ** (source.level / 10.0) / audio.power(a[:, 0]))
    if scene.target and scene.interferers:
        interference *= math.sqrt(audio.power(target[:, 0]) / audio.power(interference[:, 0])
                                  / 10.0 ** (scene.snr / 10.0))
    mixture = target + interference
    scale = min(10.0 ** (MIXTURE_LEVEL_DB / 20.0) / math.sqrt(audio.power(mixture[:, 0])),
                PEAK_LIMIT / np.max(np.abs(mixture)))
    return Rendering(scene, faulty(audio.from_int16(audio.to_int16(mixture * scale)), scene.fault),
                     target[:, 0] * scale, interference[:, 0] * scale)


def write(rendering, prefix):
    """Writes prefix.wav (stereo mixture), prefix_target.wav and prefix_interference.wav."""
    rate = rendering.scene.rate
    audio.write_wav(f"{prefix}.wav", rate, rendering.mixture)
    audio.write_wav(f"{prefix}_target.wav", rate, rendering.target)
    audio.write_wav(f"{prefix}_interference.wav", rate, rendering.interference)
