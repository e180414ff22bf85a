// A progress line on standard error while long work runs: units done (of
// a known total), samples per second, the bytes read of the inputs when
// their total is known, and the time left (from the bytes when known, so
// that it moves within a long recording), rewritten in place when standard
// error is a terminal and not shown otherwise; and the worker threads that
// do such work.
#ifndef EVALUATION_PROGRESS_H
#define EVALUATION_PROGRESS_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Asked about four times a second, by the thread that waits for the
// workers, with the units done and their total; false stops the work.
using ProgressPoll = std::function<bool(uint64_t done, uint64_t total)>;

struct Progress {
    std::string what;               // "recordings", "configurations"
    uint64_t total;                 // units to do
    std::atomic<uint64_t> done;     // units done (workers add)
    std::atomic<uint64_t> samples;  // samples processed (workers add, block by block)
    uint64_t bytesTotal;            // bytes of the inputs to read; 0 when unknown
    std::atomic<uint64_t> bytes;    // bytes read of them (workers add)
    std::chrono::steady_clock::time_point start;
    bool shown;                 // standard error is a terminal and the line is wanted
    ProgressPoll poll;          // empty for none; set after ProgressStart
    std::atomic<bool> stopped;  // poll asked to stop: workers take no more units and end the one in hand early
};

// Starts the clock; shown when wanted and standard error is a terminal.
void ProgressStart(Progress* progress, const std::string& what, uint64_t total, bool wanted);

// Rewrites the line (from one thread only, typically the one waiting for
// the workers).
void ProgressShow(const Progress& progress);

// Clears the line.
void ProgressEnd(const Progress& progress);

// Rewrites the line and asks progress->poll, if any; false once the work
// is to stop (progress->stopped is then set).
bool ProgressCheck(Progress* progress);

// Seconds since ProgressStart.
double ProgressSeconds(const Progress& progress);

// Starts up to count threads, thread t running body(t). A thread that the
// system cannot create (too many threads, too little address space) ends
// the starting: returns the threads started, which may be fewer than count
// or none; the caller joins them.
std::vector<std::thread> ProgressStartThreads(int count, const std::function<void(int worker)>& body);

// Runs work(item, worker) once for every item of [0, count) on threads
// worker threads (worker is the thread's number, 0 to threads - 1, for
// state a thread keeps from item to item), rewriting the progress line and
// asking progress.poll while they run; returns when every item is done, or
// after the items in hand once poll asked to stop (progress.stopped). Runs
// on fewer threads when the system cannot create them all, on the calling
// thread alone when it can create none. work updates progress.done and
// progress.samples itself.
void ProgressRunParallel(std::size_t count, int threads, Progress& progress,
                         const std::function<void(std::size_t item, int worker)>& work);

#endif
