"""The Python module against pcmbeam on the same samples (run by CTest: PYTHONPATH, PCMBEAM, VECTOR_DIR set)."""
import os
import subprocess
import tempfile
import unittest

import numpy as np

import micarray


def pcmbeam(stereo, rate, tuning):
    """pcmbeam's output for an (n, 2) int16 array."""
    with tempfile.TemporaryDirectory() as d:
        src, dst = os.path.join(d, "in.pcm"), os.path.join(d, "out.pcm")
        stereo.astype("<i2").tofile(src)
        args = [str(tuning[k]) for k in ("distance", "speed", "suppression", "noise_rate", "musical")]
        subprocess.run([os.environ["PCMBEAM"], *args, str(rate), src, dst], check=True, stdout=subprocess.DEVNULL)
        return np.fromfile(dst, dtype="<i2")


def talker(name="talker_16k"):
    return np.fromfile(os.path.join(os.environ["VECTOR_DIR"], name + ".in.pcm"), dtype="<i2").reshape(-1, 2)


DEFAULTS = dict(distance=0.05, speed=0.07, suppression=-15, noise_rate=0.9, musical=0.98)


class Enhance(unittest.TestCase):
    def test_raw_stream_is_pcmbeams_output_and_aligned_three_steps_earlier(self):
        custom = dict(distance=0.1, speed=0.2, suppression=-30, noise_rate=0.8, musical=0.7)
        for rate, x, tuning in ((16000, talker()[:-37], DEFAULTS), (8000, talker("talker_8k"), custom)):
            raw = micarray.enhance(x, rate, engine="classic", align=False, **tuning)
            self.assertEqual(raw.dtype, np.int16)
            np.testing.assert_array_equal(raw, pcmbeam(x, rate, tuning))  # a short final step dropped by both
            delay = 3 * micarray.Stream(rate, engine="classic").step
            padded = np.concatenate([x, np.zeros((2 * delay, 2), np.int16)])
            np.testing.assert_array_equal(micarray.enhance(x, rate, engine="classic", **tuning),
                                          pcmbeam(padded, rate, tuning)[delay:delay + len(x)])

    def test_refusals(self):
        x = talker()[:1000]
        for error, message, call in (
                (ValueError, "Distance between sensors", lambda: micarray.enhance(x, 16000, distance=0)),
                (ValueError, r"shape \(n, 2\)", lambda: micarray.enhance(np.zeros((100, 3), np.int16), 16000)),
                (TypeError, "int16, float32 or float64", lambda: micarray.enhance(x.astype(np.int32), 16000))):
            with self.assertRaisesRegex(error, message):
                call()

    def test_blocks_of_any_size_and_type_and_a_new_recording_after_flush(self):
        """Float blocks (1.0 is full scale) come back as the same type."""
        x, s = talker()[:20000], micarray.Stream(16000, suppression=-20)
        expected = micarray.enhance(x, 16000, suppression=-20)
        for dtype, scale in ((np.int16, 1), (np.float32, 32768), (np.float64, 32768)):
            blocks = [s.process((x[i:i + 777] / scale).astype(dtype)) for i in range(0, len(x), 777)]
            out = np.concatenate(blocks + [s.flush()])
            self.assertEqual(out.dtype, dtype)
            np.testing.assert_array_equal(out * scale, expected)


if __name__ == "__main__":
    unittest.main()
