"""The Python module against pcmbeam on the same samples.

Run by CTest with the built module on PYTHONPATH and PCMBEAM, VECTOR_DIR set.
"""
import os
import subprocess
import tempfile
import threading
import unittest

import numpy as np

import micarray

PCMBEAM = os.environ["PCMBEAM"]
VECTOR_DIR = os.environ["VECTOR_DIR"]
DEFAULTS = ["0.05", "0.07", "-15", "0.9", "0.98"]


def pcmbeam(stereo, rate, tuning=DEFAULTS):
    """pcmbeam's output for an (n, 2) int16 array."""
    with tempfile.TemporaryDirectory() as d:
        src, dst = os.path.join(d, "in.pcm"), os.path.join(d, "out.pcm")
        stereo.astype("<i2").tofile(src)
        subprocess.run([PCMBEAM, *tuning, str(rate), src, dst], check=True, stdout=subprocess.DEVNULL)
        return np.fromfile(dst, dtype="<i2")


def talker(name="talker_16k"):
    return np.fromfile(os.path.join(VECTOR_DIR, name + ".in.pcm"), dtype="<i2").reshape(-1, 2)


class Enhance(unittest.TestCase):
    def test_raw_stream_is_pcmbeams_output(self):
        x = talker()[:-37]  # a short final step, dropped by both
        y = micarray.enhance(x, 16000, align=False)
        self.assertEqual(y.dtype, np.int16)
        np.testing.assert_array_equal(y, pcmbeam(x, 16000))

    def test_tuning_values_reach_the_engine(self):
        x = talker("talker_8k")
        y = micarray.enhance(x, 8000, distance=0.1, speed=0.2, suppression=-30, noise_rate=0.8,
                             musical=0.7, align=False)
        np.testing.assert_array_equal(y, pcmbeam(x, 8000, ["0.1", "0.2", "-30", "0.8", "0.7"]))

    def test_aligned_output_is_pcmbeams_three_steps_later(self):
        x = talker()[:10000]
        delay = 3 * 128
        padded = np.concatenate([x, np.zeros((1024, 2), np.int16)])
        expected = pcmbeam(padded, 16000)[delay:delay + len(x)]
        y = micarray.enhance(x, 16000)
        self.assertEqual(y.shape, (len(x),))
        np.testing.assert_array_equal(y, expected)

    def test_float_samples_are_scaled_sixteen_bit_samples(self):
        x = talker()[:8000]
        expected = micarray.enhance(x, 16000)
        for dtype in (np.float32, np.float64):
            y = micarray.enhance(x.astype(dtype) / 32768, 16000)
            self.assertEqual(y.dtype, dtype)
            np.testing.assert_array_equal(y * 32768, expected)

    def test_float_samples_are_rounded_and_saturated(self):
        x = talker()[:4000].astype(np.float64)
        shifted = (x + 0.5) / 32768  # halves, rounded away from zero
        shifted[::97] = 1.5          # beyond full scale
        expected = np.where(x + 0.5 >= 0, np.floor(x + 1.0), np.ceil(x)).astype(np.int16)
        expected[::97] = 32767
        np.testing.assert_array_equal(micarray.enhance(shifted, 16000), micarray.enhance(expected, 16000) / 32768)

    def test_refusals(self):
        x = talker()[:1000]
        with self.assertRaisesRegex(ValueError, "Distance between sensors"):
            micarray.enhance(x, 16000, distance=0)
        with self.assertRaisesRegex(ValueError, "pNn"):
            micarray.enhance(x, 16000, noise_rate=1.0)
        with self.assertRaisesRegex(ValueError, "8000 to 48000"):
            micarray.enhance(x, 96000)
        with self.assertRaisesRegex(ValueError, r"shape \(n, 2\)"):
            micarray.enhance(np.zeros((100, 3), np.int16), 16000)
        with self.assertRaises(TypeError):
            micarray.enhance(x.astype(np.int32), 16000)

    def test_threads_each_get_their_own_result(self):
        inputs = [talker()[:16000], talker("talker_8k")[:8000]]
        rates = [16000, 8000]
        expected = [micarray.enhance(x, r) for x, r in zip(inputs, rates)]
        results = [None, None]

        def work(i):
            results[i] = micarray.enhance(inputs[i], rates[i])

        threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for got, want in zip(results, expected):
            np.testing.assert_array_equal(got, want)


class Stream(unittest.TestCase):
    def test_blocks_of_any_size_give_the_whole_result(self):
        x = talker()[:20000]
        for align in (True, False):
            s = micarray.Stream(16000, align=align)
            self.assertEqual((s.rate, s.step, s.delay, s.aligned), (16000, 128, 384, align))
            parts = [s.process(x[i:i + 777]) for i in range(0, len(x), 777)] + [s.flush()]
            np.testing.assert_array_equal(np.concatenate(parts), micarray.enhance(x, 16000, align=align))

    def test_float_blocks_and_a_new_recording_after_flush(self):
        x = talker()[:6000]
        s = micarray.Stream(16000, suppression=-20)
        first = np.concatenate([s.process(x[:3000] / 32768), s.process(x[3000:] / 32768),
                                s.flush()])
        second = np.concatenate([s.process(x / 32768), s.flush()])
        np.testing.assert_array_equal(first, second)
        np.testing.assert_array_equal(first * 32768, micarray.enhance(x, 16000, suppression=-20))


if __name__ == "__main__":
    unittest.main()
