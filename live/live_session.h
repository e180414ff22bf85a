// A live session's folder: one process at a time (a lock), the kept
// recordings of its devices, and its manifests, rewritten whole each time a
// device ends:
//
//   session.manifest  device, path, start, end, samples, gaps, alarms and
//                     what was dropped or bad, one row per device recording
//   labels.manifest   path, label, subject, source, samples: the recordings
//                     as `tumblewatch eval --labels` reads them (unlabelled)
//   .lock             held while a process runs in the folder
#ifndef LIVE_LIVE_SESSION_H
#define LIVE_LIVE_SESSION_H

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "live_payload.h"

// The manifests' names in the session folder.
constexpr const char* kLiveSessionManifest = "session.manifest";
constexpr const char* kLiveLabelsManifest = "labels.manifest";
constexpr const char* kLiveLockName = ".lock";

// One device recording as the manifest lists it.
struct LiveManifestRow {
    std::string device;   // the name the device sent under
    std::string file;     // the recording's name in the folder ("" when none could be created)
    std::string source;   // the source it came through ("tcp:host:port", "mqtt://...")
    int64_t startNs;      // first sample's arrival, ns since 1970 (UTC)
    int64_t endNs;        // the device's end
    uint64_t samples;     // samples processed
    uint64_t kept;        // samples in the recording
    uint64_t alarms;      // samples with a fall code
    LiveCounts counts;    // gaps, drops, bad input
    std::string ended;    // why: "end of stream", "idle", "stopped"
    std::string failure;  // the recording's failure, "" when whole
};

// The session: its folder and lock, and the manifest's rows so far. One
// per process; LiveSessionAdd may be called from any thread.
struct LiveSession {
    std::string folder;
    int lockFd = -1;
    std::mutex mutex;  // guards rows and the manifests' files
    std::vector<LiveManifestRow> rows;
    std::string earlierSession;  // rows of an earlier run in this folder, kept
    std::string earlierLabels;
};

// Opens folder as the session's folder: created when missing (its parent
// must exist; an earlier run's manifest rows are kept), refused when it is no folder or when another process holds
// its lock (the message names that process). Leftover temporary
// recordings of a run that stopped abruptly are cut to whole records and
// renamed (named in *recovered). Returns true; false with the reason in
// *reason.
bool LiveSessionOpen(LiveSession* session, const std::string& folder, std::string* recovered, std::string* reason);

// Adds a finished device recording and rewrites both manifests whole.
// Returns true; false with the reason when a manifest could not be written
// (the rows are kept for the next rewrite).
bool LiveSessionAdd(LiveSession* session, const LiveManifestRow& row, std::string* reason);

// Releases the lock.
void LiveSessionClose(LiveSession* session);

// A time as ISO 8601 UTC with microseconds ("2026-12-11T13:31:32.123456Z").
std::string LiveTimeText(int64_t ns);

// Now, ns since 1970 (UTC).
int64_t LiveNowNs();

#endif
