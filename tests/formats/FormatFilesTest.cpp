// The files other programs wrote and the records that once read wrong
// (../shared/data/formats): each gives what its README says. Then the
// exports as other programs take them.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "formats/Export.h"
#include "formats/StandardFile.h"
#include "support/Programs.h"
#include "support/Recordings.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

const fs::path kFormats = fs::path(VITREL_DATA_DIR).parent_path() / "formats";
const fs::path kRecord100 = fs::path(VITREL_DATA_DIR) / "source" / "mitdb" / "100.hea";

std::string In(const std::string& name)
{
    return (kFormats / name).string();
}

std::vector<int16_t> SamplesOf(CEcgFile& file)
{
    std::vector<int16_t> s(file.GetSampleCount());
    EXPECT_EQ(file.ReadSamples(s.data(), 0, uint32_t(s.size())), s.size());
    return s;
}

int CauseOf(const std::string& path, const StandardOpenOptions& options = {})
{
    try {
        CTime t;
        OpenStandardRecording(path, options, &t);
    } catch (const CFileException& e) {
        return e.m_cause;
    }
    return CFileException::none;
}

std::string ScoreLine(const std::vector<std::string>& args)
{
    const ProgramRun r = RunAnalyze(args);
    const size_t at = r.out.find("reference TP");
    return at == std::string::npos ? r.out + r.err : r.out.substr(at, r.out.find(" Se", at) - at);
}

}  // namespace

TEST(FormatFiles, WfdbVariantsOfRecord100ReadAsTheOriginal)
{
    if (!fs::exists(kFormats) || !fs::exists(kRecord100))
        GTEST_SKIP() << "no test data";
    CTime t;
    const std::vector<int16_t> original = SamplesOf(*OpenStandardRecording(kRecord100.string(), {}, &t));
    ASSERT_GT(original.size(), 400000u);
    for (const char* name : {"wfdb/b100.hea", "wfdb/g16.hea", "wfdb/ng.hea"}) {
        SCOPED_TRACE(name);
        auto file = OpenStandardRecording(In(name), {}, &t);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->Recording().leadLabel, "MLII");
        EXPECT_EQ(SamplesOf(*file), original);
        // Against their own annotations, with either detector, as the original scores.
        const std::string atr = In(std::string(name).replace(std::string(name).size() - 4, 4, ".atr"));
        EXPECT_EQ(ScoreLine({"--reference", atr, In(name)}), "reference TP 2273 FN 0 FP 0");
        EXPECT_EQ(ScoreLine({"--detector", "standard", "--reference", atr, In(name)}), "reference TP 2272 FN 1 FP 0");
    }
    // The second signal of the multiplexed format-16 file is V5, not MLII's other half.
    EXPECT_EQ(SamplesOf(*OpenStandardRecording(In("wfdb/g16.hea"), {"V5"}, &t)),
              SamplesOf(*OpenStandardRecording(kRecord100.string(), {"V5"}, &t)));
}

