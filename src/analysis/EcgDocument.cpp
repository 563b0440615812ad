#include "analysis/EcgDocument.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "analysis/PreciseQrsDetector.h"
#include "analysis/QrsDetectorFast.h"
#include "analysis/WorkerPool.h"

namespace {

constexpr uint64_t kMaxAnalysedSamples = ANALYSIS_MAX_SAMPLES;

}  // namespace

void UpsampleByRepeat(int16_t* buffer, uint32_t length, uint32_t factor)
{
    if (factor <= 1)
        return;
    for (uint32_t i = length; i-- > 1;)
        buffer[i] = buffer[i / factor];
}

CEcgDocument::CEcgDocument() = default;

CEcgDocument::~CEcgDocument()
{
    // The worker may still be writing the records: stop it before freeing them.
    StopAnalysis();
    m_vecHourStats.clear();
    m_vecMinuteStats.clear();
    if (m_pEcgFile) {
        m_pEcgFile->Close();
        m_pEcgFile.reset();
    }
}

void CEcgDocument::OpenFile(const std::string& path)
{
    CloseFile();
    CTime start = m_timeStart;
    std::unique_ptr<CEcgFile> file = OpenEcgFile(path, &start);
    m_strFilePath = path;
    m_pEcgFile = std::move(file);
    m_timeStart = start;
}

void CEcgDocument::CloseFile()
{
    StopAnalysis();
    if (m_pEcgFile) {
        m_pEcgFile->Close();
        m_pEcgFile.reset();
    }
}

int CEcgDocument::GetFileKind() const
{
    return m_pEcgFile ? m_pEcgFile->GetFileKind() : 0;
}

std::string CEcgDocument::GetLeadLabel() const
{
    return m_pEcgFile ? m_pEcgFile->GetLeadLabel() : std::string();
}

uint64_t CEcgDocument::GetSampleCount() const
{
    return m_pEcgFile ? m_pEcgFile->GetSampleCount() : 0;
}

uint32_t CEcgDocument::ReadSamples(int16_t* buffer, int64_t first, uint32_t count)
{
    if (!m_pEcgFile)
        return 0;
    if (first < 0)
        first = 0;
    if (uint64_t(first) > m_pEcgFile->GetSampleCount())
        return 0;
    return m_pEcgFile->ReadSamples(buffer, uint64_t(first), count);
}

int CEcgDocument::GetLeadCount() const
{
    return m_pEcgFile ? m_pEcgFile->GetLeadCount() : 0;
}

int CEcgDocument::GetAnalysedLead() const
{
    return m_pEcgFile ? m_pEcgFile->GetAnalysedLead() : 0;
}

std::string CEcgDocument::GetLeadName(int lead) const
{
    return m_pEcgFile ? m_pEcgFile->GetLeadName(lead) : std::string();
}

uint32_t CEcgDocument::ReadLeadSamples(int lead, int16_t* buffer, int64_t first, uint32_t count)
{
    if (!m_pEcgFile || first < 0 || uint64_t(first) > m_pEcgFile->GetSampleCount())
        return 0;
    return m_pEcgFile->ReadLeadSamples(lead, buffer, uint64_t(first), count);
}

bool CEcgDocument::SelectLead(int lead, IAnalysisView* pView)
{
    if (!m_pEcgFile)
        return false;
    std::unique_ptr<CEcgFile> file = m_pEcgFile->WithAnalysedLead(lead);
    if (!file)
        return false;
    StopAnalysis();
    m_pEcgFile->Close();
    m_pEcgFile = std::move(file);
    // The detector settles again on the new lead's first seconds.
    m_detector.Reset();
    m_bDetectorPrimed = false;
    StartAnalysis(pView);
    return true;
}

bool CEcgDocument::ReadHeader(void* buffer)
{
    if (!m_pEcgFile || IsLongRecordingKind(m_pEcgFile->GetFileKind()))
        return false;
    return m_pEcgFile->ReadHeader(buffer);
}

// ---------------------------------------------------------------------------
// Analysis run

