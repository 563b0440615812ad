// A recording with its analysis state: file object, detector, beat list,
// RR intervals, abnormal beats, minute and hour records, and the analysis run.
// The Qt document builds on it; nothing here knows about windows.
#pragma once

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analysis/AnalysisResults.h"
#include "analysis/AnalysisView.h"
#include "analysis/QrsDetector.h"
#include "recording/EcgFile.h"

constexpr uint32_t ANALYSIS_CHUNK_STEP = 25000;
constexpr uint32_t ANALYSIS_CHUNK_LENGTH = 26500;
constexpr uint32_t DETECTOR_PRIME_SAMPLES = 3000;
// Chunks read and detected at once. One: every chunk is read after the
// progress of the one before, so a cancel or a shrinking file is seen there.
constexpr uint32_t ANALYSIS_CHUNK_BATCH = 1;
// Beats a chunk reports at its start: before this many samples they are filter
// transients (the 144 + 51 taps span 400 ms); within the second distance of a
// beat the previous chunk reported they are that beat again (the detector's
// 200 ms search window).
constexpr uint32_t ANALYSIS_OVERLAP_SETTLE = 100;
constexpr uint32_t ANALYSIS_OVERLAP_SAME_BEAT = 50;
// Beat positions are 32-bit: a longer recording is analysed as if it ended
// at sample 2^32 - 1.
constexpr uint64_t ANALYSIS_MAX_SAMPLES = uint64_t(UINT32_MAX) + 1;

// The R-wave detector of a long recording's analysis run: the recorder's own
// (the default) or the precise one.
enum class DetectorKind { Standard, Precise };

// In place: buffer[i] = buffer[i / factor] for i = length-1 down to 1.
void UpsampleByRepeat(int16_t* buffer, uint32_t length, uint32_t factor);

class CEcgDocument {
public:
    CEcgDocument();
    virtual ~CEcgDocument();
    CEcgDocument(const CEcgDocument&) = delete;
    CEcgDocument& operator=(const CEcgDocument&) = delete;

    // Kind selection on path; keeps the file object and start time.
    // Raises CFileException / CTimeException like OpenEcgFile.
    void OpenFile(const std::string& path);
    // Stops the analysis, then closes and deletes the file object.
    void CloseFile();

    // Forwarding operations.
    int GetFileKind() const;
    // The lead the samples are, "" when the recording does not name it.
    std::string GetLeadLabel() const;
    uint64_t GetSampleCount() const;
    uint32_t ReadSamples(int16_t* buffer, int64_t first, uint32_t count);
    bool ReadHeader(void* buffer);
    // The recording's leads (file order) for the view; the analysed one is
    // what ReadSamples reads.
    int GetLeadCount() const;
    int GetAnalysedLead() const;
    std::string GetLeadName(int lead) const;
    uint32_t ReadLeadSamples(int lead, int16_t* buffer, int64_t first, uint32_t count);
    // Stops the run and analyses another lead from the start, reporting to
    // pView; false (nothing changed) when the recording has no such lead.
    bool SelectLead(int lead, IAnalysisView* pView);

    // Analysis run. The detector chosen here serves the runs started after;
    // short recordings always show the recorder's own beats.
    void SetDetectorKind(DetectorKind kind) { m_eDetectorKind = kind; }
    DetectorKind GetDetectorKind() const { return m_eDetectorKind; }
    // The detector that found the beats of the latest run: Standard also when
    // no detector ran (a short recording, or no run yet).
    DetectorKind GetAnalysisDetector() const { return m_eAnalysisDetector; }
    // Threads of the runs started after: 0 is one per core.
    void SetThreadCount(int threads) { m_nThreads = threads < 0 ? 0 : threads; }
    int GetThreadCount() const { return m_nThreads; }
    void StartAnalysis(IAnalysisView* pView);
    void StopAnalysis();
    // Blocks until a running worker has ended by itself (command-line use).
    void WaitAnalysis();
    bool IsAnalysisRunning() const { return m_bWorkerAlive.load(std::memory_order_acquire); }
    QrsDetector& GetDetector();

    // Building the beat list and statistics.
    void AddBeat(uint32_t position);
    void BuildRRIntervals();
    void FindIrregularBeats();
    void ComputeMinuteStats(IAnalysisView* pView);
    bool ComputeHourStats(IAnalysisView* pView);

