#include "SynthWriters.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "recording/EcgFile.h"

namespace {

// Writes to a temporary name beside the target and renames it only when
// complete, so an interrupted run never leaves a file that looks finished.
class OutputFile {
public:
    explicit OutputFile(std::string path) : m_path(std::move(path)), m_temp(m_path + ".partial")
    {
        m_fp = std::fopen(m_temp.c_str(), "wb");
        if (!m_fp)
            Fail(m_temp);
        std::setvbuf(m_fp, nullptr, _IOFBF, 1 << 20);
    }
    ~OutputFile()
    {
        if (m_fp) {
            std::fclose(m_fp);
            std::remove(m_temp.c_str());
        }
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    FILE* Get() { return m_fp; }
    void Write(const void* data, size_t size)
    {
        if (size && std::fwrite(data, 1, size, m_fp) != size)
            Fail(m_temp);
    }
    void Commit()
    {
        int err = 0;
        if (std::fflush(m_fp) != 0 || std::ferror(m_fp))
            err = errno ? errno : EIO;
        if (std::fclose(m_fp) != 0 && !err)
            err = errno;
        m_fp = nullptr;
        if (!err && std::rename(m_temp.c_str(), m_path.c_str()) != 0)
            err = errno;
        if (err) {
            std::remove(m_temp.c_str());
            errno = err;
            Fail(m_path);
        }
    }

private:
    [[noreturn]] static void Fail(const std::string& path)
    {
        throw SynthError("cannot write " + path + ": " + std::strerror(errno));
    }

    std::string m_path, m_temp;
    FILE* m_fp = nullptr;
};

void PutLE(uint8_t* p, uint32_t v, int bytes)
{
    for (int k = 0; k < bytes; ++k)
        p[k] = static_cast<uint8_t>(v >> (8 * k));
}

void SamplesToLE(const int16_t* in, size_t n, std::vector<uint8_t>& out)
{
    out.resize(2 * n);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out.data(), in, 2 * n);
    } else {
        for (size_t k = 0; k < n; ++k)
            PutLE(&out[2 * k], static_cast<uint16_t>(in[k]), 2);
    }
}

class BeatsCsv {
public:
    explicit BeatsCsv(const std::string& path)
    {
        if (!path.empty())
            m_file = std::make_unique<OutputFile>(path);
    }
    void Add(const SynthBeat& b)
    {
        // A failed write leaves the stream's error flag set, which Commit reports.
        if (m_file)
            std::fprintf(m_file->Get(), "%lld,%c\n", static_cast<long long>(b.position), b.code);
    }
    void Commit()
    {
        if (m_file)
            m_file->Commit();
    }

private:
    std::unique_ptr<OutputFile> m_file;
};

int16_t Units(double v)
{
    return static_cast<int16_t>(std::lround(std::fmin(std::fmax(v, -32768), 32767)));
}

// The recorder's findings for the beats it stored.
void FillHeader(const SynthParams& p, const std::vector<SynthBeat>& beats, uint8_t* h)
{
    std::memset(h, 0, RECORDING_HEADER_SIZE);
    h[0] = static_cast<uint8_t>(p.year - 2000);
    h[1] = static_cast<uint8_t>(p.month);
    h[2] = static_cast<uint8_t>(p.day);
    h[3] = static_cast<uint8_t>(p.hour);
    h[4] = static_cast<uint8_t>(p.minute);
    h[5] = static_cast<uint8_t>(p.second);

    const size_t n = beats.size();
    h[8] = static_cast<uint8_t>(n);
    for (size_t k = 0; k < n; ++k)
        PutLE(h + 36 + 44 * k, static_cast<uint32_t>(beats[k].position), 4);

    double rate = 0;  // bpm over the stored beats
    bool irregular = false;
    if (n >= 2) {
        const double meanRR = static_cast<double>(beats[n - 1].position - beats[0].position) / (n - 1);
        rate = 60.0 * ECG_SAMPLE_RATE / meanRR;
        double var = 0;
        for (size_t k = 1; k < n; ++k) {
            const double d = (beats[k].position - beats[k - 1].position) - meanRR;
            var += d * d;
        }
        irregular = std::sqrt(var / (n - 1)) > 0.10 * meanRR;
    }
    double pr = 0, qt = 0, r = 0, pw = 0, t = 0, st = 0;
    int normal = 0;
    for (const SynthBeat& b : beats) {
        if (b.code != 'N') {
            irregular = true;
            continue;
        }
        pr += b.prMs; qt += b.qtMs; r += b.rAmp; pw += b.pAmp; t += b.tAmp; st += b.stLevel;
        ++normal;
    }
    if (normal > 0) {
        pr /= normal; qt /= normal; r /= normal; pw /= normal; t /= normal; st /= normal;
    }

    int rateCode = 0;
    if (rate < 50) rateCode = 2;
    else if (rate < 60) rateCode = 1;
    else if (rate <= 100) rateCode = 0;
    else if (rate <= 120) rateCode = 3;
    else rateCode = 4;
    h[7] = static_cast<uint8_t>(0x01 | (rateCode << 1) | (irregular ? 0x20 : 0));

    PutLE(h + 14, static_cast<uint32_t>(std::lround(rate * 10)), 2);
    PutLE(h + 16, static_cast<uint32_t>(std::lround(pr / 2)), 2);
    PutLE(h + 18, static_cast<uint32_t>(std::lround(qt / 2)), 2);
    PutLE(h + 20, static_cast<uint16_t>(Units(r)), 2);
    PutLE(h + 22, static_cast<uint16_t>(Units(pw)), 2);
    PutLE(h + 24, static_cast<uint16_t>(Units(t)), 2);
    PutLE(h + 26, static_cast<uint16_t>(Units(st)), 2);
}

}  // namespace

