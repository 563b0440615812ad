#include "analysis/BeatClassifier.h"
#include "analysis/WorkerPool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace {

constexpr int BEFORE = int(BEAT_SHAPE_BEFORE);
constexpr int AFTER = int(BEAT_SHAPE_AFTER);
constexpr int LEN = int(BEAT_SHAPE_LENGTH);
constexpr int MAX_SHIFT = 2;  // R marks of unlike beats may sit a few samples apart
constexpr int FAMILY_SHIFT = 15;  // families' R marks may sit on different peaks
// Family against normal: correlation below which shapes are unlike, and the
// width, size, prematurity and pause that tip a less different one.
constexpr float V_UNLIKE = 0.6f, V_DIFFERENT = 0.85f, V_SIMILAR = 0.95f, V_ALIKE = 0.97f;
constexpr float V_WIDER = 1.2f, V_MUCH_WIDER = 1.5f, V_WIDE_SIZED = 1.3f, V_TALLER = 1.6f, V_SMALLER = 0.6f;
constexpr float V_EARLY = 0.5f, V_EARLIER = 0.6f, V_COMPENSATED = 1.05f;
constexpr uint32_t SMALL_FAMILY = 3;
constexpr float V_SMALL_DIFFERENT = 0.8f, V_SMALL_EARLY = 0.3f, V_SMALL_PAUSE = 1.0f;
constexpr uint32_t REFERENCE_MIN_COUNT = 5;
constexpr uint32_t SMALL_FAMILY_REASSIGN = 10, LARGE_FAMILY = 20;
constexpr float NEAREST_FAMILY = 0.9f;
constexpr size_t REFERENCE_FAMILIES = 16;
constexpr int MARGIN = BEFORE + AFTER + 2 * MAX_SHIFT + 8;
constexpr uint32_t BLOCK = 25000;
constexpr size_t FEATURE_CHUNK = 1024;  // beats whose features are made at once

// Template matching: a beat joins the best active family whose averaged beat
// it resembles this closely; the active set is bounded so that a day with
// slowly drifting morphology costs the same per beat as half an hour.
constexpr float JOIN_CORRELATION = 0.92f;
constexpr float JOIN_AMPLITUDE_LOW = 0.6f, JOIN_AMPLITUDE_HIGH = 1.6f;
constexpr size_t ACTIVE_FAMILIES = 16;
constexpr float TEMPLATE_MEMORY = 32.0f;

using Shape = std::array<float, LEN>;

// Sums in eight interleaved lanes, added up in a fixed order: the same
// result on every run, and quick to compute.
constexpr int LANES = 8;

template <class Term>
float LaneSum(Term term)
{
    std::array<float, LANES> acc{};
    int i = 0;
    for (; i + LANES <= LEN; i += LANES)
        for (int j = 0; j < LANES; ++j)
            acc[size_t(j)] += term(i + j);
    for (int j = 0; i < LEN; ++i, ++j)
        acc[size_t(j)] += term(i);
    float s = 0;
    for (float v : acc)
        s += v;
    return s;
}

struct BeatFeatures {
    Shape raw;         // baseline removed
    Shape unit;        // mean removed, unit norm
    float amplitude;   // peak to peak of the QRS
    float width;       // QRS width in samples
};

// Mean removed, scaled to unit norm; false when the segment is flat.
bool Normalize(const float* x, Shape& out)
{
    const float mean = LaneSum([x](int i) { return x[i]; }) / float(LEN);
    for (int i = 0; i < LEN; ++i)
        out[size_t(i)] = x[i] - mean;
    const float energy = LaneSum([&out](int i) { return out[size_t(i)] * out[size_t(i)]; });
    if (energy <= 1e-3f) {
        out.fill(0.0f);
        return false;
    }
    const float k = 1.0f / std::sqrt(energy);
    for (float& v : out)
        v *= k;
    return true;
}

float Dot(const Shape& a, const Shape& b)
{
    return LaneSum([&](int i) { return a[size_t(i)] * b[size_t(i)]; });
}

