"""zoka.animate gives the frames zoka animate writes: the same pixels on the
same canvas (one for the whole range unless another is asked for), with
frames at n / fps or counted from a start, for chains too, in any order;
and a range left part way leaves nothing behind."""

from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import zoka
from conftest import png_origin, read_png, run_zoka, sample_layer, write_png

LAYER = sample_layer()


def animate_files(folder: Path, effect, frames: str, *arguments):
    """zoka animate into folder: frame number -> (image, origin)."""
    done = run_zoka("animate", effect, "in.png", "out_%04d.png", "--frames", frames, "-j", "2", *arguments,
                    cwd=folder)
    assert done.status == 0, done.err
    return {int(path.stem[4:]): (read_png(path), png_origin(path)) for path in sorted(folder.glob("out_*.png"))}


def assert_frames(yielded, expected):
    got = {frame.number: (frame.image, frame.origin) for frame in yielded}
    assert sorted(got) == sorted(expected)
    for n, (image, origin) in expected.items():
        assert got[n][1] == origin, f"frame {n}"
        assert np.array_equal(got[n][0], image), f"frame {n}"


@pytest.fixture
def layer_file(folder):
    write_png(folder / "in.png", LAYER)
    return folder


CASES = [
    ("drifting noise", "HSBNoise", "0-11", {"fps": 24, "FlowVelocity": 40, "PhaseVelocity": 90},
     ["--fps", "24", "--set", "FlowVelocity=40", "--set", "PhaseVelocity=90"]),
    ("a growing trail on one canvas", "MotionTrail", "0-9x3",
     {"Length": {0: 0, 0.5: 30}, "Direction": {0: 90, 1: 250}},
     ["--set", "Length=0@0;30@0.5", "--set", "Direction=90@0;250@1"]),
    ("a range counted from a start", "Fire", "10-15", {"start": 2.0, "downsample": 2},
     ["--start", "2", "--downsample", "2"]),
    ("each frame as it grew", "MotionTrail", "0-4", {"Length": {0: 0, 0.2: 20}, "canvas": "grown"},
     ["--set", "Length=0@0;20@0.2", "--canvas", "grown"]),
]


@pytest.mark.parametrize("case", [case[1:] for case in CASES], ids=[case[0] for case in CASES])
def test_frames_are_those_zoka_animate_writes(layer_file, case):
    effect, frames, options, arguments = case
    expected = animate_files(layer_file, effect, frames, *arguments)
    first, last, step = (frames.replace("x", "-").split("-") + ["1"])[:3]
    numbers = range(int(first), int(last) + 1, int(step))
    assert_frames(zoka.animate(effect, LAYER, numbers, **options), expected)


def test_a_chain_animates_as_then_does(layer_file):
    expected = animate_files(layer_file, "Jiggle", "0-5", "--set", "PhaseVelocity=180", "--then", "Glow",
                             "--set", "Width={0}@0;12@0.2".format(2))
    steps = zoka.chain(("Jiggle", {"PhaseVelocity": 180}), ("Glow", {"Width": {0: 2, 0.2: 12}}))
    assert_frames(zoka.animate(steps, LAYER, range(6)), expected)


def test_frames_in_any_order_are_the_same_frames(layer_file):
    options = {"Length": {0: 0, 0.3: 25}}
    in_order = {f.number: f for f in zoka.animate("MotionTrail", LAYER, range(10), **options)}
    backwards = list(zoka.animate("MotionTrail", LAYER, [9, 3, 0, 5], **options))
    assert [f.number for f in backwards] == [9, 3, 0, 5]
    for frame in backwards:
        assert frame.origin == in_order[frame.number].origin
        assert np.array_equal(frame.image, in_order[frame.number].image)


def test_pillow_frames_come_back_as_pillow_images(layer_file):
    expected = animate_files(layer_file, "Smoke", "0-2")
    yielded = list(zoka.animate("Smoke", Image.fromarray(LAYER, "RGBA"), range(3)))
    assert all(isinstance(frame.image, Image.Image) for frame in yielded)
    assert_frames([zoka.AnimationFrame(f.number, np.asarray(f.image), f.origin) for f in yielded], expected)


def test_a_range_left_part_way_or_never_begun_leaves_nothing_behind():
    before = zoka._zoka.leftovers()
    frames = zoka.animate("Glow", LAYER, range(100), Width={0: 0, 3: 50})
    assert next(frames).number == 0
    frames.close()
    never_begun = zoka.animate("Glow", LAYER, range(100))
    del never_begun
    after = zoka._zoka.leftovers()
    assert after["requests"] == before["requests"] + 2
    assert after["handles"] == before["handles"] and after["faults"] == before["faults"]
