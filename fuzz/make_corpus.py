#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/<target>/ from the
reference vectors: well-formed WAV files in their usual variants, engine
inputs at each frame size with the usual and the extreme tuning values, and
micbeam's inputs at several rates, widths and containers (FLAC, Ogg and AIFF
made by sox)."""
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
VECTORS = os.path.join(HERE, "..", "tests", "vectors")


def vector(name, nbytes):
    with open(os.path.join(VECTORS, name + ".in.pcm"), "rb") as f:
        return f.read(nbytes)


def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body


def fmt(tag=1, channels=2, rate=16000, bits=16, size=16):
    align = channels * bits // 8
    body = struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits)
    return chunk(b"fmt ", body.ljust(size, b"\0"))


def riff(chunks):
    return b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"WAVE" + chunks


def wav(data, declared=None, **f):
    size = len(data) if declared is None else declared
    return riff(fmt(**f) + b"data" + struct.pack("<I", size) + data)


def sox_convert(data, extension, *options):
    """A WAV file's bytes converted by sox into the container of extension."""
    with tempfile.TemporaryDirectory() as d:
        src, dst = os.path.join(d, "in.wav"), os.path.join(d, "out" + extension)
        with open(src, "wb") as f:
            f.write(data)
        subprocess.run(["sox", src, *options, dst], check=True)
        with open(dst, "rb") as f:
            return f.read()


def engine_input(rate, fractions, samples):
    """Rate, then the five tuning values as 16-bit fractions of their ranges."""
    return struct.pack("<6H", rate, *fractions) + samples


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def main():
    speech16 = vector("talker_16k", 128 * 4 * 5)
    speech8 = vector("talker_8k", 64 * 4 * 5)
    speech32 = vector("talker_32k", 256 * 4 * 5)
    short = speech16[:64]

    headers = {
        "canonical": wav(short),
        "fmt18": wav(short, size=18),
        "list_first": riff(chunk(b"LIST", b"INFOtest") + fmt() + chunk(b"data", short)),
        "fact": riff(fmt() + chunk(b"fact", b"\0" * 4) + chunk(b"data", short)),
        "junk_chunk": riff(fmt() + chunk(b"junk", b"x" * 7) + chunk(b"data", short)),
        "alaw": wav(short, tag=6, bits=8),
        "size_unknown": wav(short, declared=0xFFFFFFFF),
    }
    for name, data in headers.items():
        write("fuzz_wav_header", name, data)

    wavs = {
        "stereo16k": wav(speech16),
        "stereo8k": wav(speech8, rate=8000),
        "stereo32k": wav(speech32, rate=32000),
        "size_zero": wav(speech16, declared=0),
        "size_past_end": wav(speech16, declared=2 * len(speech16)),
        "list_after_data": wav(speech16) + chunk(b"LIST", b"INFOtest"),
        "mono": wav(speech16, channels=1),
    }
    for name, data in wavs.items():
        write("fuzz_wavbeam", name, data)

    usual = (0xFEB8, 0xEE14, 0x3000, 0xC000, 0xF333)  # about 0.05, 0.07, -15, 0.9, 0.98
    extreme = (0x0000, 0x0000, 0xFFFF, 0xFFFF, 0xFFFF)  # 10 m, 1, -80 dB, just below 1
    for rate, samples in ((8000, speech8), (16000, speech16), (32000, speech32)):
        write("fuzz_engine", "usual_%d" % rate, engine_input(rate, usual, samples))
        write("fuzz_engine", "extreme_%d" % rate, engine_input(rate, extreme, samples))
    write("fuzz_engine", "rate0", engine_input(0, usual, speech8))
    write("fuzz_engine", "fullscale", engine_input(8000, usual, b"\xff\x7f\x00\x80" * (64 * 5)))

    brief = speech16[:1024]
    micbeam = {
        "stereo16k": wav(brief),
        "rate1": wav(brief[:64], rate=1),
        "rate96k": wav(brief, rate=96000),
        "four_channels": wav(brief, channels=4),
        "float": wav(struct.pack("<%df" % (len(brief) // 2),
                                 *(v / 32768.0 for v in struct.unpack("<%dh" % (len(brief) // 2), brief))),
                     tag=3, bits=32),
        "flac": sox_convert(wav(brief), ".flac"),
        "aiff": sox_convert(wav(brief), ".aiff"),
        "ogg": sox_convert(wav(speech16), ".ogg", "-C", "-1"),
    }
    for name, data in micbeam.items():
        write("fuzz_micbeam", name, data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
