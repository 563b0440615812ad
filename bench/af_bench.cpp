// AF detection over a day of beats (about 100 000), RR intervals alone and
// with the P-wave check reading a lead computed on the fly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "analysis/AtrialFibrillation.h"

namespace {

// A day at about 70 bpm: hour-long stretches of AF between sinus rhythm with
// premature beats.
struct Day {
    std::vector<uint32_t> beats;
    std::vector<BeatClass> classes;
    Day()
    {
        std::mt19937 rng(3);
        uint32_t t = 100;
        for (int hour = 0; hour < 24; ++hour)
            for (int i = 0; i < 4200; ++i) {
                const double u = double(rng()) / 4294967296.0;
                BeatClass c = BeatClass::N;
                uint32_t rr;
                if (hour % 3 == 1)
                    rr = uint32_t(180 * (0.6 + 0.8 * u));
                else if (i % 17 == 0) {
                    rr = 140;
                    c = BeatClass::V;
                } else
                    rr = uint32_t(214 * (0.98 + 0.04 * u));
                t += rr;
                beats.push_back(t);
                classes.push_back(c);
            }
    }
};

const Day& TheDay()
{
    static const Day day;
    return day;
}

void BM_AfDay(benchmark::State& state)
{
    const Day& d = TheDay();
    const bool classified = state.range(0) != 0;
    const std::vector<BeatClass> none;
    for (auto _ : state)
        benchmark::DoNotOptimize(FindAfEpisodes(d.beats, classified ? d.classes : none, d.beats.back() + 250));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(d.beats.size()));
}
BENCHMARK(BM_AfDay)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_AfDayWithLead(benchmark::State& state)
{
    const Day& d = TheDay();
    const SampleReader read = [](int16_t* buffer, uint64_t first, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i)
            buffer[i] = int16_t(((first + i) * 2654435761u >> 13) % 61);
        return count;
    };
    for (auto _ : state)
        benchmark::DoNotOptimize(FindAfEpisodes(d.beats, d.classes, d.beats.back() + 250, read));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(d.beats.size()));
}
BENCHMARK(BM_AfDayWithLead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
