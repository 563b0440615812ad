#include "analysis/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

// Jobs come one after another with no pause, as chunks do: every piece runs
// once per job, none from a job that has ended, and a failing piece's error
// reaches the caller without stopping the pool.
TEST(WorkerPool, RunsEachPieceOnceAcrossBackToBackJobs)
{
    for (int threads : {1, 2, 3}) {
        WorkerPool pool(threads);
        for (int job = 0; job < 3000; ++job) {
            const int count = 1 + job % 5;
            std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
            pool.Run(count, [&](int k) { runs[size_t(k)].fetch_add(1); });
            for (const std::atomic<int>& r : runs)
                ASSERT_EQ(r.load(), 1) << threads << " threads, job " << job;
        }
        EXPECT_THROW(pool.Run(4,
                              [](int k) {
                                  if (k == 2)
                                      throw std::runtime_error("piece");
                              }),
                     std::runtime_error);
        int after = 0;
        pool.Run(1, [&](int) { ++after; });
        EXPECT_EQ(after, 1);
    }
}
