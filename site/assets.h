// The pictures the documentation site shows that no render makes (the
// screenshot of GIMP's GEGL tool, docs/gimp-gegl.png), built into the
// program so that an installed zoka writes the whole site.
#pragma once

#include <cstddef>

namespace zoka_site {

struct SiteAsset {
    const char* name;  // the file's name, in docs/ and in the site's folder
    const unsigned char* bytes;
    size_t size;
};

extern const SiteAsset kSiteAssets[];
extern const size_t kSiteAssetCount;

}  // namespace zoka_site
