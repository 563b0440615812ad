#include "analysis/AtrialFibrillation.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint32_t RATE = 250;
constexpr uint32_t SHORTEST_RR = RATE / 5;  // 300 bpm: a double detection
constexpr uint32_t LONGEST_RR = RATE * 3;
constexpr int LAGS = 3;
// Fewer usable intervals than this around a beat say nothing about it.
constexpr uint32_t FEWEST_IN_WINDOW = 12;

// P-wave search before the R wave: 280 ms to 70 ms, clear of the QRS onset.
constexpr uint32_t P_FROM = 70, P_TO = 17, P_LENGTH = P_FROM - P_TO;
constexpr uint32_t P_BEATS = 24;  // beats averaged for one coherence value

bool Ectopic(BeatClass c) { return c == BeatClass::V || c == BeatClass::F || c == BeatClass::Q; }

struct Interval {
    uint32_t start;  // beat index
    uint32_t rr;     // samples
};

// Premature beats told from the RR intervals alone: a short interval, well
// under the local mean, followed by a clearly longer one (the compensatory
// or resetting pause).
std::vector<bool> PrematureBeats(const std::vector<uint32_t>& beats, const AfParameters& p)
{
    const size_t n = beats.size();
    std::vector<bool> out(n, false);
    constexpr size_t AROUND = 4;  // intervals each side for the local mean
    for (size_t k = 1; k + 1 < n; ++k) {
        const double before = beats[k] - beats[k - 1], after = beats[k + 1] - beats[k];
        double sum = 0;
        int count = 0;
        for (size_t i = k >= AROUND + 1 ? k - AROUND - 1 : 0; i + 1 < n && i < k + AROUND + 1; ++i) {
            if (i == k - 1 || i == k)
                continue;
            sum += beats[i + 1] - beats[i];
            ++count;
        }
        if (count == 0)
            continue;
        const double mean = sum / count;
        out[k] = before < p.premature * mean && after > p.pause * before;
    }
    return out;
}

// Intervals between two beats of the underlying rhythm: those touching a
// ventricular, fusion or unclassifiable beat, or a beat the RR intervals
// call premature, are left out, so that ectopy cannot look irregular, and so
// are double detections and dropouts.
std::vector<Interval> UsableIntervals(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes,
                                      const AfParameters& p)
{
    std::vector<Interval> out;
    out.reserve(beats.size());
    const bool classified = classes.size() == beats.size();
    const std::vector<bool> premature = PrematureBeats(beats, p);
    for (size_t i = 0; i + 1 < beats.size(); ++i) {
        if (classified && (Ectopic(classes[i]) || Ectopic(classes[i + 1])))
            continue;
        if (premature[i] || premature[i + 1])
            continue;
        const uint32_t rr = beats[i + 1] - beats[i];
        if (rr < SHORTEST_RR || rr > LONGEST_RR)
            continue;
        out.push_back({uint32_t(i), rr});
    }
    return out;
}

struct Irregular {
    std::vector<float> score;   // -1 where the window holds too few intervals
    std::vector<float> median;  // median RR around each interval
};

// Per usable interval: the least, over lags 1 to 3, of the median absolute
// difference between intervals that far apart, over the median interval.
// AF is irregular at every lag; a bigeminal or trigeminal pattern is regular
// at its own lag, and isolated premature beats or pauses leave the median
// alone. A window with too few turning points (a smooth swing of the rate,
// as with breathing) is not AF whatever its spread.
// Median of a window sliding forward over a series of intervals or their
// differences (0 .. LONGEST_RR), kept as a histogram: each step costs a few
// operations, the median's position moving little between steps.
class SlidingMedian {
public:
    explicit SlidingMedian(size_t first) : m_lo(first), m_hi(first), m_count(LONGEST_RR + 1, 0) {}
    void MoveTo(const std::vector<uint32_t>& series, size_t lo, size_t hi)
    {
        lo = std::min(lo, hi);
        for (; m_hi < hi; ++m_hi)
            if (m_hi >= m_lo)
                Change(series[m_hi], +1);
        for (; m_lo < lo; ++m_lo)
            if (m_lo < m_hi)
                Change(series[m_lo], -1);
        m_hi = std::max(m_hi, m_lo);
    }
    // The value of rank size / 2, counted from 0.
    uint32_t Median()
    {
        const uint32_t rank = m_size / 2;
        while (m_below > rank)
            m_below -= m_count[--m_at];
        while (m_below + m_count[m_at] <= rank)
            m_below += m_count[m_at++];
        return m_at;
    }
    uint32_t Size() const { return m_size; }

private:
    void Change(uint32_t value, int by)
    {
        m_count[value] += by;
        m_size += by;
        if (value < m_at)
            m_below += by;
    }
    size_t m_lo, m_hi;
    std::vector<uint32_t> m_count;
    uint32_t m_size = 0, m_below = 0, m_at = 0;  // m_below: values under m_at
};

