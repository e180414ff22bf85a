// Writing the rows of a sweep.
#include "sweep_rows_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "safe_files.h"

bool SweepRowsOpen(const std::string& path, uint64_t keep, const SweepLayout& layout, SweepRowsFile* rows,
                   std::string* error)
{
    rows->file = nullptr;
    rows->writeError = 0;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat st {};
    // A regular file only (checked again now that it is open).
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd, static_cast<off_t>(keep)) != 0 ||
        lseek(fd, 0, SEEK_END) < 0) {
        *error = "--out " + path + ": cannot be written: " +
                 (fd >= 0 && !S_ISREG(st.st_mode) ? SafeNotRegularText(st.st_mode) : SafeErrorText(errno));
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    rows->file = fdopen(fd, "w");
    if (rows->file == nullptr) {
        *error = "--out " + path + ": cannot be written: " + SafeErrorText(errno);
        close(fd);
        return false;
    }
    if (keep == 0) {
        SweepRowsAppend(rows, SweepHeaderText(layout));
    }
    return true;
}

bool SweepRowsAppend(SweepRowsFile* rows, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), rows->file);
    if (std::fflush(rows->file) != 0) {
        if (rows->writeError == 0) {
            rows->writeError = errno;
        }
        return false;
    }
    return true;
}

bool SweepRowsClose(SweepRowsFile* rows, std::string* reason)
{
    const bool closed = SafeCloseOutput(rows->file, rows->writeError, reason);
    rows->file = nullptr;
    return closed;
}
