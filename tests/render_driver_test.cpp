// The frame-render driver, through a probe effect that records what the
// driver hands it and paints its band.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/dispatcher.h"
#include "host/effect.h"
#include "host/params.h"
#include "host/render_context.h"
#include "host/render_driver.h"
#include "raster/sampler.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;

struct ProbeSetup {
    bool selection = true;
    bool expands = false;
    bool masks = true;
    int32_t grow = 0;
    bool pollInBand = false;
    bool paint = true;
};

struct ProbeSeen {
    PixelRect dest, selection, output, band;
    RealRect bounds;
    double maskOffsetX = -1, maskOffsetY = -1;
    int maskAtOrigin = -1;
    uint8_t sourceAtOrigin[4] = {};
};

ProbeSetup gSetup;
ProbeSeen gSeen;

constexpr uint8_t kPaint[4] = {11, 22, 33, 44};  // R, G, B, A in work order

class Probe final : public Effect {
public:
    Probe() : Effect(0, 0, 0) {}
    int EffectIndex() const override { return 99; }
    int ParamBlockSize() const override { return 8; }
    bool UsesSelectionLayer() const override { return gSetup.selection; }
    bool ExpandsOutput() const override { return gSetup.expands; }
    bool MasksWithSelection() const override { return gSetup.masks; }
    void InitParamBlock(void*) const override {}
    void OutputRect(PixelRect& result, const PixelRect& input, const void*, double) override {
        result = input;
        OutsetRect(result, gSetup.grow);
    }
    int PrepareRender(RenderContext& c) override {
        gSeen.dest = *c.destArea;
        gSeen.selection = *c.selectionArea;
        gSeen.output = *c.outputArea;
        gSeen.bounds = *c.selectionBounds;
        gSeen.maskOffsetX = c.maskOffsetX;
        gSeen.maskOffsetY = c.maskOffsetY;
        gSeen.maskAtOrigin = PixelOrZero(*c.mask, 0, 0);
        if (c.source->Contains(0, 0)) std::copy_n(c.source->Pixel(0, 0), 4, gSeen.sourceAtOrigin);
        return kOk;
    }
    int RenderBand(RenderContext& c, const PixelRect& band) override {
        gSeen.band = band;
        for (int32_t y = band.top; y < band.bottom; ++y) {
            if (gSetup.pollInBand && c.abort(nullptr) != 0) return kCancelled;
            for (int32_t x = band.left; x < band.right && gSetup.paint; ++x) {
                std::copy(kPaint, kPaint + 4, c.destination->Pixel(x, y));
            }
        }
        return kOk;
    }
    int ParamsSetup(HostInputRecord* in, HostOutputRecord* out, HostParamDef**, HostLayer*,
                    int countSoFar) override {
        return DeclareParams(in, out, {}, countSoFar);
    }
    void* ReadParams(HostParamDef**) override { return HostAlloc(8); }
    void ParamKey(int, KeyText&) const override {}
    void EffectKey(KeyText&) const override {}
};

HostError HOST_CALL ProbeEntry(int32_t command, HostInputRecord* in, HostOutputRecord* out,
                               HostParamDef** params, HostLayer* image, void* extra) {
    CurrentInputRecord = in;
    Probe probe;
    return ReportResult(in, out, RunCommand(probe, command, in, out, params, image, extra));
}

class Driver : public ::testing::Test {
protected:
    void SetUp() override {
        gSeen = ProbeSeen{};
        gSetup = ProbeSetup{};
    }
    ourhost::FrameResult Run(const std::function<void(ourhost::EffectInstance&)>& configure = {}) {
        ourhost::EffectInstance instance(host, ProbeEntry);
        EXPECT_EQ(instance.GlobalSetup(), kHostNoError);
        EXPECT_EQ(instance.SetupParams(), kHostNoError);
        if (configure) configure(instance);
        checkoutsBefore = host.Checkouts();
        ourhost::FrameResult frame = instance.RenderFrame(layer, FrameOptions{});
        EXPECT_EQ(host.LiveHandles(), 0u);
        EXPECT_TRUE(host.Faults().empty()) << host.Faults().front();
        return frame;
    }
    void ExpectPassesAgreeOverWorkers(int32_t width, int32_t height);
    ourhost::Host host;
    Image layer{20, 16, Pixel{200, 90, 100, 110}};
    uint64_t checkoutsBefore = 0;
};

