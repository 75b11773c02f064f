// SPDX-License-Identifier: GPL-3.0-or-later
// The PNG writer on a 24-megapixel RGB image with fine detail, on 1 and 2
// threads, against libpng writing the same pixels in one piece at the same
// level, in the same run, so the ratios hold whatever the machine.
#include "libpngfiles.h"
#include "png/pngwriter.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace png;

namespace {

constexpr std::uint32_t width = 6000;
constexpr std::uint32_t height = 4000;
constexpr int level = 6;

// Gradients with Gaussian noise (sigma 12): detail deflate cannot skip.
const PngPixels& photograph()
{
    static const PngPixels pixels = [] {
        PngPixels p{{width, height, 8, PngColour::Rgb}, {}};
        p.rows.resize(std::size_t{width} * height * 3);
        std::mt19937 engine(1);
        std::normal_distribution<float> noise(0.0f, 12.0f);
        std::size_t i = 0;
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                for (std::uint32_t c = 0; c < 3; ++c) {
                    const float value = float((x / 24 + y / 16 + c * 70) % 256) + noise(engine);
                    p.rows[i++] = std::uint8_t(std::clamp(value, 0.0f, 255.0f));
                }
        return p;
    }();
    return pixels;
}

void libpngOnePiece(benchmark::State& state)
{
    const PngPixels& pixels = photograph();
    std::size_t size = 0;
    for (auto _ : state)
        size = libpngEncode(pixels, level).size();
    state.counters["MB out"] = double(size) / 1e6;
}

void pngWriter(benchmark::State& state)
{
    const PngPixels& pixels = photograph();
    PngWriter::Options options;
    options.level = level;
    options.threads = int(state.range(0));
    const std::size_t stride = std::size_t{width} * 3;
    std::size_t size = 0;
    for (auto _ : state) {
        size = 0;
        PngWriter writer(pixels.image, options, [&size](const char*, std::size_t n) {
            size += n;
            return Error();
        });
        for (std::uint32_t y = 0; y < height; y += 64)
            (void)writer.putRows(pixels.rows.data() + y * stride, stride,
                                 std::min<std::uint32_t>(64, height - y));
        if (Error error = writer.finish())
            state.SkipWithError(error.reason().c_str());
    }
    state.counters["MB out"] = double(size) / 1e6;
}

} // namespace

BENCHMARK(libpngOnePiece)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(pngWriter)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
