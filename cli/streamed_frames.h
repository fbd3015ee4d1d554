// A stream of frames on standard output, one image file after another, in
// the order of the range (what ffmpeg's image2pipe reads).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/frame_workers.h"
#include "images/output_file.h"

namespace zoka_cli {

// The workers write each frame to a temporary file of the pattern; each is
// copied out once every frame before it has been, then removed.
class StreamedFrames : public FrameSink {
public:
    // Null with error set when the format is unknown, standard output is a
    // terminal, or the placeholder cannot be made in $TMPDIR.
    static std::unique_ptr<StreamedFrames> Create(const std::string& format, std::string& error);
    // The files the workers write, a %08d pattern in $TMPDIR.
    const std::string& Pattern() const { return pattern_; }

    bool Deliver(int32_t frame, std::string& error) override;
    void Abandon(const std::vector<int32_t>& undelivered) override;

private:
    StreamedFrames(std::unique_ptr<zoka_images::OutputFile> placeholder, std::string pattern)
        : placeholder_(std::move(placeholder)), pattern_(std::move(pattern)) {}
    // Holds the pattern's unique name while the frames use it.
    std::unique_ptr<zoka_images::OutputFile> placeholder_;
    std::string pattern_;
};

}  // namespace zoka_cli
