// Every filter kernel against the plain arithmetic, state included, after
// every call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "analysis/QrsDetector.h"
#include "analysis/QrsDetectorFast.h"
#include "support/SyntheticEcg.h"

namespace QrsFast {
void PrintTo(Kernel k, std::ostream* os) { *os << KernelName(k); }
}  // namespace QrsFast

namespace {

using QrsFast::Kernel;

template <size_t N>
::testing::AssertionResult SameArray(const char* name, const int16_t (&a)[N], const int16_t (&b)[N])
{
    for (size_t i = 0; i < N; ++i)
        if (a[i] != b[i])
            return ::testing::AssertionFailure()
                   << name << "[" << i << "]: " << a[i] << " vs reference " << b[i];
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameState(const QrsDetector& fast, const QrsDetector& ref)
{
    if (fast.m_nThreshold != ref.m_nThreshold || fast.m_nMinSpacing != ref.m_nMinSpacing ||
        fast.m_nCarry != ref.m_nCarry)
        return ::testing::AssertionFailure()
               << "threshold/spacing/carry " << fast.m_nThreshold << "/" << fast.m_nMinSpacing << "/"
               << fast.m_nCarry << " vs reference " << ref.m_nThreshold << "/" << ref.m_nMinSpacing
               << "/" << ref.m_nCarry;
    for (auto r : {SameArray("m_bandDelay", fast.m_bandDelay, ref.m_bandDelay),
                   SameArray("m_envDelay", fast.m_envDelay, ref.m_envDelay),
                   SameArray("m_bandOut", fast.m_bandOut, ref.m_bandOut),
                   SameArray("m_envOut", fast.m_envOut, ref.m_envOut)})
        if (!r)
            return r;
    return ::testing::AssertionSuccess();
}

// Runs one Detect call on both detectors and compares everything it touches.
::testing::AssertionResult SameDetect(QrsDetector& fast, QrsDetector& ref, const int16_t* in,
                                      uint32_t n)
{
    std::vector<uint32_t> a(n / 2 + 64, 0xDEADBEEF), b(a);
    uint32_t na = 12345, nb = 54321;
    fast.Detect(in, n, a.data(), &na);
    ref.DetectReference(in, n, b.data(), &nb);
    a.resize(std::min<size_t>(na, a.size()));
    b.resize(std::min<size_t>(nb, b.size()));
    if (a != b)
        return ::testing::AssertionFailure() << "positions differ: " << na << " vs " << nb;
    return SameState(fast, ref);
}

// Values that hit every edge of the arithmetic: int16 extremes, full-scale
// squares in the band-pass's pass band (sums far beyond 16 bits after the
// shift), 7745 (an envelope sum of exactly 32768), quiet and loud ECG.
std::vector<int16_t> Signal(std::mt19937& rng, uint32_t n)
{
    std::vector<int16_t> s(n);
    const int16_t extremes[] = {-32768, 32767, -32767, 0, 1, -1, 7745, -7745};
    uint32_t i = 0;
    while (i < n) {
        const uint32_t run = std::min<uint32_t>(n - i, 1 + rng() % 4000);
        switch (rng() % 5) {
        case 0:
            for (uint32_t k = 0; k < run; ++k)
                s[i + k] = int16_t(rng());
            break;
        case 1:
            for (uint32_t k = 0; k < run; ++k)
                s[i + k] = extremes[rng() % std::size(extremes)];
            break;
        case 2: {
            const uint32_t half = 5 + rng() % 20;
            const int16_t lo = rng() % 2 ? -32768 : -32767;
            for (uint32_t k = 0; k < run; ++k)
                s[i + k] = (k / half) % 2 ? int16_t(32767) : lo;
            break;
        }
        default: {
            const auto ecg = SyntheticEcg(run, 300 + rng() % 200, rng() % 2 ? 1200 : 30000, rng());
            std::copy(ecg.begin(), ecg.end(), s.begin() + i);
        }
        }
        i += run;
    }
    return s;
}

void Scramble(QrsDetector& d, std::mt19937& rng)
{
    auto fill = [&rng](auto& arr) {
        for (auto& v : arr)
            v = int16_t(rng());
    };
    fill(d.m_bandDelay);
    fill(d.m_envDelay);
    fill(d.m_bandOut);
    fill(d.m_envOut);
    d.m_nThreshold = int32_t(rng() % 70000);
    d.m_nCarry = int16_t(rng());
}

class KernelEquivalence : public ::testing::TestWithParam<Kernel> {
protected:
    void SetUp() override
    {
        m_previous = QrsFast::ActiveKernel();
        if (!QrsFast::KernelAvailable(GetParam()))
            GTEST_SKIP() << QrsFast::KernelName(GetParam()) << " not supported here";
        ASSERT_TRUE(QrsFast::SelectKernel(GetParam()));
    }
    void TearDown() override { QrsFast::SelectKernel(m_previous); }

    Kernel m_previous = Kernel::Portable;
};

TEST_P(KernelEquivalence, FilterStagesAcrossLengthsAndHistories)
{
    std::mt19937 rng(11);
    auto fast = std::make_unique<QrsDetector>();
    Scramble(*fast, rng);
    auto ref = std::make_unique<QrsDetector>(*fast);
    // Lengths around the block, the vector widths and the tap counts, and 0.
    for (uint32_t n : {0u, 1u, 2u, 24u, 25u, 31u, 33u, 50u, 51u, 52u, 127u, 129u, 143u, 144u, 145u,
                       1499u, 1500u, 1501u, 3001u, 4099u}) {
        const auto in = Signal(rng, n);
        std::vector<int16_t> a(n + 1, 99), b(n + 1, 99);
        fast->BandPass(in.data(), a.data(), n);
        ref->BandPassReference(in.data(), b.data(), n);
        ASSERT_EQ(a, b) << "band-pass, n = " << n;
        // The envelope is fed the raw signal too, so -32768 and unrectified
        // values reach it.
        fast->Envelope(in.data(), a.data(), n);
        ref->EnvelopeReference(in.data(), b.data(), n);
        ASSERT_EQ(a, b) << "envelope, n = " << n;
        ASSERT_TRUE(SameState(*fast, *ref)) << "n = " << n;
    }

    // The inputs above do drive the shifted sums out of 16 bits (and onto -32768).
    auto probe = std::make_unique<QrsDetector>();
    std::vector<int16_t> square(2000), out(2000), env(2000, 7745), envOut(2000);
    for (size_t k = 0; k < square.size(); ++k)
        square[k] = (k / 9) % 2 ? 32767 : -32768;
    probe->BandPass(square.data(), out.data(), 2000);
    int64_t wrapped = 0;
    for (size_t j = 200; j < square.size(); ++j) {
        int64_t sum = 0;
        for (int q = 0; q < QRS_BAND_TAPS; ++q)
            sum += int64_t(square[j - QRS_BAND_TAPS + 1 + q]) * kBandPassTaps[q];
        wrapped += (sum >> 11) != int16_t(sum >> 11);
    }
    EXPECT_GT(wrapped, 1000);
    probe->Envelope(env.data(), envOut.data(), 2000);
    EXPECT_EQ(envOut[1999], -32768);
}

TEST_P(KernelEquivalence, DetectOverManyCallsOfRandomLength)
{
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 rng(seed);
        auto fast = std::make_unique<QrsDetector>();
        if (seed % 2 == 0)
            Scramble(*fast, rng);
        auto ref = std::make_unique<QrsDetector>(*fast);
        const auto stream = Signal(rng, 400000);
        uint32_t pos = 0;
        for (int call = 0; call < 150; ++call) {
            uint32_t n = 0;
            switch (rng() % 6) {
            case 0: n = 0; break;
            case 1: n = 1 + rng() % 24; break;
            case 2: n = 25 * (1 + rng() % 80); break;
            case 3: n = 1500 * (1 + rng() % 3); break;
            default: n = 1 + rng() % 8000;
            }
            // Mostly a continuing stream, sometimes a jump as the chunk overlap makes.
            if (rng() % 4 == 0)
                pos = rng() % 1000;
            if (pos + n > stream.size())
                pos = 0;
            ASSERT_TRUE(SameDetect(*fast, *ref, stream.data() + pos, n))
                << "seed " << seed << ", call " << call << ", n = " << n;
            pos += n;
        }
    }
}

// The long recordings of the shared data, fed exactly as the analysis run
// does: the first 3000 samples to prime, then overlapping chunks, every
// sample repeated once.
TEST_P(KernelEquivalence, RealRecordsChunkedLikeTheRun)
{
    namespace fs = std::filesystem;
    const fs::path root(VITREL_DATA_DIR);
    if (!fs::is_directory(root))
        GTEST_SKIP() << "no test data at " << root;
    const std::regex longName(R"(\d{8}\.\d{2})");
    std::vector<fs::path> files;
    for (const auto& dir : fs::directory_iterator(root))
        if (dir.is_directory())
            for (const auto& f : fs::directory_iterator(dir.path()))
                if (f.is_regular_file() && std::regex_match(f.path().filename().string(), longName))
                    files.push_back(f.path());
    if (files.empty())
        GTEST_SKIP() << "no long recordings under " << root;

    for (const auto& file : files) {
        std::ifstream is(file, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(is), {}};
        std::vector<int16_t> rec(bytes.size() / 2);
        for (size_t i = 0; i < rec.size(); ++i)
            rec[i] = int16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);

        auto fast = std::make_unique<QrsDetector>();
        auto ref = std::make_unique<QrsDetector>();
        auto run = [&](size_t from, size_t len) {
            len = std::min(len, rec.size() - from);
            std::vector<int16_t> buf(2 * len);
            for (size_t i = 0; i < 2 * len; ++i)
                buf[i] = rec[from + i / 2];
            return SameDetect(*fast, *ref, buf.data(), uint32_t(buf.size()));
        };
        ASSERT_TRUE(run(0, 3000)) << file << " priming";
        for (size_t at = 0; at < rec.size(); at += 25000)
            ASSERT_TRUE(run(at, 26500)) << file << " chunk at " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(AllKernels, KernelEquivalence,
                         ::testing::Values(Kernel::Portable, Kernel::Sse2, Kernel::Avx2,
                                           Kernel::Avx512, Kernel::Avx512Vnni),
                         [](const auto& info) { return std::string(QrsFast::KernelName(info.param)); });

TEST(QrsFastDispatch, SelectsOnlyWhatTheProcessorRuns)
{
    const Kernel previous = QrsFast::ActiveKernel();
    EXPECT_TRUE(QrsFast::KernelAvailable(Kernel::Portable));
    const Kernel best = QrsFast::BestKernel();
    EXPECT_TRUE(QrsFast::KernelAvailable(best));
    for (int k = int(best) + 1; k < QrsFast::KERNEL_COUNT; ++k)
        EXPECT_FALSE(QrsFast::KernelAvailable(Kernel(k))) << "best kernel is not the fastest";

    ASSERT_TRUE(QrsFast::SelectKernel(Kernel::Portable));
    EXPECT_EQ(QrsFast::ActiveKernel(), Kernel::Portable);
    EXPECT_FALSE(QrsFast::SelectKernel(Kernel(QrsFast::KERNEL_COUNT)));
    for (int k = 0; k < QrsFast::KERNEL_COUNT; ++k) {
        if (!QrsFast::KernelAvailable(Kernel(k))) {
            EXPECT_FALSE(QrsFast::SelectKernel(Kernel(k)));
        }
    }
    EXPECT_EQ(QrsFast::ActiveKernel(), Kernel::Portable);
    QrsFast::SelectKernel(previous);
}

}  // namespace
