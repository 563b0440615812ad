#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/PreciseQrsDetector.h"
#include "support/SyntheticEcg.h"

namespace {

constexpr uint32_t kPeriod = 200;  // 75 bpm at 250 samples/s

// The beats of a whole signal, fed in pieces of the given sizes in turn.
std::vector<uint64_t> Detect(const std::vector<int16_t>& s, const std::vector<size_t>& pieces = {25000})
{
    auto det = std::make_unique<PreciseQrsDetector>();
    std::vector<uint64_t> beats;
    size_t k = 0;
    for (size_t at = 0; at < s.size(); k = (k + 1) % pieces.size()) {
        const size_t n = std::min(pieces[k], s.size() - at);
        const size_t before = beats.size();
        det->Process(s.data() + at, n, beats);
        for (size_t b = before; b < beats.size(); ++b)
            EXPECT_LT(beats[b], at + n) << "a beat in samples not given yet";
        at += n;
    }
    det->Finish(beats);
    for (size_t b = 1; b < beats.size(); ++b)
        EXPECT_GT(beats[b], beats[b - 1]);
    return beats;
}

std::vector<int16_t> Signal(uint32_t seconds, int amplitude = 1500)
{
    return SyntheticEcg(seconds * 250, kPeriod, amplitude, 5, 10);
}

// Apexes of Signal's beats within [from, to).
std::vector<uint64_t> Apexes(uint64_t from, uint64_t to)
{
    std::vector<uint64_t> v;
    for (uint64_t p = SyntheticFirstPeak(kPeriod); p < to; p += kPeriod)
        if (p >= from)
            v.push_back(p);
    return v;
}

// Of the beats within [from, to): those within tolerance of a wanted one, and the others.
std::pair<size_t, size_t> Score(const std::vector<uint64_t>& beats, uint64_t from, uint64_t to,
                                const std::vector<uint64_t>& want, uint64_t tolerance = 2)
{
    size_t hits = 0, stray = 0;
    for (uint64_t b : beats) {
        if (b < from || b >= to)
            continue;
        const bool near = std::any_of(want.begin(), want.end(),
                                      [&](uint64_t w) { return (b > w ? b - w : w - b) <= tolerance; });
        ++(near ? hits : stray);
    }
    return {hits, stray};
}

std::pair<size_t, size_t> Score(const std::vector<uint64_t>& beats, uint64_t from, uint64_t to,
                                uint64_t tolerance = 2)
{
    return Score(beats, from, to, Apexes(from, to), tolerance);
}

// A wide complex (160 ms) centred on each position, as a ventricular beat.
void AddWideBeats(std::vector<int16_t>& s, const std::vector<uint64_t>& at, int amplitude)
{
    for (uint64_t c : at)
        for (int t = -20; t <= 20; ++t)
            if (c + t < s.size())
                s[c + t] = int16_t(s[c + t] + amplitude - amplitude * (t < 0 ? -t : t) / 20);
}

}  // namespace

TEST(PreciseQrs, NothingFromNothing)
{
    EXPECT_TRUE(Detect({}).empty());
    // Shorter than the filters, and flat at any level, the rails included.
    const std::vector<int16_t> s = Signal(1);
    for (size_t n : {1u, 10u, 19u})
        EXPECT_TRUE(Detect(std::vector<int16_t>(s.begin(), s.begin() + n)).empty()) << n;
    // One complex and a little after it.
    EXPECT_EQ(Detect(std::vector<int16_t>(s.begin(), s.begin() + 130)), (std::vector<uint64_t>{100}));
    for (int16_t level : {int16_t(0), int16_t(1234), int16_t(32767), int16_t(-32768)})
        EXPECT_TRUE(Detect(std::vector<int16_t>(15000, level)).empty()) << level;
}

