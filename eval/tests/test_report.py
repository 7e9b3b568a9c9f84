"""The report end to end on its quick subset, its command-line tools and README block, the
engine's program as it runs it (PCMBEAM names it; PCMBEAM_RUNNER may prefix it) and the peer
programs (from EVAL_BUILD, when built)."""
import contextlib
import dataclasses
import html
import io
import json
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import tempfile
import unittest

import numpy as np

from eval import (audio, beampattern, check_page, engine, metrics, report, scene, score, sets, simulate,
                  systems)

BUILD = os.environ.get("EVAL_BUILD", systems.BUILD)
PROGRAM = os.environ.get("PCMBEAM", engine.DEFAULT_PCMBEAM)
RUNNER = tuple(shlex.split(os.environ.get("PCMBEAM_RUNNER", "")))
EMULATED = bool(RUNNER)  # the report runs the build's programs natively
PEERS = {s.key: s for s in systems.standard(BUILD)
         if s.key in ("webrtc", "speex", "rnnoise") and not systems.missing(s)}
ADAPTIVE = next(s for s in systems.standard(BUILD) if s.key == "mvdr")


def _adaptive_gain(s, lead=0.0):
    """The adaptive engine's gain over microphone 0 on scene s, after lead seconds of faint
    white noise (-50 dBFS) that are not scored."""
    r = scene.render(s)
    quiet = np.random.default_rng(1).standard_normal((int(lead * s.rate), 2)) * 3e-3
    out = systems.run(ADAPTIVE, np.concatenate([quiet, r.mixture]), s)[0][len(quiet):]
    return metrics.evaluate(r.target, {"out": out, "mic0": r.mixture[:, 0]}, s.rate,
                            over=("mic0",))["out"]["gain"]["mic0"]


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

    @unittest.skipIf(not PEERS, "no peer program is built")
    def test_peers_keep_the_length_repeat_exactly_refuse_bad_arguments_and_do_their_job(self):
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
        if "webrtc" in PEERS:
            scores = metrics.evaluate(r.target, {"right": told(PEERS["webrtc"], 30.0),
                                                 "wrong": told(PEERS["webrtc"], -30.0)}, s.rate)
            self.assertGreater(scores["right"]["si_sdr"], scores["wrong"]["si_sdr"] + 6.0)
        # The single-microphone denoisers on white noise at 0 dB, at a rate RNNoise resamples
        # from (a misaligned or badly resampled output scores far below the input).
        noisy = dataclasses.replace(s, interferers=(scene.Source("white", -30.0),), rate=8000)
        n = scene.render(noisy)
        for key, least in (("speex", 1.0), ("rnnoise", 5.0)):
            if key in PEERS:
                gain = metrics.improvements(metrics.evaluate(
                    n.target, {"mic0": n.mixture[:, 0], key: systems.run(PEERS[key], n.mixture, noisy)[0]},
                    noisy.rate, over=("mic0",)), "mic0")[key]
                self.assertGreater(gain["si_sdr"], least, key)

    @unittest.skipIf(EMULATED or systems.missing(ADAPTIVE), "the adaptive engine's program is not run here")
    def test_adaptive_engine_tells_a_reverberant_room_from_a_free_field_interferer(self):
        gain = _adaptive_gain
        # The talker's reverberation fills the blocking reference from its first word on; the
        # output beam that took it for new noise cancelled part of the talker (-0.8 dB here).
        _, name, s = sets.random_rooms(404, seconds=3.0)[0]
        room = gain(s)
        self.assertGreater(room["si_sdr"], 0.0, name)
        self.assertGreaterEqual(room["stoi"], 0.0, name)
        # A room that reads only a little less coherent than the free field must be found in
        # its first words, before its noise statistics have settled: +0.5 dB when the detector
        # took a second here, +1.5 now.
        _, name, s = sets.random_rooms(505, seconds=3.0)[9]
        self.assertGreater(gain(s)["si_sdr"], 1.0, name)
        # With little reverberation the talker stays nearly as coherent as in the free field, but
        # the interferer, arriving mostly as reverberation, does not: -0.4 dB before the noise's
        # coherence counted, +1.0 now.
        _, name, s = sets.random_rooms(11, seconds=3.0)[4]
        self.assertGreater(gain(s)["si_sdr"], 0.5, name)
        # At 10 cm a talking interferer lowers the talker's measured coherence as reverberation
        # does; taken for a room half the time, this scene scored +7.8 dB instead of +11.4.
        free = gain(scene.Scene(rate=16000, seconds=6.0, spacing=0.1, seed=78, target=scene.Source("talker", 45.0),
                                interferers=(scene.Source("talker", -15.0),), snr=0.0))
        self.assertGreater(free["si_sdr"], 10.0)
        # At 2 cm a room reads nearly as coherent as the free field does at 5 cm; read against a
        # diffuse field's coherence at that spacing it is found (-1.6 dB before, +1.2 now).
        _, name, s = sets.random_rooms(505, seconds=3.0)[5]
        self.assertGreater(gain(dataclasses.replace(s, spacing=0.02))["si_sdr"], 0.0, name)
        # At 0 dB the interferer's bursts hide in the reference term that rooms count a quarter;
        # where the talker's direction explains little of a bin it counts in full (+5.5 dB
        # before, +6.4 now).
        _, name, s = sets.random_rooms(505, seconds=3.0)[10]
        self.assertGreater(gain(s)["si_sdr"], 6.0, name)
        # With the talker 40 degrees off broadside its reverberation lines up less with the
        # steering, and each bin's share of it reads lower: the spatial gain and the share's ramps
        # took the talker's frames for the interferer's (+1.0 dB before they moved, +2.9 now).
        _, name, s = sets.random_rooms(404, seconds=3.0)[5]
        turned = dataclasses.replace(s, target=dataclasses.replace(s.target, angle=40.0))
        self.assertGreater(gain(turned)["si_sdr"], 2.0, name)

    @unittest.skipIf(EMULATED or systems.missing(ADAPTIVE), "the adaptive engine's program is not run here")
    def test_adaptive_engine_steers_at_the_talker_when_a_steady_noise_is_louder_or_new(self):
        gain = _adaptive_gain
        # A mouth at endfire, white noise 5 dB louder: the calibration took the noise for the
        # talker from the first frame (-3.0 dB, STOI -0.12).
        endfire = gain(scene.Scene(rate=16000, seconds=3.0, spacing=0.05, seed=78, target=scene.Source("talker", 90.0),
                                   interferers=(scene.Source("white", 60.0),), snr=-5.0))
        self.assertGreater(endfire["si_sdr"], 1.0)
        self.assertGreater(endfire["stoi"], 0.0)
        # Pink noise starting with the talker after a quiet second: taken for the talker by the
        # presence test and then by the calibration, for good (-9.3 dB).
        late = gain(scene.Scene(rate=16000, seconds=3.0, spacing=0.05, seed=91,
                                interferers=(scene.Source("pink", 20.0),), snr=0.0), lead=1.0)
        self.assertGreater(late["si_sdr"], 2.0)