// Correlation of b shifted by up to MAX_SHIFT samples against a; the shifted
// copies repeat the edge samples.
float ShiftedCorrelation(const Shape& a, const Shape& bRaw, int maxShift = MAX_SHIFT)
{
    float best = -1.0f;
    for (int s = -maxShift; s <= maxShift; ++s) {
        std::array<float, LEN> moved;
        for (int i = 0; i < LEN; ++i)
            moved[i] = bRaw[std::clamp(i + s, 0, LEN - 1)];
        Shape unit;
        Normalize(moved.data(), unit);
        best = std::max(best, Dot(a, unit));
    }
    return best;
}

// QRS width: the span around R where the slope stays above a fifth of its
// steepest value, ending at three quiet samples in a row on either side.
float QrsWidth(const float* x)
{
    float steepest = 0;
    for (int i = BEFORE - 12; i <= BEFORE + 12; ++i)
        steepest = std::max(steepest, std::fabs(x[i + 1] - x[i - 1]));
    if (steepest <= 0)
        return 0;
    const float quiet = 0.2f * steepest;
    auto slope = [&](int i) { return std::fabs(x[i + 1] - x[i - 1]); };
    int onset = 1, run = 0;
    for (int i = BEFORE; i >= 1; --i) {
        run = slope(i) < quiet ? run + 1 : 0;
        if (run == 3) {
            onset = i + 2;
            break;
        }
    }
    int offset = LEN - 2;
    run = 0;
    for (int i = BEFORE; i <= LEN - 2; ++i) {
        run = slope(i) < quiet ? run + 1 : 0;
        if (run == 3) {
            offset = i - 2;
            break;
        }
    }
    return float(offset - onset);
}

// Features of one beat from its own samples only (window[0] is BEFORE
// samples before R), so blocks of beats could be done in any order.
BeatFeatures ExtractFeatures(const int16_t* window)
{
    BeatFeatures f;
    // Baseline from the PR segment (88 to 60 ms before R).
    float base = 0;
    for (int i = BEFORE - 22; i <= BEFORE - 15; ++i)
        base += window[i];
    base /= 8.0f;
    for (int i = 0; i < LEN; ++i)
        f.raw[i] = float(window[i]) - base;
    Normalize(f.raw.data(), f.unit);
    float lo = f.raw[BEFORE], hi = f.raw[BEFORE];
    for (int i = BEFORE - 15; i <= BEFORE + 25; ++i) {
        lo = std::min(lo, f.raw[i]);
        hi = std::max(hi, f.raw[i]);
    }
    f.amplitude = hi - lo;
    f.width = QrsWidth(f.raw.data());
    return f;
}

struct Family {
    Shape mean{};       // running average of raw shapes
    Shape unit{};       // its normalised form
    double sum[LEN]{};  // exact sum of every member, for the reported shape
    uint32_t count = 0;
    float amplitude = 0;
    float widthSum = 0;
    uint64_t lastUsed = 0;
    double postSum = 0;  // members' RR after over the local RR
    uint32_t postCount = 0, earlyCount = 0;
};

void AddToFamily(Family& fam, const BeatFeatures& f, uint64_t tick)
{
    ++fam.count;
    const float w = 1.0f / std::min(float(fam.count), TEMPLATE_MEMORY);
    for (int i = 0; i < LEN; ++i) {
        fam.mean[i] += w * (f.raw[i] - fam.mean[i]);
        fam.sum[i] += f.raw[i];
    }
    fam.amplitude += w * (f.amplitude - fam.amplitude);
    fam.widthSum += f.width;
    Normalize(fam.mean.data(), fam.unit);
    fam.lastUsed = tick;
}

// Reads the recording in blocks with margins so that each beat's window is
// at hand; samples outside the recording repeat the nearest one.
class WindowSource {
public:
    WindowSource(const SampleReader& read, uint64_t sampleCount) : m_read(read), m_count(sampleCount) {}

