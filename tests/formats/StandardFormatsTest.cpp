// Standard recordings through BioSig: recognition, decoding, the real
// record 100 read directly and as another program's EDF copy, reference
// annotations, damaged files, and the exports read back.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "analysis/EcgDocument.h"
#include "formats/Export.h"
#include "formats/Reference.h"
#include "formats/StandardFile.h"
#include "support/Programs.h"
#include "support/Recordings.h"
#include "support/TempDir.h"
#include "standard_harness.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

const fs::path kData = VITREL_DATA_DIR;
const fs::path kRecord100 = kData / "source" / "mitdb" / "100.hea";

// Runs a program (looked up on PATH) in Shanghai time; its standard error
// follows its output.
ProgramRun Command(const std::vector<std::string>& words)
{
    ProgramRun r = RunProgram(words[0], {words.begin() + 1, words.end()}, {"TZ=Asia/Shanghai"});
    r.out += r.err;
    return r;
}

ProgramRun Analyze(std::vector<std::string> args)
{
    args.insert(args.begin(), VITREL_ANALYZE_EXE);
    return Command(args);
}

// The JSON array after "key": in vitrel-analyze's output, as text.
std::string JsonArrayOf(const std::string& json, const std::string& key)
{
    const size_t at = json.find("\"" + key + "\":[");
    if (at == std::string::npos)
        return "<none>";
    const size_t open = json.find('[', at);
    return json.substr(open, json.find(']', open) - open + 1);
}

std::vector<uint32_t> NumbersOf(const std::string& array)
{
    std::vector<uint32_t> v;
    std::istringstream in(array.substr(1));
    uint32_t x;
    char sep;
    while (in >> x) {
        v.push_back(x);
        in >> sep;
    }
    return v;
}

bool HaveRecord100()
{
    return fs::exists(kRecord100);
}

// Record 100 copied beside the test (its three files).
std::string CopyRecord100(const TempDir& dir)
{
    for (const char* ext : {".hea", ".dat", ".atr"})
        fs::copy_file(kData / "source" / "mitdb" / (std::string("100") + ext), dir.Path(std::string("100") + ext));
    return dir.Path("100.hea");
}

// A 12-minute synthetic long recording with a start time in its name.
std::string SynthLong(const TempDir& dir)
{
    const ProgramRun r = Command({VITREL_SYNTH_EXE, "long", "--minutes", "12", "--start", "2024-05-06 09:15", dir.Path("")});
    EXPECT_EQ(r.status, 0) << r.out;
    return dir.Path("24050609.15");
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

}  // namespace

TEST(StandardRecording, Record100ReadDirectlyMatchesTheConvertedRecording)
{
    if (!HaveRecord100())
        GTEST_SKIP() << "no test data";
    CTime start(12345);
    auto file = OpenStandardRecording(kRecord100.string(), {}, &start);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetFileKind(), ECG_KIND_STANDARD);
    EXPECT_EQ(file->Recording().format, "MIT");
    EXPECT_EQ(file->Recording().leadLabel, "MLII");
    EXPECT_EQ(file->Recording().sourceRate, 360.0);
    EXPECT_FALSE(file->GetStartTime(&start));  // the header has no date
    EXPECT_EQ(start.GetTime(), 12345);

    // The shared data's converter resampled the same channel independently.
    const std::string converted = ReadWholeFile((kData / "mitdb-100" / "20030108.30").string());
    ASSERT_EQ(file->GetSampleCount(), converted.size() / 2);
    std::vector<int16_t> mine(file->GetSampleCount());
    ASSERT_EQ(file->ReadSamples(mine.data(), 0, uint32_t(mine.size())), mine.size());
    int worst = 0;
    for (size_t i = 50; i + 50 < mine.size(); ++i) {  // the resamplers' edges differ
        const int16_t theirs = int16_t(uint8_t(converted[2 * i]) | (uint8_t(converted[2 * i + 1]) << 8));
        worst = std::max(worst, std::abs(mine[i] - theirs));
    }
    EXPECT_LE(worst, 2);

    // The worker's reader serves the same lead without its baseline.
    auto reader = file->OpenReader();
    ASSERT_EQ(reader->GetSampleCount(), file->GetSampleCount());
    std::vector<int16_t> flat(mine.size());
    ASSERT_EQ(reader->ReadSamples(flat.data(), 0, uint32_t(flat.size())), flat.size());
    EXPECT_EQ(flat, WithoutBaseline(mine));
    int16_t a[4];
    EXPECT_EQ(reader->ReadSamples(a, file->GetSampleCount(), 4), 0u);
}

