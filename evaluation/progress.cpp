// The progress line, and the worker threads behind it.
#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
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
    progress->stopped = false;
}

bool ProgressCheck(Progress* progress)
{
    ProgressShow(*progress);
    if (!progress->stopped && progress->poll && !progress->poll(progress->done.load(), progress->total)) {
        progress->stopped = true;
    }
    return !progress->stopped;
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

std::vector<std::thread> ProgressStartThreads(int count, const std::function<void(int worker)>& body)
{
    std::vector<std::thread> threads;
    try {
        threads.reserve(static_cast<std::size_t>(std::max(count, 0)));
        for (int t = 0; t < count; ++t) {
            threads.emplace_back(body, t);
        }
    } catch (const std::system_error&) {
        // The threads started so far do the work.
    } catch (const std::bad_alloc&) {
    }
    return threads;
}

void ProgressRunParallel(std::size_t count, int threads, Progress& progress,
                         const std::function<void(std::size_t item, int worker)>& work)
{
    std::atomic<std::size_t> next{0};
    int running = 0;
    std::mutex mutex;
    std::condition_variable finished;
    auto run = [&](int worker) {
        for (std::size_t i = next++; i < count && !progress.stopped; i = next++) {
            work(i, worker);
        }
        const std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_one();
    };
    {
        const std::lock_guard<std::mutex> lock(mutex);
        running = threads;
    }
    std::vector<std::thread> workers = ProgressStartThreads(threads, run);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        running -= threads - static_cast<int>(workers.size());
    }
    if (workers.empty()) {
        // No thread could be created: the work runs here.
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ++running;
        }
        run(0);
    }
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (finished.wait_for(lock, std::chrono::milliseconds(250), [&] { return running == 0; })) {
                break;
            }
        }
        ProgressCheck(&progress);
    }
    for (std::thread& w : workers) {
        w.join();
    }
}
