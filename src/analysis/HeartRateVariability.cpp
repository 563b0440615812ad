#include "analysis/HeartRateVariability.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {


double SampleSd(const std::vector<double>& values)
{
    double mean = 0;
    for (double v : values)
        mean += v;
    mean /= double(values.size());
    double ss = 0;
    for (double v : values)
        ss += (v - mean) * (v - mean);
    return std::sqrt(ss / double(values.size() - 1));
}

}  // namespace

HrvMeasures ComputeHrv(const std::vector<uint32_t>& beats, const std::vector<uint32_t>& irregular,
                       uint32_t sampleRate)
{
    HrvMeasures m;
    if (beats.size() < 2 || sampleRate == 0)
        return m;
    // Looked up once per beat over a day: a sorted copy beats a hash set.
    std::vector<uint32_t> odd(irregular.begin(), irregular.end());
    std::sort(odd.begin(), odd.end());
    const auto isOdd = [&odd](uint32_t position) { return std::binary_search(odd.begin(), odd.end(), position); };
    const double msPerSample = 1000.0 / sampleRate;
    const uint64_t segmentSamples = uint64_t(HRV_SEGMENT_SECONDS) * sampleRate;

    std::vector<double> nn;
    nn.reserve(beats.size());
    std::map<uint64_t, std::vector<double>> segments;
    std::vector<double>* segment = nullptr;
    uint64_t segmentKey = 0;
    // Bins of width 1/128 s: intervals up to 8 s in an array, longer ones in the map.
    constexpr uint64_t kDirectBins = 8 * 128;
    std::vector<size_t> nearBins(kDirectBins, 0);
    std::map<uint64_t, size_t> farBins;
    double squares = 0;
    size_t over50 = 0;
    bool previousWasNN = false;
    double previous = 0;
    for (size_t i = 0; i + 1 < beats.size(); ++i) {
        const bool isNN = beats[i + 1] > beats[i] && !isOdd(beats[i]) && !isOdd(beats[i + 1]);
        if (!isNN) {
            previousWasNN = false;
            continue;
        }
        const uint64_t samples = beats[i + 1] - beats[i];
        const double ms = double(samples) * msPerSample;
        nn.push_back(ms);
        const uint64_t key = beats[i + 1] / segmentSamples;
        if (!segment || key != segmentKey) {
            segment = &segments[key];
            segmentKey = key;
        }
        segment->push_back(ms);
        const uint64_t bin = samples * 128 / sampleRate;
        if (bin < kDirectBins)
            ++nearBins[bin];
        else
            ++farBins[bin];
        if (previousWasNN) {
            const double d = ms - previous;
            squares += d * d;
            over50 += std::fabs(d) > 50.0 ? 1 : 0;
            ++m.successiveCount;
        }
        previous = ms;
        previousWasNN = true;
    }

    m.nnCount = nn.size();
    if (m.nnCount == 0)
        return m;
    double sum = 0;
    for (double v : nn)
        sum += v;
    m.meanNN = sum / double(nn.size());
    if (m.nnCount >= 2)
        m.sdnn = SampleSd(nn);
    if (m.successiveCount > 0) {
        m.rmssd = std::sqrt(squares / double(m.successiveCount));
        m.pnn50 = 100.0 * double(over50) / double(m.successiveCount);
    }
    size_t tallest = 0;
    for (size_t count : nearBins)
        tallest = std::max(tallest, count);
    for (const auto& [bin, count] : farBins)
        tallest = std::max(tallest, count);
    m.triangularIndex = double(m.nnCount) / double(tallest);

    std::vector<double> means;
    double sdSum = 0;
    for (const auto& [index, values] : segments) {
        if (values.size() < 2)
            continue;
        double s = 0;
        for (double v : values)
            s += v;
        means.push_back(s / double(values.size()));
        sdSum += SampleSd(values);
    }
    m.segmentCount = means.size();
    if (m.segmentCount >= 1)
        m.sdnnIndex = sdSum / double(m.segmentCount);
    if (m.segmentCount >= 2)
        m.sdann = SampleSd(means);
    return m;
}
