// What a recording is: a fall or a daily activity (ADL), which activity,
// whose, and where its impact is. From a manifest when one is given, else
// from the recording's file name.
#ifndef EVALUATION_LABELS_H
#define EVALUATION_LABELS_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

enum class Label {
    None,  // unlabelled: evaluated and listed, left out of the metrics
    Fall,
    Adl,
};

// "fall", "adl" or "" for none.
const char* LabelName(Label label);

// The labels of one recording.
struct RecordingLabels {
    Label label;
    std::string activity;     // empty when unknown
    std::string subject;      // empty when unknown
    int64_t impactSample;     // 0-based sample number, -1 when not given
    std::string description;  // what the activity is, in words; empty when unknown
    int manifestLine = 0;     // the manifest's line that gave these labels, 0 for a file name's
};

// Labels from a file name (the folder part and the suffix are ignored):
//   fall_forward_slip_sa01_r1.bin  fall, activity forward_slip, subject sa01
//   adl_walking_s03_r1.csv         adl, activity walking, subject s03
//   fall_forward.bin               fall, activity forward, no subject
//   F05_SA01_R01.bin               fall, activity F05, subject SA01
//   D17_SE06_R01.csv               adl, activity D17, subject SE06
// Any other name is unlabelled.
RecordingLabels LabelsFromName(const std::string& path);

// A manifest: labels by the absolute, normalised path of each recording.
struct Manifest {
    std::string path;                                             // the manifest file itself
    std::map<std::string, RecordingLabels> entries;               // key: ManifestKey of the recording's path
    std::vector<std::string> files;                               // the recordings' paths, in the manifest's order
    std::map<std::pair<uint64_t, uint64_t>, std::string> byFile;  // device and inode of each recording: its key
};

// The key under which a recording is looked up: its absolute path with
// "." and ".." resolved lexically (links are not followed).
std::string ManifestKey(const std::string& path);

// Reads a manifest: a CSV file with a header line naming the columns path
// and label, optionally activity, subject, impact_sample and description,
// in any order; the further columns of an import's manifest (trial,
// dataset, source, samples) are accepted and not used, any other column is
// refused. Paths are absolute or relative to the manifest's folder; labels
// are "fall", "adl" or empty (unlabelled); empty lines and lines starting
// with '#' are skipped; a field may be quoted with double quotes; a
// byte-order mark before the header is dropped. The manifest is a text file
// within the limits of FilesReadText. Every listed recording must be a
// regular file (or a link to one), listed once however it is named. False
// with a message naming the line and the problem; *manifest is then
// unchanged.
bool ManifestRead(const std::string& path, Manifest* manifest, std::string* error);

// ManifestRead over a text already read (by FilesReadText or
// FilesTextFromMemory); path is the manifest's own name, for messages and
// as the folder of relative paths. The recordings it lists are checked on
// disk as ManifestRead checks them.
bool ManifestParse(const std::string& text, const std::string& path, Manifest* manifest, std::string* error);

// The labels the manifest gives the recording at path, found by its path
// or, under another name, by the file itself; null when it lists none.
const RecordingLabels* ManifestFind(const Manifest& manifest, const std::string& path);

// "manifest PATH, line N" of labels from a manifest.
std::string ManifestWhere(const Manifest& manifest, const RecordingLabels& labels);

#endif
