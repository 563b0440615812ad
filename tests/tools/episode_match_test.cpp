#include <gtest/gtest.h>

#include <sstream>

#include "../../tools/vitrel-analyze/EpisodeMatch.h"

TEST(EpisodeMatch, ReadsRhythmListsAndJoinsAdjacentSpans)
{
    std::istringstream in("42,94600,AFIB\r\n\n# comment\n94601,96216,N\n96217,99999,AFIB\n100000,120000,AFIB\n");
    std::vector<RhythmSpan> list;
    ASSERT_TRUE(ReadRhythmList(in, list));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].span, (EpisodeSpan{42, 94601}));  // last inclusive
    EXPECT_EQ(list[1].rhythm, "N");
    EXPECT_EQ(SpansOf(list, "AFIB"), (std::vector<EpisodeSpan>{{42, 94601}, {96217, 120001}}));
    EXPECT_TRUE(SpansOf(list, "AFL").empty());

    for (const char* bad : {"1,2\n", "x,2,N\n", "5,4,N\n", "1,2,\n", "1,2x,N\n"}) {
        std::istringstream b(bad);
        EXPECT_FALSE(ReadRhythmList(b, list)) << bad;
    }
    EXPECT_FALSE(ReadRhythmList(std::string("/nonexistent/rhythm.csv"), list));
}

TEST(EpisodeMatch, EpisodesAndDurationsFromTheScoringStart)
{
    // Reference: one episode inside the learning period, one cut by its end,
    // one missed. Test: one overlapping the cut one, one false.
    const std::vector<EpisodeSpan> ref = {{0, 500}, {800, 2000}, {3000, 3400}};
    const std::vector<EpisodeSpan> test = {{900, 2100}, {2500, 2700}};
    const EpisodeMatchResult m = MatchEpisodes(ref, test, {}, 1000, 10000);
    EXPECT_EQ(m.referenceFound, 1u);
    EXPECT_EQ(m.referenceMissed, 1u);
    EXPECT_EQ(m.testTrue, 1u);
    EXPECT_EQ(m.testFalse, 1u);
    EXPECT_EQ(m.referenceDuration, 1000 + 400);
    EXPECT_EQ(m.testDuration, 1100 + 200);
    EXPECT_EQ(m.overlap, 1000);
    EXPECT_DOUBLE_EQ(m.DurationSensitivity(), 100.0 * 1000 / 1400);
    EXPECT_DOUBLE_EQ(m.EpisodeSensitivity(), 50.0);

    // Touching is no overlap.
    const EpisodeMatchResult t = MatchEpisodes({{0, 100}}, {{100, 200}}, {}, 0, 1000);
    EXPECT_EQ(t.referenceMissed, 1u);
    EXPECT_EQ(t.testFalse, 1u);

    EpisodeMatchResult sum = m;
    sum += t;
    EXPECT_EQ(sum.referenceMissed, 2u);
    EXPECT_EQ(sum.testDuration, 1300 + 100);
    EXPECT_DOUBLE_EQ(EpisodeMatchResult{}.DurationPositivePredictivity(), 0.0);
}

TEST(EpisodeMatch, FlutterLeftOutOfThePositivePredictivity)
{
    // AF found over reference flutter counts neither way; a test episode
    // wholly inside flutter is not counted at all.
    const std::vector<EpisodeSpan> afib = {{0, 1000}}, flutter = {{1000, 1600}};
    const EpisodeMatchResult m = MatchEpisodes(afib, {{500, 1500}, {1100, 1400}}, flutter, 0, 5000);
    EXPECT_EQ(m.testTrue, 1u);
    EXPECT_EQ(m.testFalse, 0u);
    EXPECT_EQ(m.testDuration, 500);
    EXPECT_EQ(m.overlap, 500);
    EXPECT_DOUBLE_EQ(m.DurationPositivePredictivity(), 100.0);
    EXPECT_DOUBLE_EQ(m.DurationSensitivity(), 50.0);
}
