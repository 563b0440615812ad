// Time-domain HRV on RR series whose values were worked out by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/HeartRateVariability.h"

namespace {

constexpr uint32_t kRate = 250;  // 1 sample = 4 ms

}  // namespace

TEST(HeartRateVariability, EveryMeasureOnAShortSeries)
{
    // RR 800, 800, 1000, 800 ms.
    const HrvMeasures m = ComputeHrv({0, 200, 400, 650, 850}, {}, kRate);
    EXPECT_EQ(m.nnCount, 4u);
    EXPECT_DOUBLE_EQ(m.meanNN, 850.0);
    EXPECT_DOUBLE_EQ(m.sdnn, 100.0);  // sqrt((3 * 50^2 + 150^2) / 3)
    ASSERT_EQ(m.successiveCount, 3u);  // differences 0, 200, -200
    EXPECT_NEAR(m.rmssd, std::sqrt(80000.0 / 3.0), 1e-9);
    EXPECT_NEAR(m.pnn50, 200.0 / 3.0, 1e-9);
    // Bins of 1/128 s: 800 ms in bin 102 (three), 1000 ms in bin 128 (one).
    EXPECT_NEAR(m.triangularIndex, 4.0 / 3.0, 1e-12);
    EXPECT_EQ(m.segmentCount, 1u);
    EXPECT_DOUBLE_EQ(m.sdnnIndex, 100.0);
    EXPECT_FALSE(m.HasSdann());
}

TEST(HeartRateVariability, IrregularBeatsDropBothOfTheirIntervals)
{
    // The beat at 650 is irregular: 400-650 and 650-850 go, and 200-400 and
    // 850-1050 are no longer neighbours.
    const HrvMeasures m = ComputeHrv({0, 200, 400, 650, 850, 1050}, {650}, kRate);
    EXPECT_EQ(m.nnCount, 3u);
    EXPECT_DOUBLE_EQ(m.meanNN, 800.0);
    EXPECT_DOUBLE_EQ(m.sdnn, 0.0);
    EXPECT_EQ(m.successiveCount, 1u);
    EXPECT_DOUBLE_EQ(m.rmssd, 0.0);
    EXPECT_DOUBLE_EQ(m.pnn50, 0.0);
    EXPECT_DOUBLE_EQ(m.triangularIndex, 1.0);
}

TEST(HeartRateVariability, FiveMinuteSegmentsFromTheStart)
{
    // 800 ms until 74800 (segment 0), then 1000 ms: the first of those ends
    // at 75050 and so belongs to segment 1, like the rest up to 149800.
    std::vector<uint32_t> beats;
    for (uint32_t p = 0; p <= 74800; p += 200)
        beats.push_back(p);
    for (uint32_t p = 75050; p < 150000; p += 250)
        beats.push_back(p);
    const HrvMeasures m = ComputeHrv(beats, {}, kRate);
    EXPECT_EQ(m.segmentCount, 2u);
    EXPECT_NEAR(m.sdann, std::sqrt(2.0) * 100.0, 1e-9);  // SD of 800 and 1000
    EXPECT_DOUBLE_EQ(m.sdnnIndex, 0.0);
    EXPECT_EQ(m.nnCount, beats.size() - 1);
}

TEST(HeartRateVariability, TooFewBeatsLeaveMeasuresAbsent)
{
    for (const std::vector<uint32_t>& beats : {std::vector<uint32_t>{}, {500}, {0, 300}}) {
        const HrvMeasures m = ComputeHrv(beats, {300}, kRate);
        EXPECT_EQ(m.nnCount, 0u);
        EXPECT_FALSE(m.HasMean());
        EXPECT_FALSE(m.HasSdnn());
        EXPECT_FALSE(m.HasSuccessive());
        EXPECT_FALSE(m.HasSdnnIndex());
    }
    const HrvMeasures one = ComputeHrv({0, 250}, {}, kRate);
    EXPECT_TRUE(one.HasMean());
    EXPECT_FALSE(one.HasSdnn());
    EXPECT_DOUBLE_EQ(one.triangularIndex, 1.0);
}

TEST(HeartRateVariability, LongPausesCountInTheTriangularIndex)
{
    // Three pauses of 9 s (bin 1152) outnumber two 800 ms intervals; a pause
    // of 12 s stands alone. Irregular positions that are no beat change nothing.
    const HrvMeasures m = ComputeHrv({0, 2250, 4500, 6750, 6950, 7150, 10150}, {123, 99999}, kRate);
    EXPECT_EQ(m.nnCount, 6u);
    EXPECT_NEAR(m.triangularIndex, 6.0 / 3.0, 1e-12);
    // Reversed neighbours are no NN interval either.
    EXPECT_EQ(ComputeHrv({0, 200, 100, 300}, {}, kRate).nnCount, 2u);
}
