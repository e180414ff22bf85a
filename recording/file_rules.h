// The rules every program of the project follows for the files a command
// names, in one place:
//
// - Inputs (configurations, manifests, sweep files, any text a command
//   reads whole or line by line) are regular files or links to them; a
//   FIFO, device, socket or folder is refused with its kind and never
//   opened. Text is refused beyond kTextMaxBytes in all or kTextMaxLine in
//   one line, and a UTF-8 byte-order mark at its start is dropped.
// - Outputs are checked before any work (FilesCheckOutputs): an empty name,
//   anything but a regular file (or a link to one) under the name, a file
//   the command reads or a search of it would read, and two outputs naming
//   one file are refused; "-" is standard output where the output allows
//   it. A file is then written under a temporary name beside it and renamed
//   over it when complete (FilesWriter), so it is whole or unchanged.
//
// A command lists what it reads (FilesReads) and what it writes
// (FilesOutput), calls FilesCheckOutputs, then writes each output through a
// FilesWriter (or FilesWriteWhole), reporting FilesWriterCommit's message.
#ifndef RECORDING_FILE_RULES_H
#define RECORDING_FILE_RULES_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Where text goes piece by piece: a file being written, a string, standard
// output. Called with each piece in order.
using TextSink = std::function<void(std::string_view)>;

// The largest text input (a manifest, a TOML file): 64 MiB.
constexpr uint64_t kTextMaxBytes = uint64_t{64} << 20;

// The longest line of a text input: 1 MiB.
constexpr std::size_t kTextMaxLine = std::size_t{1} << 20;

// ---- inputs ----

// True when path is a regular file or a link to one. Otherwise false with
// the reason in *reason, in the words of SafeOpenInput: "no such file",
// "no such file (a link to a missing file)", "not a regular file (a
// FIFO)", ... Nothing is opened.
bool FilesCheckInput(const std::string& path, std::string* reason);

// Reads the whole text file at path into *text: a regular file only (never
// opened otherwise), at most kTextMaxBytes, no line longer than
// kTextMaxLine, no zero byte; a UTF-8 byte-order mark at its start is
// dropped. False with the reason (naming the limit) in *reason.
bool FilesReadText(const std::string& path, std::string* text, std::string* reason);

// FilesReadText over bytes already in memory: the same limits and checks,
// the same text. False with the reason in *reason.
bool FilesTextFromMemory(std::string_view bytes, std::string* text, std::string* reason);

// A text file read line by line, for files without a size limit (the
// output of a sweep). Plain storage owned by the caller.
struct FilesLineReader {
    FILE* file;
    std::string line;  // the current line, without its line end
    uint64_t number;   // 1-based number of the current line
    uint64_t bytes;    // length of the file up to the end of the last complete line
    bool complete;     // the current line ended in a newline (else the file ends inside it)
};

// Opens path (a regular file only) for FilesLinesNext. False with the
// reason in *reason.
bool FilesLinesOpen(FilesLineReader* reader, const std::string& path, std::string* reason);

// Opens bytes in memory for FilesLinesNext, which reads them as it reads a
// file. The bytes are not copied and must stay alive and unchanged until
// FilesLinesClose. False with the reason in *reason.
bool FilesLinesOpenMemory(FilesLineReader* reader, std::string_view bytes, std::string* reason);

// Reads the next line (a UTF-8 byte-order mark at the start of the file is
// dropped). Returns 1 for a line, 0 at the end of the file, -1 with the
// reason in *reason for a read error or a line longer than kTextMaxLine.
int FilesLinesNext(FilesLineReader* reader, std::string* reason);

// Closes the file; a reader that never opened is accepted after
// zero-initialisation.
void FilesLinesClose(FilesLineReader* reader);

// ---- outputs ----

// One file a command is about to write.
struct FilesOutput {
    std::string option;   // how the command line names it, for messages: "--json"
    std::string path;     // as given
    bool standardOutput;  // "-" means standard output (else it is refused)
};

// What a command reads, which its outputs must leave alone.
struct FilesReads {
    std::vector<std::string> files;     // every file read, or found and passed over by a search
    std::vector<std::string> folders;   // folders searched (recursively) for recordings
    std::vector<std::string> patterns;  // FOLDER/PATTERN arguments searched for recordings
};

// Checks outputs before any work. Refused, each with a message naming the
// option: an empty name; "-" where standard output is not allowed, or twice;
// a name under which something other than a regular file exists (a folder,
// FIFO, device, socket, a link to one or to nothing); a name whose folder is
// missing or not writable; a file of reads.files (by identity when both
// exist, else by their resolved paths); a recording's name (".bin", ".csv")
// where a search of reads would find it; two outputs naming one file.
bool FilesCheckOutputs(const std::vector<FilesOutput>& outputs, const FilesReads& reads, std::string* error);

// True when an output may be written at path: nothing is there, or a
// regular file or a link to one. Otherwise false with what is there in
// *reason ("is a folder", "is a character device, not a regular file",
// "is a link to a missing file", ...).
bool FilesOutputNameFree(const std::string& path, std::string* reason);

// Checks a folder a command will write files into (--traces, an
// importer's output folder) before any work: an empty name, something
// other than a folder (or a link to one) under the name, and a folder at or
// below one that the command searches (reads.folders) are refused with a
// message naming option. The files written into it are checked one by one
// (FilesCheckOutputs, FilesOutputNameFree) as they are known.
bool FilesCheckOutputFolder(const std::string& option, const std::string& folder, const FilesReads& reads,
                            std::string* error);

// True when a search of reads would read a file at path (existing or not):
// it has a recording's name and lies below one of reads.folders or matches
// one of reads.patterns. *where receives the folder or pattern.
bool FilesSearchWouldRead(const std::string& path, const FilesReads& reads, std::string* where);

// The absolute path with links, "." and ".." resolved as far as it exists
// (the rest lexically), without a trailing separator: equal for two paths
// that lead to the same place.
std::string FilesResolved(const std::string& path);

// True when folder (existing or not) is one of folders or lies below one,
// compared by resolved paths. *which receives that one.
bool FilesFolderWithin(const std::string& folder, const std::vector<std::string>& folders, std::string* which);

// An output being written: to a temporary file beside its target until
// FilesWriterCommit renames it, or to standard output for "-". Plain
// storage owned by the caller.
struct FilesWriter {
    std::string path;    // as given, for messages
    std::string target;  // the file replaced in the end (a link's target), empty for standard output
    std::string temp;    // the temporary file, empty for standard output
    FILE* file;          // null once committed or abandoned
    int error;           // errno of the first failed write, 0 while none failed
};

// Starts writing path ("-" for standard output): creates the temporary
// file in the target's folder. False with a message naming path.
bool FilesWriterOpen(FilesWriter* writer, const std::string& path, std::string* error);

// Appends text; a failure is noted and reported by FilesWriterCommit.
void FilesWriterWrite(FilesWriter* writer, std::string_view text);

// A sink that appends to writer, which must outlive its use.
TextSink FilesWriterSink(FilesWriter* writer);

// Finishes the output: the temporary file is closed and renamed over the
// target (with the target's permissions when it existed); standard output
// is flushed. False with a message when any write, the close or the rename
// failed; the temporary file is then removed and the target unchanged.
bool FilesWriterCommit(FilesWriter* writer, std::string* error);

// Drops an output that is not wanted after all: the temporary file is
// closed and removed. Accepts a writer already committed or abandoned.
void FilesWriterAbandon(FilesWriter* writer);

// Writes text to path as a FilesWriter does. False with a message.
bool FilesWriteWhole(const std::string& path, std::string_view text, std::string* error);

#endif
