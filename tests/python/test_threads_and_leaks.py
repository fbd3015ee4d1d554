"""Renders from several Python threads give what they give one after
another; the GIL is free while frames render, and renders from two threads
run in the module at once; and a
thousand renders, failed ones among them, leave the process's memory and
our host's handles where they were."""

import os
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
from PIL import Image

import zoka
from conftest import sample_layer, selection_layer

LAYER = sample_layer()

JOBS = [
    ("Glow", {"Width": 9}), ("GaussianBlur", {"Width": 4}), ("HSBNoise", {"time": 0.5, "FlowVelocity": 30}),
    ("Fire", {"time": 1.0}), ("Squint", {"Radius": 3}), ("Swirl", {"downsample": 2}),
    ("MotionTrail", {"Length": 15}), ("Weave", {}), ("InnerBevel", {"selection": selection_layer()}),
    ("Star", {"Sides": 7}), ("Jiggle", {"time": 2.0}), ("Chrome", {}),
]


def render_job(job):
    effect, options = job
    return zoka.render(effect, LAYER, **options)


def test_threads_rendering_at_once_give_what_they_give_one_after_another():
    alone = [render_job(job) for job in JOBS]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(render_job, JOBS * 4))
    for i, frame in enumerate(together):
        expected = alone[i % len(JOBS)]
        assert frame.origin == expected.origin, JOBS[i % len(JOBS)][0]
        assert np.array_equal(frame.image, expected.image), JOBS[i % len(JOBS)][0]


def test_animations_advanced_from_several_threads_give_their_frames():
    alone = [f.image for f in zoka.animate("HSBNoise", LAYER, range(8), FlowVelocity=50)]
    frames = zoka.animate("HSBNoise", LAYER, range(8), FlowVelocity=50)
    lock = threading.Lock()
    got = []

    def take():
        while True:
            with lock:
                frame = next(frames, None)
            if frame is None:
                return
            got.append(frame)

    threads = [threading.Thread(target=take) for _ in range(3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert sorted(f.number for f in got) == list(range(8))
    for frame in got:
        assert np.array_equal(frame.image, alone[frame.number])


def slow_renders(count, done):
    # A frame long enough that the main thread gets to run meanwhile.
    big = np.ascontiguousarray(np.tile(LAYER, (10, 10, 1)))
    for _ in range(count):
        zoka.render("Squint", big, Radius=40)
    done.set()


def test_the_gil_is_free_while_frames_render_and_two_threads_render_at_once():
    # Reading the counts is Python on this thread: seeing a call inside the
    # module means the GIL was free meanwhile; seeing two, that nothing
    # serialises the renders of two threads.
    done = [threading.Event(), threading.Event()]
    threads = [threading.Thread(target=slow_renders, args=(6, event)) for event in done]
    for thread in threads:
        thread.start()
    seen_inside = seen_together = False
    while not all(event.is_set() for event in done) and not (seen_inside and seen_together):
        inside = zoka._zoka.calls()["inside"]
        seen_inside = seen_inside or inside >= 1
        seen_together = seen_together or inside == 2
        done[0].wait(0.001)
    for thread in threads:
        thread.join()
    assert seen_inside and seen_together


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def mixed_render(i, layer, pillow):
    """A render of one kind or another; a quarter of them fail."""
    kind = i % 8
    try:
        if kind == 0:
            zoka.render("Glow", layer, Width=12, time=i / 30)
        elif kind == 1:
            zoka.render(zoka.chain("Antimatter", ("GaussianBlur", {"Width": 3})), pillow)
        elif kind == 2:
            zoka.render("Glow", layer, Width=1000)
        elif kind == 3:
            zoka.render("InnerBevel", layer, selection=layer, selection_origin=(3, 3), downsample=2)
        elif kind == 4:
            frames = zoka.animate("HSBNoise", layer, range(5), FlowVelocity=20)
            next(frames)
            frames.close()
        elif kind == 5:
            zoka.render("No Such Effect", layer)
        elif kind == 6:
            request, _ = zoka._open("Glow", layer, {}, fps=30.0, still=False, downsample=1, selection=None,
                                    selection_origin=(0, 0), canvas=None, failures=(1 + i % 5, 0))
            try:
                zoka._frame(request, 0.0)
            finally:
                request.close()
        else:
            zoka.render("Antimatter", layer.astype(np.float32) / 255)
    except (zoka.Error, TypeError):
        pass


def test_a_thousand_renders_leave_memory_and_handles_as_they_were():
    layer = np.ascontiguousarray(np.tile(LAYER, (4, 4, 1)))  # 160 x 120: a leaked copy would show
    pillow = Image.fromarray(layer, "RGBA")
    before = zoka._zoka.leftovers()
    for i in range(100):
        mixed_render(i, layer, pillow)
    settled = resident_bytes()
    for i in range(1000):
        mixed_render(i, layer, pillow)
    grown = resident_bytes() - settled
    after = zoka._zoka.leftovers()
    assert after["requests"] > before["requests"] + 1000
    assert after["handles"] == before["handles"] and after["faults"] == before["faults"]
    # A copy of the layer, or of a result, leaked by every render that makes
    # one comes to 30 MB and more. Under the sanitizers freed memory waits
    # in quarantine: there the release run's figure stands.
    if not os.environ.get("ZOKA_SANITIZED"):
        assert grown < 16 << 20, f"resident memory grew by {grown >> 20} MB over 1000 renders"
