#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <new>
#include <memory>
#include <algorithm>
#include <random>
#include <set>

#include "analysis/BeatReview.h"
#include "analysis/EcgDocument.h"
#include "support/AnalysisViews.h"
#include "support/DocumentAccess.h"
#include "support/Recordings.h"
#include "support/SyntheticEcg.h"
#include "support/TempDir.h"
#include "support/TimeZone.h"

using namespace testsupport;

namespace {

// While armed, every allocation made off the test's own thread fails: the
// analysis worker runs out of memory.
std::atomic<bool> g_failWorkerAllocations{false};
const std::thread::id g_testThread = std::this_thread::get_id();

}  // namespace

// Plain malloc and free underneath; GCC cannot see that they pair up.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n)
{
    if (g_failWorkerAllocations.load(std::memory_order_relaxed) && std::this_thread::get_id() != g_testThread)
        throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
// The library's temporary buffers (std::stable_sort) take the nothrow form:
// it must come from the same heap as the delete above.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    if (g_failWorkerAllocations.load(std::memory_order_relaxed) && std::this_thread::get_id() != g_testThread)
        return nullptr;
    return std::malloc(n ? n : 1);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using Ev = RecordingView::Event;

class DocumentTest : public ::testing::Test {
protected:
    ScopedTimeZone m_tz{"UTC"};

    // A document with the given beats finalised as the run would.
    static std::unique_ptr<CEcgDocument> WithBeats(const std::vector<uint32_t>& beats, int64_t start)
    {
        auto doc = std::make_unique<CEcgDocument>();
        DocAccess::SetStartTime(*doc, CTime(start));
        for (uint32_t b : beats)
            doc->AddBeat(b);
        doc->BuildRRIntervals();
        doc->FindIrregularBeats();
        DocAccess::SetDetectionDone(*doc, true);
        return doc;
    }

    static std::vector<uint32_t> Every(uint32_t step, uint32_t from, uint32_t to)
    {
        std::vector<uint32_t> v;
        for (uint32_t b = from; b <= to; b += step)
            v.push_back(b);
        return v;
    }

    // A long recording at 250 samples/s with an R apex every period samples.
    static std::vector<int16_t> Signal(uint32_t n, uint32_t period)
    {
        return SyntheticEcg(n, period, 1500, 5, 10);
    }

    static std::vector<uint32_t> Apexes(uint32_t n, uint32_t period)
    {
        std::vector<uint32_t> v;
        for (uint32_t p = SyntheticFirstPeak(period); p < n; p += period)
            v.push_back(p);
        return v;
    }

    TempDir m_dir;
};

TEST_F(DocumentTest, BeatListAndIrregularBeats)
{
    auto doc = std::make_unique<CEcgDocument>();
    for (uint32_t b : {500u, 250u, 500u, 750u})
        doc->AddBeat(b);
    doc->BuildRRIntervals();
    EXPECT_EQ(DocAccess::Beats(*doc), (std::vector<uint32_t>{250, 500, 750}));
    EXPECT_EQ(DocAccess::BeatCount(*doc), 3);
    EXPECT_EQ(DocAccess::RRIntervals(*doc), (std::vector<uint32_t>{250, 250}));

    // RR 250 250 180 250 250: the short interval begins at beat 2.
    auto irr = WithBeats({0, 250, 500, 680, 930, 1180}, 0);
    EXPECT_EQ(DocAccess::AbnormalBeats(*irr), (std::vector<uint32_t>{500}));
    std::vector<uint32_t> out{1, 2, 3};
    EXPECT_EQ(irr->GetAbnormalBeats(out), 1u);
    EXPECT_EQ(out, (std::vector<uint32_t>{500}));

    // Nothing to do on an empty list or a single beat.
    auto empty = WithBeats({}, 0);
    EXPECT_EQ(DocAccess::BeatCount(*empty), 0);
    EXPECT_TRUE(DocAccess::RRIntervals(*empty).empty());
    auto one = WithBeats({42}, 0);
    EXPECT_EQ(DocAccess::BeatCount(*one), 1);
    EXPECT_TRUE(DocAccess::RRIntervals(*one).empty());
    EXPECT_FALSE(one->ComputeHourStats(nullptr));
    EXPECT_FALSE(one->IsStatisticsReady());
}

TEST_F(DocumentTest, Queries)
{
    auto doc = WithBeats({250, 500, 750, 1000}, 0);
    std::vector<uint32_t> out{7};
    EXPECT_EQ(doc->GetBeatsInRange(500, 250, out), 3u);  // appends
    EXPECT_EQ(out, (std::vector<uint32_t>{7, 500, 750}));
    out.clear();
    EXPECT_EQ(doc->GetBeatsInRange(uint64_t(1) << 40, 250, out), 0u);
    EXPECT_EQ(doc->GetBeatsInRange(0, UINT32_MAX, out), 4u);

    DocAccess::SetDetectionDone(*doc, false);
    out.clear();
    EXPECT_EQ(doc->GetBeatsInRange(0, 1000, out), 0u);
    EXPECT_EQ(doc->GetAbnormalBeats(out), 0u);
    EXPECT_TRUE(out.empty());

    EXPECT_EQ(doc->FindMinRatePosition(), 0u);
    EXPECT_EQ(doc->FindMaxRatePosition(), 0u);
    std::vector<const HourRateStats*> hours;
    EXPECT_EQ(doc->GetHourStats(hours), 0u);

    DocAccess::SetStartTime(*doc, CTime(1000));
    CTime t;
    doc->GetTimeAt(&t, 60, false);
    EXPECT_EQ(t.GetTime(), 1060);
    doc->GetTimeAt(&t, 60, true);
    EXPECT_EQ(t.GetTime(), 60);
}

TEST_F(DocumentTest, HeaderAverageRR)
{
    RecordingHeader h{};
    h.qrsCount = 3;
    h.beats[0].nPosition = 100;
    h.beats[1].nPosition = 350;
    h.beats[2].nPosition = 610;
    EXPECT_EQ(CEcgDocument::GetHeaderAverageRR(h), 255);
    h.beats[0].nPosition = 610;  // decreasing: signed, truncated toward zero
    h.beats[2].nPosition = 100;
    EXPECT_EQ(CEcgDocument::GetHeaderAverageRR(h), -255);
    h.qrsCount = 1;
    EXPECT_EQ(CEcgDocument::GetHeaderAverageRR(h), 0);
    // A count above 79 reads the 79 records the header holds, no more.
    for (int k = 0; k < HEADER_BEAT_CAPACITY; ++k)
        h.beats[k].nPosition = uint32_t(k) * 100;
    h.qrsCount = 255;
    EXPECT_EQ(CEcgDocument::GetHeaderAverageRR(h), 100);
}

TEST_F(DocumentTest, MinuteWalk)
{
    // Start 10:00:00, beats every second from 1 s to 120 s.
    auto doc = WithBeats(Every(250, 250, 30000), 10 * 3600);
    RecordingView view;
    ASSERT_TRUE(doc->ComputeHourStats(&view));
    ASSERT_TRUE(doc->IsStatisticsReady());
    std::vector<const MinuteRateStats*> minutes;
    ASSERT_EQ(doc->GetMinuteStats(minutes), 2u);
    EXPECT_EQ(minutes[0]->nIndex, 0);
    EXPECT_EQ(minutes[0]->fAvgRate, 60.0f);
    EXPECT_EQ(minutes[0]->fMinRate, 60.0f);
    EXPECT_EQ(minutes[0]->fMaxRate, 60.0f);
    EXPECT_EQ(minutes[0]->nSlowBeatPos, 500u);  // the first interval of the group, ties keep it
    EXPECT_EQ(minutes[0]->nFastBeatPos, 500u);
    EXPECT_EQ(minutes[1]->nIndex, 1);
    EXPECT_EQ(minutes[1]->nSlowBeatPos, 15250u);
    EXPECT_EQ(minutes[1]->fAvgRate, 60.0f);

    std::vector<const HourRateStats*> hours;
    ASSERT_EQ(doc->GetHourStats(hours), 1u);
    EXPECT_EQ(hours[0]->nStartHour, 10);
    EXPECT_EQ(hours[0]->nStartMinute, 0);
    EXPECT_EQ(hours[0]->nEndHour, 10);
    EXPECT_EQ(hours[0]->nEndMinute, 1);
    EXPECT_EQ(hours[0]->fAvgRate, 60.0f);
    EXPECT_EQ(hours[0]->nSlowBeatPos, 15250u);  // ties take the later minute
    EXPECT_EQ(doc->FindMinRatePosition(), 15250u);
    EXPECT_EQ(doc->FindMaxRatePosition(), 15250u);

    // Progress: only changes, ending at 100.
    std::vector<int> progress;
    for (const Ev& e : view.Events())
        if (e.kind == Ev::Progress)
            progress.push_back(e.value);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GT(progress[i], progress[i - 1]);
    EXPECT_EQ(progress.size(), 100u);  // 120 beats: 0 is never sent

    // A second computation replaces the records.
    ASSERT_TRUE(doc->ComputeHourStats(nullptr));
    EXPECT_EQ(doc->GetMinuteStats(minutes), 2u);
    EXPECT_EQ(doc->GetHourStats(hours), 1u);
}

TEST_F(DocumentTest, MinuteRatesAreRunningMeans)
{
    // Intervals 250, 200, 300 in one minute: rates 60, 15000/225, 60 -> the
    // running averages 60, 63.33, 62.22.
    auto doc = WithBeats({250, 500, 700, 1000}, 10 * 3600);
    ASSERT_TRUE(doc->ComputeHourStats(nullptr));
    ASSERT_EQ(DocAccess::MinuteStats(*doc).size(), 1u);
    const MinuteRateStats& m = *DocAccess::MinuteStats(*doc)[0];
    const float r2 = float(15000.0 / (450.0 / 2.0));
    const float r3 = float(15000.0 / (750.0 / 3.0));
    const float avg = float((60.0 + double(r2) + double(r3)) / 3.0);
    EXPECT_EQ(m.fAvgRate, avg);
    EXPECT_EQ(m.fMinRate, 60.0f);
    EXPECT_EQ(m.fMaxRate, float((60.0 + double(r2)) / 2.0));
    EXPECT_EQ(m.nSlowBeatPos, 1000u);  // longest interval (300) ends there
    EXPECT_EQ(m.nFastBeatPos, 700u);   // shortest (200)
}

TEST_F(DocumentTest, MinuteWithSingleBeatLeavesNoRecord)
{
    // Minute 0: beats 1..59 s; minute 1: one beat at 80 s; minute 2: 120..179 s.
    std::vector<uint32_t> beats = Every(250, 250, 14750);
    beats.push_back(20000);
    for (uint32_t b : Every(250, 30000, 44750))
        beats.push_back(b);
    auto doc = WithBeats(beats, 10 * 3600);
    ASSERT_TRUE(doc->ComputeHourStats(nullptr));
    ASSERT_EQ(DocAccess::MinuteStats(*doc).size(), 2u);
    EXPECT_EQ(DocAccess::MinuteStats(*doc)[1]->nIndex, 1);  // not advanced by the empty group
    EXPECT_EQ(DocAccess::MinuteStats(*doc)[1]->fAvgRate, 60.0f);

    // Two beats in different minutes give no record at all, yet statistics.
    auto two = WithBeats({250, 20000}, 10 * 3600);
    EXPECT_TRUE(two->ComputeHourStats(nullptr));
    EXPECT_TRUE(DocAccess::MinuteStats(*two).empty());
    EXPECT_TRUE(DocAccess::HourStats(*two).empty());
    EXPECT_TRUE(two->IsStatisticsReady());
}

TEST_F(DocumentTest, HourGroups)
{
    // 09:59:00 for three minutes.
    auto doc = WithBeats(Every(250, 0, 45000), 9 * 3600 + 59 * 60);
    ASSERT_TRUE(doc->ComputeHourStats(nullptr));
    ASSERT_EQ(DocAccess::MinuteStats(*doc).size(), 3u);
    std::vector<const HourRateStats*> hours;
    ASSERT_EQ(doc->GetHourStats(hours), 2u);
    EXPECT_EQ((std::vector<int>{hours[0]->nStartHour, hours[0]->nStartMinute, hours[0]->nEndHour,
                                hours[0]->nEndMinute}),
              (std::vector<int>{9, 59, 9, 59}));
    EXPECT_EQ((std::vector<int>{hours[1]->nStartHour, hours[1]->nStartMinute, hours[1]->nEndHour,
                                hours[1]->nEndMinute}),
              (std::vector<int>{10, 0, 10, 1}));
    EXPECT_EQ(hours[0]->fAvgRate, DocAccess::MinuteStats(*doc)[0]->fAvgRate);

    // Hour averages are means of the minute averages; extremes come from the
    // minute that supplies them.
    auto mixed = WithBeats({0, 250, 500, 15000, 15200, 15400, 15600}, 10 * 3600);
    ASSERT_TRUE(mixed->ComputeHourStats(nullptr));
    ASSERT_EQ(DocAccess::MinuteStats(*mixed).size(), 2u);
    ASSERT_EQ(DocAccess::HourStats(*mixed).size(), 1u);
    const HourRateStats& h = *DocAccess::HourStats(*mixed)[0];
    EXPECT_EQ(h.fAvgRate,
              float((double(DocAccess::MinuteStats(*mixed)[0]->fAvgRate) + double(DocAccess::MinuteStats(*mixed)[1]->fAvgRate)) / 2));
    EXPECT_EQ(h.fMinRate, 60.0f);
    EXPECT_EQ(h.fMaxRate, 75.0f);
    EXPECT_EQ(h.nSlowBeatPos, 250u);
    EXPECT_EQ(h.nFastBeatPos, 15200u);
    EXPECT_EQ(mixed->FindMinRatePosition(), 250u);
    EXPECT_EQ(mixed->FindMaxRatePosition(), 15200u);
}

TEST_F(DocumentTest, UpsampleByRepeat)
{
    int16_t b[6] = {1, 2, 3, 9, 9, 9};
    UpsampleByRepeat(b, 6, 2);
    EXPECT_EQ(std::vector<int16_t>(b, b + 6), (std::vector<int16_t>{1, 1, 2, 2, 3, 3}));
    int16_t c[3] = {4, 5, 6};
    UpsampleByRepeat(c, 3, 1);
    EXPECT_EQ(std::vector<int16_t>(c, c + 3), (std::vector<int16_t>{4, 5, 6}));
    UpsampleByRepeat(c, 0, 2);
}

TEST_F(DocumentTest, Forwarding)
{
    auto none = std::make_unique<CEcgDocument>();
    int16_t buf[4] = {7, 7, 7, 7};
    EXPECT_EQ(none->GetFileKind(), 0);
    EXPECT_EQ(none->GetSampleCount(), 0u);
    EXPECT_EQ(none->ReadSamples(buf, 0, 4), 0u);
    EXPECT_FALSE(none->ReadHeader(buf));
    RecordingView view;
    none->StartAnalysis(&view);  // nothing to analyse, nobody told
    EXPECT_TRUE(view.Events().empty());
    EXPECT_FALSE(none->IsAnalysisRunning());

    const std::string path = m_dir.Path("10110814.30");
    WriteSamples(path, {10, 11, 12, 13, 14});
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    EXPECT_EQ(doc->GetFileKind(), 1);
    EXPECT_EQ(doc->GetSampleCount(), 5u);
    EXPECT_EQ(doc->GetStartTime().GetTime(), CTime(2010, 11, 8, 14, 30, 0).GetTime());
    EXPECT_EQ(doc->ReadSamples(buf, -5, 2), 2u);
    EXPECT_EQ(buf[0], 10);
    EXPECT_EQ(buf[1], 11);
    EXPECT_EQ(doc->ReadSamples(buf, 6, 2), 0u);
    EXPECT_EQ(doc->ReadSamples(buf, 4, 4), 1u);
    EXPECT_EQ(buf[0], 14);
    unsigned char header[RECORDING_HEADER_SIZE];
    std::memset(header, 0x5a, sizeof header);
    EXPECT_FALSE(doc->ReadHeader(header));
    EXPECT_EQ(header[100], 0x5a);
    doc->CloseFile();
    EXPECT_EQ(doc->GetSampleCount(), 0u);

    auto missing = std::make_unique<CEcgDocument>();
    EXPECT_THROW(missing->OpenFile(m_dir.Path("nope.30")), CFileException);
    EXPECT_EQ(missing->GetFileKind(), 0);
    EXPECT_TRUE(missing->GetFilePath().empty());
}

TEST_F(DocumentTest, ShortRecordingUsesStoredBeats)
{
    const std::string path = m_dir.Path("short.ecg");
    WriteShortRecording(path, 4, {610, 100, 350, 350});
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    ASSERT_EQ(doc->GetFileKind(), 2);
    RecordingView view;
    doc->StartAnalysis(&view);  // synchronous
    EXPECT_FALSE(doc->IsAnalysisRunning());
    EXPECT_TRUE(doc->IsDetectionDone());
    EXPECT_EQ(DocAccess::Beats(*doc), (std::vector<uint32_t>{100, 350, 610}));
    EXPECT_EQ(DocAccess::BeatCount(*doc), 3);
    const std::vector<Ev> events = view.Events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front(), (Ev{Ev::Show, 0}));
    EXPECT_EQ(events[1], (Ev{Ev::DetectionFinished, 1}));
    EXPECT_EQ(events[2], (Ev{Ev::BeginStatistics, 0}));
    EXPECT_EQ(events.back(), (Ev{Ev::StatisticsFinished, 1}));
    EXPECT_TRUE(doc->IsStatisticsReady());
    // The short kinds go through the same steps and publish the same value.
    const auto results = doc->GetResults();
    ASSERT_TRUE(results);
    EXPECT_EQ(results->beats, DocAccess::Beats(*doc));
    EXPECT_EQ(results->rrIntervals, (std::vector<uint32_t>{250, 260}));
    EXPECT_EQ(results->classes.size(), results->beats.size());
    EXPECT_FALSE(results->hasHrv);
}

