// Declaring parameters to the host. Each effect states its parameters once,
// as a table of ParamDecl; the table drives the host declarations (command 4)
// and the parameter keys.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "host/effect.h"
#include "host/res_string.h"
#include "interface/host_records.h"
#include "noise/rgb_color.h"

namespace zoka {

// A label or text: a string-table id, or a fixed text.
struct Label {
    int32_t id = 0;
    const char* text = nullptr;
    constexpr Label(int stringId) : id(stringId) {}  // NOLINT: tables read better without casts
    constexpr Label(const char* fixed) : text(fixed) {}  // NOLINT
};

struct ParamDecl {
    HostParamKind kind;
    Label label;
    const char* key;  // null: the parameter has no key
    double sliderMin = 0;
    double sliderMax = 0;
    double validMin = 0;
    double validMax = 0;
    // Sliders and angles: the value; checkbox: 0 or 1; popup: the 1-based item.
    double defaultValue = 0;
    bool percent = false;
    Label text = 0;  // checkbox text or popup list
    int16_t choices = 0;
    HostColor color{};  // alpha, red, green, blue
    HostFixed pointX = 0;
    HostFixed pointY = 0;
};

constexpr ParamDecl Slider(Label label, int32_t sliderMin, int32_t sliderMax, int32_t validMin,
                           int32_t validMax, int32_t defaultValue, const char* key) {
    return ParamDecl{.kind = kParamSlider, .label = label, .key = key,
                     .sliderMin = double(sliderMin), .sliderMax = double(sliderMax),
                     .validMin = double(validMin), .validMax = double(validMax),
                     .defaultValue = double(defaultValue)};
}

constexpr ParamDecl FixedSlider(Label label, double sliderMin, double sliderMax, double validMin,
                                double validMax, double defaultValue, const char* key,
                                bool percent = false) {
    return ParamDecl{.kind = kParamFixedSlider, .label = label, .key = key,
                     .sliderMin = sliderMin, .sliderMax = sliderMax, .validMin = validMin,
                     .validMax = validMax, .defaultValue = defaultValue, .percent = percent};
}

constexpr ParamDecl Angle(Label label, double degrees, const char* key) {
    return ParamDecl{.kind = kParamAngle, .label = label, .key = key, .defaultValue = degrees};
}

// Every checkbox is labelled with three blanks; `text` is shown beside it.
constexpr ParamDecl Checkbox(Label label, Label text, bool on, const char* key) {
    return ParamDecl{.kind = kParamCheckbox, .label = label, .key = key,
                     .defaultValue = on ? 1.0 : 0.0, .text = text};
}

constexpr ParamDecl Color(Label label, HostColor color, const char* key) {
    return ParamDecl{.kind = kParamColor, .label = label, .key = key, .color = color};
}

constexpr ParamDecl Point(Label label, HostFixed x, HostFixed y, const char* key) {
    return ParamDecl{.kind = kParamPoint, .label = label, .key = key, .pointX = x, .pointY = y};
}

constexpr ParamDecl Popup(Label label, Label list, int16_t choices, int16_t item,
                          const char* key) {
    return ParamDecl{.kind = kParamPopup, .label = label, .key = key, .defaultValue = double(item),
                     .text = list, .choices = choices};
}

// The number of the parameter with this key in an effect's table; -1 when
// the table has none. Effects and tests name rows by key instead of counting
// them.
constexpr int ParamRow(std::span<const ParamDecl> table, std::string_view key) {
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].key != nullptr && key == table[i].key) return static_cast<int>(i);
    }
    return -1;
}

// The definition routines: each fills a cleared record and appends it through
// the host's add-parameter; the result is the host's.
int AddLayerParam(HostInputRecord* in, const ResString& label, int32_t defaultLayer);
int AddSliderParam(HostInputRecord* in, const ResString& label, int32_t sliderMin,
                   int32_t sliderMax, int32_t defaultValue, int32_t validMin, int32_t validMax);
int AddFixedSliderParam(HostInputRecord* in, const ResString& label, double sliderMin,
                        double sliderMax, double defaultValue, double validMin, double validMax,
                        bool percent);
int AddAngleParam(HostInputRecord* in, const ResString& label, double degrees);
int AddCheckboxParam(HostInputRecord* in, const ResString& label, const ResString& text,
                     uint8_t defaultValue);
int AddColorParam(HostInputRecord* in, const ResString& label, const HostColor* color);
int AddPointParam(HostInputRecord* in, const ResString& label, HostFixed x, HostFixed y);
int AddPopupParam(HostInputRecord* in, const ResString& label, const ResString& list,
                  uint8_t choices, uint8_t defaultItem);

// The red, green and blue of a colour parameter's pixel; its alpha is ignored.
inline RgbColor FromParamPixel(const HostColor* pixel) {
    return RgbColor::Bytes(pixel->red, pixel->green, pixel->blue);
}

// A real value in 16.16 fixed point: x * 65536 + 0.5 truncated toward zero.
HostFixed ToFixed(double x);

// Declares the table's parameters in order, stopping at the first failure;
// on success writes countSoFar + the table's size as the parameter count.
int DeclareParams(HostInputRecord* in, HostOutputRecord* out, std::span<const ParamDecl> table,
                  int countSoFar);
// Copies the key of parameter `number`, if it has one.
void CopyParamKey(std::span<const ParamDecl> table, int number, KeyText& key);
void CopyKey(const char* text, KeyText& key);

// Command 4: the selection-layer parameters when the effect uses them, then
// the effect's own.
int SetupAllParams(Effect& effect, HostInputRecord* in, HostOutputRecord* out,
                   HostParamDef** params, HostLayer* image);

}  // namespace zoka
