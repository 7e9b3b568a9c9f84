"""Metrics on cases whose answers are known."""
import unittest

import numpy as np

from eval import metrics, sources, stoi

RATE = 16000
TALKER = sources.speech(3 * RATE, RATE, sources.VOICES[0], np.random.default_rng(7))
TONE = np.sin(2 * np.pi * 440.0 * np.arange(2 * RATE) / RATE)


def with_noise(x, snr_db, seed=3):
    """x plus white noise scaled to exactly snr_db."""
    noise = np.random.default_rng(seed).standard_normal(len(x))
    return x + noise * np.sqrt(np.mean(x ** 2) / np.mean(noise ** 2) / 10.0 ** (snr_db / 10.0))


class RatioTest(unittest.TestCase):
    def test_scaled_copy_and_known_snr(self):
        x = TALKER
        for scale in (0.01, 0.5, 3.0):
            self.assertGreater(metrics.si_sdr(x, scale * x), 100.0)
        for snr in (-5.0, 0.0, 10.0, 30.0):
            with self.subTest(snr=snr):
                y = with_noise(x, snr)
                self.assertAlmostEqual(metrics.snr(x, y), snr, delta=0.1)
                self.assertAlmostEqual(metrics.si_sdr(x, y), snr, delta=0.1)
                self.assertAlmostEqual(metrics.si_sdr(x, 0.5 * y), metrics.si_sdr(x, y), places=9)
        self.assertLess(metrics.snr(x, 0.5 * with_noise(x, 10.0)), 10.0 - 3.0)  # SNR is not scale invariant

    def test_segmental_snr(self):
        """Steady noise gives the SNR, silent frames are skipped, every frame is clipped."""
        noisy = with_noise(TONE, 12.0)
        self.assertAlmostEqual(metrics.segmental_snr(TONE, noisy, RATE), 12.0, delta=0.3)
        silent = np.zeros(RATE)
        padded = metrics.segmental_snr(np.concatenate([TONE, silent]), np.concatenate([noisy, silent + 0.1]), RATE)
        self.assertAlmostEqual(padded, metrics.segmental_snr(TONE, noisy, RATE), delta=0.2)
        for estimate, bound in ((TALKER, metrics.SEGMENT_CEILING_DB),
                                (TALKER + 100.0 * with_noise(TALKER, 0.0), metrics.SEGMENT_FLOOR_DB)):
            self.assertAlmostEqual(metrics.segmental_snr(TALKER, estimate, RATE), bound, places=6)


class StoiTest(unittest.TestCase):
    def test_identical_signals_score_one(self):
        for rate in (8000, 16000):
            y = TALKER[::RATE // rate]
            self.assertAlmostEqual(stoi.stoi(y, y, rate), 1.0, delta=1e-3)

    def test_score_falls_as_noise_is_added_whatever_its_level(self):
        x = TALKER
        scores = [stoi.stoi(x, with_noise(x, snr), RATE) for snr in (20.0, 10.0, 0.0, -10.0)]
        self.assertTrue(all(a > b for a, b in zip(scores, scores[1:])), scores)
        self.assertGreater(scores[0], 0.95)
        self.assertLess(scores[-1], 0.7)
        self.assertAlmostEqual(stoi.stoi(x, 0.1 * with_noise(x, 10.0), RATE), scores[1], places=6)


class AlignmentTest(unittest.TestCase):
    def test_finds_a_known_lag_in_noise(self):
        for known in (0, 1, 384, -57, 1000):
            self.assertEqual(metrics.lag(np.roll(with_noise(TALKER, 0.0), known), TALKER, 1600), known)

    def test_evaluate_aligns_delayed_and_shortened_signals(self):
        x = TALKER
        delayed = np.concatenate([np.zeros(384), x])[:len(x) - 500]
        results = metrics.evaluate(x, {"same": x, "delayed": delayed}, RATE)
        self.assertEqual((results["same"]["lag"], results["delayed"]["lag"]), (0, 384))
        self.assertGreater(results["delayed"]["si_sdr"], 100.0)
        self.assertAlmostEqual(metrics.improvements(results, "same")["delayed"]["stoi"], 0.0, delta=1e-3)


if __name__ == "__main__":
    unittest.main()