Irregular Irregularity(const std::vector<Interval>& iv, const AfParameters& p)
{
    const size_t n = iv.size();
    Irregular out{std::vector<float>(n, -1.0f), std::vector<float>(n, 0.0f)};
    const size_t half = std::max<uint32_t>(p.window, 2) / 2;
    std::vector<uint32_t> rr(n), turns(n + 1, 0);  // turns: prefix counts of turning points
    for (size_t i = 0; i < n; ++i) {
        rr[i] = iv[i].rr;
        const bool turning = i > 0 && i + 1 < n &&
                             ((iv[i].rr > iv[i - 1].rr && iv[i].rr > iv[i + 1].rr) ||
                              (iv[i].rr < iv[i - 1].rr && iv[i].rr < iv[i + 1].rr));
        turns[i + 1] = turns[i] + turning;
    }
    std::vector<uint32_t> diff[LAGS];
    for (int k = 1; k <= LAGS; ++k) {
        diff[k - 1].assign(n, 0);
        for (size_t i = size_t(k); i < n; ++i)
            diff[k - 1][i] = rr[i] > rr[i - k] ? rr[i] - rr[i - k] : rr[i - k] - rr[i];
    }
    SlidingMedian rrWindow(0);
    std::vector<SlidingMedian> diffWindow;
    for (int k = 1; k <= LAGS; ++k)
        diffWindow.emplace_back(size_t(k));
    for (size_t j = 0; j < n; ++j) {
        const size_t lo = j >= half ? j - half : 0, hi = std::min(n, j + half);
        rrWindow.MoveTo(rr, lo, hi);
        for (int k = 1; k <= LAGS; ++k)
            diffWindow[k - 1].MoveTo(diff[k - 1], std::max(lo + k, size_t(k)), hi);
        if (hi - lo < FEWEST_IN_WINDOW)
            continue;
        const double m = rrWindow.Median();
        out.median[j] = float(m);
        const uint32_t turning = turns[hi - 1] - turns[lo + 1];
        if (double(turning) < p.turningPoints * double(hi - lo - 2)) {
            out.score[j] = 0.0f;
            continue;
        }
        uint32_t least = UINT32_MAX;
        for (int k = 1; k <= LAGS; ++k)
            least = std::min(least, diffWindow[k - 1].Median());
        out.score[j] = float(least / m);
    }
    return out;
}

// Moves the edges of irregular stretches (first and last usable interval)
// outwards to where the share of large successive differences changes most
// within half a window: the window-wide scores find an onset late and an
// end early.
void RefineEdges(std::vector<std::pair<size_t, size_t>>& runs, const std::vector<Interval>& iv,
                 const Irregular& irr, const std::vector<float>& coherence, const AfParameters& p)
{
    // An edge never moves over a beat whose P wave clearly lines up.
    const auto sinus = [&](long c) { return coherence[size_t(c)] > p.edgeCoherence; };
    const size_t n = iv.size();
    const long half = long(std::max<uint32_t>(p.window, 2) / 2);
    std::vector<long> sum(n + 1, 0);  // prefix sums of the large-difference marks
    for (size_t j = 0; j < n; ++j) {
        const double m = irr.median[j];
        const bool large = j > 0 && m > 0 &&
                           std::abs(double(iv[j].rr) - double(iv[j - 1].rr)) > p.irregularity * m;
        sum[j + 1] = sum[j] + large;
    }
    const auto marks = [&](long from, long to) {  // marks in [from, to), clipped
        from = std::clamp(from, 0L, long(n));
        to = std::clamp(to, 0L, long(n));
        return to > from ? sum[to] - sum[from] : 0L;
    };
    const long reach = long(p.reach);
    for (size_t r = 0; r < runs.size(); ++r) {
        auto& [a, b] = runs[r];
        const long lowest = r > 0 ? long(runs[r - 1].second) + 1 : 0;
        const long highest = r + 1 < runs.size() ? long(runs[r + 1].first) - 1 : long(n) - 1;
        long bestA = long(a), bestGain = marks(long(a), long(a) + half) - marks(long(a) - half, long(a));
        long from = long(a);
        while (from > std::max(lowest, long(a) - reach) && !sinus(from - 1))
            --from;
        for (long c = from; c < long(a); ++c) {
            const long gain = marks(c, c + half) - marks(c - half, c);
            if (gain > bestGain) {
                bestGain = gain;
                bestA = c;
            }
        }
        long bestB = long(b);
        bestGain = marks(long(b) - half + 1, long(b) + 1) - marks(long(b) + 1, long(b) + 1 + half);
        long to = long(b);
        while (to < std::min(highest, long(b) + reach) && !sinus(to + 1))
            ++to;
        for (long c = long(b) + 1; c <= to; ++c) {
            const long gain = marks(c - half + 1, c + 1) - marks(c + 1, c + 1 + half);
            if (gain > bestGain) {
                bestGain = gain;
                bestB = c;
            }
        }
        a = size_t(bestA);
        b = size_t(std::max(bestA, bestB));
    }
}

