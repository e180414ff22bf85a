// Regression references: replays of recordings compared with committed
// trace files and console output (or, for recordings that are not ours to
// redistribute, with committed SHA-256 digests of them).
#ifndef TESTS_REGRESSION_H
#define TESTS_REGRESSION_H

#include <string>
#include <vector>

// What one replay of one recording printed and traced.
struct Replayed {
    std::string console;
    std::string trace;
};

// Copies the recording (and a "micom.txt" marker beside it, if any) into a
// temporary folder and replays it there with the bench, so that neither
// its trace nor its twin's ends up in the source folder.
Replayed ReplayRecording(const std::string& path);

// The recordings below root (".bin" and ".csv" files the bench replays),
// as sorted paths relative to root. Links are not followed.
std::vector<std::string> ListRecordings(const std::string& root);

std::string ReadGzipFile(const std::string& path);
void WriteGzipFile(const std::string& path, const std::string& data);

// True when the references are being regenerated instead of compared
// (environment variable TUMBLEWATCH_UPDATE_REFERENCES=1).
bool UpdatingReferences();

#endif
