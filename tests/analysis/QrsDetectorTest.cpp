#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/QrsDetector.h"
#include "support/SyntheticEcg.h"

namespace {

std::vector<int16_t> RunEnvelope(QrsDetector& det, int16_t value, uint32_t n)
{
    std::vector<int16_t> in(n, value), out(n);
    det.Envelope(in.data(), out.data(), n);
    return out;
}

std::vector<uint32_t> DetectAll(QrsDetector& det, const std::vector<int16_t>& in)
{
    std::vector<uint32_t> pos(in.size() / 2 + 64);
    uint32_t n = 99;
    EXPECT_TRUE(det.Detect(in.data(), uint32_t(in.size()), pos.data(), &n));
    pos.resize(n);
    return pos;
}

}  // namespace

// The filter sum is shifted, truncated to 16 bits, then rectified.
TEST(QrsFilter, TruncatesBeforeRectifying)
{
    auto det = std::make_unique<QrsDetector>();
    // 7745 * 8665 >> 11 == 32768, which is -32768 in 16 bits and stays so.
    EXPECT_EQ(RunEnvelope(*det, 7745, 51).back(), -32768);
    det->Reset();
    // Arithmetic shift floors: -67110425 >> 11 == -32769, i.e. 32767.
    EXPECT_EQ(RunEnvelope(*det, -7745, 51).back(), 32767);
    det->Reset();
    // 32767 * 8665 >> 11 == 138635, which wraps to 7563.
    EXPECT_EQ(RunEnvelope(*det, 32767, 51).back(), 7563);
}

TEST(QrsFilter, DelayLineCarriesAcrossCalls)
{
    // Filtering in pieces must equal filtering in one go, for both stages.
    std::vector<int16_t> sig = SyntheticEcg(4000, 400, 1200, 7);
    auto whole = std::make_unique<QrsDetector>();
    auto pieces = std::make_unique<QrsDetector>();
    std::vector<int16_t> a(sig.size()), b(sig.size()), ea(sig.size()), eb(sig.size());
    whole->BandPass(sig.data(), a.data(), uint32_t(sig.size()));
    whole->Envelope(a.data(), ea.data(), uint32_t(sig.size()));
    const uint32_t cuts[] = {0, 1, 7, 150, 1500, 1501, 3333, 4000};
    for (size_t k = 0; k + 1 < std::size(cuts); ++k) {
        const uint32_t from = cuts[k], n = cuts[k + 1] - cuts[k];
        pieces->BandPass(sig.data() + from, b.data() + from, n);
        pieces->Envelope(b.data() + from, eb.data() + from, n);
    }
    EXPECT_EQ(a, b);
    EXPECT_EQ(ea, eb);
    EXPECT_EQ(0, std::memcmp(whole->m_bandDelay, pieces->m_bandDelay, sizeof whole->m_bandDelay));
    // The band-pass of an impulse is its tap table (newest value meets the last tap).
    auto imp = std::make_unique<QrsDetector>();
    std::vector<int16_t> in(QRS_BAND_TAPS, 0), out(QRS_BAND_TAPS);
    in[0] = 2048;
    imp->BandPass(in.data(), out.data(), QRS_BAND_TAPS);
    for (int k = 0; k < QRS_BAND_TAPS; ++k)
        EXPECT_EQ(out[k], std::abs(kBandPassTaps[k])) << k;
}

TEST(QrsThreshold, FollowsHalfPeakWithFloor)
{
    auto det = std::make_unique<QrsDetector>();
    const int16_t first[] = {0, 5000, 12, 4000};
    EXPECT_EQ(det->UpdateThreshold(first, 4), 2500);  // first block: half the peak

    det->Reset();
    const int16_t low[] = {0, 1000, 0};
    EXPECT_EQ(det->UpdateThreshold(low, 3), 600);

    det->m_nThreshold = 1000;
    const int16_t high[] = {100, 3000, 2999};
    EXPECT_EQ(det->UpdateThreshold(high, 3), 1250);
    det->m_nThreshold = 1000;
    EXPECT_EQ(det->UpdateThreshold(low, 3), 750);

    // Negative envelope values never raise the peak; the floor holds.
    det->m_nThreshold = 700;
    const int16_t neg[] = {-32768, -1};
    EXPECT_EQ(det->UpdateThreshold(neg, 2), 600);
    EXPECT_EQ(det->m_nThreshold, 600);

    // The mean is truncated to 16 bits before the floor is applied.
    det->m_nThreshold = 100000;
    EXPECT_EQ(det->UpdateThreshold(low, 1), 600);
    det->m_nThreshold = 70000;  // (0 + 70000) / 2 = 35000 -> -30536 -> floor
    EXPECT_EQ(det->UpdateThreshold(low, 1), 600);
    det->m_nThreshold = 64000;  // 32000 fits
    EXPECT_EQ(det->UpdateThreshold(low, 1), 32000);
}

