// A chain of effects applied to one layer, as a host applies a stack of
// effects: the first with the request's values and the selection layer, each
// further one (--then) with its own, each rendering the result of the one
// before. Shared by the commands that render and by the Python module.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/footage.h"
#include "cli/frame_request.h"
#include "cli/session.h"

namespace zoka_cli {

// One effect of the chain, set up with its values.
struct Stage {
    const EffectEntry* effect = nullptr;
    std::unique_ptr<ourhost::EffectInstance> instance;
    bool inSequence = false;  // between sequence setup and setdown
};

struct EffectChain {
    std::vector<Stage> stages;  // the effect, then each --then in order
    std::string failure;        // the error line of a failed frame, without "zoka: "
};

// Every effect of the chain found, set up and given its values: 0, or an
// exit status after one error line.
int SetUpChain(Session& session, const std::string& name, const FrameRequest& request, EffectChain& chain);
// The selection layer, the first effect's, its top-left at origin: 0, or
// kUsageError after one error line when that effect takes none.
int SelectThrough(EffectChain& chain, const ourhost::Image& selection, std::pair<double, double> origin);
// Sequence setup of every effect, once the values and selection are in:
// 0, or kModuleError.
int StartSequence(EffectChain& chain);
// Sequence and global setdown of every effect set up so far, after a
// failure too: a client that lives on keeps no handle of a failed request.
// The instances are gone after it.
void Finish(EffectChain& chain);

// "Glow", or "Glow, then Gaussian Blur" for a chain.
std::string ChainName(const EffectChain& chain);
// The module's message as one line.
std::string MessageLine(const std::string& text);

// The chain's frame: each effect renders the result of the one before, at
// the frame's resolution, and the input's top-left moves by each effect's
// origin. On a failure, the frame of the effect that failed.
ourhost::FrameResult RenderChain(EffectChain& chain, const ourhost::Image& input, ourhost::FrameOptions options,
                                 const EffectEntry*& failed);

// A side of the layer at 1/downsample of its size, as the host drafts it.
int32_t DraftSide(int32_t side, int32_t downsample);
// The rectangle, in the input's coordinates, that a frame is written as.
CanvasRect CanvasOf(const CanvasChoice& choice, const std::optional<CanvasRect>& whole,
                    const ourhost::FrameResult& frame, const ourhost::Image& input, int32_t downsample);
// --canvas's choice, or nothing after one error line.
std::optional<CanvasChoice> CanvasChosen(const std::string& canvas);

// A frame of the chain placed on its canvas.
struct PlacedFrame {
    HostError code = kHostNoError;
    std::string message;  // the module's, as one line
    CanvasRect canvas;
    ourhost::Image image;
};
// Renders the chain's frame at time (our host's injected failures armed
// for it, as the request asks) and places it on its canvas: 0, or
// kModuleError after one error line, kept as the chain's failure.
int RenderOnCanvas(EffectChain& chain, const ourhost::Image& input, const FrameRequest& request, double time,
                   const CanvasChoice& choice, const std::optional<CanvasRect>& whole, PlacedFrame& placed);

// One size for a range of frames: the union of every time's output through
// the whole chain, found by frame setup alone: 0, or kModuleError after one
// error line.
int WholeCanvas(EffectChain& chain, const ourhost::Image& input, const ourhost::FrameOptions& options,
                const std::vector<double>& times, CanvasRect& whole);

}  // namespace zoka_cli
