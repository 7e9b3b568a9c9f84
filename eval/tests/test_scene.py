"""The simulator's physics and mixing, and the metrics on cases whose answers are known."""
import itertools
import unittest

import numpy as np
from scipy import signal

from eval import audio, metrics, room, scene, sets, sources, stoi

RATE = 16000
TALKER = sources.speech(3 * RATE, RATE, sources.VOICES[0], np.random.default_rng(7))


def lone_noise(spacing, angle, colour, seconds):
    """The two microphones' signals of a single noise source (angle None: diffuse)."""
    return scene.render(scene.Scene(rate=RATE, seconds=seconds, spacing=spacing, target=None,
                                    interferers=(scene.Source(colour, angle),))).mixture


def delay_of_mic1(x):
    """Delay (s) of microphone 1 behind microphone 0, from the phase slope of their cross-spectrum."""
    f = np.fft.rfftfreq(len(x), 1.0 / RATE)
    phase = np.unwrap(np.angle(np.fft.rfft(x[:, 1]) * np.conj(np.fft.rfft(x[:, 0]))))
    use = (f > 100.0) & (f < 0.4 * RATE)
    return -np.sum(f[use] * phase[use]) / (2.0 * np.pi * np.sum(f[use] ** 2))


class SceneTest(unittest.TestCase):
    def test_inter_microphone_delay_is_d_sin_theta_over_c(self):
        for spacing, angle in itertools.product((0.05, 0.2), (-90.0, -25.0, 0.0, 10.0, 45.0, 90.0)):
            with self.subTest(spacing=spacing, angle=angle):
                x = lone_noise(spacing, angle, "white", 2.0)
                expected = spacing * np.sin(np.radians(angle)) / audio.SOUND_SPEED
                self.assertAlmostEqual(delay_of_mic1(x), expected, delta=2e-7)

    def test_moving_source_is_at_its_interpolated_angle_at_a_given_time(self):
        spacing, seconds = 0.2, 4.0
        x = scene.render(scene.Scene(rate=RATE, seconds=seconds, spacing=spacing, target=None, interferers=(
            scene.Source("white", 30.0, end_angle=90.0),))).mixture
        half, finer = RATE // 8, 32  # a quarter-second window; the correlation interpolated 32 times
        for t, angle in ((1.0, 45.0), (2.0, 60.0), (3.0, 75.0)):
            w = x[int(t * RATE) - half:int(t * RATE) + half]
            c = np.fft.irfft(np.fft.rfft(w[:, 1]) * np.conj(np.fft.rfft(w[:, 0])), len(w) * finer)
            lag = np.argmax(np.concatenate([c[-half * finer:], c[:half * finer]])) - half * finer
            expected = spacing * np.sin(np.radians(angle)) / audio.SOUND_SPEED
            self.assertAlmostEqual(lag / finer / RATE, expected, delta=4e-6, msg=t)  # 4 us: about 1 degree

    def test_capsule_mismatch_and_faults_act_on_microphone_1_as_stated(self):
        def broadside(**fields):
            return scene.render(scene.Scene(rate=RATE, seconds=2.0, target=None,
                                            interferers=(scene.Source("white", 0.0),), **fields)).mixture
        clean = broadside()
        for gain, delay in ((2.0, 0.4), (-3.0, -0.5), (2.0, -0.3)):
            x = broadside(mismatch=(gain, delay))
            self.assertAlmostEqual(audio.db(audio.power(x[:, 1]) / audio.power(x[:, 0])), gain, delta=0.02)
            self.assertAlmostEqual(delay_of_mic1(x) * RATE, delay, delta=0.01)
        dead, clipped = broadside(fault="dead"), broadside(fault="clipped")
        self.assertFalse(np.any(dead[:, 1]))
        for x in (dead, clipped):
            np.testing.assert_array_equal(x[:, 0], clean[:, 0])
        self.assertGreater(np.mean(np.abs(clipped[:, 1]) >= 1.0), 0.5)  # hard: most samples at the rails
        np.testing.assert_array_equal(broadside(fault="inverted")[:, 1], -clean[:, 1])
        self.assertAlmostEqual(audio.db(audio.power(broadside(fault="quiet")[:, 1]) / audio.power(clean[:, 1])),
                               scene.QUIET_GAIN_DB, delta=0.1)

    def test_off_axis_rooms_of_both_sets_decay_at_their_rt60_after_the_direct_sound_and_share_no_scene(self):
        rate = 8000
        for choices in sets.SETS.values():
            for rt60, dims, centre, distance, *_ in choices.rooms + choices.rooms_at:
                centre = np.asarray(centre)
                source, mic = centre + [0.0, distance, 0.0], centre + [0.025, 0.0, 0.0]
                h = room.impulse_response(dims, source, mic, rate, rt60)
                self.assertAlmostEqual(room.decay_time(h, rate), rt60, delta=0.2 * rt60, msg=dims)
                direct = np.linalg.norm(source - mic) / audio.SOUND_SPEED * rate
                self.assertLessEqual(abs(np.argmax(np.abs(h)) - direct), 1.0, dims)
        tuning, report = ({s for _, _, s in sets.scenes(c)} for c in (sets.TUNING, sets.REPORT))
        self.assertFalse(tuning & report)
        self.assertFalse(set(sets.TUNING.voices) & set(sets.REPORT.voices))
        # The random checks: repeatable, seeds of their own.
        drawn = [draw(7) for draw in sets.DRAWN.values()]
        self.assertEqual([draw(7) for draw in sets.DRAWN.values()], drawn)
        seeds = [s.seed for scenes in drawn for _, _, s in scenes] + [sets.TUNING.seed, sets.REPORT.seed]
        self.assertEqual(len(set(seeds)), len(seeds))

    def test_diffuse_coherence_follows_the_sinc(self):
        for spacing in (0.05, 0.2):
            x = lone_noise(spacing, None, "pink", 10.0)
            f, cross = signal.csd(x[:, 0], x[:, 1], RATE, nperseg=256)
            p0, p1 = (signal.welch(x[:, m], RATE, nperseg=256)[1] for m in (0, 1))
            error = np.abs(cross / np.sqrt(p0 * p1) - np.sinc(2.0 * f * spacing / audio.SOUND_SPEED))[f > 100.0]
            self.assertLess(np.max(error), 0.1, spacing)
            self.assertLess(np.mean(error), 0.03, spacing)

    def test_mixture_at_microphone_0_is_target_plus_interference_at_the_snr_or_refused(self):
        s = scene.Scene(rate=8000, seconds=3.0, snr=-3.0,
                        interferers=(scene.Source("talker", 40.0), scene.Source("white", -70.0, level=-6.0)))
        r, again = scene.render(s), scene.render(s)
        self.assertAlmostEqual(audio.db(audio.power(r.target) / audio.power(r.interference)), -3.0, places=6)
        self.assertLessEqual(np.max(np.abs(r.mixture[:, 0] - r.target - r.interference)),
                             0.5 / audio.FULL_SCALE + 1e-12)
        self.assertAlmostEqual(audio.db(audio.power(r.mixture[:, 0])), scene.MIXTURE_LEVEL_DB, delta=0.01)
        np.testing.assert_array_equal(r.mixture, again.mixture)  # determined by the seed
        self.assertFalse(np.array_equal(r.target, scene.render(scene.Scene(**{**s.__dict__, "seed": 2})).target))
        for s in (scene.Scene(interferers=(scene.Source("talker", None),)),  # a diffuse talker
                  scene.Scene(interferers=(scene.Source("white", 0.0, distance=9.0),), room=scene.Room())):
            self.assertRaises(ValueError, scene.render, s)


