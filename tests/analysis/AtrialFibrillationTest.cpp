#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "analysis/AtrialFibrillation.h"

namespace {

// Beat trains at 250 samples/s, built stretch by stretch.
struct Train {
    std::vector<uint32_t> beats{100};
    std::vector<BeatClass> classes{BeatClass::N};
    std::mt19937 rng{7};

    double Uniform() { return double(rng()) / 4294967296.0; }
    void Add(uint32_t rr, BeatClass c = BeatClass::N)
    {
        beats.push_back(beats.back() + rr);
        classes.push_back(c);
    }
    // Sinus at rr samples with a little beat-to-beat jitter; every `every`-th
    // beat premature (share of rr) and followed by a pause (share of rr).
    void Sinus(uint32_t count, uint32_t rr = 214, uint32_t every = 0, double early = 0.65, double late = 1.35,
               BeatClass ectopic = BeatClass::V)
    {
        for (uint32_t i = 1; i <= count; ++i) {
            const uint32_t base = uint32_t(rr * (0.98 + 0.04 * Uniform()));
            if (every && i % every == 0) {
                Add(uint32_t(rr * early), ectopic);
                Add(uint32_t(rr * late));
                ++i;
            } else {
                Add(base);
            }
        }
    }
    // AF: intervals drawn with no structure around a mean rate.
    void Fibrillation(uint32_t count, uint32_t mean = 180)
    {
        for (uint32_t i = 0; i < count; ++i)
            Add(uint32_t(mean * (0.6 + 0.8 * Uniform())));
    }
    std::vector<BeatClass> Unclassified() const { return std::vector<BeatClass>(beats.size(), BeatClass::Unclassified); }
    uint64_t End() const { return beats.back() + 250; }
};

int64_t Overlap(const std::vector<Episode>& found, int64_t from, int64_t to)
{
    int64_t total = 0;
    for (const Episode& e : found)
        total += std::max<int64_t>(0, std::min<int64_t>(e.last, to) - std::max<int64_t>(e.first, from));
    return total;
}

int64_t Length(const std::vector<Episode>& found)
{
    int64_t total = 0;
    for (const Episode& e : found)
        total += e.last - e.first;
    return total;
}

}  // namespace

TEST(AtrialFibrillation, FromTheFirstBeatToTheLast)
{
    Train t;
    t.beats = {0};
    t.classes = {BeatClass::N};
    t.Fibrillation(600);
    const std::vector<Episode> af = FindAfEpisodes(t.beats, t.Unclassified(), t.End());
    ASSERT_EQ(af.size(), 1u);
    EXPECT_EQ(af[0].type, EpisodeType::AF);
    EXPECT_LE(af[0].first, t.beats[2]);
    EXPECT_GE(af[0].last, t.beats[t.beats.size() - 3]);
    // The rate is that of the episode's own intervals.
    EXPECT_NEAR(af[0].rate, 60.0 * 250 * (af[0].beats - 1) / (af[0].last - af[0].first), 0.01);
    EXPECT_NEAR(af[0].rate, 60.0 * 250 / 180, 4.0);
}

TEST(AtrialFibrillation, StretchesAcrossChunkEdgesFoundWhole)
{
    // Sinus, AF over several 25000-sample chunk edges, sinus, AF again: the AF
    // time found matches the true one to 1 %, none is found outside it.
    Train t;
    t.Sinus(300);
    const uint32_t af1From = t.beats.back();
    t.Fibrillation(700);
    const uint32_t af1To = t.beats.back();
    t.Sinus(400);
    const uint32_t af2From = t.beats.back();
    t.Fibrillation(500, 150);
    const uint32_t af2To = t.beats.back();
    t.Sinus(300);
    ASSERT_LT(af1From / 25000, af1To / 25000);
    const std::vector<Episode> af = FindAfEpisodes(t.beats, t.Unclassified(), t.End());
    ASSERT_EQ(af.size(), 2u);
    const int64_t truth = int64_t(af1To - af1From) + (af2To - af2From);
    const int64_t found = Overlap(af, af1From, af1To) + Overlap(af, af2From, af2To);
    EXPECT_GE(found, truth * 99 / 100);
    EXPECT_LE(Length(af) - found, truth / 100);
    // Each episode starts and ends on beats.
    for (const Episode& e : af) {
        EXPECT_TRUE(std::binary_search(t.beats.begin(), t.beats.end(), e.first));
        EXPECT_TRUE(std::binary_search(t.beats.begin(), t.beats.end(), e.last));
    }
}

