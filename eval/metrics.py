"""Objective metrics of an enhanced signal against the clean target, with alignment."""
import numpy as np
from scipy import signal

from . import audio, stoi

MAX_LAG_SECONDS = 0.1  # alignment searches lags up to this in either direction
SEGMENT_SECONDS = 0.03  # frames of the segmental SNR
SEGMENT_HOP = 0.25  # hop of those frames, as a fraction of a frame
SEGMENT_FLOOR_DB, SEGMENT_CEILING_DB = -10.0, 35.0  # per-frame SNR limits
SEGMENT_SILENCE_DB = 40.0  # frames this far below the loudest reference frame are skipped

NAMES = ("si_sdr", "snr", "seg_snr", "stoi")


def lag(estimate, reference, max_lag):
    """The lag L (samples, |L| <= max_lag) at which estimate[n + L] best matches reference[n]."""
    c = signal.correlate(estimate, reference, mode="full", method="fft")
    zero = len(reference) - 1
    window = c[max(0, zero - max_lag):zero + max_lag + 1]
    return int(np.argmax(window)) + max(0, zero - max_lag) - zero


def si_sdr(reference, estimate):
    """Scale-invariant signal-to-distortion ratio in dB (both signals made zero-mean)."""
    s = reference - np.mean(reference)
    e = estimate - np.mean(estimate)
    target = s * (np.dot(e, s) / (np.dot(s, s) + audio.EPS))
    return audio.db(audio.power(target) / (audio.power(e - target) + audio.EPS))


def snr(reference, estimate):
    """Signal-to-noise ratio in dB, the noise being everything the estimate adds to the reference."""
    return audio.db(audio.power(reference) / (audio.power(estimate - reference) + audio.EPS))


def segmental_snr(reference, estimate, rate):
    """Mean of per-frame SNRs, each clipped to [-10, 35] dB, over the frames where the reference sounds."""
    size = int(SEGMENT_SECONDS * rate)
    hop = max(1, int(size * SEGMENT_HOP))
    frames = np.lib.stride_tricks.sliding_window_view(reference, size)[::hop]
    noise = np.lib.stride_tricks.sliding_window_view(estimate - reference, size)[::hop]
    signal_energy = np.sum(frames ** 2, axis=1)
    noise_energy = np.sum(noise ** 2, axis=1)
    loud = signal_energy > signal_energy.max() * 10.0 ** (-SEGMENT_SILENCE_DB / 10.0)
    ratio = 10.0 * np.log10((signal_energy[loud] + audio.EPS) / (noise_energy[loud] + audio.EPS))
    return float(np.mean(np.clip(ratio, SEGMENT_FLOOR_DB, SEGMENT_CEILING_DB)))


def measure(reference, estimate, rate):
    """All metrics of an estimate aligned to and as long as its reference."""
    return {"si_sdr": si_sdr(reference, estimate), "snr": snr(reference, estimate),
            "seg_snr": segmental_snr(reference, estimate, rate), "stoi": stoi.stoi(reference, estimate, rate)}


def evaluate(reference, signals, rate, over=()):
    """Metrics of several signals against one reference, each aligned automatically.

    signals maps names to signals that may be delayed and of other lengths. Each
    is scored over the stretch of the reference that it covers. The signals named
    in over are scored again over the stretch that they and each signal cover, and
    that signal's "gain" holds the differences: a signal's scores and gains never
    depend on which other signals were scored with it (a peer whose output
    aligns badly would otherwise shorten everybody's stretch). Returns
    {name: {"lag": L, metric: value, ..., "gain": {o: {metric: difference}}}}.
    """
    max_lag = int(MAX_LAG_SECONDS * rate)
    lags = {name: lag(x, reference, max_lag) for name, x in signals.items()}
    scored = {}

    def score(name, names):
        start = max([0] + [-lags[n] for n in names])
        end = min([len(reference)] + [len(signals[n]) - lags[n] for n in names])
        if end - start <= 0:
            raise ValueError("the signals do not overlap the reference")
        if (name, start, end) not in scored:
            x = signals[name]
            scored[name, start, end] = measure(reference[start:end], x[start + lags[name]:end + lags[name]], rate)
        return scored[name, start, end]

    results = {}
    for name in signals:
        gains = {}
        for o in over:
            mine, base = score(name, (name, o)), score(o, (name, o))
            gains[o] = {k: mine[k] - base[k] for k in NAMES}
        results[name] = dict(lag=lags[name], **score(name, (name,)), gain=gains)
    return results


def improvements(results, over):
    """Each signal's metrics minus those of the signal named over, on the stretch both cover
    (evaluate must have been told over)."""
    return {name: r["gain"][over] for name, r in results.items()}
