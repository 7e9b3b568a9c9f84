"""The evaluation's scene sets: one to tune on, one held out for the report.

Both sets hold the same families of scenes, but every choice that could be tuned
to differs between them: seeds, espeak-ng voices, recorded clips, angles, levels,
rooms and mismatches. An engine is tuned on the first and reported on the second.
The target is always the talker the engines are told to keep; every other source
is named by what it is and where it stands.
"""
import dataclasses
import random
from typing import Tuple

from . import scene, sources

SECONDS = 6.0


@dataclasses.dataclass(frozen=True)
class Choices:
    """What distinguishes one set from the other."""
    seed: int
    voices: Tuple[str, ...]  # espeak-ng voices of the simulated talkers
    recording: str  # group of recorded clips spoken by the target in the recorded-voice scenes
    angles: Tuple[float, float, float]  # directional interferers in the free field
    snrs: Tuple[float, float, float]  # input SNRs of the free-field scenes, low to high
    # Off-axis rooms: RT60, dimensions, array centre, target distance, interferer angle.
    rooms: Tuple[Tuple[float, Tuple[float, ...], Tuple[float, ...], float, float], ...]
    mismatches: Tuple[Tuple[float, float], ...]  # microphone 1's gain (dB) and delay (samples)
    steered: Tuple[Tuple[float, float], ...]  # target angle and interfering talker's angle
    moving: Tuple[float, float]  # an interfering talker moving from one angle to the other
    # Off-axis rooms at their own SNR (the fields of rooms, then the SNR): with the talker
    # well above the interferer, its own reverberation decides how coherent it sounds.
    rooms_at: Tuple[Tuple[float, Tuple[float, ...], Tuple[float, ...], float, float, float], ...] = ()


TUNING = Choices(
    seed=101, voices=sources.VOICES[:3], recording="front", angles=(60.0, 30.0, 90.0),
    snrs=(-5.0, 0.0, 10.0),
    rooms=((0.3, (5.0, 4.0, 2.7), (1.6, 1.2, 1.3), 1.0, 60.0),
           (0.45, (6.0, 4.5, 3.0), (1.9, 1.3, 1.4), 1.3, 45.0),
           (0.6, (7.0, 5.0, 3.0), (2.2, 1.5, 1.2), 1.5, 70.0),
           (0.25, (4.2, 3.5, 2.5), (1.3, 1.0, 1.2), 1.0, 30.0),
           (0.7, (7.2, 6.2, 3.0), (2.0, 1.7, 1.3), 1.3, 25.0)),
    mismatches=((2.0, 0.4), (-3.0, -0.5), (-2.5, 0.4)),
    steered=((30.0, -30.0), (90.0, 0.0)),
    moving=(30.0, 90.0),
    rooms_at=((0.5, (6.8, 5.2, 3.0), (2.4, 1.6, 1.4), 1.1, 35.0, 5.0),
              (0.4, (5.0, 4.8, 2.7), (1.7, 1.4, 1.2), 1.4, 70.0, 8.0)))

REPORT = Choices(
    seed=202, voices=sources.VOICES[3:], recording="rear", angles=(45.0, 20.0, 75.0),
    snrs=(-3.0, 5.0, 8.0),
    rooms=((0.3, (4.5, 3.8, 2.6), (1.4, 1.1, 1.2), 1.2, 50.0),
           (0.45, (6.5, 5.0, 3.0), (2.2, 1.5, 1.4), 1.4, 65.0),
           (0.6, (8.0, 6.0, 3.2), (2.6, 1.8, 1.3), 1.1, 40.0)),
    mismatches=((-3.0, 0.5), (2.0, -0.3)),
    steered=((30.0, -45.0), (90.0, 20.0)),
    moving=(30.0, 90.0))

SETS = {"tuning": TUNING, "report": REPORT}


