// The bevel lighting: a diffuse term from the height gradient and a light
// direction, plus a white specular highlight, applied to the layer's colour.
#pragma once

#include <cstdint>

#include "bevel/bevel_profile.h"
#include "raster/raster.h"

namespace zoka {

// A unit vector towards the light; x to the right, y downward, z towards
// the viewer.
struct BevelLight {
    double x;
    double y;
    double z;
};

// The light from a direction theta (counter-clockwise from +x) and an
// elevation phi above the image plane, both in radians:
// (cos phi cos theta, -cos phi sin theta, sin phi).
BevelLight LightFromAngles(double theta, double phi);

// Lights colour[0..channels) (0..1) on a surface of gradient (gx, gy): the
// colour times the cosine between the normal (-gx, -gy, 1) / h and the light,
// plus a highlight of brightness times r^exponent, r being the light's z
// mirrored about the normal (brightness when r > 1, none when r <= 0). A face
// turned away from the light is black, without highlight. Results may exceed
// 1.
void ShadePixel(const double* colour, int32_t channels, double gx, double gy, double exponent,
                double brightness, const BevelLight& light, double* out);

// What one band's shading reads: the layer, the blurred heights (covering
// the band outset by at least one pixel) and the light.
struct BevelShading {
    const Raster* source;       // work order (R, G, B, A)
    const Raster* destination;  // written in the band, leading channels only
    const Raster* heights;      // one double channel
    int32_t channels;           // leading channels shaded (3: alpha is left alone)
    ProfileKind profileKind;
    double smoothness;  // pixels, at the render's resolution
    double width;       // W, pixels at the render's resolution
    BevelLight light;
    double brightness;    // highlight, 0..1
    double exponent;      // highlight sharpness, 1..64
    double depth;         // D, the bevel's full height
    double darkenDepths;  // 0..100, used when carved
    // Lit as a depression (the gradient negated) and darkened with depth:
    // by darkenDepths percent where the height is D, not at all at 0.
    bool carved;
};

// Shades every pixel of the band from the central differences of the
// heights. Where the gradient is nearly flat the colour is blended back
// towards the source, so a flat area keeps its colour exactly (its bytes
// are kept).
void ShadeBevelBand(const BevelShading& shading, const PixelRect& band);

}  // namespace zoka
