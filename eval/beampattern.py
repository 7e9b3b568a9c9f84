"""Beam pattern: how much the engine attenuates a noise source, by angle and frequency."""
import numpy as np
from scipy import signal

from . import audio, scene

ANGLES = np.arange(-90, 91, 5)  # degrees
FREQUENCIES = (500, 1000, 2000, 4000)  # Hz, each measured in the one-third-octave band around it
SECONDS = 6.0  # length of each run
CONVERGED_AFTER = 3.0  # seconds; only the rest of each run is measured
BAND_HALF_WIDTH = 2.0 ** (1.0 / 6.0)  # a one-third-octave band spans f / this .. f * this
WELCH_SECONDS = 0.064


def band_levels(x, rate, frequencies):
    """Power of x in the one-third-octave band around each frequency."""
    f, p = signal.welch(x, rate, nperseg=int(WELCH_SECONDS * rate))
    return np.array([np.sum(p[(f >= fc / BAND_HALF_WIDTH) & (f < fc * BAND_HALF_WIDTH)])
                     for fc in frequencies])


def frequencies_below_nyquist(rate):
    """The pattern's frequencies whose band fits below the Nyquist frequency."""
    return [f for f in FREQUENCIES if f * BAND_HALF_WIDTH < rate / 2.0]


def measure(rate, run, angles=ANGLES, spacing=0.05, seed=1):
    """Attenuation in dB (negative: quieter than microphone 0) of a white-noise source alone.

    run maps a stereo mixture (n, 2) to a system's mono output. Returns
    {"angles": [...], "engine": {f: [...]}, "beam": {f: [...]}} for that output
    and for the fixed beam (the mean of both microphones).
    """
    freqs = frequencies_below_nyquist(rate)
    skip = int(CONVERGED_AFTER * rate)
    pattern = {"angles": [float(a) for a in angles],
               "engine": {f: [] for f in freqs}, "beam": {f: [] for f in freqs}}
    for angle in angles:
        s = scene.Scene(rate=rate, seconds=SECONDS, spacing=spacing, target=None,
                        interferers=(scene.Source("white", float(angle)),), seed=seed)
        mixture = scene.render(s).mixture
        output = run(mixture)
        reference = band_levels(mixture[skip:, 0], rate, freqs)
        for name, x in (("engine", output), ("beam", mixture.mean(axis=1))):
            ratio = band_levels(x[skip:], rate, freqs) / reference
            for f, r in zip(freqs, ratio):
                pattern[name][f].append(audio.db(r))
    return pattern
