#include "analysis/PreciseQrsDetector.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <thread>

#include "analysis/WorkerPool.h"

// The method follows the classic real-time detectors (band pass, slope,
// squaring, a moving window over the QRS width, adaptive levels of signal
// and noise peaks, a search back at 1.66 mean RR, T waves told by their
// slope). Added here, for beats those detectors miss or invent:
// - levels on the square root of the energy, so that one tall ventricular
//   beat does not silence the normal ones after it;
// - a noise floor from the energy around each candidate, so that bursts of
//   muscle noise lift the threshold without the rejected beats feeding it;
// - a search back that takes only a candidate standing clear of the others
//   in the interval, never one with a T wave's slope;
// - beats within 280 ms of the last must be about as strong as the usual ones
//   (the second hump of a wide complex is not);
// - stretches of one repeated value (electrode off, amplifier at its rail)
//   carry no beat, and their edges are steps.

namespace {

// Filters, at 250 samples/s.
constexpr int kLowPassDelay = 4;    // moving sums of 5 and 4 samples: 3.5 samples, zeros at 50 Hz
constexpr int kHighPassHalf = 20;   // minus the mean over 41 samples (164 ms)
constexpr int kHighPassLength = 2 * kHighPassHalf + 1;
constexpr int kWindow = 37;         // energy window, 148 ms: a wide QRS fits

// Candidates.
constexpr int kSeparation = 50;     // 200 ms: of two humps closer than this, the smaller is no beat
constexpr int kLongestRise = 250;   // a hump still rising after 1 s is taken as it stands
constexpr int kFlatRun = 250;       // 1 s of one value is no ECG, however clean and coarse
constexpr int kFlatReach = 40;      // a beat this close to such a stretch is its edge
constexpr int64_t kRiseFloor = 64 * kHighPassLength * kHighPassLength;  // quantisation ripple is no hump
// Heights are sqrt(energy) in units of 41 x 20 x input; this one is about 0.05 mV.
constexpr int64_t kMinHeight = 1000 * kHighPassLength;

// Decisions.
constexpr int kLearn = 500;          // the first 2 s set the levels
constexpr int kRefractory = 50;      // 200 ms
constexpr int kTWave = 90;           // 360 ms: a T wave's energy peaks within this of its QRS
constexpr int kEarly = 70;           // 280 ms: earlier beats must be as strong as the usual ones
constexpr int kFloorSpan = 350;      // the noise floor: the energy 1.4 s before a candidate
constexpr int kFloorAhead = 150;     // and 0.6 s after it (candidates are held that long)...
constexpr int kFloorStep = 16;
constexpr int kFloorPercent = 30;    // ...that the quietest 30 % of the time stays under
constexpr int kSearchKeep = 1000;    // rejected candidates kept for the search back, 4 s
constexpr int64_t kLongestRR = 750;  // longer intervals are gaps, not rhythm

// Locating the R wave.
constexpr int kRReach = 12;          // from the steepest slope
constexpr int kRScale = 12;          // width of the peak measure

int64_t ISqrt(int64_t v)
{
    if (v <= 0)
        return 0;
    int64_t r = 0;
    int64_t bit = int64_t(1) << 62;
    while (bit > v)
        bit >>= 2;
    while (bit) {
        if (v >= r + bit) {
            v -= r + bit;
            r = (r >> 1) + bit;
        } else {
            r >>= 1;
        }
        bit >>= 2;
    }
    return r;
}

int64_t Abs(int64_t v)
{
    return v < 0 ? -v : v;
}

}  // namespace

PreciseQrsDetector::PreciseQrsDetector()
{
    Reset();
}

void PreciseQrsDetector::Reset()
{
    m_n = 0;
    std::memset(m_raw, 0, sizeof m_raw);
    std::memset(m_sum5, 0, sizeof m_sum5);
    std::memset(m_lp, 0, sizeof m_lp);
    std::memset(m_d, 0, sizeof m_d);
    std::memset(m_energies, 0, sizeof m_energies);
    m_box5 = m_box4 = 0;
    m_hpSum = 0;
    m_hp1 = m_hp2 = 0;
    m_energy = 0;
    m_run = 0;
    m_lastFlat = INT64_MIN / 2;
    m_rising = false;
    m_topPos = m_top = m_valley = 0;
    m_humps.clear();
    m_recent.clear();
    m_held.clear();
    m_learned = false;
    m_learning.clear();
    m_since.clear();
    m_signal = m_noise = 0;
    m_last = -1;
    m_lastSlope = 0;
    std::memset(m_rr, 0, sizeof m_rr);
    m_rrCount = 0;
    m_lastOut = -1;
    m_end = INT64_MAX;
}

