#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/BeatClassifier.h"
#include "analysis/Ectopy.h"
#include "support/Programs.h"
#include "support/Recordings.h"
#include "support/SyntheticEcg.h"
#include "support/TempDir.h"

namespace {

SampleReader ReaderOf(const std::vector<int16_t>& s)
{
    return [&s](int16_t* buffer, uint64_t first, uint32_t count) {
        if (first >= s.size())
            return 0u;
        const uint32_t n = uint32_t(std::min<uint64_t>(count, s.size() - first));
        std::memcpy(buffer, s.data() + first, n * sizeof(int16_t));
        return n;
    };
}

std::vector<uint32_t> Apexes(uint32_t n, uint32_t period)
{
    std::vector<uint32_t> beats;
    for (uint32_t at = SyntheticFirstPeak(period); at + period / 2 < n; at += period)
        beats.push_back(at);
    return beats;
}

// Normal beats with the wide complexes of a second signal of the same
// period spliced in at the chosen beats.
std::vector<int16_t> WithWideBeats(uint32_t n, uint32_t period, const std::vector<uint32_t>& beats,
                                   const std::vector<size_t>& wide)
{
    std::vector<int16_t> s = SyntheticEcg(n, period, 1200, 7, 10);
    const std::vector<int16_t> w = SyntheticEcg(n, period, 1500, 7, 28);
    for (size_t k : wide)
        for (uint32_t i = beats[k] - period / 2; i < beats[k] + period / 2 && i < n; ++i)
            s[i] = w[i];
    return s;
}

struct SynthBeats {
    std::vector<int16_t> samples;
    std::vector<uint32_t> beats;
    std::vector<char> codes;
};

SynthBeats Synthesize(const testsupport::TempDir& dir, const std::vector<std::string>& options)
{
    std::vector<std::string> args{"long", "--minutes", "20", "--beats", dir.Path("beats.csv")};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(dir.Path("rec"));
    const std::string path = testsupport::SynthRecording(args);
    SynthBeats out;
    const std::string bytes = testsupport::ReadWholeFile(path);
    out.samples.resize(bytes.size() / 2);
    for (size_t i = 0; i < out.samples.size(); ++i)
        out.samples[i] = int16_t(uint8_t(bytes[2 * i]) | (uint8_t(bytes[2 * i + 1]) << 8));
    std::ifstream in(dir.Path("beats.csv"));
    std::string line;
    while (std::getline(in, line)) {
        out.beats.push_back(uint32_t(std::stoul(line)));
        out.codes.push_back(line.back());
    }
    return out;
}

}  // namespace

TEST(BeatClassifier, NoBeatsAndOneBeat)
{
    const std::vector<int16_t> s = SyntheticEcg(2000, 200, 1000, 1);
    BeatClassification c = ClassifyBeats(ReaderOf(s), s.size(), {});
    EXPECT_TRUE(c.classes.empty());
    EXPECT_TRUE(c.families.empty());
    // A beat at the very edges: the window reaches outside the recording.
    for (uint32_t at : {0u, 100u, 1999u}) {
        c = ClassifyBeats(ReaderOf(s), s.size(), {at});
        ASSERT_EQ(c.classes.size(), 1u);
        EXPECT_EQ(c.classes[0], BeatClass::N);
        ASSERT_EQ(c.families.size(), 1u);
        EXPECT_EQ(c.families[0].count, 1u);
        EXPECT_EQ(c.families[0].shape.size(), BEAT_SHAPE_LENGTH);
    }
    // A reader that finds nothing.
    c = ClassifyBeats([](int16_t*, uint64_t, uint32_t) { return 0u; }, 5000, {100, 300, 500});
    EXPECT_EQ(c.classes.size(), 3u);
}

TEST(BeatClassifier, OneShapeThroughoutIsThePatientsNormal)
{
    // Only wide complexes (a bundle-branch block, or a paced rhythm with its
    // pacing spike): they are the normal beat of this recording, not
    // ventricular ectopy.
    for (int halfWidth : {10, 28, -28}) {
        std::vector<int16_t> s = SyntheticEcg(60000, 210, 1300, 3, std::abs(halfWidth));
        const std::vector<uint32_t> beats = Apexes(60000, 210);
        if (halfWidth < 0)
            for (uint32_t b : beats)
                if (b >= 20) {
                    s[b - 20] = int16_t(s[b - 20] + 2500);
                    s[b - 19] = int16_t(s[b - 19] - 1200);
                }
        const BeatClassification c = ClassifyBeats(ReaderOf(s), s.size(), beats);
        ASSERT_EQ(c.families.size(), 1u) << halfWidth;
        for (BeatClass b : c.classes)
            ASSERT_EQ(b, BeatClass::N) << halfWidth;
        // The shape is the average beat, R at its place on top.
        const std::vector<int16_t>& shape = c.families[0].shape;
        if (halfWidth > 0) {
            EXPECT_EQ(std::max_element(shape.begin(), shape.end()) - shape.begin(), std::ptrdiff_t(BEAT_SHAPE_BEFORE));
        }
    }
}