TEST(AtrialFibrillation, EctopyPausesAndSinusArrhythmiaAreNotAf)
{
    struct Case {
        const char* name;
        uint32_t every;
        double early, late;
        BeatClass ectopic;
    };
    const Case cases[] = {
        {"isolated V beats, one in five", 5, 0.65, 1.35, BeatClass::V},
        {"ventricular bigeminy", 2, 0.6, 1.4, BeatClass::V},
        {"ventricular trigeminy", 3, 0.6, 1.4, BeatClass::V},
        {"atrial premature beats, one in four", 4, 0.7, 1.1, BeatClass::S},
        {"atrial bigeminy", 2, 0.7, 1.15, BeatClass::S},
    };
    for (const Case& c : cases) {
        Train t;
        t.Sinus(2000, 214, c.every, c.early, c.late, c.ectopic);
        EXPECT_TRUE(FindAfEpisodes(t.beats, t.classes, t.End()).empty()) << c.name << ", classified";
        EXPECT_TRUE(FindAfEpisodes(t.beats, t.Unclassified(), t.End()).empty()) << c.name << ", RR only";
    }

    // Pauses of 2.5 s and more now and then.
    Train pauses;
    for (int k = 0; k < 40; ++k) {
        pauses.Sinus(25);
        pauses.Add(625 + 50 * (k % 4));
    }
    EXPECT_TRUE(FindAfEpisodes(pauses.beats, pauses.Unclassified(), pauses.End()).empty());

    // Sinus arrhythmia: the rate swings by 15 % with breathing, 12 breaths a minute.
    Train breathing;
    for (int i = 0; i < 2000; ++i)
        breathing.Add(uint32_t(214 * (1.0 + 0.15 * std::sin(i * 2 * M_PI / 6.0))));
    EXPECT_TRUE(FindAfEpisodes(breathing.beats, breathing.Unclassified(), breathing.End()).empty());
}

TEST(AtrialFibrillation, VentricularBeatsInsideAfDoNotBreakIt)
{
    Train t;
    t.Sinus(200);
    const uint32_t from = t.beats.back();
    for (int k = 0; k < 100; ++k) {
        t.Fibrillation(6);
        t.Add(110, BeatClass::V);
    }
    const uint32_t to = t.beats.back();
    t.Sinus(200);
    const std::vector<Episode> af = FindAfEpisodes(t.beats, t.classes, t.End());
    ASSERT_EQ(af.size(), 1u);
    EXPECT_GE(Overlap(af, from, to), int64_t(to - from) * 98 / 100);
}

TEST(AtrialFibrillation, TooFewBeatsOrBeatsPastTheEnd)
{
    EXPECT_TRUE(FindAfEpisodes({}, {}, 100000).empty());
    Train t;
    t.Fibrillation(8);
    EXPECT_TRUE(FindAfEpisodes(t.beats, {}, t.End()).empty());
    // A stale list reaching past the recording: nothing beyond its end.
    Train longer;
    longer.Fibrillation(600);
    const uint64_t end = longer.beats[300];
    const std::vector<Episode> af = FindAfEpisodes(longer.beats, longer.classes, end);
    ASSERT_EQ(af.size(), 1u);
    EXPECT_LT(af[0].last, end);
    // Classes that do not match the beats are ignored, not read past.
    EXPECT_EQ(FindAfEpisodes(longer.beats, {BeatClass::V}, longer.End()).size(), 1u);
}

TEST(AtrialFibrillation, PWavesLockedToTheQrsVetoIrregularRr)
{
    // The same irregular beats over a lead with a P wave 150 ms before every
    // R wave (an irregular atrial rhythm, not AF), then over a noisy baseline.
    Train t;
    t.Fibrillation(800);
    const auto lead = [&t](bool pWaves) {
        return [&t, pWaves](int16_t* buffer, uint64_t first, uint32_t count) {
            for (uint32_t i = 0; i < count; ++i) {
                const uint64_t s = first + i;
                const auto next = std::lower_bound(t.beats.begin(), t.beats.end(), s);
                int v = int((s * 2654435761u >> 13) % 61) - 30;  // fibrillatory-like noise
                if (pWaves && next != t.beats.end()) {
                    const int64_t d = int64_t(*next) - int64_t(s) - 37;  // P apex 150 ms before R
                    if (d > -10 && d < 10)
                        v = 150 - 15 * int(std::abs(d)) + v / 10;
                }
                buffer[i] = int16_t(v);
            }
            return count;
        };
    };
    EXPECT_TRUE(FindAfEpisodes(t.beats, t.classes, t.End(), lead(true)).empty());
    EXPECT_EQ(FindAfEpisodes(t.beats, t.classes, t.End(), lead(false)).size(), 1u);
    // Reads cut short at the end of the recording still serve the last beats.
    const SampleReader bounded = [&t, lead](int16_t* buffer, uint64_t first, uint32_t count) {
        const uint64_t end = t.beats.back() + 10;
        return first >= end ? 0u : lead(true)(buffer, first, uint32_t(std::min<uint64_t>(count, end - first)));
    };
    EXPECT_TRUE(FindAfEpisodes(t.beats, t.classes, t.End(), bounded).empty());
    // A lead that cannot be read leaves the RR intervals to decide.
    const SampleReader broken = [](int16_t*, uint64_t, uint32_t) { return 0u; };
    EXPECT_EQ(FindAfEpisodes(t.beats, t.classes, t.End(), broken).size(), 1u);
}

