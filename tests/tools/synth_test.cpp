// vitrel-synth output must be readable by the recording layer and its
// stored findings must agree with the signal it wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "analysis/EcgDocument.h"
#include "recording/EcgFile.h"
#include "resources/Version.h"
#include "support/DocumentAccess.h"
#include "support/Programs.h"
#include "support/TempDir.h"
#include "support/TimeZone.h"

namespace fs = std::filesystem;

namespace {

struct Beat {
    uint32_t index;
    char code;
};

// Runs vitrel-synth; returns its exit status, its standard output in *out.
int Synth(const std::vector<std::string>& args, std::string* out = nullptr)
{
    const testsupport::ProgramRun run = testsupport::RunSynth(args);
    if (out)
        *out = run.out;
    return run.status;
}

std::vector<char> Bytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<Beat> ReadBeats(const fs::path& p)
{
    std::vector<Beat> beats;
    std::ifstream in(p);
    std::string line;
    while (std::getline(in, line)) {
        const size_t comma = line.find(',');
        EXPECT_NE(comma, std::string::npos) << line;
        beats.push_back({static_cast<uint32_t>(std::stoul(line.substr(0, comma))), line.at(comma + 1)});
    }
    return beats;
}

std::vector<int16_t> AllSamples(CEcgFile& f)
{
    std::vector<int16_t> s(f.GetSampleCount());
    EXPECT_EQ(f.ReadSamples(s.data(), 0, static_cast<uint32_t>(s.size())), s.size());
    return s;
}

// The R peak is the fiducial point: strictly above its close neighbours and
// the largest value of its own complex.
void ExpectRPeak(const std::vector<int16_t>& s, uint32_t p)
{
    ASSERT_GE(p, 4u);
    ASSERT_LT(p + 4, s.size());
    for (int d = 1; d <= 4; ++d)
        EXPECT_GT(s[p], std::max(s[p - d], s[p + d])) << "beat at " << p;
    const auto lo = s.begin() + std::max<int64_t>(0, int64_t(p) - 20);
    const auto hi = s.begin() + std::min<size_t>(s.size(), p + 21);
    EXPECT_EQ(*std::max_element(lo, hi), s[p]) << "beat at " << p;
}

class SynthTest : public ::testing::Test {
protected:
    testsupport::TempDir m_tmp;
    const fs::path m_dir = m_tmp.Dir();
};

TEST_F(SynthTest, ShortRecordingsCarryFindingsOfTheirOwnSignal)
{
    const std::vector<std::string> common = {"--seed", "11", "--start", "2023-02-28 23:59:58",
                                             "--pvc-rate", "0.1", "--rate", "95"};
    auto args = [&](std::vector<std::string> a) {
        a.insert(a.begin() + 1, common.begin(), common.end());
        return a;
    };
    ASSERT_EQ(Synth(args({"short", (m_dir / "n.ecg").string(), "--beats", (m_dir / "n.csv").string()})), 0);
    ASSERT_EQ(Synth(args({"short", "--remote", (m_dir / "r.ecg").string()})), 0);
    EXPECT_EQ(fs::file_size(m_dir / "n.ecg"), NORMAL_FILE_LENGTH);
    EXPECT_EQ(fs::file_size(m_dir / "r.ecg"), REMOTE_FILE_LENGTH);
    const auto normalBytes = Bytes(m_dir / "n.ecg");
    const auto remoteBytes = Bytes(m_dir / "r.ecg");
    EXPECT_TRUE(std::equal(normalBytes.begin(), normalBytes.end(), remoteBytes.begin() + REMOTE_LEAD_BYTES));

    const std::vector<Beat> truth = ReadBeats(m_dir / "n.csv");
    ASSERT_TRUE(std::any_of(truth.begin(), truth.end(), [](const Beat& b) { return b.code == 'V'; }))
        << "the seed was picked to give a premature beat";

    for (auto [name, kind] : {std::pair{"n.ecg", ECG_KIND_NORMAL}, std::pair{"r.ecg", ECG_KIND_REMOTE}}) {
        SCOPED_TRACE(name);
        CTime start;
        auto file = OpenEcgFile((m_dir / name).string(), &start);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->GetFileKind(), kind);
        EXPECT_EQ(start, CTime(2023, 2, 28, 23, 59, 0));

        RecordingHeader h{};
        ASSERT_TRUE(file->ReadHeader(&h));
        EXPECT_EQ(h.second, 58);
        const int n = h.qrsCount;
        ASSERT_GE(n, 2);
        ASSERT_LE(n, HEADER_BEAT_CAPACITY);
        ASSERT_EQ(static_cast<size_t>(n), truth.size());

        const std::vector<int16_t> s = AllSamples(*file);
        double rSum = 0;
        int normal = 0;
        for (int k = 0; k < n; ++k) {
            const uint32_t p = HeaderBeatPosition(h, k);
            EXPECT_EQ(p, truth[k].index);
            if (k > 0) {
                EXPECT_GT(p, HeaderBeatPosition(h, k - 1));
            }
            ExpectRPeak(s, p);
            if (truth[k].code == 'N')
                rSum += s[p], ++normal;
        }

        const uint32_t first = HeaderBeatPosition(h, 0), last = HeaderBeatPosition(h, n - 1);
        const double rate = 15000.0 * (n - 1) / (last - first);
        EXPECT_NEAR(HeaderU16(h, 14), rate * 10, 1.0);
        EXPECT_EQ(h.resultFlags & 0x01, 0x01);
        EXPECT_EQ(h.resultFlags & 0x20, 0x20) << "a premature beat makes the rhythm irregular";
        const int code = (h.resultFlags >> 1) & 7;
        EXPECT_EQ(code, rate < 50 ? 2 : rate < 60 ? 1 : rate <= 100 ? 0 : rate <= 120 ? 3 : 4);
        // Measurements in their units: R near the peaks' height, intervals plausible.
        EXPECT_NEAR(HeaderI16(h, 20), rSum / normal, 0.15 * ECG_UNITS_PER_MV);
        EXPECT_GE(HeaderU16(h, 16) * 2, 100);
        EXPECT_LE(HeaderU16(h, 16) * 2, 220);
        EXPECT_GE(HeaderU16(h, 18) * 2, 300);
        EXPECT_LE(HeaderU16(h, 18) * 2, 480);
        EXPECT_GT(HeaderI16(h, 22), 0);
        EXPECT_GT(HeaderI16(h, 24), 0);
    }
}