    const int16_t* Window(uint32_t r)
    {
        const int64_t first = int64_t(r) - BEFORE;
        if (first < m_first || first + LEN > m_first + int64_t(m_buffer.size()))
            Load(first);
        return m_buffer.data() + (first - m_first);
    }

private:
    void Load(int64_t first)
    {
        m_first = first - MARGIN;
        const int64_t length = int64_t(BLOCK) + 2 * MARGIN;
        m_buffer.assign(size_t(length), 0);
        const int64_t from = std::max<int64_t>(m_first, 0);
        const int64_t to = std::min<int64_t>(m_first + length, int64_t(m_count));
        uint32_t got = 0;
        if (to > from)
            got = m_read(m_buffer.data() + (from - m_first), uint64_t(from), uint32_t(to - from));
        const int64_t validEnd = from + got;
        if (got == 0) {
            std::fill(m_buffer.begin(), m_buffer.end(), int16_t(0));
            return;
        }
        for (int64_t i = m_first; i < from; ++i)
            m_buffer[size_t(i - m_first)] = m_buffer[size_t(from - m_first)];
        for (int64_t i = validEnd; i < m_first + length; ++i)
            m_buffer[size_t(i - m_first)] = m_buffer[size_t(validEnd - 1 - m_first)];
    }

    const SampleReader& m_read;
    uint64_t m_count;
    int64_t m_first = 0;
    std::vector<int16_t> m_buffer;
};

// The local normal RR interval: the mean of the last few intervals between
// beats of normal morphology that were not premature themselves.
class LocalRR {
public:
    float Value() const { return m_n ? m_sum / float(m_n) : 0.0f; }
    void Add(float rr)
    {
        if (m_n == SIZE)
            m_sum -= m_ring[m_pos];
        else
            ++m_n;
        m_ring[m_pos] = rr;
        m_sum += rr;
        m_pos = (m_pos + 1) % SIZE;
    }

private:
    static constexpr size_t SIZE = 8;
    std::array<float, SIZE> m_ring{};
    size_t m_pos = 0, m_n = 0;
    float m_sum = 0;
};

// The last intervals not touching a V beat; Longer() is their 90th
// percentile, near the sinus interval even among frequent early beats.
class RecentRR {
public:
    void Add(uint32_t rr)
    {
        m_ring[m_pos] = rr;
        m_pos = (m_pos + 1) % SIZE;
        m_n = std::min(m_n + 1, SIZE);
    }
    float Longest() const
    {
        return m_n ? float(*std::max_element(m_ring.begin(), m_ring.begin() + std::ptrdiff_t(m_n))) : 0.0f;
    }
    float Longer() const
    {
        if (m_n < 4)
            return 0;
        std::array<uint32_t, SIZE> v{};
        std::copy(m_ring.begin(), m_ring.begin() + std::ptrdiff_t(m_n), v.begin());
        const size_t k = (9 * (m_n - 1)) / 10;
        std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(k), v.begin() + std::ptrdiff_t(m_n));
        return float(v[k]);
    }

private:
    static constexpr size_t SIZE = 16;
    std::array<uint32_t, SIZE> m_ring{};
    size_t m_pos = 0, m_n = 0;
};

// Rhythm constants: a beat of normal shape this much earlier than the local
// normal interval is supraventricular, unless the rhythm around it is
// irregular throughout (fibrillation), where prematurity means nothing.
constexpr float S_PREMATURE = 0.85f, S_VERY_PREMATURE = 0.55f, S_ABRUPT = 0.85f;
constexpr float IRREGULAR = 0.10f;
constexpr int IRREGULAR_SPAN = 8;

// Lower quartile of the absolute successive RR differences around beat i,
// over the local normal interval: small in sinus rhythm even with frequent
// ectopic beats, large throughout fibrillation.
float Irregularity(const std::vector<uint32_t>& beats, size_t i, float localRR)
{
    if (localRR <= 0)
        return 0;
    std::array<float, 2 * IRREGULAR_SPAN + 1> d{};
    int n = 0;
    const size_t lo = i > size_t(IRREGULAR_SPAN) + 1 ? i - IRREGULAR_SPAN : 2;
    const size_t hi = std::min(beats.size() - 1, i + IRREGULAR_SPAN);
    for (size_t k = lo; k <= hi; ++k) {
        const float a = float(beats[k] - beats[k - 1]), b = float(beats[k - 1] - beats[k - 2]);
        d[size_t(n++)] = std::fabs(a - b);
    }
    if (n == 0)
        return 0;
    std::nth_element(d.begin(), d.begin() + n / 4, d.begin() + n);
    return d[size_t(n / 4)] / localRR;
}