TEST(StandardRecording, EdfCopySavedByAnotherProgramGivesTheSameBeats)
{
    if (!HaveRecord100())
        GTEST_SKIP() << "no test data";
    if (Command({"sh", "-c", "command -v save2gdf"}).status != 0)
        GTEST_SKIP() << "save2gdf (biosig-tools) is not installed";
    TempDir dir;
    const std::string hea = CopyRecord100(dir);
    const std::string edf = dir.Path("100.edf");
    ASSERT_EQ(Command({"save2gdf", "-f=EDF", hea, edf}).status, 0);

    // The recorder's detector gives the very same beats on every copy.
    const ProgramRun direct = Analyze({"--json", "--detector", "standard", hea});
    const ProgramRun copy = Analyze({"--json", "--detector", "standard", edf});
    ASSERT_EQ(direct.status, 0) << direct.out;
    ASSERT_EQ(copy.status, 0) << copy.out;
    EXPECT_NE(direct.out.find("\"kind\":4"), std::string::npos);
    EXPECT_NE(copy.out.find("\"kind\":4"), std::string::npos);
    const std::string beats = JsonArrayOf(direct.out, "beats");
    EXPECT_GT(NumbersOf(beats).size(), 2200u);
    EXPECT_EQ(JsonArrayOf(copy.out, "beats"), beats);
    EXPECT_EQ(JsonArrayOf(copy.out, "abnormalBeats"), JsonArrayOf(direct.out, "abnormalBeats"));
    // The same through HL7 aECG (its XML states the rate as 359.9997 per second).
    const std::string xml = dir.Path("100.xml");
    ASSERT_EQ(Command({"save2gdf", "-f=HL7aECG", hea, xml}).status, 0);
    const ProgramRun hl7 = Analyze({"--json", "--detector", "standard", xml});
    ASSERT_EQ(hl7.status, 0) << hl7.out;
    EXPECT_EQ(JsonArrayOf(hl7.out, "beats"), beats);

    // The original annotations score the detector with no conversion.
    // The original annotations score the detector with no conversion: the
    // precise one by default for a standard recording, the recorder's on request.
    const ProgramRun scored = Analyze({"--reference", dir.Path("100.atr"), hea});
    EXPECT_EQ(scored.status, 0) << scored.out;
    EXPECT_NE(scored.out.find("reference TP 2273 FN 0 FP 0"), std::string::npos) << scored.out;
    const ProgramRun standard = Analyze({"--detector", "standard", "--reference", dir.Path("100.atr"), hea});
    EXPECT_NE(standard.out.find("reference TP 2272 FN 1 FP 0"), std::string::npos) << standard.out;
    // The precise detector's beats on the EDF copy are those of the record, to a sample.
    const std::vector<uint32_t> a = NumbersOf(JsonArrayOf(Analyze({"--json", hea}).out, "beats"));
    const std::vector<uint32_t> b = NumbersOf(JsonArrayOf(Analyze({"--json", edf}).out, "beats"));
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_LE(std::abs(int(a[i]) - int(b[i])), 1) << i;
}

TEST(StandardRecording, RecorderFilesAreNeverTakenForStandardOnes)
{
    TempDir dir;
    std::vector<std::string> files;
    ASSERT_EQ(Command({VITREL_SYNTH_EXE, "short", dir.Path("n.ecg")}).status, 0);
    ASSERT_EQ(Command({VITREL_SYNTH_EXE, "short", "--remote", dir.Path("r.ecg")}).status, 0);
    ASSERT_EQ(Command({VITREL_SYNTH_EXE, "long", "--minutes", "2", dir.Path("")}).status, 0);
    for (const auto& e : fs::recursive_directory_iterator(dir.Dir()))
        if (e.is_regular_file())
            files.push_back(e.path().string());
    if (fs::is_directory(kData))
        for (const auto& e : fs::recursive_directory_iterator(kData))
            if (e.is_regular_file() && e.path().parent_path().filename().string().rfind("mitdb-", 0) == 0 &&
                e.path().extension() != ".csv" && e.path().extension() != ".json")
                files.push_back(e.path().string());
    const fs::path regressions = fs::path(VITREL_FUZZ_REGRESSIONS);
    if (fs::is_directory(regressions))
        for (const auto& e : fs::recursive_directory_iterator(regressions))
            if (e.is_regular_file())
                files.push_back(e.path().string());
    ASSERT_GE(files.size(), 3u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        CTime t;
        EXPECT_EQ(OpenStandardRecording(path, {}, &t), nullptr);
        EXPECT_EQ(ClassifyReference(path), ReferenceKind::none);
    }
}