TEST(QrsCandidates, CrossingPositionsAndCarry)
{
    auto det = std::make_unique<QrsDetector>();
    std::vector<int16_t> env(1500, 0);
    for (int i = 250; i < 1500; ++i)
        env[i] = 5000;
    det->m_nThreshold = 1000;
    uint32_t out[64], n = 0;
    ASSERT_TRUE(det->FindCandidates(env.data(), 1500, out, &n, 1500));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(out[0], 1625u);  // crossing between run entries 10 and 11
    EXPECT_EQ(det->m_nThreshold, 1750);
    EXPECT_EQ(det->m_nCarry, 5000);  // the block's last decimated value

    // The carried value is above the threshold, so a block that starts high
    // has no crossing at its start; a fresh detector sees one.
    std::vector<int16_t> high(1500, 5000);
    ASSERT_TRUE(det->FindCandidates(high.data(), 1500, out, &n, 3000));
    EXPECT_EQ(n, 0u);
    auto fresh = std::make_unique<QrsDetector>();
    ASSERT_TRUE(fresh->FindCandidates(high.data(), 1500, out, &n, 3000));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(out[0], 3000u - 125u);
}

TEST(QrsCandidates, ShortBlocks)
{
    auto det = std::make_unique<QrsDetector>();
    det->m_nThreshold = 1000;
    det->m_nCarry = 700;
    int16_t env[30] = {};
    env[0] = 3000;
    uint32_t out[4], n = 0;
    // Fewer than 25 values: run [carry, d0], carry unchanged.
    ASSERT_TRUE(det->FindCandidates(env, 10, out, &n, 1000));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(out[0], 875u);
    EXPECT_EQ(det->m_nCarry, 700);
    EXPECT_EQ(det->m_nThreshold, 1250);

    // 30 values: run [carry, d0, d1], the trailing 0 left out; carry = d0.
    env[25] = 0;
    det->m_nCarry = 0;
    ASSERT_TRUE(det->FindCandidates(env, 30, out, &n, 0));
    EXPECT_EQ(det->m_nCarry, 3000);
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(out[0], uint32_t(-125));
}

TEST(QrsRefine, SpacingSharedMaximumAndEarlyWindows)
{
    auto det = std::make_unique<QrsDetector>();
    std::vector<int16_t> in(2000, 0);
    in[540] = 20000;
    in[570] = 10000;  // 30 after the accepted peak: dropped
    uint32_t pos[] = {500, 550};
    ASSERT_EQ(det->RefineCandidates(in.data(), 2000, pos, 2), 1u);
    EXPECT_EQ(pos[0], 540u);

    in[570] = 0;
    in[571] = 10000;  // 31 after: kept
    uint32_t pos2[] = {500, 550};
    ASSERT_EQ(det->RefineCandidates(in.data(), 2000, pos2, 2), 2u);
    EXPECT_EQ(pos2[0], 540u);
    EXPECT_EQ(pos2[1], 571u);

    // Two windows sharing their maximum give one position; ties go to the
    // first occurrence.
    std::vector<int16_t> tie(2000, 0);
    tie[1100] = 900;
    tie[1120] = 900;
    uint32_t pos3[] = {1050, 1075, 1100};
    ASSERT_EQ(det->RefineCandidates(tie.data(), 2000, pos3, 3), 1u);
    EXPECT_EQ(pos3[0], 1100u);

    // A peak at 30 or less from a call's start is never accepted.
    std::vector<int16_t> early(300, 0);
    early[30] = 5000;
    early[200] = 5000;
    uint32_t pos4[] = {0, 150};
    ASSERT_EQ(det->RefineCandidates(early.data(), 300, pos4, 2), 1u);
    EXPECT_EQ(pos4[0], 200u);

    // Windows that begin before the input are clipped; with no positive
    // sample the candidate stays where it was (negative).
    std::vector<int16_t> neg(300, -5);
    neg[20] = 700;
    uint32_t pos5[] = {uint32_t(-125), uint32_t(-50), uint32_t(-200)};
    ASSERT_EQ(det->RefineCandidates(neg.data(), 300, pos5, 3), 3u);
    EXPECT_EQ(int32_t(pos5[0]), -125);
    EXPECT_EQ(pos5[1], 20u);
    EXPECT_EQ(int32_t(pos5[2]), -200);
}

