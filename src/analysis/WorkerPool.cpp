#include "analysis/WorkerPool.h"

int ResolveThreadCount(int requested)
{
    if (requested > 0)
        return requested;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? int(cores) : 1;
}

WorkerPool::WorkerPool(int threads)
{
    const int n = ResolveThreadCount(threads);
    m_threads.reserve(size_t(n - 1));
    for (int i = 1; i < n; ++i)
        m_threads.emplace_back(&WorkerPool::Loop, this);
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

// Takes pieces until none is left; called with m_lock held.
void WorkerPool::Work()
{
    std::unique_lock<std::mutex> lock(m_lock, std::adopt_lock);
    while (m_next < m_count) {
        const int k = m_next++;
        const std::function<void(int)>& task = *m_task;
        lock.unlock();
        std::exception_ptr error;
        try {
            task(k);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error && !m_error)
            m_error = error;
        if (--m_pending == 0)
            m_done.notify_all();
    }
    lock.release();
}

void WorkerPool::Loop()
{
    std::unique_lock<std::mutex> lock(m_lock);
    uint64_t seen = m_generation;
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || m_generation != seen; });
        if (m_stop)
            return;
        seen = m_generation;
        lock.release();
        Work();
        lock = std::unique_lock<std::mutex>(m_lock, std::adopt_lock);
    }
}

void WorkerPool::Run(int count, const std::function<void(int)>& task)
{
    if (count <= 0)
        return;
    if (m_threads.empty() || count == 1) {
        for (int k = 0; k < count; ++k)
            task(k);
        return;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_task = &task;
    m_count = count;
    m_next = 0;
    m_pending = count;
    m_error = nullptr;
    ++m_generation;
    m_wake.notify_all();
    lock.release();
    Work();
    lock = std::unique_lock<std::mutex>(m_lock, std::adopt_lock);
    m_done.wait(lock, [&] { return m_pending == 0; });
    m_task = nullptr;
    m_count = 0;
    if (m_error) {
        std::exception_ptr error = m_error;
        m_error = nullptr;
        std::rethrow_exception(error);
    }
}
