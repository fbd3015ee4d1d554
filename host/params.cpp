#include "host/params.h"

#include <cstring>

#include "base/result_codes.h"
#include "host/string_ids.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

// A cleared record of the kind, named by the label through the host's string
// copy. A label that would not fit the name field is cut to fit first.
HostParamDef NewDefinition(HostInputRecord* in, HostParamKind kind, const ResString& label) {
    HostParamDef def{};
    def.kind = kind;
    char name[kParamNameBytes] = {};
    std::strncpy(name, label.TextOrEmpty(), sizeof name - 1);
    in->utils->stringCopy(def.name, name);
    return def;
}

int Append(HostInputRecord* in, HostParamDef& def) {
    return in->addParam(in->effectRef, kParamAppend, &def);
}

void LoadLabel(ResString& text, const Label& label) {
    if (label.text != nullptr) {
        text.Assign(label.text);
    } else {
        text.Load(label.id, kResStringBytes);
    }
}

int DeclareParam(HostInputRecord* in, const ParamDecl& decl) {
    ResString label;
    LoadLabel(label, decl.label);
    ResString text;
    switch (decl.kind) {
        case kParamLayer:
            return AddLayerParam(in, label, 0);
        case kParamSlider:
            return AddSliderParam(in, label, int32_t(decl.sliderMin), int32_t(decl.sliderMax),
                                  int32_t(decl.defaultValue), int32_t(decl.validMin),
                                  int32_t(decl.validMax));
        case kParamFixedSlider:
            return AddFixedSliderParam(in, label, decl.sliderMin, decl.sliderMax,
                                       decl.defaultValue, decl.validMin, decl.validMax,
                                       decl.percent);
        case kParamAngle:
            return AddAngleParam(in, label, decl.defaultValue);
        case kParamCheckbox:
            LoadLabel(text, decl.text);
            return AddCheckboxParam(in, label, text, uint8_t(decl.defaultValue));
        case kParamColor:
            return AddColorParam(in, label, &decl.color);
        case kParamPoint:
            return AddPointParam(in, label, decl.pointX, decl.pointY);
        case kParamPopup:
            LoadLabel(text, decl.text);
            return AddPopupParam(in, label, text, uint8_t(decl.choices),
                                 uint8_t(decl.defaultValue));
    }
    return kOk;
}

}  // namespace

HostFixed ToFixed(double x) { return TruncToInt32(x * 65536 + 0.5); }

int AddLayerParam(HostInputRecord* in, const ResString& label, int32_t defaultLayer) {
    HostParamDef def = NewDefinition(in, kParamLayer, label);
    def.u.layer.defaultLayer = defaultLayer;
    return Append(in, def);
}

int AddSliderParam(HostInputRecord* in, const ResString& label, int32_t sliderMin,
                   int32_t sliderMax, int32_t defaultValue, int32_t validMin, int32_t validMax) {
    HostParamDef def = NewDefinition(in, kParamSlider, label);
    HostSliderValue& v = def.u.slider;
    v.value = defaultValue;
    v.validMin = validMin;
    v.validMax = validMax;
    v.sliderMin = sliderMin;
    v.sliderMax = sliderMax;
    v.defaultValue = defaultValue;
    return Append(in, def);
}

int AddFixedSliderParam(HostInputRecord* in, const ResString& label, double sliderMin,
                        double sliderMax, double defaultValue, double validMin, double validMax,
                        bool percent) {
    HostParamDef def = NewDefinition(in, kParamFixedSlider, label);
    HostFixedSliderValue& v = def.u.fixedSlider;
    v.value = ToFixed(defaultValue);
    v.validMin = ToFixed(validMin);
    v.validMax = ToFixed(validMax);
    v.sliderMin = ToFixed(sliderMin);
    v.sliderMax = ToFixed(sliderMax);
    v.defaultValue = ToFixed(defaultValue);
    v.precision = 0;
    v.displayFlags = percent ? kFixedPercentFlag : 0;
    return Append(in, def);
}

int AddAngleParam(HostInputRecord* in, const ResString& label, double degrees) {
    HostParamDef def = NewDefinition(in, kParamAngle, label);
    def.u.angle.value = ToFixed(degrees);
    def.u.angle.defaultValue = ToFixed(degrees);
    return Append(in, def);
}

int AddCheckboxParam(HostInputRecord* in, const ResString& label, const ResString& text,
                     uint8_t defaultValue) {
    HostParamDef def = NewDefinition(in, kParamCheckbox, label);
    def.u.checkbox.value = static_cast<int8_t>(defaultValue);
    def.u.checkbox.defaultValue = defaultValue;
    def.u.checkbox.text = text.Text();
    return Append(in, def);
}

int AddColorParam(HostInputRecord* in, const ResString& label, const HostColor* color) {
    HostParamDef def = NewDefinition(in, kParamColor, label);
    def.u.color.value = *color;
    def.u.color.defaultValue = *color;
    return Append(in, def);
}

int AddPointParam(HostInputRecord* in, const ResString& label, HostFixed x, HostFixed y) {
    HostParamDef def = NewDefinition(in, kParamPoint, label);
    def.u.point.restrictBounds = 0;
    def.u.point.defaultX = x;
    def.u.point.defaultY = y;
    return Append(in, def);
}

int AddPopupParam(HostInputRecord* in, const ResString& label, const ResString& list,
                  uint8_t choices, uint8_t defaultItem) {
    HostParamDef def = NewDefinition(in, kParamPopup, label);
    def.u.popup.value = defaultItem;
    def.u.popup.choiceCount = choices;
    def.u.popup.defaultValue = defaultItem;
    def.u.popup.choices = list.Text();
    return Append(in, def);
}

int DeclareParams(HostInputRecord* in, HostOutputRecord* out, std::span<const ParamDecl> table,
                  int countSoFar) {
    for (const ParamDecl& decl : table) {
        const int result = DeclareParam(in, decl);
        if (result != kOk) return result;
    }
    out->paramCount = countSoFar + static_cast<int>(table.size());
    return kOk;
}

void CopyKey(const char* text, KeyText& key) {
    std::strncpy(key.text, text, sizeof key.text - 1);
    key.text[sizeof key.text - 1] = '\0';
}

void CopyParamKey(std::span<const ParamDecl> table, int number, KeyText& key) {
    if (number < 0 || static_cast<size_t>(number) >= table.size()) return;
    if (table[number].key != nullptr) CopyKey(table[number].key, key);
}

int SetupAllParams(Effect& effect, HostInputRecord* in, HostOutputRecord* out,
                   HostParamDef** params, HostLayer* image) {
    int countSoFar = 1;
    if (effect.UsesSelectionLayer()) {
        const ResString layerLabel(kStringAlphaLayer, kResStringBytes);
        int result = AddLayerParam(in, layerLabel, 0);
        if (result != kOk) return result;
        const ResString originLabel(kStringAlphaLayerOrigin, kResStringBytes);
        result = AddPointParam(in, originLabel, 0, 0);
        if (result != kOk) return result;
        countSoFar = 3;
    }
    return effect.ParamsSetup(in, out, params, image, countSoFar);
}

}  // namespace zoka
