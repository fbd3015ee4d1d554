#include "cli/streamed_frames.h"

#include <unistd.h>

#include "cli/footage.h"
#include "images/standard_streams.h"

namespace zoka_cli {

std::unique_ptr<StreamedFrames> StreamedFrames::Create(const std::string& format, std::string& error) {
    if (zoka_images::FormatForStandardOutput(format, error).empty()) return nullptr;
    auto placeholder = zoka_images::OutputFile::Create(zoka_images::TemporaryFolder() + "/frames", "", error);
    if (!placeholder) return nullptr;
    std::string pattern = placeholder->TemporaryPath() + "-%08d." + format;
    return std::unique_ptr<StreamedFrames>(new StreamedFrames(std::move(placeholder), std::move(pattern)));
}

bool StreamedFrames::Deliver(int32_t frame, std::string& error) {
    const std::string path = PathOfFrame(pattern_, frame);
    const bool sent = zoka_images::CopyToStandardOutput(path, error);
    unlink(path.c_str());
    return sent;
}

void StreamedFrames::Abandon(const std::vector<int32_t>& undelivered) {
    for (const int32_t frame : undelivered) unlink(PathOfFrame(pattern_, frame).c_str());
}

}  // namespace zoka_cli