TEST_F(SynthTest, LongRecordingHasItsDurationNameAndTrueBeats)
{
    std::string printed;
    ASSERT_EQ(Synth({"long", "--minutes", "3", "--seconds", "30", "--start", "2021-07-04 23:58:30", "--pvc-rate",
                     "0.05", "--seed", "4", "--beats", (m_dir / "b.csv").string(), (m_dir / "out").string()},
                    &printed),
              0);
    const fs::path path = m_dir / "out" / "21070423.58";
    EXPECT_EQ(printed, path.string() + "\n");
    ASSERT_EQ(fs::file_size(path), 210u * ECG_SAMPLE_RATE * 2);

    CTime start;
    auto file = OpenEcgFile(path.string(), &start);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetFileKind(), ECG_KIND_HOLTER);
    EXPECT_EQ(start, CTime(2021, 7, 4, 23, 58, 0));
    const std::vector<int16_t> s = AllSamples(*file);

    const std::vector<Beat> beats = ReadBeats(m_dir / "b.csv");
    ASSERT_GT(beats.size(), 210u * 40 / 60);
    ASSERT_LT(beats.size(), 210u * 200 / 60);
    int premature = 0;
    for (size_t k = 0; k < beats.size(); ++k) {
        ExpectRPeak(s, beats[k].index);
        if (k > 0) {
            ASSERT_GT(beats[k].index, beats[k - 1].index);
        }
        if (beats[k].code == 'V' && k >= 2 && k + 1 < beats.size()) {
            // Short coupling interval, then a compensatory pause.
            const uint32_t before = beats[k].index - beats[k - 1].index;
            const uint32_t prior = beats[k - 1].index - beats[k - 2].index;
            const uint32_t after = beats[k + 1].index - beats[k].index;
            EXPECT_LT(before * 115, prior * 100);
            EXPECT_LT(before * 115, after * 100);
            ++premature;
        }
    }
    EXPECT_GT(premature, 0);

    // Any exact length, including an odd one near the short formats' sizes.
    ASSERT_EQ(Synth({"long", "--samples", "7177", "--start", "2021-07-04 10:00", (m_dir / "odd").string()}), 0);
    EXPECT_EQ(fs::file_size(m_dir / "odd" / "21070410.00"), 7177u * 2);
}