TEST(AtrialFibrillation, SummaryBurdenLongestAndRates)
{
    // Hand-made: one minute of AF at 60 bpm, then two minutes at 90 then 120 bpm,
    // in a recording of 10 minutes.
    std::vector<uint32_t> beats;
    for (uint32_t s = 0; s <= 15000; s += 250)
        beats.push_back(1000 + s);
    const uint32_t second = 100000;
    for (uint32_t s = 0; s < 15000; s += 167)
        beats.push_back(second + s);
    for (uint32_t s = 15000; s <= 30000; s += 125)
        beats.push_back(second + s);
    const std::vector<Episode> af = {
        {EpisodeType::AF, 1000, 16000, 61, 60.0f},
        {EpisodeType::AF, second, second + 30000, 211, 105.0f},
    };
    const AfSummary s = SummarizeAf(af, 150000, beats);
    EXPECT_EQ(s.episodes, 2u);
    EXPECT_EQ(s.totalSamples, 45000u);
    EXPECT_DOUBLE_EQ(s.burdenPercent, 30.0);
    EXPECT_EQ(s.longest.first, second);
    EXPECT_NEAR(s.fastestRate, 120.0, 0.5);
    EXPECT_NEAR(s.slowestRate, 60.0, 0.5);

    // Without the beats: the episodes' mean rates; equal lengths keep the earlier.
    const std::vector<Episode> equal = {{EpisodeType::AF, 0, 5000, 30, 80.0f}, {EpisodeType::AF, 9000, 14000, 40, 95.0f}};
    const AfSummary e = SummarizeAf(equal, 0);
    EXPECT_EQ(e.longest.first, 0u);
    EXPECT_DOUBLE_EQ(e.burdenPercent, 0.0);
    EXPECT_FLOAT_EQ(e.fastestRate, 95.0f);
    EXPECT_FLOAT_EQ(e.slowestRate, 80.0f);

    const AfSummary none = SummarizeAf({}, 150000);
    EXPECT_EQ(none.episodes, 0u);
    EXPECT_EQ(none.longest.beats, 0u);
    EXPECT_EQ(none.fastestRate, 0.0f);
}

TEST(AtrialFibrillation, VentricularRhythmsInsideAfAreCutOut)
{
    // A run of V beats and a stretch of ventricular bigeminy inside AF: the
    // rhythm there is theirs, so AF stops before and resumes after each.
    Train t;
    t.Fibrillation(300);
    const uint32_t vtFrom = t.beats.back() + 100;
    for (int i = 0; i < 6; ++i)
        t.Add(100, BeatClass::V);
    const uint32_t vtTo = t.beats.back();
    t.Fibrillation(300);
    const uint32_t bigeminyFrom = t.beats.back();
    for (int i = 0; i < 5; ++i) {
        t.Add(120, BeatClass::V);
        t.Add(260);
    }
    const uint32_t bigeminyTo = t.beats.back();
    t.Fibrillation(300);
    const std::vector<Episode> af = FindAfEpisodes(t.beats, t.classes, t.End());
    ASSERT_EQ(af.size(), 3u);
    EXPECT_LT(af[0].last, vtFrom);
    EXPECT_GT(af[1].first, vtTo);
    EXPECT_LE(af[1].last, bigeminyFrom);
    EXPECT_GE(af[2].first, bigeminyTo);
    // Without classes the irregularity carries across both.
    EXPECT_EQ(FindAfEpisodes(t.beats, t.Unclassified(), t.End()).size(), 1u);
}

TEST(AtrialFibrillation, ScrapsBetweenBigeminyRunsAreNotAf)
{
    // Irregular scraps of about 6 s between stretches of ventricular
    // bigeminy, under 30 s in all: each scrap passes the shortest piece, the
    // whole does not make an episode.
    Train t;
    t.Sinus(60);
    for (int scrap = 0; scrap < 4; ++scrap) {
        t.Fibrillation(11);
        for (int i = 0; i < 4; ++i) {
            t.Add(120, BeatClass::V);
            t.Add(260);
        }
    }
    t.Sinus(60);
    EXPECT_TRUE(FindAfEpisodes(t.beats, t.classes, t.End()).empty());
}
