"""Sample-level helpers: band-limited delays, resampling, levels and 16-bit files."""
import math

import numpy as np
from scipy import fft, signal
from scipy.io import wavfile

SOUND_SPEED = 343.0  # m/s at about 20 degrees Celsius
FULL_SCALE = 32767.0  # float 1.0 is written as this int16 value
EPS = 1e-20  # keeps logarithms of silent signals finite
DELAY_MARGIN = 64  # zeros beyond the delay at each end, to hold the interpolation's ringing


def fractional_delay(x, delay):
    """Delays x by a real number of samples (negative advances it), band-limited.

    The delay is a linear phase applied in the frequency domain of the signal
    padded with enough zeros that nothing wraps around; the result keeps the
    length of x.
    """
    n = len(x)
    pad = int(math.ceil(abs(delay))) + DELAY_MARGIN
    size = fft.next_fast_len(n + 2 * pad, real=True)
    spectrum = fft.rfft(np.concatenate([np.zeros(pad), x, np.zeros(pad)]), size)
    bins = np.arange(len(spectrum))
    spectrum *= np.exp(-2j * np.pi * bins * delay / size)
    return fft.irfft(spectrum, size)[pad:pad + n]


def windowed_sinc(offset, half_width):
    """Band-limited interpolation kernel at offsets (samples): a sinc under a Hann window."""
    return np.sinc(offset) * 0.5 * (1.0 + np.cos(np.pi * offset / (half_width + 1)))


def variable_delay(x, delays, half_width=16):
    """x delayed by delays[n] samples at each output sample n (a slowly moving source).

    Each output sample interpolates x around n - delays[n] with a windowed sinc.
    """
    n = len(x)
    position = np.arange(n) - np.asarray(delays, dtype=float)
    whole = np.floor(position).astype(int)
    taps = np.arange(-half_width, half_width + 1)
    index = whole[:, None] + taps[None, :]
    kernel = windowed_sinc(index - position[:, None], half_width)
    padded = np.concatenate([x, [0.0]])  # index -1 (past either end) reads this zero
    index = np.where((index >= 0) & (index < n), index, -1)
    return np.sum(padded[index] * kernel, axis=1)


def resample(x, rate_in, rate_out):
    """Polyphase resampling between integer rates."""
    if rate_in == rate_out:
        return np.asarray(x, dtype=float)
    g = math.gcd(rate_in, rate_out)
    return signal.resample_poly(x, rate_out // g, rate_in // g)


def power(x):
    """Mean square of a signal."""
    return float(np.mean(np.square(x)))


def db(ratio):
    """Power ratio in decibels."""
    return 10.0 * math.log10(max(ratio, EPS))


def to_int16(x):
    """Float samples (full scale 1.0) to int16, rounded and clipped."""
    return np.clip(np.round(np.asarray(x) * FULL_SCALE), -32768, 32767).astype(np.int16)


def from_int16(x):
    """int16 samples to float with full scale 1.0."""
    return np.asarray(x, dtype=float) / FULL_SCALE


def write_wav(path, rate, x):
    """Writes float samples, mono (n,) or multichannel (n, channels), as 16-bit WAV."""
    wavfile.write(path, rate, to_int16(x))


def read_wav(path, any_format=False):
    """Reads a 16-bit WAV file (or, with any_format, 32-bit PCM or float) as (rate, float samples)."""
    rate, data = wavfile.read(path)
    if data.dtype == np.int16:
        return rate, from_int16(data)
    if any_format and data.dtype == np.int32:
        return rate, data / 2.0 ** 31
    if any_format and data.dtype == np.float32:
        return rate, data.astype(float)
    raise ValueError(f"{path}: expected 16-bit PCM, found {data.dtype}")
