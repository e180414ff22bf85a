// The rules for the files a command reads and writes; see file_rules.h.
#include "file_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "file_pattern.h"
#include "recording_reader.h"
#include "safe_files.h"

namespace fs = std::filesystem;

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr std::size_t kByteOrderMarkSize = 3;

// Bytes read from a line-by-line file at a time.
constexpr std::size_t kLineBlock = 1 << 16;

std::string Mebibytes(uint64_t bytes)
{
    return std::to_string(bytes >> 20) + " MiB";
}

// The absolute path with links and "." and ".." resolved as far as the
// path exists, the rest kept lexically; no trailing separator.
fs::path Resolved(const std::string& path)
{
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) {
        p = fs::absolute(path, ec).lexically_normal();
    }
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) {
        p = p.parent_path();
    }
    return p;
}

// True when path lies at or below folder (both resolved).
bool AtOrBelow(const fs::path& path, const fs::path& folder)
{
    auto f = folder.begin();
    for (auto p = path.begin(); f != folder.end(); ++f, ++p) {
        if (p == path.end() || *p != *f) {
            return false;
        }
    }
    return true;
}

// True when a and b name the same file: by identity when both exist, else
// by their resolved paths.
bool SameFile(const std::string& a, const std::string& b)
{
    SafeFileId ia{};
    SafeFileId ib{};
    const bool ea = SafeFileIdOf(a, &ia);
    const bool eb = SafeFileIdOf(b, &ib);
    if (ea && eb) {
        return SafeSameFile(ia, ib);
    }
    return ea == eb && Resolved(a) == Resolved(b);
}

// Why the thing under an output's name may not be replaced by a file; empty
// when the name is free or a regular file (or a link to one).
std::string Occupied(const std::string& path)
{
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? std::string() : "cannot be examined: " + SafeErrorText(errno);
    }
    if (!S_ISLNK(link.st_mode)) {
        if (S_ISREG(link.st_mode)) {
            return std::string();
        }
        return "is " + SafeKindText(link.st_mode) + (S_ISDIR(link.st_mode) ? "" : ", not a regular file");
    }
    struct stat target {};
    if (stat(path.c_str(), &target) != 0) {
        return errno == ENOENT ? "is a link to a missing file"
                               : "is a link that cannot be followed: " + SafeErrorText(errno);
    }
    if (S_ISREG(target.st_mode)) {
        return std::string();
    }
    return "is a link to " + SafeKindText(target.st_mode) + (S_ISDIR(target.st_mode) ? "" : ", not a regular file");
}

// The folder a file lies in ("." for a bare name).
fs::path FolderOf(const fs::path& file)
{
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// The file an output replaces: the target of a link, else the path itself.
bool TargetOf(const std::string& path, std::string* target, std::string* error)
{
    struct stat link {};
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::error_code ec;
        const fs::path resolved = fs::canonical(path, ec);
        if (ec) {
            *error = path + ": cannot be written: the link cannot be followed: " + ec.message();
            return false;
        }
        *target = resolved.string();
        return true;
    }
    *target = path;
    return true;
}

// One check of one output; empty when it passes.
std::string CheckOne(const FilesOutput& out, const FilesReads& reads)
{
    if (out.path.empty()) {
        return out.option + ": the file name is empty";
    }
    const std::string name = out.option + " " + out.path + ": ";
    const std::string occupied = Occupied(out.path);
    if (!occupied.empty()) {
        return name + occupied + "; give the name of a regular file";
    }
    std::string target;
    std::string error;
    if (!TargetOf(out.path, &target, &error)) {
        return out.option + " " + error;
    }
    const fs::path folder = FolderOf(target);
    std::error_code ec;
    if (!fs::is_directory(folder, ec) || access(folder.c_str(), W_OK) != 0) {
        return name + "cannot be written (no writable folder " + folder.string() + ")";
    }
    for (const std::string& input : reads.files) {
        if (!input.empty() && SameFile(out.path, input)) {
            return name + "is " + input +
                   ", which this command reads (or a twin of a recording it reads); give another file";
        }
    }
    std::string where;
    if (FilesSearchWouldRead(out.path, reads, &where)) {
        return name + "has a recording's name and lies where the search of " + where +
               " finds recordings, so it would be read as one; write it elsewhere";
    }
    return std::string();
}

}  // namespace

