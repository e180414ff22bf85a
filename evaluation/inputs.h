// The recordings an evaluation runs on: found from the paths of the command
// line (a recording, a folder searched recursively, or a pattern with * and
// ? in its last component), each file once however it is named, with a
// ".bin" and ".csv" twin taken as one recording, and everything the search
// passed over listed with its reason.
#ifndef EVALUATION_INPUTS_H
#define EVALUATION_INPUTS_H

#include <string>
#include <vector>

#include "recording_reader.h"

// One recording to evaluate.
struct InputRecording {
    std::string path;      // as found: the argument, or the folder joined with the relative path
    std::string relative;  // path below the argument's folder ("walk.bin" for a file argument); never leaves it
    std::string folder;    // first level below the argument ("." for files directly in it)
    RecordingFormat format;
    bool micom;    // CSV read in the micom layout: its own folder holds a micom.txt
    bool hadTwin;  // a ".csv" twin beside this ".bin" was passed over
};

// Something a folder search met and did not take as a recording.
struct InputSkipped {
    std::string path;
    std::string reason;  // "not a regular file (a FIFO)", "folder cannot be read: ...", ...
    bool failed;         // a recording or a folder that could not be read (rather than a link to a folder)
};

// What the search found.
struct InputSet {
    std::vector<InputRecording> recordings;  // in argument order, each folder in byte order of the paths
    int twinsPassedOver;                     // ".csv" twins not evaluated, each file once
    std::vector<std::string> passedOver;     // their paths
    std::vector<InputSkipped> skipped;       // met by a search and not evaluated
    std::vector<std::string> folders;        // the folder arguments, searched recursively
    std::vector<std::string> patterns;       // the pattern arguments
};

// Whether the folder of the file at path holds the layout marker
// (kMicomMarker): its CSV recordings are then read in the micom layout.
bool InputsMicomMarkerBeside(const std::string& path);

// Finds the recordings of every argument. False with a message for an
// argument that names nothing, matches nothing, is no regular file or
// folder (a FIFO, a device: refused with its kind, never opened) or is no
// recording (a file without a ".bin" or ".csv" suffix). A file reached
// twice (by two arguments, links or other spellings) is kept once, and a
// ".csv" is passed over when its ".bin" twin in the same folder is found by
// any argument. When more than one argument is given, the relative paths
// start with the argument's own name, so that recordings from different
// arguments never share one.
bool InputsFind(const std::vector<std::string>& arguments, InputSet* inputs, std::string* error);

// The recordings of a list of files (a manifest's, absolute or relative),
// with their paths relative to base (a file outside base gets its absolute
// path without the root), twins passed over as in InputsFind. False with a
// message for a file that is no recording.
bool InputsFromList(const std::vector<std::string>& files, const std::string& base, InputSet* inputs,
                    std::string* error);

// True when at least one skipped entry was a recording or a folder that
// could not be read.
bool InputsSkippedFailed(const InputSet& inputs);

#endif