TEST(StandardRecording, LeadChoice)
{
    EXPECT_LT(EcgLeadRank("II"), EcgLeadRank("MLII"));
    EXPECT_LT(EcgLeadRank("ECG MLII"), EcgLeadRank("ECG"));
    EXPECT_LT(EcgLeadRank("EKG"), EcgLeadRank("I"));
    EXPECT_LT(EcgLeadRank("i"), EcgLeadRank("V1"));
    EXPECT_LT(EcgLeadRank("V6"), EcgLeadRank("aVF"));
    EXPECT_EQ(EcgLeadRank("ECG II"), EcgLeadRank("II"));
    for (const char* other : {"Resp", "EEG Fpz-Cz", "", "SpO2", "Pleth"})
        EXPECT_EQ(EcgLeadRank(other), -1) << other;

    if (!HaveRecord100())
        return;
    CTime t;
    EXPECT_EQ(OpenStandardRecording(kRecord100.string(), {"2"}, &t)->Recording().leadLabel, "V5");
    EXPECT_EQ(OpenStandardRecording(kRecord100.string(), {"v5"}, &t)->Recording().leadNumber, 2);
    EXPECT_EQ(CauseOf(kRecord100.string(), {"3"}), CFileException::leadNotFound);
    const ProgramRun r = Analyze({"--lead", "V6", kRecord100.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(kRecord100.string() + " 中没有可用的心电导联。"), std::string::npos) << r.out;
}

TEST(StandardRecording, DamagedFilesGiveAMessage)
{
    TempDir dir;
    const std::string holter = SynthLong(dir);
    const std::string edf = dir.Path("good.edf");
    ASSERT_EQ(Analyze({"--export-edf", edf, holter}).status, 0);
    const std::string good = ReadWholeFile(edf);

    // A header cut short, then a data section shorter than the header says.
    dir.WriteBytes("cut.edf", std::vector<uint8_t>(good.begin(), good.begin() + 300));
    EXPECT_EQ(CauseOf(dir.Path("cut.edf")), CFileException::recordingDamaged);
    dir.WriteBytes("short.edf", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2)));
    EXPECT_NE(CauseOf(dir.Path("short.edf")), CFileException::none);
    // A header whose signal count does not fit its length.
    std::string badCount = good;
    badCount.replace(252, 4, "9   ");
    dir.WriteBytes("count.edf", std::vector<uint8_t>(badCount.begin(), badCount.end()));
    EXPECT_EQ(CauseOf(dir.Path("count.edf")), CFileException::recordingDamaged);

    // Signatures with nothing sound behind them.
    std::vector<uint8_t> scp(400, 0x11);
    std::copy_n("SCPECG", 6, scp.begin() + 16);
    scp[8] = scp[9] = 0;
    dir.WriteBytes("x.scp", scp);
    EXPECT_NE(CauseOf(dir.Path("x.scp")), CFileException::none);
    const std::string xml = "<?xml version=\"1.0\"?>\n<AnnotatedECG xmlns=\"urn:hl7-org:v3\"><id/>";
    dir.WriteBytes("x.xml", std::vector<uint8_t>(xml.begin(), xml.end()));
    EXPECT_NE(CauseOf(dir.Path("x.xml")), CFileException::none);

    // A WFDB header whose signal file is missing names that file.
    const std::string hea = "rec 1 250 1000\nrec.dat 16 200 16 0 0 0 0 ECG\n";
    dir.WriteBytes("rec.hea", std::vector<uint8_t>(hea.begin(), hea.end()));
    const ProgramRun r = Analyze({dir.Path("rec.hea")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("没有找到 " + dir.Path("rec.dat") + "。"), std::string::npos) << r.out;
    // The same header with its name not matching the record is no WFDB header.
    fs::copy_file(dir.Path("rec.hea"), dir.Path("other.hea"));
    CTime t;
    EXPECT_EQ(OpenStandardRecording(dir.Path("other.hea"), {}, &t), nullptr);
}