void PreciseQrsDetector::Start(int16_t x)
{
    // As if the first value had always been there: no step at the start.
    std::fill(std::begin(m_raw), std::end(m_raw), x);
    std::fill(std::begin(m_sum5), std::end(m_sum5), 5 * int32_t(x));
    std::fill(std::begin(m_lp), std::end(m_lp), 20 * int32_t(x));
    m_box5 = 5 * int32_t(x);
    m_box4 = 20 * int32_t(x);
    m_hpSum = int64_t(kHighPassLength) * m_box4;
    m_run = 0;
}

void PreciseQrsDetector::Process(const int16_t* samples, size_t count, std::vector<uint64_t>& beats)
{
    if (count == 0)
        return;
    if (m_n == 0)
        Start(samples[0]);
    // The state the loop updates is kept in locals: every sample passes here.
    int64_t n = m_n;
    int32_t box5 = m_box5, box4 = m_box4;
    int64_t hpSum = m_hpSum, energy = m_energy;
    int32_t hp1 = m_hp1, hp2 = m_hp2;  // the high pass one and two samples back
    int16_t previous = m_raw[(n - 1) & kMask];
    int32_t run = m_run;
    bool rising = m_rising;
    int64_t top = m_top, topPos = m_topPos, valley = m_valley;
    int64_t check = NextCheck();  // no hump or held candidate is due before this sample
    for (size_t i = 0; i < count; ++i, ++n) {
        const int16_t x = samples[i];
        box5 += x - m_raw[(n - 5) & kMask];
        m_raw[n & kMask] = x;
        box4 += box5 - m_sum5[(n - 4) & 7];
        m_sum5[n & 7] = box5;
        m_lp[n & kMask] = box4;
        hpSum += box4 - m_lp[(n - kHighPassLength) & kMask];
        const int32_t hp = int32_t(int64_t(kHighPassLength) * m_lp[(n - kHighPassHalf) & kMask] - hpSum);
        const int32_t d = hp - hp2;
        hp2 = hp1;
        hp1 = hp;
        const int32_t old = m_d[(n - kWindow) & kMask];
        m_d[n & kMask] = d;
        energy += int64_t(d) * d - int64_t(old) * old;
        m_energies[n & (kEnergyRing - 1)] = energy;
        run = x == previous ? run + 1 : 1;
        previous = x;
        if (run >= kFlatRun)
            m_lastFlat = n;

        if (rising) {
            if (energy > top) {
                top = energy;
                topPos = n;
            } else if (2 * energy < top || n - topPos > kLongestRise) {
                m_humps.push_back({topPos, top});
                rising = false;
                valley = energy;
                check = std::min(check, topPos + kSeparation + 1);
            }
        } else if (energy < valley) {
            valley = energy;
        } else if (energy > 2 * valley + kRiseFloor) {
            rising = true;
            top = energy;
            topPos = n;
        }
        if (n >= check) {
            m_n = n + 1;
            // A hump is compared with its neighbours once no later one can
            // come within kSeparation of it.
            if (!m_humps.empty() && m_humps.front().pos + kSeparation < (rising ? topPos : n))
                CompareHumps(rising ? topPos : n, beats);
            ReleaseHeld(n, beats);
            check = NextCheck();
        }
    }
    m_n = n;
    m_box5 = box5;
    m_box4 = box4;
    m_hpSum = hpSum;
    m_hp1 = hp1;
    m_hp2 = hp2;
    m_energy = energy;
    m_run = run;
    m_rising = rising;
    m_top = top;
    m_topPos = topPos;
    m_valley = valley;
}

