"""What the documentation shows is so: help(zoka.render) names every effect
and setting from the module's own tables; the site's notebook, run in the
site's folder, gives the pictures and values the page shows; the README's
and the page's examples run; and the README shows the Dask recipe as the
example file has it."""

import html
import re
import shutil
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import zoka
from conftest import run_zoka

ROOT = Path(__file__).resolve().parents[2]


def test_help_on_render_lists_every_effect_and_setting_with_its_range():
    reference = zoka.render.__doc__
    for effect in zoka.effects():
        assert f"{effect.name} ({effect.key}" in reference
        for param in zoka.params(effect.key):
            if param["number"] is None:
                continue
            name = param["key"] if param["key"] is not None else f'"{param["number"]}"'
            line = f'{name}: "{param["label"]}", {param["kind"]}'
            assert line in reference, line
            if "valid" in param:
                assert f'{line} {param["valid"][0]:g} to {param["valid"][1]:g}; default {param["default"]}' \
                    in reference
    assert "HSB Noise (HSBNoise; moves by itself)" in reference
    assert "Drop Shadow (DropShadow; not registered)" in reference


def test_the_modules_own_example_gives_what_it_says():
    example = "\n".join(line[4:] for line in zoka.__doc__.split("Every call")[0].splitlines()[1:])
    namespace = {}
    exec(example, namespace)
    assert namespace["glowing"].shape == (162, 202, 4) and namespace["origin"] == (21, 21)


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    folder = tmp_path_factory.mktemp("site")
    done = run_zoka("demo", "--size", "96x72", "--frames", "2", "-o", folder)
    assert done.status == 0, done.err
    return folder


def cells(page: str):
    """The notebook's cells: code, and the picture or text of its Out."""
    found = re.findall(r'<pre class="code">(.*?)</pre></div>\n<div class="cell"><span class="prompt">Out\[\d+\]:</span>'
                       r'(?:<img src="([^"]+)"|<pre class="text">(.*?)</pre>)', page, re.S)
    return [(html.unescape(code), picture, html.unescape(text)) for code, picture, text in found]


def run_cell(code: str, namespace: dict):
    *body, last = code.splitlines()
    exec("\n".join(body), namespace)
    return eval(last, namespace)


def test_the_notebook_gives_what_the_page_shows(site, monkeypatch):
    monkeypatch.chdir(site)
    shown = cells((site / "python.html").read_text())
    assert len(shown) == 4
    namespace = {}
    for code, picture, text in shown:
        value = run_cell(code, namespace)
        if picture:
            with Image.open(picture) as expected:
                assert value.mode == expected.mode and value.size == expected.size
                assert np.array_equal(np.asarray(value), np.asarray(expected)), code
        else:
            assert repr(value) == text, code


def test_the_pages_and_the_readmes_examples_run(site, tmp_path, monkeypatch, capsys):
    for file in ("photo.png", "selection-half.png"):
        shutil.copy(site / file, tmp_path / file)
    monkeypatch.chdir(tmp_path)
    page = (site / "python.html").read_text()
    namespace = {}
    for code, _, _ in cells(page):
        run_cell(code, namespace)
    examples = html.unescape(re.search(r"<h2>Arrays, animations, chains, errors</h2>\n<pre>(.*?)</pre>",
                                       page, re.S).group(1))
    exec(examples, namespace)
    section = (ROOT / "README.md").read_text().split("## zoka for Python")[1].split("\n## ")[0]
    first = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    exec(first, {})
    printed = capsys.readouterr().out
    assert printed.count('Glow: "Width (pixels)" takes a number from 0 to 999, not "1000"') == 2
    assert len(list(tmp_path.glob("noise_*.png"))) == 48


def test_the_readme_shows_the_dask_recipe_as_the_example_file_has_it():
    section = (ROOT / "README.md").read_text().split("## zoka for Python")[1].split("\n## ")[0]
    recipe = [block for block in re.findall(r"```python\n(.*?)```", section, re.S) if "def render_sequence" in block]
    assert len(recipe) == 1
    assert recipe[0] in (ROOT / "python/examples/dask_frames.py").read_text()