bool FilesOutputNameFree(const std::string& path, std::string* reason)
{
    *reason = Occupied(path);
    return reason->empty();
}

bool FilesCheckInput(const std::string& path, std::string* reason)
{
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISREG(st.st_mode)) {
            return true;
        }
        *reason = SafeNotRegularText(st.st_mode);
        return false;
    }
    const int error = errno;
    if (error == ENOENT) {
        struct stat link {};
        *reason = lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) ? "no such file (a link to a missing file)"
                                                                           : "no such file";
        return false;
    }
    *reason = "cannot be opened: " + SafeErrorText(error);
    return false;
}

namespace {

// The checks of a text input once its bytes are in *text: a byte-order
// mark dropped, no zero byte, no line beyond kTextMaxLine.
bool CheckText(std::string* text, std::string* reason);

}  // namespace

bool FilesReadText(const std::string& path, std::string* text, std::string* reason)
{
    text->clear();
    FILE* file = SafeOpenInput(path, reason);
    if (file == nullptr) {
        return false;
    }
    struct stat st {};
    const uint64_t tooLarge = kTextMaxBytes + 1;
    if (fstat(fileno(file), &st) == 0 && static_cast<uint64_t>(st.st_size) >= tooLarge) {
        std::fclose(file);
        *reason = "larger than " + Mebibytes(kTextMaxBytes) + ", the limit for this file";
        return false;
    }
    char block[kLineBlock];
    bool failed = false;
    for (;;) {
        const std::size_t n = std::fread(block, 1, sizeof block, file);
        text->append(block, n);
        if (text->size() >= tooLarge) {
            std::fclose(file);
            text->clear();
            *reason = "larger than " + Mebibytes(kTextMaxBytes) + ", the limit for this file";
            return false;
        }
        if (n < sizeof block) {
            failed = std::ferror(file) != 0;
            break;
        }
    }
    std::fclose(file);
    if (failed) {
        *reason = "reading stopped early: a read error";
        return false;
    }
    return CheckText(text, reason);
}

bool FilesTextFromMemory(std::string_view bytes, std::string* text, std::string* reason)
{
    text->clear();
    if (bytes.size() > kTextMaxBytes) {
        *reason = "larger than " + Mebibytes(kTextMaxBytes) + ", the limit for this file";
        return false;
    }
    text->assign(bytes.data(), bytes.size());
    return CheckText(text, reason);
}

