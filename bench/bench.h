// The test bench: file search and the replays of recordings.
#ifndef TILT_BENCH_H
#define TILT_BENCH_H

// Finds the files that match name (a file name or a pattern with the
// wildcards * and ?) and replays each ".bin" and ".csv" file. Without dir
// only the pattern's own directory is searched; with dir the search starts
// in dir and descends into every subdirectory. Returns 0 when done, -1
// when dir is given and cannot be enumerated.
int SearchFiles(const char* dir, const char* name);

// Replays a binary dataset through a fresh detector, writing the trace
// beside it. Returns 0 after a complete replay, -1 on failure.
int ReplayBinFile(const char* path);

// Replays a CSV recording through a fresh detector, writing the trace
// beside it and printing each fall. Returns 0 after a complete replay, -1
// on failure.
int ReplayCsvFile(const char* path);

// True when path can be opened for reading.
bool FileExists(const char* path);

#endif