TEST(BeatClassifier, WideRunAcrossTheChunkEdge)
{
    const uint32_t n = 60000, period = 200;
    const std::vector<uint32_t> beats = Apexes(n, period);
    std::vector<size_t> wide;
    for (size_t k = 0; k < beats.size(); ++k)
        if ((beats[k] > 24500 && beats[k] < 25600) || k % 23 == 5)
            wide.push_back(k);
    const std::vector<int16_t> s = WithWideBeats(n, period, beats, wide);
    const BeatClassification c = ClassifyBeats(ReaderOf(s), s.size(), beats);
    std::vector<BeatClass> expected(beats.size(), BeatClass::N);
    for (size_t k : wide)
        expected[k] = BeatClass::V;
    EXPECT_EQ(c.classes, expected);
    ASSERT_GE(c.families.size(), 2u);
    EXPECT_EQ(c.families[0].beatClass, BeatClass::N);
    for (size_t k = 1; k < c.families.size(); ++k)
        EXPECT_GE(c.families[k - 1].count, c.families[k].count);
    for (size_t k = 0; k < beats.size(); ++k)
        EXPECT_EQ(c.families[c.family[k]].beatClass, expected[k]);

    // The run straddling sample 25000 is one event.
    const std::vector<Episode> e = FindEctopyEvents(beats, c.classes);
    bool run = false;
    for (const Episode& x : e)
        run |= x.first < 25000 && x.last > 25000 && x.beats >= 5;
    EXPECT_TRUE(run);
}

TEST(BeatClassifier, NoiseBurstLeavesCleanBeatsNormal)
{
    const uint32_t n = 50000, period = 200;
    std::vector<int16_t> s = SyntheticEcg(n, period, 1200, 5, 10);
    uint32_t rng = 12345;
    for (uint32_t i = 20000; i < 23000; ++i) {
        rng = rng * 1664525u + 1013904223u;
        s[i] = int16_t(s[i] + int32_t(rng >> 21) - 1024);  // about +-1 mV
    }
    const std::vector<uint32_t> beats = Apexes(n, period);
    const BeatClassification c = ClassifyBeats(ReaderOf(s), s.size(), beats);
    for (size_t k = 0; k < beats.size(); ++k)
        if (beats[k] < 19800 || beats[k] > 23200) {
            EXPECT_EQ(c.classes[k], BeatClass::N) << beats[k];
        }
}

TEST(BeatClassifier, SyntheticPrematureBeats)
{
    testsupport::TempDir dir;
    const SynthBeats r = Synthesize(dir, {"--seed", "41", "--pvc-rate", "0.06", "--svpb-rate", "0.06", "--vrun-rate",
                                          "0.01", "--noise-mv", "0.03", "--rate", "75"});
    ASSERT_GT(r.beats.size(), 1000u);
    const BeatClassification c = ClassifyBeats(ReaderOf(r.samples), r.samples.size(), r.beats);
    int vTrue = 0, vFound = 0, vCalled = 0, sTrue = 0, sFound = 0, sCalled = 0;
    for (size_t k = 0; k < r.beats.size(); ++k) {
        const BeatClass truth = BeatClassFromMitLetter(r.codes[k]);
        vTrue += truth == BeatClass::V;
        sTrue += truth == BeatClass::S;
        vCalled += c.classes[k] == BeatClass::V;
        sCalled += c.classes[k] == BeatClass::S;
        vFound += truth == BeatClass::V && c.classes[k] == BeatClass::V;
        sFound += truth == BeatClass::S && c.classes[k] == BeatClass::S;
    }
    ASSERT_GT(vTrue, 50);
    ASSERT_GT(sTrue, 50);
    EXPECT_GE(vFound, 0.99 * vTrue);
    EXPECT_GE(vFound, 0.99 * vCalled);
    EXPECT_GE(sFound, 0.99 * sTrue);
    EXPECT_GE(sFound, 0.99 * sCalled);
}

TEST(BeatClassifier, SameResultOnAnyNumberOfThreads)
{
    testsupport::TempDir dir;
    const SynthBeats r =
        Synthesize(dir, {"--seed", "43", "--pvc-rate", "0.05", "--svpb-rate", "0.05", "--noise-mv", "0.05", "--rate", "110"});
    ASSERT_GT(r.beats.size(), 2000u);  // several chunks of beats, ranges split unevenly
    const BeatClassification one = ClassifyBeats(ReaderOf(r.samples), r.samples.size(), r.beats, 1);
    for (unsigned threads : {2u, 3u}) {
        const BeatClassification c = ClassifyBeats(ReaderOf(r.samples), r.samples.size(), r.beats, threads);
        EXPECT_EQ(c.classes, one.classes) << threads;
        EXPECT_EQ(c.family, one.family) << threads;
        ASSERT_EQ(c.families.size(), one.families.size()) << threads;
        for (size_t k = 0; k < c.families.size(); ++k) {
            EXPECT_EQ(c.families[k].count, one.families[k].count);
            EXPECT_EQ(c.families[k].shape, one.families[k].shape);
        }
    }
}
