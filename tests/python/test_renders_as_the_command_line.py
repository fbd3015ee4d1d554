"""zoka.render gives what zoka render writes, pixel for pixel and with the
same origin, for every effect: at its defaults, later in time, as a draft,
through a selection layer, from RGB, 16-bit and float samples and from a
Pillow image; and settings by key, label and number, keyframes, canvases
and chains mean what they mean on the command line."""

import json

import numpy as np
import pytest
from PIL import Image

import zoka
from conftest import render_file, run_zoka, sample_layer, selection_layer, write_png

EFFECTS = [effect.key for effect in zoka.effects()]
LAYER = sample_layer()


def takes_selection(effect: str) -> bool:
    return any(param["kind"] == "layer" for param in zoka.params(effect))


def assert_same(frame, expected_image, expected_origin):
    image, origin = frame
    assert origin == expected_origin
    assert image.dtype == expected_image.dtype
    assert image.shape == expected_image.shape
    assert np.array_equal(image, expected_image)


FRAMES = {
    "defaults": ({}, []),
    "later": ({"time": 1.5, "fps": 24.0}, ["--time", "1.5", "--fps", "24"]),
    "draft": ({"downsample": 3}, ["--downsample", "3"]),
    "still": ({"time": 0.75, "still": True}, ["--time", "0.75", "--still"]),
}


@pytest.mark.parametrize("frame", FRAMES)
@pytest.mark.parametrize("effect", EFFECTS)
def test_a_frame_is_what_zoka_render_writes(folder, effect, frame):
    options, arguments = FRAMES[frame]
    expected = render_file(effect, write_png(folder / "in.png", LAYER), folder / "out.png", *arguments)
    assert_same(zoka.render(effect, LAYER, **options), *expected)


@pytest.mark.parametrize("effect", EFFECTS)
def test_a_selection_layer_is_taken_as_zoka_render_takes_it(folder, effect):
    selection = selection_layer()
    write_png(folder / "in.png", LAYER)
    write_png(folder / "selection.png", selection)
    arguments = ["--selection", "selection.png", "--selection-origin", "6,-4.5", "--downsample", "2"]
    if not takes_selection(effect):
        refused = run_zoka("render", effect, "in.png", "out.png", *arguments, cwd=folder)
        with pytest.raises(zoka.RequestError) as error:
            zoka.render(effect, LAYER, selection=selection, selection_origin=(6, -4.5), downsample=2)
        assert str(error.value) == refused.line
        return
    expected = render_file(effect, folder / "in.png", folder / "out.png", *arguments, cwd=folder)
    assert_same(zoka.render(effect, LAYER, selection=selection, selection_origin=(6, -4.5), downsample=2),
                *expected)


@pytest.mark.parametrize("effect", EFFECTS)
def test_rgb_samples_are_an_opaque_layer_and_come_back_rgb_while_opaque(folder, effect):
    rgb = np.ascontiguousarray(LAYER[..., :3])
    expected = render_file(effect, write_png(folder / "in.png", rgb), folder / "out.png")
    assert_same(zoka.render(effect, rgb), *expected)


@pytest.mark.parametrize("effect", EFFECTS)
def test_16_bit_samples_are_narrowed_and_widened_as_16_bit_files(folder, effect):
    rng = np.random.default_rng(16)
    wide = LAYER.astype(np.uint16) * 257 + rng.integers(-200, 200, LAYER.shape).clip(0, 65535 - 255 * 257)
    wide = wide.astype(np.uint16)
    expected = render_file(effect, write_png(folder / "in.png", wide), folder / "out.png")
    assert expected[0].dtype == np.uint16
    assert_same(zoka.render(effect, wide), *expected)


@pytest.mark.parametrize("effect", EFFECTS)
def test_a_pillow_image_comes_back_as_one(folder, effect):
    expected = render_file(effect, write_png(folder / "in.png", LAYER), folder / "out.png")
    image, origin = zoka.render(effect, Image.fromarray(LAYER, "RGBA"))
    assert isinstance(image, Image.Image) and image.mode == "RGBA"
    assert_same((np.asarray(image), origin), *expected)


def test_every_16_bit_value_narrows_as_the_png_reader_narrows_it(folder):
    every = np.arange(65536, dtype=np.uint16).reshape(256, 256)
    wide = np.stack([every, every[::-1], every.T, every[:, ::-1].T], axis=2).copy()
    expected = render_file("Antimatter", write_png(folder / "in.png", wide), folder / "out.png")
    assert_same(zoka.render("Antimatter", wide), *expected)


