"""Shoebox room impulse responses by the image-source method."""
import functools
import math

import numpy as np
from scipy import optimize, signal

from . import audio

SINC_HALF_WIDTH = 16  # taps on each side of a fractionally delayed image
# All images add with the same sign, so the dense late tail piles up at 0 Hz;
# a high-pass removes that offset, which no real room has, and the rumble below
# 100 Hz that devices' input filters remove too.
HIGHPASS_HZ, HIGHPASS_ORDER = 100.0, 2
FIT_TOP_DB, FIT_BOTTOM_DB = -5.0, -35.0  # decay range of the T30 estimate
CALIBRATION_RATE = 8000  # time resolution of the energy envelope used to set the walls
# Source and receiver used to set the walls, as fractions of the room's sides
# (away from the centre, where a symmetric room would give degenerate paths).
CALIBRATION_SOURCE = (0.31, 0.43, 0.47)
CALIBRATION_RECEIVER = (0.64, 0.58, 0.52)


def _images(dims, source, mic, reach):
    """Delays (s), distances (m) and reflection counts of the images within reach metres."""
    axes = []
    for length, s in zip(dims, source):
        top = int(math.ceil(reach / (2.0 * length))) + 1
        n = np.arange(-top, top + 1)
        # Along one axis an image lies at 2nL + s (2|n| reflections) or 2nL - s (|2n - 1|).
        position = np.concatenate([2.0 * n * length + s, 2.0 * n * length - s])
        count = np.concatenate([np.abs(2 * n), np.abs(2 * n - 1)])
        axes.append((position, count))
    positions = np.meshgrid(*(a[0] for a in axes), indexing="ij")
    counts = sum(np.meshgrid(*(a[1] for a in axes), indexing="ij"))
    distance = np.sqrt(sum(np.square(p - m) for p, m in zip(positions, mic))).ravel()
    keep = distance < reach
    return distance[keep] / audio.SOUND_SPEED, distance[keep], counts.ravel()[keep]


def _t30(energy, rate):
    """RT60 from a per-sample energy envelope: Schroeder's backward integral, line fit."""
    edc = np.cumsum(energy[::-1])[::-1]
    level = 10.0 * np.log10(edc / edc[0] + audio.EPS)
    fit = (level <= FIT_TOP_DB) & (level >= FIT_BOTTOM_DB)
    if np.count_nonzero(fit) < 2:
        return 0.0  # decays faster than one sample across the fit range
    t = np.arange(len(energy)) / rate
    return -60.0 / np.polyfit(t[fit], level[fit], 1)[0]


@functools.lru_cache(maxsize=None)
def reflection_coefficient(dims, rt60):
    """Pressure reflection coefficient shared by all walls for a given RT60.

    Eyring's law (energy falling by (1 - alpha) per mean free path) is only the
    average over directions; in a shoebox the late field is dominated by the
    paths that hit the walls least often, so the image model decays more slowly.
    The coefficient is therefore solved for on the model's own energy decay.
    """
    source = [f * length for f, length in zip(CALIBRATION_SOURCE, dims)]
    mic = [f * length for f, length in zip(CALIBRATION_RECEIVER, dims)]
    delay, distance, counts = _images(dims, source, mic, rt60 * audio.SOUND_SPEED)
    bins = (delay * CALIBRATION_RATE).astype(int)
    n = int(rt60 * CALIBRATION_RATE)

    def excess(beta):
        energy = np.bincount(bins, weights=beta ** (2 * counts) / np.square(distance), minlength=n)
        return _t30(energy[:n], CALIBRATION_RATE) - rt60

    return optimize.brentq(excess, 1e-3, 1.0 - 1e-9, xtol=1e-6)


def impulse_response(dims, source, mic, rate, rt60, seconds=None):
    """Room impulse response from source to mic (positions in metres inside dims).

    Each image adds its spherical spreading 1/(4 pi r) times the reflection
    coefficient per wall hit, as a Hann-windowed sinc at its fractional delay;
    the sum is high-passed. The response lasts rt60 unless seconds says otherwise.
    """
    seconds = rt60 if seconds is None else seconds
    n = int(seconds * rate)
    beta = reflection_coefficient(tuple(dims), rt60)
    delay, distance, counts = _images(dims, source, mic, seconds * audio.SOUND_SPEED)
    gain = beta ** counts / (4.0 * math.pi * distance)

    taps = np.arange(-SINC_HALF_WIDTH, SINC_HALF_WIDTH + 1)
    position = delay * rate
    whole = np.floor(position).astype(int)
    offset = taps[None, :] - (position - whole)[:, None]
    kernel = audio.windowed_sinc(offset, SINC_HALF_WIDTH)
    index = whole[:, None] + taps[None, :]
    valid = (index >= 0) & (index < n)
    h = np.bincount(index[valid], weights=(gain[:, None] * kernel)[valid], minlength=n)
    return signal.sosfilt(signal.butter(HIGHPASS_ORDER, HIGHPASS_HZ, "highpass", fs=rate, output="sos"), h)


def decay_time(h, rate):
    """RT60 of an impulse response, from its energy decay between -5 and -35 dB."""
    return _t30(np.square(h), rate)