// Reads the lead forward in blocks, so that one read serves many beats.
class BlockReader {
public:
    explicit BlockReader(const SampleReader& read) : m_read(read), m_block(BLOCK) {}
    // The count samples from first, or null when they cannot all be read.
    const int16_t* Get(uint64_t first, uint32_t count)
    {
        if (first < m_first || first + count > m_first + m_valid) {
            m_first = first;
            m_valid = m_read(m_block.data(), first, BLOCK);
            if (m_valid > BLOCK)
                m_valid = 0;  // a reader that claims more than it was asked for is not trusted
        }
        return first + count <= m_first + m_valid ? m_block.data() + (first - m_first) : nullptr;
    }

private:
    static constexpr uint32_t BLOCK = 8192;
    const SampleReader& m_read;
    std::vector<int16_t> m_block;
    uint64_t m_first = 0;
    uint32_t m_valid = 0;
};

// How well the stretch before the R waves lines up beat after beat: the
// energy of the average over the mean energy of the single stretches, each
// less its own mean and slope. Near 1 for a P wave locked to the QRS, near
// 1/P_BEATS for a fibrillating baseline. -1 where the lead cannot be read.
// Coherence at intervals ja..jb; interval j uses the stretches of intervals
// j-P_BEATS/2+1 .. j+P_BEATS/2.
void PWaveCoherenceSpan(const std::vector<uint32_t>& beats, const std::vector<Interval>& iv, BlockReader& signal,
                        size_t ja, size_t jb, std::vector<float>& out)
{
    const size_t n = iv.size();
    // One detrended stretch per usable interval (the beat that ends it), in a
    // ring of P_BEATS, summed as it slides: memory stays small.
    std::vector<float> ring(size_t(P_BEATS) * P_LENGTH, 0.0f), sum(P_LENGTH, 0.0f);
    std::vector<float> energy(P_BEATS, 0.0f);
    std::vector<bool> valid(P_BEATS, false);
    double energySum = 0;
    uint32_t count = 0;
    const double tMean = (P_LENGTH - 1) / 2.0;
    double tVar = 0;
    for (uint32_t t = 0; t < P_LENGTH; ++t)
        tVar += (t - tMean) * (t - tMean);
    const size_t lead = P_BEATS / 2;
    const size_t from = ja + 1 > lead ? ja + 1 - lead : 0;
    for (size_t k = from; k <= jb + lead; ++k) {
        if (k < n) {
            const size_t slot = k % P_BEATS;
            float* x = &ring[slot * P_LENGTH];
            if (valid[slot]) {
                for (uint32_t t = 0; t < P_LENGTH; ++t)
                    sum[t] -= x[t];
                energySum -= energy[slot];
                --count;
                valid[slot] = false;
            }
            const uint32_t r = beats[iv[k].start + 1];
            const int16_t* buf = r >= P_FROM && iv[k].rr > P_FROM ? signal.Get(r - P_FROM, P_LENGTH) : nullptr;
            if (buf) {
                double mean = 0, slope = 0;
                for (uint32_t t = 0; t < P_LENGTH; ++t)
                    mean += buf[t];
                mean /= P_LENGTH;
                for (uint32_t t = 0; t < P_LENGTH; ++t)
                    slope += (t - tMean) * (buf[t] - mean);
                slope /= tVar;
                double e = 0;
                for (uint32_t t = 0; t < P_LENGTH; ++t) {
                    x[t] = float(buf[t] - mean - slope * (t - tMean));
                    sum[t] += x[t];
                    e += double(x[t]) * x[t];
                }
                energy[slot] = float(e);
                energySum += e;
                ++count;
                valid[slot] = true;
            }
        }
        if (k >= ja + lead && count >= P_BEATS / 2 && energySum > 0) {
            double s = 0;
            for (uint32_t t = 0; t < P_LENGTH; ++t)
                s += double(sum[t]) * sum[t];
            out[k - lead] = float(s / (double(count) * energySum));
        }
    }
}

