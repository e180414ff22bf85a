#include "test_support.h"

#include "dataset_format.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string templ = (fs::temp_directory_path() / "tumblewatch-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool PathExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::string DataSetBytes(const std::vector<ImuSample>& samples, int32_t position)
{
    return DataSetImage(samples, position);
}

void WriteDataSet(const std::string& path, const std::vector<ImuSample>& samples)
{
    WriteFile(path, DataSetBytes(samples));
}

BenchRun RunBench(const std::string& cwd, const std::vector<std::string>& args, unsigned timeLimitSeconds)
{
    return RunProgram(TILT_BENCH_PATH, cwd, args, timeLimitSeconds);
}

BenchRun RunProgram(const std::string& program, const std::string& cwd, const std::vector<std::string>& args,
                    unsigned timeLimitSeconds)
{
    int fds[2];
    if (pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    // Standard error goes to an unnamed file, read once the child is done.
    FILE* errors = std::tmpfile();
    if (errors == nullptr) {
        throw std::runtime_error("tmpfile failed");
    }
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fileno(errors), STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        if (chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        // The alarm survives exec and ends a run that hangs.
        alarm(timeLimitSeconds);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string output;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) {
        output.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::fclose(errors);
        throw std::runtime_error("wait4 failed");
    }
    std::string errorText;
    std::rewind(errors);
    while (std::fgets(buf, sizeof buf, errors) != nullptr) {
        errorText += buf;
    }
    std::fclose(errors);
    return BenchRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, output, usage.ru_maxrss, errorText,
                    WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM};
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

TraceCapture::TraceCapture(FILE** handle) : handle_(handle), file_(std::tmpfile())
{
    if (file_ == nullptr) {
        throw std::runtime_error("cannot create a temporary trace file");
    }
    *handle_ = file_;
}

TraceCapture::~TraceCapture()
{
    if (*handle_ == file_) {
        *handle_ = nullptr;
    }
    std::fclose(file_);
}

std::string TraceCapture::Text() const
{
    std::fflush(file_);
    const long end = std::ftell(file_);
    std::string text(static_cast<size_t>(end), '\0');
    std::rewind(file_);
    const size_t got = std::fread(text.data(), 1, text.size(), file_);
    text.resize(got);
    std::fseek(file_, 0, SEEK_END);
    return text;
}

Detector::Detector()
{
    TumblewatchDefault(&cfg);
    if (TumblewatchSet(&ctx, &cfg) != 0) {
        throw std::runtime_error("set-up refused");
    }
}

Detector::~Detector()
{
    TumblewatchClose(&ctx);
}

int Detector::Feed(const ImuSample& sample, int n)
{
    int code = 0;
    for (int i = 0; i < n; ++i) {
        code = TumblewatchProcess(&ctx, &sample);
    }
    return code;
}

std::vector<int> Detector::FeedAll(const std::vector<ImuSample>& samples)
{
    std::vector<int> codes;
    codes.reserve(samples.size());
    for (const ImuSample& s : samples) {
        codes.push_back(TumblewatchProcess(&ctx, &s));
    }
    return codes;
}

std::string FirstDifference(const std::string& expected, const std::string& actual)
{
    if (expected == actual) {
        return std::string();
    }
    const std::vector<std::string> a = SplitLines(expected);
    const std::vector<std::string> b = SplitLines(actual);
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) {
        ++i;
    }
    const std::string& line = i < b.size() ? b[i] : (i < a.size() ? a[i] : std::string());
    std::ostringstream text;
    text << "first difference at line " << i + 1;
    const size_t colon = line.find(':');
    if (colon != std::string::npos && colon > 0 &&
        std::all_of(line.begin(), line.begin() + static_cast<long>(colon),
                    [](char c) { return c >= '0' && c <= '9'; })) {
        text << " (sample " << line.substr(0, colon) << ")";
    }
    text << "\n  expected: " << (i < a.size() ? a[i] : std::string("<end of file>"))
         << "\n  actual:   " << (i < b.size() ? b[i] : std::string("<end of file>"));
    if (i >= a.size() && i >= b.size()) {
        text << "\n  (the texts differ only in their line ends)";
    }
    return text.str();
}

TracedValues ValuesOf(const ImuSample& s)
{
    return TracedValues{s.accX, s.accY, s.accZ, s.gyroX, s.gyroY, s.gyroZ};
}

std::vector<TracedValues> TracedSamples(const std::string& trace)
{
    std::vector<TracedValues> samples;
    for (const std::string& line : SplitLines(trace)) {
        int number = -1;
        TracedValues v{};
        const int n = std::sscanf(line.c_str(), "%d: AG <%d, %d, %d><%d, %d, %d>", &number, &v[0], &v[1], &v[2], &v[3],
                                  &v[4], &v[5]);
        EXPECT_EQ(n, 7) << line;
        EXPECT_EQ(number, static_cast<int>(samples.size())) << line;
        samples.push_back(v);
    }
    return samples;
}

std::string FallLinesOf(const std::string& trace)
{
    std::string lines;
    for (const std::string& line : SplitLines(trace)) {
        const size_t arrow = line.rfind(" -> (");
        if (arrow != std::string::npos) {
            char text[64];
            std::snprintf(text, sizeof text, "%04d : Fall (%d)\n", std::atoi(line.c_str()) + 1,
                          std::atoi(line.c_str() + arrow + 5));
            lines += text;
        }
    }
    return lines;
}

std::string CsvOf(const std::vector<ImuSample>& samples)
{
    std::ostringstream csv;
    for (int i = 1; i <= 7; ++i) {
        csv << "header " << i << '\n';
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        const ImuSample& s = samples[i];
        csv << i << ',' << s.accX << ',' << s.accY << ',' << s.accZ << ',' << s.gyroX << ',' << s.gyroY << ','
            << s.gyroZ << '\n';
    }
    return csv.str();
}
