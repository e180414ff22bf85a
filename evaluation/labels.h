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
    std::string dataset{};    // the manifest's dataset column; empty when not given
    std::string take{};       // which file of a repeated trial (a whole number); empty when not given
    // The fall's own timing: 0-based samples of the recording, inclusive;
    // -1 when unknown. fallStart and fallEnd are both given or both -1, and
    // so are alertStart and alertEnd.
    int64_t fallStart = -1;
    int64_t fallEnd = -1;
    int64_t alertStart = -1;
    int64_t alertEnd = -1;
    std::string manifestPath{};  // the manifest that gave these labels; empty for a file name's
    // Every column of the manifest's row but path, by column name, as read:
    // what recordings can be grouped by.
    std::vector<std::pair<std::string, std::string>> columns{};
};

// True when labels carry the fall's own timing (fall_start and fall_end).
bool LabelsTimed(const RecordingLabels& labels);

// The value of a manifest column of a recording: the row's field when its
// manifest has the column; else "subject", "activity" and "label" as the
// labels give them (from the file name too), and "" for any other column.
std::string LabelsColumn(const RecordingLabels& labels, const std::string& column);

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
    std::vector<std::string> merged;  // the manifests merged into this one after the first (ManifestMerge)
};

// The key under which a recording is looked up: its absolute path with
// "." and ".." resolved lexically (links are not followed).
std::string ManifestKey(const std::string& path);

// Reads a manifest: a CSV file with a header line naming the columns path
// and label, optionally activity, subject, impact_sample, description,
// dataset, take and the fall's timing fall_start, fall_end, alert_start,
// alert_end (sample numbers, inclusive, each pair given together, start
// not after end), in any order; the further columns of an import's
// manifest (trial, source, samples) are accepted and not used, any other
// column is refused. Paths are absolute or relative to the manifest's folder; labels
// are "fall", "adl" or empty (unlabelled); empty lines and lines starting
// with '#' are skipped; a field may be quoted with double quotes, and a
// quoted field is taken byte for byte (commas, quotes doubled, line ends,
// carriage returns, spaces, any bytes but zero: what CsvField writes); an
// unquoted field loses its surrounding spaces, tabs and carriage returns; a
// byte-order mark before the header is dropped. A row's line is the line it
// starts on. The manifest is a text file
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

// "manifest PATH, line N" of labels from a manifest (the manifest that
// gave them, when it is not this one).
std::string ManifestWhere(const Manifest& manifest, const RecordingLabels& labels);

// True when the text's first line (a byte-order mark and leading empty or
// '#' lines aside) is a manifest's header: CSV fields naming path, label
// and only columns ManifestRead knows. An import's manifest.csv is one.
bool ManifestHeaderLine(const std::string& text);

// True when the file at path starts with a manifest's header line (only
// its first 8 KiB are read). False for anything that cannot be read.
bool ManifestFileIs(const std::string& path);

// Adds the entries of other to *into (several --labels). A recording that
// both list is refused with a message naming both manifests and lines;
// *into is then unchanged. into->path keeps the first manifest's name.
bool ManifestMerge(const Manifest& other, Manifest* into, std::string* error);

// True when some entry of the manifest carries a dataset.
bool ManifestHasDataset(const Manifest& manifest);

#endif