TEST_F(DocumentTest, ShortRecordingBeatCounts)
{
    // No beats: an empty list, and no statistics.
    const std::string zero = m_dir.Path("zero.ecg");
    WriteShortRecording(zero, 0, {100, 200});
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(zero);
    RecordingView view;
    doc->StartAnalysis(&view);
    EXPECT_TRUE(doc->IsDetectionDone());
    EXPECT_TRUE(DocAccess::Beats(*doc).empty());
    EXPECT_EQ(view.Events().back(), (Ev{Ev::StatisticsFinished, 0}));
    EXPECT_FALSE(doc->IsStatisticsReady());

    // A count above what the header holds reads its 79 records only.
    const std::string many = m_dir.Path("many.ecg");
    std::vector<uint32_t> positions;
    for (uint32_t k = 0; k < 79; ++k)
        positions.push_back(60 + 68 * k);
    WriteShortRecording(many, 200, positions);
    auto doc2 = std::make_unique<CEcgDocument>();
    doc2->OpenFile(many);
    doc2->StartAnalysis(nullptr);
    EXPECT_EQ(DocAccess::Beats(*doc2), positions);
    EXPECT_TRUE(doc2->IsStatisticsReady());

    // A header that can no longer be read: no beats, detection still done.
    const std::string cut = m_dir.Path("cut.ecg");
    WriteShortRecording(cut, 3, {1, 2, 3});
    auto doc3 = std::make_unique<CEcgDocument>();
    doc3->OpenFile(cut);
    ASSERT_EQ(::truncate(cut.c_str(), 100), 0);
    RecordingView view3;
    doc3->StartAnalysis(&view3);
    EXPECT_TRUE(doc3->IsDetectionDone());
    EXPECT_TRUE(DocAccess::Beats(*doc3).empty());
    EXPECT_EQ(view3.Events().back(), (Ev{Ev::StatisticsFinished, 0}));
}