void CEcgDocument::StartAnalysis(IAnalysisView* pView)
{
    StopAnalysis();

    m_bCancelAnalysis.store(false, std::memory_order_release);
    m_bDetectionDone.store(false, std::memory_order_release);
    m_bStatisticsReady.store(false, std::memory_order_release);
    m_bRunFailed.store(false, std::memory_order_release);
    m_nBeatCount = 0;
    m_vecBeats.clear();
    m_vecRRIntervals.clear();
    m_vecAbnormalBeats.clear();
    m_eAnalysisDetector = DetectorKind::Standard;
    m_bReviewed = false;
    {
        std::lock_guard<std::mutex> lock(m_csResults);
        m_pResults.reset();
        m_pRunResults.reset();
    }

    if (!m_pEcgFile)
        return;

    if (IsLongRecordingKind(m_pEcgFile->GetFileKind())) {
        m_eAnalysisDetector = m_eDetectorKind;
        m_bWorkerAlive.store(true, std::memory_order_release);
        m_hAnalysisThread = std::thread(&CEcgDocument::AnalysisThreadProc, this, pView);
        return;
    }

    // Short recording: the recorder's own beat table, on this thread.
    if (pView)
        pView->ShowProgress();
    RecordingHeader header;
    bool haveHeader = false;
    try {
        haveHeader = m_pEcgFile->ReadHeader(&header);
    } catch (const CFileException&) {
        haveHeader = false;  // an unreadable header is a header without beats
    }
    if (haveHeader) {
        const int count = HeaderBeatCount(header);
        for (int k = 0; k < count; ++k)
            AddBeat(HeaderBeatPosition(header, k));
    }
    if (!FinishDetection(pView, m_pEcgFile.get())) {
        m_bRunFailed.store(true, std::memory_order_release);
        if (pView)
            pView->OnDetectionFinished(false);
    }
}

void CEcgDocument::StopAnalysis()
{
    if (!m_hAnalysisThread.joinable())
        return;
    m_bCancelAnalysis.store(true, std::memory_order_release);
    if (m_hAnalysisThread.get_id() == std::this_thread::get_id())
        return;  // asked from a view notification: the worker sees the flag
    // The worker polls the flag between chunks and beat insertions, so this
    // wait is short; it must end before anything it touches goes away.
    m_hAnalysisThread.join();
    m_bWorkerAlive.store(false, std::memory_order_release);
}

void CEcgDocument::WaitAnalysis()
{
    if (m_hAnalysisThread.joinable() && m_hAnalysisThread.get_id() != std::this_thread::get_id())
        m_hAnalysisThread.join();
}

QrsDetector& CEcgDocument::GetDetector()
{
    if (m_bDetectorPrimed)
        return m_detector;

    // Run the first 12 s once so that the threshold and the delay lines are
    // settled when chunk 0 starts at sample 0 again.
    std::vector<int16_t> buffer(2 * DETECTOR_PRIME_SAMPLES, 0);
    uint32_t read = 0;
    {
        std::unique_ptr<CEcgFile> reader = OpenAnalysisReader();
        read = reader->ReadSamples(buffer.data(), 0, DETECTOR_PRIME_SAMPLES);
        reader->Close();
    }
    UpsampleByRepeat(buffer.data(), 2 * read, 2);
    std::vector<uint32_t> positions(read);
    uint32_t found = 0;
    m_detector.Detect(buffer.data(), 2 * read, positions.data(), &found);

    m_bDetectorPrimed = true;
    return m_detector;
}

std::unique_ptr<CEcgFile> CEcgDocument::OpenAnalysisReader()
{
    // Each kind hands out its own: a standard recording its decoded samples,
    // the recorder's files a second reader of the path.
    if (!m_pEcgFile)
        throw CFileException(CFileException::invalidFile, -1, m_strFilePath);
    return m_pEcgFile->OpenReader();
}

