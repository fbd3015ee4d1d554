#include "cli/chain.h"

#include <algorithm>
#include <map>

#include "cli/error_lines.h"
#include "ourhost/text.h"

namespace zoka_cli {

namespace {

// An effect found, set up and given its values, as a host applies one.
int SetUpStage(Session& session, const std::string& name, const FrameRequest& values, Stage& stage) {
    stage.effect = session.Find(name);
    if (stage.effect == nullptr) return kUsageError;
    std::string about;
    session.Instantiate(*stage.effect)->About(about);
    stage.instance = SetUpEffect(session, *stage.effect);
    if (!stage.instance) return kModuleError;
    return ApplyRequest(*stage.effect, *stage.instance, values);
}

// "Glow: the module's message (code 8)", kept as the failure.
void NoteFailure(EffectChain& chain, const EffectEntry& effect, HostError code, const std::string& message) {
    chain.failure = effect.name + ": " +
                    (code == kHostErrorCancelled ? "the render was cancelled"
                     : message.empty()           ? "the render failed"
                                                 : MessageLine(message)) +
                    " (code " + std::to_string(code) + ")";
    ErrorStream() << "zoka: " << chain.failure << "\n";
}

// Whether every area was made; after an error line when not.
bool AreasMade(EffectChain& chain, const Stage& stage, const std::vector<ourhost::FrameArea>& areas) {
    for (const ourhost::FrameArea& area : areas) {
        if (area.code != kHostNoError) {
            NoteFailure(chain, *stage.effect, area.code, area.message);
            return false;
        }
    }
    return true;
}

// Where each time's frame lies through the whole chain: the first effect's
// area from the input, each later effect's from a layer of the size the one
// before gave (frame setup looks at sizes alone), one layer for each size.
// False after an error line.
bool ChainAreas(EffectChain& chain, const ourhost::Image& input, ourhost::FrameOptions options,
                const std::vector<double>& times, std::vector<ourhost::FrameArea>& areas) {
    areas = chain.stages[0].instance->FrameAreas(input, options, times);
    if (!AreasMade(chain, chain.stages[0], areas)) return false;
    options.inputIsDraft = true;
    for (size_t k = 1; k < chain.stages.size(); ++k) {
        std::map<std::pair<int32_t, int32_t>, std::vector<size_t>> timesBySize;
        for (size_t i = 0; i < areas.size(); ++i) timesBySize[{areas[i].width, areas[i].height}].push_back(i);
        for (const auto& [size, indices] : timesBySize) {
            std::vector<double> sameSize;
            for (const size_t i : indices) sameSize.push_back(times[i]);
            const ourhost::Image layer(size.first, size.second);
            const auto next = chain.stages[k].instance->FrameAreas(layer, options, sameSize);
            if (!AreasMade(chain, chain.stages[k], next)) return false;
            for (size_t j = 0; j < indices.size(); ++j) {
                ourhost::FrameArea& area = areas[indices[j]];
                area.width = next[j].width;
                area.height = next[j].height;
                area.originX += next[j].originX;
                area.originY += next[j].originY;
            }
        }
    }
    return true;
}

}  // namespace

int SetUpChain(Session& session, const std::string& name, const FrameRequest& request, EffectChain& chain) {
    chain.stages.resize(1 + request.then.size());
    if (const int status = SetUpStage(session, name, request, chain.stages[0])) return status;
    for (size_t i = 0; i < request.then.size(); ++i) {
        FrameRequest values = request;
        values.sets = request.then[i].sets;
        values.preset = request.then[i].preset;
        if (const int status = SetUpStage(session, request.then[i].effect, values, chain.stages[i + 1])) {
            return status;
        }
    }
    return 0;
}

int SelectThrough(EffectChain& chain, const ourhost::Image& selection, std::pair<double, double> origin) {
    ourhost::EffectInstance& first = *chain.stages[0].instance;
    if (first.Params().size() < 3 || first.Params()[1].def.kind != kParamLayer) {
        ErrorStream() << "zoka: " << chain.stages[0].effect->name << " takes no selection layer\n";
        return kUsageError;
    }
    first.SetSelection(selection, origin.first, origin.second);
    return 0;
}

int StartSequence(EffectChain& chain) {
    for (Stage& stage : chain.stages) {
        if (stage.instance->SequenceSetup() != kHostNoError) return kModuleError;
        stage.inSequence = true;
    }
    return 0;
}

void Finish(EffectChain& chain) {
    for (Stage& stage : chain.stages) {
        if (!stage.instance) continue;
        if (stage.inSequence) stage.instance->SequenceSetdown();
        stage.inSequence = false;
        stage.instance->GlobalSetdown();
        stage.instance.reset();
    }
}

std::string ChainName(const EffectChain& chain) {
    std::string name;
    for (const Stage& stage : chain.stages) name += (name.empty() ? "" : ", then ") + stage.effect->name;
    return name;
}

std::string MessageLine(const std::string& text) {
    std::string message = ourhost::Utf8FromAnsi(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    for (char& c : message) c = c == '\r' || c == '\n' ? ' ' : c;
    return message;
}

ourhost::FrameResult RenderChain(EffectChain& chain, const ourhost::Image& input, ourhost::FrameOptions options,
                                 const EffectEntry*& failed) {
    ourhost::FrameResult frame;
    const ourhost::Image* layer = &input;
    int32_t originX = 0;
    int32_t originY = 0;
    for (Stage& stage : chain.stages) {
        ourhost::FrameResult next = stage.instance->RenderFrame(*layer, options);
        if (next.code != kHostNoError) {
            failed = stage.effect;
            return next;
        }
        // Each output holds its input, so the sums stay within the last output.
        originX += next.originX;
        originY += next.originY;
        frame = std::move(next);
        layer = &frame.image;
        options.inputIsDraft = true;
    }
    frame.originX = originX;
    frame.originY = originY;
    return frame;
}

int32_t DraftSide(int32_t side, int32_t downsample) { return (side + downsample - 1) / downsample; }

CanvasRect CanvasOf(const CanvasChoice& choice, const std::optional<CanvasRect>& whole,
                    const ourhost::FrameResult& frame, const ourhost::Image& input, int32_t downsample) {
    switch (choice.kind) {
        case CanvasChoice::Kind::kExplicit: return choice.rect;
        case CanvasChoice::Kind::kInput:
            return CanvasRect{0, 0, DraftSide(input.Width(), downsample), DraftSide(input.Height(), downsample)};
        case CanvasChoice::Kind::kDefault:
            if (whole) return *whole;
            [[fallthrough]];
        case CanvasChoice::Kind::kGrown: break;
    }
    return CanvasRect{-frame.originX, -frame.originY, frame.image.Width(), frame.image.Height()};
}

std::optional<CanvasChoice> CanvasChosen(const std::string& canvas) {
    const auto choice = ParseCanvas(canvas);
    if (!choice) {
        ErrorStream() << "zoka: --canvas takes grown, input or WxH+X+Y (e.g. 1920x1080+0+0 or 300x200-50-50), not \""
                      << canvas << "\"\n";
    }
    return choice;
}

int RenderOnCanvas(EffectChain& chain, const ourhost::Image& input, const FrameRequest& request, double time,
                   const CanvasChoice& choice, const std::optional<CanvasRect>& whole, PlacedFrame& placed) {
    ourhost::FrameOptions options = request.Options();
    options.time = time;
    ourhost::Host& host = *ourhost::Host::Current();
    host.FailAllocation(request.failAllocation);
    host.CancelFromPoll(request.cancelAtPoll);
    const EffectEntry* failed = nullptr;
    ourhost::FrameResult frame = RenderChain(chain, input, options, failed);
    host.FailAllocation(0);
    host.CancelFromPoll(0);
    placed.code = frame.code;
    placed.message = MessageLine(frame.message);
    if (frame.code != kHostNoError) {
        NoteFailure(chain, *failed, frame.code, frame.message);
        return kModuleError;
    }
    placed.canvas = CanvasOf(choice, whole, frame, input, request.downsample);
    placed.image = PlaceOnCanvas(std::move(frame.image), frame.originX, frame.originY, placed.canvas);
    return 0;
}

int WholeCanvas(EffectChain& chain, const ourhost::Image& input, const ourhost::FrameOptions& options,
                const std::vector<double>& times, CanvasRect& whole) {
    // A block of frames at a time: a million frames' areas need not be held at once.
    constexpr size_t kBlock = 4096;
    bool any = false;
    for (size_t first = 0; first < times.size(); first += kBlock) {
        const std::vector<double> block(times.begin() + static_cast<ptrdiff_t>(first),
                                        times.begin() + static_cast<ptrdiff_t>(std::min(times.size(), first + kBlock)));
        std::vector<ourhost::FrameArea> areas;
        if (!ChainAreas(chain, input, options, block, areas)) return kModuleError;
        for (const ourhost::FrameArea& area : areas) {
            const CanvasRect rect{-area.originX, -area.originY, area.width, area.height};
            whole = any ? Union(whole, rect) : rect;
            any = true;
        }
    }
    if (!ourhost::SizeAllowed(whole.width, whole.height)) {
        ErrorStream() << "zoka: " << ChainName(chain) << ": the frames together would be " << whole.width << "x"
                      << whole.height << " pixels, beyond what a layer holds; choose a canvas with --canvas\n";
        return kModuleError;
    }
    return 0;
}

}  // namespace zoka_cli
