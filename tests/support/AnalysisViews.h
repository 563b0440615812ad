// Analysis views for tests: one that records every notification, one that ignores them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "analysis/AnalysisView.h"

namespace testsupport {

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

class NullAnalysisView : public IAnalysisView {
public:
    void ShowProgress() override {}
    void SetProgress(short) override {}
    void OnDetectionFinished(bool) override {}
    void BeginStatisticsProgress() override {}
    void OnStatisticsFinished(bool) override {}
};

}  // namespace testsupport
