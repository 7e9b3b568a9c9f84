"""Figures of the report: spectrograms and beam patterns, as PNG files."""
import io

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the back end is chosen first)
import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402
from scipy import signal  # noqa: E402

SPECTROGRAM_SECONDS = 0.032  # analysis frame
DYNAMIC_RANGE_DB = 70.0  # shown below the loudest bin of all panels
DPI = 80
PALETTE_COLOURS = 64  # figures are stored with a palette: a quarter of the size, no visible loss


def _save(fig, path):
    buffer = io.BytesIO()
    fig.savefig(buffer, dpi=DPI, format="png")
    plt.close(fig)
    buffer.seek(0)
    Image.open(buffer).convert("RGB").quantize(PALETTE_COLOURS).save(path, optimize=True)


def spectrograms(path, rate, panels, title):
    """One spectrogram per (label, signal) pair in panels, stacked, on a common colour scale."""
    size = int(SPECTROGRAM_SECONDS * rate)
    images = []
    for label, x in panels:
        f, t, s = signal.spectrogram(x, rate, window="hann", nperseg=size, noverlap=size * 3 // 4)
        images.append((label, f, t, 10.0 * np.log10(s + 1e-20)))
    top = max(np.max(i[3]) for i in images)
    fig, axes = plt.subplots(len(panels), 1, figsize=(8, 2.1 * len(panels)), sharex=True, squeeze=False)
    for ax, (label, f, t, level) in zip(axes[:, 0], images):
        mesh = ax.pcolormesh(t, f / 1000.0, level, shading="auto", cmap="magma",
                             vmin=top - DYNAMIC_RANGE_DB, vmax=top)
        ax.set_ylabel("kHz")
        ax.set_title(label, fontsize=10, loc="left")
    axes[-1, 0].set_xlabel("time (s)")
    fig.suptitle(title, fontsize=11)
    fig.colorbar(mesh, ax=axes[:, 0].tolist(), label="dB", shrink=0.8)
    _save(fig, path)


def beam_patterns(path, patterns):
    """Attenuation versus angle: one panel per rate, one colour per frequency.

    patterns maps a rate to {"angles": [...], "engine": {f: [...]}, "beam": {f: [...]}};
    the engine's curves are solid, the fixed beam's dashed.
    """
    every = sorted(set().union(*(p["engine"] for p in patterns.values())))
    fig, axes = plt.subplots(1, len(patterns), figsize=(4.5 * len(patterns), 4), sharey=True, squeeze=False)
    for ax, (rate, p) in zip(axes[0], sorted(patterns.items())):
        for f in sorted(p["engine"]):
            colour = f"C{every.index(f)}"  # one colour per frequency in every panel
            ax.plot(p["angles"], p["engine"][f], color=colour, label=f"{f} Hz")
            ax.plot(p["angles"], p["beam"][f], color=colour, linestyle="--")
        ax.set_title(f"{rate} Hz sampling", fontsize=10)
        ax.set_xlabel("noise source angle (degrees)")
        ax.set_xticks(np.arange(-90, 91, 30))
        ax.grid(True, alpha=0.3)
    axes[0, 0].set_ylabel("level against microphone 0 (dB)")
    handles, labels = max((ax.get_legend_handles_labels() for ax in axes[0]), key=lambda h: len(h[0]))
    fig.legend(handles, labels, loc="lower center", ncol=len(labels), fontsize=9,
               title="solid: engine output, dashed: fixed beam", title_fontsize=9)
    fig.tight_layout(rect=(0, 0.14, 1, 1))
    _save(fig, path)
