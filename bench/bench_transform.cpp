// SPDX-License-Identifier: GPL-3.0-or-later
// The table transform of a 6000 x 4000 RGBX image against memcpy of the same
// buffer, in the same run, so the ratio holds whatever the machine.
#include "leveltable.h"
#include "samplemapper.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int width = 6000;
constexpr int height = 4000;
constexpr std::size_t bytes = std::size_t(width) * height * 4;

std::vector<std::uint8_t>& image()
{
    static std::vector<std::uint8_t> buffer = [] {
        std::vector<std::uint8_t> b(bytes);
        std::mt19937 engine(1);
        for (auto& byte : b)
            byte = std::uint8_t(engine());
        return b;
    }();
    return buffer;
}

void memcpyBaseline(benchmark::State& state)
{
    std::vector<std::uint8_t>& source = image();
    std::vector<std::uint8_t> target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}

void tableTransform(benchmark::State& state)
{
    const int threads = int(state.range(0));
    const transform::SampleMapper mapper(
        transform::LevelTable(255, 4.5f, transform::Branch::Lower));
    std::vector<std::uint8_t>& pixels = image();
    for (auto _ : state) {
        std::vector<std::jthread> workers;
        workers.reserve(std::size_t(threads));
        for (int part = 0; part < threads; ++part)
            workers.emplace_back([&, part] {
                const int first = height * part / threads;
                const int end = height * (part + 1) / threads;
                std::uint8_t* rows = pixels.data() + std::size_t(first) * width * 4;
                mapper.map(rows, rows, std::size_t(end - first) * width, {4, 3});
            });
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}

} // namespace

BENCHMARK(memcpyBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(tableTransform)
    ->Arg(1)
    ->Arg(int(std::max(1u, std::thread::hardware_concurrency())))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
