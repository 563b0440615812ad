#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/Ectopy.h"

namespace {

// Beats from a class string at a fixed RR, with an optional shorter RR
// before each ectopic beat.
struct Rhythm {
    std::vector<uint32_t> beats;
    std::vector<BeatClass> classes;
};

Rhythm Make(const std::string& letters, uint32_t rr = 200, uint32_t ectopicRR = 0)
{
    Rhythm r;
    uint32_t at = 1000;
    for (char c : letters) {
        const BeatClass cls = BeatClassFromLetter(c);
        if (!r.beats.empty())
            at += (cls == BeatClass::N || ectopicRR == 0) ? rr : ectopicRR;
        r.beats.push_back(at);
        r.classes.push_back(cls);
    }
    return r;
}

std::vector<EpisodeType> Types(const std::vector<Episode>& events)
{
    std::vector<EpisodeType> t;
    for (const Episode& e : events)
        t.push_back(e.type);
    return t;
}

}  // namespace

TEST(Ectopy, EmptyAndSingleBeat)
{
    EXPECT_TRUE(FindEctopyEvents({}, {}).empty());
    const std::vector<Episode> one = FindEctopyEvents({500}, {BeatClass::V});
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].type, EpisodeType::IsolatedV);
    EXPECT_EQ(one[0].rate, 0.0f);
    const EctopySummary s = SummarizeEctopy({500}, {BeatClass::V}, one);
    EXPECT_EQ(s.vBeats, 1u);
    EXPECT_EQ(s.longestRR, 0u);
    EXPECT_EQ(s.longestRun.beats, 0u);
}

TEST(Ectopy, CoupletRunAndTachycardiaThreshold)
{
    // 150 samples = 100 bpm exactly: VT; 151 just below it: a run.
    for (uint32_t rr : {150u, 151u}) {
        const Rhythm r = Make("NNVNNVVNNVVVNN", 200, rr);
        const std::vector<Episode> e = FindEctopyEvents(r.beats, r.classes);
        ASSERT_EQ(Types(e), (std::vector<EpisodeType>{EpisodeType::IsolatedV, EpisodeType::VCouplet,
                                                       rr == 150 ? EpisodeType::VT : EpisodeType::VRun}))
            << rr;
        EXPECT_EQ(e[2].beats, 3u);
        EXPECT_EQ(e[2].first, r.beats[9]);
        EXPECT_EQ(e[2].last, r.beats[11]);
        EXPECT_FLOAT_EQ(e[2].rate, 15000.0f / float(rr));
        EXPECT_FLOAT_EQ(e[1].rate, 15000.0f / float(rr));
    }
    const Rhythm s = Make("NSNSSNSSSSNN", 200, 100);
    EXPECT_EQ(Types(FindEctopyEvents(s.beats, s.classes)),
              (std::vector<EpisodeType>{EpisodeType::IsolatedS, EpisodeType::SCouplet, EpisodeType::SVT}));
    const Rhythm slow = Make("NSSSN", 200, 160);
    EXPECT_EQ(Types(FindEctopyEvents(slow.beats, slow.classes)), (std::vector<EpisodeType>{EpisodeType::SRun}));
}

TEST(Ectopy, BigeminyAndTrigeminyNeedThreeCycles)
{
    const Rhythm big = Make("NNVNVNVNN");
    std::vector<Episode> e = FindEctopyEvents(big.beats, big.classes);
    std::vector<Episode> allo;
    for (const Episode& x : e)
        if (x.type == EpisodeType::Bigeminy || x.type == EpisodeType::Trigeminy)
            allo.push_back(x);
    ASSERT_EQ(allo.size(), 1u);
    EXPECT_EQ(allo[0].type, EpisodeType::Bigeminy);
    EXPECT_EQ(allo[0].first, big.beats[1]);
    EXPECT_EQ(allo[0].last, big.beats[6]);
    EXPECT_EQ(allo[0].beats, 6u);
    EXPECT_EQ(SummarizeEctopy(big.beats, big.classes, e).count[size_t(EpisodeType::IsolatedV)], 3u);

    const Rhythm two = Make("NVNVNN");  // two cycles only
    for (const Episode& x : FindEctopyEvents(two.beats, two.classes))
        EXPECT_NE(x.type, EpisodeType::Bigeminy);

    const Rhythm tri = Make("NNVNNVNNVNNVN");
    e = FindEctopyEvents(tri.beats, tri.classes);
    int trigeminy = 0, bigeminy = 0;
    for (const Episode& x : e) {
        trigeminy += x.type == EpisodeType::Trigeminy;
        bigeminy += x.type == EpisodeType::Bigeminy;
        if (x.type == EpisodeType::Trigeminy) {
            EXPECT_EQ(x.beats, 12u);
            EXPECT_EQ(x.first, tri.beats[0]);
        }
    }
    EXPECT_EQ(trigeminy, 1);
    EXPECT_EQ(bigeminy, 0);

    // A couplet breaks the pattern.
    const Rhythm broken = Make("NVNVVNVNV");
    for (const Episode& x : FindEctopyEvents(broken.beats, broken.classes))
        EXPECT_NE(x.type, EpisodeType::Bigeminy);
}

TEST(Ectopy, PausesFromTwoSecondsAndLongestRR)
{
    const std::vector<uint32_t> beats{0, 200, 699, 1199, 1400, 2100};
    const std::vector<BeatClass> classes(beats.size(), BeatClass::N);
    const std::vector<Episode> e = FindEctopyEvents(beats, classes);
    ASSERT_EQ(Types(e), (std::vector<EpisodeType>{EpisodeType::Pause, EpisodeType::Pause}));
    EXPECT_EQ(e[0].first, 699u);  // 499 samples is not a pause, 500 is
    EXPECT_EQ(e[0].last, 1199u);
    EXPECT_EQ(e[0].beats, 2u);
    EXPECT_FLOAT_EQ(e[0].rate, 30.0f);
    const EctopySummary s = SummarizeEctopy(beats, classes, e);
    EXPECT_EQ(s.pauses, 2u);
    EXPECT_EQ(s.longestPause.first, 1400u);
    EXPECT_EQ(s.longestRR, 700u);
    EXPECT_EQ(s.longestRRAt, 2100u);
}

TEST(Ectopy, SummaryOfRunsAndEventOrder)
{
    const Rhythm r = Make("NVVVVNNSSSNNVVVN", 200, 120);
    const std::vector<Episode> e = FindEctopyEvents(r.beats, r.classes);
    for (size_t i = 1; i < e.size(); ++i)
        EXPECT_LE(e[i - 1].first, e[i].first);
    const EctopySummary s = SummarizeEctopy(r.beats, r.classes, e);
    EXPECT_EQ(s.vBeats, 7u);
    EXPECT_EQ(s.sBeats, 3u);
    EXPECT_EQ(s.count[size_t(EpisodeType::VT)], 2u);
    EXPECT_EQ(s.count[size_t(EpisodeType::SVT)], 1u);
    EXPECT_EQ(s.longestRun.beats, 4u);
    EXPECT_EQ(s.longestRun.first, r.beats[1]);
    EXPECT_EQ(s.fastestRun.type, EpisodeType::VT);
}
