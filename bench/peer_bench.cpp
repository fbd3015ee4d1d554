// The blur engine beside the image libraries a user would otherwise pick, on
// the same 1920 x 1080 RGBA image in the same run, one thread each:
// OpenCV's GaussianBlur and libvips' gaussblur with the same sigma,
// (r + 1) / (2 sqrt 2), and a kernel cut at the same reach (ceil(r) - 1
// pixels each way), zeros outside the image. Prints medians and the ratios
// ours / peer, on the benchmark layer (a shape on transparency, as layers in
// a composition are) and on noise (no flat region at all).
#include <benchmark/benchmark.h>
#include <vips/vips.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "bench/engine_fixture.h"

namespace zoka_bench {
namespace {

constexpr double kRadii[] = {5, 20, 30.5, 100};

double Sigma(double r) { return (r + 1) / (2 * std::sqrt(2.0)); }
int Reach(double r) { return static_cast<int>(std::ceil(r)) - 1; }

void Ours(benchmark::State& state, double r, const std::vector<uint8_t>* pixels) {
    EngineRaster raster(*pixels);
    for (auto _ : state) {
        state.PauseTiming();
        raster.Refill();
        state.ResumeTiming();
        raster.Blur(r);
    }
}

void OpenCv(benchmark::State& state, double r, const std::vector<uint8_t>* pixels) {
    cv::setNumThreads(1);
    const cv::Mat in(kHeight, kWidth, CV_8UC4, const_cast<uint8_t*>(pixels->data()));
    cv::Mat out;
    const int size = 2 * Reach(r) + 1;
    for (auto _ : state) {
        cv::GaussianBlur(in, out, cv::Size(size, size), Sigma(r), Sigma(r), cv::BORDER_CONSTANT);
        benchmark::DoNotOptimize(out.data);
    }
}

void Vips(benchmark::State& state, double r, const std::vector<uint8_t>* pixels) {
    vips_concurrency_set(1);
    VipsImage* in = vips_image_new_from_memory(pixels->data(), pixels->size(), kWidth, kHeight, 4,
                                               VIPS_FORMAT_UCHAR);
    // The mask ends where the Gaussian falls below its value just past the reach.
    const double x = Reach(r) + 1;
    const double minAmplitude = std::exp(-x * x / (2 * Sigma(r) * Sigma(r)));
    for (auto _ : state) {
        VipsImage* out = nullptr;
        vips_gaussblur(in, &out, Sigma(r), "min_ampl", minAmplitude, nullptr);
        size_t size = 0;
        void* written = vips_image_write_to_memory(out, &size);
        benchmark::DoNotOptimize(written);
        g_free(written);
        g_object_unref(out);
    }
    g_object_unref(in);
}

// Collects each benchmark's median for the table at the end.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;  // milliseconds
};

std::string Name(const char* who, const char* image, double r) {
    char name[64];
    std::snprintf(name, sizeof name, "%s/%s/r%g", who, image, r);
    return name;
}

struct TestImage {
    const char* name;
    const std::vector<uint8_t>* pixels;
};

}  // namespace
}  // namespace zoka_bench

int main(int argc, char** argv) {
    using namespace zoka_bench;
    if (VIPS_INIT(argv[0]) != 0) return 1;
    const TestImage images[] = {{"layer", &BenchRgba()}, {"noise", &NoiseRgba()}};
    for (const TestImage& image : images) {
        for (const double r : kRadii) {
            for (const auto& [who, run] : {std::pair{"Zoka", &Ours}, {"OpenCV", &OpenCv}, {"Vips", &Vips}}) {
                benchmark::RegisterBenchmark(Name(who, image.name, r).c_str(), run, r, image.pixels)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime()
                    ->Repetitions(7)
                    ->ReportAggregatesOnly(true);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nMedians on 1920x1080 RGBA, one thread (ratio = ours / peer)\n");
    std::printf("%6s %7s %10s %10s %10s %14s %12s\n", "image", "radius", "ours ms", "OpenCV ms",
                "vips ms", "ours/OpenCV", "ours/vips");
    for (const TestImage& image : images) {
        for (const double r : kRadii) {
            const double ours = reporter.medians[Name("Zoka", image.name, r)];
            const double cv = reporter.medians[Name("OpenCV", image.name, r)];
            const double vips = reporter.medians[Name("Vips", image.name, r)];
            if (ours == 0) continue;
            std::printf("%6s %7g %10.1f %10.1f %10.1f %14.2f %12.2f\n", image.name, r, ours, cv, vips,
                        ours / cv, ours / vips);
        }
    }
    vips_shutdown();
    return 0;
}
