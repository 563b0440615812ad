#include "analysis/QrsDetector.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "analysis/QrsDetectorFast.h"

const int16_t kBandPassTaps[QRS_BAND_TAPS] = {
    264,  -262, -153, -84,  -41,  -15,  -2,   3,    1,    -5,   -13,  -21,
    -29,  -35,  -36,  -33,  -25,  -12,  3,    21,   37,   51,   60,   64,
    61,   52,   40,   26,   14,   5,    4,    9,    23,   42,   65,   87,
    104,  112,  110,  95,   69,   34,   -6,   -45,  -78,  -100, -107, -100,
    -79,  -50,  -18,  9,    22,   17,   -11,  -63,  -135, -220, -307, -385,
    -439, -460, -437, -368, -254, -101, 78,   267,  448,  604,  717,  777,
    777,  717,  604,  448,  267,  78,   -101, -254, -368, -437, -460, -439,
    -385, -307, -220, -135, -63,  -11,  17,   22,   9,    -18,  -50,  -79,
    -100, -107, -100, -78,  -45,  -6,   34,   69,   95,   110,  112,  104,
    87,   65,   42,   23,   9,    4,    5,    14,   26,   40,   52,   61,
    64,   60,   51,   37,   21,   3,    -12,  -25,  -33,  -36,  -35,  -29,
    -21,  -13,  -5,   1,    3,    -2,   -15,  -41,  -84,  -153, -262, 264,
};

const int16_t kEnvelopeTaps[QRS_ENV_TAPS] = {
    -75, 94,  72,  67,  71,  80,  90,  103, 116, 130, 144, 158, 173,
    187, 201, 214, 227, 238, 249, 259, 267, 274, 280, 284, 286, 287,
    286, 284, 280, 274, 267, 259, 249, 238, 227, 214, 201, 187, 173,
    158, 144, 130, 116, 103, 90,  80,  71,  67,  72,  94,  -75,
};

namespace {

// One FIR stage with rectification. The delay line (newest first) is laid
// out oldest first in front of the input so that every output is a plain
// dot product over a contiguous window: out[j] = sum_q ext[j + q] * taps[q].
// With |taps| summing to 17848 at most, the 32-bit sum cannot overflow.
template <int N>
void FilterStage(const int16_t (&taps)[N], int16_t (&delay)[N], const int16_t* in, int16_t* out,
                 uint32_t n)
{
    constexpr uint32_t kPiece = QRS_BLOCK;
    int16_t ext[N - 1 + kPiece];
    while (n > 0) {
        const uint32_t m = std::min(n, kPiece);
        for (int i = 0; i < N - 1; ++i)
            ext[i] = delay[N - 2 - i];
        std::memcpy(ext + N - 1, in, m * sizeof(int16_t));
        for (uint32_t j = 0; j < m; ++j) {
            const int16_t* w = ext + j;
            int32_t sum = 0;
            for (int q = 0; q < N; ++q)
                sum += int32_t(w[q]) * int32_t(taps[q]);
            // Truncate to 16 bits first: |-32768| stays -32768.
            const int16_t v = int16_t(sum >> 11);
            out[j] = int16_t(v < 0 ? -v : v);
        }
        for (int k = 0; k < N; ++k)
            delay[k] = ext[N - 2 + m - k];
        in += m;
        out += m;
        n -= m;
    }
}

}  // namespace

void QrsDetector::Reset()
{
    m_nThreshold = 0;
    m_nMinSpacing = 30;
    m_nCarry = 0;
    std::fill(std::begin(m_envDelay), std::end(m_envDelay), int16_t(0));
    std::fill(std::begin(m_bandDelay), std::end(m_bandDelay), int16_t(0));
    std::fill(std::begin(m_bandOut), std::end(m_bandOut), int16_t(0));
    std::fill(std::begin(m_envOut), std::end(m_envOut), int16_t(0));
}

void QrsDetector::BandPass(const int16_t* in, int16_t* out, uint32_t n)
{
    QrsFast::BandPass(*this, in, out, n);
}

void QrsDetector::Envelope(const int16_t* in, int16_t* out, uint32_t n)
{
    QrsFast::Envelope(*this, in, out, n);
}

void QrsDetector::BandPassReference(const int16_t* in, int16_t* out, uint32_t n)
{
    FilterStage(kBandPassTaps, m_bandDelay, in, out, n);
}

