// make_recordings: writes the project's own recordings, NAME.bin and
// NAME.csv for every scenario or for the scenarios named on the command
// line, into an output folder (created when missing).
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "recording_files.h"
#include "scenarios.h"

namespace {

void PrintUsage()
{
    std::fprintf(stderr, "Usage: make_recordings <output folder> [name ...]\n\nRecordings:\n");
    for (const recgen::Scenario& sc : recgen::Scenarios()) {
        std::fprintf(stderr, "  %-14s %s\n", sc.name, sc.description);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '\0') {
        PrintUsage();
        return 1;
    }
    const std::string folder = argv[1];

    // Every name is checked before anything is written.
    std::vector<const recgen::Scenario*> chosen;
    for (int i = 2; i < argc; ++i) {
        const recgen::Scenario* sc = recgen::FindScenario(argv[i]);
        if (sc == nullptr) {
            std::fprintf(stderr, "make_recordings: unknown recording \"%s\"\n\n", argv[i]);
            PrintUsage();
            return 1;
        }
        bool repeated = false;
        for (const recgen::Scenario* c : chosen) {
            repeated = repeated || c == sc;
        }
        if (!repeated) {
            chosen.push_back(sc);
        }
    }
    if (chosen.empty()) {
        for (const recgen::Scenario& sc : recgen::Scenarios()) {
            chosen.push_back(&sc);
        }
    }

    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        std::fprintf(stderr, "make_recordings: cannot create the folder %s\n", folder.c_str());
        return 1;
    }

    for (const recgen::Scenario* sc : chosen) {
        const recgen::Recording rec = recgen::MakeRecording(*sc);
        std::string error;
        if (!recgen::WriteRecording(folder, rec, &error)) {
            std::fprintf(stderr, "make_recordings: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s: %zu samples\n", rec.name.c_str(), rec.samples.size());
    }
    return 0;
}
