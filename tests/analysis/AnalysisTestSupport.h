// Files and a recording view for the analysis tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analysis/AnalysisView.h"
#include "recording/EcgFile.h"

// Kept apart from the other test folders' helpers of the same program.
namespace analysis_test {

// A fresh directory under the test temp dir, removed again at the end.
class TempDir {
public:
    TempDir()
    {
        std::string tmpl = ::testing::TempDir() + "vitrel-analysis-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        const char* made = ::mkdtemp(buf.data());
        EXPECT_NE(made, nullptr);
        m_path = made ? made : tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteSamples(const std::string& path, const std::vector<int16_t>& samples)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int16_t s : samples) {
        const unsigned char b[2] = {uint8_t(uint16_t(s) & 0xff), uint8_t(uint16_t(s) >> 8)};
        out.write(reinterpret_cast<const char*>(b), 2);
    }
}

// A normal short recording (14352 bytes) with the given stored beat count
// and beat table; positions beyond the table's 79 records are not stored.
inline void WriteShortRecording(const std::string& path, uint8_t storedCount, const std::vector<uint32_t>& positions)
{
    std::vector<unsigned char> bytes(NORMAL_FILE_LENGTH, 0);
    bytes[0] = 20;  // 2020-03-01 08:56:00
    bytes[1] = 3;
    bytes[2] = 1;
    bytes[3] = 8;
    bytes[4] = 56;
    bytes[8] = storedCount;
    for (size_t k = 0; k < positions.size() && k < size_t(HEADER_BEAT_CAPACITY); ++k)
        for (int b = 0; b < 4; ++b)
            bytes[36 + 44 * k + b] = uint8_t(positions[k] >> (8 * b));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void SetTimeZone(const char* tz)
{
    ::setenv("TZ", tz, 1);
    ::tzset();
}

// Records every notification in order. Calls may come from the worker.
class RecordingView : public IAnalysisView {
public:
    struct Event {
        enum Kind { Show, Progress, DetectionFinished, BeginStatistics, StatisticsFinished } kind;
        int value;  // percent or flag
        bool operator==(const Event&) const = default;
    };

    void ShowProgress() override { Add({Event::Show, 0}); }
    void SetProgress(short percent) override
    {
        Add({Event::Progress, percent});
        std::function<void(short)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            hook = onProgress;
        }
        if (hook)
            hook(percent);
    }
    void OnDetectionFinished(bool completed) override { Add({Event::DetectionFinished, completed}); }
    void BeginStatisticsProgress() override { Add({Event::BeginStatistics, 0}); }
    void OnStatisticsFinished(bool produced) override { Add({Event::StatisticsFinished, produced}); }

    std::vector<Event> Events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    // The progress values sent before detection finished (or all, if it never did).
    std::vector<int> DetectionProgress() const
    {
        std::vector<int> out;
        for (const Event& e : Events()) {
            if (e.kind == Event::DetectionFinished)
                break;
            if (e.kind == Event::Progress)
                out.push_back(e.value);
        }
        return out;
    }
    bool WaitFor(Event::Kind kind, std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] {
            for (const Event& e : m_events)
                if (e.kind == kind)
                    return true;
            return false;
        });
    }

    // Runs on the worker inside SetProgress (set before the run starts).
    std::function<void(short)> onProgress;

private:
    void Add(Event e)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(e);
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
};

}  // namespace analysis_test