namespace {

bool CheckText(std::string* text, std::string* reason)
{
    if (text->compare(0, kByteOrderMarkSize, kByteOrderMark) == 0) {
        text->erase(0, kByteOrderMarkSize);
    }
    if (text->find('\0') != std::string::npos) {
        *reason = "holds a zero byte: not a text file";
        return false;
    }
    std::size_t start = 0;
    for (uint64_t line = 1;; ++line) {
        const std::size_t end = text->find('\n', start);
        const std::size_t length = (end == std::string::npos ? text->size() : end) - start;
        if (length > kTextMaxLine) {
            *reason = "line " + std::to_string(line) + " is longer than " + Mebibytes(kTextMaxLine) +
                      ", the limit for a line";
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
}

}  // namespace

bool FilesLinesOpen(FilesLineReader* reader, const std::string& path, std::string* reason)
{
    *reader = FilesLineReader{};
    reader->file = SafeOpenInput(path, reason);
    return reader->file != nullptr;
}

bool FilesLinesOpenMemory(FilesLineReader* reader, std::string_view bytes, std::string* reason)
{
    *reader = FilesLineReader{};
    // fmemopen takes a non-const pointer; the stream is only read.
    static char noBytes[1] = {0};
    char* data = bytes.empty() ? noBytes : const_cast<char*>(bytes.data());
    reader->file = fmemopen(data, bytes.size(), "r");
    if (reader->file == nullptr) {
        *reason = "cannot be read: " + SafeErrorText(errno);
        return false;
    }
    return true;
}

int FilesLinesNext(FilesLineReader* reader, std::string* reason)
{
    reader->line.clear();
    if (reader->file == nullptr || (!reader->complete && reader->number > 0)) {
        return 0;  // the file ended inside the previous line
    }
    int c = 0;
    char block[kLineBlock];
    std::size_t used = 0;
    for (;;) {
        c = getc_unlocked(reader->file);
        if (c == EOF || c == '\n') {
            break;
        }
        block[used++] = static_cast<char>(c);
        if (used == sizeof block) {
            reader->line.append(block, used);
            used = 0;
            if (reader->line.size() > kTextMaxLine) {
                *reason = "line " + std::to_string(reader->number + 1) + " is longer than " + Mebibytes(kTextMaxLine) +
                          ", the limit for a line";
                return -1;
            }
        }
    }
    reader->line.append(block, used);
    if (c == EOF && std::ferror(reader->file) != 0) {
        *reason = "reading stopped early: a read error";
        return -1;
    }
    if (reader->line.size() > kTextMaxLine) {
        *reason = "line " + std::to_string(reader->number + 1) + " is longer than " + Mebibytes(kTextMaxLine) +
                  ", the limit for a line";
        return -1;
    }
    if (c == EOF && reader->line.empty()) {
        reader->complete = false;
        return 0;
    }
    ++reader->number;
    reader->complete = c == '\n';
    if (reader->complete) {
        reader->bytes += reader->line.size() + 1;
    }
    if (reader->number == 1 && reader->line.compare(0, kByteOrderMarkSize, kByteOrderMark) == 0) {
        reader->line.erase(0, kByteOrderMarkSize);
    }
    return 1;
}

void FilesLinesClose(FilesLineReader* reader)
{
    if (reader->file != nullptr) {
        std::fclose(reader->file);
        reader->file = nullptr;
    }
}

std::string FilesResolved(const std::string& path)
{
    return Resolved(path).string();
}

bool FilesFolderWithin(const std::string& folder, const std::vector<std::string>& folders, std::string* which)
{
    const fs::path resolved = Resolved(folder);
    for (const std::string& f : folders) {
        if (AtOrBelow(resolved, Resolved(f))) {
            *which = f;
            return true;
        }
    }
    return false;
}

bool FilesSearchWouldRead(const std::string& path, const FilesReads& reads, std::string* where)
{
    RecordingFormat format;
    const fs::path resolved = Resolved(path);
    if (!RecordingFormatOf(resolved.filename().string(), &format)) {
        return false;
    }
    const fs::path folder = resolved.parent_path();
    if (FilesFolderWithin(folder.string(), reads.folders, where)) {
        return true;
    }
    const std::string name = resolved.filename().string();
    for (const std::string& pattern : reads.patterns) {
        const fs::path p(pattern);
        if (Resolved(FolderOf(p).string()) == folder && FilePatternMatch(p.filename().string().c_str(), name.c_str())) {
            *where = pattern;
            return true;
        }
    }
    return false;
}

bool FilesCheckOutputFolder(const std::string& option, const std::string& folder, const FilesReads& reads,
                            std::string* error)
{
    if (folder.empty()) {
        *error = option + ": the folder name is empty";
        return false;
    }
    const std::string name = option + " " + folder + ": ";
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        *error = name + (S_ISREG(st.st_mode) ? std::string("is a file") : "is " + SafeKindText(st.st_mode)) +
                 ", not a folder";
        return false;
    }
    std::string searched;
    if (FilesFolderWithin(folder, reads.folders, &searched)) {
        *error = name + "lies in " + searched +
                 ", which this command searches for recordings; choose a folder outside the recordings";
        return false;
    }
    return true;
}

bool FilesCheckOutputs(const std::vector<FilesOutput>& outputs, const FilesReads& reads, std::string* error)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const FilesOutput& out = outputs[i];
        if (out.path == "-") {
            if (!out.standardOutput) {
                *error = out.option + " -: needs a file (standard output is not possible here)";
                return false;
            }
            for (std::size_t k = 0; k < i; ++k) {
                if (outputs[k].path == "-") {
                    *error = out.option + " -: " + outputs[k].option +
                             " writes to standard output already; give one of them a file";
                    return false;
                }
            }
            continue;
        }
        const std::string problem = CheckOne(out, reads);
        if (!problem.empty()) {
            *error = problem;
            return false;
        }
        for (std::size_t k = 0; k < i; ++k) {
            if (outputs[k].path != "-" && !outputs[k].path.empty() && SameFile(out.path, outputs[k].path)) {
                *error = out.option + " " + out.path + ": is also the file of " + outputs[k].option +
                         "; give each output its own file";
                return false;
            }
        }
    }
    return true;
}

