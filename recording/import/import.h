// Bringing public datasets in: the raw files of SisFall, MobiFall and
// UMAFall as their downloads unpack, or any CSV of sensor columns, become
// recordings in the project's formats (50 samples per second, raw counts,
// the bench's axes), one per trial, with a manifest (manifest.csv) and a
// report of the import (import.json).
//
// Used by the command line (tumblewatch import) and meant for any other
// front end: ImportRun does the whole import; the other entry points check
// and convert what a user typed.
#ifndef RECORDING_IMPORT_IMPORT_H
#define RECORDING_IMPORT_IMPORT_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "import_convert.h"

enum class ImportDataset {
    SisFall,
    MobiFall,
    UmaFall,
    Csv,
};

// The dataset of a command-line name ("sisfall", "mobifall", "umafall",
// "csv"); false for any other.
bool ImportDatasetOf(const std::string& name, ImportDataset* dataset);

// The command-line name of a dataset.
const char* ImportDatasetName(ImportDataset dataset);

enum class ImportFormat {
    Bin,   // NAME.bin
    Csv,   // NAME.csv (default layout)
    Both,  // both; the manifest lists the .bin
};

// How the values of a CSV column turn into g or deg/s.
enum class ImportUnit {
    G,            // accelerometer in g
    MetresPerS2,  // accelerometer in m/s^2: divided by 9.80665
    Dps,          // gyroscope in deg/s
    RadPerS,      // gyroscope in rad/s: times 180/pi
    Counts,       // raw counts: divided by countsPerUnit
};

// Where ImportCsvSettings::columns keeps each column.
enum ImportCsvColumn { kImportAx, kImportAy, kImportAz, kImportGx, kImportGy, kImportGz, kImportT, kImportColumnCount };

// The layout of a user's CSV files (dataset csv).
struct ImportCsvSettings {
    char delimiter;                   // between fields
    int skipLines;                    // header lines skipped at the top of every file
    int columns[kImportColumnCount];  // 0-based field of ax, ay, az, gx, gy, gz and t; -1 for no t
    ImportUnit accelUnit;
    double accelCountsPerG;  // for ImportUnit::Counts
    ImportUnit gyroUnit;
    double gyroCountsPerDps;             // for ImportUnit::Counts
    double rateHz;                       // uniform samples at this rate, or 0 when timed
    double secondsPerTimeUnit;           // timed: the t column times this is seconds (0 when uniform)
    std::string filesGlob;               // which files of a folder are recordings (their names), e.g. "*.csv"
    std::vector<std::string> fallGlobs;  // relative paths of falls
    std::vector<std::string> adlGlobs;   // relative paths of ADLs
    std::string subjectRegex;            // first group of a match in the relative path: the subject; empty for none
    std::string trialRegex;              // ... the trial
    std::string activityRegex;           // ... the activity (default: the file name without its suffix)
};

// The defaults: comma-separated, no header lines, no columns chosen yet,
// g and deg/s, no rate, files "*.csv", no labels.
ImportCsvSettings ImportCsvDefaults();

// Reads --columns, e.g. "t=1,ax=3,ay=4,az=5,gx=6,gy=7,gz=8" (1-based
// field numbers). False with the reason.
bool ImportParseColumns(const std::string& text, ImportCsvSettings* csv, std::string* error);

// Reads --accel-unit (g, m/s2, counts:K) and --gyro-unit (dps, rad/s,
// counts:K). False with the reason.
bool ImportParseAccelUnit(const std::string& text, ImportCsvSettings* csv, std::string* error);
bool ImportParseGyroUnit(const std::string& text, ImportCsvSettings* csv, std::string* error);

// Reads --time-unit (s, ms, us, ns). False with the reason.
bool ImportParseTimeUnit(const std::string& text, ImportCsvSettings* csv, std::string* error);

// What an import does.
struct ImportSettings {
    ImportDataset dataset;
    std::string rawDir;  // the folder the download unpacked into, or any folder above its files (csv: also a file)
    std::string outDir;  // absent or empty; never rawDir or inside it
    ImportFormat format;
    int threads;            // worker threads, at least 1
    bool axesGiven;         // axes replaces the dataset's own axis map
    ImportAxes axes;        // when axesGiven
    bool progress;          // a progress line on standard error when it is a terminal
    ImportCsvSettings csv;  // dataset csv only
    // SisFall only: the folder of the per-sample annotation (SAnn/Fnn_SAnn_Rnn.txt beside the raw
    // files' names), or empty for none. When it lies below rawDir, the search of raw files leaves it out.
    std::string annotationDir;
    // Set (from a signal handler, say) to stop the import: no new trial is started, the trials under
    // way are finished, and no manifest is written. Null for none; must outlive ImportRun.
    const std::atomic<bool>* stop = nullptr;
    // Keep every recording's record in ImportResult::recordings; off, only
    // the totals are kept and memory does not grow with the number of files.
    bool keepRecordings = true;
};