def with_noise(x, snr_db, seed=3):
    """x plus white noise scaled to exactly snr_db."""
    noise = np.random.default_rng(seed).standard_normal(len(x))
    return x + noise * np.sqrt(np.mean(x ** 2) / np.mean(noise ** 2) / 10.0 ** (snr_db / 10.0))


class MetricsTest(unittest.TestCase):
    def test_scaled_copy_and_known_snr(self):
        for scale in (0.01, 0.5, 3.0):
            self.assertGreater(metrics.si_sdr(TALKER, scale * TALKER), 100.0)
        for snr in (-5.0, 0.0, 10.0, 30.0):
            y = with_noise(TALKER, snr)
            self.assertAlmostEqual(metrics.snr(TALKER, y), snr, delta=0.1)
            self.assertAlmostEqual(metrics.si_sdr(TALKER, y), snr, delta=0.1)
            self.assertAlmostEqual(metrics.si_sdr(TALKER, 0.5 * y), metrics.si_sdr(TALKER, y), places=9)

    def test_segmental_snr(self):
        """Steady noise gives the SNR, silent frames are skipped, every frame is clipped."""
        tone, silent = np.sin(2 * np.pi * 440.0 * np.arange(2 * RATE) / RATE), np.zeros(RATE)
        noisy = with_noise(tone, 12.0)
        steady = metrics.segmental_snr(tone, noisy, RATE)
        self.assertAlmostEqual(steady, 12.0, delta=0.3)
        padded = metrics.segmental_snr(np.concatenate([tone, silent]), np.concatenate([noisy, silent + 0.1]), RATE)
        self.assertAlmostEqual(padded, steady, delta=0.2)
        for estimate, bound in ((TALKER, metrics.SEGMENT_CEILING_DB),
                                (TALKER + 100.0 * with_noise(TALKER, 0.0), metrics.SEGMENT_FLOOR_DB)):
            self.assertAlmostEqual(metrics.segmental_snr(TALKER, estimate, RATE), bound, places=6)

    def test_stoi_is_one_for_identical_signals_and_falls_as_noise_is_added_whatever_its_level(self):
        for rate in (8000, 16000):
            y = TALKER[::RATE // rate]
            self.assertAlmostEqual(stoi.stoi(y, y, rate), 1.0, delta=1e-3)
        scores = [stoi.stoi(TALKER, with_noise(TALKER, snr), RATE) for snr in (20.0, 10.0, 0.0, -10.0)]
        self.assertTrue(all(a > b for a, b in zip(scores, scores[1:])), scores)
        self.assertGreater(scores[0], 0.95)
        self.assertLess(scores[-1], 0.7)
        self.assertAlmostEqual(stoi.stoi(TALKER, 0.1 * with_noise(TALKER, 10.0), RATE), scores[1], places=6)

    def test_alignment_finds_a_known_lag_in_noise_and_in_delayed_shortened_signals(self):
        for known in (0, 1, 384, -57, 1000):
            self.assertEqual(metrics.lag(np.roll(with_noise(TALKER, 0.0), known), TALKER, 1600), known)
        delayed = np.concatenate([np.zeros(384), TALKER])[:len(TALKER) - 500]
        noisy = with_noise(TALKER, 5.0)
        results = metrics.evaluate(TALKER, {"same": TALKER, "delayed": delayed, "noisy": noisy}, RATE,
                                   over=("same",))
        self.assertEqual((results["same"]["lag"], results["delayed"]["lag"]), (0, 384))
        self.assertGreater(results["delayed"]["si_sdr"], 100.0)
        self.assertAlmostEqual(metrics.improvements(results, "same")["delayed"]["stoi"], 0.0, delta=1e-3)
        # A signal's scores and gains do not depend on the others scored with it: the
        # shortened one leaves the noisy one's whole stretch scored.
        alone = metrics.evaluate(TALKER, {"same": TALKER, "noisy": noisy}, RATE, over=("same",))
        self.assertEqual(results["noisy"], alone["noisy"])
