// The names the programs the effects are brought into know an effect and
// its parameters by, from the keys and names the module declares: one rule
// for the clients that make them and the documentation that shows them.
#pragma once

#include <string>

namespace ourhost {

// The key in lower case: zoka:<it> in GEGL, zoka_<it> for frei0r.
std::string LowerKey(const std::string& key);

// "zoka:glow".
std::string GeglOperationName(const std::string& effectKey);

// A parameter's GEGL property, as GEGL names properties: "DropoffType" is
// dropoff_type, which GEGL's programs show as dropoff-type.
std::string GeglPropertyName(const std::string& paramKey);

// A popup item as GEGL's command line and files give enumerations: "Fat" is
// fat, "Sharp Corners" sharp-corners.
std::string GeglItemNick(const std::string& item);

// The frei0r plug-in's name, what ffmpeg's filter and MLT's service take:
// "zoka_glow" (the file zoka_glow.so, the service frei0r.zoka_glow).
std::string Frei0rPluginName(const std::string& effectKey);

// What the frei0r plug-in calls itself ("zoka Glow"), and the element
// GStreamer makes of it by its own rule: frei0r-filter-zoka-glow.
std::string Frei0rTitle(const std::string& effectName);
std::string GstreamerElementName(const std::string& effectName);

}  // namespace ourhost
