#include "support/Recordings.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace testsupport {

std::vector<uint8_t> SampleBytes(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (int16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    return bytes;
}

std::string WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return out ? path : std::string();
}

std::string WriteSamples(const std::string& path, const std::vector<int16_t>& samples)
{
    return WriteFile(path, SampleBytes(samples));
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WriteSparseFile(const std::string& path, uint64_t byteCount)
{
    if (WriteFile(path, {}).empty() || ::truncate(path.c_str(), static_cast<off_t>(byteCount)) != 0)
        return {};
    return path;
}

RecordingHeader ShortHeader(uint8_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second)
{
    RecordingHeader h;
    std::memset(&h, 0, sizeof h);
    h.year = year;
    h.month = month;
    h.day = day;
    h.hour = hour;
    h.minute = minute;
    h.second = second;
    return h;
}

void PutU16(RecordingHeader& header, size_t offset, uint16_t value)
{
    auto* p = reinterpret_cast<uint8_t*>(&header) + offset;
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void SetMeasurements(RecordingHeader& header, const Measurements& m)
{
    PutU16(header, offsetof(RecordingHeader, avgHeartRate), m.avgRate);
    PutU16(header, offsetof(RecordingHeader, avgPR), m.pr);
    PutU16(header, offsetof(RecordingHeader, avgQT), m.qt);
    PutU16(header, offsetof(RecordingHeader, avgRAmplitude), static_cast<uint16_t>(m.r));
    PutU16(header, offsetof(RecordingHeader, avgPAmplitude), static_cast<uint16_t>(m.p));
    PutU16(header, offsetof(RecordingHeader, avgTAmplitude), static_cast<uint16_t>(m.t));
    PutU16(header, offsetof(RecordingHeader, avgSTLevel), static_cast<uint16_t>(m.st));
}

void SetBeats(RecordingHeader& header, const std::vector<uint32_t>& positions, int storedCount)
{
    header.qrsCount = static_cast<uint8_t>(storedCount >= 0 ? storedCount : static_cast<int>(positions.size()));
    for (size_t k = 0; k < positions.size() && k < HEADER_BEAT_CAPACITY; ++k) {
        auto* p = reinterpret_cast<uint8_t*>(&header.beats[k]);
        for (int b = 0; b < 4; ++b)
            p[b] = static_cast<uint8_t>(positions[k] >> (8 * b));
    }
}

std::vector<uint8_t> ShortRecordingBytes(const RecordingHeader& header, const std::vector<int16_t>& samples, int kind)
{
    std::vector<uint8_t> bytes;
    if (kind == ECG_KIND_REMOTE)
        bytes.assign(REMOTE_LEAD_BYTES, 0x5A);
    const auto* h = reinterpret_cast<const uint8_t*>(&header);
    bytes.insert(bytes.end(), h, h + sizeof header);
    std::vector<int16_t> body(samples.begin(), samples.begin() + std::min<size_t>(samples.size(), SHORT_SAMPLE_COUNT));
    body.resize(SHORT_SAMPLE_COUNT, 0);
    const std::vector<uint8_t> sampleBytes = SampleBytes(body);
    bytes.insert(bytes.end(), sampleBytes.begin(), sampleBytes.end());
    return bytes;
}

std::string WriteShortRecording(const std::string& path, const RecordingHeader& header,
                                const std::vector<int16_t>& samples, int kind)
{
    return WriteFile(path, ShortRecordingBytes(header, samples, kind));
}

std::string WriteShortRecording(const std::string& path, int storedCount, const std::vector<uint32_t>& positions)
{
    RecordingHeader header = ShortHeader(20, 3, 1, 8, 56);
    SetBeats(header, positions, storedCount);
    return WriteShortRecording(path, header);
}

std::vector<int16_t> SpikeTrain(uint32_t count, uint32_t period, int16_t height)
{
    std::vector<int16_t> samples(count, 0);
    for (uint32_t peak = period / 2; peak < count; peak += period) {
        for (int d = -4; d <= 4; ++d) {
            const int64_t i = static_cast<int64_t>(peak) + d;
            if (i >= 0 && i < static_cast<int64_t>(count))
                samples[static_cast<size_t>(i)] = static_cast<int16_t>(height * (5 - std::abs(d)) / 5);
        }
    }
    return samples;
}

}  // namespace testsupport
