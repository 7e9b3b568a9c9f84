"""Short-time objective intelligibility (STOI) of a degraded signal against its clean reference.

The measure correlates the clean and degraded temporal envelopes in
one-third-octave bands over 384 ms segments, after the degraded envelope has
been scaled to the clean one's energy and clipped 15 dB above it.
"""
import numpy as np

from . import audio

RATE = 10000  # Hz; both signals are resampled to this
FRAME = 256  # samples (25.6 ms), Hann-windowed, half overlapping
FFT_SIZE = 512
BANDS = 15  # one-third-octave bands
LOWEST_CENTRE = 150.0  # Hz
SEGMENT = 30  # frames: 384 ms of envelope per correlation
CLIP_DB = -15.0  # lower bound of the signal-to-distortion ratio
DYNAMIC_RANGE_DB = 40.0  # frames this far below the loudest clean frame are dropped


def _hann(n):
    """Hann window without its zero end points."""
    return 0.5 * (1.0 - np.cos(2.0 * np.pi * np.arange(1, n + 1) / (n + 1)))


def _frame_starts(n):
    return np.arange(0, n - FRAME, FRAME // 2)


def third_octave_matrix():
    """(BANDS, FFT_SIZE / 2 + 1) matrix of ones that sums FFT bins into bands.

    Band k spans from the FFT bin nearest to 150 * 2^((2k - 1) / 6) Hz up to,
    not including, the bin nearest to 150 * 2^((2k + 1) / 6) Hz.
    """
    f = np.linspace(0.0, RATE, FFT_SIZE + 1)[:FFT_SIZE // 2 + 1]
    k = np.arange(BANDS)
    low = LOWEST_CENTRE * 2.0 ** ((2 * k - 1) / 6.0)
    high = LOWEST_CENTRE * 2.0 ** ((2 * k + 1) / 6.0)
    bands = np.zeros((BANDS, len(f)))
    for b in range(BANDS):
        bands[b, np.argmin(np.abs(f - low[b])):np.argmin(np.abs(f - high[b]))] = 1.0
    return bands


def remove_silent_frames(x, y):
    """Drops the frames where the clean x is more than 40 dB below its loudest frame.

    The kept Hann-windowed frames of both signals are overlap-added again.
    """
    window = _hann(FRAME)
    starts = _frame_starts(len(x))
    energy = np.array([20.0 * np.log10(np.linalg.norm(x[s:s + FRAME] * window) / np.sqrt(FRAME) + audio.EPS)
                       for s in starts])
    kept = starts[energy > energy.max() - DYNAMIC_RANGE_DB]
    length = (len(kept) - 1) * (FRAME // 2) + FRAME if len(kept) else 0
    x_out, y_out = np.zeros(length), np.zeros(length)
    for i, s in enumerate(kept):
        o = i * (FRAME // 2)
        x_out[o:o + FRAME] += x[s:s + FRAME] * window
        y_out[o:o + FRAME] += y[s:s + FRAME] * window
    return x_out, y_out


def band_envelopes(x):
    """(BANDS, frames) one-third-octave band magnitudes of Hann-windowed frames."""
    window = _hann(FRAME)
    frames = np.array([x[s:s + FRAME] * window for s in _frame_starts(len(x))])
    spectra = np.abs(np.fft.rfft(frames, FFT_SIZE, axis=1)) ** 2
    return np.sqrt(third_octave_matrix() @ spectra.T)


def stoi(clean, degraded, rate):
    """STOI between 0 and 1 (higher is more intelligible); signals of equal length."""
    if len(clean) != len(degraded):
        raise ValueError("STOI needs signals of equal length")
    x, y = remove_silent_frames(audio.resample(clean, rate, RATE), audio.resample(degraded, rate, RATE))
    clean_env, degraded_env = band_envelopes(x), band_envelopes(y)
    frames = clean_env.shape[1]
    if frames < SEGMENT:
        raise ValueError("STOI needs at least 384 ms of speech")
    ceiling = 1.0 + 10.0 ** (-CLIP_DB / 20.0)
    scores = []
    for end in range(SEGMENT, frames + 1):
        xs = clean_env[:, end - SEGMENT:end]
        ys = degraded_env[:, end - SEGMENT:end]
        # Degraded envelopes scaled to the clean energy, then clipped 15 dB above the clean ones.
        energy_x = np.linalg.norm(xs, axis=1, keepdims=True)
        ys = np.minimum(ys * energy_x / (np.linalg.norm(ys, axis=1, keepdims=True) + audio.EPS), xs * ceiling)
        xs = xs - xs.mean(axis=1, keepdims=True)
        ys = ys - ys.mean(axis=1, keepdims=True)
        scores.append(np.sum(xs * ys, axis=1)
                      / (np.linalg.norm(xs, axis=1) * np.linalg.norm(ys, axis=1) + audio.EPS))
    return float(np.mean(scores))