TEST(StandardRecording, BitPackedGdfIsRefused)
{
    if (!HaveRecord100() || Command({"sh", "-c", "command -v save2gdf"}).status != 0)
        GTEST_SKIP() << "needs record 100 and save2gdf";
    TempDir dir;
    const std::string hea = CopyRecord100(dir);
    ASSERT_EQ(Command({"save2gdf", "-f=GDF", hea, dir.Path("100.gdf")}).status, 0);
    EXPECT_EQ(CauseOf(dir.Path("100.gdf")), CFileException::formatUnsupported);
    // Its annotations are still a reference.
    std::vector<int64_t> beats;
    std::string error;
    ASSERT_TRUE(ReadReferenceBeats(dir.Path("100.gdf"), &beats, &error)) << error;
    EXPECT_EQ(beats.size(), 2273u);
}

TEST(Exports, ReadBackThroughTheStandardReaders)
{
    TempDir dir;
    const std::string holter = SynthLong(dir);
    const ProgramRun json = Analyze({"--json", "--beats", dir.Path("b.csv"), "--export-edf", dir.Path("x.edf"),
                              "--export-wfdb", dir.Path(""), holter});
    ASSERT_EQ(json.status, 0) << json.out;
    const std::vector<uint32_t> beats = NumbersOf(JsonArrayOf(json.out, "beats"));
    const std::vector<uint32_t> abnormal = NumbersOf(JsonArrayOf(json.out, "abnormalBeats"));
    ASSERT_GT(beats.size(), 500u);
    ASSERT_FALSE(abnormal.empty());

    // CSV: position, clock time, RR, irregular flag, class.
    std::ifstream csv(dir.Path("b.csv"));
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(csv, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size(), beats.size());
    EXPECT_EQ(lines[0], std::to_string(beats[0]) + ",2024-05-06 09:15:" +
                            (beats[0] / 250 < 10 ? "0" : "") + std::to_string(beats[0] / 250) + "." +
                            (beats[0] % 250 * 4 < 100 ? (beats[0] % 250 * 4 < 10 ? "00" : "0") : "") +
                            std::to_string(beats[0] % 250 * 4) + ",,0,N");
    const size_t k = size_t(std::find(beats.begin(), beats.end(), abnormal[0]) - beats.begin());
    ASSERT_GT(k, 0u);
    EXPECT_EQ(lines[k].substr(lines[k].rfind(',', lines[k].size() - 5)),
              "," + std::to_string((beats[k] - beats[k - 1]) * 4) + ",1,N");

    CTime start;
    std::vector<int16_t> original(3 * 60 * 250), back(original.size());
    CHolterFile source(holter);
    ASSERT_EQ(source.ReadSamples(original.data(), 0, uint32_t(original.size())), original.size());
    for (const std::string& path : {dir.Path("x.edf"), dir.Path("24050609_15.hea")}) {
        SCOPED_TRACE(path);
        auto file = OpenStandardRecording(path, {}, &start);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->Recording().sourceRate, 250.0);
        ASSERT_GE(file->GetSampleCount(), source.GetSampleCount());
        ASSERT_EQ(file->ReadSamples(back.data(), 0, uint32_t(back.size())), back.size());
        EXPECT_EQ(back, original);
        ASSERT_TRUE(file->GetStartTime(&start));
        EXPECT_EQ(start.GetLocalFields().hour, 9);
        EXPECT_EQ(start.GetLocalFields().minute, 15);
    }
    for (const std::string& path : {dir.Path("x.edf"), dir.Path("24050609_15.atr")}) {
        std::vector<int64_t> ref;
        std::string error;
        ASSERT_TRUE(ReadReferenceBeats(path, &ref, &error)) << error;
        EXPECT_EQ(ref, std::vector<int64_t>(beats.begin(), beats.end())) << path;
    }
    // The record's own checksum, as WFDB readers verify it.
    const std::string dat = ReadWholeFile(dir.Path("24050609_15.dat"));
    uint16_t sum = 0;
    for (size_t i = 0; i + 1 < dat.size(); i += 2)
        sum = uint16_t(sum + (uint8_t(dat[i]) | (uint8_t(dat[i + 1]) << 8)));
    const std::string hea = ReadWholeFile(dir.Path("24050609_15.hea"));
    EXPECT_EQ(hea.substr(0, hea.find('\n')), "24050609_15 1 250 180000 09:15:00 06/05/2024");
    EXPECT_NE(hea.find(" " + std::to_string(int16_t(sum)) + " 0 ECG\n"), std::string::npos) << hea;
}

