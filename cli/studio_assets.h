// The studio's page (HTML, CSS, scripts), built into the program from
// cli/studio/ so that an installed zoka needs no data files.
#pragma once

#include <cstddef>
#include <string_view>

namespace zoka_cli {

struct StudioAsset {
    const char* name;  // the file's name in cli/studio/
    const unsigned char* bytes;
    size_t size;
};

extern const StudioAsset kStudioAssets[];
extern const size_t kStudioAssetCount;

}  // namespace zoka_cli