TEST_F(DocumentTest, LongRecordingFindsEveryBeatOnce)
{
    // Four chunks; apexes sit in the chunk overlaps too (200 divides 25000).
    const uint32_t n = 3 * ANALYSIS_CHUNK_STEP + 10000;
    const std::string path = m_dir.Path("20030108.30");
    WriteSamples(path, Signal(n, 200));
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    RecordingView view;
    doc->StartAnalysis(&view);
    doc->WaitAnalysis();
    EXPECT_FALSE(doc->IsAnalysisRunning());
    ASSERT_TRUE(doc->IsDetectionDone());

    // Each apex is found exactly at its sample and only once, also where
    // two chunks overlap (25000..26500 and so on): the jump back at a chunk's
    // start invents nothing.
    const std::vector<uint32_t>& beats = DocAccess::Beats(*doc);
    EXPECT_EQ(beats, Apexes(n, 200));
    EXPECT_EQ(DocAccess::BeatCount(*doc), int32_t(beats.size()));

    EXPECT_EQ(view.DetectionProgress(), (std::vector<int>{25, 50, 75, 100}));
    const std::vector<Ev> events = view.Events();
    EXPECT_EQ(events.front(), (Ev{Ev::Show, 0}));
    EXPECT_EQ(events.back(), (Ev{Ev::StatisticsFinished, 1}));
    EXPECT_TRUE(doc->IsStatisticsReady());
    EXPECT_TRUE(DocAccess::IsDetectorPrimed(*doc));
    const auto results = doc->GetResults();
    ASSERT_TRUE(results);
    EXPECT_EQ(results->beats, beats);
    std::vector<const HourRateStats*> hours;
    doc->GetHourStats(hours);
    ASSERT_EQ(results->hours.size(), hours.size());
    EXPECT_EQ(results->hours[0].fAvgRate, hours[0]->fAvgRate);
    EXPECT_EQ(results->maxRatePosition, doc->FindMaxRatePosition());
    EXPECT_TRUE(results->hasHrv);
    EXPECT_EQ(results->hrv.nnCount, beats.size() - 1);

    // A second run starts from an empty list and finds the same beats.
    const std::vector<uint32_t> first = DocAccess::Beats(*doc);
    doc->StartAnalysis(nullptr);
    doc->WaitAnalysis();
    EXPECT_EQ(DocAccess::Beats(*doc), first);
}

