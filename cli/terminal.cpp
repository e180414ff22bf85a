// What the program writes on the terminal: messages made safe to show,
// standard output written without exceptions and its failures reported
// once, and the outputs checked and written by the shared rules.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "commands.h"
#include "safe_files.h"

namespace {

// Bytes without a space that are shown whole; longer runs are shortened.
constexpr std::size_t kLongestWord = 160;
// Bytes kept of each end of a shortened run.
constexpr std::size_t kWordEnd = 60;
// A message is at most about this long on the terminal.
constexpr std::size_t kLongestMessage = 4000;

// The first failure of a write to standard output: its errno, 0 for none.
// The program's own record of its standard output, like the stream itself.
int standardOutputError = 0;

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The start of the UTF-8 character at or before at.
std::size_t CharStart(const std::string& s, std::size_t at)
{
    while (at > 0 && at < s.size() && IsContinuation(static_cast<unsigned char>(s[at]))) {
        --at;
    }
    return at;
}

// s[from, to) with its middle replaced by "..." when it is long.
std::string Shortened(const std::string& s, std::size_t from, std::size_t to, std::size_t keep)
{
    if (to - from <= 2 * keep + 3) {
        return s.substr(from, to - from);
    }
    const std::size_t head = CharStart(s, from + keep);
    const std::size_t tail = CharStart(s, to - keep);
    return s.substr(from, head - from) + "..." + s.substr(tail, to - tail);
}

std::string Escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        char code[16];
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(text[++i]));
            out += code;
        } else {
            out += text[i];
        }
    }
    return out;
}

void Opened(int fd, int flags)
{
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
        const int got = open("/dev/null", flags | O_CLOEXEC);
        if (got >= 0 && got != fd) {
            dup2(got, fd);
            close(got);
        }
    }
}

}  // namespace

std::string CommandTerminalText(const std::string& text)
{
    const std::string escaped = Escaped(text);
    std::string out;
    std::size_t at = 0;
    while (at < escaped.size()) {
        const std::size_t space = escaped.find(' ', at);
        const std::size_t end = space == std::string::npos ? escaped.size() : space;
        out += end - at > kLongestWord ? Shortened(escaped, at, end, kWordEnd) : escaped.substr(at, end - at);
        if (space != std::string::npos) {
            out += ' ';
        }
        at = end + 1;
    }
    return Shortened(out, 0, out.size(), kLongestMessage / 2);
}

std::vector<std::string> CommandWrap(const std::string& text, std::size_t width)
{
    std::vector<std::string> lines;
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

void CommandError(const std::string& message)
{
    std::fflush(stdout);
    const std::string line = "tumblewatch: " + CommandTerminalText(message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void CommandPrint(const std::string& text)
{
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && standardOutputError == 0) {
        standardOutputError = errno != 0 ? errno : EIO;
    }
}

void CommandGuardStandardStreams()
{
    Opened(STDIN_FILENO, O_RDONLY);
    // Read-only: a write to a closed standard output fails as it would have.
    Opened(STDOUT_FILENO, O_RDONLY);
    Opened(STDERR_FILENO, O_WRONLY);
}

int CommandFinishOutput(int status)
{
    errno = 0;
    if (std::fflush(stdout) != 0 && standardOutputError == 0) {
        standardOutputError = errno != 0 ? errno : EIO;
    }
    if (std::ferror(stdout) != 0 && standardOutputError == 0) {
        standardOutputError = EIO;
    }
    if (standardOutputError == 0) {
        return status;
    }
    std::clearerr(stdout);
    CommandError("standard output: cannot be written: " + SafeErrorText(standardOutputError));
    standardOutputError = 0;
    return kExitUsage;
}

bool CommandCheckOutputs(const std::vector<FilesOutput>& outputs, const FilesReads& reads)
{
    std::vector<FilesOutput> named;
    for (const FilesOutput& o : outputs) {
        if (!o.path.empty()) {  // an option not given; a given empty name is refused when parsed
            named.push_back(o);
        }
    }
    std::string error;
    if (!FilesCheckOutputs(named, reads, &error)) {
        CommandError(error);
        return false;
    }
    return true;
}

bool CommandWriteOutput(const std::string& path, const std::function<void(const TextSink&)>& write)
{
    FilesWriter writer;
    std::string error;
    if (!FilesWriterOpen(&writer, path, &error)) {
        CommandError(error);
        return false;
    }
    write(FilesWriterSink(&writer));
    if (!FilesWriterCommit(&writer, &error)) {
        CommandError(error);
        return false;
    }
    return true;
}
