// Careful opening, creating and closing of files; see safe_files.h.
#include "safe_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What a file that is not a regular file is, in plain words.
const char* KindOfMode(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a plain file";
}

// Why path could not be opened: its kind when it exists but is no regular
// file, a broken link, or the system's message.
std::string OpenFailure(const std::string& path, int error)
{
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return SafeNotRegularText(st.st_mode);
    }
    if (error == ENOENT) {
        if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            return "no such file (a link to a missing file)";
        }
        return "no such file";
    }
    return "cannot be opened: " + SafeErrorText(error);
}

// Clears O_NONBLOCK, which only served to keep the open from blocking.
bool MakeBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

SafeFileId IdOf(const struct stat& st)
{
    return SafeFileId{st.st_dev, st.st_ino};
}

}  // namespace

std::string SafeKindText(mode_t mode)
{
    return KindOfMode(mode);
}

std::string SafeNotRegularText(mode_t mode)
{
    return std::string("not a regular file (") + KindOfMode(mode) + ")";
}

std::string SafeErrorText(int error)
{
    return std::strerror(error);
}

bool SafeFileIdOf(const std::string& path, SafeFileId* id)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return false;
    }
    *id = IdOf(st);
    return true;
}

bool SafeFileIdOfStream(FILE* file, SafeFileId* id)
{
    struct stat st {};
    if (file == nullptr || fstat(fileno(file), &st) != 0) {
        return false;
    }
    *id = IdOf(st);
    return true;
}

bool SafeSameFile(const SafeFileId& a, const SafeFileId& b)
{
    return a.device == b.device && a.inode == b.inode;
}

FILE* SafeOpenInput(const std::string& path, std::string* reason)
{
    // What is no regular file is refused before it is opened: opening a
    // FIFO or a device can have effects of its own.
    struct stat before {};
    if (stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) {
        *reason = SafeNotRegularText(before.st_mode);
        return nullptr;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *reason = OpenFailure(path, errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !MakeBlocking(fd)) {
        *reason = "cannot be opened: " + SafeErrorText(errno);
        close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        *reason = SafeNotRegularText(st.st_mode);
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        *reason = "cannot be opened: " + SafeErrorText(errno);
        close(fd);
    }
    return file;
}

FILE* SafeCreateOutput(const std::string& path, const std::vector<SafeFileId>& keep, std::string* reason, bool* refused)
{
    *refused = false;
    // No O_TRUNC: nothing is changed before the comparison below.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        *reason = "cannot be created: " + SafeErrorText(errno);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        *reason = "cannot be created: " + SafeErrorText(errno);
        close(fd);
        return nullptr;
    }
    for (const SafeFileId& id : keep) {
        if (SafeSameFile(IdOf(st), id)) {
            *refused = true;
            *reason = "is a file that must not be overwritten";
            close(fd);
            return nullptr;
        }
    }
    if (!MakeBlocking(fd) || (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)) {
        *reason = "cannot be created: " + SafeErrorText(errno);
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "w");
    if (file == nullptr) {
        *reason = "cannot be created: " + SafeErrorText(errno);
        close(fd);
    }
    return file;
}

FILE* SafeCreateOutputFor(const std::string& path, FILE* input, std::string* reason, bool* refused)
{
    std::vector<SafeFileId> keep;
    SafeFileId id{};
    if (SafeFileIdOfStream(input, &id)) {
        keep.push_back(id);
    }
    return SafeCreateOutput(path, keep, reason, refused);
}

void SafeNoteWriteError(FILE* file, int* firstError)
{
    if (*firstError == 0 && file != nullptr && ferror(file) != 0) {
        *firstError = errno != 0 ? errno : EIO;
    }
}

bool SafeCloseOutput(FILE* file, int firstError, std::string* reason)
{
    if (file == nullptr) {
        return true;
    }
    int error = firstError;
    errno = 0;
    if (std::fflush(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (std::ferror(file) != 0 && error == 0) {
        error = EIO;  // a write failed earlier and nobody noted why
    }
    errno = 0;
    if (std::fclose(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (error != 0) {
        *reason = SafeErrorText(error);
        return false;
    }
    return true;
}
