// A device's kept recording: a binary dataset written as the samples
// arrive. It lives under a temporary name ("NAME.bin.part") while the
// device sends and is renamed to "NAME.bin" when the device ends. The file
// always holds the header and whole records only: samples are gathered in
// a buffer of whole records and written by the caller's flush (at least
// once a second and on every alarm), a write that fails part-way is cut
// back to its last whole record, and after a failure (a full disk) the
// recorder keeps nothing more.
#ifndef LIVE_LIVE_RECORDER_H
#define LIVE_LIVE_RECORDER_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "dataset_format.h"
#include "tumblewatch.h"

// Samples gathered before a write: 64 records, 768 bytes.
constexpr std::size_t kLiveRecorderBuffer = 64;

// The state of one recording. Plain storage owned by the caller; set up by
// LiveRecorderOpen, which it must not be copied after.
struct LiveRecorder {
    int fd;                // the open file, -1 when closed or stopped
    std::string path;      // the final name
    std::string partPath;  // the temporary name
    uint64_t kept;         // samples in the file
    uint64_t fileBytes;    // bytes of the file that are whole
    unsigned char buffer[kLiveRecorderBuffer * kDataSetRecordSize];
    std::size_t buffered;  // samples in buffer
    bool failed;           // a write failed: nothing more is kept
    std::string failure;   // why, in plain words
};

// Creates the recording in folder under stem: the first of "stem.bin",
// "stem.2.bin", "stem.3.bin", ... of which neither the file nor its
// temporary name exists, created exclusively (no two devices or processes
// can take one name), and writes its header. Returns true; false with the
// reason in *reason (nothing is left behind then).
bool LiveRecorderOpen(LiveRecorder* recorder, const std::string& folder, const std::string& stem, std::string* reason);

// Keeps one sample: into the buffer, written when the buffer is full.
// Returns false when this sample or an earlier one could not be written
// (recorder->failure says why; from then on nothing is kept).
bool LiveRecorderAdd(LiveRecorder* recorder, const ImuSample& sample);

// Writes the buffered samples. Returns false after a failure.
bool LiveRecorderFlush(LiveRecorder* recorder);

// Writes the rest, closes the file and renames it to its final name (also
// after a failure: the whole records written before it are kept). Returns
// true when every sample was kept; false with the reason in *reason.
bool LiveRecorderClose(LiveRecorder* recorder, std::string* reason);

// Renames the leftovers of a run that stopped without closing them
// ("*.bin.part" in folder): each is cut to its last whole record and takes
// its final name (or the next free one). Returns how many; the names in
// *renamed.
int LiveRecorderRecover(const std::string& folder, std::string* renamed);

#endif