// How well the stretch before the R waves lines up beat after beat: the
// energy of the average over the mean energy of the single stretches, each
// less its own mean and slope. Near 1 for a P wave locked to the QRS, near
// 1/P_BEATS for a fibrillating baseline. -1 where the lead cannot be read or
// where it is not asked for: reading a day's lead for regular rhythm costs
// more than all the rest, and on every review edit.
std::vector<float> PWaveCoherence(const std::vector<uint32_t>& beats, const std::vector<Interval>& iv,
                                  const SampleReader& read, const std::vector<bool>& wanted)
{
    const size_t n = iv.size();
    std::vector<float> out(n, -1.0f);
    if (!read || n == 0)
        return out;
    BlockReader signal(read);
    for (size_t j = 0; j < n;) {
        if (!wanted[j]) {
            ++j;
            continue;
        }
        // Wanted intervals closer than a window share one pass.
        size_t last = j;
        for (size_t k = j + 1; k < n && k <= last + P_BEATS; ++k)
            if (wanted[k])
                last = k;
        PWaveCoherenceSpan(beats, iv, signal, j, last, out);
        j = last + 1;
    }
    return out;
}

uint32_t BeatIndexAtOrAfter(const std::vector<uint32_t>& beats, uint64_t sample)
{
    return uint32_t(std::lower_bound(beats.begin(), beats.end(), sample) - beats.begin());
}

Episode MakeEpisode(const std::vector<uint32_t>& beats, uint32_t firstBeat, uint32_t lastBeat)
{
    Episode e{EpisodeType::AF, beats[firstBeat], beats[lastBeat], lastBeat - firstBeat + 1, 0.0f};
    if (e.last > e.first)
        e.rate = float(60.0 * RATE * (e.beats - 1) / double(e.last - e.first));
    return e;
}

// Beats in a ventricular rhythm: a run of three or more V beats, or V beats
// every second or third beat for three cycles. The episode lists give these
// their own rhythm, so AF is cut around them.
std::vector<bool> VentricularRhythm(const std::vector<BeatClass>& classes)
{
    const size_t n = classes.size();
    std::vector<bool> out(n, false);
    const auto v = [&](size_t k) { return k < n && classes[k] == BeatClass::V; };
    for (size_t k = 0; k < n; ++k) {
        if (!v(k))
            continue;
        if (v(k + 1) && v(k + 2)) {
            for (size_t i = k; i < n && v(i); ++i)
                out[i] = true;
            continue;
        }
        for (size_t period = 2; period <= 3; ++period) {
            bool pattern = k >= period - 1;
            for (size_t c = 0; pattern && c < 3; ++c)
                for (size_t i = 0; pattern && i < period; ++i)
                    pattern = v(k + c * period + i) == (i == 0);
            if (pattern)
                for (size_t i = k - (period - 1); i <= k + 2 * period; ++i)
                    out[i] = true;
        }
    }
    return out;
}

}  // namespace

std::vector<Episode> FindAfEpisodes(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes,
                                    uint64_t sampleCount, const SampleReader& read)
{
    return FindAfEpisodes(beats, classes, sampleCount, read, AfParameters{});
}

