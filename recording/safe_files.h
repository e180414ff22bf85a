// Careful file handling shared by the programs that read recordings and
// write results beside or below them: inputs are opened only when they are
// regular files (so nothing blocks on a FIFO or streams from a device),
// outputs are never the same file as something that must be kept, and every
// write to an output is checked up to its close.
#ifndef RECORDING_SAFE_FILES_H
#define RECORDING_SAFE_FILES_H

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

// The identity of a file on this system: its device and inode. Two paths
// name the same file exactly when their identities are equal, whatever
// links, ".." or other spellings lead to it.
struct SafeFileId {
    dev_t device;
    ino_t inode;
};

// The identity of the file path names (links followed); false when it
// cannot be examined (missing, no permission).
bool SafeFileIdOf(const std::string& path, SafeFileId* id);

// The identity of an open stream's file; false when fstat fails.
bool SafeFileIdOfStream(FILE* file, SafeFileId* id);

// True when both identities name the same file.
bool SafeSameFile(const SafeFileId& a, const SafeFileId& b);

// Opens path for reading (binary mode) when it is a regular file, a link to
// one included. A FIFO, device, socket or folder is refused without being
// opened; the open itself is non-blocking and checked again, so a file
// replaced meanwhile is refused before anything is read. Returns the stream,
// which the caller closes with fclose; null on failure, with a plain-words
// reason in *reason ("no such file", "not a regular file (a FIFO)", the
// system's message otherwise). Allocates only the stream.
FILE* SafeOpenInput(const std::string& path, std::string* reason);

// Creates path for writing, or truncates it when it exists, unless it is
// the same file as one of keep: the file is opened without truncation,
// compared by identity and only then emptied, so a refused output is never
// changed (an output that did not exist cannot be one of them). The open
// never blocks on a FIFO without a reader. Returns the stream (close it with
// SafeCloseOutput); null on failure with the reason in *reason and, when
// the output was refused for being one of keep, *refused set to true.
FILE* SafeCreateOutput(const std::string& path, const std::vector<SafeFileId>& keep, std::string* reason,
                       bool* refused);

// SafeCreateOutput for the output of one open input: path is refused when
// it is the input's file. Same returns as SafeCreateOutput.
FILE* SafeCreateOutputFor(const std::string& path, FILE* input, std::string* reason, bool* refused);

// Records the first write error of an output stream: call it after writes;
// once the stream's error flag is set it keeps the errno of that moment in
// *firstError (0 = no error seen yet). Cheap enough to call once per line.
void SafeNoteWriteError(FILE* file, int* firstError);

// Flushes and closes an output stream, null accepted. True when every write
// reached the file; false with the reason in *reason when a write, the
// flush or the close failed (firstError is the errno noted during the
// writes, 0 when none was noted).
bool SafeCloseOutput(FILE* file, int firstError, std::string* reason);

// What a file of this mode is when it is no regular file, in the words of
// the messages: "not a regular file (a FIFO)", "... (a folder)", ...
std::string SafeNotRegularText(mode_t mode);

// The kind alone: "a FIFO", "a character device", "a folder", ...
std::string SafeKindText(mode_t mode);

// The system's message for an errno value.
std::string SafeErrorText(int error);

#endif
