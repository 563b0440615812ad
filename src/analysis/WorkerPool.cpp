#include "analysis/WorkerPool.h"

#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VITREL_PAUSE() _mm_pause()
#else
#define VITREL_PAUSE() std::this_thread::yield()
#endif

namespace {

// A detection run hands out a job every chunk, a fraction of a millisecond
// apart: waking a sleeping thread costs more than the piece it is woken for,
// so a thread first spins this long for the next job before it sleeps.
constexpr auto SPIN = std::chrono::microseconds(300);

// Spins until ready() or SPIN has passed; true when ready.
template <class Ready>
bool SpinFor(Ready ready)
{
    const auto until = std::chrono::steady_clock::now() + SPIN;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (ready())
                return true;
            VITREL_PAUSE();
        }
        if (std::chrono::steady_clock::now() >= until)
            return ready();
    }
}

}  // namespace

struct WorkerPool::Job {
    const std::function<void(int)>* task;
    int count;
    std::atomic<int> next{0};
    std::atomic<int> left;
    std::mutex errorLock;
    std::exception_ptr error;
};

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
        m_stop.store(true);
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

void WorkerPool::Work(Job& job)
{
    for (;;) {
        const int k = job.next.fetch_add(1);
        if (k >= job.count)
            return;
        try {
            (*job.task)(k);
        } catch (...) {
            std::lock_guard<std::mutex> lock(job.errorLock);
            if (!job.error)
                job.error = std::current_exception();
        }
        if (job.left.fetch_sub(1) == 1) {
            // The caller may be asleep: the lock orders its check and this.
            { std::lock_guard<std::mutex> lock(m_lock); }
            m_done.notify_all();
        }
    }
}

void WorkerPool::Loop()
{
    uint64_t seen = 0;
    for (;;) {
        const auto moved = [&] { return m_stop.load() || m_generation.load() != seen; };
        if (!SpinFor(moved)) {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait(lock, moved);
        }
        if (m_stop.load())
            return;
        seen = m_generation.load();
        // Counted in before the job is looked at, so that its caller, which
        // clears m_job and then waits for m_inside to fall, never frees a job
        // a worker still holds.
        m_inside.fetch_add(1);
        if (Job* job = m_job.load())
            Work(*job);
        m_inside.fetch_sub(1);
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
    Job job;
    job.task = &task;
    job.count = count;
    job.left.store(count);
    m_job.store(&job);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_generation.fetch_add(1);
    }
    m_wake.notify_all();
    Work(job);
    const auto finished = [&] { return job.left.load() == 0; };
    if (!SpinFor(finished)) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_done.wait(lock, finished);
    }
    m_job.store(nullptr);
    while (m_inside.load() != 0)
        VITREL_PAUSE();
    if (job.error)
        std::rethrow_exception(job.error);
}
