// The recordings an evaluation runs on: found from the paths of the command
// line (a recording, a folder searched recursively, or a pattern with * and
// ? in its last component), each once, with a ".bin" and ".csv" twin taken
// as one recording.
#ifndef EVALUATION_INPUTS_H
#define EVALUATION_INPUTS_H

#include <string>
#include <vector>

#include "recording_reader.h"

// One recording to evaluate.
struct InputRecording {
    std::string path;      // as found: the argument, or the folder joined with the relative path
    std::string relative;  // path below the argument's folder ("walk.bin" for a file argument)
    std::string folder;    // first level below the argument ("." for files directly in it)
    RecordingFormat format;
    bool micom;    // CSV read in the micom layout: its own folder holds a micom.txt
    bool hadTwin;  // a ".csv" twin beside this ".bin" was passed over
};

// What the search found.
struct InputSet {
    std::vector<InputRecording> recordings;  // in argument order, each folder in byte order of the paths
    int twinsPassedOver;                     // ".csv" twins not evaluated
};

// Whether the folder of the file at path holds the layout marker
// (kMicomMarker): its CSV recordings are then read in the micom layout.
bool InputsMicomMarkerBeside(const std::string& path);

// Finds the recordings of every argument. False with a message for an
// argument that names nothing, matches nothing or is no recording (a file
// without a ".bin" or ".csv" suffix). A recording reached twice (by two
// arguments) is kept once. When more than one argument is given, the
// relative paths start with the argument's own name, so that recordings
// from different arguments never share one.
bool InputsFind(const std::vector<std::string>& arguments, InputSet* inputs, std::string* error);

// The recordings of a list of files (a manifest's), with their paths
// relative to base, twins passed over as in InputsFind. False with a message
// for a file that is no recording.
bool InputsFromList(const std::vector<std::string>& files, const std::string& base, InputSet* inputs,
                    std::string* error);

#endif
