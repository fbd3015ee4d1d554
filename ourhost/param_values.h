// Parameter values in the units a user sees in the host, for our host's
// clients: finding a parameter by key, label or number, parsing and checking
// a value (or keyframes), and showing one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "interface/module_exports.h"
#include "ourhost/effect_instance.h"

namespace ourhost {

// What a user knows a parameter by.
struct ParamName {
    size_t hostIndex;
    int32_t number;  // the effect's own numbering; -1 for the framework's
    std::string key;
    std::string label;  // UTF-8
};

// The parameters of an instance after parameter setup, the input layer
// excluded.
std::vector<ParamName> ParamNames(EffectInstance& instance, const ZokaEffectKeys& keys);

// The label the host shows; for a checkbox with a blank label, the text
// beside its box.
std::string VisibleLabel(const ParamSlot& slot);

// A colour as users type it: #RRGGBB, #RGB, R,G,B or a common CSS name.
bool ParseColor(const std::string& text, HostColor& color);

// By key or label (case-insensitive) or by the effect's own number.
std::optional<ParamName> FindParam(const std::vector<ParamName>& names, const std::string& what);

// The kind as a word ("slider", "fixed slider", "angle", ...).
const char* KindName(int32_t kind);
// The valid range in user units, e.g. "a number from 0 to 999".
std::string ValidRange(const ParamSlot& slot);
// A value in user units: "20", "12.5", "on", "#FF8000", "Flat", "50,50".
std::string FormatValue(const ParamSlot& slot, const HostParamValue& value);

// Parses one value in user units; on failure error says what the parameter
// takes.
bool ParseValue(const ParamSlot& slot, const std::string& text, HostParamValue& value,
                std::string& error);
// Sets a parameter from "VALUE" or from keyframes "VALUE@SECONDS;..." (linear
// between keys, held before the first and after the last).
bool SetParam(ParamSlot& slot, const std::string& text, std::string& error);

// The popup's items.
std::vector<std::string> PopupItems(const ParamSlot& slot);

}  // namespace ourhost
