// QRS detector: the plain arithmetic against the vectorised kernels, fed as
// the analysis run feeds it, and set against the processor's own 16-bit
// multiply-add rate.
//
// The two filters cost 144 + 51 = 195 multiply-adds per detector sample. The
// floor is the time those take at the peak rate of the best pmaddwd-style
// instruction (MaddPeak); floor_ratio = Detect's processor time per sample /
// floor, so 1 would be perfect and the goal is at most 2.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "analysis/QrsDetector.h"
#include "analysis/QrsDetectorFast.h"

namespace {

constexpr double MACS_PER_SAMPLE = QRS_BAND_TAPS + QRS_ENV_TAPS;
constexpr uint32_t CHUNK = 2 * 26500;

// ---- peak multiply-add rate ----
//
// Written in assembly: a compiler sees twelve identical products and keeps one.
// Twelve independent accumulators hide the latency; the operands stay in
// registers, so only the multiply-add units are measured.

constexpr int ACCS = 12;

#if defined(__x86_64__)
#define QRS_REP12(X) X(4) X(5) X(6) X(7) X(8) X(9) X(10) X(11) X(12) X(13) X(14) X(15)
#define QRS_REP12_HI(X) X(16) X(17) X(18) X(19) X(20) X(21) X(22) X(23) X(24) X(25) X(26) X(27)

#define QRS_SSE2_STEP(r) "movdqa %[a], %%xmm3\n\tpmaddwd %[b], %%xmm3\n\tpaddd %%xmm3, %%xmm" #r "\n\t"
__attribute__((target("sse2"))) int32_t MaddLoopSse2(uint64_t n)
{
    const __m128i a = _mm_set1_epi32(0x00030001), b = _mm_set1_epi32(0x00020005);
    asm volatile("1:\n\t" QRS_REP12(QRS_SSE2_STEP) "dec %[n]\n\tjnz 1b"
                 : [n] "+r"(n)
                 : [a] "x"(a), [b] "x"(b)
                 : "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12",
                   "xmm13", "xmm14", "xmm15", "cc");
    return 0;
}

#define QRS_AVX2_STEP(r) "vpmaddwd %[b], %[a], %%ymm3\n\tvpaddd %%ymm3, %%ymm" #r ", %%ymm" #r "\n\t"
__attribute__((target("avx2"))) int32_t MaddLoopAvx2(uint64_t n)
{
    const __m256i a = _mm256_set1_epi32(0x00030001), b = _mm256_set1_epi32(0x00020005);
    asm volatile("1:\n\t" QRS_REP12(QRS_AVX2_STEP) "dec %[n]\n\tjnz 1b\n\tvzeroupper"
                 : [n] "+r"(n)
                 : [a] "x"(a), [b] "x"(b)
                 : "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12",
                   "xmm13", "xmm14", "xmm15", "cc");
    return 0;
}

#define QRS_AVX512_STEP(r) "vpmaddwd %[b], %[a], %%zmm28\n\tvpaddd %%zmm28, %%zmm" #r ", %%zmm" #r "\n\t"
__attribute__((target("avx512f,avx512bw"))) int32_t MaddLoopAvx512(uint64_t n)
{
    const __m512i a = _mm512_set1_epi32(0x00030001), b = _mm512_set1_epi32(0x00020005);
    asm volatile("1:\n\t" QRS_REP12_HI(QRS_AVX512_STEP) "dec %[n]\n\tjnz 1b\n\tvzeroupper"
                 : [n] "+r"(n)
                 : [a] "v"(a), [b] "v"(b)
                 : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24",
                   "xmm25", "xmm26", "xmm27", "xmm28", "cc");
    return 0;
}

#define QRS_VNNI_STEP(r) "vpdpwssd %[b], %[a], %%zmm" #r "\n\t"
__attribute__((target("avx512f,avx512bw,avx512vnni"))) int32_t MaddLoopVnni(uint64_t n)
{
    const __m512i a = _mm512_set1_epi32(0x00030001), b = _mm512_set1_epi32(0x00020005);
    asm volatile("1:\n\t" QRS_REP12_HI(QRS_VNNI_STEP) "dec %[n]\n\tjnz 1b\n\tvzeroupper"
                 : [n] "+r"(n)
                 : [a] "v"(a), [b] "v"(b)
                 : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24",
                   "xmm25", "xmm26", "xmm27", "cc");
    return 0;
}
#endif

int32_t MaddLoopPortable(uint64_t n)
{
    int32_t acc[ACCS] = {};
    int16_t a = 3, b = 5;
    for (uint64_t i = 0; i < n; ++i) {
        for (int k = 0; k < ACCS; ++k) {
            asm volatile("" : "+r"(a), "+r"(b));
            acc[k] += int32_t(a) * b;
        }
    }
    int32_t s = 0;
    for (int32_t v : acc)
        s += v;
    return s;
}

struct MaddLoop {
    int32_t (*run)(uint64_t);
    double macsPerIteration;  // 16x16 bit products
};

MaddLoop MaddLoopFor(QrsFast::Kernel k)
{
    switch (k) {
#if defined(__x86_64__)
    case QrsFast::Kernel::Sse2: return {MaddLoopSse2, ACCS * 8.0};
    case QrsFast::Kernel::Avx2: return {MaddLoopAvx2, ACCS * 16.0};
    case QrsFast::Kernel::Avx512: return {MaddLoopAvx512, ACCS * 32.0};
    case QrsFast::Kernel::Avx512Vnni: return {MaddLoopVnni, ACCS * 32.0};
#endif
    default: return {MaddLoopPortable, ACCS * 1.0};
    }
}

// Processor time of this thread: other work on the machine does not count.
double ThreadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

// Multiply-adds per second of one instruction set, best of a few tries.
double MeasureMaddRate(QrsFast::Kernel k)
{
    const MaddLoop loop = MaddLoopFor(k);
    double best = 0;
    for (int t = 0; t < 7; ++t) {
        const uint64_t n = 1'000'000;
        const double t0 = ThreadSeconds();
        benchmark::DoNotOptimize(loop.run(n));
        best = std::max(best, double(n) * loop.macsPerIteration / (ThreadSeconds() - t0));
    }
    return best;
}

// The machine's multiply-add rate: the best instruction set it runs.
double PeakMaddRate()
{
    static const double peak = [] {
        double best = 0;
        for (int k = 0; k < QrsFast::KERNEL_COUNT; ++k)
            if (QrsFast::KernelAvailable(QrsFast::Kernel(k)))
                best = std::max(best, MeasureMaddRate(QrsFast::Kernel(k)));
        return best;
    }();
    return peak;
}

// ---- signal: the long real recordings, each sample repeated once ----

std::vector<int16_t> LoadSignal(size_t minSamples)
{
    namespace fs = std::filesystem;
    std::vector<int16_t> rec;
    const fs::path root(VITREL_DATA_DIR);
    const std::regex longName(R"(\d{8}\.\d{2})");
    std::vector<fs::path> files;
    if (fs::is_directory(root))
        for (const auto& dir : fs::directory_iterator(root))
            if (dir.is_directory())
                for (const auto& f : fs::directory_iterator(dir.path()))
                    if (std::regex_match(f.path().filename().string(), longName))
                        files.push_back(f.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        std::ifstream is(f, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(is), {}};
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            rec.push_back(int16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
        if (2 * rec.size() >= minSamples)
            break;
    }
    if (rec.empty()) {
        // No data: 72 beats a minute at 250 samples/s, triangular R waves.
        rec.resize(minSamples / 2 + 1);
        uint32_t rng = 1;
        for (size_t i = 0; i < rec.size(); ++i) {
            const int t = int(i % 208) - 104;
            rng = rng * 1664525u + 1013904223u;
            rec[i] = int16_t((std::abs(t) < 10 ? 1200 - 120 * std::abs(t) : 0) + int(rng >> 28) - 8);
        }
    }
    std::vector<int16_t> out;
    while (out.size() < minSamples)
        for (int16_t v : rec) {
            out.push_back(v);
            out.push_back(v);
        }
    return out;
}

const std::vector<int16_t>& Signal()
{
    static const std::vector<int16_t> s = LoadSignal(2'000'000);
    return s;
}

// seconds: this thread's processor time for the samples.
void SetRateCounters(benchmark::State& state, double samples, double seconds)
{
    state.SetItemsProcessed(int64_t(samples));
    state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["floor_ratio"] = seconds / (samples * MACS_PER_SAMPLE / PeakMaddRate());
}

template <bool Reference>
void RunChunks(benchmark::State& state)
{
    const auto& sig = Signal();
    auto det = std::make_unique<QrsDetector>();
    std::vector<uint32_t> pos(CHUNK / 2);
    PeakMaddRate();
    const double t0 = ThreadSeconds();
    for (auto _ : state) {
        for (size_t at = 0; at < sig.size(); at += CHUNK) {
            const uint32_t n = uint32_t(std::min<size_t>(CHUNK, sig.size() - at));
            uint32_t found = 0;
            if (Reference)
                det->DetectReference(sig.data() + at, n, pos.data(), &found);
            else
                det->Detect(sig.data() + at, n, pos.data(), &found);
            benchmark::DoNotOptimize(found);
        }
    }
    SetRateCounters(state, double(state.iterations()) * double(sig.size()), ThreadSeconds() - t0);
}

void BM_DetectReference(benchmark::State& state) { RunChunks<true>(state); }

void BM_Detect(benchmark::State& state)
{
    const auto k = QrsFast::Kernel(state.range(0));
    if (!QrsFast::KernelAvailable(k)) {
        state.SkipWithError("kernel not supported on this processor");
        return;
    }
    const QrsFast::Kernel previous = QrsFast::ActiveKernel();
    QrsFast::SelectKernel(k);
    state.SetLabel(QrsFast::KernelName(k));
    RunChunks<false>(state);
    QrsFast::SelectKernel(previous);
}

void BM_MaddPeak(benchmark::State& state)
{
    const auto k = QrsFast::Kernel(state.range(0));
    if (!QrsFast::KernelAvailable(k)) {
        state.SkipWithError("instruction set not supported on this processor");
        return;
    }
    const MaddLoop loop = MaddLoopFor(k);
    const uint64_t n = 100'000;
    for (auto _ : state)
        benchmark::DoNotOptimize(loop.run(n));
    state.SetLabel(QrsFast::KernelName(k));
    state.counters["MAC/s"] =
        benchmark::Counter(double(state.iterations()) * n * loop.macsPerIteration, benchmark::Counter::kIsRate);
}

// The analysis run's detection over a whole recording at 250 samples/s:
// priming with the first 3000 samples, then chunks of 26500 every 25000,
// each zero-filled, read, repeated, detected and halved; the beats sorted
// and unique. Returns the number of detector samples.
double DetectLikeTheRun(const int16_t* rec, size_t n, bool reference, std::vector<uint32_t>& beats)
{
    auto det = std::make_unique<QrsDetector>();
    std::vector<int16_t> buf(CHUNK);
    double detected = 0;
    beats.clear();
    auto detect = [&](size_t from, size_t len, size_t capacity) {
        std::fill(buf.begin(), buf.end(), int16_t(0));
        std::memcpy(buf.data(), rec + from, len * sizeof(int16_t));
        for (size_t i = 2 * len; i-- > 1;)
            buf[i] = buf[i / 2];
        std::vector<uint32_t> pos(capacity);
        uint32_t found = 0;
        if (reference)
            det->DetectReference(buf.data(), uint32_t(2 * len), pos.data(), &found);
        else
            det->Detect(buf.data(), uint32_t(2 * len), pos.data(), &found);
        detected += 2.0 * double(len);
        pos.resize(found);
        return pos;
    };
    detect(0, std::min<size_t>(3000, n), std::min<size_t>(3000, n));
    for (size_t at = 0; at < n; at += 25000) {
        const size_t d = std::min<size_t>(26500, n - at);
        for (uint32_t p : detect(at, d, d))
            if (int32_t(p) >= 0)
                beats.push_back(uint32_t(at + p / 2));
    }
    std::sort(beats.begin(), beats.end());
    beats.erase(std::unique(beats.begin(), beats.end()), beats.end());
    return detected;
}

// A day's recording (21.6 M samples at 250/s) with the best kernel.
void BM_DayRecording(benchmark::State& state)
{
    const size_t kSamples = 21'600'000;
    std::vector<int16_t> rec(kSamples);
    {
        const auto& sig = Signal();  // already repeated: take every other sample
        for (size_t i = 0; i < kSamples; ++i)
            rec[i] = sig[(2 * i) % sig.size()];
    }
    const QrsFast::Kernel previous = QrsFast::ActiveKernel();
    QrsFast::SelectKernel(QrsFast::BestKernel());
    std::vector<uint32_t> beats;
    double detected = 0;
    PeakMaddRate();
    const double t0 = ThreadSeconds();
    for (auto _ : state)
        detected = DetectLikeTheRun(rec.data(), rec.size(), false, beats);
    state.counters["beats"] = double(beats.size());
    SetRateCounters(state, double(state.iterations()) * detected, ThreadSeconds() - t0);
    QrsFast::SelectKernel(previous);
}

void KernelArgs(benchmark::internal::Benchmark* b)
{
    for (int k = 0; k < QrsFast::KERNEL_COUNT; ++k)
        b->Arg(k);
}

}  // namespace

BENCHMARK(BM_MaddPeak)->Apply(KernelArgs);
BENCHMARK(BM_DetectReference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Detect)->Apply(KernelArgs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DayRecording)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// bench/run-bench times the detection alone on its recording:
//   detector_fast_bench --day FILE | --day-reference FILE
int main(int argc, char** argv)
{
    if (argc == 3 && (std::strcmp(argv[1], "--day") == 0 || std::strcmp(argv[1], "--day-reference") == 0)) {
        std::ifstream is(argv[2], std::ios::binary);
        if (!is) {
            std::fprintf(stderr, "cannot open %s\n", argv[2]);
            return 1;
        }
        is.seekg(0, std::ios::end);
        std::vector<int16_t> rec(size_t(is.tellg()) / 2);
        is.seekg(0);
        is.read(reinterpret_cast<char*>(rec.data()), std::streamsize(rec.size() * 2));
        if constexpr (std::endian::native == std::endian::big)
            for (int16_t& v : rec)
                v = int16_t(uint16_t(v) >> 8 | uint16_t(v) << 8);
        std::vector<uint32_t> beats;
        DetectLikeTheRun(rec.data(), rec.size(), argv[1][5] == '-', beats);
        std::printf("%zu beats\n", beats.size());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