TEST_F(SynthTest, OutputDependsOnlyOnTheSeed)
{
    for (const std::string mode : {"short", "long"}) {
        SCOPED_TRACE(mode);
        std::vector<std::vector<char>> out;
        for (const char* seed : {"5", "5", "6"}) {
            const fs::path dir = m_dir / (mode + seed + std::to_string(out.size()));
            std::vector<std::string> a = {mode, "--seed", seed};
            if (mode == "long") {
                a.insert(a.end(), {"--seconds", "90", dir.string()});
            } else {
                fs::create_directories(dir);
                a.push_back((dir / "x.ecg").string());
            }
            ASSERT_EQ(Synth(a), 0);
            out.push_back(Bytes(mode == "long" ? dir / "24050608.30" : dir / "x.ecg"));
        }
        EXPECT_FALSE(out[0].empty());
        EXPECT_EQ(out[0], out[1]);
        EXPECT_NE(out[0], out[2]);
    }
}

TEST_F(SynthTest, DropoutsAndClippingAreRecorderFaults)
{
    ASSERT_EQ(Synth({"long", "--minutes", "10", "--seed", "8", "--dropouts", "30", "--dropout-seconds", "5",
                     "--clip-mv", "0.9", "--beats", (m_dir / "b.csv").string(), (m_dir / "out").string()}),
              0);
    auto file = OpenEcgFile((m_dir / "out" / "24050608.30").string(), nullptr);
    const std::vector<int16_t> s = AllSamples(*file);
    const std::vector<Beat> beats = ReadBeats(m_dir / "b.csv");

    // Stretches of one value (0 or a rail) of about 5 s, no true beat inside
    // or within a quarter of a normal interval of their edges.
    int stretches = 0;
    for (size_t i = 0; i < s.size();) {
        size_t j = i;
        while (j < s.size() && s[j] == s[i])
            ++j;
        if (j - i >= 250) {
            ++stretches;
            EXPECT_TRUE(s[i] == 0 || s[i] == 32767 || s[i] == -32768) << s[i];
            EXPECT_NEAR(double(j - i), 5 * 250.0, 250.0);
            for (const Beat& b : beats)
                EXPECT_FALSE(b.index + 40 > i && b.index < j + 40) << b.index;
        } else {
            for (size_t k = i; k < j; ++k)
                ASSERT_LE(std::abs(int(s[k])), 909) << k;  // 0.9 mV
        }
        i = j;
    }
    EXPECT_GE(stretches, 2);
    ASSERT_GT(beats.size(), 10u * 40);

    // Recorder faults are for long recordings only.
    EXPECT_EQ(Synth({"short", "--dropouts", "5", (m_dir / "x.ecg").string()}), 2);
    EXPECT_EQ(Synth({"short", "--clip-mv", "1", (m_dir / "x.ecg").string()}), 2);
    EXPECT_EQ(Synth({"long", "--dropout-seconds", "0", m_dir.string()}), 2);
}

TEST_F(SynthTest, RejectsBadUsageAndReportsWriteFailures)
{
    const std::string f = (m_dir / "x.ecg").string(), d = m_dir.string();
    EXPECT_EQ(Synth({}), 2);
    EXPECT_EQ(Synth({"medium", f}), 2);
    EXPECT_EQ(Synth({"short"}), 2);
    EXPECT_EQ(Synth({"short", "--frobnicate", "1", f}), 2);
    EXPECT_EQ(Synth({"short", "--seed"}), 2);
    EXPECT_EQ(Synth({"short", "--start", "2023-02-29 10:00", f}), 2);
    EXPECT_EQ(Synth({"short", "--start", "1999-12-31 10:00", f}), 2);
    EXPECT_EQ(Synth({"short", "--rate", "fast", f}), 2);
    EXPECT_EQ(Synth({"short", "--hours", "1", f}), 2);
    EXPECT_EQ(Synth({"long", "--remote", d}), 2);
    // A long recording of a short format's length would open as the wrong kind.
    EXPECT_EQ(Synth({"long", "--samples", "7176", d}), 2);
    EXPECT_EQ(Synth({"long", "--samples", "7187", d}), 2);
    EXPECT_TRUE(fs::is_empty(m_dir));

    EXPECT_EQ(Synth({"short", (m_dir / "missing" / "x.ecg").string()}), 1);
    EXPECT_EQ(Synth({"short", f, "--beats", (m_dir / "missing" / "b.csv").string()}), 1);
    EXPECT_FALSE(fs::exists(f)) << "nothing is left behind when an output fails";

    std::string version;
    EXPECT_EQ(Synth({"--version"}, &version), 0);
    EXPECT_NE(version.find(VITREL_VERSION), std::string::npos);
}

}  // namespace