const Pixel kPainted{44, 11, 22, 33};  // kPaint in host order

TEST_F(Driver, WithoutASelectionLayerNothingIsCheckedOutAndTheMaskIsTheLayersAlpha) {
    gSetup.selection = false;
    layer.Set(0, 0, Pixel{77, 1, 2, 3});
    const auto frame = Run();
    ASSERT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(host.Checkouts(), checkoutsBefore) << "frame setup and render check out nothing";
    EXPECT_EQ(gSeen.maskAtOrigin, 77);
    EXPECT_EQ(gSeen.dest, (PixelRect{0, 0, 16, 20}));
    EXPECT_EQ(gSeen.band, gSeen.dest);
    EXPECT_EQ(frame.image.At(5, 5), kPainted) << "no blend without a selection";
}

TEST_F(Driver, ASelectionParameterWithoutALayerIsCheckedOutAndBackIn) {
    layer.Set(0, 0, Pixel{77, 1, 2, 3});
    const auto frame = Run();
    ASSERT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(host.Checkouts(), checkoutsBefore + 2) << "once for frame setup, once to render";
    EXPECT_EQ(gSeen.maskAtOrigin, 77);
    EXPECT_EQ(gSeen.selection, gSeen.dest);
    EXPECT_EQ(frame.image.At(5, 5), kPainted);
}

TEST_F(Driver, AFractionalSelectionOriginGivesMaskOffsets) {
    layer = Image(40, 30, Pixel{200, 90, 100, 110});
    const auto frame = Run([](ourhost::EffectInstance& i) {
        i.SetSelection(Image(6, 5, Pixel{255, 0, 0, 0}), 10.5, 20.25);
    });
    ASSERT_EQ(frame.code, kHostNoError);
    EXPECT_DOUBLE_EQ(gSeen.maskOffsetX, 0.5);
    EXPECT_DOUBLE_EQ(gSeen.maskOffsetY, 0.25);
    EXPECT_EQ(gSeen.bounds, (RealRect{20.25, 10.5, 25.25, 16.5}));
    EXPECT_EQ(gSeen.selection, (PixelRect{20, 10, 25, 16}));
    EXPECT_EQ(gSeen.output, gSeen.selection);
}

TEST_F(Driver, ASelectionInsideTheLayerLimitsTheBandAndBlendsTheRestBack) {
    const auto frame = Run([](ourhost::EffectInstance& i) {
        i.SetSelection(Image(4, 3, Pixel{255, 0, 0, 0}), 5, 6);
    });
    ASSERT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(gSeen.dest, (PixelRect{0, 0, 16, 20}));
    EXPECT_EQ(gSeen.band, (PixelRect{6, 5, 9, 9}));
    EXPECT_EQ(frame.image.At(5, 6), kPainted);
    EXPECT_EQ(frame.image.At(8, 8), kPainted);
    EXPECT_EQ(frame.image.At(4, 6), layer.At(4, 6));
    EXPECT_EQ(frame.image.At(9, 9), layer.At(9, 9));
    EXPECT_EQ(frame.originX, 0);
}

TEST_F(Driver, ASelectionAlphaOfHalfMixesResultAndInput) {
    const auto frame = Run([](ourhost::EffectInstance& i) {
        i.SetSelection(Image(20, 16, Pixel{128, 0, 0, 0}), 0, 0);
    });
    ASSERT_EQ(frame.code, kHostNoError);
    const Pixel in = layer.At(3, 3);
    const Pixel out = frame.image.At(3, 3);
    EXPECT_EQ(out.r, (127 * in.r + 129 * kPainted.r) >> 8);
    EXPECT_EQ(out.a, (127 * in.a + 129 * kPainted.a) >> 8);
}

