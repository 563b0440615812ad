// Damaged disks and files that change under a running analysis, and report
// output that cannot be written. Runs under the faultinject shim (LD_PRELOAD)
// where the build allows it; the cases that need the shim skip without it.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "analysis/EcgDocument.h"
#include "formats/ReviewFile.h"
#include "support/AnalysisViews.h"
#include "support/DocumentAccess.h"
#include "support/Programs.h"
#include "support/Recordings.h"
#include "support/SyntheticEcg.h"
#include "support/TempDir.h"
#include "support/TimeZone.h"

using namespace testsupport;

namespace {

using Ev = RecordingView::Event;

bool ShimLoaded() { return ::dlsym(RTLD_DEFAULT, "vitrel_faultinject_active") != nullptr; }

#define REQUIRE_SHIM()                                               \
    do {                                                             \
        if (!ShimLoaded())                                           \
            GTEST_SKIP() << "needs the faultinject shim preloaded"; \
    } while (0)

#ifdef VITREL_HAVE_REPORT
#define REQUIRE_REPORT() \
    do {                 \
    } while (0)
#else
#define REQUIRE_REPORT() GTEST_SKIP() << "this build has no report renderer"
#endif

// Damages the files whose path contains `match` while in scope.
class Fault {
public:
    Fault(const std::string& match, const std::string& mode)
    {
        ::setenv("VITREL_FAULT_PATH", match.c_str(), 1);
        ::setenv("VITREL_FAULT_MODE", mode.c_str(), 1);
    }
    ~Fault()
    {
        ::unsetenv("VITREL_FAULT_PATH");
        ::unsetenv("VITREL_FAULT_MODE");
    }
};

struct Outcome {
    bool completed = false;
    std::vector<Ev> events;
    std::vector<uint32_t> beats;
    uint64_t samples = 0;
};

Outcome Analyse(const std::string& path)
{
    Outcome o;
    CEcgDocument doc;
    doc.OpenFile(path);
    RecordingView view;
    doc.StartAnalysis(&view);
    doc.WaitAnalysis();
    o.completed = doc.IsDetectionDone();
    o.events = view.Events();
    o.beats = DocAccess::Beats(doc);
    o.samples = doc.GetSampleCount();
    return o;
}

// Runs vitrel-analyze with the shim's settings in env; `during` runs while it works.
ProgramRun Analyze(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const std::function<void()>& during = {})
{
    const ProgramRun run = RunAnalyze(args, env, during);
    EXPECT_NE(run.status, -1) << "cannot start vitrel-analyze";
    EXPECT_FALSE(run.hung) << "vitrel-analyze hung";
    return run;
}

// Names of the files in a folder, sorted.
std::vector<std::string> Folder(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class FaultTest : public ::testing::Test {
protected:
    ScopedTimeZone m_tz{"UTC"};

    // Ten minutes at 250 samples/s with a beat every 200 samples.
    std::string LongRecording(const std::string& name, uint32_t samples = 150000)
    {
        const std::string path = m_dir.Path(name);
        WriteSamples(path, SyntheticEcg(samples, 200, 1500, 5, 10));
        return path;
    }

    // A short recording, and a folder holding an older report.pdf.
    void ReportSetup()
    {
        m_recording = m_dir.Path("short.ecg");
        WriteShortRecording(m_recording, 5, {100, 600, 1100, 1600, 2100});
        m_reportDir = m_dir.Path("reports");
        ::mkdir(m_reportDir.c_str(), 0755);
        m_report = m_reportDir + "/report.pdf";
        std::ofstream(m_report, std::ios::binary | std::ios::trunc) << "an older report";
    }
    // The folder holds the older report and nothing else.
    void ExpectOlderReportOnly()
    {
        EXPECT_EQ(Folder(m_reportDir), std::vector<std::string>{"report.pdf"});
        EXPECT_TRUE(ReadWholeFile(m_report) == "an older report") << "the older report was replaced";
    }

    TempDir m_dir;
    std::string m_recording, m_reportDir, m_report;
};

TEST_F(FaultTest, ShortReadsGiveIdenticalResults)
{
    REQUIRE_SHIM();
    const std::string path = LongRecording("10110814.30");
    const Outcome clean = Analyse(path);
    ASSERT_TRUE(clean.completed);
    ASSERT_GT(clean.beats.size(), 100u);
    const ProgramRun cleanRun = Analyze({"--json", path}, {});
    ASSERT_EQ(cleanRun.status, 0) << cleanRun.err;
    const ProgramRun cleanPrecise = Analyze({"--json", "--detector", "precise", path}, {});
    ASSERT_EQ(cleanPrecise.status, 0) << cleanPrecise.err;

    for (const char* mode : {"short=1", "short=7", "short=4095"}) {
        SCOPED_TRACE(mode);
        {
            Fault fault("10110814.30", mode);
            const Outcome damaged = Analyse(path);
            EXPECT_TRUE(damaged.completed);
            EXPECT_EQ(damaged.beats, clean.beats);
            EXPECT_EQ(damaged.events, clean.events);
            // The strip's reads see the same samples.
            CEcgDocument doc;
            doc.OpenFile(path);
            std::vector<int16_t> got(5000);
            ASSERT_EQ(doc.ReadSamples(got.data(), 70000, 5000), 5000u);
            const std::vector<int16_t> want = SyntheticEcg(150000, 200, 1500, 5, 10);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin() + 70000));
        }
        const ProgramRun run = Analyze({"--json", path}, {"VITREL_FAULT_PATH=10110814.30", std::string("VITREL_FAULT_MODE=") + mode});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, cleanRun.out);
        // The precise detector takes the same chunks, only the new part of each.
        const ProgramRun precise = Analyze({"--json", "--detector", "precise", path},
                                        {"VITREL_FAULT_PATH=10110814.30", std::string("VITREL_FAULT_MODE=") + mode});
        EXPECT_EQ(precise.status, 0) << precise.err;
        EXPECT_EQ(precise.out, cleanPrecise.out);
    }
}

