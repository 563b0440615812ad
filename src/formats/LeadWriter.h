// The decoded lead on its way to 250 samples/s and 1010 units/mV.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <soxr.h>

#include "formats/ChildSandbox.h"
#include "recording/EcgFile.h"

// Longer recordings would not fit in memory as one lead (about 12 days).
constexpr uint64_t STANDARD_MAX_SAMPLES = uint64_t(1) << 28;

inline int16_t ToUnits(double millivolts)
{
    if (!std::isfinite(millivolts))
        return 0;
    const double u = std::round(millivolts * ECG_UNITS_PER_MV);
    return int16_t(std::clamp(u, -32768.0, 32767.0));
}


// Where a lead's samples go as they are made.
using LeadSink = std::function<void(const int16_t*, size_t)>;

inline LeadSink SinkTo(CResultWriter& out)
{
    return [&out](const int16_t* p, size_t n) { out.Bytes(p, n * sizeof(int16_t)); };
}

// Brings a lead in millivolts at its own rate to 250/s and 1010 units/mV,
// and hands it to out as it goes.
class LeadWriter {
public:
    LeadWriter(double rate, uint64_t inputSamples, const std::string& path, LeadSink out)
        : m_rate(rate), m_path(path), m_out(std::move(out))
    {
        if (double(inputSamples) * ECG_SAMPLE_RATE / rate > double(STANDARD_MAX_SAMPLES))
            throw CFileException(CFileException::recordingTooLarge, -1, path);
        if (rate == ECG_SAMPLE_RATE)
            return;
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        m_resampler = soxr_create(rate, ECG_SAMPLE_RATE, 1, &error, &io, &quality, nullptr);
        if (!m_resampler || error)
            throw CFileException(CFileException::formatUnsupported, -1, path);
    }
    ~LeadWriter()
    {
        if (m_resampler)
            soxr_delete(m_resampler);
    }
    LeadWriter(const LeadWriter&) = delete;
    LeadWriter& operator=(const LeadWriter&) = delete;

    void Push(const double* p, size_t n)
    {
        if (!m_resampler) {
            Emit(p, n);
            return;
        }
        // The resampler takes the signal to be zero before its start: a lead
        // that starts at an offset would ring there, so it is resampled as
        // its difference from the first value.
        if (p && n > 0) {
            if (!m_haveLevel) {
                m_level = p[0];
                m_haveLevel = true;
            }
            m_shifted.assign(p, p + n);
            for (double& v : m_shifted)
                v -= m_level;
            p = m_shifted.data();
        }
        m_resampled.resize(size_t(double(n) * ECG_SAMPLE_RATE / m_rate) + 64);
        size_t used = 0, done = 0;
        do {
            size_t idone = 0, odone = 0;
            if (soxr_process(m_resampler, p ? p + used : nullptr, p ? n - used : 0, &idone, m_resampled.data(),
                             m_resampled.size(), &odone))
                throw CFileException(CFileException::recordingDamaged, -1, m_path);
            used += idone;
            done = odone;
            for (size_t i = 0; i < odone; ++i)
                m_resampled[i] += m_level;
            Emit(m_resampled.data(), odone);
        } while (p ? used < n : done > 0);
    }
    void Finish()
    {
        if (m_resampler)
            Push(nullptr, 0);
    }
    uint64_t Written() const { return m_written; }

private:
    void Emit(const double* p, size_t n)
    {
        m_units.resize(n);
        for (size_t i = 0; i < n; ++i)
            m_units[i] = ToUnits(p[i]);
        m_written += n;
        if (m_written > STANDARD_MAX_SAMPLES)
            throw CFileException(CFileException::recordingTooLarge, -1, m_path);
        m_out(m_units.data(), n);
    }

    double m_rate;
    const std::string& m_path;
    LeadSink m_out;
    soxr_t m_resampler = nullptr;
    std::vector<double> m_resampled, m_shifted;
    std::vector<int16_t> m_units;
    double m_level = 0;
    bool m_haveLevel = false;
    uint64_t m_written = 0;
};

