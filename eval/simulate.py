"""Renders a two-microphone scene to WAV files.

    /usr/bin/python3 -m eval.simulate out/scene --talker 60 --pink diffuse:-6 --snr 0 --rt60 0.4

writes out/scene.wav (stereo mixture), out/scene_target.wav and
out/scene_interference.wav (both as received at microphone 0) and, with --pcm,
out/scene.pcm for pcmbeam. Interferers are given as ANGLE[:LEVEL_DB], where
ANGLE is in degrees (positive towards microphone 0), FROM>TO for a source moving
between two angles over the scene, or "diffuse".
"""
import argparse

from . import audio, scene

KINDS = ("talker", "white", "pink")


def parse_source(kind, text):
    """A Source from "ANGLE[:LEVEL]", "FROM>TO[:LEVEL]" or "diffuse[:LEVEL]"."""
    where, _, level = text.partition(":")
    start, _, end = where.partition(">")
    angle = None if where == "diffuse" else float(start)
    return scene.Source(kind, angle, float(level) if level else 0.0, end_angle=float(end) if end else None)


def scene_from_args(args):
    interferers = tuple(parse_source(kind, text) for kind in KINDS for text in getattr(args, kind))
    room = scene.Room(tuple(args.room), args.rt60) if args.rt60 else None
    target = scene.Source("talker", args.target_angle, distance=args.target_distance)
    if args.no_target:
        target = None
    return scene.Scene(rate=args.rate, seconds=args.seconds, spacing=args.spacing, target=target,
                       interferers=interferers, room=room, snr=args.snr, seed=args.seed,
                       mismatch=tuple(args.mismatch), fault=args.fault)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("prefix", help="path prefix of the files written")
    parser.add_argument("--rate", type=int, default=16000)
    parser.add_argument("--seconds", type=float, default=6.0)
    parser.add_argument("--spacing", type=float, default=0.05, help="microphone spacing, metres")
    parser.add_argument("--target-angle", type=float, default=0.0)
    parser.add_argument("--target-distance", type=float, default=1.0, help="metres, in a room")
    parser.add_argument("--no-target", action="store_true", help="interferers only")
    for kind in KINDS:
        parser.add_argument(f"--{kind}", action="append", default=[], metavar="ANGLE[:DB]",
                            help=f"a {kind} interferer (repeatable)")
    parser.add_argument("--snr", type=float, default=5.0, help="dB at microphone 0")
    parser.add_argument("--rt60", type=float, default=0.0, help="seconds; 0 for the free field")
    parser.add_argument("--room", type=float, nargs=3, default=scene.Room().dims, metavar=("X", "Y", "Z"))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--mismatch", type=float, nargs=2, default=(0.0, 0.0), metavar=("DB", "SAMPLES"),
                        help="microphone 1's gain and extra delay")
    parser.add_argument("--fault", choices=scene.FAULTS, help="microphone 1 dead, clipped hard, inverted or 20 dB too quiet")
    parser.add_argument("--pcm", action="store_true", help="also write PREFIX.pcm (raw stereo 16-bit)")
    args = parser.parse_args(argv)
    s = scene_from_args(args)
    if not s.interferers and s.target is None:
        parser.error("nothing to render: give a target or an interferer")
    rendering = scene.render(s)
    scene.write(rendering, args.prefix)
    if args.pcm:
        audio.to_int16(rendering.mixture).astype("<i2").tofile(f"{args.prefix}.pcm")


if __name__ == "__main__":
    main()
