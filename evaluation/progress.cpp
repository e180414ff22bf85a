// The progress line, and the worker threads behind it.
#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

void ProgressStart(Progress* progress, const std::string& what, uint64_t total, bool wanted)
{
    progress->what = what;
    progress->total = total;
    progress->done = 0;
    progress->samples = 0;
    progress->bytesTotal = 0;
    progress->bytes = 0;
    progress->start = std::chrono::steady_clock::now();
    progress->shown = wanted && isatty(STDERR_FILENO) != 0;
}

double ProgressSeconds(const Progress& progress)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.start).count();
}

void ProgressShow(const Progress& progress)
{
    if (!progress.shown) {
        return;
    }
    const double seconds = ProgressSeconds(progress);
    const uint64_t done = progress.done.load();
    const double rate = seconds > 0.0 ? static_cast<double>(progress.samples.load()) / seconds : 0.0;
    // The share done: of the bytes when their total is known, else of the
    // units.
    const uint64_t bytes = std::min(progress.bytes.load(), progress.bytesTotal);
    const double share = progress.bytesTotal > 0 ? static_cast<double>(bytes) / static_cast<double>(progress.bytesTotal)
                         : progress.total > 0    ? static_cast<double>(done) / static_cast<double>(progress.total)
                                                 : 0.0;
    std::string read;
    if (progress.bytesTotal > 0) {
        char text[64];
        std::snprintf(text, sizeof text, ", %.0f%% read", 100.0 * share);
        read = text;
    }
    std::string left;
    if (share > 0.0 && share < 1.0) {
        const double remaining = seconds * (1.0 - share) / share;
        left = ", about " + std::to_string(static_cast<long>(remaining + 0.5)) + " s left";
    }
    std::fprintf(stderr, "\r%llu/%llu %s%s, %.2f million samples/s%s\033[K", static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(progress.total), progress.what.c_str(), read.c_str(), rate / 1e6,
                 left.c_str());
    std::fflush(stderr);
}

void ProgressEnd(const Progress& progress)
{
    if (progress.shown) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
}

void ProgressRunParallel(std::size_t count, int threads, const Progress& progress,
                         const std::function<void(std::size_t item, int worker)>& work)
{
    std::atomic<std::size_t> next{0};
    int running = threads;
    std::mutex mutex;
    std::condition_variable finished;
    auto run = [&](int worker) {
        for (std::size_t i = next++; i < count; i = next++) {
            work(i, worker);
        }
        const std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_one();
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(run, t);
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(250), [&] { return running == 0; })) {
            ProgressShow(progress);
        }
    }
    for (std::thread& w : workers) {
        w.join();
    }
}
