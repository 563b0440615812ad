// The one seam through which tests reach a document's state: the lists and
// flags an analysis run builds, set directly or read back.
#pragma once

#include <mutex>
#include <vector>

#include "analysis/EcgDocument.h"

struct CEcgDocumentTestAccess {
    static std::vector<uint32_t>& Beats(CEcgDocument& d) { return d.m_vecBeats; }
    static std::vector<uint32_t>& RRIntervals(CEcgDocument& d) { return d.m_vecRRIntervals; }
    static std::vector<uint32_t>& AbnormalBeats(CEcgDocument& d) { return d.m_vecAbnormalBeats; }
    static std::vector<std::unique_ptr<MinuteRateStats>>& MinuteStats(CEcgDocument& d) { return d.m_vecMinuteStats; }
    static std::vector<std::unique_ptr<HourRateStats>>& HourStats(CEcgDocument& d) { return d.m_vecHourStats; }
    static int32_t BeatCount(const CEcgDocument& d) { return d.m_nBeatCount; }
    static bool IsDetectorPrimed(const CEcgDocument& d) { return d.m_bDetectorPrimed; }
    static std::mutex& DetectorLock(CEcgDocument& d) { return d.m_csDetector; }

    static void SetResults(CEcgDocument& d, std::shared_ptr<const AnalysisResults> r)
    {
        std::lock_guard<std::mutex> lock(d.m_csResults);
        d.m_pResults = std::move(r);
    }
    static void SetStartTime(CEcgDocument& d, CTime t) { d.m_timeStart = t; }
    // A file object of the test's own making in place of an opened recording.
    static void SetFile(CEcgDocument& d, std::unique_ptr<CEcgFile> file) { d.m_pEcgFile = std::move(file); }
    static void SetDetectionDone(CEcgDocument& d, bool done) { d.m_bDetectionDone.store(done); }
    static void SetStatisticsReady(CEcgDocument& d, bool ready) { d.m_bStatisticsReady.store(ready); }
    // As StartAnalysis records it for a long recording's run.
    static void SetAnalysisDetector(CEcgDocument& d, DetectorKind kind) { d.m_eAnalysisDetector = kind; }
    // As StopAnalysis does first, without waiting for the worker.
    static void RequestCancel(CEcgDocument& d) { d.m_bCancelAnalysis.store(true); }
};

using DocAccess = CEcgDocumentTestAccess;
