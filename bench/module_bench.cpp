// The module's benchmark: every effect, at its defaults and at
// the settings listed below, on a 1920 x 1080 layer through the real render
// path (entry point, dispatcher, driver, kernel), single-threaded; every
// effect at its defaults with our host offering 1 and 2 workers
// (Workers/<key>/<n>); and the blur engine alone.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bench/engine_fixture.h"
#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/module.h"
#include "ourhost/param_values.h"

namespace zoka_bench {
namespace {

// Settings beyond the defaults worth timing (an effect's costliest, say),
// each benchmarked as Effect/<key>/<label>.
struct Variant {
    const char* effectKey;
    const char* label;
    std::vector<std::pair<const char*, const char*>> sets;  // parameter key, value
    double seconds = 0;  // the frame's time, for settings that drift
};

const std::vector<Variant> kVariants = {
    {"Chrome", "Softness100", {{"Softness", "100"}}},  // the blur's FFT at its widest
    {"Fire", "SoftTall", {{"EdgeSoftness", "100"}, {"WispHeight", "200"}}},  // FFT blur, tall
    {"Smoke", "WideWisps", {{"WispWidth", "600"}}},  // ten octaves per sample
    {"Star", "EraseImage", {{"EraseImage", "on"}, {"Sides", "12"}, {"Position", "960,540"}}},
    {"Weave", "DriftSmear", {{"FlowVelocity", "30"}, {"Smear", "on"}}, 1.5},
    {"Fur", "Length30", {{"HairLength", "30"}}},
    {"Jiggle", "Turbulence", {{"Field", "3"}}},
    {"Swirl", "Smear30", {{"SmearLength", "30"}}},
    {"InnerBevel", "Width600", {{"Width", "600"}}},
    {"OuterBevel", "Width600", {{"Width", "600"}}},
    {"Carve", "Width600", {{"Width", "600"}}},
    {"Cutout", "Blur40", {{"Blur", "40"}}},  // the FFT blur
    {"DropShadow", "Blur40", {{"Blur", "40"}}},
    {"PerspectiveShadow", "Blur40", {{"Blur", "40"}}},
    // The distance engine far reaching (Medium and Thin take the same path).
    {"Glow", "Fat100", {{"Width", "100"}}},
    {"Glow", "Diffuse100", {{"Width", "100"}, {"DropoffType", "Diffuse"}}},  // the blur's FFT
    {"Glass", "Width300", {{"Width", "300"}}},  // the widest bevel
    {"GaussianBlur", "Width100", {{"Width", "100"}}},  // the blur's FFT
    {"MotionTrail", "Length200", {{"Length", "200"}}},
    {"Squint", "Radius30", {{"Radius", "30"}}},
    {"HSBNoise", "Drift10s", {{"FlowVelocity", "100"}}, 10},  // a later frame costs the same
};

ourhost::Module& BenchModule() {
    static std::unique_ptr<ourhost::Module> module = [] {
        std::string error;
        auto loaded = ourhost::Module::Load(ZOKA_MODULE_PATH, error);
        if (!loaded) std::abort();
        return loaded;
    }();
    return *module;
}

// Sets each parameter by its key; false when one is missing or refused.
bool Apply(ourhost::EffectInstance& instance, const ZokaEffectKeys& keys,
           const std::vector<std::pair<const char*, const char*>>& sets) {
    const auto names = ourhost::ParamNames(instance, keys);
    for (const auto& [key, value] : sets) {
        const auto param = ourhost::FindParam(names, key);
        std::string error;
        if (!param || !ourhost::SetParam(instance.Params()[param->hostIndex], value, error)) return false;
    }
    return true;
}

void RenderEffect(benchmark::State& state, ZokaEffectKeys keys,
                  std::vector<std::pair<const char*, const char*>> sets, double seconds,
                  int32_t workers) {
    ourhost::Host host;
    host.UseWorkers(BenchModule().WorkerOffer(), workers);
    ourhost::EffectInstance instance(host, BenchModule().EntryPoint(keys.entryName));
    host.SetFillsFreshHandles(false);  // a test aid, not the module's work
    instance.GlobalSetup();
    instance.SetupParams();
    if (!Apply(instance, keys, sets)) {
        state.SkipWithError("a setting was refused");
        return;
    }
    for (auto _ : state) {
        const ourhost::FrameResult frame = instance.RenderFrame(BenchLayer(), ourhost::FrameOptions{seconds});
        if (frame.code != kHostNoError) state.SkipWithError("the render failed");
        benchmark::DoNotOptimize(frame.image.Data());
    }
}

void BlurEngine(benchmark::State& state, double radius) {
    EngineRaster raster;
    for (auto _ : state) {
        state.PauseTiming();
        raster.Refill();
        state.ResumeTiming();
        if (raster.Blur(radius) != zoka::kOk) state.SkipWithError("the blur failed");
    }
}

// On a machine shared with others, the run least disturbed by them: what
// the code itself costs, where a median still carries their share.
double Fastest(const std::vector<double>& times) {
    return times.empty() ? 0 : *std::min_element(times.begin(), times.end());
}

int RegisterAll() {
    for (const ZokaEffectKeys& keys : BenchModule().AllEffects()) {
        const std::vector<std::pair<const char*, const char*>> defaults;
        benchmark::RegisterBenchmark((std::string("Effect/") + keys.effectKey).c_str(), RenderEffect,
                                     keys, defaults, 0.0, 1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        for (const int32_t workers : {1, 2}) {
            benchmark::RegisterBenchmark(
                (std::string("Workers/") + keys.effectKey + "/" + std::to_string(workers)).c_str(),
                RenderEffect, keys, defaults, 0.0, workers)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->ComputeStatistics("fastest", Fastest);
        }
        for (const Variant& v : kVariants) {
            if (v.effectKey != std::string(keys.effectKey)) continue;
            benchmark::RegisterBenchmark(
                (std::string("Effect/") + keys.effectKey + "/" + v.label).c_str(), RenderEffect, keys,
                v.sets, v.seconds, 1)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    for (const double radius : {5.0, 20.0, 30.5, 100.0}) {
        benchmark::RegisterBenchmark(("BlurEngine/r" + std::to_string(radius).substr(0, 5)).c_str(),
                                     BlurEngine, radius)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    return 0;
}

const int kRegistered = RegisterAll();

}  // namespace
}  // namespace zoka_bench

// Freed frames stay with the process instead of going back to the system, as
// a host's own frame memory would: otherwise every frame's new buffers are
// fresh pages, and the kernel's zeroing of them is timed with the module.
int main(int argc, char** argv) {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the most glibc takes
    mallopt(M_TRIM_THRESHOLD, 1024 << 20);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
