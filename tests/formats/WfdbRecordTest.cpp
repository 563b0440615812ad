// The own WFDB reader against the formats' definitions: each format's bytes
// built here from known values, several signals to a file and several
// files to a record, baselines, negative gains, "no sample" values; and MIT
// annotation files with their codes and flutter episodes.
#include <gtest/gtest.h>

#include <cmath>

#include "formats/Reference.h"
#include "formats/StandardFile.h"
#include "formats/WfdbRecord.h"
#include "support/TempDir.h"

using namespace testsupport;

namespace {

void Le(std::vector<uint8_t>& out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

// The samples of one file, in stream order, written as the format says.
std::vector<uint8_t> Encode(int format, const std::vector<int>& stream)
{
    std::vector<uint8_t> out;
    int previous[2] = {0, 0};
    for (size_t i = 0; i < stream.size(); ++i) {
        const int v = stream[i];
        switch (format) {
        case 8: out.push_back(uint8_t(v - previous[i % 2])); previous[i % 2] = v; break;  // two signals
        case 16: Le(out, uint32_t(v), 2); break;
        case 61: out.push_back(uint8_t(v >> 8)); out.push_back(uint8_t(v)); break;
        case 80: out.push_back(uint8_t(v + 128)); break;
        case 160: Le(out, uint32_t(v + 32768), 2); break;
        case 24: Le(out, uint32_t(v), 3); break;
        case 32: Le(out, uint32_t(v), 4); break;
        }
    }
    if (format == 212) {
        for (size_t i = 0; i < stream.size(); i += 2) {
            const unsigned a = unsigned(stream[i]) & 0xFFF, b = i + 1 < stream.size() ? unsigned(stream[i + 1]) & 0xFFF : 0;
            out.push_back(uint8_t(a));
            out.push_back(uint8_t((a >> 8) | ((b >> 8) << 4)));
            out.push_back(uint8_t(b));
        }
    }
    if (format == 310 || format == 311) {
        for (size_t i = 0; i < stream.size(); i += 3) {
            unsigned s[3] = {};
            for (size_t k = 0; k < 3 && i + k < stream.size(); ++k)
                s[k] = unsigned(stream[i + k]) & 0x3FF;
            if (format == 311) {
                Le(out, s[0] | s[1] << 10 | s[2] << 20, 4);
            } else {
                Le(out, (s[0] << 1) | ((s[2] & 0x1F) << 11), 2);
                Le(out, (s[1] << 1) | ((s[2] >> 5) << 11), 2);
            }
        }
    }
    return out;
}

// Values each format can hold, its extremes included (but not its "no sample" value).
std::vector<int> Values(int format, size_t n)
{
    const int bits = format == 8 ? 7 : format == 80 ? 8 : format == 212 ? 12 : format == 310 || format == 311 ? 10
                   : format == 24 ? 24 : format == 32 ? 31 : 16;
    const int hi = bits >= 31 ? 2'000'000'000 : (1 << (bits - 1)) - 1;
    std::vector<int> v;
    for (size_t i = 0; i < n; ++i)
        v.push_back(i % 7 == 0 ? hi : i % 7 == 1 ? -hi : int(std::lround(hi * std::sin(0.37 * double(i)))) / 3);
    return v;
}

std::vector<double> Read(const TempDir& dir, const std::string& header, size_t signal)
{
    WfdbHeader h;
    EXPECT_TRUE(ParseWfdbHeader(header, &h)) << header;
    return ReadWfdbSignal(dir.Path("") + "/", h, signal, dir.Path("r.hea"));
}

}  // namespace

TEST(WfdbRecord, EveryFormatWithTwoSignalsInOneFile)
{
    for (int format : {8, 16, 24, 32, 61, 80, 160, 212, 310, 311}) {
        SCOPED_TRACE(format);
        TempDir dir;
        const std::vector<int> a = Values(format, 61), b = Values(format, 62);
        std::vector<int> stream;
        for (size_t i = 0; i < 60; ++i) {
            stream.push_back(a[i]);
            stream.push_back(b[i + 2]);
        }
        if (format == 8)
            stream.insert(stream.begin(), {0, 0});  // format 8 starts from the header's initial values
        dir.WriteBytes("r.dat", Encode(format, stream));
        const std::string f = std::to_string(format);
        // Gain with a baseline; a negative gain whose baseline is the ADC zero.
        const std::string header = "r 2 360 " + std::to_string(format == 8 ? 61 : 60) + "\n" +
                                   "r.dat " + f + " 200(-7)/mV 12 0 0 0 0 A\n" +
                                   "r.dat " + f + " -50/uV 12 3 0 0 0 B\n";
        const std::vector<double> sa = Read(dir, header, 0), sb = Read(dir, header, 1);
        const size_t skip = format == 8 ? 1 : 0;
        ASSERT_EQ(sa.size(), 60 + skip);
        ASSERT_EQ(sb.size(), 60 + skip);
        for (size_t i = 0; i < 60; ++i) {
            EXPECT_DOUBLE_EQ(sa[i + skip], (a[i] + 7) / 200.0) << i;
            EXPECT_DOUBLE_EQ(sb[i + skip], (b[i + 2] - 3) / -50.0) << i;
        }
    }
}

TEST(WfdbRecord, SignalsInSeveralFilesFramesAndGaps)
{
    TempDir dir;
    // Signal 0 alone in one file, signals 1 and 2 in another; signal 2 has two samples a frame.
    dir.WriteBytes("a.dat", Encode(16, {10, 20, 30, -32768, 50}));
    dir.WriteBytes("b.dat", Encode(212, {1, 100, 101, 2, 102, 103, 3, 104, 105, 4, 106, 107, 5, 108, 109}));
    const std::string header = "# a comment first\n"
                               "r 3 100 5 10:20:30 01/02/2003\n"
                               "a.dat 16 100 16 0 0 0 0 MLII\n"
                               "b.dat 212 10 12 0\n"
                               "b.dat 212x2 1 12 0 0 0 0 V1 lead\n";
    WfdbHeader h;
    ASSERT_TRUE(ParseWfdbHeader(header, &h));
    EXPECT_TRUE(h.hasDate);
    EXPECT_EQ(h.year, 2003);
    EXPECT_EQ(h.signals[1].description, "record r, signal 1");
    EXPECT_EQ(h.signals[2].description, "V1 lead");
    // "No sample" holds the value before it.
    EXPECT_EQ(Read(dir, header, 0), (std::vector<double>{0.1, 0.2, 0.3, 0.3, 0.5}));
    EXPECT_EQ(Read(dir, header, 1), (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5}));
    EXPECT_EQ(Read(dir, header, 2), (std::vector<double>{100, 101, 102, 103, 104, 105, 106, 107, 108, 109}));

