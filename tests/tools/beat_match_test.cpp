#include <gtest/gtest.h>

#include "../../tools/vitrel-analyze/BeatMatch.h"

TEST(BeatMatch, OneToOneWithinTolerance)
{
    // 37 samples still match, 38 do not.
    BeatMatchResult m = MatchBeats({100, 1000}, {137, 1038}, 37);
    EXPECT_EQ(m.truePositives, 1u);
    EXPECT_EQ(m.falseNegatives, 1u);
    EXPECT_EQ(m.falsePositives, 1u);
    EXPECT_DOUBLE_EQ(m.Sensitivity(), 50.0);
    EXPECT_DOUBLE_EQ(m.PositivePredictivity(), 50.0);

    // Two detections near one reference beat: one match, one false positive.
    m = MatchBeats({100, 140}, {120}, 37);
    EXPECT_EQ(m.truePositives, 1u);
    EXPECT_EQ(m.falsePositives, 1u);
    EXPECT_EQ(m.falseNegatives, 0u);

    // The later detection is nearer to the first reference beat; taking it
    // would leave the earlier detection unmatched. Closest pairs first keep both.
    m = MatchBeats({140, 100}, {175, 110}, 37);
    EXPECT_EQ(m.truePositives, 2u);
    EXPECT_EQ(m.falsePositives, 0u);

    m = MatchBeats({}, {}, 37);
    EXPECT_EQ(m.truePositives, 0u);
    EXPECT_DOUBLE_EQ(m.Sensitivity(), 0.0);
}

TEST(BeatMatch, OnlyScoredSamplesCount)
{
    const auto from500 = [](int64_t s) { return s >= 500; };
    // Pairs are made across the edge; a pair counts where its reference beat lies.
    BeatMatchResult m = MatchBeats({495, 1000}, {505, 2000}, 37, from500);
    EXPECT_EQ(m.truePositives, 1u);
    EXPECT_EQ(m.falsePositives, 1u);
    EXPECT_EQ(m.falseNegatives, 1u);
    m = MatchBeats({505, 100}, {495, 90}, 37, from500);
    EXPECT_EQ(m.truePositives + m.falsePositives + m.falseNegatives, 0u);
}

TEST(BeatMatch, ComparisonRules)
{
    const auto all = [](double) { return true; };
    // 150 ms at 250/s is 37.5 samples, measured from the reference's own
    // (unrounded) time.
    BeatMatchResult m = MatchBeats({137.9, 500}, {100.4, 537.6}, kMatchWindow, {}, all);
    EXPECT_EQ(m.truePositives, 1u);
    EXPECT_EQ(m.falseNegatives, 1u);
    EXPECT_EQ(m.falsePositives, 1u);

    // A detection between two reference beats goes to the one that its
    // neighbour does not match better: both pairs are found.
    m = MatchBeats({128, 185}, {96, 160}, 37, {}, all);
    EXPECT_EQ(m.truePositives, 2u);
    EXPECT_EQ(m.falsePositives + m.falseNegatives, 0u);

    // Inside a flutter episode the reference marks, detections are no error
    // and its own beats are not scored; around it everything counts.
    m = MatchBeats({100, 1000, 1100, 1200, 2000}, {100, 1150, 2000, 2500}, kMatchWindow, {{900, 1300}}, all);
    EXPECT_EQ(m.truePositives, 2u);
    EXPECT_EQ(m.falsePositives, 0u);
    EXPECT_EQ(m.falseNegatives, 1u);
}