def scenes(choices, seconds=SECONDS):
    """(family, name, Scene) of every scene of a set."""
    def make(**fields):
        return scene.Scene(seconds=seconds, seed=choices.seed, voices=choices.voices, **fields)

    def talker(angle, **fields):
        return scene.Source("talker", angle, **fields)

    a1, a2, a3 = choices.angles
    low, mid, high = choices.snrs
    out = [
        ("free field", f"interfering talker at {a1:g}°, {mid:g} dB",
         make(interferers=(talker(a1),), snr=mid)),
        ("free field", f"white noise at {a2:g}°, {low:g} dB",
         make(interferers=(scene.Source("white", a2),), snr=low)),
        ("free field", f"pink noise at {a3:g}°, {high:g} dB",
         make(interferers=(scene.Source("pink", a3),), snr=high)),
        ("8 and 48 kHz", f"interfering talker at {a2:g}°, {mid:g} dB, 48 kHz",
         make(rate=48000, interferers=(talker(a2),), snr=mid)),
        ("8 and 48 kHz", f"white noise at {a1:g}°, {high:g} dB, 8 kHz",
         make(rate=8000, interferers=(scene.Source("white", a1),), snr=high)),
    ]
    rooms = [r + (mid,) for r in choices.rooms] + list(choices.rooms_at)
    for rt60, dims, centre, distance, angle, snr in rooms:
        level = "" if snr == mid else f", {snr:g} dB"
        out.append(("off-axis room", f"room RT60 {rt60:g} s, talker {distance:g} m, interfering talker "
                                     f"at {angle:g}° 2 m{level}", make(
                        target=talker(0.0, distance=distance),
                        interferers=(talker(angle, distance=2.0),),
                        room=scene.Room(dims, rt60, centre), snr=snr)))
    out += [
        ("diffuse noise", f"diffuse pink noise, {mid:g} dB",
         make(interferers=(scene.Source("pink", None),), snr=mid)),
        ("diffuse noise", f"diffuse pink noise, {high:g} dB",
         make(interferers=(scene.Source("pink", None),), snr=high)),
        ("diffuse noise", f"diffuse noise and an interfering talker at {a1:g}°, {mid:g} dB",
         make(interferers=(scene.Source("pink", None), talker(a1)), snr=mid)),
    ]
    for gain, delay in choices.mismatches:
        out.append(("capsule mismatch",
                    f"mic 1 {gain:+g} dB, {delay:+g} sample, interfering talker at {a1:g}°",
                    make(interferers=(talker(a1),), snr=mid, mismatch=(gain, delay))))
    start, end = choices.moving
    out += [
        ("several or moving", f"two interfering talkers at {a1:g}° and {-a2:g}°, {mid:g} dB",
         make(interferers=(talker(a1), talker(-a2)), snr=mid)),
        ("several or moving", f"interfering talker moving {start:g}°→{end:g}°, {mid:g} dB",
         make(interferers=(talker(start, end_angle=end),), snr=mid)),
    ]
    for target, angle in choices.steered:
        out.append(("target off broadside", f"target at {target:g}°, interfering talker at {angle:g}°",
                    make(target=talker(target), interferers=(talker(angle),), snr=mid)))
    for fault in scene.FAULTS:
        out.append((f"{fault} microphone", f"mic 1 {fault}, interfering talker at {a1:g}°",
                    make(interferers=(talker(a1),), snr=high, fault=fault)))
    if sources.recordings_missing() is None:
        voice = scene.Source("recording", 0.0, voice=choices.recording)
        out += [
            ("recorded voice", f"recorded voice, interfering talker at {a3:g}°, {mid:g} dB",
             make(target=voice, interferers=(talker(a3),), snr=mid)),
            ("recorded voice", f"recorded voice, pink noise at {a2:g}°, {low:g} dB",
             make(target=voice, interferers=(scene.Source("pink", a2),), snr=low)),
        ]
    return out


# The random checks: name -> function(seed, seconds) of the scenes.
DRAWN = {}


def _drawn(function):
    DRAWN[function.__name__] = function
    return function