TEST_F(FaultTest, ShortRecordingHeaderReadInPieces)
{
    REQUIRE_SHIM();
    const std::string path = m_dir.Path("pieces.ecg");
    WriteShortRecording(path, 4, {100, 350, 600, 850});
    const std::vector<uint32_t> want{100, 350, 600, 850};
    for (const char* mode : {"short=1", "short=33", "eio=5000"}) {
        SCOPED_TRACE(mode);
        Fault fault("pieces.ecg", mode);
        CEcgDocument doc;
        doc.OpenFile(path);
        RecordingView view;
        doc.StartAnalysis(&view);
        EXPECT_TRUE(doc.IsDetectionDone());
        if (std::string(mode).rfind("short", 0) == 0) {
            // Pieces are read until the header is whole.
            EXPECT_EQ(DocAccess::Beats(doc), want);
            EXPECT_TRUE(doc.IsStatisticsReady());
        } else {
            // The open read the header whole; the second read stops part-way:
            // a header without beats.
            EXPECT_TRUE(DocAccess::Beats(doc).empty());
            EXPECT_EQ(view.Events().back(), (Ev{Ev::StatisticsFinished, 0}));
        }
    }
}

TEST_F(FaultTest, ReadErrorMidwayEndsTheRunNotCompleted)
{
    REQUIRE_SHIM();
    const std::string path = LongRecording("10110815.30");
    {
        // The priming read and the first chunks succeed, then the disk fails.
        Fault fault("10110815.30", "eio=120000");
        const Outcome o = Analyse(path);
        EXPECT_FALSE(o.completed);
        ASSERT_GE(o.events.size(), 2u);
        EXPECT_EQ(o.events.front(), (Ev{Ev::Show, 0}));
        EXPECT_EQ(o.events.back(), (Ev{Ev::DetectionFinished, 0}));
        for (const Ev& e : o.events)
            EXPECT_NE(e.kind, Ev::BeginStatistics);
    }
    {
        // Failing from the first byte: the file still opens (its length is
        // known), the view reads nothing, the run does not complete.
        Fault fault("10110815.30", "eio=0");
        CEcgDocument doc;
        doc.OpenFile(path);
        int16_t s[16];
        EXPECT_THROW(doc.ReadSamples(s, 0, 16), CFileException);
        RecordingView view;
        doc.StartAnalysis(&view);
        doc.WaitAnalysis();
        EXPECT_FALSE(doc.IsDetectionDone());
        EXPECT_FALSE(doc.IsStatisticsReady());
        EXPECT_EQ(view.Events(), (std::vector<Ev>{{Ev::Show, 0}, {Ev::DetectionFinished, 0}}));
    }
    for (const char* detector : {"standard", "precise"}) {
        const ProgramRun run = Analyze({"--json", "--detector", detector, path},
                                    {"VITREL_FAULT_PATH=10110815.30", "VITREL_FAULT_MODE=eio=120000"});
        EXPECT_EQ(run.status, 1) << detector;
        EXPECT_NE(run.out.find("\"completed\":false"), std::string::npos) << run.out;
        EXPECT_NE(run.err.find("did not complete"), std::string::npos) << run.err;
    }
}