// The filters of stream samples a..b-1 (a >= m_n, samples[0] being sample
// m_n), computed afresh: the moving sums restart kWarmUp samples earlier, from
// the history ring or this piece's samples, as if that sample had always been
// there. They are exact integer sums, so once their windows lie past the
// restart (kWarmUp exceeds the filters' reach) they equal the running ones;
// the repeat count may fall short but only where it is kFlatRun or more anyway.
void PreciseQrsDetector::FilterPiece(const int16_t* samples, int64_t base, int64_t a, int64_t b, Filtered* out,
                                     FilterEnd* end) const
{
    constexpr int64_t kWarmUp = 256;
    static_assert(kWarmUp >= kFlatRun && kWarmUp >= 5 + 4 + kHighPassLength + 2 + kWindow && kWarmUp < kRing);
    const auto sample = [&](int64_t n) { return n >= base ? samples[n - base] : m_raw[n & kMask]; };
    const int64_t n0 = a - kWarmUp;
    const int16_t x0 = sample(n0);
    int16_t raw[8];
    int32_t sum5[8], lp[64], d[64];
    std::fill(std::begin(raw), std::end(raw), x0);
    std::fill(std::begin(sum5), std::end(sum5), 5 * int32_t(x0));
    std::fill(std::begin(lp), std::end(lp), 20 * int32_t(x0));
    std::fill(std::begin(d), std::end(d), 0);
    int32_t box5 = 5 * int32_t(x0), box4 = 20 * int32_t(x0);
    int64_t hpSum = int64_t(kHighPassLength) * box4, energy = 0;
    int32_t hp1 = 0, hp2 = 0;
    // The repeats count from the stream's first sample at the earliest.
    const int64_t s0 = std::max<int64_t>(n0, 0);
    int16_t previous = sample(s0 > 0 ? s0 - 1 : 0);
    int32_t run = 0;
    for (int64_t n = n0; n < b; ++n) {
        const int16_t x = sample(n);
        box5 += x - raw[(n - 5) & 7];
        raw[n & 7] = x;
        box4 += box5 - sum5[(n - 4) & 7];
        sum5[n & 7] = box5;
        lp[n & 63] = box4;
        hpSum += box4 - lp[(n - kHighPassLength) & 63];
        const int32_t hp = int32_t(int64_t(kHighPassLength) * lp[(n - kHighPassHalf) & 63] - hpSum);
        const int32_t dn = hp - hp2;
        hp2 = hp1;
        hp1 = hp;
        const int32_t old = d[(n - kWindow) & 63];
        d[n & 63] = dn;
        energy += int64_t(dn) * dn - int64_t(old) * old;
        if (n >= s0) {
            run = x == previous ? run + 1 : 1;
            previous = x;
        }
        if (n >= a)
            out[n - a] = Filtered{box4, dn, energy, run >= kFlatRun};
    }
    *end = FilterEnd{box5, box4, hp1, hp2, run, hpSum, energy, {}};
    std::copy(std::begin(sum5), std::end(sum5), end->sum5);
}

namespace {

// The filtered count once it exceeds i; the filtering thread is never far
// ahead or behind, so this spins, yielding only if that thread lost its core.
size_t WaitFor(const std::atomic<size_t>& ready, size_t i)
{
    for (int spins = 0;; ++spins) {
        const size_t r = ready.load(std::memory_order_acquire);
        if (r > i)
            return r;
        if (spins > 4096)
            std::this_thread::yield();
    }
}

}  // namespace

void PreciseQrsDetector::Process(const int16_t* samples, size_t count, std::vector<uint64_t>& beats,
                                 WorkerPool& pool)
{
    // Below this the second thread is not worth its wake-up.
    constexpr size_t kPieceMin = 8192;
    if (pool.Size() < 2 || count < kPieceMin) {
        Process(samples, count, beats);
        return;
    }
    if (m_n == 0)
        Start(samples[0]);
    // The decisions are the larger part and serial: one thread filters
    // segment after segment ahead of the other, which decides on them.
    constexpr size_t kSegment = 4096;
    static_assert(kSegment >= 256, "later segments warm up on this call's samples only");
    const std::unique_ptr<Filtered[]> filtered(new Filtered[count]);  // every entry is written
    FilterEnd last{};
    const int64_t base = m_n;
    std::atomic<size_t> ready{0};
    pool.Run(2, [&](int p) {
        if (p == 0) {
            for (size_t from = 0; from < count; from += kSegment) {
                const size_t to = std::min(count, from + kSegment);
                FilterEnd end;
                FilterPiece(samples, base, base + int64_t(from), base + int64_t(to), filtered.get() + from, &end);
                if (to == count)
                    last = end;
                ready.store(to, std::memory_order_release);
            }
        } else {
            Decide(samples, count, filtered.get(), ready, beats);
        }
    });
    m_box5 = last.box5;
    m_box4 = last.box4;
    m_hpSum = last.hpSum;
    m_hp1 = last.hp1;
    m_hp2 = last.hp2;
    m_energy = last.energy;
    m_run = last.run;
    std::copy(std::begin(last.sum5), std::end(last.sum5), m_sum5);
}

