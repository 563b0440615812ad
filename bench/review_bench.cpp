// How long one correction of a day-long recording takes to reach the
// results: the beat list with one beat fewer, every step after detection
// again (RR intervals, irregular beats, minute and hour records, the
// additions). Uses $BENCH_RECORDING (e.g. run-bench's 24-hour recording)
// or writes a day of a plain beat train.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "DayRecording.h"
#include "analysis/EcgDocument.h"

namespace {

void BM_OneCorrectionOfADay(benchmark::State& state)
{
    CEcgDocument doc;
    doc.OpenFile(BenchDayRecording());
    doc.StartAnalysis(nullptr);
    doc.WaitAnalysis();
    const auto results = doc.GetResults();
    if (!results || results->beats.size() < 1000) {
        state.SkipWithError("no beats");
        return;
    }
    std::vector<uint32_t> beats = results->beats;
    std::vector<BeatClass> classes = results->classes;
    const size_t at = beats.size() / 2;
    const uint32_t removed = beats[at];
    bool without = false;
    for (auto _ : state) {
        if (without) {
            beats.insert(beats.begin() + std::ptrdiff_t(at), removed);
            classes.insert(classes.begin() + std::ptrdiff_t(at), BeatClass::N);
        } else {
            beats.erase(beats.begin() + std::ptrdiff_t(at));
            classes.erase(classes.begin() + std::ptrdiff_t(at));
        }
        without = !without;
        benchmark::DoNotOptimize(doc.ReplaceBeats(beats, classes));
    }
    state.counters["beats"] = double(beats.size());
}
BENCHMARK(BM_OneCorrectionOfADay)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