TEST_F(DocumentTest, PreciseRunSeesTheChunksAsOneStream)
{
    const uint32_t n = 3 * ANALYSIS_CHUNK_STEP + 10000;
    const std::string path = m_dir.Path("20030108.30");
    WriteSamples(path, Signal(n, 200));
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    doc->SetDetectorKind(DetectorKind::Precise);
    RecordingView view;
    doc->StartAnalysis(&view);
    doc->WaitAnalysis();
    ASSERT_TRUE(doc->IsDetectionDone());
    EXPECT_EQ(doc->GetAnalysisDetector(), DetectorKind::Precise);

    // Every apex once, within a sample, the chunk overlaps included.
    const std::vector<uint32_t> want = Apexes(n, 200);
    const std::vector<uint32_t>& beats = DocAccess::Beats(*doc);
    ASSERT_EQ(beats.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k)
        EXPECT_LE(std::max(beats[k], want[k]) - std::min(beats[k], want[k]), 1u) << want[k];
    // The same progress and notifications as the standard run; its detector is not primed.
    EXPECT_EQ(view.DetectionProgress(), (std::vector<int>{25, 50, 75, 100}));
    EXPECT_EQ(view.Events().back(), (Ev{Ev::StatisticsFinished, 1}));
    EXPECT_FALSE(DocAccess::IsDetectorPrimed(*doc));
}

