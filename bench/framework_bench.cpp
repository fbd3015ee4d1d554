// The framework's own share of a frame: the real render path (entry point,
// dispatcher, render driver) around a kernel that does nothing, so what is
// timed is our host's frame and the driver's passes (copy in, pixel order,
// mask, blend, copy out). Each effect's own time is its figure less this one.
#include <benchmark/benchmark.h>

#include "base/module_memory.h"
#include "bench/layers.h"
#include "host/dispatcher.h"
#include "host/effect.h"
#include "host/params.h"
#include "ourhost/effect_instance.h"
#include "ourhost/host.h"

namespace zoka_bench {
namespace {

// Leaves the destination as the driver made it: a copy of the source.
class NullKernel final : public zoka::Effect {
public:
    NullKernel() : Effect(0, 0, 0) {}
    int EffectIndex() const override { return 99; }
    int ParamBlockSize() const override { return 8; }
    void InitParamBlock(void*) const override {}
    int RenderBand(zoka::RenderContext&, const zoka::PixelRect&) override { return zoka::kOk; }
    int ParamsSetup(HostInputRecord* in, HostOutputRecord* out, HostParamDef**, HostLayer*,
                    int countSoFar) override {
        return zoka::DeclareParams(in, out, {}, countSoFar);
    }
    void* ReadParams(HostParamDef**) override { return zoka::HostAlloc(8); }
    void ParamKey(int, zoka::KeyText&) const override {}
    void EffectKey(zoka::KeyText&) const override {}
};

HostError HOST_CALL NullKernelEntry(int32_t command, HostInputRecord* in, HostOutputRecord* out,
                                    HostParamDef** params, HostLayer* image, void* extra) {
    zoka::CurrentInputRecord = in;
    NullKernel effect;
    return zoka::ReportResult(in, out, zoka::RunCommand(effect, command, in, out, params, image, extra));
}

// withSelection: the layer is its own selection layer as well, which adds
// the selection's mask and the blend by it.
void Framework(benchmark::State& state, bool withSelection) {
    ourhost::Host host;
    ourhost::EffectInstance instance(host, NullKernelEntry);
    host.SetFillsFreshHandles(false);  // a test aid, not the module's work
    instance.GlobalSetup();
    instance.SetupParams();
    if (withSelection) instance.SetSelection(BenchLayer(), 0, 0);
    for (auto _ : state) {
        const ourhost::FrameResult frame = instance.RenderFrame(BenchLayer(), ourhost::FrameOptions{});
        if (frame.code != kHostNoError) state.SkipWithError("the render failed");
        benchmark::DoNotOptimize(frame.image.Data());
    }
}

BENCHMARK_CAPTURE(Framework, Layer, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Framework, Selection, true)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zoka_bench
