"""Scores an enhanced recording against the clean target.

    /usr/bin/python3 -m eval.score TARGET.wav MIXTURE.wav ENHANCED.(wav|pcm)

TARGET is the clean target at microphone 0, MIXTURE the stereo input; a raw
ENHANCED file is read as mono 16-bit at the target's rate. Prints every metric
of microphone 0, the fixed beam and the enhanced signal, then the enhanced
signal's improvement over the other two.
"""
import argparse

import numpy as np

from . import audio, metrics


def table(results):
    """Text table of {name: {metric: value}}."""
    lines = [f"{'':>16}" + "".join(f"{m:>10}" for m in ("lag",) + metrics.NAMES)]
    for name, r in results.items():
        lag = f"{r['lag']:>10d}" if "lag" in r else f"{'':>10}"
        lines.append(f"{name:>16}{lag}" + "".join(f"{r[m]:>10.3f}" for m in metrics.NAMES))
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("target")
    parser.add_argument("mixture")
    parser.add_argument("enhanced")
    args = parser.parse_args(argv)
    rate, target = audio.read_wav(args.target)
    mixture_rate, mixture = audio.read_wav(args.mixture)
    if args.enhanced.endswith(".pcm"):
        enhanced_rate, enhanced = rate, audio.from_int16(np.fromfile(args.enhanced, dtype="<i2"))
    else:
        enhanced_rate, enhanced = audio.read_wav(args.enhanced)
    if mixture.ndim != 2 or mixture.shape[1] != 2 or target.ndim != 1 or enhanced.ndim != 1:
        raise SystemExit("expected a mono target, a stereo mixture and a mono enhanced signal")
    if not rate == mixture_rate == enhanced_rate:
        raise SystemExit("the three files must share one sampling rate")
    results = metrics.evaluate(target, {"mic0": mixture[:, 0], "beam": mixture.mean(axis=1),
                                        "enhanced": enhanced}, rate, over=("mic0", "beam"))
    print(table(results))
    print(table({f"enhanced - {over}": metrics.improvements(results, over)["enhanced"]
                 for over in ("mic0", "beam")}))


if __name__ == "__main__":
    main()
