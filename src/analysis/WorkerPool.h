// A fixed set of threads that run the pieces of one job at a time, the
// caller's thread among them.
#pragma once

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
    void Loop();
    void Work();

    std::mutex m_lock;
    std::condition_variable m_wake, m_done;
    std::vector<std::thread> m_threads;
    const std::function<void(int)>* m_task = nullptr;
    int m_count = 0, m_next = 0, m_pending = 0;
    uint64_t m_generation = 0;
    bool m_stop = false;
    std::exception_ptr m_error;
};
