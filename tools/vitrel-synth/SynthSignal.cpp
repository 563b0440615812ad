#include "SynthSignal.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "recording/EcgFile.h"

namespace {

constexpr double kFs = ECG_SAMPLE_RATE;
constexpr double kUnitsPerMv = ECG_UNITS_PER_MV;
constexpr double kPi = 3.14159265358979323846;
// No wave of a complex starts earlier than this before its R peak
// (PR is limited to 300 ms), so beats can be pulled just in time.
constexpr int64_t kMaxPreReach = 128;
// Margin rendered on both sides of a block so that R peaks at a block edge
// can be compared with their neighbours.
constexpr int kPeakMargin = 4;

double Clamp(double v, double lo, double hi)
{
    return std::min(std::max(v, lo), hi);
}

double Gaussian(double x, const SynthWave& w)
{
    const double z = (x - w.center) / w.sigma;
    return w.amplitude * std::exp(-0.5 * z * z);
}

// Zero-mean, unit-variance value from 64 hashed bits (sum of four uniforms).
double HashGauss(uint64_t h)
{
    const double sum = static_cast<double>((h & 0xFFFF) + ((h >> 16) & 0xFFFF) + ((h >> 32) & 0xFFFF) + (h >> 48));
    return (sum / 65536.0 - 2.0) * 1.7320508075688772;
}

}  // namespace