// The first and last 50 Hz sample (0-based, inclusive) of the annotated
// fall and alert phases of a recording; -1 when unknown (no annotation, or
// the phase does not occur).
struct ImportPhases {
    int64_t fallStart = -1;
    int64_t fallEnd = -1;
    int64_t alertStart = -1;
    int64_t alertEnd = -1;
};

// One recording made.
struct ImportRecording {
    std::string path;                  // relative to the output folder (the .bin with format both)
    std::string label;                 // "fall", "adl", or "" (csv files that no glob labels)
    std::string activity;              // the dataset's code: "F01", "FOL", "Fall_forwardFall"
    std::string subject;               // as in the name: "sa01", "s07"
    std::string trial;                 // "1"
    std::string description;           // the activity's meaning, "" when unknown
    std::vector<std::string> sources;  // raw files relative to the raw folder
    int64_t samples;
    std::string axes;        // the map applied, e.g. "-x,-y,z"
    int64_t clipped;         // values clipped to -32768..32767
    std::string conversion;  // the resampling, e.g. "accel block mean of 4, gyro block mean of 4"
    int take = 1;            // which file of its trial (1, 2, ... by the files' time stamps); 1 for a trial of one file
    ImportPhases phases{};   // the annotated fall and alert, when an annotation was read
};

// A raw file (or trial) that was not imported.
struct ImportSkip {
    std::string source;  // relative to the raw folder
    int64_t line;        // the line at fault, 0 when the reason concerns no line
    std::string reason;
};

// What an import did.
struct ImportResult {
    std::vector<ImportRecording> recordings;  // in the order of their raw files
    std::vector<ImportSkip> skipped;          // in the order of their raw files
    std::vector<ImportSkip> notes;            // files passed over on purpose: duplicates, stray copies
    std::vector<ImportSkip> unannotated;      // recordings made without the timing: the annotation's fault
    uint64_t rawBytes = 0;                    // raw text read
    double seconds = 0;                       // wall time of the conversion
    // Totals of the recordings made (kept whether or not recordings is).
    int64_t made = 0;
    int64_t falls = 0;
    int64_t adls = 0;
    int64_t samples = 0;
    int64_t clipped = 0;
    int64_t clippedRecordings = 0;
    int threadsUsed = 0;           // worker threads that could be started (at most settings.threads)
    bool reportWritten = false;    // import.json is in the output folder
    bool manifestWritten = false;  // manifest.csv is in the output folder
};

// Statuses of ImportRun.
constexpr int kImportDone = 0;
constexpr int kImportRefused = 2;  // nothing written (or, when the manifest could not be written, it is missing)
constexpr int kImportSomeSkipped = 3;
constexpr int kImportStopped = 4;  // settings.stop was set: whole recordings only, no manifest

// Imports: finds the dataset's files below rawDir (takes of one trial
// numbered, duplicates and stray copies noted and passed over), converts every trial on
// settings.threads threads (each file read in bounded blocks, each
// recording written to a temporary name and renamed), then writes
// manifest.csv and import.json the same way. Returns kImportDone,
// kImportSomeSkipped (result->skipped says which and why, the others are
// imported; or result->unannotated names recordings made without their
// annotation), kImportStopped (settings.stop was set), or kImportRefused with the reason in *error: a bad setting, a
// missing raw folder or one without the dataset's files, an output folder
// that is not empty or lies inside the raw folder (nothing is written), or
// a manifest that could not be written.
int ImportRun(const ImportSettings& settings, ImportResult* result, std::string* error);

// What annotating an earlier import did.
struct ImportAnnotated {
    int64_t annotated = 0;                // rows given their phases
    std::vector<ImportSkip> unannotated;  // rows left without them: source the row's path, and why
};

// Annotates an earlier SisFall import: reads its manifest (manifest.csv),
// finds each row's annotation in annotationDir by the row's source
// (SA01/F01_SA01_R01.txt), checks its length against the row's samples
// (its blocks of four must number them), and writes the manifest with the
// columns fall_start, fall_end, alert_start and alert_end filled (added
// when missing; every other column as it was, but a relative path is
// rewritten to reach the same recording from out's folder) to out, whole.
// Returns
// kImportDone, kImportSomeSkipped (result->unannotated: rows left without
// the timing, and why), or kImportRefused with the reason in *error.
int ImportAnnotateManifest(const std::string& manifest, const std::string& annotationDir, const std::string& out,
                           ImportAnnotated* result, std::string* error);

#endif
