#include "frei0r/param_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ourhost/param_values.h"
#include "ourhost/text.h"

namespace zoka_frei0r {

namespace {

constexpr double kDegreesPerTurn = 360;

std::string Number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

double FromFixed(HostFixed v) { return v / 65536.0; }

// A user's range as numbers, for both kinds of slider. A frei0r value is
// the user's over the slider's top (0 to 1 is 0 to the top), a plain scale
// that editors such as Kdenlive can show in the user's units.
struct Range {
    double sliderMin, sliderMax, validMin, validMax;

    double Fraction(double user) const { return user / SliderScale(sliderMax); }
    double User(double fraction) const { return fraction * SliderScale(sliderMax); }
};

Range RangeOf(const ourhost::ParamSlot& slot) {
    const HostParamValue& u = slot.def.u;
    if (slot.def.kind == kParamSlider) {
        return Range{double(u.slider.sliderMin), double(u.slider.sliderMax), double(u.slider.validMin),
                     double(u.slider.validMax)};
    }
    return Range{FromFixed(u.fixedSlider.sliderMin), FromFixed(u.fixedSlider.sliderMax),
                 FromFixed(u.fixedSlider.validMin), FromFixed(u.fixedSlider.validMax)};
}

std::string Label(const ourhost::ParamSlot& slot) {
    std::string label = ourhost::Utf8FromAnsi(slot.def.name);
    const size_t first = label.find_first_not_of(' ');
    label = first == std::string::npos ? std::string() : label.substr(first, label.find_last_not_of(' ') - first + 1);
    // A checkbox's label is often blank: the text beside the box says it all.
    if (label.empty() && slot.def.kind == kParamCheckbox) return ourhost::Utf8FromAnsi(slot.checkboxText);
    return label;
}

std::string SliderExplanation(const ourhost::ParamSlot& slot) {
    const Range r = RangeOf(slot);
    std::string text = "0 to 1 is 0 to " + Number(r.User(1));
    if (r.validMin != 0 || r.validMax != r.User(1)) {
        text += "; the effect takes " + Number(r.validMin) + " to " + Number(r.validMax) + " (" +
                Number(r.Fraction(r.validMin)) + " to " + Number(r.Fraction(r.validMax)) + ")";
    }
    if (slot.def.kind == kParamSlider) text += ", whole numbers";
    return text;
}

std::string PopupExplanation(const ourhost::ParamSlot& slot) {
    std::string items;
    for (const std::string& item : ourhost::PopupItems(slot)) items += (items.empty() ? "" : ", ") + item;
    return "one of " + items;
}

// Where a fraction of the slider's range lands, clamped to what the
// parameter takes; the default when it is not a number.
HostParamValue SliderValue(const ourhost::ParamSlot& slot, const HostParamValue& defaults,
                           double fraction) {
    const Range r = RangeOf(slot);
    const double user = r.User(fraction);
    if (std::isnan(user)) return defaults;
    const double clamped = std::clamp(user, r.validMin, r.validMax);
    HostParamValue value = slot.def.u;
    if (slot.def.kind == kParamSlider) {
        value.slider.value = static_cast<int32_t>(std::lround(clamped));
    } else {
        value.fixedSlider.value = std::clamp(ourhost::FixedFromDouble(clamped), slot.def.u.fixedSlider.validMin,
                                             slot.def.u.fixedSlider.validMax);
    }
    return value;
}

// A user's number in 16.16, within what a user may give.
HostFixed Fixed(double v) {
    return ourhost::FixedFromDouble(std::clamp(v, -ourhost::kMaxFixedMagnitude, ourhost::kMaxFixedMagnitude));
}

uint8_t ColorByte(float c) { return static_cast<uint8_t>(std::lround(std::clamp(c, 0.0f, 1.0f) * 255.0f)); }

HostParamValue PopupValue(const ourhost::ParamSlot& slot, const HostParamValue& defaults, const void* param) {
    const char* text = *static_cast<const f0r_param_string*>(param);
    if (text == nullptr) return defaults;
    HostParamValue value;
    std::string error;
    return ourhost::ParseValue(slot, text, value, error) ? value : defaults;
}

}  // namespace

double SliderScale(double sliderMax) { return sliderMax > 0 ? sliderMax : 1; }

double UserUnitsPerFrei0rUnit(const ourhost::ParamSlot& slot) {
    switch (slot.def.kind) {
        case kParamSlider:
        case kParamFixedSlider: return RangeOf(slot).User(1);
        case kParamAngle: return kDegreesPerTurn;
        default: return 1;
    }
}

int Frei0rType(int32_t kind) {
    switch (kind) {
        case kParamSlider:
        case kParamFixedSlider:
        case kParamAngle: return F0R_PARAM_DOUBLE;
        case kParamCheckbox: return F0R_PARAM_BOOL;
        case kParamColor: return F0R_PARAM_COLOR;
        case kParamPoint: return F0R_PARAM_POSITION;
        case kParamPopup: return F0R_PARAM_STRING;
        default: return -1;
    }
}

std::string Explanation(const ourhost::ParamSlot& slot) {
    const std::string label = Label(slot) + ": ";
    switch (slot.def.kind) {
        case kParamSlider:
        case kParamFixedSlider: return label + SliderExplanation(slot);
        case kParamAngle: return label + "degrees clockwise from straight up, 0 to 1 is 0 to 360";
        case kParamCheckbox: return label + "on or off";
        case kParamColor: return label + "a colour";
        case kParamPoint:
            return label + "X and Y as fractions of the frame's width and height from its top-left corner";
        case kParamPopup: return label + PopupExplanation(slot);
        default: return label;
    }
}

HostParamValue ValueFromFrei0r(const ourhost::ParamSlot& slot, const HostParamValue& defaults,
                               const void* param, FrameSize frame) {
    if (param == nullptr) return defaults;
    HostParamValue value = slot.def.u;
    switch (slot.def.kind) {
        case kParamSlider:
        case kParamFixedSlider:
            return SliderValue(slot, defaults, *static_cast<const f0r_param_double*>(param));
        case kParamAngle: {
            const double turns = *static_cast<const f0r_param_double*>(param);
            if (std::isnan(turns)) return defaults;
            value.angle.value = Fixed(turns * kDegreesPerTurn);
            return value;
        }
        case kParamCheckbox: {
            const double on = *static_cast<const f0r_param_bool*>(param);
            if (std::isnan(on)) return defaults;
            value.checkbox.value = on >= 0.5 ? 1 : 0;
            return value;
        }
        case kParamColor: {
            const auto& c = *static_cast<const f0r_param_color_t*>(param);
            if (std::isnan(c.r) || std::isnan(c.g) || std::isnan(c.b)) return defaults;
            // Opaque, as a colour set by hand in the host.
            value.color.value = HostColor{255, ColorByte(c.r), ColorByte(c.g), ColorByte(c.b)};
            return value;
        }
        case kParamPoint: {
            const auto& p = *static_cast<const f0r_param_position_t*>(param);
            if (std::isnan(p.x) || std::isnan(p.y)) return defaults;
            value.point.x = Fixed(p.x * frame.width);
            value.point.y = Fixed(p.y * frame.height);
            return value;
        }
        case kParamPopup: return PopupValue(slot, defaults, param);
        default: return defaults;
    }
}

void ValueToFrei0r(const ourhost::ParamSlot& slot, const HostParamValue& value, void* param,
                   FrameSize frame, std::string& text) {
    if (param == nullptr) return;
    switch (slot.def.kind) {
        case kParamSlider:
            *static_cast<f0r_param_double*>(param) = RangeOf(slot).Fraction(value.slider.value);
            break;
        case kParamFixedSlider:
            *static_cast<f0r_param_double*>(param) = RangeOf(slot).Fraction(FromFixed(value.fixedSlider.value));
            break;
        case kParamAngle:
            *static_cast<f0r_param_double*>(param) = FromFixed(value.angle.value) / kDegreesPerTurn;
            break;
        case kParamCheckbox:
            *static_cast<f0r_param_bool*>(param) = value.checkbox.value ? 1.0 : 0.0;
            break;
        case kParamColor:
            *static_cast<f0r_param_color_t*>(param) =
                f0r_param_color_t{value.color.value.red / 255.0f, value.color.value.green / 255.0f,
                                  value.color.value.blue / 255.0f};
            break;
        case kParamPoint:
            *static_cast<f0r_param_position_t*>(param) = f0r_param_position_t{
                FromFixed(value.point.x) / frame.width, FromFixed(value.point.y) / frame.height};
            break;
        case kParamPopup:
            text = ourhost::FormatValue(slot, value);
            *static_cast<f0r_param_string*>(param) = text.data();
            break;
        default:
            break;
    }
}

}  // namespace zoka_frei0r
