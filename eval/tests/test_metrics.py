"""Metrics on cases whose answers are known."""
import unittest

import numpy as np

from eval import metrics, sources, stoi

RATE = 16000


def talker(seconds=3.0, seed=7):
    return sources.speech(int(seconds * RATE), RATE, sources.VOICES[0], np.random.default_rng(seed))


def with_noise(x, snr_db, seed=3):
    """x plus white noise scaled to exactly snr_db."""
    noise = np.random.default_rng(seed).standard_normal(len(x))
    return x + noise * np.sqrt(np.mean(x ** 2) / np.mean(noise ** 2) / 10.0 ** (snr_db / 10.0))


class RatioTest(unittest.TestCase):
    def test_scaled_copy_has_a_very_high_si_sdr(self):
        x = talker()
        for scale in (0.01, 0.5, 3.0):
            self.assertGreater(metrics.si_sdr(x, scale * x), 100.0)

    def test_known_snr_is_measured(self):
        x = talker()
        for snr in (-5.0, 0.0, 10.0, 30.0):
            with self.subTest(snr=snr):
                y = with_noise(x, snr)
                self.assertAlmostEqual(metrics.snr(x, y), snr, delta=0.1)
                self.assertAlmostEqual(metrics.si_sdr(x, y), snr, delta=0.1)

    def test_si_sdr_ignores_scale_but_snr_does_not(self):
        x = talker()
        y = with_noise(x, 10.0)
        self.assertAlmostEqual(metrics.si_sdr(x, 0.5 * y), metrics.si_sdr(x, y), places=9)
        self.assertLess(metrics.snr(x, 0.5 * y), 10.0 - 3.0)

    def test_segmental_snr_of_steady_noise_is_the_snr(self):
        t = np.arange(2 * RATE) / RATE
        x = np.sin(2 * np.pi * 440.0 * t)
        self.assertAlmostEqual(metrics.segmental_snr(x, with_noise(x, 12.0), RATE), 12.0, delta=0.3)

    def test_segmental_snr_clips_every_frame(self):
        x = talker()
        cases = ((x, metrics.SEGMENT_CEILING_DB), (x + 100.0 * with_noise(x, 0.0), metrics.SEGMENT_FLOOR_DB))
        for estimate, expected in cases:
            self.assertAlmostEqual(metrics.segmental_snr(x, estimate, RATE), expected, places=6)

    def test_segmental_snr_skips_silent_frames(self):
        t = np.arange(2 * RATE) / RATE
        x = np.sin(2 * np.pi * 440.0 * t)
        noisy = with_noise(x, 12.0)
        silent = np.zeros(RATE)
        padded = metrics.segmental_snr(np.concatenate([x, silent]),
                                       np.concatenate([noisy, silent + 0.1]), RATE)
        self.assertAlmostEqual(padded, metrics.segmental_snr(x, noisy, RATE), delta=0.2)


class StoiTest(unittest.TestCase):
    def test_identical_signals_score_one(self):
        x = talker()
        for rate_of_x in (8000, 16000):
            y = x[::RATE // rate_of_x]
            self.assertAlmostEqual(stoi.stoi(y, y, rate_of_x), 1.0, delta=1e-3)

    def test_score_falls_as_noise_is_added(self):
        x = talker()
        scores = [stoi.stoi(x, with_noise(x, snr), RATE) for snr in (20.0, 10.0, 0.0, -10.0)]
        self.assertTrue(all(a > b for a, b in zip(scores, scores[1:])), scores)
        self.assertGreater(scores[0], 0.95)
        self.assertLess(scores[-1], 0.7)

    def test_score_ignores_the_level_of_the_degraded_signal(self):
        x = talker()
        y = with_noise(x, 5.0)
        self.assertAlmostEqual(stoi.stoi(x, 0.1 * y, RATE), stoi.stoi(x, y, RATE), places=6)

    def test_bands_are_disjoint_third_octaves_holding_their_centres(self):
        bands = stoi.third_octave_matrix()
        f = np.linspace(0.0, stoi.RATE, stoi.FFT_SIZE + 1)[:stoi.FFT_SIZE // 2 + 1]
        self.assertTrue(np.all(bands.sum(axis=0) <= 1.0))
        for k, row in enumerate(bands):
            centre = stoi.LOWEST_CENTRE * 2.0 ** (k / 3.0)
            covered = f[row > 0]
            self.assertLessEqual(covered[0], centre)
            self.assertGreaterEqual(covered[-1], centre - (f[1] - f[0]))


class AlignmentTest(unittest.TestCase):
    def test_finds_a_known_lag_in_noise(self):
        x = talker()
        for known in (0, 1, 384, -57, 1000):
            with self.subTest(lag=known):
                shifted = np.roll(with_noise(x, 0.0), known)
                self.assertEqual(metrics.lag(shifted, x, 1600), known)

    def test_evaluate_aligns_delayed_and_shortened_signals(self):
        x = talker()
        delayed = np.concatenate([np.zeros(384), x])[:len(x) - 500]
        results = metrics.evaluate(x, {"same": x, "delayed": delayed}, RATE)
        self.assertEqual(results["same"]["lag"], 0)
        self.assertEqual(results["delayed"]["lag"], 384)
        self.assertGreater(results["delayed"]["si_sdr"], 100.0)
        self.assertAlmostEqual(results["delayed"]["stoi"], 1.0, delta=1e-3)
        improvement = metrics.improvements(results, "same")["delayed"]
        self.assertAlmostEqual(improvement["stoi"], 0.0, delta=1e-3)


if __name__ == "__main__":
    unittest.main()
