#!/usr/bin/env python3
"""Writes the seed corpus of zoka_fuzz_host_frames (fuzz/corpus/host_frames):
every effect at its defaults, and frames that reach the other paths (a
selection layer, drafts, late and raw times, injected failures, values at and
beyond the parameters' edges). The layout is the one host_frames_fuzz.cpp
reads."""
import os
import struct
import sys

# Positions in the module's list of all effects (index order, 17 unused).
EFFECTS = ["antimatter", "carve", "chrome", "cutout", "drop_shadow", "fur", "glass", "glow",
           "hsb_noise", "inner_bevel", "motion_trail", "outer_bevel", "star", "swirl", "smoke",
           "squint", "jiggle", "weave", "fire", "perspective_shadow", "gaussian_blur"]

SELECTION, STILL, RAW_TIME, SECOND_FRAME = 1, 2, 4, 8
NO_FAILURE, ALLOCATION, CANCEL, CHECKOUT = 0, 1, 2, 3
BEFORE_RENDER = 4
DEFAULT, IN_RANGE, RAW, EXTREME, KEYED = 0, 1, 2, 3, 5


def side(n):
    """A side as the target reads it: up to 128 directly, beyond with the top bits set."""
    return n if n < 129 else 0xE000 | n


def layer(width, height, pattern=0, seed=1):
    return struct.pack("<HHBB", side(width), side(height), pattern, seed)


def fixed(x):
    return int(round(x * 65536))


def seed(effect, size=(64, 48), pattern=0, downsample=1, flags=0, selection=None, rate=0,
         frame=15, raw_time=None, failure=(NO_FAILURE, 0, 0), params=b""):
    data = bytes([EFFECTS.index(effect)]) + layer(*size, pattern)
    data += bytes([downsample - 1, flags | (SELECTION if selection else 0) | (RAW_TIME if raw_time else 0)])
    if selection:
        (width, height, pattern_, x, y) = selection
        data += layer(width, height, pattern_) + struct.pack("<ii", fixed(x), fixed(y))
    data += struct.pack("<Bi", rate, frame)
    if raw_time:
        data += struct.pack("<Iii", *raw_time)
    data += struct.pack("<BHB", *failure)
    return data + params


def value(mode, word):
    return struct.pack("<BI", mode, word & 0xFFFFFFFF)


def main(folder):
    seeds = {f"{e}-defaults": seed(e) for e in EFFECTS}
    seeds.update({
        "antimatter-selection": seed("antimatter", selection=(32, 32, 2, 10.5, -5.25)),
        "glow-selection-outside": seed("glow", selection=(40, 20, 0, 50, 30)),
        "drop_shadow-selection": seed("drop_shadow", selection=(30, 30, 4, -8, 12.75)),
        "squint-selection-far": seed("squint", selection=(8, 8, 5, -32768, 32767.5)),
        "outer_bevel-draft": seed("outer_bevel", size=(200, 150), downsample=3),
        "gaussian_blur-draft": seed("gaussian_blur", size=(120, 90), downsample=8),
        "gaussian_blur-empty": seed("gaussian_blur", size=(0, 0)),
        "star-thin-row": seed("star", size=(300, 1), pattern=5),
        "fire-raw-late": seed("fire", raw_time=(1, 1000, 2000000)),
        "hsb_noise-late": seed("hsb_noise", rate=8, frame=10000),
        "smoke-still": seed("smoke", flags=STILL, frame=40),
        "weave-ntsc": seed("weave", rate=1, frame=300),
        "squint-two-frames": seed("squint", flags=SECOND_FRAME),
        "glass-allocation-fails": seed("glass", failure=(ALLOCATION | BEFORE_RENDER, 5, 0)),
        "swirl-cancel": seed("swirl", failure=(CANCEL | BEFORE_RENDER, 3, 0)),
        "smoke-checkout-fails": seed("smoke", failure=(CHECKOUT | BEFORE_RENDER, 2, 2)),
        "jiggle-setup-checkout-fails": seed("jiggle", failure=(CHECKOUT, 0, 0)),
        "gaussian_blur-width-999": seed("gaussian_blur", params=value(RAW, 999)),
        "gaussian_blur-width-raw": seed("gaussian_blur", params=value(RAW, 40000)),
        "glow-width-extreme": seed("glow", params=value(EXTREME, 15)),
        "motion_trail-length-raw": seed("motion_trail", params=value(RAW, 0x12345) + value(RAW, 70)),
        "fire-height-extreme": seed("fire", params=value(DEFAULT, 0) + value(EXTREME, 1)),
        "chrome-softness-keyed": seed("chrome", params=bytes([KEYED, RAW]) + struct.pack("<i", fixed(5))
                                      + bytes([RAW]) + struct.pack("<i", fixed(90)) + bytes([30])),
        "star-position-far": seed("star", params=value(DEFAULT, 0) * 3 + bytes([RAW])
                                  + struct.pack("<ii", fixed(-30000), fixed(30000))),
        "carve-popup-beyond": seed("carve", params=value(DEFAULT, 0) * 3 + value(RAW, 9)),
        "outer_bevel-width-in-range": seed("outer_bevel", params=value(IN_RANGE, 0x2580000)),
    })
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "host_frames"))