void WriteShortRecording(const SynthParams& params, bool remote, const std::string& path,
                         const std::string& beatsPath)
{
    std::vector<int16_t> samples(SHORT_SAMPLE_COUNT);
    std::vector<SynthBeat> beats;
    SignalRenderer renderer(params, SHORT_SAMPLE_COUNT);
    renderer.Render(0, SHORT_SAMPLE_COUNT, samples.data(), &beats);
    if (beats.size() > static_cast<size_t>(HEADER_BEAT_CAPACITY))
        throw SynthError("too many beats for the header (" + std::to_string(beats.size()) + ")");

    std::vector<uint8_t> bytes;
    if (remote) {
        // Transfer prefix: tag, a device number from the seed, length of what follows.
        uint8_t lead[REMOTE_LEAD_BYTES] = {'R', 'M', 'T', 1};
        std::snprintf(reinterpret_cast<char*>(lead + 4), 9, "%08u",
                      static_cast<unsigned>(SynthHash(params.seed) % 100000000u));
        PutLE(lead + 12, static_cast<uint32_t>(NORMAL_FILE_LENGTH), 4);
        bytes.insert(bytes.end(), lead, lead + REMOTE_LEAD_BYTES);
    }
    const size_t headerAt = bytes.size();
    bytes.resize(headerAt + RECORDING_HEADER_SIZE);
    FillHeader(params, beats, bytes.data() + headerAt);
    std::vector<uint8_t> le;
    SamplesToLE(samples.data(), samples.size(), le);
    bytes.insert(bytes.end(), le.begin(), le.end());

    BeatsCsv csv(beatsPath);
    for (const SynthBeat& b : beats)
        csv.Add(b);
    OutputFile out(path);
    out.Write(bytes.data(), bytes.size());
    out.Commit();
    csv.Commit();
}

std::string LongRecordingName(const SynthParams& p)
{
    char name[32];
    std::snprintf(name, sizeof name, "%02d%02d%02d%02d.%02d", p.year % 100, p.month, p.day, p.hour, p.minute);
    return name;
}

std::string WriteLongRecording(const SynthParams& params, int64_t sampleCount, const std::string& dir,
                               const std::string& beatsPath)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        throw SynthError("cannot create " + dir + ": " + ec.message());
    const std::string path = (std::filesystem::path(dir) / LongRecordingName(params)).string();

    constexpr int kBlock = 1 << 16;
    std::vector<int16_t> samples(kBlock);
    std::vector<uint8_t> le;
    std::vector<SynthBeat> beats;
    SignalRenderer renderer(params, sampleCount);
    BeatsCsv csv(beatsPath);
    OutputFile out(path);
    for (int64_t first = 0; first < sampleCount; first += kBlock) {
        const int count = static_cast<int>(std::min<int64_t>(kBlock, sampleCount - first));
        beats.clear();
        renderer.Render(first, count, samples.data(), &beats);
        for (const SynthBeat& b : beats)
            csv.Add(b);
        SamplesToLE(samples.data(), static_cast<size_t>(count), le);
        out.Write(le.data(), le.size());
    }
    out.Commit();
    csv.Commit();
    return path;
}