TEST_F(Driver, AnExpandingEffectStartsFromTransparentWhiteOutsideTheLayer) {
    gSetup.expands = true;
    gSetup.selection = false;
    gSetup.masks = false;
    gSetup.grow = 3;
    gSetup.paint = false;
    const auto frame = Run();
    ASSERT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(frame.image.Width(), 26);
    EXPECT_EQ(frame.originX, 3);
    EXPECT_EQ(gSeen.dest, (PixelRect{0, 0, 22, 26}));
    const uint8_t transparentWhite[4] = {255, 255, 255, 0};
    EXPECT_TRUE(std::equal(transparentWhite, transparentWhite + 4, gSeen.sourceAtOrigin));
    EXPECT_EQ(gSeen.maskAtOrigin, 0);
    EXPECT_EQ(frame.image.At(0, 0), (Pixel{0, 255, 255, 255}));
    EXPECT_EQ(frame.image.At(3, 3), layer.At(0, 0));
}

TEST_F(Driver, ACancelDuringABandReturnsTheHostsCancelAndTheInput) {
    gSetup.pollInBand = true;
    host.CancelFromPoll(3);
    const auto frame = Run();
    EXPECT_EQ(frame.code, kHostErrorCancelled);
    EXPECT_FALSE(frame.displayError);
    EXPECT_EQ(frame.image, layer);
}

TEST_F(Driver, ASelectionBeyondTheLayerNeverWritesOutsideTheOutputImage) {
    const auto frame = Run([](ourhost::EffectInstance& i) {
        i.SetSelection(Image(40, 40, Pixel{255, 0, 0, 0}), -7, -9);
    });
    ASSERT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(frame.image.Width(), 20) << "an effect that does not expand keeps the layer's size";
    EXPECT_EQ(gSeen.dest, (PixelRect{0, 0, 16, 20}));
    EXPECT_EQ(gSeen.band, gSeen.dest);
    EXPECT_EQ(frame.image.At(0, 0), kPainted);
    EXPECT_EQ(frame.image.At(19, 15), kPainted);
}

TEST_F(Driver, NoMemoryForTheParameterBlockEndsTheRenderWithTheInput) {
    ourhost::EffectInstance instance(host, ProbeEntry);
    ASSERT_EQ(instance.GlobalSetup(), kHostNoError);
    ASSERT_EQ(instance.SetupParams(), kHostNoError);
    Image output(20, 16);
    host.FailAllocation(1);
    EXPECT_EQ(instance.Render(layer, output, FrameOptions{}), kOutOfMemory);
    EXPECT_EQ(output, layer);
    EXPECT_EQ(host.LiveHandles(), 0u);
}

// A layer whose every pixel differs from its neighbours, big enough that the
// driver's copies, pixel-order turns, mask and blend split into rows over
// the workers offered.
Image VariedLayer(int32_t width, int32_t height) {
    Image image(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            image.Set(x, y, Pixel{static_cast<uint8_t>(x * 7 + y), static_cast<uint8_t>(x + 3 * y),
                                  static_cast<uint8_t>(x * y), static_cast<uint8_t>(x ^ y)});
        }
    }
    return image;
}

void OfferToDriver(const ZokaWorkerOffer* offer) { OfferWorkers(offer); }

