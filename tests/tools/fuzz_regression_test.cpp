#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "harness.h"

namespace {

using Harness = int (*)(const uint8_t*, size_t);

// Replays every input saved under fuzz/regressions/<target>/ plus a few
// hand-made corners; a fault aborts the test program.
int Replay(const char* target, Harness harness)
{
    int replayed = 0;
    const std::filesystem::path dir = std::filesystem::path(VITREL_FUZZ_REGRESSIONS) / target;
    if (!std::filesystem::exists(dir))
        return 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.')
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        harness(bytes.data(), bytes.size());
        ++replayed;
    }
    return replayed;
}

std::vector<uint8_t> Corner(size_t n, uint8_t fill, uint8_t first)
{
    std::vector<uint8_t> v(n, fill);
    if (!v.empty())
        v[0] = first;
    return v;
}

}  // namespace

TEST(FuzzRegressions, SavedInputsAndCornersRunClean)
{
    Replay("kind_selection", FuzzKindSelection);
    Replay("detector", FuzzDetector);
    Replay("precise_detector", FuzzPreciseDetector);
    Replay("analysis", FuzzAnalysis);
    // Extremes the fuzzers start from: int16 limits, alternating signs, short kinds padded.
    for (uint8_t fill : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0x80), uint8_t(0xFF)}) {
        for (size_t n : {size_t(0), size_t(5), size_t(64), size_t(3001), size_t(9000)}) {
            auto v = Corner(n, fill, 3);
            FuzzKindSelection(v.data(), v.size());
            FuzzDetector(v.data(), v.size());
            FuzzPreciseDetector(v.data(), v.size());
            FuzzAnalysis(v.data(), v.size());
        }
    }
    std::vector<uint8_t> alternating(12000);
    for (size_t i = 0; i < alternating.size(); ++i)
        alternating[i] = (i / 2) % 2 ? 0x80 : 0x7F;
    FuzzDetector(alternating.data(), alternating.size());
    FuzzPreciseDetector(alternating.data(), alternating.size());
    FuzzAnalysis(alternating.data(), alternating.size());
    const uint8_t shortPadded[] = {4, 0x01, 'a', 'b', 'c', 'd', 10, 11, 8, 14, 30, 0};
    FuzzKindSelection(shortPadded, sizeof shortPadded);
    const uint8_t remotePadded[] = {0, 0x03, 10, 11, 8};
    FuzzKindSelection(remotePadded, sizeof remotePadded);
}