// The decisions, one sample after another, as Process makes them, on filter
// values that become ready up to ready.
void PreciseQrsDetector::Decide(const int16_t* samples, size_t count, const Filtered* filtered,
                                const std::atomic<size_t>& ready, std::vector<uint64_t>& beats)
{
    int64_t n = m_n;
    bool rising = m_rising;
    int64_t top = m_top, topPos = m_topPos, valley = m_valley;
    int64_t check = NextCheck();
    size_t available = 0;
    for (size_t i = 0; i < count; ++i, ++n) {
        if (i == available)
            available = WaitFor(ready, i);
        const Filtered& f = filtered[i];
        m_raw[n & kMask] = samples[i];
        m_lp[n & kMask] = f.lp;
        m_d[n & kMask] = f.d;
        const int64_t energy = f.energy;
        m_energies[n & (kEnergyRing - 1)] = energy;
        if (f.flat)
            m_lastFlat = n;
        if (rising) {
            if (energy > top) {
                top = energy;
                topPos = n;
            } else if (2 * energy < top || n - topPos > kLongestRise) {
                m_humps.push_back({topPos, top});
                rising = false;
                valley = energy;
                check = std::min(check, topPos + kSeparation + 1);
            }
        } else if (energy < valley) {
            valley = energy;
        } else if (energy > 2 * valley + kRiseFloor) {
            rising = true;
            top = energy;
            topPos = n;
        }
        if (n >= check) {
            m_n = n + 1;
            // A hump is compared with its neighbours once no later one can
            // come within kSeparation of it.
            if (!m_humps.empty() && m_humps.front().pos + kSeparation < (rising ? topPos : n))
                CompareHumps(rising ? topPos : n, beats);
            ReleaseHeld(n, beats);
            check = NextCheck();
        }
    }
    m_n = n;
    m_rising = rising;
    m_top = top;
    m_topPos = topPos;
    m_valley = valley;
}

int64_t PreciseQrsDetector::NextCheck() const
{
    int64_t at = INT64_MAX;
    if (!m_humps.empty())
        at = m_humps.front().pos + kSeparation + 1;
    if (!m_held.empty())
        at = std::min(at, m_held.front().rPeak + kFlatReach + kFlatRun + 1);
    return at;
}

void PreciseQrsDetector::CompareHumps(int64_t horizon, std::vector<uint64_t>& beats)
{
    while (!m_humps.empty() && m_humps.front().pos + kSeparation < horizon) {
        const Hump h = m_humps.front();
        m_humps.erase(m_humps.begin());
        bool top = true;
        for (const Hump& o : m_humps)
            if (o.pos - h.pos <= kSeparation && o.energy > h.energy)
                top = false;
        for (const Hump& o : m_recent)
            if (h.pos - o.pos <= kSeparation && o.energy >= h.energy)
                top = false;
        m_recent.erase(std::remove_if(m_recent.begin(), m_recent.end(),
                                      [&](const Hump& o) { return h.pos - o.pos > kSeparation; }),
                       m_recent.end());
        m_recent.push_back(h);
        if (top)
            OnHump(h.pos, h.energy, beats);
    }
}

void PreciseQrsDetector::OnHump(int64_t pos, int64_t energy, std::vector<uint64_t>& beats)
{
    if (energy <= 0)
        return;
    Candidate c;
    c.pos = pos;
    c.height = ISqrt(energy);
    // The steepest slope under the window lies in the QRS.
    c.slope = -1;
    int64_t steepest = pos;
    for (int64_t j = std::max<int64_t>(0, pos - kWindow + 1); j <= pos; ++j) {
        const int64_t v = Abs(m_d[j & kMask]);
        if (v > c.slope) {
            c.slope = v;
            steepest = j;
        }
    }
    bool upward = true;
    c.rPeak = LocateR(steepest, &upward);
    // At the very end a wave still rising is the start of a complex whose
    // peak was not recorded.
    if (c.rPeak + kRScale >= m_end) {
        const int16_t lastValue = m_raw[(m_end - 1) & kMask];
        bool rising = true;
        for (int64_t j = c.rPeak; j < m_end - 1; ++j)
            if (upward ? m_raw[j & kMask] > lastValue : m_raw[j & kMask] < lastValue)
                rising = false;
        if (rising)
            return;
    }
    m_held.push_back(c);
    ReleaseHeld(m_n, beats);
}

