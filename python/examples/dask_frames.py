"""A sequence rendered across a Dask cluster, one frame per task, into
numbered PNG files whose frames are those of one `zoka animate` run.

    python3 dask_frames.py tcp://scheduler:8786 Glow in.png out_%04d.png \
        --frames 0-999 --fps 24 --set "Width=0@0;40@30"

Every worker needs zoka (the Debian package, or PYTHONPATH naming a
build's python/ folder); the layer travels to the workers once and the
frames come back to this machine, so no folder need be shared.
"""

import argparse
import functools
import itertools

import numpy as np
from dask.distributed import Client, as_completed
from PIL import Image

import zoka


def render_sequence(client, effect, layer, frames, fps=30.0, in_flight=64, **settings):
    """Yields (n, zoka.Frame) for every frame n as the cluster finishes it,
    at most in_flight of them on the cluster at once."""
    frames = list(frames)
    # One canvas for the whole range, as zoka animate finds it: every frame,
    # wherever it is rendered, has one size and place.
    canvas = zoka.range_canvas(effect, layer, frames, fps=fps, **settings)
    [shared] = client.scatter([layer], broadcast=True)
    numbers = {}

    def submit(n):
        frame = functools.partial(zoka.render, effect, time=n / fps, fps=fps, canvas=canvas, **settings)
        future = client.submit(frame, shared)
        numbers[future] = n
        return future

    waiting = iter(frames)
    finished = as_completed([submit(n) for n in itertools.islice(waiting, in_flight)], with_results=True)
    for future, frame in finished:
        yield numbers.pop(future), frame
        following = next(waiting, None)
        if following is not None:
            finished.add(submit(following))


def frame_list(text):
    first, _, last = text.partition("-")
    return range(int(first), int(last or first) + 1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("scheduler", help="the scheduler's address, tcp://HOST:PORT")
    parser.add_argument("effect")
    parser.add_argument("input", help="the layer, an 8-bit PNG (or any image Pillow reads)")
    parser.add_argument("pattern", help="the frames' files, e.g. out_%%04d.png")
    parser.add_argument("--frames", type=frame_list, required=True, help="A-B")
    parser.add_argument("--fps", type=float, default=30.0)
    parser.add_argument("--set", action="append", default=[], metavar="KEY=VALUE",
                        help="a setting as zoka render --set takes it")
    arguments = parser.parse_args()
    settings = dict(setting.split("=", 1) for setting in arguments.set)
    with Image.open(arguments.input) as image:
        layer = np.asarray(image if image.mode in ("RGB", "RGBA") else image.convert("RGBA"))
    with Client(arguments.scheduler) as client:
        for n, frame in render_sequence(client, arguments.effect, layer, arguments.frames, arguments.fps,
                                        **settings):
            Image.fromarray(frame.image).save(arguments.pattern % n)


if __name__ == "__main__":
    main()
