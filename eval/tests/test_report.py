"""The report end to end on its quick subset, and the peer programs (from EVAL_BUILD, when built)."""
import contextlib
import dataclasses
import html
import io
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import numpy as np

from eval import check_page, metrics, report, scene, sets, systems

BUILD = os.environ.get("EVAL_BUILD", systems.BUILD)
EMULATED = bool(os.environ.get("PCMBEAM_RUNNER"))  # the report runs the build's programs natively
PEERS = {s.key: s for s in systems.standard(BUILD) if s.key in ("webrtc", "speex")}


class ReportTest(unittest.TestCase):
    @unittest.skipIf(EMULATED, "this build's programs run under an emulator")
    def test_quick_report_scores_or_explains_every_system_and_its_page_loads_every_image(self):
        with tempfile.TemporaryDirectory() as tmp:
            with contextlib.redirect_stdout(io.StringIO()):
                report.main(["--quick", "--out", tmp, "--build", BUILD])
            with open(os.path.join(tmp, "index.html"), encoding="utf-8") as f:
                page = f.read()
            with open(os.path.join(tmp, "results.json"), encoding="utf-8") as f:
                rows = json.load(f)["rows"]
            for system in systems.standard(BUILD):
                if systems.missing(system):
                    self.assertIn(html.escape(systems.missing(system)), page)
                for row, (_, _, s) in zip(rows, sets.quick()):  # a built program runs where it applies
                    ran = not (systems.missing(system) or systems.refusal(system, s))
                    self.assertEqual(system.key in row["results"], ran, row["skipped"].get(system.key))
            linked = re.findall(r'src="([^"]+)"', page)
            self.assertGreater(len(linked), 4 * len(rows))  # a spectrogram and players per scene
            for name in linked:
                self.assertTrue(os.path.exists(os.path.join(tmp, name)), name)
            if shutil.which(check_page.CHROMIUM):
                ok, message = check_page.images_loaded(os.path.join(tmp, "index.html"))
                self.assertTrue(ok, message)

    @unittest.skipIf(any(systems.missing(p) for p in PEERS.values()), "the peer programs are not built")
    def test_peers_keep_the_length_repeat_exactly_refuse_bad_arguments_and_steer_where_told(self):
        s = scene.Scene(seconds=2.0, target=scene.Source("talker", 30.0),
                        interferers=(scene.Source("talker", -30.0),), snr=0.0)
        r = scene.render(s)

        def told(system, angle):
            steered = dataclasses.replace(s, target=scene.Source("talker", angle))
            return systems.run(system, r.mixture, steered)[0]
        for system in PEERS.values():
            first, again = told(system, 30.0), told(system, 30.0)
            self.assertEqual(len(first), len(r.mixture))
            np.testing.assert_array_equal(first, again)
            done = subprocess.run([system.program, "x"], capture_output=True, text=True)
            self.assertEqual((done.returncode, "usage" in done.stderr), (2, True), system.key)
        scores = metrics.evaluate(r.target, {"right": told(PEERS["webrtc"], 30.0),
                                             "wrong": told(PEERS["webrtc"], -30.0)}, s.rate)
        self.assertGreater(scores["right"]["si_sdr"], scores["wrong"]["si_sdr"] + 6.0)
