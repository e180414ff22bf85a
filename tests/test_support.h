// Helpers shared by the tests: temporary folders, files, datasets and
// runs of the bench program.
#ifndef TESTS_TEST_SUPPORT_H
#define TESTS_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "tumblewatch.h"

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
    int status;
    std::string output;
};

// Runs the bench program in folder cwd with the given arguments and
// collects its standard output.
BenchRun RunBench(const std::string& cwd, const std::vector<std::string>& args);

// Lines of a text, without their newlines.
std::vector<std::string> SplitLines(const std::string& text);

#endif
