"""Source signals: speech rendered by espeak-ng, white and pink noise."""
import functools
import itertools
import os
import subprocess
import tempfile

import numpy as np

from . import audio

ESPEAK = "espeak-ng"
WORDS_PER_MINUTE = 160
SENTENCE_GAP = 0.15  # seconds of silence between sentences
SILENCE_DB = -50.0  # leading and trailing samples this far below the peak are cut
MAX_LEAD_IN = 1.5  # seconds; a talker starts this far into its reading at most
PINK_FLOOR_HZ = 20.0  # below this the 1/f shaping stays flat

# Short phonetically varied sentences; each talker reads them in its own order.
SENTENCES = (
    "The birch canoe slid on the smooth planks.",
    "Glue the sheet to the dark blue background.",
    "It is easy to tell the depth of a well.",
    "These days a chicken leg is a rare dish.",
    "Rice is often served in round bowls.",
    "The juice of lemons makes fine punch.",
    "The box was thrown beside the parked truck.",
    "Four hours of steady work faced us.",
    "A large size in stockings is hard to sell.",
    "The boy was there when the sun rose.",
    "Kick the ball straight and follow through.",
    "Help the woman get back to her feet.",
)

# Voices with distinct pitch and timbre, so that two talkers never sound alike.
VOICES = ("en-us+m3", "en-us+f3", "en-gb+m1", "en-gb+f2", "en-us+m7", "en-us+f4")


@functools.lru_cache(maxsize=None)
def _spoken(text, voice):
    """One sentence as (rate, float samples) from espeak-ng, without its silent ends."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "s.wav")
        subprocess.run([ESPEAK, "-v", voice, "-s", str(WORDS_PER_MINUTE), "-w", path, text],
                       check=True, capture_output=True)
        rate, x = audio.read_wav(path)
    sounding = np.flatnonzero(np.abs(x) > np.max(np.abs(x)) * 10.0 ** (SILENCE_DB / 20.0))
    return rate, x[sounding[0]:sounding[-1] + 1]


def speech(n, rate, voice, rng):
    """n samples of a talker reading sentences in an order drawn from rng.

    The reading starts at a random point, so that the pauses of two talkers
    do not coincide.
    """
    order = itertools.cycle(rng.permutation(len(SENTENCES)))
    return _read_out(n, rate, rng, (_spoken(SENTENCES[i], voice) for i in order))


def _read_out(n, rate, rng, utterances):
    """n samples of (rate, samples) utterances resampled and joined by short pauses, from a random start."""
    gap = np.zeros(int(SENTENCE_GAP * rate))
    lead = int(rng.integers(int(MAX_LEAD_IN * rate)))
    out, length = [], 0
    for native_rate, x in utterances:
        if length >= lead + n:
            break
        x = audio.resample(x, native_rate, rate)
        out += [x, gap]
        length += len(x) + len(gap)
    return np.concatenate(out)[lead:lead + n]


def white(n, rng):
    """Gaussian white noise of unit variance."""
    return rng.standard_normal(n)


def pink(n, rate, rng):
    """Gaussian noise with a 1/f power spectrum, unit variance."""
    spectrum = np.fft.rfft(rng.standard_normal(n))
    f = np.fft.rfftfreq(n, 1.0 / rate)
    spectrum /= np.sqrt(np.maximum(f, PINK_FLOOR_HZ))
    spectrum[0] = 0.0
    x = np.fft.irfft(spectrum, n)
    return x / np.sqrt(audio.power(x))


def noise(kind, n, rate, rng):
    """Coloured Gaussian noise by name ("white" or "pink")."""
    if kind == "white":
        return white(n, rng)
    if kind == "pink":
        return pink(n, rate, rng)
    raise ValueError(f"unknown noise colour {kind!r}")


# Recordings of a person reading the names of loudspeaker channels, shipped with
# the ALSA utilities (Debian's alsa-utils). They are read where the package
# installed them and never copied into the project.
RECORDINGS_DIR = "/usr/share/sounds/alsa"
RECORDING_GROUPS = {"front": ("Front_Left", "Front_Center", "Front_Right"),
                    "rear": ("Rear_Left", "Rear_Center", "Rear_Right", "Side_Left", "Side_Right")}


def recordings_missing():
    """Why the recorded voices cannot be used here, or None."""
    clips = [c for group in RECORDING_GROUPS.values() for c in group]
    if all(os.path.exists(os.path.join(RECORDINGS_DIR, f"{c}.wav")) for c in clips):
        return None
    return f"recorded voices not found in {RECORDINGS_DIR} (Debian package alsa-utils)"


@functools.lru_cache(maxsize=None)
def _recorded(clip):
    rate, x = audio.read_wav(os.path.join(RECORDINGS_DIR, f"{clip}.wav"))
    sounding = np.flatnonzero(np.abs(x) > np.max(np.abs(x)) * 10.0 ** (SILENCE_DB / 20.0))
    return rate, x[sounding[0]:sounding[-1] + 1]


def recorded_speech(n, rate, group, rng):
    """n samples of the recorded clips of a group, in an order drawn from rng, with pauses."""
    clips = RECORDING_GROUPS[group]
    order = itertools.cycle(rng.permutation(len(clips)))
    return _read_out(n, rate, rng, (_recorded(clips[i]) for i in order))
