#include "resources/string_table.h"

#include <algorithm>

namespace zoka {

namespace {

#define DEG "\xB0"

constexpr StringEntry kStrings[] = {
    // Antimatter
    {21000, "Antimatter"},
    {21001, "Amount"},
    {21002, "Alters brightness values without affecting hue and saturation"},
    // Carve, and the bevel labels shared with Inner Bevel, Outer Bevel and Glass
    {22000, "Carve"},
    {22001, "Bevel Width (pixels)"},
    {22002, "Shadow Depth"},
    {22003, "Smoothness"},
    {22004, "Highlight Brightness"},
    {22005, "Highlight Sharpness"},
    {22006, "Darken Depths"},
    {22007, "Bevel Shape"},
    {22008, "Direction (" DEG ")"},
    {22009, "Inclination (" DEG ")"},
    {22010, "Creates a carved or chiseled effect"},
    // Chrome
    {23000, "Chrome"},
    {23001, "Softness"},
    {23002, "Variation"},
    {23003, "Contrast"},
    {23004, "Bands"},
    {23005, "Light Direction (" DEG ")"},
    {23006, "Base Color"},
    {23007, "Highlight Color"},
    {23008, "Produces a metallic effect that can be used to simulate chrome, gold, and other metals."},
    // Cutout
    {24000, "Cutout"},
    {24001, "Distance (pixels)"},
    {24002, "Blur"},
    {24003, "Opacity (%)"},
    {24004, "Shadow Color"},
    {24005, "Fill Color"},
    {24006, "Solid Fill"},
    {24007, "Creates a hole in the layer"},
    // Fire, and labels shared with Smoke and the noise effects
    {26000, "Fire"},
    {26001, "Flame Width (pixels)"},
    {26002, "Flame Height (pixels)"},
    {26003, "Movement"},
    {26004, "Random Seed"},
    {26005, "Inside Masking"},
    {26006, "Edge Softness"},
    {26007, "Inner Color"},
    {26008, "Outer Color"},
    {26009, "Produces a realistic flame"},
    // Fur
    {27000, "Fur"},
    {27001, "Wave Spacing (pixels)"},
    {27002, "Waviness (pixels)"},
    {27003, "Length (pixels)"},
    {27004, "Shininess"},
    {27005, "Smooth"},
    {27006, "Smears the image using randomly placed clumps of fur"},
    // Gaussian Blur
    {27500, "Gaussian Blur"},
    {27501, "Performs a gaussian blur on a layer"},
    // Glass
    {28000, "Glass"},
    {28001, "Flaw Spacing (pixels)"},
    {28002, "Flaw Thickness"},
    {28003, "Refraction"},
    {28004, "Color"},
    {28005, "Puts a sheet of colored glass on the layer"},
    // Glow
    {29000, "Glow"},
    {29001, "Width (pixels)"},
    {29002, "Opacity Dropoff"},
    {29003, "Draw Everywhere"},
    {29004, "Draws a semi-tranparent halo around the layer or selection"},
    // HSB Noise, and the flow labels shared with the animated effects
    {30000, "HSB Noise"},
    {30001, "Hue Variation"},
    {30002, "Saturation Variation"},
    {30003, "Brightness Variation"},
    {30004, "Opacity Variation"},
    {30005, "Lump Width (pixels)"},
    {30006, "Lump Height (pixels)"},
    {30007, "Flow Direction"},
    {30008, "Flow Speed (pixels/sec)"},
    {30009, "Undulation Speed (" DEG "/sec)"},
    {30010, "Adds noise to an image by varying hue, saturation, brightness, and opacity"},
    // Inner Bevel
    {31000, "Inner Bevel"},
    {31001, "Creates an embossed area in the layer"},
    // Jiggle
    {32000, "Jiggle"},
    {32001, "Bubble Size (pixels)"},
    {32002, "Warp Amount"},
    {32003, "Twist (" DEG ")"},
    {32004, "Movement Type"},
    {32005, "Produces a distortion based on randomly placed bubbling"},
    // Motion Trail
    {33000, "Motion Trail"},
    {33001, "Length (pixels)"},
    {33002, "Just Smear Edges"},
    {33003, "Smears the layer outward in one direction, producing the illusion of motion."},
    // Perspective Shadow
    {34000, "Perspective Shadow"},
    {34001, "Vanishing Point Direction (" DEG ")"},
    {34002, "Vanishing Point Distance"},
    {34003, "Length"},
    {34004, "Creates a shadow behind the layer, stretching from the bottom of the layer to the "
            "vanishing point."},
    // Squint
    {35000, "Squint"},
    {35001, "Radius (pixels)"},
    {35002, "Creates an blur which suggests an unfocused lens or watery eyes."},
    // Smoke
    {36000, "Smoke"},
    {36001, "Wisp Width (pixels)"},
    {36002, "Wisp Height (pixels)"},
    {36003, "Breakup Amount"},
    {36004, "Breakup Roughness"},
    {36005, "Produces realistic smoke"},
    // Star
    {37000, "Star"},
    {37001, "Number of Sides"},
    {37002, "Indentation (pixels)"},
    {37003, "Scale (%)"},
    {37006, "Orientation (" DEG ")"},
    {37007, "Erase Original Image"},
    {37008, "Position"},
    {37009, "Creates a many sided shape"},
    // Swirl
    {38000, "Swirl"},
    {38001, "Whirlpool Spacing (pixels)"},
    {38002, "Smear Length (pixels)"},
    {38003, "Streak Detail"},
    {38004, "Warp"},
    {38005, "Smears the layer using randomly placed whirlpools"},
    // Weave
    {40000, "Weave"},
    {40001, "Ribbon Width (pixels)"},
    {40002, "Gap Width (pixels)"},
    {40003, "Thread Detail"},
    {40004, "Thread Length"},
    {40005, "Gap Color"},
    {40006, "Fill Gaps"},
    {40007, "Smear Threads"},
    {40008, "Blurry"},
    {40009, "Creates a woven texture on the layer."},
    // Shared: checkbox label, popup lists, framework labels, errors
    {41001, "   "},
    {42000, "Button|Rounded|Flat|Mesa"},
    {42001, "Natural|User Defined"},
    {42002, "Bubbles|Brownian Motion|Turbulence"},
    {42003, "Fat|Medium|Thin|Diffuse"},
    {43000, "Alpha Layer"},
    {43001, "Alpha Layer Origin"},
    {44000, "Lumetta AE Error : General error creating effect"},
    {44001, "Lumetta AE Error : Error checking out parameter"},
    {44002, "Lumetta AE Error : Error adding effect parameter"},
    // Outer Bevel
    {45000, "Outer Bevel"},
    {45001, "Creates an embossed area in the layer.  Requires a selection layer."},
    // Stage words
    {46000, "Release"},
    {46001, "Beta"},
    {46002, "Alpha"},
    {46003, "Develop"},
};

#undef DEG

constexpr bool IsAscending() {
    for (size_t i = 1; i < std::size(kStrings); ++i) {
        if (kStrings[i - 1].id >= kStrings[i].id) return false;
    }
    return true;
}
static_assert(IsAscending(), "string ids must ascend for the lookup");

}  // namespace

std::span<const StringEntry> StringTable() { return kStrings; }

const char* FindString(uint32_t id) {
    const auto* it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                      [](const StringEntry& e, uint32_t key) { return e.id < key; });
    return it != std::end(kStrings) && it->id == id ? it->text : nullptr;
}

}  // namespace zoka