def test_float_samples_are_clamped_and_rounded_as_float_files(folder):
    # Grey float TIFF: zoka spreads it to R, G and B, opaque.
    edges = (np.arange(256, dtype=np.float32) + 0.5) / 255
    values = np.concatenate([edges, np.nextafter(edges, 0), np.linspace(-0.5, 1.5, 200, dtype=np.float32),
                             np.array([np.nan, np.inf, -np.inf, 0, 1], np.float32)])
    grey = np.resize(values, 24 * 30).reshape(24, 30).astype(np.float32)
    Image.fromarray(grey, "F").save(folder / "in.tif")
    for effect in ("Antimatter", "Glow", "HSBNoise"):
        expected, origin = render_file(effect, folder / "in.tif", folder / "out.png", "-d", "uint8")
        image, got = zoka.render(effect, np.repeat(grey[..., None], 3, axis=2))
        assert image.dtype == np.float32
        assert got == origin
        assert np.array_equal(image, expected.astype(np.float32) / np.float32(255))


def test_settings_by_key_label_and_number_in_the_units_of_set(folder):
    write_png(folder / "in.png", LAYER)
    expected = render_file("Glow", folder / "in.png", folder / "out.png", "--set", "Width=12.5",
                           "--set", "Opacity (%)=60", "--set", "2=255,128,0", "--set", "DropoffType=Thin",
                           "--set", "DrawEverywhere=on", cwd=folder)
    assert_same(zoka.render("Glow", LAYER, Width=12.5, DropoffType="Thin", DrawEverywhere=True,
                            **{"Opacity (%)": 60, "2": (255, 128, 0)}), *expected)
    expected = render_file("Star", folder / "in.png", folder / "out.png", "--set", "Position=10,12.5",
                           "--set", "InnerColor=orange", "--set", "Orientation=30", "--set", "Smooth=off",
                           cwd=folder)
    assert_same(zoka.render("Star", LAYER, Position=(10, 12.5), InnerColor="orange", Orientation=30,
                            Smooth=False), *expected)


def test_keyframes_are_seconds_or_frames_as_set_takes_them(folder):
    write_png(folder / "in.png", LAYER)
    for time in (0.0, 0.8, 2.5):
        expected = render_file("MotionTrail", folder / "in.png", folder / "out.png", "--set", "Length=0@0;40@2",
                               "--set", "Direction=90@0;200@12f", "--time", time, "--fps", 24, cwd=folder)
        assert_same(zoka.render("MotionTrail", LAYER, time=time, fps=24, Length={0: 0, 2: 40},
                                Direction={0: 90, "12f": 200}), *expected)


@pytest.mark.parametrize("canvas, argument", [("input", "input"), ("grown", "grown"),
                                              ("30x20-5+3", "30x20-5+3"), ((50, 44, -9, -7), "50x44-9-7")])
def test_canvases_are_those_of_the_command_line(folder, canvas, argument):
    write_png(folder / "in.png", LAYER)
    expected = render_file("Glow", folder / "in.png", folder / "out.png", "--set", "Width=8",
                           "--canvas", argument, cwd=folder)
    assert_same(zoka.render("Glow", LAYER, Width=8, canvas=canvas), *expected)


def test_a_chain_is_what_then_renders(folder):
    write_png(folder / "in.png", LAYER)
    write_png(folder / "selection.png", selection_layer())
    expected = render_file("Glow", "in.png", "out.png", "--set", "Width=6", "--set", "Opacity (%)=80",
                           "--selection", "selection.png", "--selection-origin", "4,4", "--downsample", "2",
                           "--then", "GaussianBlur", "--set", "Width=3", "--then", "Squint", "--set", "Radius=2",
                           cwd=folder)
    steps = zoka.chain(("Glow", {"Width": 6}), ("GaussianBlur", {"Width": 3}), ("Squint", {"Radius": 2}))
    assert_same(zoka.render(steps, LAYER, selection=selection_layer(), selection_origin=(4, 4), downsample=2,
                            **{"Opacity (%)": 80}), *expected)


def test_effects_and_params_are_what_list_and_params_print():
    listed = json.loads(run_zoka("list", "--json").out)
    assert [(e.index, e.name, e.key, e.registered) for e in zoka.effects()] == \
        [(e["index"], e["name"], e["key"], e["registered"]) for e in listed]
    moving = {e.key for e in zoka.effects() if e.moves}
    assert moving == {"HSBNoise", "Fire", "Smoke", "Weave", "Fur", "Jiggle", "Swirl", "Glass"}
    for effect in EFFECTS:
        assert zoka.params(effect) == json.loads(run_zoka("params", effect, "--json").out)
    assert zoka.params("Glow", Width={0: 10, 1: 30}, Color="orange") == json.loads(
        run_zoka("params", "Glow", "--set", "Width=10@0;30@1", "--set", "Color=orange", "--json").out)
