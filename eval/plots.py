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
SPECTROGRAM_PANEL_INCHES = 1.2
BAR_HEIGHT_INCHES = 0.09  # per bar of the grouped bar charts
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
    fig, axes = plt.subplots(len(panels), 1, figsize=(9, 0.7 + SPECTROGRAM_PANEL_INCHES * len(panels)),
                             sharex=True, squeeze=False, layout="constrained")
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
    """Attenuation versus angle: one panel per system, one colour per frequency.

    patterns maps a panel's title to {"angles": [...], "engine": {f: [...]}, "beam": {f: [...]}};
    the system's curves are solid, the fixed beam's dashed.
    """
    every = sorted(set().union(*(p["engine"] for p in patterns.values())))
    fig, axes = plt.subplots(1, len(patterns), figsize=(4.5 * len(patterns), 4), sharey=True, squeeze=False)
    for ax, (title, p) in zip(axes[0], patterns.items()):
        for f in sorted(p["engine"]):
            colour = f"C{every.index(f)}"  # one colour per frequency in every panel
            ax.plot(p["angles"], p["engine"][f], color=colour, label=f"{f} Hz")
            ax.plot(p["angles"], p["beam"][f], color=colour, linestyle="--")
        ax.set_title(title, fontsize=10)
        ax.set_xlabel("noise source angle (degrees)")
        ax.set_xticks(np.arange(-90, 91, 30))
        ax.grid(True, alpha=0.3)
    axes[0, 0].set_ylabel("level against microphone 0 (dB)")
    handles, labels = max((ax.get_legend_handles_labels() for ax in axes[0]), key=lambda h: len(h[0]))
    fig.legend(handles, labels, loc="lower center", ncol=len(labels), fontsize=9,
               title="solid: system output, dashed: fixed beam", title_fontsize=9)
    fig.tight_layout(rect=(0, 0.14, 1, 1))
    _save(fig, path)


def grouped_bars(path, scenes, systems, panels):
    """Horizontal bars, scenes down the page and one colour per system, one panel per metric.

    panels is a list of (title, values, limits): values[i][j] is system j on scene i
    (None where it did not run). Bars beyond the limits stop at the edge, labelled
    with their value.
    """
    height = max(3.0, BAR_HEIGHT_INCHES * len(scenes) * (len(systems) + 1))
    fig, axes = plt.subplots(1, len(panels), figsize=(6.2 * len(panels), height), sharey=True, squeeze=False)
    width = 1.0 / (len(systems) + 1)
    for ax, (title, values, (low, high)) in zip(axes[0], panels):
        for j, system in enumerate(systems):
            y = np.arange(len(scenes)) + (j - (len(systems) - 1) / 2.0) * width
            v = np.array([np.nan if row[j] is None else row[j] for row in values], dtype=float)
            ax.barh(y, np.clip(v, low, high), height=width, color=f"C{j}", label=system)
            for yi, vi in zip(y, v):
                if vi < low or vi > high:
                    ax.text(low if vi < low else high, yi, f"{vi:.0f}", va="center", fontsize=6,
                            ha="left" if vi < low else "right", color="white")
        ax.axvline(0.0, color="black", linewidth=0.8)
        ax.set_xlim(low, high)
        ax.set_title(title, fontsize=10)
        ax.grid(True, axis="x", alpha=0.3)
    axes[0, 0].set_yticks(np.arange(len(scenes)))
    axes[0, 0].set_yticklabels(scenes, fontsize=8)
    axes[0, 0].invert_yaxis()
    fig.legend(*axes[0, 0].get_legend_handles_labels(), loc="upper center", ncol=len(systems), fontsize=9)
    fig.tight_layout(rect=(0, 0, 1, 1.0 - 0.5 / height))
    _save(fig, path)
