// The studio's page (HTML, CSS, scripts), built into the program from
// studio/page/ so that an installed zoka needs no data files.
#pragma once

#include <cstddef>
#include <string_view>

namespace zoka_studio {

struct StudioAsset {
    const char* name;  // the file's name in studio/page/
    const unsigned char* bytes;
    size_t size;
};

extern const StudioAsset kStudioAssets[];
extern const size_t kStudioAssetCount;

}  // namespace zoka_studio