    // What the latest run found, once it has ended with its statistics (null
    // before, and after a run that did not complete). Safe from any thread.
    std::shared_ptr<const AnalysisResults> GetResults() const;

    // A reviewer's beats and classes (same length; sorted, distinct positions
    // below the sample count) in place of the run's: every step after
    // detection runs again on them and the results are published anew, the
    // classes kept as given. Only once a run has ended; false otherwise, or
    // when the lists are not of that form.
    bool ReplaceBeats(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes);
    // Whether the published beats are a reviewer's.
    bool IsReviewed() const { return m_bReviewed; }

    // Queries.
    bool IsDetectionDone() const { return m_bDetectionDone.load(std::memory_order_acquire); }
    bool IsStatisticsReady() const { return m_bStatisticsReady.load(std::memory_order_acquire); }
    // The last run ended early on a file error or for want of memory.
    bool HasRunFailed() const { return m_bRunFailed.load(std::memory_order_acquire); }
    size_t GetBeatsInRange(uint64_t first, uint32_t length, std::vector<uint32_t>& out) const;
    size_t GetAbnormalBeats(std::vector<uint32_t>& out) const;
    size_t GetAbnormalCount() const { return m_vecAbnormalBeats.size(); }
    size_t GetHourStats(std::vector<const HourRateStats*>& out) const;
    size_t GetMinuteStats(std::vector<const MinuteRateStats*>& out) const;
    uint64_t FindMinRatePosition() const;
    uint64_t FindMaxRatePosition() const;
    void GetTimeAt(CTime* out, int32_t seconds, bool absolute) const;
    static int32_t GetHeaderAverageRR(const RecordingHeader& header);

    const std::string& GetFilePath() const { return m_strFilePath; }
    CTime GetStartTime() const { return m_timeStart; }
    // The file object, or null; the document keeps it.
    CEcgFile* GetEcgFile() const { return m_pEcgFile.get(); }

private:
    // Tests set and read the state through this one seam (tests/support).
    friend struct CEcgDocumentTestAccess;

    void AnalysisThreadProc(IAnalysisView* pView);
    // The reader the worker and the detector priming use.
    std::unique_ptr<CEcgFile> OpenAnalysisReader();
    // Every step after detection, for every kind, in one order: RR intervals,
    // irregular beats, the detection notification, minute and hour records,
    // then the additions and the published results. False when it ran out of
    // memory before the detection was done (the caller ends the run).
    bool FinishDetection(IAnalysisView* pView, CEcgFile* samples);
    // Steps of a correction running on other threads; one left empty is done
    // in PublishResults. Their ends wait for them.
    struct PendingSteps {
        std::future<std::vector<Episode>> af;
        std::future<HrvMeasures> hrv;
    };
    // given: the classes to keep, or null to classify the beats.
    void PublishResults(CEcgFile* samples, const std::vector<BeatClass>* given = nullptr,
                        PendingSteps* pending = nullptr);

    // Members in the order the document declares them.
    std::string m_strFilePath;
    std::unique_ptr<CEcgFile> m_pEcgFile;
    std::mutex m_csDetector;
    std::thread m_hAnalysisThread;
    std::atomic<bool> m_bCancelAnalysis{false};
    std::atomic<bool> m_bDetectionDone{false};
    std::atomic<bool> m_bStatisticsReady{false};
    bool m_bDetectorPrimed = false;
    int32_t m_nBeatCount = 0;
    std::vector<uint32_t> m_vecBeats;
    std::vector<uint32_t> m_vecRRIntervals;
    std::vector<uint32_t> m_vecAbnormalBeats;
    std::vector<std::unique_ptr<HourRateStats>> m_vecHourStats;
    CTime m_timeStart;
    QrsDetector m_detector;
    std::vector<std::unique_ptr<MinuteRateStats>> m_vecMinuteStats;

    DetectorKind m_eDetectorKind = DetectorKind::Standard;
    DetectorKind m_eAnalysisDetector = DetectorKind::Standard;  // set before the worker starts

    std::atomic<bool> m_bWorkerAlive{false};
    std::atomic<bool> m_bRunFailed{false};

    bool m_bReviewed = false;
    // One: handing each 0.1 s chunk to the other cores costs more than it gains
    // on small machines; the setting asks for more.
    int m_nThreads = 0;
    mutable std::mutex m_csResults;
    std::shared_ptr<const AnalysisResults> m_pResults;
    std::shared_ptr<const AnalysisResults> m_pRunResults;  // the classifier's, before any review
};
