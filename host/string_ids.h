// String-table ids the framework itself uses.
#pragma once

namespace zoka {

inline constexpr int kStringCheckboxLabel = 41001;   // "   "
inline constexpr int kStringAlphaLayer = 43000;      // "Alpha Layer"
inline constexpr int kStringAlphaLayerOrigin = 43001;
inline constexpr int kStringCreateError = 44000;
inline constexpr int kStringCheckoutError = 44001;
inline constexpr int kStringStageRelease = 46000;    // 46000 + (3 - stage)
inline constexpr int kStringStageDevelop = 46003;

}  // namespace zoka
