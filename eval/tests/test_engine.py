"""End to end through the engine's program (PCMBEAM names it; PCMBEAM_RUNNER may prefix it)."""
import os
import shlex
import unittest

import numpy as np

from eval import beampattern, engine, metrics, scene

PROGRAM = os.environ.get("PCMBEAM", engine.DEFAULT_PCMBEAM)
RUNNER = tuple(shlex.split(os.environ.get("PCMBEAM_RUNNER", "")))


@unittest.skipUnless(os.path.exists(PROGRAM), f"{PROGRAM} is not built")
class ProgramTest(unittest.TestCase):
    def test_output_is_whole_steps_aligned_at_three_steps_and_refusals_are_reported(self):
        with self.assertRaisesRegex(RuntimeError, "32 kHz"):
            engine.run(np.zeros((1000, 2)), 48000, 0.05, PROGRAM, runner=RUNNER)
        for rate in (8000, 16000, 32000):
            r = scene.render(scene.Scene(rate=rate, seconds=2.0, interferers=(scene.Source("white", 60.0),)))
            out, step = engine.run(r.mixture, rate, 0.05, PROGRAM, runner=RUNNER), engine.step_size(rate)
            self.assertEqual(len(out), len(r.mixture) // step * step, rate)
            self.assertEqual(metrics.evaluate(r.target, {"output": out}, rate)["output"]["lag"], engine.latency(rate))

    def test_fixed_beam_pattern_is_the_two_element_array_response(self):
        rate, spacing = 16000, 0.05
        p = beampattern.measure(rate, lambda m: engine.run(m, rate, spacing, PROGRAM, runner=RUNNER),
                                angles=(-60.0, 0.0, 30.0), spacing=spacing)
        for f in (500, 1000, 2000):
            theory = 20.0 * np.log10(np.abs(np.cos(np.pi * f * spacing * np.sin(np.radians(p["angles"])) / 343.0)))
            np.testing.assert_allclose(p["beam"][f], theory, atol=0.3)
            self.assertTrue(np.all(np.isfinite(p["engine"][f])))
