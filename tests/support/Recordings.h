// Recordings written on the spot: bare long recordings, short recordings
// with a header built field by field, and simple signals to put in them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recording/EcgFile.h"

namespace testsupport {

// Little-endian bytes of samples, whatever the host.
std::vector<uint8_t> SampleBytes(const std::vector<int16_t>& samples);
// Each writes path and returns it, or "" when it cannot be written.
std::string WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::string WriteSamples(const std::string& path, const std::vector<int16_t>& samples);
// The whole content of a file ("" when it cannot be read).
std::string ReadWholeFile(const std::string& path);
// A file of byteCount bytes without data blocks (it reads as zeros).
std::string WriteSparseFile(const std::string& path, uint64_t byteCount);

// A short recording's header with its date (year counted from 2000) and nothing else set.
RecordingHeader ShortHeader(uint8_t year = 10, uint8_t month = 11, uint8_t day = 8, uint8_t hour = 14,
                            uint8_t minute = 30, uint8_t second = 0);
// Little-endian 16-bit store at a header offset.
void PutU16(RecordingHeader& header, size_t offset, uint16_t value);
// The averaged measurements, in the header's own units.
struct Measurements {
    uint16_t avgRate = 0;   // 0.1 bpm
    uint16_t pr = 0, qt = 0;   // 2 ms
    int16_t r = 0, p = 0, t = 0, st = 0;   // 1/1010 mV
};
void SetMeasurements(RecordingHeader& header, const Measurements& m);
// The beat table (79 records at most) and the stored count, the number of
// positions unless given.
void SetBeats(RecordingHeader& header, const std::vector<uint32_t>& positions, int storedCount = -1);
// A whole short recording of kind 2 (14352 bytes) or 3 (14374: 22 lead bytes
// first); samples beyond 5400 are dropped, missing ones are 0.
std::vector<uint8_t> ShortRecordingBytes(const RecordingHeader& header, const std::vector<int16_t>& samples = {},
                                         int kind = ECG_KIND_NORMAL);
std::string WriteShortRecording(const std::string& path, const RecordingHeader& header,
                                const std::vector<int16_t>& samples = {}, int kind = ECG_KIND_NORMAL);
// A flat normal short recording of 2020-03-01 08:56 whose header stores the
// beat count storedCount and the table positions.
std::string WriteShortRecording(const std::string& path, int storedCount, const std::vector<uint32_t>& positions);

// Zero baseline with a narrow triangular R wave of `height` units every `period` samples.
std::vector<int16_t> SpikeTrain(uint32_t count, uint32_t period = 200, int16_t height = 1500);

}  // namespace testsupport
