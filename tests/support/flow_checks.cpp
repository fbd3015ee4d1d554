#include "tests/support/flow_checks.h"

#include <gtest/gtest.h>

namespace zoka_test {

namespace {

ourhost::Image Frame(AppliedEffect& effect, const ourhost::Image& layer, double seconds) {
    return RenderChecked(effect, layer, ourhost::FrameOptions{seconds}).image;
}

}  // namespace

ourhost::FrameResult RenderChecked(AppliedEffect& effect, const ourhost::Image& layer,
                                   const ourhost::FrameOptions& options) {
    auto frame = effect.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError) << frame.message;
    EXPECT_EQ(effect.host.LiveHandles(), 0u);
    return frame;
}

ourhost::Image CoordinateLayer(int32_t size) {
    ourhost::Image layer(size, size);
    for (int32_t y = 0; y < size; ++y) {
        for (int32_t x = 0; x < size; ++x) {
            layer.Set(x, y, ourhost::Pixel{255, static_cast<uint8_t>(30 + 2 * x),
                                           static_cast<uint8_t>(30 + 2 * y), 0});
        }
    }
    return layer;
}

void ExpectFramesFollowTimeAndSeedAlone(const std::string& effect, const Configure& configure,
                                        const ourhost::Image& layer) {
    AppliedEffect fresh(effect);
    configure(fresh);
    const ourhost::Image reference = Frame(fresh, layer, 2.0);

    AppliedEffect used(effect);
    configure(used);
    Frame(used, layer, 3.0);
    Frame(used, layer, 0.5);
    EXPECT_EQ(Frame(used, layer, 2.0), reference) << effect << ": the frames before changed it";
    EXPECT_NE(Frame(used, layer, 1.0), reference) << effect << ": nothing moves over time";
    used.Set("RandomSeed", "7");
    EXPECT_NE(Frame(used, layer, 2.0), reference) << effect << ": the seed changes nothing";
}

}  // namespace zoka_test