TEST_F(DocumentTest, SwitchingDetectorsLeavesTheStandardOneAlone)
{
    // The standard detector keeps its state from run to run: a precise run
    // in between must not touch it.
    const std::string path = m_dir.Path("20030108.30");
    WriteSamples(path, SyntheticEcg(4 * ANALYSIS_CHUNK_STEP, 187, 1300, 9, 10));
    const auto run = [](CEcgDocument& doc, DetectorKind kind) {
        doc.SetDetectorKind(kind);
        doc.StartAnalysis(nullptr);
        doc.WaitAnalysis();
        EXPECT_EQ(doc.GetAnalysisDetector(), kind);
        return DocAccess::Beats(doc);
    };
    CEcgDocument a, b;
    a.OpenFile(path);
    b.OpenFile(path);
    const std::vector<uint32_t> a1 = run(a, DetectorKind::Standard), a2 = run(a, DetectorKind::Standard);
    EXPECT_EQ(run(b, DetectorKind::Standard), a1);
    EXPECT_FALSE(run(b, DetectorKind::Precise).empty());
    EXPECT_EQ(run(b, DetectorKind::Standard), a2);

    // Short recordings show the recorder's beats whatever is chosen.
    const std::string shortPath = m_dir.Path("short.ecg");
    WriteShortRecording(shortPath, 3, {100, 350, 610});
    CEcgDocument s;
    s.OpenFile(shortPath);
    s.SetDetectorKind(DetectorKind::Precise);
    s.StartAnalysis(nullptr);
    EXPECT_EQ(DocAccess::Beats(s), (std::vector<uint32_t>{100, 350, 610}));
    EXPECT_EQ(s.GetAnalysisDetector(), DetectorKind::Standard);
}

TEST_F(DocumentTest, ChunkCountFollowsLength)
{
    for (uint32_t extra : {0u, 1u}) {
        const std::string path = m_dir.Path("chunks" + std::to_string(extra));
        WriteSamples(path, std::vector<int16_t>(3 * ANALYSIS_CHUNK_STEP + extra, 0));
        auto doc = std::make_unique<CEcgDocument>();
        doc->OpenFile(path);
        RecordingView view;
        doc->StartAnalysis(&view);
        doc->WaitAnalysis();
        const std::vector<int> want =
            extra ? std::vector<int>{25, 50, 75, 100} : std::vector<int>{33, 66, 100};
        EXPECT_EQ(view.DetectionProgress(), want) << extra;
        EXPECT_TRUE(doc->IsDetectionDone());
        EXPECT_TRUE(DocAccess::Beats(*doc).empty());
    }
}

TEST_F(DocumentTest, ProgressOnlyWhenThePercentageChanges)
{
    // 250 chunks of silence (a sparse file): 250 chunk ends, one report per percent.
    const std::string path = m_dir.Path("many-chunks.dat");
    WriteSamples(path, {});
    ASSERT_EQ(::truncate(path.c_str(), 2 * 250 * int64_t(ANALYSIS_CHUNK_STEP)), 0);
    CEcgDocument doc;
    doc.OpenFile(path);
    RecordingView view;
    doc.StartAnalysis(&view);
    doc.WaitAnalysis();
    std::vector<int> want;
    for (int p = 1; p <= 100; ++p)
        want.push_back(p);
    EXPECT_EQ(view.DetectionProgress(), want);
}

TEST_F(DocumentTest, EmptyLongRecording)
{
    const std::string path = m_dir.Path("empty.dat");
    WriteSamples(path, {});
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    ASSERT_EQ(doc->GetFileKind(), 1);
    RecordingView view;
    doc->StartAnalysis(&view);
    doc->WaitAnalysis();
    EXPECT_TRUE(doc->IsDetectionDone());
    EXPECT_TRUE(DocAccess::Beats(*doc).empty());
    EXPECT_EQ(view.Events(), (std::vector<Ev>{{Ev::Show, 0},
                                              {Ev::DetectionFinished, 1},
                                              {Ev::BeginStatistics, 0},
                                              {Ev::StatisticsFinished, 0}}));
}

TEST_F(DocumentTest, ShortLongRecordingPrimesWithWhatThereIs)
{
    const std::string path = m_dir.Path("tiny.dat");
    WriteSamples(path, Signal(2000, 200));  // shorter than the priming read
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    doc->StartAnalysis(nullptr);  // a null view is fine
    doc->WaitAnalysis();
    EXPECT_TRUE(doc->IsDetectionDone());
    EXPECT_TRUE(DocAccess::IsDetectorPrimed(*doc));
    EXPECT_GE(DocAccess::Beats(*doc).size(), 8u);
}

TEST_F(DocumentTest, CancelSeenByTheWorkerEndsSilently)
{
    const std::string path = m_dir.Path("cancel.dat");
    WriteSamples(path, Signal(20 * ANALYSIS_CHUNK_STEP, 200));
    for (DetectorKind kind : {DetectorKind::Standard, DetectorKind::Precise}) {
    SCOPED_TRACE(int(kind));
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    doc->SetDetectorKind(kind);
    RecordingView view;
    std::atomic<int> calls{0};
    view.onProgress = [&](short) {
        if (++calls == 2)
            DocAccess::RequestCancel(*doc);  // as StopAnalysis would, at this moment
    };
    doc->StartAnalysis(&view);
    doc->WaitAnalysis();
    EXPECT_FALSE(doc->IsAnalysisRunning());
    const std::vector<Ev> events = view.Events();
    EXPECT_EQ(events, (std::vector<Ev>{{Ev::Show, 0}, {Ev::Progress, 5}, {Ev::Progress, 10}}));
    EXPECT_FALSE(doc->IsStatisticsReady());
    EXPECT_TRUE(DocAccess::MinuteStats(*doc).empty());
    // The beats found so far come from the first two chunks only.
    ASSERT_FALSE(DocAccess::Beats(*doc).empty());
    EXPECT_LT(DocAccess::Beats(*doc).back(), 2 * ANALYSIS_CHUNK_STEP + ANALYSIS_CHUNK_LENGTH);
    }
}