void QrsDetector::EnvelopeReference(const int16_t* in, int16_t* out, uint32_t n)
{
    FilterStage(kEnvelopeTaps, m_envDelay, in, out, n);
}

int16_t QrsDetector::UpdateThreshold(const int16_t* run, uint32_t n)
{
    int16_t peak = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (run[i] > peak)
            peak = run[i];
    const int32_t half = peak / 2;
    if (m_nThreshold == 0)
        m_nThreshold = half;
    int16_t t = int16_t((half + m_nThreshold) / 2);
    if (t <= QRS_THRESHOLD_FLOOR)
        t = QRS_THRESHOLD_FLOOR;
    m_nThreshold = t;
    return t;
}

bool QrsDetector::FindCandidates(const int16_t* env, uint32_t m, uint32_t* out, uint32_t* outCount,
                                 uint32_t offset)
{
    // Carry, up to 60 decimated values, trailing 0.
    int16_t run[QRS_BLOCK / QRS_DECIMATION + 2];
    const uint32_t maxRun = QRS_BLOCK / QRS_DECIMATION + 2;
    uint32_t k = 0;
    run[k++] = m_nCarry;
    for (uint32_t i = 0; i < m && k < maxRun - 1; i += QRS_DECIMATION)
        run[k++] = env[i];
    run[k++] = 0;
    const uint32_t n = std::min(m / QRS_DECIMATION + 2, k);

    m_nCarry = run[n - 2];
    const int16_t thr = UpdateThreshold(run, n);

    uint32_t found = 0;
    for (uint32_t i = 0; i + 1 < n; ++i)
        if (run[i] <= thr && run[i + 1] > thr)
            out[found++] = i * QRS_DECIMATION + offset - QRS_BACKOFF;
    *outCount = found;
    return true;
}

bool QrsDetector::Detect(const int16_t* input, uint32_t count, uint32_t* output, uint32_t* outCount)
{
    return QrsFast::Detect(*this, input, count, output, outCount);
}

bool QrsDetector::DetectReference(const int16_t* input, uint32_t count, uint32_t* output,
                                  uint32_t* outCount)
{
    *outCount = 0;
    uint32_t total = 0;
    for (uint32_t pos = 0; pos < count;) {
        const uint32_t m = std::min<uint32_t>(QRS_BLOCK, count - pos);
        BandPassReference(input + pos, m_bandOut, m);
        EnvelopeReference(m_bandOut, m_envOut, m);
        uint32_t found = 0;
        FindCandidates(m_envOut, m, output + total, &found, pos);
        total += found;
        pos += m;
    }

    *outCount = RefineCandidates(input, count, output, total);
    return true;
}

uint32_t QrsDetector::RefineCandidates(const int16_t* input, uint32_t count, uint32_t* positions,
                                       uint32_t n) const
{
    return RefineCandidatesWith(input, count, positions, n, uint32_t(m_nMinSpacing),
                                [](const int16_t* in, int64_t from, int64_t to) {
                                    int16_t best = 0;
                                    int64_t at = -1;
                                    for (int64_t s = from; s <= to; ++s) {
                                        if (in[s] > best) {
                                            best = in[s];
                                            at = s;
                                        }
                                    }
                                    return at;
                                });
}

uint32_t QrsDetector::FindIrregularRR(const uint32_t* rr, uint32_t n, int32_t* out, uint32_t cap)
{
    int64_t last = -3;
    uint32_t found = 0;
    for (uint32_t i = 1; i + 1 < n; ++i) {
        const uint32_t a = rr[i - 1];
        const uint32_t b = rr[i];
        const uint32_t c = rr[i + 1];
        if (a == 0 || b == 0 || c == 0)
            continue;
        // Short interval between two longer ones.
        if (115 * b < 100 * a && 115 * b < 100 * c && int64_t(i) - last > 3 && found < cap) {
            out[found++] = int32_t(i);
            last = i;
        }
        // Two similar short intervals followed by a long one.
        const int32_t diff = int16_t(a - b);
        const int32_t absDiff = diff < 0 ? -diff : diff;
        if (absDiff < 75 && (a < 200 || b < 200) && 100 * c > 60 * (a + b) &&
            int64_t(i) - last > 3 && found < cap) {
            out[found++] = int32_t(i);
            last = i;
        }
    }
    return found;
}
