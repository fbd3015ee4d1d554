#include "tests/support/render_checks.h"

#include <gtest/gtest.h>

#include "tests/support/module_under_test.h"

namespace zoka_test {

namespace {

constexpr char kOutOfMemoryText[] =
    "Not enough memory resources are available to process this command.\r\n";

struct RenderCall {
    HostError code;
    ourhost::Image output;
    HostOutputRecord out;
    uint64_t allocations;
    uint64_t polls;
};

// Frame setup, then the render command alone, as the host calls them.
RenderCall Render(AppliedEffect& effect, const ourhost::Image& layer,
                  const ourhost::FrameOptions& options, uint64_t failAllocation,
                  uint64_t cancelPoll) {
    EXPECT_EQ(effect.instance.FrameSetup(layer, options), kHostNoError);
    const bool expands = (effect.instance.GlobalFlags() & kOutFlagExpandsOutput) != 0;
    const HostOutputRecord& setup = effect.instance.Output();
    ourhost::Image output(expands ? setup.width : layer.Width(),
                          expands ? setup.height : layer.Height(), ourhost::Pixel{1, 2, 3, 4});
    const uint64_t madeBefore = effect.host.HandlesMade();
    const uint64_t pollsBefore = effect.host.Polls();
    effect.host.FailAllocation(failAllocation);
    effect.host.CancelFromPoll(cancelPoll);
    const HostError code = effect.instance.Render(layer, output, options);
    effect.host.FailAllocation(0);
    effect.host.CancelFromPoll(0);
    return RenderCall{code, output, effect.instance.Output(),
                      effect.host.HandlesMade() - madeBefore, effect.host.Polls() - pollsBefore};
}

}  // namespace

ourhost::Image FallbackOutput(const ourhost::Image& input, int32_t width, int32_t height) {
    ourhost::Image output(width, height);
    HostLayer out = output.Layer();
    ourhost::CopyWhole(input.Layer(), out);
    return output;
}

void RunFailureSweep(const std::string& name, const ourhost::Image& layer,
                     const Configure& configure, const ourhost::FrameOptions& options) {
    for (const int32_t workers : {1, 3}) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        RunFailureSweepAt(workers, name, layer, configure, options);
    }
}

void RunFailureSweepAt(int32_t workers, const std::string& name, const ourhost::Image& layer,
                       const Configure& configure, const ourhost::FrameOptions& options) {
    AppliedEffect effect(name);
    effect.host.UseWorkers(LoadedModule().WorkerOffer(), workers);
    if (configure) configure(effect);
    const RenderCall reference = Render(effect, layer, options, 0, 0);
    ASSERT_EQ(reference.code, kHostNoError) << name;
    ASSERT_GT(reference.allocations, 1u) << name;
    const ourhost::Image fallback =
        FallbackOutput(layer, reference.output.Width(), reference.output.Height());

    for (uint64_t n = 1; n <= reference.allocations; ++n) {
        const RenderCall call = Render(effect, layer, options, n, 0);
        // The first allocation is the effect object itself.
        const HostError expected = n == 1 ? 44000 : 8;
        EXPECT_EQ(call.code, expected) << name << ": allocation " << n;
        EXPECT_TRUE(call.out.flags & kOutFlagDisplayError) << name << ": allocation " << n;
        EXPECT_STREQ(call.out.message,
                     n == 1 ? "Lumetta AE Error : General error creating effect" : kOutOfMemoryText)
            << name << ": allocation " << n;
        EXPECT_EQ(call.output, fallback) << name << ": allocation " << n;
        EXPECT_EQ(effect.host.LiveHandles(), 0u) << name << ": allocation " << n;
    }
    for (uint64_t n = 1; n <= reference.polls; ++n) {
        const RenderCall call = Render(effect, layer, options, 0, n);
        EXPECT_EQ(call.code, kHostErrorCancelled) << name << ": cancel at poll " << n;
        EXPECT_FALSE(call.out.flags & kOutFlagDisplayError) << name << ": cancel at poll " << n;
        EXPECT_STREQ(call.out.message, "") << name << ": cancel at poll " << n;
        EXPECT_EQ(call.output, fallback) << name << ": cancel at poll " << n;
        EXPECT_EQ(effect.host.LiveHandles(), 0u) << name << ": cancel at poll " << n;
    }
    EXPECT_TRUE(effect.host.Faults().empty()) << name << ": " << effect.host.Faults().front();
}

void ExpectSameFrameAtSeveralWorkers(const std::string& name, const ourhost::Image& layer,
                                     const Configure& configure,
                                     const ourhost::FrameOptions& options) {
    const auto frameAt = [&](int32_t workers) {
        AppliedEffect effect(name);
        effect.host.UseWorkers(LoadedModule().WorkerOffer(), workers);
        if (configure) configure(effect);
        const ourhost::FrameResult frame = effect.instance.RenderFrame(layer, options);
        EXPECT_EQ(frame.code, kHostNoError) << name << " at " << workers << " workers";
        EXPECT_EQ(effect.host.LiveHandles(), 0u) << name << " at " << workers << " workers";
        return frame;
    };
    const ourhost::FrameResult alone = frameAt(1);
    for (const int32_t workers : {2, 3, 5}) {
        const ourhost::FrameResult split = frameAt(workers);
        EXPECT_EQ(split.originX, alone.originX) << name << " at " << workers << " workers";
        EXPECT_EQ(split.originY, alone.originY) << name << " at " << workers << " workers";
        EXPECT_TRUE(split.image == alone.image) << name << " at " << workers << " workers";
    }
}

ourhost::Image TestLayer(int32_t width, int32_t height) {
    ourhost::Image layer(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const bool inside = x >= width / 4 && x < width * 3 / 4 && y >= height / 4 &&
                                y < height * 3 / 4;
            const auto soft = static_cast<uint8_t>(std::min(255, 40 * x));
            layer.Set(x, y, ourhost::Pixel{static_cast<uint8_t>(inside ? 255 : soft / 3),
                                           static_cast<uint8_t>(10 * x), static_cast<uint8_t>(12 * y),
                                           static_cast<uint8_t>(200 - 5 * x)});
        }
    }
    return layer;
}

}  // namespace zoka_test