// Out of memory after detection or during the statistics: the run ends as
// not completed, the process goes on.
TEST_F(DocumentTest, AllocationFailureEndsTheRunAsNotCompleted)
{
    struct StarvingView : RecordingView {
        bool duringStatistics = false;
        void BeginStatisticsProgress() override
        {
            RecordingView::BeginStatisticsProgress();
            if (duringStatistics)
                g_failWorkerAllocations = true;
        }
        void OnDetectionFinished(bool completed) override
        {
            g_failWorkerAllocations = false;
            RecordingView::OnDetectionFinished(completed);
        }
        void OnStatisticsFinished(bool produced) override
        {
            g_failWorkerAllocations = false;
            RecordingView::OnStatisticsFinished(produced);
        }
    };
    const std::string path = m_dir.Path("starved.dat");
    WriteSamples(path, Signal(3 * ANALYSIS_CHUNK_STEP, 200));
    for (bool duringStatistics : {false, true}) {
        SCOPED_TRACE(duringStatistics ? "statistics" : "beat list");
        CEcgDocument doc;
        doc.OpenFile(path);
        StarvingView view;
        view.duringStatistics = duringStatistics;
        if (!duringStatistics)
            view.onProgress = [](short percent) { g_failWorkerAllocations = percent == 100; };
        doc.StartAnalysis(&view);
        doc.WaitAnalysis();
        g_failWorkerAllocations = false;
        EXPECT_TRUE(doc.HasRunFailed());
        EXPECT_FALSE(doc.IsStatisticsReady());
        EXPECT_EQ(doc.IsDetectionDone(), duringStatistics);
        EXPECT_FALSE(doc.GetResults());  // nothing half-made is published
        const std::vector<Ev> events = view.Events();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back(), duringStatistics ? (Ev{Ev::StatisticsFinished, 0}) : (Ev{Ev::DetectionFinished, 0}));
    }
    // The next run starts clean.
    CEcgDocument doc;
    doc.OpenFile(path);
    doc.StartAnalysis(nullptr);
    doc.WaitAnalysis();
    EXPECT_FALSE(doc.HasRunFailed());
    EXPECT_TRUE(doc.IsStatisticsReady());
}

TEST_F(DocumentTest, StopWaitsForTheWorker)
{
    const std::string path = m_dir.Path("stop.dat");
    WriteSamples(path, Signal(40 * ANALYSIS_CHUNK_STEP, 200));
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    RecordingView view;
    std::atomic<bool> slow{true};
    view.onProgress = [&](short) {
        if (slow)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    doc->StartAnalysis(&view);
    ASSERT_TRUE(view.WaitFor(Ev::Progress));
    doc->StopAnalysis();
    slow = false;
    EXPECT_FALSE(doc->IsAnalysisRunning());
    EXPECT_FALSE(doc->IsStatisticsReady());
    size_t afterStop = view.Events().size();
    for (const Ev& e : view.Events())
        EXPECT_TRUE(e.kind == Ev::Show || e.kind == Ev::Progress);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(view.Events().size(), afterStop);  // nothing arrives later

    // Closing a document mid-run also stops the worker before the file goes.
    RecordingView view2;
    doc->StartAnalysis(&view2);
    doc->CloseFile();
    EXPECT_FALSE(doc->IsAnalysisRunning());
    // And destroying one mid-run is safe.
    auto doc3 = std::make_unique<CEcgDocument>();
    doc3->OpenFile(path);
    doc3->StartAnalysis(nullptr);
    doc3.reset();
}

TEST_F(DocumentTest, RecordingThatVanishesBeforeTheRun)
{
    const std::string path = m_dir.Path("gone.dat");
    WriteSamples(path, Signal(60000, 200));
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    RecordingView view;
    doc->StartAnalysis(&view);
    doc->WaitAnalysis();
    EXPECT_FALSE(doc->IsDetectionDone());
    EXPECT_FALSE(doc->IsStatisticsReady());
    EXPECT_EQ(view.Events(), (std::vector<Ev>{{Ev::Show, 0}, {Ev::DetectionFinished, 0}}));
    std::vector<uint32_t> out;
    EXPECT_EQ(doc->GetBeatsInRange(0, 100000, out), 0u);
    ASSERT_TRUE(DocAccess::DetectorLock(*doc).try_lock());
    DocAccess::DetectorLock(*doc).unlock();
    // Priming reads the recording itself and fails the same way.
    EXPECT_THROW(doc->GetDetector(), CFileException);
    EXPECT_FALSE(DocAccess::IsDetectorPrimed(*doc));
}

TEST_F(DocumentTest, CancelSeenOnTheErrorPathStaysSilent)
{
    // The recording goes away and the run is cancelled before the worker opens it.
    struct CancellingView : RecordingView {
        CEcgDocument* doc = nullptr;
        std::string path;
        void ShowProgress() override
        {
            RecordingView::ShowProgress();
            ::unlink(path.c_str());
            DocAccess::RequestCancel(*doc);
        }
    };
    const std::string path = m_dir.Path("cancel-gone.dat");
    WriteSamples(path, Signal(60000, 200));
    CEcgDocument doc;
    doc.OpenFile(path);
    CancellingView view;
    view.doc = &doc;
    view.path = path;
    doc.StartAnalysis(&view);
    doc.WaitAnalysis();
    EXPECT_EQ(view.Events(), (std::vector<Ev>{{Ev::Show, 0}}));
    EXPECT_FALSE(doc.IsStatisticsReady());
}

TEST_F(DocumentTest, RecordingTruncatedDuringTheRun)
{
    const std::string path = m_dir.Path("shrinks.dat");
    for (DetectorKind kind : {DetectorKind::Standard, DetectorKind::Precise}) {
    SCOPED_TRACE(int(kind));
    WriteSamples(path, Signal(10 * ANALYSIS_CHUNK_STEP, 200));
    auto doc = std::make_unique<CEcgDocument>();
    doc->OpenFile(path);
    doc->SetDetectorKind(kind);
    RecordingView view;
    std::atomic<int> calls{0};
    view.onProgress = [&](short) {
        if (++calls == 1) {
            EXPECT_EQ(::truncate(path.c_str(), 2 * 30000), 0);
        }
    };
    doc->StartAnalysis(&view);
    doc->WaitAnalysis();
    // The run ends shorter: later reads return nothing.
    ASSERT_TRUE(doc->IsDetectionDone());
    ASSERT_FALSE(DocAccess::Beats(*doc).empty());
    EXPECT_LT(DocAccess::Beats(*doc).back(), 30000u);
    EXPECT_EQ(view.DetectionProgress().back(), 100);
    }
}

}  // namespace