// The passes around the kernel give the same frame whether they run on the
// render's thread alone or split over workers: with a selection blended back
// at a fractional origin, and for an expanding effect whose border starts as
// transparent white; for a layer whose rows go through the passes in runs of
// many rows, and for one so wide that each run is one row.
TEST_F(Driver, ThePassesAroundTheKernelGiveTheSameFrameSplitOverWorkers) {
    for (const auto& [width, height] : {std::pair{512, 401}, {17000, 9}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        ExpectPassesAgreeOverWorkers(width, height);
    }
}

void Driver::ExpectPassesAgreeOverWorkers(int32_t width, int32_t height) {
    layer = VariedLayer(width, height);
    const Image selection = VariedLayer(300, 250);
    for (const bool expanding : {false, true}) {
        gSetup = ProbeSetup{};
        gSetup.expands = expanding;
        gSetup.grow = expanding ? 9 : 0;
        gSetup.selection = !expanding;
        const auto configure = [&](int32_t workers) {
            return [&, workers](ourhost::EffectInstance& i) {
                host.UseWorkers(OfferToDriver, workers);
                if (!expanding) i.SetSelection(selection, 100.5, 40.75);
            };
        };
        const auto alone = Run(configure(1));
        ASSERT_EQ(alone.code, kHostNoError);
        for (const int32_t workers : {2, 3, 8}) {
            const auto split = Run(configure(workers));
            ASSERT_EQ(split.code, kHostNoError);
            EXPECT_TRUE(split.image == alone.image)
                << (expanding ? "expanding" : "with a selection") << ", " << workers << " workers";
        }
    }
}

// An effect whose bands agree, cut into more bands than workers: each band
// is rendered once, whichever thread takes it.
// An effect that has nothing but its bands.
class BandsOnly : public Effect {
public:
    BandsOnly() : Effect(0, 0, 0) {}
    int ParamBlockSize() const override { return 0; }
    void InitParamBlock(void*) const override {}
    int ParamsSetup(HostInputRecord*, HostOutputRecord*, HostParamDef**, HostLayer*, int) override {
        return kOk;
    }
    void* ReadParams(HostParamDef**) override { return nullptr; }
    void ParamKey(int, KeyText&) const override {}
    void EffectKey(KeyText&) const override {}
};

class BandCounter final : public BandsOnly {
public:
    int EffectIndex() const override { return 98; }
    int RenderBand(RenderContext&, const PixelRect& band) override {
        rendered[band.left].fetch_add(1);
        return band.left == failAt ? kOutOfMemory : kOk;
    }
    std::atomic<int> rendered[12] = {};
    int failAt = -1;
};

int RunTwelveBands(BandCounter& effect, int32_t workers) {
    const ZokaWorkerOffer offer{workers, nullptr, nullptr, nullptr, nullptr, nullptr};
    OfferWorkers(&offer);
    RenderContext context{};
    BandEntry table[12];
    for (int32_t i = 0; i < 12; ++i) table[i] = BandEntry{PixelRect{0, i, 4, i + 1}, &effect, &context};
    HostInputRecord in{};
    const int result = RunBands(&in, table, 12);
    OfferWorkers(nullptr);
    return result;
}

TEST(Bands, MoreBandsThanWorkersAreEachRenderedOnceByWhicheverThreadIsFree) {
    for (const int32_t workers : {2, 3, 12}) {
        BandCounter effect;
        EXPECT_EQ(RunTwelveBands(effect, workers), kOk);
        for (const auto& count : effect.rendered) EXPECT_EQ(count.load(), 1) << workers << " workers";
    }
}

// A band that fails stops the bands not yet started: on one thread the bands
// after it never run, and the render's result is the failure.
TEST(Bands, AFailedBandLeavesTheBandsNotStartedUnrendered) {
    BandCounter effect;
    effect.failAt = 4;
    EXPECT_EQ(RunTwelveBands(effect, 1), kOutOfMemory);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(effect.rendered[i].load(), i <= 4 ? 1 : 0) << "band " << i;
    BandCounter shared;
    shared.failAt = 7;
    EXPECT_EQ(RunTwelveBands(shared, 3), kOutOfMemory);
}

// A band's rows shared among the offered threads: every row painted once,
// in runs of consecutive rows, and the result the first failure other than
// a cancel, else a cancel.
struct RowRuns {
    std::atomic<int> painted[500] = {};
    std::atomic<int> runs{0};
    int32_t failFrom = 1000;  // runs from this row on fail
    int failure = kOutOfMemory;

    int Paint(int32_t top, int32_t bottom) {
        runs.fetch_add(1);
        for (int32_t y = top; y < bottom; ++y) painted[y].fetch_add(1);
        return top >= failFrom ? failure : kOk;
    }
};

int ShareRowsAt(int32_t workers, RowRuns& rows, const PixelRect& band) {
    const ZokaWorkerOffer offer{workers, nullptr, nullptr, nullptr, nullptr, nullptr};
    OfferWorkers(&offer);
    HostInputRecord in{};
    RenderContext context{};
    context.input = &in;
    const int result = ShareBandRows(context, band, [&](int32_t top, int32_t bottom) {
        return rows.Paint(top, bottom);
    });
    OfferWorkers(nullptr);
    return result;
}

// Several runs for each worker, so that a thread done early (or slowed by
// another program) takes more of them, but none below 65536 pixels: the
// 500 x 1100 band makes 8.
TEST(SharedRows, EveryRowIsPaintedOnceInRunsOfAtLeastAPartEach) {
    for (const auto& [workers, runs] : {std::pair{1, 1}, {2, 8}, {3, 8}, {8, 8}}) {
        RowRuns rows;
        EXPECT_EQ(ShareRowsAt(workers, rows, PixelRect{0, 0, 500, 1100}), kOk);
        EXPECT_EQ(rows.runs.load(), runs) << workers << " workers";
        for (const auto& row : rows.painted) EXPECT_EQ(row.load(), 1) << workers << " workers";
    }
    RowRuns wide;
    EXPECT_EQ(ShareRowsAt(2, wide, PixelRect{0, 0, 500, 2200}), kOk);
    EXPECT_EQ(wide.runs.load(), 8) << "four runs for each of two workers";
    RowRuns small;
    EXPECT_EQ(ShareRowsAt(4, small, PixelRect{0, 0, 100, 100}), kOk);
    EXPECT_EQ(small.runs.load(), 1) << "a small band stays on one thread";
}

TEST(SharedRows, AFailureOutranksACancelWhereverItFalls) {
    RowRuns failing;
    failing.failFrom = 200;
    EXPECT_EQ(ShareRowsAt(3, failing, PixelRect{0, 0, 500, 400}), kOutOfMemory);
    RowRuns cancelled;
    cancelled.failFrom = 100;
    cancelled.failure = kCancelled;
    EXPECT_EQ(ShareRowsAt(3, cancelled, PixelRect{0, 0, 500, 400}), kCancelled);
}

// Inside a band among several, whose fellow threads are busy with the other
// bands, the rows stay on the band's thread.
class RowSharingBands final : public BandsOnly {
public:
    int EffectIndex() const override { return 97; }
    int RenderBand(RenderContext& context, const PixelRect& band) override {
        return ShareBandRows(context, band, [&](int32_t top, int32_t bottom) { return rows.Paint(top, bottom); });
    }
    RowRuns rows;
};

TEST(SharedRows, ABandAmongSeveralPaintsItsRowsOnItsOwnThread) {
    RowSharingBands effect;
    const ZokaWorkerOffer offer{2, nullptr, nullptr, nullptr, nullptr, nullptr};
    OfferWorkers(&offer);
    HostInputRecord in{};
    RenderContext context{};
    context.input = &in;
    BandEntry table[2] = {{PixelRect{0, 0, 500, 400}, &effect, &context},
                          {PixelRect{0, 400, 500, 800}, &effect, &context}};
    EXPECT_EQ(RunBands(&in, table, 2), kOk);
    OfferWorkers(nullptr);
    EXPECT_EQ(effect.rows.runs.load(), 2);
    for (const auto& row : effect.rows.painted) EXPECT_EQ(row.load(), 2);
}

TEST(Bands, OneWorkerMakesOneBandThatIsTheArea) {
    PixelRect band;
    NextBand(PixelRect{3, 4, 10, 12}, band, 1);
    EXPECT_EQ(band, (PixelRect{3, 4, 10, 12}));
    NextBand(PixelRect{3, 4, 10, 12}, band, 1);
    EXPECT_TRUE(IsEmpty(band));
    PixelRect none;
    NextBand(PixelRect{3, 4, 10, 4}, none, 1);
    EXPECT_TRUE(IsEmpty(none));
    EXPECT_EQ(CancelToHost(kCancelled), kHostErrorCancelled);
    EXPECT_EQ(CancelToHost(kOutOfMemory), kOutOfMemory);
}

// Three workers over 8 columns: strips of ceil(8 / 3) = 3, the last cut at
// the area's edge; more workers than columns leave no empty band.
TEST(Bands, WorkersSplitTheAreaIntoStripsOfTheFullHeight) {
    std::vector<PixelRect> bands;
    PixelRect band;
    for (NextBand(PixelRect{3, 4, 10, 12}, band, 3); !IsEmpty(band);
         NextBand(PixelRect{3, 4, 10, 12}, band, 3)) {
        bands.push_back(band);
    }
    EXPECT_EQ(bands, (std::vector<PixelRect>{{3, 4, 10, 7}, {3, 7, 10, 10}, {3, 10, 10, 12}}));
    int count = 0;
    for (NextBand(PixelRect{0, 0, 5, 2}, band, 64); !IsEmpty(band);
         NextBand(PixelRect{0, 0, 5, 2}, band, 64)) {
        EXPECT_EQ(band.Width(), 1);
        ++count;
    }
    EXPECT_EQ(count, 2);
}

}  // namespace
}  // namespace zoka