std::vector<Episode> FindAfEpisodes(const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes,
                                    uint64_t sampleCount, const SampleReader& read, const AfParameters& p)
{
    // Beats past the end of the recording come from a stale list.
    const size_t usable = size_t(std::lower_bound(beats.begin(), beats.end(), sampleCount) - beats.begin());
    if (usable < beats.size()) {
        const std::vector<uint32_t> head(beats.begin(), beats.begin() + usable);
        const std::vector<BeatClass> headClasses(classes.begin(), classes.begin() + std::min(classes.size(), usable));
        return FindAfEpisodes(head, headClasses.size() == usable ? headClasses : std::vector<BeatClass>{}, sampleCount, read, p);
    }
    std::vector<Episode> out;
    if (beats.size() < FEWEST_IN_WINDOW + 1)
        return out;
    const std::vector<Interval> iv = UsableIntervals(beats, classes, p);
    const Irregular irregular = Irregularity(iv, p);
    std::vector<bool> irregularAt(iv.size());
    for (size_t j = 0; j < iv.size(); ++j)
        irregularAt[j] = irregular.score[j] > p.irregularity;
    const std::vector<float> coherence = PWaveCoherence(beats, iv, read, irregularAt);

    // Irregular stretches of usable intervals; gaps shorter than the bridge are closed.
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t j = 0; j < iv.size(); ++j) {
        bool af = irregularAt[j];
        if (af && coherence[j] >= 0 && coherence[j] > p.pWaveCoherence)
            af = false;
        if (!af)
            continue;
        if (!runs.empty() && beats[iv[j].start] - beats[iv[runs.back().second].start + 1] <= p.bridge)
            runs.back().second = j;
        else
            runs.push_back({j, j});
    }
    // A stretch must be half the shortest length before its edges move, so
    // that moving them cannot turn a stray one into an episode.
    std::erase_if(runs, [&](const std::pair<size_t, size_t>& r) {
        return beats[iv[r.second].start + 1] - beats[iv[r.first].start] < p.shortest / 2;
    });
    RefineEdges(runs, iv, irregular, coherence, p);
    const std::vector<bool> ventricular =
        p.cutVentricularRhythms && classes.size() == beats.size() ? VentricularRhythm(classes)
                                                                  : std::vector<bool>(beats.size(), false);
    for (const auto& [ja, jb] : runs) {
        const uint32_t a = iv[ja].start, b = iv[jb].start + 1;
        if (beats[b] - beats[a] < p.shortest)
            continue;
        // What is left between ventricular rhythms must still hold one
        // whole episode: scraps between the runs of a bigeminy are not AF.
        std::vector<Episode> pieces;
        uint64_t longest = 0;
        for (uint32_t k = a; k <= b;) {
            while (k <= b && ventricular[k])
                ++k;
            uint32_t e = k;
            while (e + 1 <= b && !ventricular[e + 1])
                ++e;
            if (k <= b && e > k && beats[e] - beats[k] >= p.piece) {
                pieces.push_back(MakeEpisode(beats, k, e));
                longest = std::max<uint64_t>(longest, beats[e] - beats[k]);
            }
            k = e + 1;
        }
        if (longest >= p.shortest)
            out.insert(out.end(), pieces.begin(), pieces.end());
    }
    return out;
}

AfSummary SummarizeAf(const std::vector<Episode>& af, uint64_t analysedSamples, const std::vector<uint32_t>& beats)
{
    AfSummary s;
    constexpr uint32_t MINUTE = 60 * RATE;
    for (const Episode& e : af) {
        if (e.type != EpisodeType::AF)
            continue;
        ++s.episodes;
        const uint64_t length = e.last - e.first;
        s.totalSamples += length;
        if (s.longest.beats == 0 || length > uint64_t(s.longest.last - s.longest.first))
            s.longest = e;
        // Whole minutes from the episode's first beat; a shorter episode, or
        // no beats given, is one stretch at its mean rate.
        std::vector<float> rates;
        if (!beats.empty() && length >= MINUTE) {
            for (uint64_t from = e.first; from + MINUTE <= e.last; from += MINUTE) {
                const uint32_t a = BeatIndexAtOrAfter(beats, from);
                uint32_t b = BeatIndexAtOrAfter(beats, from + MINUTE);
                if (b == beats.size() || beats[b] > from + MINUTE)
                    --b;
                if (b > a && beats[b] > beats[a])
                    rates.push_back(float(60.0 * RATE * (b - a) / double(beats[b] - beats[a])));
            }
        }
        if (rates.empty() && e.rate > 0)
            rates.push_back(e.rate);
        for (float r : rates) {
            s.fastestRate = std::max(s.fastestRate, r);
            s.slowestRate = s.slowestRate == 0 ? r : std::min(s.slowestRate, r);
        }
    }
    if (analysedSamples > 0)
        s.burdenPercent = std::min(100.0, 100.0 * double(s.totalSamples) / double(analysedSamples));
    return s;
}
