// Replays recordings and compares every trace and console output with the
// references committed under tests/regression. Regenerate the references
// with scripts/update-references.sh; a change of behaviour is then a
// reviewed change of those files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "regression.h"
#include "sha256.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kReferences = std::string(SOURCE_DIR) + "/tests/regression";

// Own recordings: the trace (compressed) and the console output are
// committed as they are, under refDir with the recording's relative path.
// A recording's ".bin" and ".csv" twins must trace alike: they share one
// trace reference, named without the extension.
void CheckRecordings(const std::string& root, const std::string& refDir)
{
    const std::vector<std::string> recordings = ListRecordings(root);
    for (const std::string& rel : recordings) {
        const Replayed now = ReplayRecording(root + "/" + rel);
        const std::string trace = refDir + "/" + rel.substr(0, rel.size() - 4) + ".trace.gz";
        const std::string console = refDir + "/" + rel + ".console";
        if (UpdatingReferences()) {
            fs::create_directories(fs::path(trace).parent_path());
            WriteGzipFile(trace, now.trace);
            WriteFile(console, now.console);
            continue;
        }
        if (!PathExists(trace) || !PathExists(console)) {
            ADD_FAILURE() << rel << ": no reference; run scripts/update-references.sh and review the new files";
            continue;
        }
        const std::string traceDiff = FirstDifference(ReadGzipFile(trace), now.trace);
        EXPECT_TRUE(traceDiff.empty()) << rel << ": the trace differs from its reference, " << traceDiff;
        const std::string consoleDiff = FirstDifference(ReadFile(console), now.console);
        EXPECT_TRUE(consoleDiff.empty()) << rel << ": the console output differs from its reference, " << consoleDiff;
    }

    // References of recordings that are gone.
    std::error_code ec;
    if (!fs::is_directory(refDir, ec)) {
        return;
    }
    for (fs::recursive_directory_iterator it(refDir, ec), end; it != end; it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), refDir).string();
        const auto endsWith = [&](const std::string& suffix) {
            return rel.size() > suffix.size() && rel.compare(rel.size() - suffix.size(), suffix.size(), suffix) == 0;
        };
        bool stale = false;
        if (endsWith(".trace.gz")) {
            const std::string stem = root + "/" + rel.substr(0, rel.size() - 9);
            stale = !PathExists(stem + ".bin") && !PathExists(stem + ".csv");
        } else if (endsWith(".console")) {
            stale = !PathExists(root + "/" + rel.substr(0, rel.size() - 8));
        }
        if (!stale) {
            continue;
        }
        if (UpdatingReferences()) {
            fs::remove(it->path(), ec);
        } else {
            ADD_FAILURE() << rel << ": a reference without its recording";
        }
    }
}

TEST(Regression, ExampleRecordings)
{
    CheckRecordings(std::string(SOURCE_DIR) + "/examples", kReferences + "/examples");
}

TEST(Regression, GeneratedRecordings)
{
    TempDir dir;
    const std::string command = std::string(MAKE_RECORDINGS_PATH) + " " + dir.path() + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    CheckRecordings(dir.path(), kReferences + "/generated");
}

// Digests of the shared recordings' traces and console outputs, by path
// relative to the shared folder with ".trace" or ".console" appended.
std::map<std::string, std::string> ReadDigests(const std::string& path)
{
    std::map<std::string, std::string> digests;
    std::ifstream in(path);
    std::string hex, name;
    while (in >> hex >> name) {
        digests[name] = hex;
    }
    return digests;
}

TEST(Regression, SharedRecordingsMatchTheirDigests)
{
    const std::string root = SHARED_DATA_DIR;
    if (!fs::is_directory(root)) {
        GTEST_SKIP() << "no shared recordings at " << root;
    }
    const std::string digestFile = kReferences + "/shared.sha256";
    const std::map<std::string, std::string> digests = ReadDigests(digestFile);
    std::ostringstream updated;
    int compared = 0;
    for (const std::string& rel : ListRecordings(root)) {
        const auto trace = digests.find(rel + ".trace");
        const auto console = digests.find(rel + ".console");
        if (!UpdatingReferences() && (trace == digests.end() || console == digests.end())) {
            std::printf("no reference digest for %s: skipped\n", rel.c_str());
            continue;
        }
        const Replayed now = ReplayRecording(root + "/" + rel);
        const std::string traceHex = Sha256Hex(now.trace);
        const std::string consoleHex = Sha256Hex(now.console);
        if (UpdatingReferences()) {
            updated << traceHex << "  " << rel << ".trace\n" << consoleHex << "  " << rel << ".console\n";
            continue;
        }
        ++compared;
        EXPECT_EQ(traceHex, trace->second) << rel << ": the trace differs from its reference digest";
        EXPECT_EQ(consoleHex, console->second) << rel << ": the console output differs from its reference digest";
    }
    if (UpdatingReferences()) {
        WriteFile(digestFile, updated.str());
    } else {
        std::printf("%d shared recordings compared\n", compared);
    }
}

}  // namespace
