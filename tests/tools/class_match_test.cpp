#include <gtest/gtest.h>

#include <vector>

#include "../../tools/vitrel-analyze/ClassMatch.h"

namespace {

constexpr BeatClass N = BeatClass::N, S = BeatClass::S, V = BeatClass::V, F = BeatClass::F, Q = BeatClass::Q;

ClassMatchResult Match(const std::vector<int64_t>& det, const std::vector<BeatClass>& detClass,
                       const std::vector<int64_t>& ref, const std::vector<BeatClass>& refClass)
{
    return MatchClasses(det, detClass, ref, refClass, 37, [](int64_t) { return true; });
}

}  // namespace

TEST(ClassMatch, VentricularFiguresAsBxbCountsThem)
{
    // Reference V found as V, as N, missed; N called V; F and Q called V
    // (not held against it); an extra detection called V.
    const ClassMatchResult m = Match({1000, 2000, 4000, 5000, 6000, 7000}, {V, N, V, V, V, V},
                                     {1000, 2000, 3000, 4000, 5000, 6000}, {V, V, V, N, F, Q});
    EXPECT_EQ(m.At(CM_V, CM_V), 1u);
    EXPECT_EQ(m.At(CM_V, CM_O), 1u);
    EXPECT_EQ(m.At(CM_O, CM_V), 1u);
    const BeatMatchResult v = m.Veb();
    EXPECT_EQ(v.truePositives, 1u);
    EXPECT_EQ(v.falseNegatives, 2u);  // called N, missed
    EXPECT_EQ(v.falsePositives, 2u);  // the N beat and the extra one
    EXPECT_EQ(m.qrs.truePositives, 5u);
    EXPECT_EQ(m.qrs.falseNegatives, 1u);
    EXPECT_EQ(m.qrs.falsePositives, 1u);
}

TEST(ClassMatch, SupraventricularFiguresCountFusionCalledS)
{
    const ClassMatchResult m =
        Match({1000, 2000, 3000, 4000, 5000}, {S, V, S, S, S}, {1000, 2000, 3000, 4000, 5000}, {S, S, F, Q, V});
    const BeatMatchResult s = m.Sveb();
    EXPECT_EQ(s.truePositives, 1u);
    EXPECT_EQ(s.falseNegatives, 1u);  // S called V
    EXPECT_EQ(s.falsePositives, 2u);  // F and V called S; Q called S is not counted
}

TEST(ClassMatch, PairsAsMatchBeatsAndScoresOnlyChosenSamples)
{
    // Two detections compete for one reference beat: the closer one gets it,
    // whatever the input order, and carries its class into the table.
    ClassMatchResult m = Match({1030, 1010}, {N, V}, {1000}, {V});
    EXPECT_EQ(m.At(CM_V, CM_V), 1u);
    EXPECT_EQ(m.At(CM_O, CM_N), 1u);
    uint64_t pairs = 0;
    for (int r = CM_N; r < CM_O; ++r)
        for (int d = CM_N; d < CM_O; ++d)
            pairs += m.At(r, d);
    EXPECT_EQ(pairs, m.qrs.truePositives);

    m = MatchClasses({100, 1000, 2000}, {V, V, V}, {100, 1000}, {N, V}, 37, [](int64_t at) { return at >= 500; });
    EXPECT_EQ(m.Veb().truePositives, 1u);
    EXPECT_EQ(m.Veb().falsePositives, 1u);  // the extra one at 2000; the early N not scored
    EXPECT_EQ(m.At(CM_N, CM_V), 0u);
}