uint64_t SynthHash(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

SynthRandom::SynthRandom(uint64_t seed)
{
    uint64_t x = seed;
    for (auto& s : m_s) {
        x += 0x9E3779B97F4A7C15ull;
        s = SynthHash(x);
    }
}

uint64_t SynthRandom::Next()
{
    auto rotl = [](uint64_t v, int k) { return (v << k) | (v >> (64 - k)); };
    const uint64_t result = rotl(m_s[1] * 5, 7) * 9;
    const uint64_t t = m_s[1] << 17;
    m_s[2] ^= m_s[0];
    m_s[3] ^= m_s[1];
    m_s[1] ^= m_s[2];
    m_s[0] ^= m_s[3];
    m_s[2] ^= t;
    m_s[3] = rotl(m_s[3], 45);
    return result;
}

double SynthRandom::Uniform()
{
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

double SynthRandom::Gauss()
{
    const double u = 1.0 - Uniform();  // (0, 1]
    const double v = Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * kPi * v);
}

double SynthBeat::Plateau(double x) const
{
    // Rises within 5 samples up to the J point (10 samples after R), holds,
    // and returns to the baseline together with the T wave's descent.
    const double j = 10, edge = 5;
    if (stShift == 0 || x <= j - edge || x >= stEnd)
        return 0;
    double w = 1;
    if (x < j)
        w = 0.5 * (1 + std::cos(kPi * (j - x) / edge));
    else if (x > stEnd - stFall)
        w = 0.5 * (1 + std::cos(kPi * (x - (stEnd - stFall)) / stFall));
    return stShift * w;
}

double SynthBeat::CleanValue(double x) const
{
    double v = Plateau(x);
    for (int k = 0; k < waveCount; ++k)
        v += Gaussian(x, waves[k]);
    return v;
}

std::vector<SynthStretch> SynthRhythmStretches(const SynthParams& p, int64_t sampleCount)
{
    std::vector<SynthStretch> out;
    const double perHour = p.bigeminyPerHour + p.trigeminyPerHour + p.afPerHour;
    if (perHour <= 0)
        return out;
    SynthRandom rng(p.seed ^ 0xBB67AE8584CAA73Bull);
    double t = 30;  // seconds; the first half minute stays sinus
    const double total = static_cast<double>(sampleCount) / kFs;
    for (;;) {
        t += -std::log(1.0 - rng.Uniform()) * 3600.0 / perHour;
        const double pick = rng.Uniform() * perHour;
        const char kind = pick < p.afPerHour ? 'F' : pick < p.afPerHour + p.bigeminyPerHour ? 'B' : 'T';
        const double length = (kind == 'F' ? p.afSeconds : p.stretchSeconds) * rng.Uniform(0.7, 1.3);
        if (t + length > total)
            break;
        out.push_back({std::llround(t * kFs), std::llround((t + length) * kFs), kind});
        t += length + 10;
    }
    return out;
}

BeatSource::BeatSource(const SynthParams& params, int64_t sampleCount)
    : m_p(params), m_nSampleCount(sampleCount), m_rng(params.seed * 0x2545F4914F6CDD1Dull + 17),
      m_ectopyRng(params.seed ^ 0x3C6EF372FE94F82Aull), m_stretches(SynthRhythmStretches(params, sampleCount))
{
    m_personOffset = m_rng.Uniform(-5, 5);
    m_respHz = m_rng.Uniform(0.2, 0.3);
    m_respPhase = m_rng.Uniform(0, 2 * kPi);
    m_rMean = (m_p.rMv > 0 ? m_p.rMv : m_rng.Uniform(1.0, 1.5)) * kUnitsPerMv;
    m_drift = m_rng.Gauss() * (m_p.fixedRateBpm > 0 ? 1.0 : 3.0);
    m_startOfDay = m_p.hour * 3600 + m_p.minute * 60 + m_p.second;
}

const SynthStretch* BeatSource::StretchAt(int64_t position) const
{
    auto it = std::upper_bound(m_stretches.begin(), m_stretches.end(), position,
                               [](int64_t at, const SynthStretch& s) { return at < s.first; });
    if (it == m_stretches.begin())
        return nullptr;
    --it;
    return position < it->end ? &*it : nullptr;
}

double BeatSource::MeanRate(double t)
{
    if (m_p.fixedRateBpm > 0)
        return Clamp(m_p.fixedRateBpm + m_drift, 30, 200);
    const double h = std::fmod((m_startOfDay + t) / 3600.0, 24.0);
    // Lowest in the small hours, highest in the afternoon.
    double rate = 69 + m_personOffset + 14 * std::cos(2 * kPi * (h - 15) / 24) + m_drift;
    if (t >= m_activityStart && t < m_activityStart + m_activityLength)
        rate += m_activityBoost * std::sin(kPi * (t - m_activityStart) / m_activityLength);
    return Clamp(rate, 38, 185);
}

SynthBeat BeatSource::Next()
{
    const bool first = m_nLast < 0;
    const double rate = MeanRate(m_t);
    const double rr0 = 60.0 / rate;
    const double resp = std::sin(2 * kPi * m_respHz * m_t + m_respPhase);
    // Respiratory sinus arrhythmia fades as the rate rises.
    const double rsa = 0.045 * Clamp((105 - rate) / 45, 0.15, 1.0);
    const double rrNormal = rr0 * (1 + rsa * resp) * (1 + 0.012 * m_rng.Gauss());

    double rr = rrNormal;
    bool ventricular = false;
    char code = 'N';
    m_pShape = 0;
    const bool ectopy = m_p.Ectopy();
    const SynthStretch* stretch = ectopy && !first ? StretchAt(m_nLast) : nullptr;
    if (first) {
        rr = m_rng.Uniform(0.15, 0.15 + rr0);
    } else if (m_runLeft > 0) {
        rr = rrNormal * m_ectopyRng.Uniform(0.45, 0.6);
        ventricular = true;
        if (--m_runLeft == 0)
            m_compensatory = rrNormal * m_ectopyRng.Uniform(1.2, 1.5);
    } else if (m_compensatory > 0) {
        rr = m_compensatory;
        m_compensatory = 0;
    } else if (stretch && stretch->kind == 'F') {
        // Irregularly irregular conduction, no P waves.
        rr = Clamp(rr0 * 0.8 * std::exp(0.25 * m_ectopyRng.Gauss()), 0.3, 2.0);
        m_pShape = 2;
    } else if (stretch) {
        if (m_sinceV >= (stretch->kind == 'B' ? 1 : 2)) {
            rr = rrNormal * m_ectopyRng.Uniform(0.55, 0.7);
            ventricular = true;
            m_compensatory = 2 * rrNormal - rr;
        }
    } else if (ectopy && m_ectopyRng.Uniform() < m_p.vRunPerBeat) {
        const int length = m_p.vRunMin + static_cast<int>(m_ectopyRng.Next() % uint64_t(m_p.vRunMax - m_p.vRunMin + 1));
        rr = rrNormal * m_ectopyRng.Uniform(0.5, 0.65);
        ventricular = true;
        m_runLeft = length - 1;
        if (m_runLeft == 0)
            m_compensatory = 2 * rrNormal - rr;
    } else if (ectopy && m_ectopyRng.Uniform() < m_p.svpbPerBeat) {
        // Early, not compensated: the sinus node is reset. Its P wave is
        // normal, abnormal (inverted) or hidden in the preceding T wave.
        rr = rrNormal * m_ectopyRng.Uniform(0.6, 0.78);
        code = 'A';
        m_pShape = static_cast<int>(m_ectopyRng.Next() % 3);
    } else if (m_rng.Uniform() < m_p.pvcPerBeat) {
        rr = rrNormal * m_rng.Uniform(0.56, 0.72);
        ventricular = true;
        // Full compensatory pause: the sinus rhythm carries on undisturbed.
        m_compensatory = 2 * rrNormal - rr;
    } else if (m_rng.Uniform() < m_p.pausePerBeat) {
        rr = std::max(m_rng.Uniform(1.9, 3.1), 1.8 * rrNormal);
    }

    int64_t pos = (first ? 0 : m_nLast) + std::llround(rr * kFs);
    if (!first)
        pos = std::max(pos, m_nLast + 50);
    // An R peak must have whole neighbourhoods inside the file or none at all.
    if (pos >= m_nSampleCount - 6 && pos < m_nSampleCount + 6)
        pos = m_nSampleCount + 6;
    const double actualRR = first ? rr0 : (pos - m_nLast) / kFs;

    // Slow wandering of the rate (Ornstein-Uhlenbeck, time constant 3 min).
    const double decay = std::exp(-actualRR / 180.0);
    const double sigma = m_p.fixedRateBpm > 0 ? 1.0 : 3.0;
    m_drift = m_drift * decay + sigma * std::sqrt(1 - decay * decay) * m_rng.Gauss();

    // Bouts of activity during the day.
    if (m_p.fixedRateBpm <= 0 && m_t >= m_activityStart + m_activityLength) {
        const double h = std::fmod((m_startOfDay + m_t) / 3600.0, 24.0);
        if (h >= 7 && h < 22 && m_rng.Uniform() < actualRR / 5400.0) {
            m_activityStart = m_t;
            m_activityLength = m_rng.Uniform(300, 1500);
            m_activityBoost = m_rng.Uniform(8, 30);
        }
    }

    SynthBeat beat;
    beat.position = pos;
    beat.code = ventricular ? 'V' : code;
    m_sinceV = ventricular ? 0 : m_sinceV + 1;
    beat.rrBefore = actualRR;
    m_nLast = pos;
    m_t = pos / kFs;
    Build(beat, first ? rr0 : actualRR, ventricular);
    return beat;
}

void BeatSource::Build(SynthBeat& b, double rrBefore, bool ventricular)
{
    const double resp = std::sin(2 * kPi * m_respHz * m_t + m_respPhase);
    const double r = m_rMean * (1 + 0.05 * resp + 0.015 * m_rng.Gauss());
    const double rrq = Clamp(rrBefore, 0.3, 2.0);
    const double qt = (m_p.qtcMs / 1000.0) * std::sqrt(rrq) + 0.004 * m_rng.Gauss();
    const double onset = -0.040;  // QRS onset, seconds from R
    auto wave = [&](double centerSec, double sigmaSec, double amp) {
        b.waves[b.waveCount++] = SynthWave{centerSec * kFs, sigmaSec * kFs, amp};
    };

    if (ventricular) {
        // Wide bizarre complex, no P wave, discordant T.
        wave(-0.040, 0.012, -0.05 * r);
        wave(0.0, 0.020, 1.3 * r);
        wave(0.046, 0.018, -0.35 * r);
        const double st = 0.060;
        wave(onset + qt + 0.03 - 2.5 * st, st, -0.30 * kUnitsPerMv);
        return;
    }

    const double pr = (m_p.prMs / 1000.0) * (0.85 + 0.15 * std::min(rrq, 1.5) / 0.857) + 0.003 * m_rng.Gauss();
    const double sp = 0.024;
    const double pc = onset - pr + 2 * sp;  // P onset two sigmas before its peak
    const double st = 0.042 + 0.01 * (rrq - 0.8);
    const double tc = onset + qt - 2.5 * st;  // T end 2.5 sigmas after its peak
    const double pScale = m_pShape == 0 ? 1.0 : m_pShape == 1 ? -0.6 : 0.0;
    wave(m_pShape == 1 ? pc + 0.03 : pc, sp, pScale * 0.13 * kUnitsPerMv * (1 + 0.05 * m_rng.Gauss()));
    wave(-0.020, 0.0065, -0.07 * r);
    wave(0.0, 0.0095, r);
    wave(0.022, 0.0075, -0.20 * r);
    wave(tc, st, 0.28 * kUnitsPerMv * std::sqrt(r / m_rMean) * (1 + 0.05 * m_rng.Gauss()));
    if (m_p.stMv != 0) {
        b.stShift = m_p.stMv * kUnitsPerMv;
        b.stEnd = (tc + 2.5 * st) * kFs;
        b.stFall = 2.5 * st * kFs;
    }

    b.prMs = pr * 1000;
    b.qtMs = qt * 1000;
    b.rAmp = b.CleanValue(0);
    b.pAmp = b.CleanValue(pc * kFs);
    b.tAmp = b.CleanValue(tc * kFs);
    b.stLevel = b.CleanValue(0.100 * kFs);  // J point + 60 ms
}

SignalRenderer::SignalRenderer(const SynthParams& params, int64_t sampleCount)
    : m_p(params), m_nSampleCount(sampleCount), m_source(params, sampleCount),
      m_faultRng(params.seed ^ 0x3C6EF372FE94F82Bull)
{
    for (const SynthStretch& st : SynthRhythmStretches(params, sampleCount))
        if (st.kind == 'F')
            m_fibrillation.push_back(st);
    SynthRandom rng(params.seed ^ 0x6A09E667F3BCC908ull);
    const double phase = rng.Uniform(0, 2 * kPi);
    // 25 samples hold whole periods of both 50 Hz and 60 Hz at 250/s.
    for (int j = 0; j < 25; ++j)
        m_hum[j] = params.mainsHz == 0 ? 0.0
                                       : params.humMv * kUnitsPerMv *
                                             std::sin(2 * kPi * params.mainsHz * j / kFs + phase);
}

void SignalRenderer::Schedule(SynthBeat& beat)
{
    if (m_p.dropoutsPerHour <= 0)
        return;
    const double meanGap = 3600.0 * kFs / m_p.dropoutsPerHour;
    if (m_nPrevBeat < 0)
        m_nNextDropout = static_cast<int64_t>(meanGap * m_faultRng.Uniform(0.2, 1.0));
    if (!m_bInDropout && m_nPrevBeat >= 0 && beat.position >= m_nNextDropout) {
        static constexpr int16_t kValues[] = {0, 32767, -32768};
        m_dropouts.push_back({(m_nPrevBeat + beat.position) / 2, INT64_MAX, kValues[m_faultRng.Next() % 3]});
        m_bInDropout = true;
        m_nDropoutEnd = m_dropouts.back().first + std::llround(m_p.dropoutSeconds * kFs);
    }
    if (m_bInDropout) {
        if (beat.position >= m_nDropoutEnd) {
            Dropout& d = m_dropouts.back();
            d.end = (m_nPrevBeat + beat.position) / 2;
            m_bInDropout = false;
            m_nNextDropout = d.end + std::llround(kFs * std::max(2.0, meanGap / kFs * m_faultRng.Uniform(0.5, 1.5)));
        } else {
            beat.hidden = true;
        }
    }
    m_nPrevBeat = beat.position;
}

// Wander, hum and noise at sample i: a pure function of i, so blocks and
// their margins agree wherever they overlap.
double SignalRenderer::Background(int64_t i)
{
    struct Octave {
        int64_t step;
        double scale;
        uint64_t salt;
    };
    static constexpr Octave kOctaves[] = {
        {7500, 1.5, 0x1111}, {1000, 1.0, 0x2222}, {200, 0.25, 0x3333}};
    const uint64_t seed = m_p.seed * 0x9E3779B97F4A7C15ull;
    double v = 0;
    for (const auto& o : kOctaves) {
        const int64_t k = i >= 0 ? i / o.step : -((-i + o.step - 1) / o.step);
        const double f = static_cast<double>(i - k * o.step) / o.step;
        const double a = HashGauss(SynthHash(seed ^ (o.salt << 48) ^ static_cast<uint64_t>(k)));
        const double b = HashGauss(SynthHash(seed ^ (o.salt << 48) ^ static_cast<uint64_t>(k + 1)));
        v += o.scale * (a + (b - a) * f * f * (3 - 2 * f));
    }
    v *= m_p.wanderMv * kUnitsPerMv;
    v += m_hum[((i % 25) + 25) % 25];
    if (!m_fibrillation.empty())
        v += FibrillatoryWaves(i);
    v += m_p.noiseMv * kUnitsPerMv * HashGauss(SynthHash(seed ^ 0x5A5A5A5A5A5A5A5Aull ^ static_cast<uint64_t>(i)));
    return v;
}

// Fibrillatory waves of 4-7 Hz inside the 'F' stretches, faded in and out
// over half a second.
double SignalRenderer::FibrillatoryWaves(int64_t i) const
{
    auto it = std::upper_bound(m_fibrillation.begin(), m_fibrillation.end(), i,
                               [](int64_t at, const SynthStretch& s) { return at < s.first; });
    if (it == m_fibrillation.begin() || i >= (it - 1)->end)
        return 0;
    const SynthStretch& st = *(it - 1);
    const double fade = Clamp(std::min(i - st.first, st.end - i) / (0.5 * kFs), 0, 1);
    const double t = static_cast<double>(i) / kFs;
    const double phase = static_cast<double>(SynthHash(m_p.seed ^ static_cast<uint64_t>(st.first)) % 6283) / 1000;
    const double w = 0.55 * std::sin(2 * kPi * 5.3 * t + phase) + 0.3 * std::sin(2 * kPi * 6.7 * t + 2 * phase) +
                     0.25 * std::sin(2 * kPi * 4.1 * t + 3 * phase) * std::sin(2 * kPi * 0.37 * t);
    return fade * m_p.fWaveMv * kUnitsPerMv * w;
}

void SignalRenderer::Render(int64_t first, int count, int16_t* out, std::vector<SynthBeat>* beats)
{
    const int64_t lo = first - kPeakMargin;
    const int64_t hi = first + count + kPeakMargin;
    // With dropouts, beats are scheduled far enough ahead that every stretch
    // reaching into this block has its end.
    const int64_t ahead = kMaxPreReach + (m_p.dropoutsPerHour > 0 ? static_cast<int64_t>(4 * kFs) : 0);
    for (;;) {
        if (!m_bHavePending) {
            m_pending = m_source.Next();
            m_bHavePending = true;
            Schedule(m_pending);
        }
        if (m_pending.position - ahead >= hi)
            break;
        m_active.push_back(m_pending);
        m_bHavePending = false;
    }
    auto reachEnd = [](const SynthBeat& b) {
        double end = b.stShift != 0 ? b.stEnd : 0;
        for (int k = 0; k < b.waveCount; ++k)
            end = std::max(end, b.waves[k].center + 4 * b.waves[k].sigma);
        return b.position + static_cast<int64_t>(std::ceil(end));
    };
    while (!m_active.empty() && reachEnd(m_active.front()) < lo)
        m_active.pop_front();

    const size_t n = static_cast<size_t>(hi - lo);
    m_acc.assign(n, 0.0);
    for (const SynthBeat& b : m_active) {
        for (int k = 0; k < b.waveCount; ++k) {
            const SynthWave& w = b.waves[k];
            const double c = b.position + w.center;
            const int64_t a = std::max(lo, static_cast<int64_t>(std::ceil(c - 4 * w.sigma)));
            const int64_t e = std::min(hi - 1, static_cast<int64_t>(std::floor(c + 4 * w.sigma)));
            const double inv = 1.0 / w.sigma;
            for (int64_t x = a; x <= e; ++x) {
                const double z = (x - c) * inv;
                m_acc[x - lo] += w.amplitude * std::exp(-0.5 * z * z);
            }
        }
        if (b.stShift != 0) {
            const int64_t a = std::max(lo, b.position + 5);
            const int64_t e = std::min(hi - 1, b.position + static_cast<int64_t>(std::ceil(b.stEnd)));
            for (int64_t x = a; x <= e; ++x)
                m_acc[x - lo] += b.Plateau(static_cast<double>(x - b.position));
        }
    }
    m_val.resize(n);
    for (size_t k = 0; k < n; ++k) {
        const double v = std::nearbyint(m_acc[k] + Background(lo + static_cast<int64_t>(k)));
        m_val[k] = static_cast<int32_t>(Clamp(v, -32768, 32767));
    }
    // Noise and hum may tie or tip a neighbour over the R peak; the peak is
    // the fiducial point everyone measures against, so it must stay the maximum.
    for (const SynthBeat& b : m_active) {
        if (b.position < first || b.position >= first + count || b.hidden)
            continue;
        const size_t p = static_cast<size_t>(b.position - lo);
        int32_t mx = INT32_MIN;
        for (int d = 1; d <= kPeakMargin; ++d)
            mx = std::max({mx, m_val[p - d], m_val[p + d]});
        if (m_val[p] <= mx && mx < 32767)
            m_val[p] = mx + 1;
        if (beats)
            beats->push_back(b);
    }
    if (m_p.clipMv > 0) {
        const int32_t limit = static_cast<int32_t>(std::min(32767.0, std::nearbyint(m_p.clipMv * kUnitsPerMv)));
        for (int32_t& v : m_val)
            v = std::clamp(v, -limit, limit);
    }
    while (!m_dropouts.empty() && m_dropouts.front().end <= lo)
        m_dropouts.pop_front();
    for (const Dropout& d : m_dropouts)
        for (int64_t x = std::max(lo, d.first); x < std::min(hi, d.end); ++x)
            m_val[static_cast<size_t>(x - lo)] = d.value;
    for (int k = 0; k < count; ++k)
        out[k] = static_cast<int16_t>(m_val[static_cast<size_t>(k + kPeakMargin)]);
}
