// The effects' parameters in frei0r's terms: numbers as 0..1 from 0 to the
// slider's top, angles as 0..1 of a turn, points as fractions of the frame,
// popups as their item's text. Everything a frei0r host passes is checked
// here before it reaches a parameter: not a number, out of range, unknown or
// missing text fall back to the default or are clamped.
#pragma once

#include "frei0r/frei0r_api.h"

#include <string>

#include "ourhost/effect_instance.h"

namespace zoka_frei0r {

// A slider's frei0r value is the user's over its scale: the slider's top (1
// for a slider that does not reach above 0).
double SliderScale(double sliderMax);

// The user's units a frei0r value of 1 stands for: a slider's scale, 360
// degrees for an angle; 1 for other kinds.
double UserUnitsPerFrei0rUnit(const ourhost::ParamSlot& slot);

// The frei0r type of a host parameter kind; -1 for kinds a frei0r filter
// cannot offer (a layer).
int Frei0rType(int32_t kind);

// What a user reads beside the parameter: its label, and the range and unit
// its frei0r value stands for (or its items).
std::string Explanation(const ourhost::ParamSlot& slot);

// The frame a value is relative to: points are fractions of it.
struct FrameSize {
    int width;
    int height;
};

// The host value for what a frei0r host passed at param (the frei0r type's
// value, or a char** for a string). A value that is missing or not a number,
// or text that names no item, gives defaults; numbers beyond what the
// parameter takes are clamped to it.
HostParamValue ValueFromFrei0r(const ourhost::ParamSlot& slot, const HostParamValue& defaults,
                               const void* param, FrameSize frame);

// Writes the frei0r value of a host value to param; a string points into
// text, which must outlive the caller's use of it.
void ValueToFrei0r(const ourhost::ParamSlot& slot, const HostParamValue& value, void* param,
                   FrameSize frame, std::string& text);

}  // namespace zoka_frei0r