bool FilesWriterOpen(FilesWriter* writer, const std::string& path, std::string* error)
{
    *writer = FilesWriter{};
    writer->path = path;
    if (path == "-") {
        writer->file = stdout;
        return true;
    }
    if (!TargetOf(path, &writer->target, error)) {
        return false;
    }
    const fs::path target(writer->target);
    const std::string stem = (FolderOf(target) / ("." + target.filename().string() + ".")).string();
    const auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, "%ld-%llx-%u.part", static_cast<long>(getpid()), ticks, attempt);
        writer->temp = stem + suffix;
        // The mode is what a new file gets (the umask applies); a file that
        // is replaced keeps its own below.
        fd = open(writer->temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        *error = path + ": cannot be written: " + SafeErrorText(errno);
        writer->temp.clear();
        return false;
    }
    struct stat existing {};
    if (stat(writer->target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        fchmod(fd, existing.st_mode & 07777);
    }
    writer->file = fdopen(fd, "w");
    if (writer->file == nullptr) {
        *error = path + ": cannot be written: " + SafeErrorText(errno);
        close(fd);
        std::remove(writer->temp.c_str());
        writer->temp.clear();
        return false;
    }
    return true;
}

void FilesWriterWrite(FilesWriter* writer, std::string_view text)
{
    if (writer->file == nullptr || text.empty()) {
        return;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), writer->file) != text.size() && writer->error == 0) {
        writer->error = errno != 0 ? errno : EIO;
    }
}

TextSink FilesWriterSink(FilesWriter* writer)
{
    return [writer](std::string_view text) { FilesWriterWrite(writer, text); };
}

bool FilesWriterCommit(FilesWriter* writer, std::string* error)
{
    if (writer->file == nullptr) {
        *error = writer->path + ": cannot be written: it was not opened";
        return false;
    }
    if (writer->temp.empty()) {
        writer->file = nullptr;
        errno = 0;
        int failure = writer->error;
        if (std::fflush(stdout) != 0 && failure == 0) {
            failure = errno != 0 ? errno : EIO;
        }
        if (std::ferror(stdout) != 0 && failure == 0) {
            failure = EIO;
        }
        if (failure != 0) {
            // Reported here, once: the flag would report it again later.
            std::clearerr(stdout);
            *error = "standard output: cannot be written: " + SafeErrorText(failure);
            return false;
        }
        return true;
    }
    std::string reason;
    const bool closed = SafeCloseOutput(writer->file, writer->error, &reason);
    writer->file = nullptr;
    // The name may not have become something else than a file meanwhile:
    // the rename would replace it.
    const std::string occupied = Occupied(writer->target);
    if (closed && !occupied.empty()) {
        reason = "it " + occupied + " now; not replaced";
    }
    if (!closed || !occupied.empty() || std::rename(writer->temp.c_str(), writer->target.c_str()) != 0) {
        if (closed && occupied.empty()) {
            reason = SafeErrorText(errno);
        }
        std::remove(writer->temp.c_str());
        writer->temp.clear();
        *error = writer->path + ": cannot be written: " + reason;
        return false;
    }
    writer->temp.clear();
    return true;
}

void FilesWriterAbandon(FilesWriter* writer)
{
    if (writer->file != nullptr && !writer->temp.empty()) {
        std::fclose(writer->file);
        std::remove(writer->temp.c_str());
    }
    writer->file = nullptr;
    writer->temp.clear();
}

bool FilesWriteWhole(const std::string& path, std::string_view text, std::string* error)
{
    FilesWriter writer;
    if (!FilesWriterOpen(&writer, path, error)) {
        return false;
    }
    FilesWriterWrite(&writer, text);
    return FilesWriterCommit(&writer, error);
}