void PreciseQrsDetector::ReleaseHeld(int64_t until, std::vector<uint64_t>& beats)
{
    // A candidate waits until a flat stretch after it would have shown.
    while (!m_held.empty() && m_held.front().rPeak + kFlatReach + kFlatRun < until) {
        const Candidate c = m_held.front();
        m_held.erase(m_held.begin());
        if (!InFlatStretch(c.rPeak))
            OnCandidate(c, beats);
    }
}

bool PreciseQrsDetector::InFlatStretch(int64_t rPeak) const
{
    // A recorder that lost its electrodes or ran into its rail holds one
    // value; the edges of such a stretch are steps, not beats. Any run of
    // kFlatRun reaching into the window has ended or grown to kFlatRun at or
    // after the window's start.
    if (m_lastFlat < rPeak - kFlatReach)
        return false;
    const int64_t end = std::min(m_n, m_end);
    const int64_t to = std::min(end - 1, rPeak + kFlatReach);
    for (int64_t j = std::max<int64_t>(0, rPeak - kFlatReach); j <= to;) {
        const int16_t v = m_raw[j & kMask];
        int64_t a = j, b = j;
        while (a > 0 && j - a < kFlatRun && m_raw[(a - 1) & kMask] == v)
            --a;
        while (b + 1 < end && b - a + 1 < kFlatRun && m_raw[(b + 1) & kMask] == v)
            ++b;
        if (b - a + 1 >= kFlatRun)
            return true;
        j = b + 1;
    }
    return false;
}

int64_t PreciseQrsDetector::LocateR(int64_t steepest, bool* upward) const
{
    // The R wave is the sharpest peak of the low-passed signal next to the
    // steepest slope.
    int64_t best = -1;
    const int64_t centre = steepest - 1 - kHighPassHalf;  // in low-pass samples
    int64_t at = centre;
    for (int64_t k = std::max<int64_t>(0, centre - kRReach); k <= centre + kRReach && k < m_n; ++k) {
        const int64_t a = m_lp[std::max<int64_t>(0, k - kRScale) & kMask];
        const int64_t b = m_lp[std::min<int64_t>(m_n - 1, k + kRScale) & kMask];
        const int64_t w = 2 * int64_t(m_lp[k & kMask]) - a - b;
        const int64_t v = Abs(w);
        if (v > best) {
            best = v;
            at = k;
            *upward = w >= 0;
        }
    }
    return std::max<int64_t>(0, at - kLowPassDelay);
}

int64_t PreciseQrsDetector::Threshold() const
{
    return m_noise + (m_signal - m_noise) * 3 / 10;
}

int64_t PreciseQrsDetector::NoiseFloor(int64_t pos) const
{
    int64_t v[(kFloorSpan + kFloorAhead) / kFloorStep + 1];
    int k = 0;
    for (int64_t j = pos - kFloorSpan; j <= pos + kFloorAhead; j += kFloorStep)
        if (j >= 0 && j < m_n)
            v[k++] = m_energies[j & (kEnergyRing - 1)];
    if (k == 0)
        return 0;
    std::nth_element(v, v + k * kFloorPercent / 100, v + k);
    return ISqrt(v[k * kFloorPercent / 100]);
}

int64_t PreciseQrsDetector::SearchBackLimit() const
{
    if (m_rrCount == 0)
        return 1000;
    const int k = std::min(m_rrCount, 8);
    int64_t sum = 0;
    for (int i = 0; i < k; ++i)
        sum += m_rr[i];
    return sum / k * 166 / 100;
}

void PreciseQrsDetector::Learn(std::vector<uint64_t>& beats)
{
    int64_t highest = 0;
    for (const Candidate& k : m_learning)
        highest = std::max(highest, k.height);
    m_signal = highest * 6 / 10;
    m_noise = 0;
    m_learned = true;
    std::vector<Candidate> pending;
    pending.swap(m_learning);
    for (const Candidate& k : pending)
        OnCandidate(k, beats);
}

