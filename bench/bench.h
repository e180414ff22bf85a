// The test bench: file search and the replays of recordings.
#ifndef TILT_BENCH_H
#define TILT_BENCH_H

// Finds the files that match name (a file name or a pattern with the
// wildcards * and ?) and replays each ".bin" and ".csv" file. Without dir
// only the pattern's own directory is searched; with dir the search starts
// in dir and descends into every subdirectory. Returns 0 when done, -1
// when dir is given and cannot be enumerated.
int SearchFiles(const char* dir, const char* name);

// What a search found and how its replays went.
struct SearchTally {
    int matched;   // entries that matched the pattern (folders excluded)
    int replayed;  // of those, the ".bin" and ".csv" files handed to a replay
    int failed;    // replays that failed or did not complete
};

// SearchFiles that adds to *tally what it found and how each replay went.
int SearchFilesCounted(const char* dir, const char* name, SearchTally* tally);

// Replays a binary dataset through a fresh detector, writing the trace
// beside it. Returns 0 after a complete replay, -1 on failure (reported on
// standard error): the input is no regular file, cannot be read or is no
// dataset, the trace is refused, cannot be created or was not written
// completely.
int ReplayBinFile(const char* path);

// Replays a CSV recording through a fresh detector, writing the trace
// beside it and printing each fall. Returns 0 after a complete replay, -1
// on failure, reported on standard error as for ReplayBinFile.
int ReplayCsvFile(const char* path);

// True when path exists and may be read (asked without opening it).
bool FileExists(const char* path);

#endif