// Median of the eight RR intervals before the one that ends at the current
// beat, kept sorted as the window slides one beat at a time.
class SlidingMedianRR {
public:
    // Call for i = 0, 1, 2, ... in turn; returns 0 before beat 2.
    float At(const std::vector<uint32_t>& beats, size_t i)
    {
        if (i >= 2)
            Insert(beats[i - 1] - beats[i - 2]);
        if (i >= 10)
            Remove(beats[i - 9] - beats[i - 10]);
        return m_n ? float(m_sorted[m_n / 2]) : 0.0f;
    }

private:
    void Insert(uint32_t v)
    {
        size_t k = m_n++;
        for (; k > 0 && m_sorted[k - 1] > v; --k)
            m_sorted[k] = m_sorted[k - 1];
        m_sorted[k] = v;
    }
    void Remove(uint32_t v)
    {
        size_t k = 0;
        while (k < m_n && m_sorted[k] != v)
            ++k;
        for (; k + 1 < m_n; ++k)
            m_sorted[k] = m_sorted[k + 1];
        --m_n;
    }

    std::array<uint32_t, 9> m_sorted{};
    size_t m_n = 0;
};

// Features of beats [first, first + count): the windows are copied in beat
// order (the reader need not be thread-safe), then split into contiguous
// ranges, one per thread. Each beat's features depend on its window only, so
// the result does not depend on the number of threads.
void ExtractChunk(WindowSource& source, const std::vector<uint32_t>& beats, size_t first, size_t count,
                  WorkerPool& pool, std::vector<int16_t>& windows, std::vector<BeatFeatures>& features)
{
    windows.resize(count * size_t(LEN));
    features.resize(count);
    for (size_t k = 0; k < count; ++k)
        std::copy_n(source.Window(beats[first + k]), LEN, windows.data() + k * size_t(LEN));
    const size_t parts = std::min<size_t>(size_t(pool.Size()), count);
    pool.Run(int(parts), [&](int p) {
        for (size_t k = count * size_t(p) / parts, to = count * size_t(p + 1) / parts; k < to; ++k)
            features[k] = ExtractFeatures(windows.data() + k * size_t(LEN));
    });
}

}  // namespace