    // A header that claims more frames than its file holds is damaged.
    EXPECT_THROW(Read(dir, "r 1 100 6\na.dat 16 100 16 0\n", 0), CFileException);
    for (const char* bad : {"r/2 2 360\n", "r 2 360 10\nr.dat 16\n", "r 1 360\nr.dat 16 200(x)/mV\n", ""}) {
        WfdbHeader ignored;
        EXPECT_FALSE(ParseWfdbHeader(bad, &ignored)) << bad;
    }
}

TEST(WfdbRecord, OpensAsAStandardRecordingAtItsOwnRate)
{
    TempDir dir;
    std::vector<int> stream;
    for (int i = 0; i < 500; ++i) {
        stream.push_back(i % 50 == 0 ? 1000 : 0);  // signal 0: a spike every 100 ms
        stream.push_back(-5);
    }
    dir.WriteBytes("r.dat", Encode(24, stream));
    const std::string hea = "r 2 500 500 08:00:00 02/03/2024\nr.dat 24 1000 24 0 0 0 0 Resp\nr.dat 24 1000 24 0 0 0 0 ECG\n";
    dir.WriteBytes("r.hea", std::vector<uint8_t>(hea.begin(), hea.end()));
    CTime start;
    auto file = OpenStandardRecording(dir.Path("r.hea"), {}, &start);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Recording().leadLabel, "ECG");
    EXPECT_EQ(file->Recording().sourceRate, 500.0);
    EXPECT_EQ(file->GetSampleCount(), 250u);
    EXPECT_EQ(start.GetLocalFields().hour, 8);
    int16_t s[4];
    ASSERT_EQ(file->ReadSamples(s, 100, 4), 4u);
    for (int16_t v : s)
        EXPECT_NEAR(v, -5, 1);  // -5 units of 1/1000 mV: -0.005 mV
    // The record's files are its inputs.
    const std::vector<std::string> companions = CompanionFiles(dir.Path("r.hea"));
    EXPECT_NE(std::find(companions.begin(), companions.end(), dir.Path("r.dat")), companions.end());
}