void PreciseQrsDetector::OnCandidate(const Candidate& c, std::vector<uint64_t>& beats)
{
    if (!m_learned) {
        m_learning.push_back(c);
        if (c.pos >= m_learning.front().pos + kLearn)
            Learn(beats);
        return;
    }

    while (m_last >= 0 && c.pos - m_last > SearchBackLimit() && SearchBack(c.pos, beats)) {
    }
    const int64_t since = m_last >= 0 ? c.pos - m_last : INT64_MAX;
    if (since < kRefractory)
        return;

    // A beat also stands above twice the noise floor; while that floor lies
    // well below the signal level, 0.7 of that level is enough.
    bool qrs = c.height > std::max(Threshold(), kMinHeight);
    if (qrs) {
        const int64_t floor = NoiseFloor(c.pos);
        qrs = c.height > (2 * floor < m_signal ? std::min(2 * floor, m_signal * 7 / 10) : 2 * floor);
    }
    // A T wave rises and falls more slowly than the QRS before it.
    if (since < kTWave && c.slope * 10 < m_lastSlope * 4)
        qrs = false;
    // So soon after a beat only a complex about as strong as the usual ones
    // is one; the second hump of a wide complex is not.
    if (since < kEarly && (c.height * 100 < m_signal * 65 || c.slope * 2 < m_lastSlope))
        qrs = false;
    if (qrs) {
        Accept(c, false, beats);
        return;
    }
    if (since >= kTWave)
        m_noise = (m_noise * 7 + c.height) / 8;
    while (!m_since.empty() && m_since.front().pos < c.pos - kSearchKeep)
        m_since.erase(m_since.begin());
    m_since.push_back(c);
}

bool PreciseQrsDetector::SearchBack(int64_t until, std::vector<uint64_t>& beats)
{
    // The largest rejected candidate of the interval, if it stands well
    // above the others there.
    const Candidate* best = nullptr;
    int64_t second = 0;
    for (const Candidate& k : m_since) {
        const int64_t since = k.pos - m_last;
        if (k.pos >= until || since < kRefractory || (since < kTWave && k.slope * 10 < m_lastSlope * 4))
            continue;
        if (!best || k.height > best->height) {
            if (best)
                second = std::max(second, best->height);
            best = &k;
        } else {
            second = std::max(second, k.height);
        }
    }
    const int64_t low = std::max(Threshold() / 2, kMinHeight);
    if (!best || best->height <= low || best->height * 2 < second * 3)
        return false;
    const Candidate c = *best;
    Accept(c, true, beats);
    return true;
}

void PreciseQrsDetector::Accept(const Candidate& c, bool searchBack, std::vector<uint64_t>& beats)
{
    const int64_t h = m_signal > 0 ? std::min(c.height, 2 * m_signal) : c.height;
    m_signal = searchBack ? (m_signal * 3 + h) / 4 : (m_signal * 7 + h) / 8;
    if (m_last >= 0 && c.pos - m_last <= kLongestRR) {
        std::copy_backward(m_rr, m_rr + 7, m_rr + 8);
        m_rr[0] = c.pos - m_last;
        ++m_rrCount;
    }
    m_last = c.pos;
    m_lastSlope = c.slope;
    m_since.erase(std::remove_if(m_since.begin(), m_since.end(), [&](const Candidate& k) { return k.pos <= c.pos; }),
                  m_since.end());
    if (c.rPeak > m_lastOut) {
        beats.push_back(uint64_t(c.rPeak));
        m_lastOut = c.rPeak;
    }
}

void PreciseQrsDetector::Finish(std::vector<uint64_t>& beats)
{
    const int64_t end = m_n;
    if (end == 0)
        return;
    // Carry the last value on so that the humps of the last samples are
    // confirmed; what lies beyond the end is dropped.
    m_end = end;
    std::vector<uint64_t> tail;
    const int16_t last = m_raw[(end - 1) & kMask];
    for (int i = 0; i < kSeparation + kWindow + kHighPassHalf + kLongestRise; ++i)
        Process(&last, 1, tail);
    ReleaseHeld(INT64_MAX, tail);
    if (!m_learned && !m_learning.empty())
        Learn(tail);
    while (m_last >= 0 && m_n - m_last > SearchBackLimit() && SearchBack(m_n, tail)) {
    }
    for (uint64_t b : tail)
        if (b < uint64_t(end))
            beats.push_back(b);
}