void CEcgDocument::AnalysisThreadProc(IAnalysisView* pView)
{
    const auto cancelled = [this] { return m_bCancelAnalysis.load(std::memory_order_acquire); };
    // A run that could not read its recording ends as not completed, quietly
    // when it was cancelled anyway.
    const auto finishIncomplete = [&] {
        const bool tell = !cancelled();
        m_bRunFailed.store(true, std::memory_order_release);
        m_bWorkerAlive.store(false, std::memory_order_release);
        if (tell && pView)
            pView->OnDetectionFinished(false);
    };

    m_bDetectionDone.store(false, std::memory_order_release);
    m_bStatisticsReady.store(false, std::memory_order_release);
    if (pView)
        pView->ShowProgress();

    std::unique_ptr<CEcgFile> pReader;
    try {
        pReader = OpenAnalysisReader();
        CEcgFile& reader = *pReader;
        const uint64_t total = std::min(reader.GetSampleCount(), kMaxAnalysedSamples);
        const uint64_t chunks = (total + ANALYSIS_CHUNK_STEP - 1) / ANALYSIS_CHUNK_STEP;

        WorkerPool pool(m_nThreads);
        std::vector<uint32_t> lastChunk, thisChunk;  // positions each chunk reported
        // The precise detector sees the recording once, as one stream: each
        // chunk gives it only the samples it has not had yet, and it hands
        // back each beat once that beat is final.
        std::unique_ptr<PreciseQrsDetector> precise;
        if (m_eAnalysisDetector == DetectorKind::Precise)
            precise = std::make_unique<PreciseQrsDetector>();
        std::vector<uint64_t> found;
        uint64_t fed = 0;
        const auto addFound = [&] {
            for (size_t j = 0; j < found.size() && !cancelled(); ++j)
                AddBeat(uint32_t(found[j]));
            found.clear();
        };
        short lastPercent = 0;
        const auto progress = [&](uint64_t i) {
            const short percent = short((i + 1) * 100 / chunks);
            if (percent != lastPercent) {
                lastPercent = percent;
                if (pView)
                    pView->SetProgress(percent);
            }
        };
        // The first samples of a chunk repeat the end of the one before, so
        // the filters first see a jump back in time: what they report there
        // is either a transient or a second copy of a beat already found.
        const auto addChunk = [&](uint64_t i, const uint32_t* positions, uint32_t count) {
            const uint64_t first = i * ANALYSIS_CHUNK_STEP;
            const uint64_t overlapEnd = first + (ANALYSIS_CHUNK_LENGTH - ANALYSIS_CHUNK_STEP);
            const uint64_t settled = first + ANALYSIS_OVERLAP_SETTLE;
            thisChunk.clear();
            for (uint32_t j = 0; j < count && !cancelled(); ++j) {
                const int32_t e = int32_t(positions[j]);
                if (e < 0)
                    continue;
                const uint64_t p = first + uint32_t(e) / 2;
                thisChunk.push_back(uint32_t(p));
                if (i > 0 && p < overlapEnd) {
                    if (p < settled)
                        continue;
                    const bool seen = std::any_of(lastChunk.begin(), lastChunk.end(), [p](uint32_t q) {
                        return (p > q ? p - q : q - p) <= ANALYSIS_OVERLAP_SAME_BEAT;
                    });
                    if (seen)
                        continue;
                }
                AddBeat(uint32_t(p));
            }
            lastChunk.swap(thisChunk);
        };

        if (precise) {
            // A batch of chunks' new samples is one piece of the stream.
            const uint32_t batch = uint32_t(std::min<uint64_t>(ANALYSIS_CHUNK_BATCH, chunks));
            std::vector<int16_t> stream(size_t(ANALYSIS_CHUNK_LENGTH) * batch);
            for (uint64_t i = 0; i < chunks && !cancelled(); i += batch) {
                const uint32_t calls = uint32_t(std::min<uint64_t>(batch, chunks - i));
                size_t length = 0;
                for (uint32_t k = 0; k < calls; ++k) {
                    const uint64_t first = (i + k) * ANALYSIS_CHUNK_STEP;
                    const uint32_t want = uint32_t(std::min<uint64_t>(ANALYSIS_CHUNK_LENGTH, kMaxAnalysedSamples - first));
                    const uint32_t read = reader.ReadSamples(stream.data() + length, first, want);
                    const uint64_t from = std::max(first, fed);
                    if (first + read > from) {
                        std::memmove(stream.data() + length, stream.data() + length + (from - first),
                                     size_t(first + read - from) * sizeof(int16_t));
                        length += size_t(first + read - from);
                        fed = first + read;
                    }
                }
                precise->Process(stream.data(), length, found, pool);
                addFound();
                if (cancelled())
                    break;
                for (uint32_t k = 0; k < calls && !cancelled(); ++k)
                    progress(i + k);
            }
        } else {
            // Each chunk, upsampled, is one Detect call's input; a batch of
            // them lies in stream one after another.
            const uint32_t batch = uint32_t(std::min<uint64_t>(ANALYSIS_CHUNK_BATCH, chunks));
            std::vector<int16_t> stream(size_t(2) * ANALYSIS_CHUNK_LENGTH * batch);
            std::vector<uint32_t> positions(ANALYSIS_CHUNK_LENGTH);
            std::vector<uint32_t> counts(batch);
            for (uint64_t i = 0; i < chunks && !cancelled(); i += batch) {
                const uint32_t calls = uint32_t(std::min<uint64_t>(batch, chunks - i));
                uint32_t offset = 0;
                for (uint32_t k = 0; k < calls; ++k) {
                    const uint64_t first = (i + k) * ANALYSIS_CHUNK_STEP;
                    const uint32_t want = uint32_t(std::min<uint64_t>(ANALYSIS_CHUNK_LENGTH, kMaxAnalysedSamples - first));
                    int16_t* at = stream.data() + offset;
                    const uint32_t read = reader.ReadSamples(at, first, want);
                    UpsampleByRepeat(at, 2 * read, 2);
                    counts[k] = 2 * read;
                    offset += 2 * read;
                }
                std::lock_guard<std::mutex> lock(m_csDetector);
                QrsFast::DetectCalls(GetDetector(), stream.data(), counts.data(), calls, pool, positions.data(),
                                     [&](uint32_t k, uint32_t count) {
                                         if (cancelled())
                                             return;
                                         addChunk(i + k, positions.data(), count);
                                         if (!cancelled())
                                             progress(i + k);
                                     });
            }
        }
        if (precise && !cancelled()) {
            precise->Finish(found);
            addFound();
        }
    } catch (const CFileException&) {
        finishIncomplete();
        return;
    } catch (const CTimeException&) {
        finishIncomplete();
        return;
    } catch (const std::bad_alloc&) {
        finishIncomplete();
        return;
    }

    if (cancelled()) {
        // Nobody waits for results any more; the view may be going away.
        m_bDetectionDone.store(true, std::memory_order_release);
        m_bWorkerAlive.store(false, std::memory_order_release);
        return;
    }
    if (!FinishDetection(pView, pReader.get()))
        finishIncomplete();
}

