"""Every failure is an exception: what the command line refuses or the module
fails at carries the command line's one line, and arrays that no layer can
be made of are refused with what is wrong, never a crash. Nothing a
failure leaves behind holds a handle of our host."""

import os
import subprocess
import sys

import numpy as np
import pytest
from PIL import Image

import zoka
from conftest import run_zoka, sample_layer, write_png

LAYER = sample_layer()


@pytest.fixture(autouse=True)
def nothing_left_behind():
    before = zoka._zoka.leftovers()
    yield
    after = zoka._zoka.leftovers()
    assert after["handles"] == before["handles"] and after["faults"] == before["faults"]


def failing_frame(effect, layer, *, allocation=0, cancel=0, **settings):
    request, _ = zoka._open(effect, layer, settings, fps=30.0, still=False, downsample=1, selection=None,
                            selection_origin=(0, 0), canvas=None, failures=(allocation, cancel))
    try:
        return zoka._frame(request, 0.0)
    finally:
        request.close()


REFUSED = [
    ("unknown effect", ("No Such Effect",), {}, []),
    ("unknown parameter", ("Glow",), {"Brightness": 3}, ["--set", "Brightness=3"]),
    ("value beyond its range", ("Glow",), {"Width": 1000}, ["--set", "Width=1000"]),
    ("whole number expected", ("MotionTrail",), {"Length": 2.5}, ["--set", "Length=2.5"]),
    ("unknown popup item", ("Glow",), {"DropoffType": "Wide"}, ["--set", "DropoffType=Wide"]),
    ("unknown colour", ("Glow",), {"Color": "chartreuse-ish"}, ["--set", "Color=chartreuse-ish"]),
    ("keyframe time not a number", ("Glow",), {"Width": {"soon": 3}}, ["--set", "Width=3@soon"]),
    ("time beyond a million frames", ("Glow",), {"time": 1e9}, ["--time", "1e9"]),
    ("rate beyond 1000 a second", ("Glow",), {"fps": 5000.0}, ["--fps", "5000"]),
    ("selection origin beyond 16.16", ("Glow",), {"selection_origin": (40000, 0)}, ["--selection-origin", "40000,0"]),
    ("canvas not a rectangle", ("Glow",), {"canvas": "large"}, ["--canvas", "large"]),
    ("unknown effect further on", (zoka.chain("Glow", "Nope"),), {}, ["--then", "Nope"]),
]


@pytest.mark.parametrize("case", [case[1:] for case in REFUSED], ids=[case[0] for case in REFUSED])
def test_a_refused_request_raises_the_command_lines_line(folder, case):
    (effect,), options, arguments = case
    write_png(folder / "in.png", LAYER)
    name = effect if isinstance(effect, str) else effect.steps[0][0]
    refused = run_zoka("render", name, "in.png", "out.png", *arguments, cwd=folder)
    assert refused.status == 2
    with pytest.raises(zoka.RequestError) as error:
        zoka.render(effect, LAYER, **options)
    assert str(error.value) == refused.line
    assert isinstance(error.value, ValueError) and error.value.status == 2


def test_a_draft_beyond_64_and_an_effect_without_a_selection_layer_are_refused():
    for downsample in (0, 65, 1 << 40):
        with pytest.raises(zoka.RequestError, match="downsample takes 1 to 64"):
            zoka.render("Glow", LAYER, downsample=downsample)
    with pytest.raises(zoka.RequestError, match="^Star takes no selection layer$"):
        zoka.render("Star", LAYER, selection=LAYER)


def test_an_output_beyond_what_a_layer_holds_is_a_render_error(folder):
    wide = np.full((4, 29990, 4), 255, np.uint8)
    write_png(folder / "wide.png", wide)
    refused = run_zoka("render", "Glow", "wide.png", "out.png", "--set", "Width=999", cwd=folder)
    assert refused.status == 1 and "the output would be 31990x2004 pixels" in refused.line
    with pytest.raises(zoka.RenderError) as error:
        zoka.render("Glow", wide, Width=999)
    assert str(error.value) == refused.line
    assert isinstance(error.value, RuntimeError) and not isinstance(error.value, MemoryError)


@pytest.mark.parametrize("allocation", [1, 2, 5])
def test_running_out_of_memory_raises_the_modules_message(folder, allocation):
    write_png(folder / "in.png", LAYER)
    failed = run_zoka("render", "Glow", "in.png", "out.png", "--inject-allocation-failure", allocation, cwd=folder)
    assert failed.status == 1
    expected = zoka.OutOfMemory if "(code 8)" in failed.line else zoka.RenderError
    with pytest.raises(expected) as error:
        failing_frame("Glow", LAYER, allocation=allocation)
    assert str(error.value) == failed.line
    assert error.value.code == int(failed.line.rsplit("code ", 1)[1].rstrip(")"))
    if expected is zoka.OutOfMemory:
        assert isinstance(error.value, MemoryError)


def test_a_cancelled_render_says_so(folder):
    with pytest.raises(zoka.RenderError, match=r"^Glow: the render was cancelled \(code 517\)$"):
        failing_frame("Glow", LAYER, cancel=1)
    assert np.array_equal(zoka.render("Glow", LAYER).image, zoka.render("Glow", LAYER).image)