TEST(FormatFiles, AnOffsetOrAnInvertedLeadCostsNoBeat)
{
    if (!fs::exists(kFormats) || !fs::exists(kRecord100))
        GTEST_SKIP() << "no test data";
    // Record 100 with MLII upside down.
    TempDir dir;
    const std::string dat = In("wfdb/100.dat");
    const std::string hea = "inv 2 360 650000\n" + dat + " 212 -200 11 1024 995 -22131 0 MLII\n" + dat +
                            " 212 200 11 1024 1011 20052 0 V5\n";
    dir.WriteBytes("inv.hea", std::vector<uint8_t>(hea.begin(), hea.end()));
    fs::copy_file(In("wfdb/b100.atr"), dir.Path("inv.atr"));
    EXPECT_EQ(ScoreLine({"--reference", dir.Path("inv.atr"), dir.Path("inv.hea")}), "reference TP 2273 FN 0 FP 0");
    const std::string atr = (kRecord100.parent_path() / "100.atr").string();
    const std::string dc = In("dc-offset-plus10mV.edf");
    // The EDF copy ends at 1805 s, before the last reference beat.
    EXPECT_EQ(ScoreLine({"--reference", atr, dc}), "reference TP 2272 FN 1 FP 0");
    // The recorder's detector also sees the lead without its offset: what
    // it finds on the clean record, to within a sample.
    const ProgramRun clean = RunAnalyze({"--json", "--detector", "standard", kRecord100.string()});
    const ProgramRun offset = RunAnalyze({"--json", "--detector", "standard", dc});
    const auto beats = [](const std::string& json) {
        std::vector<long> v;
        const size_t open = json.find("\"beats\":[") + 9;
        std::istringstream in(json.substr(open, json.find(']', open) - open));
        for (std::string x; std::getline(in, x, ',');)
            v.push_back(std::stol(x));
        return v;
    };
    // Record 100 lowered by 2 and by 5 mV through its baseline: the beats
    // stay where they were (they once came 60-90 ms early, or went missing).
    for (const char* baseline : {"1424", "2034"}) {
        const std::string low = "low 2 360 650000\n" + dat + " 212 200(" + baseline + ")/mV 11 1024 995 0 0 MLII\n" +
                                dat + " 212 200 11 1024 1011 0 0 V5\n";
        dir.WriteBytes("low.hea", std::vector<uint8_t>(low.begin(), low.end()));
        const std::vector<long> a = beats(clean.out);
        const std::vector<long> b = beats(RunAnalyze({"--json", "--detector", "standard", dir.Path("low.hea")}).out);
        ASSERT_EQ(a.size(), b.size()) << baseline;
        for (size_t i = 0; i < a.size(); ++i)
            EXPECT_LE(std::abs(a[i] - b[i]), 1) << baseline << " " << i;
    }
    // The copy's last second is its end: a detector decides there with less after it.
    std::vector<long> a = beats(clean.out), b = beats(offset.out);
    for (std::vector<long>* v : {&a, &b})
        v->erase(std::remove_if(v->begin(), v->end(), [](long p) { return p >= 451250 - 250; }), v->end());
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_LE(std::abs(a[i] - b[i]), 1) << i;
}

TEST(FormatFiles, FilesOfOtherProgramsOpen)
{
    if (!fs::exists(kFormats))
        GTEST_SKIP() << "no test data";
    CTime t;
    // Signals of several rates: each is judged at its own.
    auto bdf = OpenStandardRecording(In("pye_test_generator.bdf"), {}, &t);
    ASSERT_TRUE(bdf);
    EXPECT_EQ(bdf->Recording().sourceRate, 1000.0);
    EXPECT_EQ(bdf->GetSampleCount(), 30u * 250);
    EXPECT_EQ(OpenStandardRecording(In("pye_test_generator.bdf"), {"3"}, &t)->Recording().sourceRate, 500.0);

    auto sub = OpenStandardRecording(In("pye_test_subsecond.edf"), {}, &t);
    ASSERT_TRUE(sub);
    const LocalFields f = t.GetLocalFields();
    EXPECT_EQ(std::vector<int>({f.year, f.month, f.day, f.hour, f.minute, f.second}),
              std::vector<int>({2020, 1, 24, 4, 5, 56}));

    // HL7 aECG without an XML declaration, and its SCP-ECG copy.
    auto xml = OpenStandardRecording(In("fda_subject1_0.xml"), {}, &t);
    ASSERT_TRUE(xml);
    const ProgramRun a = RunAnalyze({"--json", In("fda_subject1_0.xml")});
    ASSERT_EQ(a.status, 0) << a.err;
    // The SCP-ECG file may not be copied into the project: compared where it is.
    if (fs::exists(In("contec_Example.scp"))) {
        auto scp = OpenStandardRecording(In("contec_Example.scp"), {}, &t);
        ASSERT_TRUE(scp);
        EXPECT_EQ(xml->Recording().leadLabel, scp->Recording().leadLabel);
        const ProgramRun b = RunAnalyze({"--json", In("contec_Example.scp")});
        EXPECT_EQ(a.out.substr(a.out.find("\"beats\"")), b.out.substr(b.out.find("\"beats\"")));
    }

    // Annotations only: no lead, not damaged.
    EXPECT_EQ(CauseOf(In("mne_SC4001EC-Hypnogram.edf")), CFileException::leadNotFound);

    // A signal typed ECG goes before any other; the export names it once.
    auto types = OpenStandardRecording(In("mne_chtypes_edf.edf"), {}, &t);
    EXPECT_EQ(types->Recording().leadLabel, "ECG ECG1");
    TempDir dir;
    const ProgramRun exported = RunAnalyze({"--lead", "ECG ECG1", "--export-edf", dir.Path("x.edf"), In("mne_chtypes_edf.edf")});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(ReadWholeFile(dir.Path("x.edf")).substr(256, 16), "ECG ECG1        ");
}

