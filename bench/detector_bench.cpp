// Throughput of the R-wave detector on 500 samples/s input, chunk by chunk as
// the analysis run feeds it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <vector>

#include "analysis/EcgDocument.h"
#include "analysis/QrsDetector.h"

namespace {

// A real half-hour recording when the test data is there, else a synthetic
// 72 bpm signal with QRS-like spikes and baseline wander; 250 samples/s.
const std::vector<int16_t>& Recording()
{
    static const std::vector<int16_t> samples = [] {
        std::vector<int16_t> s;
        std::ifstream in(std::string(VITREL_DATA_DIR) + "/mitdb-100/20030108.30", std::ios::binary);
        char b[2];
        while (in.read(b, 2))
            s.push_back(int16_t(uint16_t(uint8_t(b[0])) | uint16_t(uint8_t(b[1])) << 8));
        if (s.size() >= 10 * ANALYSIS_CHUNK_STEP)
            return s;
        s.assign(20 * ANALYSIS_CHUNK_STEP, 0);
        uint32_t rng = 1;
        for (size_t i = 0; i < s.size(); ++i) {
            const int t = int(i % 208) - 104;
            double v = 120.0 * std::sin(double(i) * 2 * M_PI / 2500.0);
            if (t > -8 && t < 8)
                v += 1400.0 * (1.0 - std::abs(t) / 8.0);
            rng = rng * 1664525u + 1013904223u;
            s[i] = int16_t(v + double(rng >> 27) - 16.0);
        }
        return s;
    }();
    return samples;
}

// The detector input of every chunk, already repeated to 500 samples/s.
std::vector<std::vector<int16_t>> Chunks()
{
    const std::vector<int16_t>& rec = Recording();
    std::vector<std::vector<int16_t>> chunks;
    for (size_t first = 0; first < rec.size(); first += ANALYSIS_CHUNK_STEP) {
        const size_t n = std::min<size_t>(ANALYSIS_CHUNK_LENGTH, rec.size() - first);
        std::vector<int16_t> c(2 * n);
        std::copy(rec.begin() + first, rec.begin() + first + n, c.begin());
        UpsampleByRepeat(c.data(), uint32_t(2 * n), 2);
        chunks.push_back(std::move(c));
    }
    return chunks;
}

template <bool Reference>
void BM_Detect(benchmark::State& state)
{
    const auto chunks = Chunks();
    auto det = std::make_unique<QrsDetector>();
    std::vector<uint32_t> positions(ANALYSIS_CHUNK_LENGTH);
    size_t k = 0;
    int64_t samples = 0;
    uint64_t beats = 0;
    for (auto _ : state) {
        const std::vector<int16_t>& c = chunks[k];
        k = (k + 1) % chunks.size();
        uint32_t count = 0;
        if constexpr (Reference)
            det->DetectReference(c.data(), uint32_t(c.size()), positions.data(), &count);
        else
            det->Detect(c.data(), uint32_t(c.size()), positions.data(), &count);
        benchmark::DoNotOptimize(positions.data());
        samples += int64_t(c.size());
        beats += count;
    }
    state.SetItemsProcessed(samples);
    state.counters["samples/s"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
    state.counters["beats/chunk"] = double(beats) / double(state.iterations());
}

void BM_Detect_Fast(benchmark::State& state) { BM_Detect<false>(state); }
void BM_Detect_Reference(benchmark::State& state) { BM_Detect<true>(state); }

// The filters alone, one 1500-sample block at a time.
void BM_BandPassBlock(benchmark::State& state)
{
    const auto chunks = Chunks();
    auto det = std::make_unique<QrsDetector>();
    std::vector<int16_t> out(QRS_BLOCK);
    const std::vector<int16_t>& c = chunks[0];
    size_t pos = 0;
    for (auto _ : state) {
        det->BandPass(c.data() + pos, out.data(), QRS_BLOCK);
        benchmark::DoNotOptimize(out.data());
        pos = (pos + QRS_BLOCK) % (c.size() - QRS_BLOCK);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * QRS_BLOCK);
}

}  // namespace

BENCHMARK(BM_Detect_Fast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Detect_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BandPassBlock);

BENCHMARK_MAIN();