TEST(PreciseQrs, FindsEveryBeatAtItsApexInAnyPieces)
{
    std::vector<int16_t> s = Signal(120);
    // Every fifth beat a wide ventricular one, the first right after the 2 s the levels learn from.
    std::vector<uint64_t> wide;
    for (uint64_t p = SyntheticFirstPeak(kPeriod) + 600; p + 50 < s.size(); p += 5 * kPeriod)
        wide.push_back(p - 80);
    AddWideBeats(s, wide, -2500);

    const std::vector<uint64_t> beats = Detect(s);
    ASSERT_EQ(beats.size(), Apexes(0, s.size()).size() + wide.size());
    EXPECT_EQ(Score(beats, 0, s.size(), wide, 10).first, wide.size());
    EXPECT_EQ(Score(beats, 0, s.size()).first, Apexes(0, s.size()).size());

    // The pieces the stream comes in change nothing, beats at their edges included.
    EXPECT_EQ(Detect(s, {1}), beats);
    EXPECT_EQ(Detect(s, {7, 1000, 1, 25000}), beats);
    EXPECT_EQ(Detect(s, {size_t(beats[3]), 1}), beats);
    EXPECT_EQ(Detect(s, {s.size()}), beats);
}

TEST(PreciseQrs, SingleBeat)
{
    std::vector<int16_t> s = SyntheticEcg(2500, 5000, 0, 3);  // noise only
    AddWideBeats(s, {1000}, 1200);
    const std::vector<uint64_t> beats = Detect(s);
    ASSERT_EQ(beats.size(), 1u);
    EXPECT_NEAR(double(beats[0]), 1000.0, 1.0);
}

TEST(PreciseQrs, FlatAndSaturatedStretches)
{
    // Electrode off (0) and amplifier at either rail, 10 s each, entered and
    // left with a jump; then the peaks clip at the edge of a small range.
    std::vector<int16_t> s = Signal(120);
    const std::pair<uint64_t, int16_t> stretches[] = {{5000, 0}, {10000, 32767}, {15000, -32768}};
    for (const auto& [from, value] : stretches)
        std::fill(s.begin() + from, s.begin() + from + 2500, value);
    for (size_t i = 20000; i < s.size(); ++i)
        s[i] = std::clamp<int16_t>(s[i], -1000, 1000);

    const std::vector<uint64_t> beats = Detect(s);
    for (const auto& [from, value] : stretches) {
        EXPECT_EQ(Score(beats, from - 150, from + 2650).second, 0u) << from;
        // Beats come back right after.
        EXPECT_EQ(Score(beats, from + 2600, from + 5000).first, Apexes(from + 2600, from + 5000).size()) << from;
    }
    EXPECT_EQ(Score(beats, 20000, s.size(), 4), std::make_pair(Apexes(20000, s.size()).size(), size_t(0)));
}

TEST(PreciseQrs, HoldsThroughNoiseAndFollowsAmplitude)
{
    // 6 s of noise twice as tall as the beats, then the beats at a quarter
    // of their height: a few false beats in the noise at most, none after,
    // and the small beats are all found once the levels have followed them
    // (within 4 s).
    std::vector<int16_t> s = Signal(90);
    uint32_t rng = 17;
    for (size_t i = 10000; i < 11500; ++i) {
        rng = rng * 1664525u + 1013904223u;
        s[i] = int16_t(s[i] + int(rng >> 20) % 3000 - 1500);
    }
    for (size_t i = 15000; i < s.size(); ++i)
        s[i] = int16_t(s[i] / 4);

    const std::vector<uint64_t> beats = Detect(s);
    EXPECT_LE(Score(beats, 10000, 11500).second, 6u);
    EXPECT_EQ(Score(beats, 11600, 15000), std::make_pair(Apexes(11600, 15000).size(), size_t(0)));
    EXPECT_EQ(Score(beats, 15000, s.size()).second, 0u);
    EXPECT_EQ(Score(beats, 16000, s.size()).first, Apexes(16000, s.size()).size());
}