TEST(Exports, FailuresLeaveNoPartialFileAndNoChangedTarget)
{
    TempDir dir;
    const std::string holter = SynthLong(dir);
    CHolterFile ecg(holter);
    ExportInput in;
    in.beats = {100, 400, 700};
    const std::string out = dir.Path("out.edf");
    dir.WriteBytes("out.edf", {'o', 'l', 'd'});
    const auto leftovers = [&] {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir.Dir()))
            n += e.path().filename().string().rfind(".out.edf.", 0) == 0;
        return n;
    };

    // A file-size limit: the writes fail part way.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        const bool written = WriteEdfPlus(out, ecg, in, &error);
        ::_exit(!written && error.find(out + ": File too large") == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadWholeFile(out), "old");
    EXPECT_EQ(leftovers(), 0);

    // A folder that is not there.
    std::string error;
    const std::string gone = dir.Path("gone/beats.csv");
    EXPECT_FALSE(WriteBeatsCsv(gone, in, &error));
    EXPECT_EQ(error, gone + ": No such file or directory");
    EXPECT_FALSE(WriteWfdbRecord(dir.Path("gone"), "r", ecg, in, &error));
    EXPECT_FALSE(fs::exists(dir.Path("gone")));

    // From the command line: status 1, the message, the input untouched.
    const std::string before = ReadWholeFile(holter);
    const ProgramRun same = Analyze({"--export-edf", holter, holter});
    EXPECT_EQ(same.status, 1);
    EXPECT_NE(same.out.find("it is the input"), std::string::npos) << same.out;
    EXPECT_EQ(ReadWholeFile(holter), before);
    const ProgramRun gonedir = Analyze({"--beats", gone, holter});
    EXPECT_EQ(gonedir.status, 1);
    EXPECT_NE(gonedir.out.find(gone + ": No such file or directory"), std::string::npos) << gonedir.out;
    if (HaveRecord100()) {
        // The record's own folder would get a new 100.dat over the input.
        TempDir rec;
        const std::string hea = CopyRecord100(rec);
        const std::string dat = ReadWholeFile(rec.Path("100.dat"));
        EXPECT_EQ(Analyze({"--export-wfdb", rec.Path(""), hea}).status, 1);
        EXPECT_EQ(ReadWholeFile(rec.Path("100.dat")), dat);
    }
}

TEST(StandardRecording, OpensAsALongRecordingThroughTheDocument)
{
    if (!HaveRecord100())
        GTEST_SKIP() << "no test data";
    RegisterStandardFormats();
    CEcgDocument doc;
    doc.OpenFile(kRecord100.string());
    EXPECT_EQ(doc.GetFileKind(), ECG_KIND_STANDARD);
    EXPECT_EQ(doc.GetStartTime().GetTime(), 0);
    doc.StartAnalysis(nullptr);
    EXPECT_TRUE(doc.IsAnalysisRunning() || doc.IsDetectionDone());
    doc.WaitAnalysis();
    std::vector<uint32_t> beats;
    doc.GetBeatsInRange(0, UINT32_MAX, beats);
    EXPECT_GT(beats.size(), 2200u);
    EXPECT_TRUE(doc.IsStatisticsReady());
    SetStandardFormatOpener(nullptr);
    // Without the opener the same header is a tiny long recording of text.
    doc.OpenFile(kRecord100.string());
    EXPECT_EQ(doc.GetFileKind(), ECG_KIND_HOLTER);
}

TEST(StandardRecording, FuzzInputsRunClean)
{
    RegisterStandardFormats();
    int replayed = 0;
    const fs::path dir = fs::path(VITREL_FUZZ_REGRESSIONS) / "standard_format";
    if (fs::is_directory(dir)) {
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string bytes = ReadWholeFile(e.path().string());
            FuzzStandardFormat(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    // Each name with an empty file, a bare signature and a cut header.
    const std::string edfStart = "0       X X X X";
    const std::string hea = "rec 1 250 100\nrec.dat 16 200 16 0 0 0 0 ECG\n";
    for (uint8_t selector = 0; selector < 7; ++selector) {
        for (const std::string& body : {std::string(), std::string("\xff" "BIOSEMI"), edfStart + std::string(300, ' '),
                                        std::string("GDF 2.10") + std::string(300, '\0'),
                                        std::string(char(hea.size()), 1) + hea + std::string(200, '\x01')}) {
            std::string input(1, char(selector));
            input += body;
            FuzzStandardFormat(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        }
    }
    SetStandardFormatOpener(nullptr);
    SUCCEED() << replayed << " saved inputs";
}
