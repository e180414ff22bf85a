// The kept recording of a live device.
#include "live_recorder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "safe_files.h"

namespace {

constexpr int kMaxNameTries = 100000;

// Writes size bytes at the file's end; the count written in *written (a
// failure may come after part of them).
bool WriteAll(int fd, const unsigned char* bytes, std::size_t size, std::size_t* written, int* error)
{
    *written = 0;
    while (*written < size) {
        const ssize_t n = ::write(fd, bytes + *written, size - *written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = errno;
            return false;
        }
        if (n == 0) {
            *error = ENOSPC;
            return false;
        }
        *written += static_cast<std::size_t>(n);
    }
    return true;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void Fail(LiveRecorder* recorder, int error)
{
    recorder->failed = true;
    recorder->failure = "cannot write " + recorder->partPath + ": " + SafeErrorText(error) + " (kept " +
                        std::to_string(recorder->kept) + " samples; the rest is not recorded)";
    // Back to the last whole record, so the file never ends in a torn one.
    if (::ftruncate(recorder->fd, static_cast<off_t>(recorder->fileBytes)) != 0) {
        recorder->failure += "; the file could not be cut back to its last whole record";
    }
    recorder->buffered = 0;
}

// The final name for stem in folder: "stem.bin", then "stem.N.bin".
std::string FinalName(const std::string& folder, const std::string& stem, int n)
{
    return folder + "/" + stem + (n <= 1 ? "" : "." + std::to_string(n)) + ".bin";
}

}  // namespace

bool LiveRecorderOpen(LiveRecorder* recorder, const std::string& folder, const std::string& stem, std::string* reason)
{
    recorder->fd = -1;
    recorder->kept = 0;
    recorder->fileBytes = 0;
    recorder->buffered = 0;
    recorder->failed = false;
    recorder->failure.clear();
    for (int n = 1; n <= kMaxNameTries; ++n) {
        const std::string path = FinalName(folder, stem, n);
        const std::string part = path + ".part";
        if (Exists(path)) {
            continue;
        }
        const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            *reason = "cannot create " + part + ": " + SafeErrorText(errno);
            return false;
        }
        const std::string header = DataSetImage({});
        std::size_t written = 0;
        int error = 0;
        if (!WriteAll(fd, reinterpret_cast<const unsigned char*>(header.data()), header.size(), &written, &error)) {
            *reason = "cannot write " + part + ": " + SafeErrorText(error);
            ::close(fd);
            ::unlink(part.c_str());
            return false;
        }
        recorder->fd = fd;
        recorder->path = path;
        recorder->partPath = part;
        recorder->fileBytes = header.size();
        return true;
    }
    *reason = "no free file name for " + stem + " in " + folder;
    return false;
}

bool LiveRecorderFlush(LiveRecorder* recorder)
{
    if (recorder->failed) {
        return false;
    }
    if (recorder->buffered == 0) {
        return true;
    }
    const std::size_t size = recorder->buffered * kDataSetRecordSize;
    std::size_t written = 0;
    int error = 0;
    if (!WriteAll(recorder->fd, recorder->buffer, size, &written, &error)) {
        const std::size_t whole = written / kDataSetRecordSize;
        recorder->kept += whole;
        recorder->fileBytes += whole * kDataSetRecordSize;
        Fail(recorder, error);
        return false;
    }
    recorder->kept += recorder->buffered;
    recorder->fileBytes += size;
    recorder->buffered = 0;
    return true;
}

bool LiveRecorderAdd(LiveRecorder* recorder, const ImuSample& sample)
{
    if (recorder->failed) {
        return false;
    }
    DataSetEncodeRecord(sample, recorder->buffer + recorder->buffered * kDataSetRecordSize);
    if (++recorder->buffered == kLiveRecorderBuffer) {
        return LiveRecorderFlush(recorder);
    }
    return true;
}

bool LiveRecorderClose(LiveRecorder* recorder, std::string* reason)
{
    if (recorder->fd < 0) {
        *reason = recorder->failure;
        return !recorder->failed;
    }
    LiveRecorderFlush(recorder);
    bool ok = !recorder->failed;
    *reason = recorder->failure;
    if (::close(recorder->fd) != 0 && ok) {
        ok = false;
        *reason = "cannot close " + recorder->partPath + ": " + SafeErrorText(errno);
    }
    recorder->fd = -1;
    if (::rename(recorder->partPath.c_str(), recorder->path.c_str()) != 0) {
        const std::string text = "cannot rename " + recorder->partPath + ": " + SafeErrorText(errno);
        *reason = reason->empty() ? text : *reason + "; " + text;
        ok = false;
    }
    return ok;
}

int LiveRecorderRecover(const std::string& folder, std::string* renamed)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    std::vector<std::string> parts;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::string suffix = ".bin.part";
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            parts.push_back(name);
        }
    }
    ::closedir(dir);
    int count = 0;
    for (const std::string& name : parts) {
        const std::string part = folder + "/" + name;
        struct stat st {};
        if (::lstat(part.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        // Whole records only (a file cut inside its header is left alone).
        if (static_cast<uint64_t>(st.st_size) < kDataSetHeaderSize) {
            continue;
        }
        const off_t whole =
            static_cast<off_t>(kDataSetHeaderSize + (static_cast<uint64_t>(st.st_size) - kDataSetHeaderSize) /
                                                        kDataSetRecordSize * kDataSetRecordSize);
        if (whole != st.st_size && ::truncate(part.c_str(), whole) != 0) {
            continue;
        }
        const std::string stem = name.substr(0, name.size() - std::strlen(".bin.part"));
        for (int n = 1; n <= kMaxNameTries; ++n) {
            const std::string path = FinalName(folder, stem, n);
            if (!Exists(path) && (path + ".part" == part || !Exists(path + ".part"))) {
                if (::rename(part.c_str(), path.c_str()) == 0) {
                    *renamed += (renamed->empty() ? "" : ", ") + path;
                    ++count;
                }
                break;
            }
        }
    }
    return count;
}
