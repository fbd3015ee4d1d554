// Bands on worker threads and renders on several threads at once: each
// effect's declaration that its bands agree, held to its kernel; frames at
// several workers equal to frames at one, and every byte of their output
// written; every effect rendered on several threads of one process at once,
// each frame as it is alone.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host/effect.h"
#include "host/effect_factory.h"
#include "ourhost/effect_instance.h"
#include "ourhost/image.h"
#include "tests/support/band_split.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace {

using ourhost::FrameOptions;
using ourhost::Image;

bool DeclaredToAgree(int effectIndex) {
    zoka::EffectStorage storage;
    for (const zoka::RegisteredEffect& e : zoka::RegisteredEffects()) {
        if (e.index == effectIndex) return e.maker->construct(storage.bytes)->BandsAgree();
    }
    ADD_FAILURE() << "no effect of index " << effectIndex;
    return false;
}

// Moves every parameter of the effect off its default: sliders to fraction
// of their slider range, checkboxes turned over, angles to 60 degrees, the
// next popup item, colours to a blue; points and layers stay.
void ChangeEveryParameter(ourhost::EffectInstance& instance, double fraction) {
    for (ourhost::ParamSlot& slot : instance.Params()) {
        HostParamValue& u = slot.def.u;
        switch (slot.def.kind) {
            case kParamSlider:
                u.slider.value = u.slider.sliderMin +
                                 static_cast<int32_t>((u.slider.sliderMax - u.slider.sliderMin) * fraction);
                break;
            case kParamFixedSlider:
                u.fixedSlider.value =
                    u.fixedSlider.sliderMin +
                    static_cast<HostFixed>((u.fixedSlider.sliderMax - u.fixedSlider.sliderMin) * fraction);
                break;
            case kParamAngle:
                u.angle.value = 60 << 16;
                break;
            case kParamCheckbox:
                u.checkbox.value = !u.checkbox.value;
                break;
            case kParamPopup:
                u.popup.value = u.popup.value % u.popup.choiceCount + 1;
                break;
            case kParamColor:
                u.color.value = HostColor{255, 51, 128, 255};
                break;
            default:
                break;
        }
    }
}

// One frame as a test asks for it: an effect, its time and resolution, and
// where a selection layer lies, if it has one.
struct FrameCase {
    std::string entryName;
    FrameOptions options;
    bool selection = false;
    double changed = -1;  // ChangeEveryParameter's fraction; below 0 the defaults
    int32_t width = 96;   // the layer's size
    int32_t height = 64;
};

// The last frame's layer is big enough for the driver's passes around the
// kernel to split over the workers too.
std::vector<FrameCase> EveryEffectInFourFrames() {
    std::vector<FrameCase> cases;
    for (const ZokaEffectKeys& keys : zoka_test::LoadedModule().AllEffects()) {
        cases.push_back(FrameCase{keys.entryName, FrameOptions{1.5}});
        cases.push_back(FrameCase{keys.entryName, FrameOptions{0.75, 24, false, 2}, true});
        cases.push_back(FrameCase{keys.entryName, FrameOptions{1.2, 25}, false, 1.0 / 3});
        cases.push_back(FrameCase{keys.entryName, FrameOptions{0.5}, true, -1, 420, 330});
    }
    return cases;
}

// The frame, its output image filled with outputFill beforehand.
ourhost::FrameResult RenderCase(const FrameCase& c, int32_t workers, uint8_t outputFill = 0xA5) {
    zoka_test::AppliedEffect effect(c.entryName);
    effect.host.UseWorkers(zoka_test::LoadedModule().WorkerOffer(), workers);
    effect.host.SetFreshFill(outputFill);
    if (c.changed >= 0) ChangeEveryParameter(effect.instance, c.changed);
    if (c.selection) effect.instance.SetSelection(zoka_test::TestLayer(23, 17), 5.5, 3.25);
    ourhost::FrameResult frame =
        effect.instance.RenderFrame(zoka_test::TestLayer(c.width, c.height), c.options);
    EXPECT_EQ(effect.host.LiveHandles(), 0u) << c.entryName;
    EXPECT_TRUE(effect.host.Faults().empty()) << c.entryName;
    return frame;
}

// The proof of each declaration: the kernel of an effect that says its bands
// agree gives the whole frame's bytes in full-height strips of any width, at
// full and at half resolution, at a time its motion has moved, at its
// defaults and with every parameter moved a third and four fifths of the way
// along its slider.
TEST(Bands, AnEffectDeclaredToAgreeGivesTheSameBytesInStripsOfAnyWidth) {
    const Image layer = zoka_test::TestLayer(41, 29);
    for (const ZokaEffectKeys& keys : zoka_test::LoadedModule().AllEffects()) {
        if (!DeclaredToAgree(keys.effectIndex)) continue;
        for (const double fraction : {-1.0, 1.0 / 3, 0.8})
        for (const FrameOptions& options : {FrameOptions{1.5}, FrameOptions{0.75, 24, false, 2}}) {
            SCOPED_TRACE(testing::Message() << "parameters at " << fraction);
            zoka_test::AppliedEffect effect(keys.entryName);
            if (fraction >= 0) ChangeEveryParameter(effect.instance, fraction);
            effect.instance.PrepareTime(options);
            for (const int32_t width : {1, 6, 14, 21}) {
                const zoka_test::KernelOutputs run = zoka_test::RenderWholeAndInStrips(
                    keys.effectIndex, effect.instance, layer, width, layer.Height());
                ASSERT_EQ(run.wholeResult, 0) << keys.entryName;
                ASSERT_EQ(run.splitResult, 0) << keys.entryName << ", strips " << width;
                EXPECT_EQ(run.whole, run.split)
                    << keys.entryName << ", strips " << width << " wide, downsample "
                    << options.downsample;
            }
        }
    }
}

