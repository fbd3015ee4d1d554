// What the reader of one format made of a file, for the readers that image
// files try in turn.
#pragma once

namespace zoka_images {

// kNotThisFormat: the file does not begin as this format's files do;
// nothing was read and no error set.
enum class FileRead { kNotThisFormat, kRead, kFailed };

}  // namespace zoka_images