TEST(FormatFiles, DiscontinuousEdfIsRefusedAndCutHeadersAreDamaged)
{
    if (fs::exists(kFormats)) {
        EXPECT_EQ(CauseOf(In("edfplus-d-gap.edf")), CFileException::recordingDiscontinuous);
    }
    // A header shorter than its fixed part is a damaged EDF, not a long recording.
    TempDir dir;
    std::vector<uint8_t> cut(200, ' ');
    cut[0] = '0';
    dir.WriteBytes("cut.edf", cut);
    EXPECT_EQ(CauseOf(dir.Path("cut.edf")), CFileException::recordingDamaged);
}

TEST(FormatFiles, ExportsOtherProgramsTake)
{
    TempDir dir;
    // 2.5 s ending on a level, with the most negative value in it.
    std::vector<int16_t> samples(625, 300);
    samples[10] = -32768;
    CHolterFile ecg(dir.WriteSamples("rec", samples));
    ExportInput in;
    in.beats = {100, 400};
    in.hasStartTime = true;
    in.startTime = CTime(2090, 5, 6, 7, 8, 9);
    std::string error;
    ASSERT_TRUE(WriteWfdbRecord(dir.Path(""), "w", ecg, in, &error)) << error;
    const std::string dat = ReadWholeFile(dir.Path("w.dat"));
    EXPECT_EQ(uint8_t(dat[20]) | uint8_t(dat[21]) << 8, 0x8001);  // -32767: -32768 is "no sample"

    ASSERT_TRUE(WriteEdfPlus(dir.Path("x.edf"), ecg, in, &error)) << error;
    const std::string header = ReadWholeFile(dir.Path("x.edf")).substr(0, 256);
    EXPECT_EQ(header.substr(88, 21), "Startdate 06-MAY-2090");
    EXPECT_EQ(header.substr(168, 16), "06.05.yy07.08.09");
    CTime back;
    auto file = OpenStandardRecording(dir.Path("x.edf"), {}, &back);
    ASSERT_TRUE(file);
    EXPECT_EQ(back.GetTime(), in.startTime.GetTime());
    // The last record is filled with the last sample, not with zeros.
    const std::vector<int16_t> read = SamplesOf(*file);
    ASSERT_EQ(read.size(), 750u);
    EXPECT_EQ(std::vector<int16_t>(read.begin() + 625, read.end()), std::vector<int16_t>(125, 300));

    in.hasStartTime = false;
    ASSERT_TRUE(WriteEdfPlus(dir.Path("u.edf"), ecg, in, &error)) << error;
    EXPECT_FALSE(OpenStandardRecording(dir.Path("u.edf"), {}, &back)->GetStartTime(&back));

    // An EDF+D file whose records follow each other without a gap opens.
    std::string bytes = ReadWholeFile(dir.Path("x.edf"));
    ASSERT_EQ(bytes.substr(192, 5), "EDF+C");
    bytes.replace(192, 5, "EDF+D");
    dir.WriteBytes("d.edf", std::vector<uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(CauseOf(dir.Path("d.edf")), CFileException::none);
}