TEST_F(FaultTest, PermissionDeniedOnOpen)
{
    REQUIRE_SHIM();
    const std::string path = LongRecording("10110816.30");
    {
        Fault fault("10110816.30", "eacces");
        CEcgDocument doc;
        try {
            doc.OpenFile(path);
            FAIL() << "opened";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_cause, CFileException::accessDenied);
            EXPECT_EQ(e.GetErrorMessage(), "对 " + path + " 的访问被拒绝。");
        }
    }
    const ProgramRun run = Analyze({path}, {"VITREL_FAULT_PATH=10110816.30", "VITREL_FAULT_MODE=eacces"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("对 " + path + " 的访问被拒绝。"), std::string::npos) << run.err;
}

TEST_F(FaultTest, FileThatLooksTruncated)
{
    REQUIRE_SHIM();
    const std::string path = LongRecording("10110817.30");
    {
        // An odd length: the last byte is no sample.
        Fault fault("10110817.30", "truncate=60001");
        const Outcome o = Analyse(path);
        EXPECT_EQ(o.samples, 30000u);
        EXPECT_TRUE(o.completed);
        ASSERT_FALSE(o.beats.empty());
        EXPECT_LT(o.beats.back(), 30000u);
    }
    {
        // A short recording cut to a long recording's length becomes one.
        const std::string shortPath = m_dir.Path("short.ecg");
        WriteShortRecording(shortPath, 5, {100, 600, 1100, 1600, 2100});
        Fault fault("short.ecg", "truncate=14000");
        CTime start(0);
        auto file = OpenEcgFile(shortPath, &start);
        EXPECT_EQ(file->GetFileKind(), 1);
        EXPECT_EQ(file->GetSampleCount(), 7000u);
        std::vector<int16_t> s(8000);
        EXPECT_EQ(file->ReadSamples(s.data(), 6990, 100), 10u);
    }
    const ProgramRun run = Analyze({"--json", path}, {"VITREL_FAULT_PATH=10110817.30", "VITREL_FAULT_MODE=truncate=0"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"completed\":true"), std::string::npos) << run.out;
}

// Sparse files of several GiB: the kind follows the exact 64-bit length and
// reads at the far end work without touching the rest.
TEST_F(FaultTest, HugeSparseRecordings)
{
    const uint64_t fourGiB = uint64_t(1) << 32;
    const std::string big = m_dir.Path("big.ecg");
    for (uint64_t bytes : {fourGiB + NORMAL_FILE_LENGTH, 2 * fourGiB + 2}) {
        std::ofstream(big, std::ios::binary | std::ios::trunc).close();
        ASSERT_EQ(::truncate(big.c_str(), off_t(bytes)), 0);
        CEcgDocument doc;
        doc.OpenFile(big);
        EXPECT_EQ(doc.GetFileKind(), 1);
        EXPECT_EQ(doc.GetSampleCount(), bytes / 2);
        std::vector<int16_t> s(100, 7);
        EXPECT_EQ(doc.ReadSamples(s.data(), int64_t(bytes / 2 - 10), 100), 10u);
        EXPECT_EQ(s[0], 0);
        EXPECT_EQ(doc.ReadSamples(s.data(), int64_t(bytes / 2), 100), 0u);
    }
    ::unlink(big.c_str());
}

