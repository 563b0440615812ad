// The lead the detectors see: the decoded one without its baseline.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "formats/StandardFile.h"

namespace {

// A running median over an odd window, the ends held at the edge values.
std::vector<int> RunningMedian(const std::vector<int>& in, size_t window)
{
    const size_t n = in.size(), half = window / 2;
    std::vector<int> out(n);
    if (n == 0)
        return out;
    const auto at = [&](int64_t i) { return in[size_t(std::clamp<int64_t>(i, 0, int64_t(n) - 1))]; };
    std::vector<int> sorted;
    for (int64_t i = -int64_t(half); i <= int64_t(half); ++i)
        sorted.push_back(at(i));
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < n; ++i) {
        out[i] = sorted[half];
        const int leaving = at(int64_t(i) - int64_t(half));
        const int coming = at(int64_t(i + half + 1));
        sorted.erase(std::lower_bound(sorted.begin(), sorted.end(), leaving));
        sorted.insert(std::upper_bound(sorted.begin(), sorted.end(), coming), coming);
    }
    return out;
}

}  // namespace

std::vector<int16_t> WithoutBaseline(const std::vector<int16_t>& samples)
{
    constexpr size_t kStep = ECG_SAMPLE_RATE / 50;
    const size_t n = samples.size();
    std::vector<int> coarse((n + kStep - 1) / kStep);
    for (size_t i = 0; i < coarse.size(); ++i)
        coarse[i] = samples[i * kStep];
    const std::vector<int> baseline = RunningMedian(RunningMedian(coarse, 11), 31);
    std::vector<int16_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        const size_t k = i / kStep, next = std::min(k + 1, baseline.size() - 1);
        const double f = double(i % kStep) / kStep;
        const double b = baseline[k] + (baseline[next] - baseline[k]) * f;
        out[i] = int16_t(std::clamp(std::lround(samples[i] - b), -32768L, 32767L));
    }
    return out;
}
