"""The simulator's physics and mixing."""
import unittest

import numpy as np
from scipy import signal

from eval import audio, room, scene


def measured_delay(rendering, rate, band=(100.0, 0.4)):
    """Delay of microphone 1 behind microphone 0 (s) from the phase slope of their cross-spectrum."""
    x0, x1 = rendering.mixture[:, 0], rendering.mixture[:, 1]
    f = np.fft.rfftfreq(len(x0), 1.0 / rate)
    phase = np.unwrap(np.angle(np.fft.rfft(x1) * np.conj(np.fft.rfft(x0))))
    use = (f > band[0]) & (f < band[1] * rate)
    return -np.sum(f[use] * phase[use]) / (2.0 * np.pi * np.sum(f[use] ** 2))


class FreeFieldTest(unittest.TestCase):
    def test_inter_microphone_delay_is_d_sin_theta_over_c(self):
        rate = 16000
        for spacing in (0.05, 0.2):
            for angle in (-90.0, -60.0, -25.0, 0.0, 10.0, 45.0, 90.0):
                with self.subTest(spacing=spacing, angle=angle):
                    s = scene.Scene(rate=rate, seconds=2.0, spacing=spacing, target=None,
                                    interferers=(scene.Source("white", angle),))
                    expected = spacing * np.sin(np.radians(angle)) / audio.SOUND_SPEED
                    self.assertAlmostEqual(measured_delay(scene.render(s), rate), expected, delta=2e-7)

    def test_diffuse_coherence_follows_the_sinc(self):
        rate = 16000
        for spacing in (0.05, 0.2):
            with self.subTest(spacing=spacing):
                s = scene.Scene(rate=rate, seconds=10.0, spacing=spacing, target=None,
                                interferers=(scene.Source("pink", None),))
                x = scene.render(s).mixture
                f, cross = signal.csd(x[:, 0], x[:, 1], rate, nperseg=256)
                _, p0 = signal.welch(x[:, 0], rate, nperseg=256)
                _, p1 = signal.welch(x[:, 1], rate, nperseg=256)
                coherence = cross / np.sqrt(p0 * p1)
                theory = np.sinc(2.0 * f * spacing / audio.SOUND_SPEED)
                use = f > 100.0
                self.assertLess(np.max(np.abs(coherence[use] - theory[use])), 0.1)
                self.assertLess(np.mean(np.abs(coherence[use] - theory[use])), 0.03)


class MixingTest(unittest.TestCase):
    SCENE = scene.Scene(rate=8000, seconds=3.0, snr=-3.0,
                        interferers=(scene.Source("talker", 40.0), scene.Source("white", -70.0, level=-6.0)))

    def test_snr_at_microphone_0_is_the_requested_one(self):
        r = scene.render(self.SCENE)
        self.assertAlmostEqual(audio.db(audio.power(r.target) / audio.power(r.interference)), -3.0, places=6)

    def test_mixture_is_target_plus_interference_at_microphone_0(self):
        r = scene.render(self.SCENE)
        self.assertLessEqual(np.max(np.abs(r.mixture[:, 0] - r.target - r.interference)),
                             0.5 / audio.FULL_SCALE + 1e-12)
        self.assertAlmostEqual(audio.db(audio.power(r.mixture[:, 0])), scene.MIXTURE_LEVEL_DB, delta=0.01)

    def test_rendering_is_determined_by_the_seed(self):
        first, again = scene.render(self.SCENE), scene.render(self.SCENE)
        other = scene.render(scene.Scene(**{**self.SCENE.__dict__, "seed": 2}))
        np.testing.assert_array_equal(first.mixture, again.mixture)
        self.assertFalse(np.array_equal(first.target, other.target))

    def test_impossible_scenes_are_refused(self):
        diffuse_talker = scene.Scene(interferers=(scene.Source("talker", None),))
        outside = scene.Scene(interferers=(scene.Source("white", 0.0, distance=9.0),), room=scene.Room())
        for s in (diffuse_talker, outside):
            with self.assertRaises(ValueError):
                scene.render(s)


class RoomTest(unittest.TestCase):
    def test_energy_decay_gives_the_requested_rt60(self):
        rate = 8000
        cases = (((6.0, 5.0, 3.0), 0.4), ((4.0, 3.0, 2.5), 0.2),
                 ((10.0, 3.0, 3.0), 0.5), ((5.0, 4.0, 3.0), 0.7))
        for dims, rt60 in cases:
            with self.subTest(dims=dims, rt60=rt60):
                h = room.impulse_response(dims, (1.2, 2.1, 1.4), (3.1, 1.9, 1.2), rate, rt60)
                self.assertAlmostEqual(room.decay_time(h, rate), rt60, delta=0.2 * rt60)

    def test_direct_sound_arrives_after_distance_over_c(self):
        rate = 16000
        source, mic = np.array([1.0, 1.5, 1.2]), np.array([3.0, 2.0, 1.4])
        h = room.impulse_response((6.0, 5.0, 3.0), source, mic, rate, 0.3)
        expected = np.linalg.norm(source - mic) / audio.SOUND_SPEED * rate
        self.assertLessEqual(abs(int(np.argmax(np.abs(h))) - expected), 1.0)


if __name__ == "__main__":
    unittest.main()