// A long run really shrinks or loses its file while it reads; reads are
// slowed by the shim when it is there, so the cut lands mid-way.
TEST_F(FaultTest, FileTruncatedOrRemovedDuringALongRun)
{
    const uint32_t samples = 2000000;  // a little over two hours
    const std::string path = LongRecording("10110818.30", samples);
    const std::string slow = ShimLoaded() ? "VITREL_FAULT_MODE=slow=20000" : "VITREL_FAULT_MODE=";
    const auto after = [](int ms, std::function<void()> act) {
        return [=] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            act();
        };
    };

    const ProgramRun cut = Analyze({"--json", path}, {"VITREL_FAULT_PATH=10110818.30", slow},
                            after(150, [&] { EXPECT_EQ(::truncate(path.c_str(), 400000), 0); }));
    EXPECT_TRUE(cut.status == 0 || cut.status == 1) << cut.status << cut.err;
    if (cut.status == 0) {
        // The trace ends where the data ends.
        EXPECT_NE(cut.out.find("\"completed\":true"), std::string::npos) << cut.out;
    } else {
        EXPECT_NE(cut.out.find("\"completed\":false"), std::string::npos) << cut.out;
    }

    WriteSamples(path, SyntheticEcg(samples, 200, 1500, 5, 10));
    const ProgramRun gone = Analyze({"--json", path}, {"VITREL_FAULT_PATH=10110818.30", slow},
                             after(150, [&] { EXPECT_EQ(::unlink(path.c_str()), 0); }));
    // The open descriptors keep the data: unless the run had not opened its
    // reader yet, it completes.
    EXPECT_TRUE(gone.status == 0 || gone.status == 1) << gone.status << gone.err;

    // In process: the document shrinks under the strip and the worker.
    WriteSamples(path, SyntheticEcg(samples, 200, 1500, 5, 10));
    {
        Fault fault("10110818.30", ShimLoaded() ? "slow=20000" : "");
        CEcgDocument doc;
        doc.OpenFile(path);
        RecordingView view;
        std::atomic<int> calls{0};
        view.onProgress = [&](short) {
            // The worker has read no more than two chunks by now.
            if (++calls == 1) {
                EXPECT_EQ(::truncate(path.c_str(), 400001), 0);
            }
        };
        doc.StartAnalysis(&view);
        std::vector<int16_t> buf(4000);
        // The strip keeps reading while the file shrinks: fewer samples, never garbage.
        for (int i = 0; i < 50 && doc.IsAnalysisRunning(); ++i) {
            const uint32_t n = doc.ReadSamples(buf.data(), 199000, 4000);
            EXPECT_TRUE(n == 4000u || n == 1000u || n == 0u) << n;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        doc.WaitAnalysis();
        EXPECT_EQ(doc.ReadSamples(buf.data(), 199000, 4000), 1000u);
        EXPECT_EQ(doc.ReadSamples(buf.data(), 210000, 4000), 0u);
        if (doc.IsDetectionDone()) {
            ASSERT_FALSE(DocAccess::Beats(doc).empty());
            EXPECT_LT(DocAccess::Beats(doc).back(), 200000u);
        }
    }
}