NOT_LAYERS = [
    ("a list", [[[0, 0, 0, 255]]], TypeError, "must be a numpy array"),
    ("float64 samples", np.zeros((4, 4, 4)), TypeError, r"uint8, uint16 or float32 samples.*float64"),
    ("int32 samples", np.zeros((4, 4, 4), np.int32), TypeError, "int32"),
    ("big-endian 16-bit samples", np.zeros((4, 4, 4), ">u2"), TypeError, ">u2"),
    ("grey, two axes", np.zeros((4, 4), np.uint8), ValueError, r"not of shape \(4, 4\)"),
    ("two channels", np.zeros((4, 4, 2), np.uint8), ValueError, r"not of shape \(4, 4, 2\)"),
    ("five channels", np.zeros((4, 4, 5), np.uint8), ValueError, r"x 4 \(RGBA\) or x 3 \(RGB\)"),
    ("four axes", np.zeros((1, 4, 4, 4), np.uint8), ValueError, "shape"),
    ("no rows", np.zeros((0, 4, 4), np.uint8), ValueError, r"is empty: its shape is \(0, 4, 4\)"),
    ("no columns", np.zeros((4, 0, 3), np.uint8), ValueError, "is empty"),
    ("a strided view", np.zeros((8, 8, 4), np.uint8)[:, ::2], ValueError, "not C-contiguous"),
    ("Fortran order", np.asfortranarray(np.zeros((8, 8, 4), np.uint8)), ValueError, "not C-contiguous"),
    ("a side beyond 30000", np.zeros((30001, 1, 4), np.uint8), ValueError,
     "is 1x30001 pixels; layers go up to 30000 pixels on a side and 134217728 pixels in all"),
    ("more than 2^27 pixels", np.zeros((11586, 11586, 4), np.uint8), ValueError, "is 11586x11586 pixels"),
    ("misaligned samples", np.frombuffer(bytes(4 * 4 * 4 * 2 + 1), np.uint8)[1:].view(np.uint16).reshape(4, 4, 4),
     ValueError, "not aligned"),
]


@pytest.mark.parametrize("case", [case[1:] for case in NOT_LAYERS], ids=[case[0] for case in NOT_LAYERS])
def test_an_array_no_layer_can_be_made_of_is_refused_with_what_is_wrong(case):
    array, error, message = case
    with pytest.raises(error, match="^image " + ".*" + message):
        zoka.render("Antimatter", array)
    with pytest.raises(error, match="^selection .*" + message):
        zoka.render("Antimatter", LAYER, selection=array)


def test_values_python_cannot_say_in_set_units_are_type_errors():
    for value in ([1, 2, 3, 4], object(), None, {1: object()}):
        with pytest.raises(TypeError, match="^Width takes"):
            zoka.render("Glow", LAYER, Width=value)
    with pytest.raises(ValueError, match="need one key at least"):
        zoka.render("Glow", LAYER, Width={})
    with pytest.raises(TypeError, match="an effect is named by its name or key"):
        zoka.render(7, LAYER)
    with pytest.raises(TypeError, match=r"selection_origin takes \(x, y\)"):
        zoka.render("Glow", LAYER, selection_origin=5)
    with pytest.raises(TypeError, match="downsample takes a whole number"):
        zoka.render("Glow", LAYER, downsample=2.0)
    with pytest.raises(TypeError, match="canvas takes"):
        zoka.render("Glow", LAYER, canvas=(1, 2))


def test_frames_outside_the_range_of_animate_are_refused():
    with pytest.raises(ValueError, match="from 0 to 1000000, not -1"):
        zoka.animate("Glow", LAYER, [0, -1])
    with pytest.raises(TypeError, match="a frame takes a whole number"):
        zoka.animate("Glow", LAYER, [0.5])


def test_a_frame_range_too_large_for_one_canvas_is_the_command_lines_error(folder):
    # Each frame fits a layer, the two together do not.
    long = np.full((4, 28600, 4), 255, np.uint8)
    write_png(folder / "long.png", long)
    refused = run_zoka("animate", "MotionTrail", "long.png", "out_%04d.png", "--frames", "0-1", "--set", "Length=999",
                       "--set", "Direction=90@0;270@0.0333", "-j", "1", cwd=folder)
    assert refused.status == 1
    with pytest.raises(zoka.RenderError) as error:
        zoka.animate("MotionTrail", long, range(2), Length=999, Direction={0: 90, 0.0333: 270})
    assert str(error.value) == refused.line


def test_odd_pillow_modes_are_converted_by_pillow_and_come_back_rgb():
    grey = Image.fromarray(LAYER[..., 0], "L")
    image, origin = zoka.render("Antimatter", grey)
    assert image.mode == "RGB" and origin == (0, 0)
    expected, _ = zoka.render("Antimatter", np.asarray(grey.convert("RGB")))
    assert np.array_equal(np.asarray(image), expected)
    palette = Image.fromarray(LAYER, "RGBA").convert("P")
    assert zoka.render("Antimatter", palette).image.mode == "RGB"


def test_a_read_only_array_is_read_and_left_as_it_was():
    layer = LAYER.copy()
    layer.flags.writeable = False
    assert np.array_equal(zoka.render("Glow", layer).image, zoka.render("Glow", LAYER).image)
    assert np.array_equal(layer, LAYER)


def test_a_module_file_that_cannot_be_loaded_is_an_import_error(folder):
    (folder / "ZOKA-ENG.so").write_bytes(b"not a module")
    done = subprocess.run([sys.executable, "-c", "import zoka"], capture_output=True, text=True,
                          env=dict(os.environ, ZOKA_MODULE=str(folder / "ZOKA-ENG.so")))
    assert done.returncode == 1
    assert done.stderr.strip().splitlines()[-1].startswith(
        f"ImportError: zoka: cannot load the module {folder / 'ZOKA-ENG.so'}: ")
