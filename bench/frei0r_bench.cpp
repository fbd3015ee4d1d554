// Fire through the frei0r bridge as a frei0r host runs it: its plug-in file
// opened with dlopen, an instance of 400 x 300, one frame after another at
// 25 frames a second from a time early or late in a clip; beside the first
// frame after a seek there, which integrates the motion from 0 (what every
// frame cost before instances carried their motion).
#include <dlfcn.h>
#include <frei0r.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr unsigned kWidth = 400;
constexpr unsigned kHeight = 300;
constexpr double kFramesPerSecond = 25;

// The plug-in's entry points, as a host finds them.
struct Plugin {
    Plugin() {
        const std::string path = std::string(ZOKA_FREI0R_PLUGIN_DIR) + "/zoka_fire.so";
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), dlerror());
            std::abort();
        }
        init = reinterpret_cast<int (*)()>(dlsym(handle, "f0r_init"));
        construct = reinterpret_cast<f0r_instance_t (*)(unsigned, unsigned)>(dlsym(handle, "f0r_construct"));
        destruct = reinterpret_cast<void (*)(f0r_instance_t)>(dlsym(handle, "f0r_destruct"));
        update = reinterpret_cast<void (*)(f0r_instance_t, double, const uint32_t*, uint32_t*)>(
            dlsym(handle, "f0r_update"));
        if (init == nullptr || construct == nullptr || destruct == nullptr || update == nullptr || init() != 1) {
            std::abort();
        }
    }
    int (*init)();
    f0r_instance_t (*construct)(unsigned, unsigned);
    void (*destruct)(f0r_instance_t);
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*);
};

Plugin& Fire() {
    static Plugin plugin;
    return plugin;
}

// An opaque disc on transparency, so the flames have a shape to rise from.
std::vector<uint32_t> Frame() {
    std::vector<uint32_t> frame(static_cast<size_t>(kWidth) * kHeight);
    for (unsigned y = 0; y < kHeight; ++y) {
        for (unsigned x = 0; x < kWidth; ++x) {
            const double dx = x - kWidth / 2.0, dy = y - kHeight * 0.6;
            const bool inside = dx * dx + dy * dy < 90.0 * 90.0;
            frame[y * kWidth + x] = inside ? 0xFF3070C0u : 0;  // RGBA bytes, little-endian
        }
    }
    return frame;
}

// The clip's times: 0 s, 10 min, 1 h, and a minute before the bridge's
// latest time (10 h), so that the frames after it still advance.
const std::vector<int64_t> kStarts = {0, 600, 3600, 35940};

// Frames one after another from the start: the first (integrated from 0)
// before the timing, then each the next frame of the clip.
void FrameAfterFrame(benchmark::State& state) {
    Plugin& fire = Fire();
    const std::vector<uint32_t> in = Frame();
    std::vector<uint32_t> out(in.size());
    const f0r_instance_t instance = fire.construct(kWidth, kHeight);
    const double start = static_cast<double>(state.range(0));
    int64_t frame = 0;
    fire.update(instance, start, in.data(), out.data());
    for (auto _ : state) {
        ++frame;
        fire.update(instance, start + frame / kFramesPerSecond, in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    fire.destruct(instance);
}

// The first frame at the start in a new instance, as after a seek.
void FirstFrame(benchmark::State& state) {
    Plugin& fire = Fire();
    const std::vector<uint32_t> in = Frame();
    std::vector<uint32_t> out(in.size());
    const double start = static_cast<double>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        const f0r_instance_t instance = fire.construct(kWidth, kHeight);
        state.ResumeTiming();
        fire.update(instance, start, in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
        state.PauseTiming();
        fire.destruct(instance);
        state.ResumeTiming();
    }
}

void Starts(benchmark::internal::Benchmark* b) {
    for (const int64_t start : kStarts) b->Arg(start);
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(FrameAfterFrame)->Name("Frei0r/Fire400x300/FrameAfterFrame")->Apply(Starts);
BENCHMARK(FirstFrame)->Name("Frei0r/Fire400x300/FirstFrame")->Apply(Starts);

}  // namespace

BENCHMARK_MAIN();