TEST_F(DocumentTest, ReviewedBeatsRedoEveryStepAfterDetection)
{
    const uint32_t n = 2 * ANALYSIS_CHUNK_STEP;
    const std::string path = m_dir.Path("20030108.30");
    WriteSamples(path, Signal(n, 200));
    CEcgDocument doc;
    doc.OpenFile(path);
    EXPECT_FALSE(doc.ReplaceBeats({}, {}));  // no run yet
    doc.StartAnalysis(nullptr);
    doc.WaitAnalysis();
    std::vector<uint32_t> beats = DocAccess::Beats(doc);
    ASSERT_GT(beats.size(), 100u);

    std::vector<uint32_t> irregular;
    doc.GetAbnormalBeats(irregular);
    ASSERT_TRUE(irregular.empty());
    // A beat added between two splits an interval, which the irregular scan,
    // the minute records and HRV all see; the classes stay as given.
    beats.insert(beats.begin() + 50, beats[49] + 100);
    std::vector<BeatClass> classes(beats.size(), BeatClass::N);
    classes[10] = BeatClass::V;
    ASSERT_TRUE(doc.ReplaceBeats(beats, classes));
    EXPECT_TRUE(doc.IsReviewed());
    EXPECT_EQ(DocAccess::Beats(doc), beats);
    EXPECT_EQ(DocAccess::RRIntervals(doc)[49], 100u);
    doc.GetAbnormalBeats(irregular);
    EXPECT_FALSE(irregular.empty());
    const auto results = doc.GetResults();
    ASSERT_TRUE(results);
    EXPECT_EQ(results->beats, beats);
    EXPECT_EQ(results->classes, classes);
    EXPECT_LT(results->hrv.nnCount, beats.size() - 1);
    EXPECT_TRUE(doc.IsStatisticsReady());

    // A beat taken out and put back (an undone delete) is in its family again.
    const std::vector<uint32_t> family = results->family;
    ASSERT_NE(family[20], NO_FAMILY);
    std::vector<uint32_t> fewer = beats;
    std::vector<BeatClass> fewerClasses = classes;
    fewer.erase(fewer.begin() + 20);
    fewerClasses.erase(fewerClasses.begin() + 20);
    ASSERT_TRUE(doc.ReplaceBeats(fewer, fewerClasses));
    ASSERT_TRUE(doc.ReplaceBeats(beats, classes));
    EXPECT_EQ(doc.GetResults()->family, family);
    const auto restored = doc.GetResults();

    // Lists that are not a beat list are refused and change nothing.
    EXPECT_FALSE(doc.ReplaceBeats({5, 5}, {BeatClass::N, BeatClass::N}));
    EXPECT_FALSE(doc.ReplaceBeats({uint32_t(n)}, {BeatClass::N}));
    EXPECT_FALSE(doc.ReplaceBeats({5}, {}));
    EXPECT_EQ(doc.GetResults(), restored);

    // A new run is the detector's again.
    doc.StartAnalysis(nullptr);
    doc.WaitAnalysis();
    EXPECT_FALSE(doc.IsReviewed());
}

namespace {

template <class T>
bool SameBytes(const std::vector<T>& a, const std::vector<T>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

template <class T>
bool SameBytes(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Episodes have padding after their type: field by field.
bool SameEpisode(const Episode& a, const Episode& b)
{
    return a.type == b.type && a.first == b.first && a.last == b.last && a.beats == b.beats &&
           SameBytes(a.rate, b.rate);
}

bool SameEpisodes(const std::vector<Episode>& a, const std::vector<Episode>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), SameEpisode);
}

}  // namespace

