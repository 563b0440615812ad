// What a run found, read: the recorder's queries, and the steps after
// detection that are not the recorder's own (classes, AF, ectopic events, HRV)
// published as one value; and a reviewer's beats put in place of the run's.
#include <algorithm>
#include <future>
#include <memory>
#include <system_error>

#include "analysis/AtrialFibrillation.h"
#include "analysis/BeatClassifier.h"
#include "analysis/EcgDocument.h"
#include "analysis/Ectopy.h"
#include "analysis/WorkerPool.h"
#include "analysis/HeartRateVariability.h"

namespace {

// Beats inside atrial fibrillation are not supraventricular ectopics: the
// irregular rhythm is the AF itself.
void NoSupraventricularInAf(const std::vector<uint32_t>& beats, const std::vector<Episode>& af,
                            std::vector<BeatClass>& classes)
{
    for (const Episode& e : af) {
        const auto from = std::lower_bound(beats.begin(), beats.end(), e.first);
        const auto to = std::upper_bound(beats.begin(), beats.end(), e.last);
        for (auto it = from; it != to; ++it) {
            BeatClass& c = classes[size_t(it - beats.begin())];
            if (c == BeatClass::S)
                c = BeatClass::N;
        }
    }
}

// f on another thread; where none can be started, when its result is asked for.
template <class F>
auto Beside(F f)
{
    try {
        return std::async(std::launch::async, f);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, f);
    }
}

}  // namespace

void CEcgDocument::PublishResults(CEcgFile* samples, const std::vector<BeatClass>* given, PendingSteps* pending)
{
    auto results = std::make_shared<AnalysisResults>();
    AnalysisResults& r = *results;
    r.completed = true;
    r.beats = m_vecBeats;
    r.rrIntervals = m_vecRRIntervals;
    r.irregular = m_vecAbnormalBeats;
    if (IsStatisticsReady()) {
        for (const auto& m : m_vecMinuteStats)
            r.minutes.push_back(*m);
        for (const auto& h : m_vecHourStats)
            r.hours.push_back(*h);
        r.minRatePosition = FindMinRatePosition();
        r.maxRatePosition = FindMaxRatePosition();
    }
    if (IsLongRecordingKind(GetFileKind())) {
        r.hasHrv = true;
        r.hrv = pending && pending->hrv.valid() ? pending->hrv.get() : ComputeHrv(r.beats, r.irregular, ECG_SAMPLE_RATE);
    }

    const uint64_t sampleCount = std::min(GetSampleCount(), ANALYSIS_MAX_SAMPLES);
    SampleReader read;
    if (samples)
        read = [samples](int16_t* buffer, uint64_t first, uint32_t count) {
            return samples->ReadSamples(buffer, first, count);
        };
    std::shared_ptr<const AnalysisResults> previous;
    {
        // The run's own grouping, so that a beat deleted and brought back by
        // undo returns to its family.
        std::lock_guard<std::mutex> lock(m_csResults);
        previous = m_pRunResults ? m_pRunResults : m_pResults;
    }
    if (given) {
        // A reviewer's classes are the last word; the families stay those the
        // classifier found, a beat added by hand in none.
        r.classes = *given;
        r.families = previous ? previous->families : std::vector<BeatFamily>{};
        r.family.assign(r.beats.size(), NO_FAMILY);
        if (previous && previous->family.size() == previous->beats.size()) {
            // Both lists are sorted: one walk pairs the beats they share.
            const std::vector<uint32_t>& old = previous->beats;
            size_t j = 0;
            for (size_t i = 0; i < r.beats.size() && j < old.size(); ++i) {
                while (j < old.size() && old[j] < r.beats[i])
                    ++j;
                if (j < old.size() && old[j] == r.beats[i])
                    r.family[i] = previous->family[j];
            }
        }
    } else if (read) {
        BeatClassification c = ClassifyBeats(read, sampleCount, r.beats, unsigned(ResolveThreadCount(m_nThreads)));
        r.classes = std::move(c.classes);
        r.family = std::move(c.family);
        r.families = std::move(c.families);
    } else {
        r.classes.assign(r.beats.size(), BeatClass::Unclassified);
        r.family.assign(r.beats.size(), NO_FAMILY);
    }
    const std::vector<Episode> af = pending && pending->af.valid() ? pending->af.get() : FindAfEpisodes(r.beats, r.classes, sampleCount, read);
    if (!given)
        NoSupraventricularInAf(r.beats, af, r.classes);
    r.episodes = FindEctopyEvents(r.beats, r.classes);
    r.ectopy = SummarizeEctopy(r.beats, r.classes, r.episodes);
    r.af = SummarizeAf(af, sampleCount, r.beats);
    r.episodes.insert(r.episodes.end(), af.begin(), af.end());
    std::stable_sort(r.episodes.begin(), r.episodes.end(),
                     [](const Episode& a, const Episode& b) { return a.first < b.first; });

    std::lock_guard<std::mutex> lock(m_csResults);
    if (!given)
        m_pRunResults = results;
    m_pResults = std::move(results);
}

