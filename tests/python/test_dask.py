"""The Dask recipe (python/examples/dask_frames.py): a cluster of two
worker processes renders a 24-frame animation one frame per task, through
the script as a user runs it against a scheduler's address and through its
function, and every frame is zoka animate's."""

import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

from conftest import png_origin, read_png, run_zoka, sample_layer, write_png

EXAMPLES = Path(__file__).resolve().parents[2] / "python/examples"
sys.path.insert(0, str(EXAMPLES))
distributed = pytest.importorskip("distributed")
import dask_frames  # noqa: E402

# Debian's distributed 2022.12 on its tornado: deprecations of theirs, not ours.
pytestmark = [pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning"),
              pytest.mark.filterwarnings("ignore:There is no current event loop:DeprecationWarning")]

SETTINGS = {"Length": "0@0;40@0.5", "Direction": "90@0;200@1"}
ARGUMENTS = ["--fps", "24"] + [word for key, value in SETTINGS.items() for word in ("--set", f"{key}={value}")]


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as local:
        yield local


@pytest.fixture
def animated(tmp_path):
    write_png(tmp_path / "in.png", sample_layer())
    done = run_zoka("animate", "MotionTrail", "in.png", "ref_%04d.png", "--frames", "0-23", "-j", "2", *ARGUMENTS,
                    cwd=tmp_path)
    assert done.status == 0, done.err
    return {n: (read_png(tmp_path / f"ref_{n:04d}.png"), png_origin(tmp_path / f"ref_{n:04d}.png"))
            for n in range(24)}


def test_the_recipe_renders_the_frames_of_zoka_animate(cluster, animated, tmp_path):
    with distributed.Client(cluster) as client:
        frames = dict(dask_frames.render_sequence(client, "MotionTrail", read_png(tmp_path / "in.png"), range(24),
                                                  fps=24, in_flight=5, **SETTINGS))
        assert len(client.scheduler_info()["workers"]) == 2
    assert sorted(frames) == list(range(24))
    for n, (image, origin) in animated.items():
        assert frames[n].origin == origin
        assert np.array_equal(frames[n].image, image), f"frame {n}"


def test_the_script_against_a_schedulers_address_writes_them(cluster, animated, tmp_path):
    done = subprocess.run([sys.executable, str(EXAMPLES / "dask_frames.py"), cluster.scheduler_address,
                           "MotionTrail", "in.png", "out_%04d.png", "--frames", "0-23", *ARGUMENTS],
                          cwd=tmp_path, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    for n, (image, _) in animated.items():
        assert np.array_equal(np.asarray(Image.open(tmp_path / f"out_{n:04d}.png")), image), f"frame {n}"
