// A fixed set of threads that run the pieces of one job at a time, the
// caller's thread among them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The thread count a setting of 0 ("all cores") stands for.
int ResolveThreadCount(int requested);

class WorkerPool {
public:
    // threads counts the caller: 1 starts none, 0 one per core.
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int Size() const { return int(m_threads.size()) + 1; }
    // Runs task(k) for every k below count and returns when all have ended;
    // the first exception a task raised is raised again here.
    void Run(int count, const std::function<void(int)>& task);

private:
    struct Job;
    void Loop();
    void Work(Job& job);

    std::vector<std::thread> m_threads;
    std::atomic<Job*> m_job{nullptr};
    std::atomic<uint64_t> m_generation{0};
    std::atomic<int> m_inside{0};  // workers that may be looking at m_job
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;  // only for sleeping and waking
    std::condition_variable m_wake, m_done;
};
