// Helpers shared by the tests: temporary folders, files, datasets and
// runs of the bench program.
#ifndef TESTS_TEST_SUPPORT_H
#define TESTS_TEST_SUPPORT_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tumblewatch.h"

// The sanitizers' shadow memory and quarantine make a process's resident
// size meaningless, so memory limits are checked in the normal build only.
#if defined(__SANITIZE_ADDRESS__)
#define TW_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TW_SANITIZED 1
#endif
#endif
#ifndef TW_SANITIZED
#define TW_SANITIZED 0
#endif
constexpr bool kSanitizedBuild = TW_SANITIZED != 0;

// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);

// The bytes of a binary dataset: magic, record position, the gap up to the
// position (zero bytes) and the records.
std::string DataSetBytes(const std::vector<ImuSample>& samples, int32_t position = 24);
void WriteDataSet(const std::string& path, const std::vector<ImuSample>& samples);

struct BenchRun {
    int status;  // exit status; -1 when ended by a signal
    std::string output;
    long maxRssKib;      // the child's peak resident set size (wait4), in KiB
    std::string errors;  // standard error
    bool timedOut;       // ended by the time limit
};

// Runs the bench program in folder cwd with the given arguments and
// collects its standard output and standard error. A run still going after
// timeLimitSeconds (0: no limit) is ended.
BenchRun RunBench(const std::string& cwd, const std::vector<std::string>& args, unsigned timeLimitSeconds = 0);

// The same for any program.
BenchRun RunProgram(const std::string& program, const std::string& cwd, const std::vector<std::string>& args,
                    unsigned timeLimitSeconds = 0);

// Lines of a text, without their newlines.
std::vector<std::string> SplitLines(const std::string& text);

// The six raw values of a sample, as a trace line shows them.
using TracedValues = std::array<int, 6>;
TracedValues ValuesOf(const ImuSample& s);

// The raw sample of every trace line; checks (as test expectations) that
// the lines carry the 0-based sample numbers in order.
std::vector<TracedValues> TracedSamples(const std::string& trace);

// The console lines ("%04d : Fall (%d)\n") that the falls in a trace must
// give: the trace numbers its samples from 0, the console from 1.
std::string FallLinesOf(const std::string& trace);

// The samples as a CSV recording in the default layout: seven header
// lines, then rows numbered from 0.
std::string CsvOf(const std::vector<ImuSample>& samples);

// Empty when the texts are equal; otherwise the first differing line of
// each, with its line number and, for a trace line, its sample number.
std::string FirstDifference(const std::string& expected, const std::string& actual);

// Sends the detector's trace into a temporary file for the life of the
// object and gives its text back. handle is the trace handle to redirect:
// fpTrace, or the previous implementation's own.
class TraceCapture {
public:
    explicit TraceCapture(FILE** handle = &fpTrace);
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Everything written so far.
    std::string Text() const;
    // The lines written so far.
    std::vector<std::string> Lines() const { return SplitLines(Text()); }

private:
    FILE** handle_;
    FILE* file_;
};

// A detector with the default configuration, set up and closed with the
// object.
struct Detector {
    Detector();
    ~Detector();
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    // Processes n copies of sample; returns the last code.
    int Feed(const ImuSample& sample, int n = 1);
    // Processes the samples in order; returns every code.
    std::vector<int> FeedAll(const std::vector<ImuSample>& samples);

    TumblewatchConfig cfg;
    TumblewatchContext ctx;
};

// An upright wearer at rest: gravity along -Y.
constexpr ImuSample kUpright{0, -8192, 0, 0, 0, 0};

#endif