// Seed and length picked so that the detector, restarting 1500 samples back
// at a chunk start, reports one R wave twice there (a 405 bpm hour maximum).
TEST_F(SynthTest, ChunkStartsNeitherDoubleNorInventBeats)
{
    testsupport::ScopedTimeZone tz("UTC");
    ASSERT_EQ(Synth({"long", "--seed", "3", "--hours", "3", "--start", "2024-05-05 08:00:00", m_dir.string()}), 0);
    CEcgDocument doc;
    doc.OpenFile((m_dir / "24050508.00").string());
    doc.StartAnalysis(nullptr);
    doc.WaitAnalysis();
    ASSERT_TRUE(doc.IsStatisticsReady());
    std::vector<const HourRateStats*> hours;
    ASSERT_EQ(doc.GetHourStats(hours), 3u);
    for (const HourRateStats* h : hours)
        EXPECT_LT(h->fMaxRate, 200.0f) << h->nStartHour;
    for (size_t i = 1; i < DocAccess::Beats(doc).size(); ++i)
        EXPECT_GT(DocAccess::Beats(doc)[i] - DocAccess::Beats(doc)[i - 1], 50u) << DocAccess::Beats(doc)[i];
}

TEST_F(SynthTest, EctopyAndRhythmStretches)
{
    const fs::path dir = m_dir / "ectopy";
    ASSERT_EQ(Synth({"long", "--minutes", "40", "--seed", "9", "--svpb-rate", "0.05", "--vrun-rate", "0.01",
                     "--vrun-beats", "3-4", "--bigeminy-per-hour", "3", "--af-per-hour", "3", "--beats",
                     (m_dir / "b.csv").string(), "--rhythm", (m_dir / "r.csv").string(), dir.string()}),
              0);
    const std::vector<Beat> beats = ReadBeats(m_dir / "b.csv");
    std::ifstream in(m_dir / "r.csv");
    std::string line;
    struct Stretch {
        int64_t first, last;
        std::string rhythm;
    };
    std::vector<Stretch> rhythm;
    while (std::getline(in, line)) {
        Stretch s;
        char name[16] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "%lld,%lld,%15s", reinterpret_cast<long long*>(&s.first),
                              reinterpret_cast<long long*>(&s.last), name),
                  3)
            << line;
        s.rhythm = name;
        rhythm.push_back(s);
    }
    // The stretches tile the recording.
    ASSERT_FALSE(rhythm.empty());
    EXPECT_EQ(rhythm.front().first, 0);
    EXPECT_EQ(rhythm.back().last, 40 * 60 * 250 - 1);
    for (size_t i = 1; i < rhythm.size(); ++i)
        EXPECT_EQ(rhythm[i].first, rhythm[i - 1].last + 1);
    auto rhythmAt = [&](uint32_t at) {
        for (const Stretch& s : rhythm)
            if (at >= s.first && at <= s.last)
                return s.rhythm;
        return std::string();
    };
    int a = 0, inAf = 0, longestV = 0, v = 0, bigeminyV = 0, bigeminyBeats = 0;
    for (size_t k = 0; k < beats.size(); ++k) {
        const std::string r = rhythmAt(beats[k].index);
        a += beats[k].code == 'A';
        v = beats[k].code == 'V' ? v + 1 : 0;
        longestV = std::max(longestV, v);
        if (r == "AFIB") {
            ++inAf;
            EXPECT_EQ(beats[k].code, 'N');
        }
        if (r == "B" && k > 0 && rhythmAt(beats[k - 1].index) == "B") {
            ++bigeminyBeats;
            bigeminyV += beats[k].code == 'V';
            EXPECT_NE(beats[k].code == 'V', beats[k - 1].code == 'V') << beats[k].index;
        }
    }
    EXPECT_GT(a, 100);
    EXPECT_GT(inAf, 50);
    EXPECT_EQ(longestV, 4);
    EXPECT_GT(bigeminyBeats, 40);
    // AF is irregular: successive RR intervals differ by a tenth or more
    // much more often than in sinus rhythm.
    int big = 0, pairs = 0;
    for (size_t k = 2; k < beats.size(); ++k)
        if (rhythmAt(beats[k - 2].index) == "AFIB" && rhythmAt(beats[k].index) == "AFIB") {
            const double r1 = beats[k - 1].index - beats[k - 2].index, r2 = beats[k].index - beats[k - 1].index;
            big += std::fabs(r2 - r1) > 0.1 * r1;
            ++pairs;
        }
    EXPECT_GT(big, pairs / 2);
}