bool CEcgDocument::FinishDetection(IAnalysisView* pView, CEcgFile* samples)
{
    try {
        BuildRRIntervals();
        FindIrregularBeats();
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_nBeatCount = int32_t(m_vecBeats.size());
    m_bDetectionDone.store(true, std::memory_order_release);
    if (pView) {
        pView->OnDetectionFinished(true);
        pView->BeginStatisticsProgress();
    }
    bool produced = false;
    try {
        produced = ComputeHourStats(pView);
    } catch (const std::bad_alloc&) {
        // The records stay unpublished (the ready flag is set last); the beat
        // list is final and stays.
        m_vecHourStats.clear();
        m_vecMinuteStats.clear();
        m_bRunFailed.store(true, std::memory_order_release);
    }
    if (!m_bRunFailed.load(std::memory_order_acquire)) {
        try {
            PublishResults(samples);
        } catch (const std::bad_alloc&) {
            m_bRunFailed.store(true, std::memory_order_release);
        } catch (const CFileException&) {
            m_bRunFailed.store(true, std::memory_order_release);
        }
    }
    m_bWorkerAlive.store(false, std::memory_order_release);
    if (pView)
        pView->OnStatisticsFinished(produced);
    return true;
}

// ---------------------------------------------------------------------------
// Beat list and statistics

void CEcgDocument::AddBeat(uint32_t position)
{
    m_vecBeats.push_back(position);
}

void CEcgDocument::BuildRRIntervals()
{
    if (m_vecBeats.empty())
        return;
    // A reviewer's list comes sorted; sorting it again costs a correction more than the rest.
    if (!std::is_sorted(m_vecBeats.begin(), m_vecBeats.end()))
        std::sort(m_vecBeats.begin(), m_vecBeats.end());
    m_vecBeats.erase(std::unique(m_vecBeats.begin(), m_vecBeats.end()), m_vecBeats.end());
    m_nBeatCount = int32_t(m_vecBeats.size());
    m_vecRRIntervals.clear();
    m_vecRRIntervals.reserve(m_vecBeats.size() - 1);
    for (size_t i = 0; i + 1 < m_vecBeats.size(); ++i)
        m_vecRRIntervals.push_back(m_vecBeats[i + 1] - m_vecBeats[i]);
}

void CEcgDocument::FindIrregularBeats()
{
    if (m_vecRRIntervals.empty() || m_nBeatCount - 1 < 1)
        return;
    const uint32_t n = uint32_t(std::min<size_t>(uint32_t(m_nBeatCount - 1), m_vecRRIntervals.size()));
    std::vector<int32_t> found(n);
    const uint32_t count = QrsDetector::FindIrregularRR(m_vecRRIntervals.data(), n, found.data(), n);
    for (uint32_t k = 0; k < count; ++k)
        m_vecAbnormalBeats.push_back(m_vecBeats[size_t(found[k])]);
}

namespace {

// Running extremes of a minute; 0 stands for "not set yet".
void MergeRate(float avg, float& minRate, float& maxRate)
{
    if (minRate == 0)
        minRate = avg;
    if (maxRate == 0)
        maxRate = avg;
    if (avg <= minRate)
        minRate = avg;
    if (avg >= maxRate)
        maxRate = avg;
}

// The local minute of a time, with a broken-down time once per minute instead
// of once per beat: a whole minute whose first and last second agree on the
// date and hour has no change of the clock's offset within it.
class MinuteOfTime {
public:
    int At(int64_t t)
    {
        if (t >= m_from && t < m_to)
            return m_minute;
        const LocalFields f = CTime(t).GetLocalFields();
        m_from = m_to = 0;
        if (f.valid && f.second >= 0 && f.second < 60) {
            const int64_t from = t - f.second;
            const LocalFields a = CTime(from).GetLocalFields();
            const LocalFields b = CTime(from + 59).GetLocalFields();
            if (a.valid && b.valid && a.second == 0 && b.second == 59 && a.minute == f.minute && b.minute == f.minute &&
                a.hour == b.hour && a.day == b.day && a.month == b.month && a.year == b.year) {
                m_from = from;
                m_to = from + 60;
            }
        }
        m_minute = f.minute;
        return m_minute;
    }

private:
    int64_t m_from = 0, m_to = 0;
    int m_minute = -1;
};

}  // namespace

void CEcgDocument::ComputeMinuteStats(IAnalysisView* pView)
{
    const size_t n = m_vecBeats.size();
    bool haveGroup = false;
    uint32_t groupStart = 0;
    uint32_t prev = 0;
    int32_t count = 0;     // beats after the group's first
    int32_t rates = 0;     // rates accumulated in the group
    double sum = 0;
    float minRate = 0, maxRate = 0;
    int32_t maxRR = 0, minRR = 0;
    uint32_t slowPos = 0, fastPos = 0;
    int32_t nextIndex = 0;
    int curMinute = m_timeStart.GetMinute();
    short percentSent = 0;
    MinuteOfTime minuteOf;

    for (size_t i = 1; i <= n; ++i) {
        const uint32_t w = m_vecBeats[i - 1];
        const short percent = short(int64_t(double(i) * 100.0 / double(n)));
        if (percent != percentSent) {
            percentSent = percent;
            if (pView)
                pView->SetProgress(percent);
        }
        if (!haveGroup) {
            haveGroup = true;
            groupStart = w;
            prev = w;
            continue;
        }
        ++count;
        const int minute = minuteOf.At((m_timeStart + int64_t(w / ECG_SAMPLE_RATE)).GetTime());
        if (minute == curMinute) {
            const int32_t rr = int32_t(w - prev);
            if (slowPos == 0)
                slowPos = w;
            if (fastPos == 0)
                fastPos = w;
            if (maxRR == 0)
                maxRR = rr;
            if (minRR == 0)
                minRR = rr;
            if (rr > maxRR) {
                maxRR = rr;
                slowPos = w;
            }
            if (rr < minRR) {
                minRR = rr;
                fastPos = w;
            }
            const float rate = float(15000.0 / (double(w - groupStart) / double(count)));
            sum += rate;
            ++rates;
            MergeRate(float(sum / count), minRate, maxRate);
        }
        if (minute != curMinute || i == n) {
            // A group without any rate (a minute with a single beat) leaves no record.
            if (rates > 0) {
                const float avg = float(sum / rates);
                MergeRate(avg, minRate, maxRate);
                auto rec = std::make_unique<MinuteRateStats>();
                *rec = MinuteRateStats{nextIndex, avg, minRate, maxRate, slowPos, fastPos};
                m_vecMinuteStats.push_back(std::move(rec));
                ++nextIndex;
            }
            sum = 0;
            rates = 0;
            minRate = maxRate = 0;
            maxRR = minRR = 0;
            slowPos = fastPos = 0;
            count = 0;
            groupStart = w;
            curMinute = minute;
        }
        prev = w;
    }
}

bool CEcgDocument::ComputeHourStats(IAnalysisView* pView)
{
    m_vecHourStats.clear();
    m_vecMinuteStats.clear();
    if (m_nBeatCount <= 1)
        return false;

    ComputeMinuteStats(pView);
    const size_t k = m_vecMinuteStats.size();
    if (k > 0) {
        const auto timeOf = [this](const MinuteRateStats& m) { return m_timeStart + 60 * int64_t(m.nIndex); };
        int hourRef = m_timeStart.GetHour();
        const MinuteRateStats* groupStart = m_vecMinuteStats[0].get();
        double sum = groupStart->fAvgRate;
        int32_t minutes = 1;
        float minRate = groupStart->fMinRate, maxRate = groupStart->fMaxRate;
        uint32_t slowPos = groupStart->nSlowBeatPos, fastPos = groupStart->nFastBeatPos;

        for (size_t i = 1; i <= k; ++i) {
            const MinuteRateStats& m = *m_vecMinuteStats[i < k ? i : k - 1];
            const int hour = timeOf(m).GetHour();
            if (i == k || hour != hourRef) {
                const LocalFields from = timeOf(*groupStart).GetLocalFields();
                const LocalFields to = timeOf(*m_vecMinuteStats[i - 1]).GetLocalFields();
                auto rec = std::make_unique<HourRateStats>();
                *rec = HourRateStats{from.hour, from.minute, to.hour, to.minute, float(sum / minutes),
                                     minRate,   maxRate,     slowPos, fastPos};
                m_vecHourStats.push_back(std::move(rec));
                if (i < k) {
                    groupStart = &m;
                    sum = m.fAvgRate;
                    minutes = 1;
                    minRate = m.fMinRate;
                    maxRate = m.fMaxRate;
                    slowPos = m.nSlowBeatPos;
                    fastPos = m.nFastBeatPos;
                    hourRef = hour;
                }
            } else {
                sum += m.fAvgRate;
                ++minutes;
                if (m.fMinRate <= minRate) {
                    minRate = m.fMinRate;
                    slowPos = m.nSlowBeatPos;
                }
                if (m.fMaxRate >= maxRate) {
                    maxRate = m.fMaxRate;
                    fastPos = m.nFastBeatPos;
                }
            }
        }
    }
    m_bStatisticsReady.store(true, std::memory_order_release);
    return true;
}