// Through our host: every effect's frame at 2, 3 and 7 workers is the frame
// at one, with and without a selection layer.
TEST(Bands, EveryFrameAtSeveralWorkersIsTheFrameAtOne) {
    for (const FrameCase& c : EveryEffectInFourFrames()) {
        const ourhost::FrameResult alone = RenderCase(c, 1);
        ASSERT_EQ(alone.code, kHostNoError) << c.entryName;
        for (const int32_t workers : {2, 3, 7}) {
            const ourhost::FrameResult split = RenderCase(c, workers);
            EXPECT_EQ(split.code, kHostNoError) << c.entryName;
            EXPECT_TRUE(split.image == alone.image) << c.entryName << " at " << workers << " workers";
        }
    }
}

// A frame writes every byte of the output it is handed, so that a host that
// serves renders need not clear it: the frame is the same over an output
// filled with any byte beforehand, at one worker and at several.
TEST(Bands, EveryFrameWritesEveryByteOfItsOutput) {
    for (const FrameCase& c : EveryEffectInFourFrames()) {
        for (const int32_t workers : {1, 3}) {
            const ourhost::FrameResult zeroes = RenderCase(c, workers, 0x00);
            ASSERT_EQ(zeroes.code, kHostNoError) << c.entryName;
            const ourhost::FrameResult other = RenderCase(c, workers, 0x5A);
            EXPECT_TRUE(other.image == zeroes.image)
                << c.entryName << (c.selection ? " with a selection" : "") << " at " << workers << " workers";
        }
    }
}

// Four threads of one process render every effect at once, each effect in
// its own host at two workers, in different frames; each frame is the same
// frame rendered alone on one thread.
TEST(Threads, EveryEffectRenderedOnSeveralThreadsAtOnceGivesItsFrameAlone) {
    const std::vector<FrameCase> cases = EveryEffectInFourFrames();
    std::vector<ourhost::FrameResult> alone;
    for (const FrameCase& c : cases) alone.push_back(RenderCase(c, 1));
    constexpr size_t kThreads = 4;
    std::vector<ourhost::FrameResult> together(cases.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = t; i < cases.size(); i += kThreads) together[i] = RenderCase(cases[i], 2);
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(together[i].code, alone[i].code) << cases[i].entryName;
        EXPECT_TRUE(together[i].image == alone[i].image)
            << cases[i].entryName << (cases[i].selection ? " with a selection" : "");
    }
}

// A cancel while bands run on several threads stops them all and leaves the
// input, as with one; so does an allocation failed in any band.
TEST(Threads, TheFailureSweepHoldsAtSeveralWorkersForEveryEffect) {
    for (const ZokaEffectKeys& keys : zoka_test::LoadedModule().AllEffects()) {
        zoka_test::RunFailureSweepAt(4, keys.entryName, zoka_test::TestLayer());
    }
}

// A blur big enough for its lines to be shared among the render's threads
// (a one-band effect's, on the render thread and its workers; here 192 x 172
// pixels of four channels, just past the smallest that is shared): an
// allocation failed in turn or a cancel at any poll of either pass, whichever
// thread polls, gives what it gives with one worker.
TEST(Threads, TheFailureSweepHoldsWhenABlursLinesAreShared) {
    zoka_test::RunFailureSweepAt(2, "Gaussian Blur", zoka_test::TestLayer(150, 130));
}

// The rows of Chrome's band (unblurred, so that every poll is a row's),
// Antimatter's and Star's, painted in runs on the render's threads, each of
// Antimatter's runs with a colour table of its own: an allocation failed in
// turn or a cancel at any poll of a run gives what it gives with one worker.
// Not under ThreadSanitizer, where it takes minutes: the runs stop as bands
// do, through the same flag, which the sweep at several workers checks there.
TEST(Threads, TheFailureSweepHoldsWhenAKernelsRowsAreShared) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "swept in the release and sanitizer builds";
#endif
    const ourhost::Image layer = zoka_test::TestLayer(364, 362);
    zoka_test::RunFailureSweepAt(2, "Chrome", layer, [](zoka_test::AppliedEffect& e) { e.Set("Softness", "0"); });
    zoka_test::RunFailureSweepAt(2, "Antimatter", layer);
    zoka_test::RunFailureSweepAt(2, "Star", layer);
}

}  // namespace