TEST(WfdbRecord, AnnotationsWithCodesSkipsAuxAndFlutter)
{
    std::vector<uint8_t> atr;
    const auto put = [&](unsigned type, unsigned interval) { Le(atr, type << 10 | interval, 2); };
    put(1, 100);                 // N at 100
    put(28, 10);                 // rhythm change at 110 with its text
    put(63, 3);
    atr.insert(atr.end(), {'(', 'N', 0, 0});
    put(59, 0);                  // a long step: 70000
    Le(atr, 70000u >> 16, 2);
    Le(atr, 70000u & 0xFFFF, 2);
    put(5, 0);                   // V at 70110
    put(32, 90);                 // [ at 70200
    put(31, 50);                 // flutter wave, no beat
    put(1, 10);                  // a beat inside the episode
    put(33, 40);                 // ] at 70300
    put(14, 10);                 // noise, no beat
    put(8, 90);                  // A at 70400
    put(0, 0);
    std::vector<WfdbAnnotation> parsed;
    ASSERT_TRUE(ParseMitAnnotations(std::string(atr.begin(), atr.end()), &parsed));
    ASSERT_EQ(parsed.size(), 9u);
    EXPECT_EQ(parsed[1].aux, std::string("(N\0", 3));
    EXPECT_EQ(parsed[2].sample, 70110);

    TempDir dir;
    dir.WriteBytes("r.atr", atr);
    const std::string hea = "r 1 360 100000\nr.dat 16 200 16 0\n";
    dir.WriteBytes("r.hea", std::vector<uint8_t>(hea.begin(), hea.end()));
    ReferenceAnnotations ref;
    std::string error;
    ASSERT_TRUE(ReadReferenceAnnotations(dir.Path("r.atr"), &ref, &error)) << error;
    ASSERT_EQ(ref.beats.size(), 3u);
    EXPECT_DOUBLE_EQ(ref.beats[0].position, 100 * 250.0 / 360);
    EXPECT_EQ(ref.beats[1].code, 5);
    EXPECT_EQ(ref.beats[2].code, 8);
    ASSERT_EQ(ref.unscored.size(), 1u);
    EXPECT_DOUBLE_EQ(ref.unscored[0].first, 70200 * 250.0 / 360);
    EXPECT_DOUBLE_EQ(ref.unscored[0].second, 70300 * 250.0 / 360);

    // "index,code" lines: non-beat codes add no beat, [ and ] mark an episode.
    const std::string csv = "10,N\n20,+\n30\n40,V\n50,[\n60,N\n70,]\n80,~\n90,5\n";
    dir.WriteBytes("ref.csv", std::vector<uint8_t>(csv.begin(), csv.end()));
    ASSERT_TRUE(ReadReferenceAnnotations(dir.Path("ref.csv"), &ref, &error)) << error;
    std::vector<double> positions;
    for (const ReferenceBeat& b : ref.beats)
        positions.push_back(b.position);
    EXPECT_EQ(positions, (std::vector<double>{10, 30, 40, 90}));
    ASSERT_EQ(ref.unscored.size(), 1u);
    EXPECT_EQ(ref.unscored[0], std::make_pair(50.0, 70.0));
}
