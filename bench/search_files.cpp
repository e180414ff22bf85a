// File search: the files of one directory that match a pattern, and in
// recursive mode every subdirectory below, depth first. Entries are visited
// in byte order of their names so that runs are reproducible.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bench.h"
#include "file_pattern.h"

namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string name;
    bool directory;      // a directory, or a link to one
    bool realDirectory;  // a directory that is not reached through a link
};

// The entries of a directory, sorted by name; false when it cannot be read.
bool ListDirectory(const std::string& dir, std::vector<Entry>* entries)
{
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path("/") : fs::path(dir), ec);
    if (ec) {
        return false;
    }
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) {
            break;
        }
        std::error_code typeError;
        const bool link = it->is_symlink(typeError);
        const bool directory = it->is_directory(typeError);
        entries->push_back(Entry{it->path().filename().string(), directory, directory && !link});
    }
    std::sort(entries->begin(), entries->end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

bool EndsWith(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Replays one entry by its suffix; anything else is ignored.
void HandleFile(const std::string& path, SearchTally* tally)
{
    int result = 0;
    if (EndsWith(path, ".csv")) {
        if (EndsWith(path, "_DSV.csv")) {
            return;
        }
        std::printf("\n%s:\n\n", path.c_str());
        result = ReplayCsvFile(path.c_str());
    } else if (EndsWith(path, ".bin")) {
        std::printf("\n%s:\n\n", path.c_str());
        result = ReplayBinFile(path.c_str());
    } else {
        return;
    }
    ++tally->replayed;
    if (result < 0) {
        ++tally->failed;
    }
}

// Replays the files that match the last component of pattern in the
// directory that the pattern names (the current one when it names none).
// A directory that cannot be read matches nothing.
void ReplayMatches(const std::string& pattern, SearchTally* tally)
{
    const size_t slash = pattern.rfind('/');
    const std::string prefix = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    const std::string dir = slash == std::string::npos ? std::string(".") : pattern.substr(0, slash);
    const std::string last = slash == std::string::npos ? pattern : pattern.substr(slash + 1);

    std::vector<Entry> entries;
    if (!ListDirectory(dir, &entries)) {
        return;
    }
    for (const Entry& entry : entries) {
        if (!entry.directory && FilePatternMatch(last.c_str(), entry.name.c_str())) {
            ++tally->matched;
            HandleFile(prefix + entry.name, tally);
        }
    }
}

}  // namespace

int SearchFilesCounted(const char* dir, const char* name, SearchTally* tally)
{
    if (dir == nullptr) {
        ReplayMatches(name, tally);
        return 0;
    }

    const std::string base(dir);
    ReplayMatches(base + "/" + name, tally);

    std::vector<Entry> entries;
    if (!ListDirectory(base, &entries)) {
        std::printf("tilt_bench: %s, path not found.\n", (base + "/*").c_str());
        return -1;
    }
    for (const Entry& entry : entries) {
        if (entry.realDirectory && entry.name != "." && entry.name != "..") {
            SearchFilesCounted((base + "/" + entry.name).c_str(), name, tally);
        }
    }
    return 0;
}

int SearchFiles(const char* dir, const char* name)
{
    SearchTally tally{};
    return SearchFilesCounted(dir, name, &tally);
}
