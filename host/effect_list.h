// Every exported effect: its fixed index, its class and its entry point.
// Index 17 belongs to no effect. One list serves the entry points, the
// factory and the resource generator.
#pragma once

#define ZOKA_EFFECTS(X)                                          \
    X(0, Antimatter, Antimatter_Entry_Point)                     \
    X(1, Carve, Carve_Entry_Point)                               \
    X(2, Chrome, Chrome_Entry_Point)                             \
    X(3, Cutout, Cutout_Entry_Point)                             \
    X(4, DropShadow, Drop_Shadow_Entry_Point)                    \
    X(5, Fur, Fur_Entry_Point)                                   \
    X(6, Glass, Glass_Entry_Point)                               \
    X(7, Glow, Glow_Entry_Point)                                 \
    X(8, HsbNoise, HSB_Noise_Entry_Point)                        \
    X(9, InnerBevel, Inner_Bevel_Entry_Point)                    \
    X(10, MotionTrail, Motion_Trail_Entry_Point)                 \
    X(11, OuterBevel, Outer_Bevel_Entry_Point)                   \
    X(12, Star, Star_Entry_Point)                                \
    X(13, Swirl, Swirl_Entry_Point)                              \
    X(14, Smoke, Smoke_Entry_Point)                              \
    X(15, Squint, Squint_Entry_Point)                            \
    X(16, Jiggle, Jiggle_Entry_Point)                            \
    X(18, Weave, Weave_Entry_Point)                              \
    X(19, Fire, Fire_Entry_Point)                                \
    X(20, PerspectiveShadow, Perspective_Shadow_Entry_Point)     \
    X(21, GaussianBlur, Gaussian_Blur_Entry_Point)
