// The export job: which files a target writes, the refusal of a target that
// is an input or one of its companion files (before anything is written),
// and a failure that names the file and the reason.
#include <gtest/gtest.h>

#include <filesystem>

#include "formats/ExportJob.h"
#include "formats/MitAnnotations.h"
#include "recording/File.h"
#include "support/Recordings.h"
#include "support/TempDir.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// A recording whose every read fails, as a vanished disk would.
class CFailingFile : public CEcgFile {
public:
    explicit CFailingFile(const std::string& path) : CEcgFile(path, NoOpen{}) {}
    uint64_t GetSampleCount() override { return 250 * 5; }
    uint32_t ReadSamples(int16_t*, uint64_t, uint32_t) override
    {
        throw CFileException(CFileException::genericException, 5, m_strFileName);
    }
    bool ReadHeader(void*) override { return false; }
    int GetFileKind() override { return ECG_KIND_HOLTER; }
    bool GetStartTime(CTime*) override { return false; }
    std::unique_ptr<CEcgFile> OpenReader() override { return nullptr; }
};

ExportInput ThreeBeats()
{
    ExportInput in;
    in.beats = {100, 400, 700};
    in.leadLabel = "ECG";
    return in;
}

}  // namespace

TEST(ExportJob, OutputsAndInputs)
{
    TempDir dir;
    // A record is named after the whole recording name, suffix included.
    const std::vector<std::string> wfdb = ExportOutputs({ExportKind::Wfdb, dir.Path("")}, "/x/24050508.00");
    ASSERT_EQ(wfdb.size(), 3u);
    for (const std::string& path : wfdb)
        EXPECT_EQ(fs::path(path).stem(), "24050508_00") << path;
    EXPECT_EQ(ExportOutputs({ExportKind::EdfPlus, "/y/a.edf"}, "/x/24050508.00"), std::vector<std::string>{"/y/a.edf"});

    // A WFDB header brings the files it is read from; each recording its review.
    const std::string text = "rec 1 250 1000\nrec.dat 16 200 16 0 0 0 0 ECG\n";
    const std::string hea = dir.WriteBytes("rec.hea", std::vector<uint8_t>(text.begin(), text.end()));
    const std::string holter = dir.WriteSamples("24050508.00", SpikeTrain(1000));
    EXPECT_EQ(InputFilesOf({holter, hea}),
              (std::vector<std::string>{holter, holter + ".vitrel.atr", hea, hea + ".vitrel.atr", dir.Path("rec.dat"),
                                        dir.Path("rec.atr")}));
}

TEST(ExportJob, RefusesAnInputBeforeWriting)
{
    TempDir dir;
    const std::string holter = dir.WriteSamples("24050508.00", SpikeTrain(2500));
    const std::string original = ReadWholeFile(holter);
    const std::vector<std::string> inputs = InputFilesOf({holter});
    CHolterFile ecg(holter);
    fs::create_symlink(holter, dir.Path("link.edf"));
    // The recording itself, a link to it and a spelling through "." are one file.
    for (const std::string& target : {holter, dir.Path("link.edf"), (dir.Dir() / "." / "24050508.00").string()}) {
        ExportFailure failure;
        EXPECT_FALSE(RunExport(ThreeBeats(), ecg, holter, {ExportKind::EdfPlus, target}, inputs, &failure)) << target;
        EXPECT_EQ(failure.why, ExportFailure::Reason::OverInput);
        EXPECT_EQ(failure.path, target);
        EXPECT_EQ(failure.input, holter);
    }
    EXPECT_EQ(ReadWholeFile(holter), original);
    // A file of its own is written.
    ExportFailure failure;
    EXPECT_TRUE(RunExport(ThreeBeats(), ecg, holter, {ExportKind::BeatsCsv, dir.Path("b.csv")}, inputs, &failure));
    EXPECT_EQ(failure.why, ExportFailure::Reason::None);
    EXPECT_FALSE(ReadWholeFile(dir.Path("b.csv")).empty());
}