// Whatever stops the report half-way, the older report stays as it was,
// nothing else is left in its folder, and the message names the path and
// the system's reason.
TEST_F(FaultTest, ReportWriteFailuresKeepTheOlderReport)
{
    REQUIRE_SHIM();
    REQUIRE_REPORT();
    ReportSetup();
    struct Case {
        const char* match;
        const char* mode;
        const char* reason;
    };
    // The scratch file the pages are rendered into is opened by the folder's
    // path; only the file that replaces the report has ".report.pdf." in its name.
    const Case cases[] = {
        {"reports", "enospc=0", "No space left on device"},
        {"reports", "enospc=20000", "No space left on device"},
        {".report.pdf.", "enospc=20000", "No space left on device"},
        {"reports", "write-eio=4096", "Input/output error"},
        {".report.pdf.", "efbig=60000", "File too large"},
        {".report.pdf.", "fsync-eio", "Input/output error"},
        {"report.pdf", "rename-enoent", "No such file or directory"},
        {"reports", "eacces", "Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.match) + " " + c.mode);
        const ProgramRun run = Analyze({"--report", m_report, m_recording},
                                    {std::string("VITREL_FAULT_PATH=") + c.match, std::string("VITREL_FAULT_MODE=") + c.mode});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find(m_report), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        ExpectOlderReportOnly();
        std::ofstream(m_report, std::ios::binary | std::ios::trunc) << "an older report";
    }

    // Writes that take a few bytes at a time only take longer.
    const ProgramRun clean = Analyze({"--report", m_report, m_recording}, {});
    ASSERT_EQ(clean.status, 0) << clean.err;
    const std::string want = ReadWholeFile(m_report);
    ASSERT_EQ(want.compare(0, 5, "%PDF-"), 0);
    std::ofstream(m_report, std::ios::binary | std::ios::trunc) << "an older report";
    const ProgramRun shortWrites =
        Analyze({"--report", m_report, m_recording}, {"VITREL_FAULT_PATH=reports", "VITREL_FAULT_MODE=short=7"});
    EXPECT_EQ(shortWrites.status, 0) << shortWrites.err;
    EXPECT_EQ(Folder(m_reportDir), std::vector<std::string>{"report.pdf"});
    // Only the printing time differs, and with it a few compressed bytes.
    const std::string got = ReadWholeFile(m_report);
    EXPECT_NEAR(double(got.size()), double(want.size()), 100);
    EXPECT_EQ(got.compare(0, 5, "%PDF-"), 0);
    EXPECT_EQ(got.substr(got.size() - 6), "%%EOF\n");
}

// A real file-size limit: the write fails with EFBIG instead of the signal
// ending the program half-way.
TEST_F(FaultTest, ReportOverTheFileSizeLimit)
{
    REQUIRE_REPORT();
    ReportSetup();
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 40000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &low), 0);
    const ProgramRun run = Analyze({"--report", m_report, m_recording}, {});
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(m_report), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    ExpectOlderReportOnly();
}

}  // namespace

// A review saved on a failing disk: the older review stays whole, and the
// message names the file and the system's reason.
TEST(FaultReview, SaveFailuresKeepTheOlderReview)
{
    REQUIRE_SHIM();
    TempDir dir;
    const std::string rec = WriteSamples(dir.Path("20030108.30"), SpikeTrain(3000));
    CHolterFile file(rec);
    const RecordingIdentity id = IdentifyRecording(file);
    const std::string path = ReviewPathFor(rec);
    std::string error;
    ASSERT_TRUE(WriteReview(path, id, {100, 300}, {BeatClass::N, BeatClass::N}, &error)) << error;
    const std::string older = ReadWholeFile(path);
    std::vector<uint32_t> beats;
    for (uint32_t b = 10; b < 3000; b += 2)
        beats.push_back(b);
    const std::vector<BeatClass> classes(beats.size(), BeatClass::V);
    for (const auto& [mode, reason] : std::vector<std::pair<std::string, std::string>>{
             {"enospc=0", "No space left on device"},
             {"enospc=100", "No space left on device"},
             {"write-eio=64", "Input/output error"},
             {"fsync-eio", "Input/output error"},
             {"rename-enoent", "No such file or directory"}}) {
        SCOPED_TRACE(mode);
        {
            Fault fault(".vitrel.atr", mode);
            error.clear();
            EXPECT_FALSE(WriteReview(path, id, beats, classes, &error));
        }
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(ReadWholeFile(path), older);
        EXPECT_EQ(Folder(dir.Dir().string()).size(), 2u);  // no temporary file left behind
    }
    // Writes a few bytes at a time only take longer.
    {
        Fault fault(".vitrel.atr", "short=3");
        ASSERT_TRUE(WriteReview(path, id, beats, classes, &error)) << error;
    }
    SavedReview review;
    ASSERT_EQ(ReadReview(path, id, &review), ReviewStatus::loaded);
    EXPECT_EQ(review.beats, beats);
}
