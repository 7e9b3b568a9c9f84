"""The command-line tools and the report's README block."""
import contextlib
import io
import os
import pathlib
import re
import tempfile
import unittest

import numpy as np

from eval import audio, report, score, simulate


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