bool CEcgDocument::ReplaceBeats(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes)
{
    if (IsAnalysisRunning() || !IsDetectionDone() || !GetResults() || beats.size() != classes.size())
        return false;
    const uint64_t count = std::min(GetSampleCount(), ANALYSIS_MAX_SAMPLES);
    for (size_t i = 0; i < beats.size(); ++i)
        if (beats[i] >= count || (i > 0 && beats[i] <= beats[i - 1]))
            return false;
    // The worker has ended (its thread is joined before the flags are read
    // again), so the lists are this thread's.
    if (m_hAnalysisThread.joinable())
        m_hAnalysisThread.join();
    // The AF scan needs only the given beats and classes and is the longest
    // step: it runs beside the others, on its own reader (the future's end
    // waits for it, also when a step below throws).
    PendingSteps pending;
    pending.af = Beside([this, &beats, &classes, count] {
        std::unique_ptr<CEcgFile> reader = OpenAnalysisReader();
        CEcgFile* samples = reader.get();
        const SampleReader read = [samples](int16_t* buffer, uint64_t first, uint32_t n) {
            return samples->ReadSamples(buffer, first, n);
        };
        return FindAfEpisodes(beats, classes, count, read);
    });
    m_vecBeats = beats;
    m_vecRRIntervals.clear();
    m_vecAbnormalBeats.clear();
    m_nBeatCount = 0;
    m_bStatisticsReady.store(false, std::memory_order_release);
    BuildRRIntervals();
    FindIrregularBeats();
    m_nBeatCount = int32_t(m_vecBeats.size());
    // HRV too reads lists that stay as they are until the results are published.
    if (IsLongRecordingKind(GetFileKind()))
        pending.hrv = Beside([this] { return ComputeHrv(m_vecBeats, m_vecAbnormalBeats, ECG_SAMPLE_RATE); });
    ComputeHourStats(nullptr);
    // The classes are the reviewer's; the AF step reads the lead as the run did.
    PublishResults(nullptr, &classes, &pending);
    m_bReviewed = true;
    return true;
}

std::shared_ptr<const AnalysisResults> CEcgDocument::GetResults() const
{
    std::lock_guard<std::mutex> lock(m_csResults);
    return m_pResults;
}

BeatClass AnalysisResults::ClassAt(uint32_t position) const
{
    const auto it = std::lower_bound(beats.begin(), beats.end(), position);
    if (it == beats.end() || *it != position || classes.size() != beats.size())
        return BeatClass::Unclassified;
    return classes[size_t(it - beats.begin())];
}

// ---------------------------------------------------------------------------
// Queries

size_t CEcgDocument::GetBeatsInRange(uint64_t first, uint32_t length, std::vector<uint32_t>& out) const
{
    if (!IsDetectionDone())
        return 0;
    const uint64_t last = first + length;
    size_t i = 0;
    while (i < m_vecBeats.size() && !(m_vecBeats[i] >= first && m_vecBeats[i] <= last))
        ++i;
    for (; i < m_vecBeats.size() && m_vecBeats[i] >= first && m_vecBeats[i] <= last; ++i)
        out.push_back(m_vecBeats[i]);
    return out.size();
}

size_t CEcgDocument::GetAbnormalBeats(std::vector<uint32_t>& out) const
{
    if (!IsDetectionDone())
        return 0;
    out = m_vecAbnormalBeats;
    return out.size();
}

size_t CEcgDocument::GetHourStats(std::vector<const HourRateStats*>& out) const
{
    if (!IsStatisticsReady())
        return 0;
    out.clear();
    for (const auto& rec : m_vecHourStats)
        out.push_back(rec.get());
    return out.size();
}

size_t CEcgDocument::GetMinuteStats(std::vector<const MinuteRateStats*>& out) const
{
    if (!IsStatisticsReady())
        return 0;
    out.clear();
    for (const auto& rec : m_vecMinuteStats)
        out.push_back(rec.get());
    return out.size();
}

uint64_t CEcgDocument::FindMinRatePosition() const
{
    float best = 0;
    uint64_t result = 0;
    for (const auto& rec : m_vecHourStats) {
        if (best == 0 || rec->fMinRate < best) {
            best = rec->fMinRate;
            result = rec->nSlowBeatPos;
        }
    }
    return result;
}

uint64_t CEcgDocument::FindMaxRatePosition() const
{
    float best = 0;
    uint64_t result = 0;
    for (const auto& rec : m_vecHourStats) {
        if (best == 0 || rec->fMaxRate > best) {
            best = rec->fMaxRate;
            result = rec->nFastBeatPos;
        }
    }
    return result;
}

void CEcgDocument::GetTimeAt(CTime* out, int32_t seconds, bool absolute) const
{
    *out = absolute ? CTime(seconds) : m_timeStart + seconds;
}

int32_t CEcgDocument::GetHeaderAverageRR(const RecordingHeader& header)
{
    return HeaderAverageRR(header);
}