class ToolsTest(unittest.TestCase):
    def test_simulated_files_add_up_and_score_against_themselves(self):
        with tempfile.TemporaryDirectory() as tmp:
            prefix = os.path.join(tmp, "s")
            simulate.main([prefix, "--rate", "8000", "--seconds", "2", "--talker", "45", "--pink", "diffuse:-6",
                           "--snr", "0", "--pcm"])
            rate, mixture = audio.read_wav(prefix + ".wav")
            target, interference = (audio.read_wav(prefix + name)[1] for name in ("_target.wav", "_interference.wav"))
            self.assertEqual((rate, mixture.shape), (8000, (16000, 2)))
            # Each file is rounded to 16 bits on its own.
            self.assertLessEqual(np.max(np.abs(target + interference - mixture[:, 0])), 1.5 / audio.FULL_SCALE)
            np.testing.assert_array_equal(np.fromfile(prefix + ".pcm", dtype="<i2"), audio.to_int16(mixture).ravel())
            audio.write_wav(prefix + "_mic0.wav", rate, mixture[:, 0])
            printed = io.StringIO()
            with contextlib.redirect_stdout(printed):
                score.main([prefix + "_target.wav", prefix + ".wav", prefix + "_mic0.wav"])
            over_mic0 = next(line for line in printed.getvalue().splitlines()
                             if line.strip().startswith("enhanced - mic0")).split()
            self.assertEqual([float(v) for v in over_mic0[3:]], [0.0] * 4)

    def test_verdict_counts_wins_over_the_beamformer_and_names_each_peer_that_does_better(self):
        chosen = {s.key: s for s in systems.standard(BUILD)}

        def row(family, **si_sdr):
            return {"family": family, "results": dict.fromkeys(si_sdr),
                    "over_mic0": {k: {"si_sdr": v, "stoi": 0.0} for k, v in si_sdr.items()}}
        rows = [row("free field", mvdr=12.0, webrtc=2.0, speex=0.5, rnnoise=-0.5),
                row("diffuse noise", mvdr=4.0, webrtc=2.0, speex=3.0, rnnoise=6.0)]
        line = report.verdict(rows, chosen["mvdr"], tuple(chosen.values()))
        self.assertIn("beats the WebRTC beamformer on 2 of 2 scenes", line)
        self.assertTrue(line.endswith("; other peers do better on diffuse noise (RNNoise (mic 0) +6.0 dB "
                                      "against +4.0)."), line)

    def test_readme_changes_only_in_the_marked_block(self):
        with tempfile.TemporaryDirectory() as tmp:
            readme, image, source = (pathlib.Path(tmp, p) for p in ("README.md", "docs/x.png", "source.png"))
            source.write_bytes(b"png")
            before, after = "# Title\n\nintro\n", "\n## Next\ntext\n"
            readme.write_text(f"{before}{report.README_BEGIN}\nold table\n{report.README_END}{after}")
            for table in ("| first |\n", "| second |\n"):  # a second run replaces the first
                report.update_readme(table, source, readme, image)
            # Exactly the text around the block, the last table and a link to the copied image.
            head = re.escape(f"{before}{report.README_BEGIN}\n| second |\n\n![")
            tail = re.escape(f"](docs/x.png)\n{report.README_END}{after}")
            self.assertRegex(readme.read_text(), rf"\A{head}[^]\n]*{tail}\Z")
            self.assertEqual(image.read_bytes(), b"png")


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