TEST(QrsDetect, EmptyAndSilentInput)
{
    auto det = std::make_unique<QrsDetector>();
    uint32_t out[4] = {}, n = 7;
    ASSERT_TRUE(det->Detect(nullptr, 0, out, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(det->m_nThreshold, 0);

    std::vector<int16_t> zeros(6000, 0);
    EXPECT_TRUE(DetectAll(*det, zeros).empty());
    EXPECT_EQ(det->m_nThreshold, 600);
    EXPECT_EQ(det->m_nCarry, 0);
}

TEST(QrsDetect, FindsSyntheticBeats)
{
    // 500 samples/s, a beat every 400 samples (75 bpm).
    const uint32_t period = 400;
    std::vector<int16_t> sig = SyntheticEcg(30000, period, 1500, 3);
    auto det = std::make_unique<QrsDetector>();
    DetectAll(*det, std::vector<int16_t>(sig.begin(), sig.begin() + 6000));  // prime
    std::vector<uint32_t> pos = DetectAll(*det, sig);
    std::vector<uint32_t> want;
    for (uint32_t p = SyntheticFirstPeak(period); p < sig.size() - 100; p += period)
        if (p > 30)
            want.push_back(p);
    ASSERT_GE(pos.size(), want.size() - 1);
    size_t hits = 0;
    for (uint32_t w : want)
        for (uint32_t p : pos)
            if (p == w)
                ++hits;
    EXPECT_GE(hits, want.size() - 1);
    EXPECT_LE(pos.size(), want.size() + 1);
    for (size_t i = 1; i < pos.size(); ++i)
        EXPECT_GT(pos[i], pos[i - 1] + 30);
}

TEST(QrsDetect, StateLinksCalls)
{
    // Calls split on block boundaries see the same blocks, thresholds and
    // carried values as one call; only beats near a call's start can differ.
    std::vector<int16_t> sig = SyntheticEcg(12000, 437, 1400, 11);
    auto one = std::make_unique<QrsDetector>();
    auto two = std::make_unique<QrsDetector>();
    std::vector<uint32_t> all = DetectAll(*one, sig);
    std::vector<uint32_t> a = DetectAll(*two, std::vector<int16_t>(sig.begin(), sig.begin() + 4500));
    std::vector<uint32_t> b = DetectAll(*two, std::vector<int16_t>(sig.begin() + 4500, sig.end()));
    EXPECT_EQ(one->m_nThreshold, two->m_nThreshold);
    EXPECT_EQ(one->m_nCarry, two->m_nCarry);
    std::vector<uint32_t> joined = a;
    for (uint32_t p : b)
        joined.push_back(p + 4500);
    std::vector<uint32_t> farFromCut, joinedFar;
    for (uint32_t p : all)
        if (p + 150 < 4500 || p > 4500 + 150)
            farFromCut.push_back(p);
    for (uint32_t p : joined)
        if (p + 150 < 4500 || p > 4500 + 150)
            joinedFar.push_back(p);
    EXPECT_EQ(farFromCut, joinedFar);
    EXPECT_FALSE(farFromCut.empty());
}

TEST(IrregularRR, RulesAndSpacing)
{
    int32_t out[16];
    const uint32_t r1[] = {250, 250, 180, 250, 250};
    ASSERT_EQ(QrsDetector::FindIrregularRR(r1, 5, out, 16), 1u);
    EXPECT_EQ(out[0], 2);

    const uint32_t r2[] = {180, 180, 400};
    ASSERT_EQ(QrsDetector::FindIrregularRR(r2, 3, out, 16), 1u);
    EXPECT_EQ(out[0], 1);

    const uint32_t far[] = {250, 250, 180, 250, 250, 250, 180, 250, 250};
    ASSERT_EQ(QrsDetector::FindIrregularRR(far, 9, out, 16), 2u);
    EXPECT_EQ(out[0], 2);
    EXPECT_EQ(out[1], 6);
    EXPECT_EQ(QrsDetector::FindIrregularRR(far, 9, out, 1), 1u);  // capacity

    const uint32_t near[] = {250, 250, 180, 250, 250, 180, 250, 250};
    ASSERT_EQ(QrsDetector::FindIrregularRR(near, 8, out, 16), 1u);
    EXPECT_EQ(out[0], 2);

    // Rule 1 at index 2 and rule 2 at index 5 share the spacing.
    const uint32_t mixed[] = {250, 250, 180, 250, 150, 150, 400, 400};
    ASSERT_EQ(QrsDetector::FindIrregularRR(mixed, 8, out, 16), 1u);
    EXPECT_EQ(out[0], 2);

    const uint32_t zero[] = {250, 0, 180, 250, 250};
    EXPECT_EQ(QrsDetector::FindIrregularRR(zero, 5, out, 16), 0u);
    EXPECT_EQ(QrsDetector::FindIrregularRR(r1, 2, out, 16), 0u);
    EXPECT_EQ(QrsDetector::FindIrregularRR(r1, 0, out, 16), 0u);
}

TEST(IrregularRR, DifferenceTruncatedTo16Bits)
{
    int32_t out[4];
    // 100 - 65636 truncates to 0: similar.
    const uint32_t wrap[] = {100, 65636, 40000};
    ASSERT_EQ(QrsDetector::FindIrregularRR(wrap, 3, out, 4), 1u);
    EXPECT_EQ(out[0], 1);
    // 100 - 32868 truncates to -32768, whose magnitude is 32768: not similar.
    const uint32_t half[] = {100, 32868, 20000};
    EXPECT_EQ(QrsDetector::FindIrregularRR(half, 3, out, 4), 0u);
}