TEST(ExportJob, FailuresNameTheFileAndTheReason)
{
    TempDir dir;
    const std::string holter = dir.WriteSamples("24050508.00", SpikeTrain(2500));
    CHolterFile ecg(holter);
    ExportFailure failure;
    const std::string nowhere = dir.Path("no-such-folder/x.csv");
    EXPECT_FALSE(RunExport(ThreeBeats(), ecg, holter, {ExportKind::BeatsCsv, nowhere}, {}, &failure));
    EXPECT_EQ(failure.why, ExportFailure::Reason::CannotWrite);
    EXPECT_EQ(failure.path, nowhere);
    EXPECT_FALSE(failure.text.empty());
    EXPECT_EQ(failure.text.find(nowhere), std::string::npos) << failure.text;

    // A WFDB record names the one of its files that failed.
    EXPECT_FALSE(RunExport(ThreeBeats(), ecg, holter, {ExportKind::Wfdb, dir.Path("gone")}, {}, &failure));
    EXPECT_EQ(failure.why, ExportFailure::Reason::CannotWrite);
    EXPECT_EQ(fs::path(failure.path).parent_path(), fs::path(dir.Path("gone")));

    // A recording that fails while it is read leaves no file behind.
    CFailingFile broken(holter);
    EXPECT_FALSE(RunExport(ThreeBeats(), broken, holter, {ExportKind::EdfPlus, dir.Path("c.edf")}, {}, &failure));
    EXPECT_EQ(failure.why, ExportFailure::Reason::CannotRead);
    EXPECT_NE(failure.text.find("24050508.00"), std::string::npos) << failure.text;
    EXPECT_FALSE(fs::exists(dir.Path("c.edf")));
}

// Classes and AF reach the files other programs read: the CSV's last column,
// the EDF+ annotation texts, the WFDB codes and rhythm changes.
TEST(ExportJob, ClassesAndAtrialFibrillationAreWritten)
{
    TempDir dir;
    const std::string rec = dir.WriteSamples("24050508.00", SpikeTrain(3000));
    ExportInput in;
    in.beats = {100, 400, 700, 1000, 1300, 1600};
    in.classes = {BeatClass::N, BeatClass::V, BeatClass::N, BeatClass::N, BeatClass::S, BeatClass::N};
    in.irregular = {400};
    in.af = {{EpisodeType::AF, 700, 1000, 2, 50.0f}, {EpisodeType::AF, 1300, 1600, 2, 50.0f}};
    in.leadLabel = "ECG";
    CHolterFile ecg(rec);
    ExportFailure failure;
    ASSERT_TRUE(RunExport(in, ecg, rec, {ExportKind::BeatsCsv, dir.Path("b.csv")}, {}, &failure)) << failure.text;
    EXPECT_NE(ReadWholeFile(dir.Path("b.csv")).find("400,00:00:01.600,1200,1,V\n"), std::string::npos)
        << ReadWholeFile(dir.Path("b.csv"));

    ASSERT_TRUE(RunExport(in, ecg, rec, {ExportKind::EdfPlus, dir.Path("a.edf")}, {}, &failure)) << failure.text;
    const std::string edf = ReadWholeFile(dir.Path("a.edf"));
    EXPECT_NE(edf.find(std::string("+2.800\x15" "1.200\x14" "AF\x14", 16)), std::string::npos);
    EXPECT_NE(edf.find(std::string("+1.600\x14V\x14", 9)), std::string::npos);

    ASSERT_TRUE(RunExport(in, ecg, rec, {ExportKind::Wfdb, dir.Path("")}, {}, &failure)) << failure.text;
    std::vector<MitAnnotation> atr;
    ASSERT_TRUE(DecodeMitAnnotations(ReadWholeFile(dir.Path("24050508_00.atr")), &atr));
    std::vector<std::string> seen;
    for (const MitAnnotation& a : atr)
        seen.push_back(std::to_string(a.sample) + (a.aux.empty() ? ":" + std::to_string(a.code) : a.aux));
    // Back-to-back episodes: the first ends before the second begins.
    EXPECT_EQ(seen, (std::vector<std::string>{"100:1", "400:5", "700(AFIB", "700:1", "1000:1", "1300(N", "1300(AFIB",
                                              "1300:9", "1600:1"}));
}
