"""Metrics on cases whose answers are known."""
import unittest

import numpy as np

from eval import metrics, sources, stoi

RATE = 16000
TALKER = sources.speech(3 * RATE, RATE, sources.VOICES[0], np.random.default_rng(7))


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
        results = metrics.evaluate(TALKER, {"same": TALKER, "delayed": delayed}, RATE)
        self.assertEqual((results["same"]["lag"], results["delayed"]["lag"]), (0, 384))
        self.assertGreater(results["delayed"]["si_sdr"], 100.0)
        self.assertAlmostEqual(metrics.improvements(results, "same")["delayed"]["stoi"], 0.0, delta=1e-3)