TEST_F(DocumentTest, ThreadCountsGiveTheSameResults)
{
    // A shared record (18 chunks: more than one batch) and a synthetic one
    // whose length ends inside a chunk, with flat stretches (electrode off)
    // here and there so that some straddle the threads' pieces.
    std::vector<int16_t> synthetic = SyntheticEcg(11 * ANALYSIS_CHUNK_STEP + 1234, 187, 1300, 7, 10);
    for (uint32_t at = 9000; at + 700 < synthetic.size(); at += 37000)
        std::fill(synthetic.begin() + at, synthetic.begin() + at + 700, int16_t(-40));
    const std::string records[] = {std::string(VITREL_DATA_DIR) + "/mitdb-100/20030108.30",
                                   WriteSamples(m_dir.Path("20030108.30"), synthetic)};
    for (const std::string& path : records) {
        for (const DetectorKind kind : {DetectorKind::Standard, DetectorKind::Precise}) {
            std::shared_ptr<const AnalysisResults> one;
            std::vector<int> oneProgress;
            for (const int threads : {1, 2, 3}) {
                SCOPED_TRACE(path + (kind == DetectorKind::Precise ? " precise, " : " standard, ") +
                             std::to_string(threads) + " threads");
                CEcgDocument doc;
                doc.OpenFile(path);
                doc.SetDetectorKind(kind);
                doc.SetThreadCount(threads);
                RecordingView view;
                doc.StartAnalysis(&view);
                doc.WaitAnalysis();
                const auto r = doc.GetResults();
                ASSERT_TRUE(r && r->completed);
                EXPECT_EQ(view.Events().back(), (Ev{Ev::StatisticsFinished, 1}));
                if (threads == 1) {
                    ASSERT_GT(r->beats.size(), 1000u);
                    one = r;
                    oneProgress = view.DetectionProgress();
                    continue;
                }
                EXPECT_EQ(view.DetectionProgress(), oneProgress);
                EXPECT_EQ(r->beats, one->beats);
                EXPECT_TRUE(SameBytes(r->classes, one->classes));
                EXPECT_EQ(r->rrIntervals, one->rrIntervals);
                EXPECT_EQ(r->irregular, one->irregular);
                EXPECT_TRUE(SameBytes(r->minutes, one->minutes));
                EXPECT_TRUE(SameBytes(r->hours, one->hours));
                EXPECT_EQ(r->minRatePosition, one->minRatePosition);
                EXPECT_EQ(r->maxRatePosition, one->maxRatePosition);
                EXPECT_TRUE(SameBytes(r->hrv, one->hrv));
                EXPECT_TRUE(SameEpisodes(r->episodes, one->episodes));
                EXPECT_EQ(r->ectopy.count, one->ectopy.count);
                EXPECT_EQ(r->ectopy.vBeats, one->ectopy.vBeats);
                EXPECT_EQ(r->ectopy.sBeats, one->ectopy.sBeats);
                EXPECT_EQ(r->ectopy.pauses, one->ectopy.pauses);
                EXPECT_EQ(r->ectopy.longestRR, one->ectopy.longestRR);
                EXPECT_EQ(r->ectopy.longestRRAt, one->ectopy.longestRRAt);
                EXPECT_TRUE(SameEpisodes({r->ectopy.longestRun, r->ectopy.fastestRun, r->ectopy.longestPause},
                                         {one->ectopy.longestRun, one->ectopy.fastestRun, one->ectopy.longestPause}));
                EXPECT_TRUE(SameBytes(r->af.burdenPercent, one->af.burdenPercent));
                EXPECT_EQ(r->af.totalSamples, one->af.totalSamples);
                EXPECT_EQ(r->af.episodes, one->af.episodes);
                EXPECT_TRUE(SameEpisode(r->af.longest, one->af.longest));
                EXPECT_TRUE(SameBytes(r->af.fastestRate, one->af.fastestRate));
                EXPECT_TRUE(SameBytes(r->af.slowestRate, one->af.slowestRate));
                EXPECT_EQ(r->family, one->family);
                ASSERT_EQ(r->families.size(), one->families.size());
                for (size_t k = 0; k < r->families.size(); ++k) {
                    EXPECT_EQ(r->families[k].beatClass, one->families[k].beatClass);
                    EXPECT_EQ(r->families[k].count, one->families[k].count);
                    EXPECT_EQ(r->families[k].shape, one->families[k].shape);
                }
            }
        }
    }
}

namespace {

// Everything a correction recomputes, bit for bit.
void ExpectSameAfterDetection(const AnalysisResults& a, const AnalysisResults& b, int step)
{
    SCOPED_TRACE(step);
    EXPECT_EQ(a.beats, b.beats);
    EXPECT_EQ(a.rrIntervals, b.rrIntervals);
    EXPECT_EQ(a.irregular, b.irregular);
    EXPECT_TRUE(SameBytes(a.minutes, b.minutes));
    EXPECT_TRUE(SameBytes(a.hours, b.hours));
    EXPECT_EQ(a.minRatePosition, b.minRatePosition);
    EXPECT_EQ(a.maxRatePosition, b.maxRatePosition);
    EXPECT_TRUE(SameBytes(a.hrv, b.hrv));
}

}  // namespace

TEST_F(DocumentTest, CorrectionsGiveWhatTheSameListsGiveAFreshDocument)
{
    const uint32_t n = 6 * ANALYSIS_CHUNK_STEP;  // ten minutes
    const std::string path = m_dir.Path("20030108.30");
    WriteSamples(path, Signal(n, 200));
    CEcgDocument doc, fresh;
    doc.OpenFile(path);
    fresh.OpenFile(path);
    for (CEcgDocument* d : {&doc, &fresh}) {
        d->StartAnalysis(nullptr);
        d->WaitAnalysis();
    }
    const auto run = doc.GetResults();
    ASSERT_TRUE(run && run->beats.size() > 500);
    CBeatReview review(run->beats, run->classes);
    std::mt19937 random(22);
    for (int step = 0; step < 80; ++step) {
        const size_t at = random() % review.Beats().size();
        switch (random() % 5) {
        case 0: review.Delete(at); break;
        case 1: review.Insert(std::min(review.Beats()[at] + 40 + uint32_t(random() % 60), n - 1), BeatClass::V); break;
        case 2: review.Relabel({at, std::min(at + 1, review.Beats().size() - 1)}, BeatClass(random() % 4)); break;
        case 3: review.Undo(); break;
        default: review.Redo(); break;
        }
        ASSERT_TRUE(doc.ReplaceBeats(review.Beats(), review.Classes()));
        if (step % 8 != 7)
            continue;
        // A document that never saw the steps before gets the same lists.
        ASSERT_TRUE(fresh.ReplaceBeats(review.Beats(), review.Classes()));
        const auto a = doc.GetResults(), b = fresh.GetResults();
        ExpectSameAfterDetection(*a, *b, step);
        EXPECT_EQ(a->classes, b->classes);
        EXPECT_EQ(a->family, b->family);
        EXPECT_TRUE(SameEpisodes(a->episodes, b->episodes));
        EXPECT_EQ(a->ectopy.count, b->ectopy.count);
        EXPECT_TRUE(SameEpisode(a->ectopy.longestRun, b->ectopy.longestRun));
        EXPECT_TRUE(SameEpisode(a->ectopy.longestPause, b->ectopy.longestPause));
        EXPECT_TRUE(SameBytes(a->af.burdenPercent, b->af.burdenPercent));
    }
    // Every step undone: the figures of the run itself.
    while (review.Undo())
        ASSERT_TRUE(doc.ReplaceBeats(review.Beats(), review.Classes()));
    ASSERT_TRUE(doc.ReplaceBeats(review.Beats(), review.Classes()));
    ExpectSameAfterDetection(*doc.GetResults(), *run, -1);
    EXPECT_EQ(doc.GetResults()->family, run->family);
}
