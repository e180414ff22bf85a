// The worker threads behind long work: every item once on any number of
// threads, a poll that stops the work, and a stop seen within a block.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "progress.h"

TEST(WorkerThreads, EveryItemRunsOnceOnAnyNumberOfThreads)
{
    for (const int threads : {1, 2, 7, 64}) {
        std::vector<std::atomic<int>> runs(1000);
        Progress progress;
        ProgressStart(&progress, "items", runs.size(), false);
        ProgressRunParallel(runs.size(), threads, progress, [&](std::size_t i, int worker) {
            EXPECT_GE(worker, 0);
            EXPECT_LT(worker, threads);
            ++runs[i];
            ++progress.done;
        });
        for (const std::atomic<int>& r : runs) {
            ASSERT_EQ(r.load(), 1) << threads << " threads";
        }
        EXPECT_FALSE(progress.stopped);
    }
}

TEST(WorkerThreads, APollThatSaysStopEndsTheWorkAfterTheItemsInHand)
{
    Progress progress;
    ProgressStart(&progress, "items", 100000, false);
    std::atomic<int> polls{0};
    progress.poll = [&](uint64_t done, uint64_t total) {
        EXPECT_EQ(total, 100000U);
        EXPECT_LE(done, total);
        return ++polls < 2;
    };
    std::atomic<int> ran{0};
    const auto start = std::chrono::steady_clock::now();
    ProgressRunParallel(100000, 3, progress, [&](std::size_t, int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++ran;
        ++progress.done;
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(progress.stopped);
    EXPECT_EQ(polls.load(), 2);
    EXPECT_LT(ran.load(), 100000);
    EXPECT_LT(seconds, 5.0);  // 100,000 items of 1 ms on 3 threads would take 33 s
}

TEST(WorkerThreads, StartingThreadsGivesThoseThatCouldBeStarted)
{
    std::atomic<int> ran{0};
    std::vector<std::thread> threads = ProgressStartThreads(5, [&](int) { ++ran; });
    EXPECT_EQ(threads.size(), 5U);
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(ran.load(), 5);
    EXPECT_TRUE(ProgressStartThreads(0, [&](int) { ++ran; }).empty());
}
