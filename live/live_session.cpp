// The session folder, its lock and its manifests.
#include "live_session.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include <fmt/core.h>

#include "csv_format.h"
#include "file_rules.h"
#include "live_names.h"
#include "live_recorder.h"
#include "safe_files.h"

namespace {

constexpr const char* kSessionHeader =
    "device,path,source,start,end,samples,kept,alarms,gaps,row_gaps,repeated_rows,dropped,bad_input,"
    "skipped_lines,ended,failure\n";
constexpr const char* kLabelsHeader = "path,label,subject,source,samples\n";

// The rows of an earlier run's manifest (its text after the header line),
// or "" when there is none or it is not this kind of manifest.
std::string EarlierRows(const std::string& path, const char* header)
{
    std::string text;
    std::string reason;
    if (!FilesCheckInput(path, &reason) || !FilesReadText(path, &text, &reason)) {
        return "";
    }
    const std::size_t size = std::strlen(header);
    if (text.compare(0, size, header) != 0) {
        return "";
    }
    text.erase(0, size);
    if (!text.empty() && text.back() != '\n') {
        text += '\n';
    }
    return text;
}

std::string SessionManifestText(const std::string& earlier, const std::vector<LiveManifestRow>& rows)
{
    std::string text = kSessionHeader + earlier;
    for (const LiveManifestRow& row : rows) {
        const LiveCounts& c = row.counts;
        text +=
            fmt::format("{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{}\n", CsvField(LivePrintableName(row.device)),
                        CsvField(row.file), CsvField(row.source), LiveTimeText(row.startNs), LiveTimeText(row.endNs),
                        row.samples, row.kept, row.alarms, c.gaps, c.rowGaps, c.repeatedRows, c.dropped,
                        LiveCountsBadInput(c), c.skippedLines, row.ended, CsvField(LivePrintableName(row.failure)));
    }
    return text;
}

std::string LabelsManifestText(const std::string& earlier, const std::vector<LiveManifestRow>& rows)
{
    std::string text = kLabelsHeader + earlier;
    for (const LiveManifestRow& row : rows) {
        if (row.file.empty()) {
            continue;
        }
        const std::string stem = row.file.substr(0, row.file.size() - 4);
        text += fmt::format("{},,{},{},{}\n", CsvField(row.file), CsvField(stem), CsvField(row.source), row.kept);
    }
    return text;
}

}  // namespace

int64_t LiveNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string LiveTimeText(int64_t ns)
{
    const std::time_t seconds = static_cast<std::time_t>(ns / 1000000000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:06}Z", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                       utc.tm_hour, utc.tm_min, utc.tm_sec, (ns % 1000000000) / 1000);
}

bool LiveSessionOpen(LiveSession* session, const std::string& folder, std::string* recovered, std::string* reason)
{
    if (folder.empty()) {
        *reason = "the session folder's name is empty";
        return false;
    }
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        *reason = "cannot create the session folder " + folder + ": " + SafeErrorText(errno);
        return false;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *reason = "the session folder " + folder + " is no folder";
        return false;
    }
    const std::string lockPath = folder + "/" + kLiveLockName;
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *reason = "cannot open the session's lock " + lockPath + ": " + SafeErrorText(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        char holder[32] = {};
        const ssize_t n = ::pread(fd, holder, sizeof holder - 1, 0);
        ::close(fd);
        if (error == EWOULDBLOCK) {
            *reason = "the session folder " + folder + " is in use by another tumblewatch live" +
                      (n > 0 ? std::string(" (process ") + std::string(holder, std::strlen(holder)) + ")" : "");
        } else {
            *reason = "cannot lock " + lockPath + ": " + SafeErrorText(error);
        }
        return false;
    }
    const std::string pid = std::to_string(::getpid());
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The process number is only for the message of a refused second run.
    }
    session->folder = folder;
    session->lockFd = fd;
    session->rows.clear();
    session->earlierSession = EarlierRows(folder + "/" + kLiveSessionManifest, kSessionHeader);
    session->earlierLabels = EarlierRows(folder + "/" + kLiveLabelsManifest, kLabelsHeader);
    LiveRecorderRecover(folder, recovered);
    return true;
}

bool LiveSessionAdd(LiveSession* session, const LiveManifestRow& row, std::string* reason)
{
    std::lock_guard<std::mutex> lock(session->mutex);
    session->rows.push_back(row);
    std::string error;
    if (!FilesWriteWhole(session->folder + "/" + kLiveSessionManifest,
                         SessionManifestText(session->earlierSession, session->rows), &error) ||
        !FilesWriteWhole(session->folder + "/" + kLiveLabelsManifest,
                         LabelsManifestText(session->earlierLabels, session->rows), &error)) {
        *reason = error;
        return false;
    }
    return true;
}

void LiveSessionClose(LiveSession* session)
{
    if (session->lockFd >= 0) {
        ::close(session->lockFd);
        session->lockFd = -1;
    }
}