@_drawn
def random_rooms(seed, count=12, seconds=SECONDS):
    """Off-axis rooms drawn at random (RT60 0.3-0.6 s, talker 1-1.5 m, an interfering talker 2 m
    away at 25-75 degrees either side, 0, 5 or 8 dB): a wider check than three rooms. The scenes'
    seeds, seed * 1000 + i, never meet the sets' (101 and 202)."""
    rng, out = random.Random(seed), []
    while len(out) < count:
        rt60 = rng.choice((0.3, 0.35, 0.4, 0.45, 0.5, 0.55, 0.6))
        dims = (rng.uniform(4.0, 8.0), rng.uniform(3.5, 6.0), rng.uniform(2.5, 3.2))
        centre = (rng.uniform(1.2, dims[0] / 2), rng.uniform(1.0, dims[1] / 2), rng.uniform(1.1, 1.5))
        distance, angle = rng.uniform(1.0, 1.5), rng.choice((-1, 1)) * rng.uniform(25.0, 75.0)
        snr, voices = rng.choice((0.0, 5.0, 8.0)), tuple(rng.sample(sources.VOICES, 2))
        room, interferer = scene.Room(dims, rt60, centre), scene.Source("talker", angle, distance=2.0)
        if scene.inside(room, interferer):
            out.append(("off-axis room", f"room RT60 {rt60:g} s, {dims[0]:.1f} x {dims[1]:.1f} m, talker "
                                         f"{distance:.2f} m, interfering talker at {angle:.0f}°, {snr:g} dB",
                        scene.Scene(seconds=seconds, seed=seed * 1000 + len(out), voices=voices,
                                    target=scene.Source("talker", 0.0, distance=distance),
                                    interferers=(interferer,), room=room, snr=snr)))
    return out


@_drawn
def random_steering(seed, count=16, seconds=SECONDS):
    """Free-field scenes that test the steering calibration, drawn at random: an interfering
    talker near the target (15-45 degrees either side, -5 to 5 dB) at 8 to 48 kHz, spacings of
    1 to 5 cm, and at 5 cm a capsule error of up to 3 dB and 31 us (half a sample at 16 kHz) as
    a delay in time. Scene seeds seed * 1000 + 500 + i, apart from the random rooms'."""
    rng, out = random.Random(seed), []
    for i in range(count):
        rate, spacing = rng.choice((8000, 16000, 32000, 48000)), rng.choice((0.01, 0.02, 0.05))
        angle, snr = rng.choice((-1, 1)) * rng.uniform(15.0, 45.0), rng.choice((-5.0, 0.0, 5.0))
        gain, delay = (rng.uniform(-3.0, 3.0), rng.uniform(-31e-6, 31e-6)) if spacing == 0.05 else (0.0, 0.0)
        out.append(("steering", f"{rate // 1000} kHz, {spacing * 100:g} cm, interfering talker at {angle:.0f}°, "
                                f"{snr:g} dB, mic 1 {gain:+.1f} dB {delay * 1e6:+.0f} µs",
                    scene.Scene(rate=rate, seconds=seconds, spacing=spacing, seed=seed * 1000 + 500 + i,
                                voices=tuple(rng.sample(sources.VOICES, 2)),
                                interferers=(scene.Source("talker", angle),), snr=snr,
                                mismatch=(gain, delay * rate))))
    return out


@_drawn
def random_diffuse(seed, count=12, seconds=SECONDS):
    """Diffuse noise drawn at random: white or pink from all directions, -5 to 10 dB, a talker
    straight ahead, 8 to 48 kHz, spacings of 2 to 10 cm. Here the array's directivity adds
    little, and the single-microphone suppressors are the peers to beat. Scene seeds
    seed * 1000 + 700 + i, apart from the other drawn sets'."""
    rng, out = random.Random(seed), []
    for i in range(count):
        rate, spacing = rng.choice((8000, 16000, 16000, 32000, 48000)), rng.choice((0.02, 0.05, 0.05, 0.1))
        colour, snr = rng.choice(("white", "pink")), rng.choice((-5.0, 0.0, 5.0, 10.0))
        out.append(("diffuse noise", f"diffuse {colour} noise, {snr:g} dB, {rate // 1000} kHz, {spacing * 100:g} cm",
                    scene.Scene(rate=rate, seconds=seconds, spacing=spacing, seed=seed * 1000 + 700 + i,
                                voices=tuple(rng.sample(sources.VOICES, 2)),
                                interferers=(scene.Source(colour, None),), snr=snr)))
    return out


def quick(seconds=2.0):
    """Two short scenes for the test suite (seconds, not minutes): systems help on one, fail on the other."""
    everything = scenes(TUNING, seconds)
    keep = ("free field", "dead microphone")
    return [next(s for s in everything if s[0] == family) for family in keep]