BeatClassification ClassifyBeats(const SampleReader& read, uint64_t sampleCount, const std::vector<uint32_t>& beats,
                                 unsigned threads)
{
    BeatClassification out;
    const size_t n = beats.size();
    out.classes.assign(n, BeatClass::N);
    out.family.assign(n, 0);
    if (n == 0)
        return out;

    // Template matching, serial and in beat order.
    std::vector<Family> families;
    std::vector<uint32_t> active;  // indices into families
    WindowSource source(read, sampleCount);
    WorkerPool pool{int(threads)};
    SlidingMedianRR median;
    std::vector<int16_t> windows;
    std::vector<BeatFeatures> chunk;
    for (size_t i = 0; i < n; ++i) {
        if (i % FEATURE_CHUNK == 0)
            ExtractChunk(source, beats, i, std::min(FEATURE_CHUNK, n - i), pool, windows, chunk);
        const BeatFeatures& f = chunk[i % FEATURE_CHUNK];
        int best = -1;
        float bestCorr = -2.0f;
        auto amplitudeFits = [&](const Family& fam) {
            const float ratio = fam.amplitude > 0 ? f.amplitude / fam.amplitude : 0;
            return ratio >= JOIN_AMPLITUDE_LOW && ratio <= JOIN_AMPLITUDE_HIGH;
        };
        for (uint32_t a : active) {
            const float c = Dot(families[a].unit, f.unit);
            if (c > bestCorr) {
                bestCorr = c;
                best = int(a);
            }
        }
        if (best >= 0 && bestCorr < JOIN_CORRELATION && bestCorr > 0.6f)
            bestCorr = ShiftedCorrelation(families[size_t(best)].unit, f.raw);
        const bool join = best >= 0 && bestCorr >= JOIN_CORRELATION && amplitudeFits(families[size_t(best)]);
        if (!join) {
            if (active.size() == ACTIVE_FAMILIES) {
                // Retire the family matched least recently.
                auto oldest = std::min_element(active.begin(), active.end(), [&](uint32_t a, uint32_t b) {
                    return families[a].lastUsed < families[b].lastUsed;
                });
                active.erase(oldest);
            }
            best = int(families.size());
            families.emplace_back();
            active.push_back(uint32_t(best));
        }
        Family& fam = families[size_t(best)];
        AddToFamily(fam, f, i + 1);
        const float med = median.At(beats, i);
        // The last beat has no pause after it to tell.
        if (med > 0) {
            const float pre = float(beats[i] - beats[i - 1]) / med;
            fam.earlyCount += pre < 0.85f;
            if (i + 1 < n) {
                fam.postSum += float(beats[i + 1] - beats[i]) / med;
                ++fam.postCount;
            }
        }
        out.family[i] = uint32_t(best);
    }

    // The normal family: the largest, unless one nearly as large is clearly
    // less often early (ventricular bigeminy makes the ectopic family big).
    size_t normal = 0;
    for (size_t k = 1; k < families.size(); ++k)
        if (families[k].count > families[normal].count)
            normal = k;
    auto earlyShare = [&](size_t k) { return double(families[k].earlyCount) / double(families[k].count); };
    const size_t largest = normal;
    for (size_t k = 0; k < families.size(); ++k)
        if (k != largest && families[k].count * 2 >= families[largest].count &&
            earlyShare(k) + 0.3 < earlyShare(normal))
            normal = k;
    const float normalWidth = families[normal].widthSum / float(families[normal].count);
    const Family& nf = families[normal];

    // Families largest first; ties keep the order found.
    std::vector<uint32_t> order(families.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t x, uint32_t y) { return families[x].count > families[y].count; });

    // Morphology class of each family, largest first, against the normal
    // family and the large families already found normal: the normal beat
    // drifts over a day and splits into several families. A family differs
    // by shape, width or size, and is trusted less when its beats are not
    // early, compared with how often normal beats are early here (often in
    // fibrillation).
    std::vector<BeatClass> morph(families.size(), BeatClass::N);
    std::vector<uint32_t> references{uint32_t(normal)};

    const float normalEarly = float(earlyShare(normal));
    for (uint32_t k : order) {
        if (k == normal)
            continue;
        const Family& fam = families[k];
        float c = -1.0f;
        for (uint32_t r : references)
            c = std::max(c, ShiftedCorrelation(families[r].unit, fam.mean));
        const float early = float(earlyShare(k)) - normalEarly;
        const bool pauseKnown = fam.postCount > 0;
        const float post = pauseKnown ? float(fam.postSum / fam.postCount) : 1.0f;
        if (early < 0.2f - normalEarly)
            c = std::max(c, ShiftedCorrelation(nf.unit, fam.mean, FAMILY_SHIFT));
        const float w = (fam.widthSum / float(fam.count) + 1.0f) / (normalWidth + 1.0f);
        const float a = nf.amplitude > 0 ? fam.amplitude / nf.amplitude : 1.0f;
        bool ventricular = c < V_UNLIKE || (c < V_DIFFERENT && (w > V_WIDER || early > V_EARLY)) ||
                                 (c < V_SIMILAR && early > V_EARLIER && post > V_COMPENSATED) ||
                                 (c < V_SIMILAR && w > V_MUCH_WIDER) ||
                                 (c < V_ALIKE && w > V_WIDE_SIZED && (a > V_TALLER || a < V_SMALLER));
        // A family of a beat or three may be noise: it needs the rhythm of an
        // ectopic beat too, unless its shape is the opposite of normal.
        if (ventricular && fam.count <= SMALL_FAMILY)
            ventricular = c < 0 || (c < V_SMALL_DIFFERENT && early > V_SMALL_EARLY && (!pauseKnown || post > V_SMALL_PAUSE));
        morph[k] = ventricular ? BeatClass::V : BeatClass::N;
        if (!ventricular && c >= V_SIMILAR && early < 0.1f && fam.count >= REFERENCE_MIN_COUNT &&
            references.size() < REFERENCE_FAMILIES)
            references.push_back(k);
    }

    // A small family is most often a large one's beats bent by noise or a
    // shifted R mark: it takes the class of the large family it resembles
    // closely, its own thresholds being unreliable on so few beats.
    std::vector<uint32_t> large;
    for (uint32_t k : order)
        if (families[k].count >= LARGE_FAMILY)
            large.push_back(k);
    const std::vector<BeatClass> own = morph;
    for (size_t k = 0; k < families.size(); ++k) {
        // Early wide beats called V on their own keep it: the rhythm and the
        // width speak for them whatever they resemble.
        const float w = (families[k].widthSum / float(families[k].count) + 1.0f) / (normalWidth + 1.0f);
        const bool earlyV = own[k] == BeatClass::V && float(earlyShare(k)) - normalEarly > V_EARLY && w > V_WIDER;
        if (families[k].count >= SMALL_FAMILY_REASSIGN || k == normal || earlyV)
            continue;
        float best = NEAREST_FAMILY;
        for (uint32_t r : large) {
            const float c = ShiftedCorrelation(families[r].unit, families[k].mean);
            if (c > best) {
                best = c;
                morph[k] = own[r];
            }
        }
    }

    // Rhythm: supraventricular beats among those of normal shape. Early
    // against the mean normal interval, or very early against the longer
    // recent intervals (when ectopic beats outnumber the sinus ones), and
    // abruptly so unless a run goes on.
    LocalRR local;
    RecentRR recent;
    for (size_t i = 0; i < n; ++i) {
        const BeatClass m = morph[out.family[i]];
        out.classes[i] = m;
        if (i == 0)
            continue;
        const uint32_t rrSamples = beats[i] - beats[i - 1];
        const float rr = float(rrSamples);
        const BeatClass before = out.classes[i - 1];
        if (m == BeatClass::N) {
            const float ref = local.Value();
            // The percentile only when the longest recent interval leaves
            // it a say: most beats are not early.
            float longer = -1.0f;
            auto longerRR = [&] { return longer >= 0 ? longer : (longer = recent.Longer()); };
            const float prev = i >= 2 ? float(beats[i - 1] - beats[i - 2]) : rr;
            const bool early = (ref > 0 && rr < S_PREMATURE * ref) ||
                               (rr < S_VERY_PREMATURE * recent.Longest() && longerRR() > 0 &&
                                rr < S_VERY_PREMATURE * longerRR());
            const bool abrupt = before != BeatClass::N || rr < S_ABRUPT * prev;
            const float base = !(early && abrupt) || ref > 0 ? ref : longerRR();
            if (early && abrupt && (base <= 0 || Irregularity(beats, i, base) < IRREGULAR))
                out.classes[i] = BeatClass::S;
            else if (before == BeatClass::N && (ref == 0 || (rr > 0.6f * ref && rr < 1.6f * ref)))
                local.Add(rr);
        }
        if (before != BeatClass::V && out.classes[i] != BeatClass::V)
            recent.Add(rrSamples);
    }

    std::vector<uint32_t> rank(families.size());
    out.families.reserve(families.size());
    for (size_t r = 0; r < order.size(); ++r) {
        const Family& fam = families[order[r]];
        rank[order[r]] = uint32_t(r);
        BeatFamily bf{morph[order[r]], fam.count, std::vector<int16_t>(LEN)};
        for (int i = 0; i < LEN; ++i)
            bf.shape[size_t(i)] = int16_t(std::clamp(std::lround(fam.sum[i] / double(fam.count)), -32768L, 32767L));
        out.families.push_back(std::move(bf));
    }
    for (uint32_t& f : out.family)
        f = rank[f];
    return out;
}
